#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <vector>

#include "LumaroIWA/Protobuf.hpp"
#include "LumaroPages/Generated/IWA/TSDArchives.hpp"
#include "LumaroPages/Generated/IWA/TSPMessages.hpp"
#include "LumaroPages/Generated/IWA/TSSArchives.hpp"
#include "LumaroPages/Generated/IWA/TSTArchives.hpp"
#include "LumaroPages/Generated/IWA/TSTStylePropertyArchiving.hpp"
#include "LumaroPages/Generated/IWA/TSWPArchives.hpp"

using namespace lumaro;

namespace {

std::vector<std::int64_t> fieldNumbers(const Bytes& encoded) {
    std::vector<std::int64_t> numbers;
    const ProtobufMessage message(encoded);
    for (const ProtobufField& field : message.fields()) numbers.push_back(field.number);
    return numbers;
}

std::shared_ptr<TSP_Reference> reference(std::uint64_t identifier) {
    auto result = TSP_Reference::make();
    result->identifier = identifier;
    return result;
}

std::shared_ptr<TSP_Color> rgbaColor(float r, float g, float b, float a) {
    auto color = TSP_Color::make();
    color->model = 1;
    color->r = r;
    color->g = g;
    color->b = b;
    color->a = a;
    return color;
}

Bytes encodedRGBA(float r, float g, float b, float a) {
    ProtobufWriter writer;
    writer.varintField(1, 1);
    writer.floatField(3, r);
    writer.floatField(4, g);
    writer.floatField(5, b);
    writer.floatField(6, a);
    return writer.take();
}

TEST(SchemaEncoding, NewMessagesOfEveryClassEncodeToNothing) {
    const std::vector<std::pair<std::shared_ptr<IWAMessage>, std::string_view>> messages = {
        {TSP_Reference::make(), "TSP_Reference"},
        {TSP_DataReference::make(), "TSP_DataReference"},
        {TSP_Point::make(), "TSP_Point"},
        {TSP_Size::make(), "TSP_Size"},
        {TSP_Color::make(), "TSP_Color"},
        {TSP_ReferenceDictionary::make(), "TSP_ReferenceDictionary"},
        {TSP_ReferenceDictionary_Entry::make(), "TSP_ReferenceDictionary_Entry"},
        {TSS_StyleArchive::make(), "TSS_StyleArchive"},
        {TST_CellStyleArchive::make(), "TST_CellStyleArchive"},
        {TST_CellStylePropertiesArchive::make(), "TST_CellStylePropertiesArchive"},
        {TST_Deprecated_TableStrokeArchive::make(), "TST_Deprecated_TableStrokeArchive"},
        {TSWP_PaddingArchive::make(), "TSWP_PaddingArchive"},
        {TST_StrokeSidecarArchive::make(), "TST_StrokeSidecarArchive"},
        {TST_StrokeLayerArchive::make(), "TST_StrokeLayerArchive"},
        {TST_StrokeLayerArchive_StrokeRunArchive::make(), "TST_StrokeLayerArchive_StrokeRunArchive"},
        {TSD_StrokeArchive::make(), "TSD_StrokeArchive"},
        {TSD_StrokePatternArchive::make(), "TSD_StrokePatternArchive"},
        {TSD_SmartStrokeArchive::make(), "TSD_SmartStrokeArchive"},
        {TSD_FrameArchive::make(), "TSD_FrameArchive"},
        {TSD_PatternedStrokeArchive::make(), "TSD_PatternedStrokeArchive"},
        {TSD_FillArchive::make(), "TSD_FillArchive"},
        {TSD_GradientArchive::make(), "TSD_GradientArchive"},
        {TSD_GradientArchive_GradientStop::make(), "TSD_GradientArchive_GradientStop"},
        {TSD_AngleGradientArchive::make(), "TSD_AngleGradientArchive"},
        {TSD_TransformGradientArchive::make(), "TSD_TransformGradientArchive"},
        {TSD_ImageFillArchive::make(), "TSD_ImageFillArchive"},
    };
    for (const auto& [message, name] : messages) {
        EXPECT_EQ(message->messageName(), name);
        EXPECT_TRUE(message->encoded().empty()) << name;
    }
}

TEST(SchemaEncoding, ScalarKindsOnTheWire) {
    auto ref = reference(5);
    ref->deprecatedType = -1;  // sign-extended: ten bytes
    EXPECT_EQ(ref->encoded(), (Bytes{0x08, 0x05, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}));

    auto run = TST_StrokeLayerArchive_StrokeRunArchive::make();
    run->origin = -2;
    run->length = 0xFFFFFFFFu;
    EXPECT_EQ(run->encoded(), (Bytes{0x08, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,
                                     0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));

    auto smart = TSD_SmartStrokeArchive::make();
    smart->strokeName = "Pen";
    smart->patternOffsetDistance = 1.5;
    EXPECT_EQ(smart->encoded(), (Bytes{0x12, 0x03, 'P', 'e', 'n', 0x29, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));

    auto padding = TSWP_PaddingArchive::make();
    padding->left = 1.0f;
    padding->bottom = -2.0f;
    EXPECT_EQ(padding->encoded(), (Bytes{0x0D, 0x00, 0x00, 0x80, 0x3F, 0x25, 0x00, 0x00, 0x00, 0xC0}));
}

TEST(SchemaEncoding, PresentZeroFalseAndEmptyValuesAreWritten) {
    auto style = TSS_StyleArchive::make();
    style->name = "";
    EXPECT_EQ(style->encoded(), (Bytes{0x0A, 0x00}));

    auto stroke = TST_Deprecated_TableStrokeArchive::make();
    stroke->stroke = TSD_StrokeArchive::make();  // an empty child message
    stroke->background = false;
    stroke->opacity = 0.0f;
    stroke->empty = false;
    EXPECT_EQ(stroke->encoded(), (Bytes{0x0A, 0x00, 0x10, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00}));
}

TEST(SchemaEncoding, FieldsFollowDeclarationOrderNotNumberOrder) {
    auto color = TSP_Color::make();
    color->model = 1;
    color->r = 1.0f;
    color->rgbspace = 2;
    EXPECT_EQ(color->encoded(), (Bytes{0x08, 0x01, 0x1D, 0x00, 0x00, 0x80, 0x3F, 0x60, 0x02}));
    color->a = 0.5f;
    color->w = 0.25f;
    EXPECT_EQ(fieldNumbers(color->encoded()), (std::vector<std::int64_t>{1, 3, 12, 6, 11}));

    auto image = TSD_ImageFillArchive::make();
    image->databaseOriginalimagedata = reference(5);
    image->databaseImagedata = reference(1);
    image->referencecolor = TSP_Color::make();
    image->interpretsuntaggedimagedataasgeneric = true;
    image->originalimagedata = TSP_DataReference::make();
    image->fillsize = TSP_Size::make();
    image->tint = TSP_Color::make();
    image->technique = 3;
    image->imagedata = TSP_DataReference::make();
    EXPECT_EQ(fieldNumbers(image->encoded()), (std::vector<std::int64_t>{6, 2, 3, 4, 7, 8, 9, 1, 5}));
}

TEST(SchemaEncoding, RepeatedFieldsAreOneFieldPerElementNeverPacked) {
    auto pattern = TSD_StrokePatternArchive::make();
    pattern->pattern = {1.0f, 2.0f};
    EXPECT_EQ(pattern->encoded(), (Bytes{0x25, 0x00, 0x00, 0x80, 0x3F, 0x25, 0x00, 0x00, 0x00, 0x40}));

    auto gradient = TSD_GradientArchive::make();
    gradient->type = 0;
    for (float fraction : {0.0f, 1.0f}) {
        auto stop = TSD_GradientArchive_GradientStop::make();
        stop->fraction = fraction;
        gradient->stops.push_back(stop);
    }
    gradient->stops.insert(gradient->stops.begin() + 1, nullptr);  // an absent element writes nothing
    gradient->opacity = 1.0f;
    const ProtobufMessage decoded(gradient->encoded());
    EXPECT_EQ(fieldNumbers(gradient->encoded()), (std::vector<std::int64_t>{1, 2, 2, 3}));
    const auto stops = decoded.messages(2);
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(stops[0].float32(2), 0.0f);
    EXPECT_EQ(stops[1].float32(2), 1.0f);
}

TEST(SchemaEncoding, UnknownFieldsFollowTheKnownFieldsInTheirOwnWireTypes) {
    auto ref = reference(1);
    ref->deprecatedType = 0;
    ref->deprecatedIsExternal = true;
    ref->unknownFields.push_back({7, ProtobufField::Varint{9}});
    ref->unknownFields.push_back({4, ProtobufField::LengthDelimited{{0xAA, 0xBB}}});
    EXPECT_EQ(ref->encoded(), (Bytes{0x08, 0x01, 0x10, 0x00, 0x18, 0x01, 0x38, 0x09, 0x22, 0x02, 0xAA, 0xBB}));

    // Nested messages keep theirs too, and fixed-width values are re-emitted verbatim.
    auto entry = TSP_ReferenceDictionary_Entry::make();
    entry->key = reference(2);
    entry->value = reference(3);
    entry->unknownFields.push_back({9, ProtobufField::Fixed32{{1, 2, 3, 4}}});
    entry->unknownFields.push_back({1, ProtobufField::Fixed64{{1, 2, 3, 4, 5, 6, 7, 8}}});
    auto dictionary = TSP_ReferenceDictionary::make();
    dictionary->entries = {entry};
    EXPECT_EQ(dictionary->encoded(),
              (Bytes{0x0A, 0x16, 0x0A, 0x02, 0x08, 0x02, 0x12, 0x02, 0x08, 0x03, 0x4D, 1, 2, 3, 4,
                     0x09, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(SchemaEncoding, MessagesAreSharedByReference) {
    auto color = rgbaColor(0, 0, 0, 1);
    auto fill = TSD_FillArchive::make();
    fill->color = color;
    auto stroke = TSD_StrokeArchive::make();
    stroke->color = color;
    color->r = 1.0f;  // seen through both holders
    EXPECT_EQ(ProtobufMessage(fill->encoded()).message(1)->float32(3), 1.0f);
    EXPECT_EQ(ProtobufMessage(stroke->encoded()).message(1)->float32(3), 1.0f);
}

// The shapes the table builder writes: a cell style with fill, wrap and
// vertical alignment, and a stroke layer with its sidecar.
TEST(SchemaEncoding, CellStyleAsTheTableBuilderFillsIt) {
    auto style = TSS_StyleArchive::make();
    style->parent = reference(1731720);
    style->isVariation = true;
    style->stylesheet = reference(1732613);
    auto fill = TSD_FillArchive::make();
    fill->color = rgbaColor(0.5f, 0.25f, 1.0f, 1.0f);
    auto properties = TST_CellStylePropertiesArchive::make();
    properties->cellFill = fill;
    properties->textWrap = false;
    properties->verticalAlignment = 1;
    auto cellStyle = TST_CellStyleArchive::make();
    cellStyle->super = style;
    cellStyle->overrideCount = 1;
    cellStyle->cellProperties = properties;

    ProtobufWriter parent, stylesheet, expectedStyle, color, expectedFill, expectedProperties, expected;
    parent.varintField(1, 1731720);
    stylesheet.varintField(1, 1732613);
    expectedStyle.messageField(3, parent.bytes());
    expectedStyle.varintField(4, 1);
    expectedStyle.messageField(5, stylesheet.bytes());
    expectedFill.messageField(1, encodedRGBA(0.5f, 0.25f, 1.0f, 1.0f));
    expectedProperties.messageField(1, expectedFill.bytes());
    expectedProperties.varintField(3, 0);
    expectedProperties.varintField(8, 1);
    expected.messageField(1, expectedStyle.bytes());
    expected.varintField(10, 1);
    expected.messageField(11, expectedProperties.bytes());
    EXPECT_EQ(cellStyle->encoded(), expected.bytes());
}

TEST(SchemaEncoding, StrokeLayerAndSidecarAsTheTableBuilderFillsThem) {
    auto pattern = TSD_StrokePatternArchive::make();
    pattern->type = 1;
    pattern->phase = 0.0f;
    pattern->count = 0;
    auto stroke = TSD_StrokeArchive::make();
    stroke->color = rgbaColor(0, 0, 0, 1);
    stroke->width = 2.0f;
    stroke->cap = 0;
    stroke->join = 0;
    stroke->pattern = pattern;

    ProtobufWriter expectedPattern, expectedStroke;
    expectedPattern.varintField(1, 1);
    expectedPattern.floatField(2, 0.0f);
    expectedPattern.varintField(3, 0);
    expectedStroke.messageField(1, encodedRGBA(0, 0, 0, 1));
    expectedStroke.floatField(2, 2.0f);
    expectedStroke.varintField(3, 0);
    expectedStroke.varintField(4, 0);
    expectedStroke.messageField(6, expectedPattern.bytes());
    ASSERT_EQ(stroke->encoded(), expectedStroke.bytes());

    auto layer = TST_StrokeLayerArchive::make();
    layer->rowColumnIndex = 2;
    for (std::int32_t origin : {0, 1}) {
        auto run = TST_StrokeLayerArchive_StrokeRunArchive::make();
        run->origin = origin;
        run->length = 1;
        run->stroke = stroke;
        run->order = static_cast<std::uint32_t>(origin + 1);
        layer->strokeRuns.push_back(run);
    }
    const ProtobufMessage decodedLayer(layer->encoded());
    EXPECT_EQ(fieldNumbers(layer->encoded()), (std::vector<std::int64_t>{1, 2, 2}));
    const auto runs = decodedLayer.messages(2);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].varint(1), 1u);
    EXPECT_EQ(runs[1].varint(2), 1u);
    EXPECT_EQ(runs[1].bytes(3), expectedStroke.bytes());
    EXPECT_EQ(runs[1].varint(4), 2u);

    auto sidecar = TST_StrokeSidecarArchive::make();
    sidecar->maxOrder = 3;
    sidecar->columnCount = 2;
    sidecar->rowCount = 1;
    sidecar->bottomRowStrokeLayers = {reference(5500003)};
    sidecar->topRowStrokeLayers = {reference(5500002)};
    sidecar->rightColumnStrokeLayers = {reference(5500001)};
    sidecar->leftColumnStrokeLayers = {reference(5500000), reference(5500004)};
    EXPECT_EQ(fieldNumbers(sidecar->encoded()), (std::vector<std::int64_t>{1, 2, 3, 4, 4, 5, 6, 7}));
    const auto left = ProtobufMessage(sidecar->encoded()).messages(4);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[1].varint(1), 5500004u);
}

}  // namespace
