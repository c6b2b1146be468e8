// inspect: image files through the reader factory, as the order code does.
#include "Commands.h"
#include "JsonOutput.h"

#include "ClipPath.h"
#include "IMG_OpenImageFile.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

using nlohmann::ordered_json;

namespace {

// The Photoshop paths of the file, each with its bounding box in pixels (to
// 0.1), and the name of the clipping path; a damaged path resource is said.
void AddPaths(ordered_json& j, const std::string& file) {
    const clip::ReadResult r = clip::ReadClippingPaths(file);
    ordered_json paths = ordered_json::array();
    for (const clip::Path& p : r.list.paths) {
        const clip::Box b = clip::AnchorBounds(p);
        auto tenth = [](double v) { return std::round(v * 10.0) / 10.0; };
        paths.push_back({{"id", p.id},
                         {"name", p.name},
                         {"subpaths", p.subpaths.size()},
                         {"knots", clip::KnotCount(p)},
                         {"bbox", {tenth(b.x0), tenth(b.y0), tenth(b.x1), tenth(b.y1)}}});
    }
    j["paths"] = std::move(paths);
    j["clippingPath"] = r.list.ClippingPath() != nullptr ? ordered_json(r.list.clippingPathName)
                                                         : ordered_json(nullptr);
    if (!r.ok) {
        j["pathsError"] = r.error;
    }
}

// What the readers learned of a file; unreadable is set when the file could
// not be read at all (missing, no regular file, no permission).
ordered_json Inspect(const std::string& file, bool acceptOpi, bool& unreadable) {
    ordered_json j;
    j["file"] = file;
    std::string why;
    auto reader = IMG_OpenImageFile(file.c_str(), "r", acceptOpi, &why);
    const IMG_ImageInfo* info = reader ? reader->GetImageInfo() : nullptr;
    if (!reader || info == nullptr) {
        unreadable = !reader && why != kImgNoReaderAccepts;
        j["accepted"] = false;
        j["reader"] = nullptr;
        j["reason"] = reader ? std::string(kImgNoReaderAccepts) : why;
        return j;
    }
    j["accepted"] = true;
    j["reader"] = reader->ReaderName();
    j["formatCode"] = reader->GetFormatCode();
    j["width"] = info->width;
    j["height"] = info->height;
    // Resolutions are 32-bit floats; three decimals say all they hold of use.
    j["resolution"] = std::round(static_cast<double>(info->resolution) * 1000.0) / 1000.0;
    j["pixelType"] = info->pixelType;
    j["colourModel"] = IMG_ColourModelOf(info->pixelType);
    j["samplesPerPixel"] = info->samplesPerPixel;
    j["bitsPerSample"] = info->bitsPerSample;
    j["colourSpace"] = info->colourSpace;
    j["processCount"] = reader->GetProcessCount();
    if (reader->GetFormatCode() & 1) {
        char linked[513] = "";
        reader->GetLinkedName(linked, sizeof linked - 1);
        j["linkedName"] = linked;
    } else {
        j["linkedName"] = nullptr;
    }
    const std::string readerName = reader->ReaderName();
    if (readerName == "Proxy_TIFF" || readerName == "Proxy_JPEG" || readerName == "Proxy_PSD") {
        AddPaths(j, file);
    }
    return j;
}

void PrintText(const ordered_json& j) {
    std::cout << j["file"].get<std::string>() << "\n";
    if (!j["accepted"].get<bool>()) {
        std::cout << "  " << j["reason"].get<std::string>() << "\n";
        return;
    }
    char hex[32];
    std::cout << "  reader           " << j["reader"].get<std::string>() << "\n";
    std::snprintf(hex, sizeof hex, "0x%X", j["formatCode"].get<unsigned>());
    std::cout << "  formatCode       " << hex << "\n";
    std::cout << "  size             " << j["width"] << " x " << j["height"] << "\n";
    std::cout << "  resolution       " << j["resolution"] << " ppi\n";
    std::snprintf(hex, sizeof hex, "0x%04X", j["pixelType"].get<unsigned>());
    std::cout << "  pixelType        " << hex << " (colour model " << j["colourModel"] << ")\n";
    std::cout << "  samplesPerPixel  " << j["samplesPerPixel"] << "\n";
    std::cout << "  bitsPerSample    " << j["bitsPerSample"] << "\n";
    std::cout << "  colourSpace      " << j["colourSpace"] << "\n";
    std::cout << "  processCount     " << j["processCount"] << "\n";
    if (!j["linkedName"].is_null()) {
        std::cout << "  linkedName       " << j["linkedName"].get<std::string>() << "\n";
    }
    for (const auto& p : j.value("paths", ordered_json::array())) {
        std::cout << "  path             " << p["name"].get<std::string>() << " (" << p["knots"]
                  << " knots, box " << DumpJson(p["bbox"], -1) << ")"
                  << (p["name"] == j["clippingPath"] ? ", the clipping path" : "") << "\n";
    }
    if (j.contains("pathsError")) {
        std::cout << "  paths            " << j["pathsError"].get<std::string>() << "\n";
    }
}

} // namespace

void AddInspectCommand(CLI::App& app, int& exitCode) {
    struct Options {
        std::vector<std::string> files;
        bool acceptOpi = false;
        bool json = false;
    };
    auto options = std::make_shared<Options>();
    auto* cmd = app.add_subcommand(
        "inspect", "Read image headers (TIFF, JPEG, Photo CD, Photoshop, EPS/DCS/OPI) through the "
                   "reader factory and print what each reader learned. A file that no reader "
                   "accepts is a result, not an error; one that cannot be read (missing, a "
                   "folder, a pipe, a device) is named on standard error and makes the exit "
                   "code 1.");
    cmd->add_option("FILE", options->files, "Image files")->required();
    cmd->add_flag("--accept-opi", options->acceptOpi,
                  "Offer files to the OPI placeholder readers too, as with \"Accept OPI Images\"");
    cmd->add_flag("--json", options->json, "Print one JSON array, one object per file");
    cmd->callback([&exitCode, options] {
        // Every file is reported; one that cannot be read is also named on
        // standard error (and left out of the text output) and makes the
        // exit code 1.
        ordered_json all = ordered_json::array();
        bool anyUnreadable = false;
        for (const auto& file : options->files) {
            bool unreadable = false;
            ordered_json j = Inspect(file, options->acceptOpi, unreadable);
            if (unreadable) {
                std::cerr << "ordodesk: cannot read " << file << ": "
                          << j["reason"].get<std::string>() << "\n";
                anyUnreadable = true;
            }
            if (options->json) {
                all.push_back(std::move(j));
            } else if (!unreadable) {
                PrintText(j);
            }
        }
        if (options->json) {
            std::cout << DumpJson(all) << "\n";
        }
        exitCode = anyUnreadable ? 1 : 0;
    });
}
