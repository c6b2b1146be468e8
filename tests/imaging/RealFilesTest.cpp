// Every real file of the shared image corpus through the factory, with and
// without OPI placeholders accepted, against the facts measured for it, and
// through each reader alone, which refuses it as measured.
#include "ReaderRuns.h"

#include <nlohmann/json.hpp>

#include <fstream>

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
    const IMG_ImageInfo* info = reader->GetImageInfo();
    ASSERT_NE(info, nullptr);
    char linked[512] = "";
    if (reader->GetFormatCode() & 1)
        reader->GetLinkedName(linked, sizeof linked - 1);
    const json listed = expected.value("linkedName", json());
    const std::string got = linked, name = listed.is_null() ? "" : listed.get<std::string>();
    // The resolution is compared to within 0.01 below.
    EXPECT_EQ(reader->ReaderName() +
                  (" " + Facts(reader->GetFormatCode(), info->width, info->height, info->resolution,
                               info->pixelType, info->samplesPerPixel, info->bitsPerSample,
                               reader->GetProcessCount(), &got)),
              expected["reader"].get<std::string>() + " " +
                  Facts(Hex(expected["formatCode"]), expected["width"], expected["height"],
                        info->resolution, Hex(expected["pixelType"]), expected["samplesPerPixel"],
                        expected["bitsPerSample"], expected["processCount"], &name));
    EXPECT_NEAR(info->resolution, expected["resolution"].get<double>(), 0.01);
    EXPECT_EQ(IMG_ColourModelOf(info->pixelType), expected["colourModel"].get<uint32_t>());
}

} // namespace

TEST(RealFiles, EveryCertainManifestEntryReadsAsMeasured) {
    std::string data = SharedTestData();
    if (data.empty())
        GTEST_SKIP() << "the shared test data folder is not beside the checkout";
    std::ifstream in(data + "/images/manifest.json");
    ASSERT_TRUE(in) << "no images/manifest.json in the shared test data";
    json manifest = json::parse(in);
    int checked = 0;
    int photoFiles = 0;
    for (const auto& entry : manifest) {
        const std::string file = entry["file"].get<std::string>();
        const std::string path = data + "/images/" + file;
        // The factory chooses as the readers alone, for the file whole and cut
        // where the readers' first checks and the head end.
        ExpectFactoryAsEachReaderAlone(path);
        const std::string bytes = ReadFile(path);
        for (std::size_t cut : std::initializer_list<std::size_t>{
                 1, 4, 8, 26, 2054, 2055, 4095, 4096, 4097, bytes.size() / 2, bytes.size() - 1})
            if (cut < bytes.size())
                ExpectFactoryAsEachReaderAloneForBytes(bytes.substr(0, cut));
        if (!entry.value("doubt", std::string()).empty())
            continue;
        Check(path, entry["expected_accept_opi"], true);
        const json& want = entry["expected_no_opi"];
        Check(path, want, false);
        ++checked;
        // Photoshop and Photo CD files are read by their readers or by none.
        const bool photo =
            file.starts_with("psd") || file.starts_with("psb") || file.starts_with("pcd");
        photoFiles += photo;
        EXPECT_TRUE(!photo || want["reader"].is_null() || want["reader"] == "Proxy_PSD" ||
                    want["reader"] == "Proxy_PCD")
            << file;
        // Alone, every reader but the one that reads it refuses it, with the
        // code listed ("Proxy_PSD: -11 ...") if any.
        for (const IMG_ReaderEntry& each : kImgReaders) {
            if (each.placeholderReader || want["reader"] == each.name)
                continue;
            std::unique_ptr<Proxy_FileIOProcess> reader(each.make());
            bool plainInt = false;
            const int code = RunReader(*reader, path.c_str(), nullptr, plainInt);
            EXPECT_NE(code, 0) << path << " " << each.name;
            const std::string prefix = each.name + std::string(": ");
            for (const json& listed : want.value("rejections", json::array())) {
                const std::string text = listed.get<std::string>();
                EXPECT_TRUE(!text.starts_with(prefix + "-") ||
                            std::stoi(text.substr(prefix.size())) == code)
                    << path << " " << text << ": " << code;
            }
        }
    }
    EXPECT_GT(checked, 50);
    EXPECT_GT(photoFiles, 0);
}
