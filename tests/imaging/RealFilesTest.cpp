// Every real file of the shared image corpus through the factory, with and
// without OPI placeholders accepted, against the facts measured for it.
#include "IMG_OpenImageFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <string>

using nlohmann::json;

namespace {

uint32_t Hex(const json& value) {
    return static_cast<uint32_t>(std::stoul(value.get<std::string>(), nullptr, 16));
}

// Compares what the factory gives for one file with the expected result.
void Check(const std::string& path, const json& expected, bool acceptOpi) {
    SCOPED_TRACE(path + (acceptOpi ? " (OPI accepted)" : " (OPI not accepted)"));
    auto reader = IMG_OpenImageFile(path.c_str(), "r", acceptOpi);
    if (expected["reader"].is_null()) {
        EXPECT_EQ(reader, nullptr) << "accepted by " << (reader ? reader->ReaderName() : "");
        return;
    }
    ASSERT_NE(reader, nullptr) << "expected " << expected["reader"];
    EXPECT_EQ(reader->ReaderName(), expected["reader"].get<std::string>());
    EXPECT_EQ(reader->GetFormatCode(), Hex(expected["formatCode"]));
    const IMG_ImageInfo* info = reader->GetImageInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, expected["width"].get<uint32_t>());
    EXPECT_EQ(info->height, expected["height"].get<uint32_t>());
    EXPECT_NEAR(info->resolution, expected["resolution"].get<double>(), 0.01);
    EXPECT_EQ(info->pixelType, Hex(expected["pixelType"]));
    EXPECT_EQ(IMG_ColourModelOf(info->pixelType), expected["colourModel"].get<uint32_t>());
    EXPECT_EQ(info->samplesPerPixel, expected["samplesPerPixel"].get<int>());
    EXPECT_EQ(info->bitsPerSample, expected["bitsPerSample"].get<int>());
    EXPECT_EQ(reader->GetProcessCount(), expected["processCount"].get<int>());
    char linked[512] = "";
    if (reader->GetFormatCode() & 1) {
        reader->GetLinkedName(linked, sizeof linked - 1);
    }
    std::string name = expected.contains("linkedName") && !expected["linkedName"].is_null()
                           ? expected["linkedName"].get<std::string>()
                           : "";
    EXPECT_EQ(std::string(linked), name);
}

} // namespace

TEST(RealFiles, EveryCertainManifestEntryReadsAsMeasured) {
    std::string data = SharedTestData();
    if (data.empty()) {
        GTEST_SKIP() << "the shared test data folder is not beside the checkout";
    }
    std::ifstream in(data + "/images/manifest.json");
    ASSERT_TRUE(in) << "no images/manifest.json in the shared test data";
    json manifest = json::parse(in);
    int checked = 0;
    for (const auto& entry : manifest) {
        if (!entry.value("doubt", std::string()).empty()) {
            continue;
        }
        std::string path = data + "/images/" + entry["file"].get<std::string>();
        Check(path, entry["expected_accept_opi"], true);
        Check(path, entry["expected_no_opi"], false);
        ++checked;
    }
    EXPECT_GT(checked, 50);
}
