// The Markdown tree of every fixture that opens, rendered back with the
// parser's own CommonMark renderer: the tree must hold the same headings,
// tables and code blocks as the Markdown text, and every one of its words.
#include <gtest/gtest.h>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "LumaroPages/PagesFile.hpp"
#include "LumaroPages/PagesMarkdownAST.hpp"
#include "Support/TestSupport.hpp"

// The table extension's node type: exported by the library, not declared by
// its headers; valid once the core extensions are registered.
extern "C" cmark_node_type CMARK_NODE_TABLE;

namespace {

namespace fs = std::filesystem;

struct Census {
    int headings = 0;
    int tables = 0;
    int codeBlocks = 0;
};

Census census(cmark_node* root) {
    Census counts;
    cmark_iter* iterator = cmark_iter_new(root);
    const cmark_node_type table = CMARK_NODE_TABLE;
    for (auto event = cmark_iter_next(iterator); event != CMARK_EVENT_DONE; event = cmark_iter_next(iterator)) {
        if (event != CMARK_EVENT_ENTER) continue;
        cmark_node* node = cmark_iter_get_node(iterator);
        const auto type = cmark_node_get_type(node);
        if (type == CMARK_NODE_HEADING) ++counts.headings;
        if (type == CMARK_NODE_CODE_BLOCK) ++counts.codeBlocks;
        if (type == table) ++counts.tables;
    }
    cmark_iter_free(iterator);
    return counts;
}

// Parses Markdown text with the extensions the system uses.
lumaro::MarkdownNodeHandle parse(const std::string& text) {
    cmark_gfm_core_extensions_ensure_registered();
    cmark_parser* parser = cmark_parser_new(CMARK_OPT_DEFAULT);
    for (const char* name : {"table", "strikethrough", "tasklist"})
        cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension(name));
    cmark_parser_feed(parser, text.data(), text.size());
    lumaro::MarkdownNodeHandle root(cmark_parser_finish(parser));
    cmark_parser_free(parser);
    return root;
}

std::string renderCommonMark(cmark_node* root) {
    char* rendered = cmark_render_commonmark(root, CMARK_OPT_DEFAULT, 0);
    std::string text(rendered);
    free(rendered);
    return text;
}

std::string renderPlainText(cmark_node* root) {
    char* rendered = cmark_render_plaintext(root, CMARK_OPT_DEFAULT, 0);
    std::string text(rendered);
    free(rendered);
    return text;
}

// Runs of ASCII letters and digits, lower-cased, with their counts: the
// words both forms must share, whatever each escapes or marks up.
std::map<std::string, int> words(const std::string& text) {
    std::map<std::string, int> counts;
    std::string word;
    for (const char c : text + " ") {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (!word.empty()) {
            ++counts[word];
            word.clear();
        }
    }
    return counts;
}

TEST(FixtureMarkdownTree, TreeAgreesWithTheMarkdownText) {
    cmark_gfm_core_extensions_ensure_registered();
    int documents = 0;
    for (const fs::path& path : lumaro::test::fixtureDocuments()) {
        std::optional<lumaro::PagesFile> file;
        try {
            file.emplace(path);
        } catch (const lumaro::Error&) {
            continue;  // documents the reader refuses have no tree
        }
        SCOPED_TRACE(path.filename().string());
        ++documents;
        const auto tree = file->document().markdownDocument();
        ASSERT_NE(tree, nullptr);
        ASSERT_EQ(cmark_node_get_type(tree.get()), CMARK_NODE_DOCUMENT);

        // The tree rendered and parsed again keeps its block structure.
        const std::string rendered = renderCommonMark(tree.get());
        const Census ofTree = census(tree.get());
        const Census ofRendered = census(parse(rendered).get());
        EXPECT_EQ(ofRendered.headings, ofTree.headings);
        EXPECT_EQ(ofRendered.tables, ofTree.tables);
        EXPECT_EQ(ofRendered.codeBlocks, ofTree.codeBlocks);

        // And it holds what the Markdown text holds.
        const Census ofText = census(parse(file->markdown()).get());
        EXPECT_EQ(ofTree.headings, ofText.headings);
        EXPECT_EQ(ofTree.tables, ofText.tables);
        EXPECT_EQ(ofTree.codeBlocks, ofText.codeBlocks);
        // No word of the text is missing from the tree. (The tree may hold
        // more: a paragraph whose inline Markdown parses into blocks without
        // inline content, such as a line that starts with "- ", is kept as
        // its unparsed text, link addresses included.)
        const auto inTree = words(renderPlainText(tree.get()));
        const auto inText = words(renderPlainText(parse(file->markdown()).get()));
        std::string differences;
        for (const auto& [word, count] : inText)
            if (const auto found = inTree.find(word); found == inTree.end() || found->second < count)
                differences += " " + word + ":" + std::to_string(count) + "/" +
                               std::to_string(found == inTree.end() ? 0 : found->second);
        EXPECT_EQ(differences, "") << "word: in text/in tree";
    }
    EXPECT_GE(documents, 18);
}

}  // namespace
