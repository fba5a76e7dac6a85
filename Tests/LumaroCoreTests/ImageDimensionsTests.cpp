#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "LumaroCore/ImageDimensions.hpp"
#include "Support/TestSupport.hpp"

using lumaro::Bytes;
using lumaro::ImageDimensions;
namespace fs = std::filesystem;

namespace {

using Size = ImageDimensions::Size;

Bytes pngHeader() {
    return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D,
            0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80};
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Start of image, a 16-byte APP0 segment, then a baseline frame header of a
// 640 x 480 image.
Bytes jpegWithApp0(std::uint8_t frameMarker) {
    return joined({{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}, Bytes(14, 0x00),
                   {0xFF, frameMarker, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80}, {0x03}});
}

TEST(ImageDimensions, PNGHeaderGivesWidthAndHeight) {
    EXPECT_EQ(ImageDimensions::dimensions(pngHeader()), (Size{256, 128}));
    Bytes cut = pngHeader();
    cut.pop_back();
    EXPECT_EQ(ImageDimensions::dimensions(cut), std::nullopt);

    // Only "PNG" after the 0x89 is checked, and a 0x89 file is never a JPEG.
    Bytes wrongSignature = pngHeader();
    wrongSignature[1] = 0x51;
    EXPECT_EQ(ImageDimensions::dimensions(wrongSignature), std::nullopt);

    // Values above 2^31 keep their unsigned magnitude.
    Bytes huge = pngHeader();
    std::fill(huge.begin() + 16, huge.begin() + 20, 0xFF);
    EXPECT_EQ(ImageDimensions::dimensions(huge), (Size{0xFFFFFFFFLL, 128}));
}

TEST(ImageDimensions, JPEGScansMarkersToTheFirstFrameHeader) {
    EXPECT_EQ(ImageDimensions::dimensions(jpegWithApp0(0xC0)), (Size{640, 480}));
    EXPECT_EQ(ImageDimensions::dimensions(jpegWithApp0(0xC2)), (Size{640, 480}));  // progressive
    // DHT (C4) is a segment with a length, not a frame: skipped, and here the
    // scan then runs out of input.
    EXPECT_EQ(ImageDimensions::dimensions(jpegWithApp0(0xC4)), std::nullopt);
    const Bytes tableThenFrame = joined({{0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x04, 0xAA, 0xBB},
                                         {0xFF, 0xC1, 0x00, 0x11, 0x08, 0x00, 0x02, 0x00, 0x03}, {0x00}});
    EXPECT_EQ(ImageDimensions::dimensions(tableThenFrame), (Size{3, 2}));
}

TEST(ImageDimensions, JPEGFrameHeaderMustLeaveOneByteAfterIt) {
    const Bytes eleven = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x20};
    EXPECT_EQ(ImageDimensions::dimensions(eleven), std::nullopt);
    EXPECT_EQ(ImageDimensions::dimensions(joined({eleven, {0x7F}})), (Size{32, 16}));

    // A frame header later in the file that ends exactly at the end of input.
    Bytes atEnd = jpegWithApp0(0xC0);
    atEnd.pop_back();
    EXPECT_EQ(ImageDimensions::dimensions(atEnd), std::nullopt);
}

TEST(ImageDimensions, JPEGFillBytesAndStandaloneMarkers) {
    const Bytes fill = {0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x05, 0x00, 0x07, 0x00};
    EXPECT_EQ(ImageDimensions::dimensions(fill), (Size{7, 5}));
    // Restart marker and stray data bytes before the frame.
    const Bytes standalone = {0xFF, 0xD8, 0xFF, 0xD0, 0x12, 0x34, 0xFF, 0x01, 0xFF, 0xC0,
                              0x00, 0x11, 0x08, 0x00, 0x09, 0x00, 0x0A, 0x00};
    EXPECT_EQ(ImageDimensions::dimensions(standalone), (Size{10, 9}));
}

TEST(ImageDimensions, OtherInputGivesNoValue) {
    EXPECT_EQ(ImageDimensions::dimensions(Bytes{}), std::nullopt);
    EXPECT_EQ(ImageDimensions::dimensions(Bytes{0xFF, 0xD8, 0xFF}), std::nullopt);
    EXPECT_EQ(ImageDimensions::dimensions(Bytes{0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 1, 0, 1, 0, 0, 0}), std::nullopt);
    // A segment length that jumps past the end.
    const Bytes overlong = {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ImageDimensions::dimensions(overlong), std::nullopt);
}

// ---- Real images, checked against what file(1) reads from them ----

std::optional<Size> dimensionsReportedByFile(const fs::path& path) {
    const auto result = lumaro::test::runCommand({"file", "-b", path.string()});
    std::smatch match;
    static const std::regex png(R"(^PNG image data, (\d+) x (\d+))");
    static const std::regex jpeg(R"(^JPEG image data.*, precision \d+, (\d+)x(\d+))");
    if (std::regex_search(result.standardOutput, match, png) || std::regex_search(result.standardOutput, match, jpeg)) {
        return Size{std::stoll(match[1]), std::stoll(match[2])};
    }
    return std::nullopt;
}

bool isPNGOrJPEGName(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    return extension == ".png" || extension == ".jpg" || extension == ".jpeg";
}

std::vector<fs::path> imagesUnder(const fs::path& directory) {
    std::vector<fs::path> images;
    for (const auto& entry : fs::recursive_directory_iterator(directory)) {
        if (entry.is_regular_file() && isPNGOrJPEGName(entry.path())) {
            images.push_back(entry.path());
        }
    }
    std::sort(images.begin(), images.end());
    return images;
}

// Returns how many images were compared.
int expectDimensionsAsFileReports(const std::vector<fs::path>& images) {
    int compared = 0;
    for (const fs::path& image : images) {
        const std::optional<Size> expected = dimensionsReportedByFile(image);
        if (!expected) {
            continue;  // not a PNG or JPEG whatever its name says
        }
        EXPECT_EQ(ImageDimensions::dimensions(lumaro::test::readFileBytes(image)), expected) << image;
        ++compared;
    }
    return compared;
}

TEST(ImageDimensions, CorpusImagesMatchFile) {
    if (!lumaro::test::commandExists("file")) {
        GTEST_SKIP() << "file(1) is not installed";
    }
    const int compared = expectDimensionsAsFileReports(imagesUnder(lumaro::test::corpusDirectory()));
    EXPECT_GE(compared, 41);
}

TEST(ImageDimensions, FixtureDataImagesMatchFile) {
    if (!lumaro::test::commandExists("file") || !lumaro::test::commandExists("unzip")) {
        GTEST_SKIP() << "file(1) or unzip is not installed";
    }
    lumaro::test::TemporaryDirectory extracted;
    std::vector<fs::path> images;
    int index = 0;
    for (const fs::path& document : lumaro::test::fixtureDocuments()) {
        if (fs::is_directory(document)) {
            const auto packaged = imagesUnder(document);
            images.insert(images.end(), packaged.begin(), packaged.end());
            continue;
        }
        const fs::path target = extracted / std::to_string(index++);
        lumaro::test::runCommand({"unzip", "-qq", "-o", document.string(), "*Data/*", "-d", target.string()});
        if (fs::exists(target)) {
            const auto zipped = imagesUnder(target);
            images.insert(images.end(), zipped.begin(), zipped.end());
        }
    }
    const int compared = expectDimensionsAsFileReports(images);
    EXPECT_GE(compared, 153);
}

}  // namespace
