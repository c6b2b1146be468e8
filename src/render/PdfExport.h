#pragma once

// Output of pages: PNG pictures and a PDF file, both drawn by the page
// renderer. The PDF export reads its settings from a property-list
// dictionary.

#include "IDataBase.h"
#include "PList.h"
#include "PageRender.h"

#include <cstdint>
#include <string>
#include <vector>

namespace render {

// Pages to output, from 1, both ends included.
struct PageRange {
    int32_t first = 1;
    int32_t last = 0; // 0: to the last page
};

// "3", "2-5", "4-" or "All" (case as written); false with *error set
// otherwise.
bool ParsePageRange(const std::string& text, PageRange& range, std::string* error);

enum class ImageCompression { kJpeg, kFlate };
enum class ColourOutput { kKeep, kCmyk };

struct PdfSettings {
    PageRange pages;
    double imageResolution = 300.0; // pixels per inch that images are brought down to
    double downsampleAbove = 450.0; // images above this resolution are brought down
    ImageCompression compression = ImageCompression::kJpeg;
    int jpegQuality = 90;
    ColourOutput colour = ColourOutput::kKeep;
    std::string outputProfile; // a CMYK ICC profile; empty: the default one
    double bleed = 0.0;        // points
    bool cropMarks = false;
    bool badges = false;
    bool frameEdges = false;
    bool opiHighResolution = false;
    std::string title, author, subject, keywords, creator;
};

// The settings a dictionary gives, keys as written in the settings file
// ("PageRange", "ImageResolution", ...; docs/render.md lists them). Missing
// keys keep their defaults; an unknown key, a value of the wrong type or out
// of range gives false with *error naming the key.
bool SettingsFromPList(const plist::Value& dictionary, PdfSettings& settings, std::string* error);
// The same from a settings file.
bool LoadPdfSettings(const std::string& path, PdfSettings& settings, std::string* error);

// The CMYK profile used when the settings name none (Ghostscript's), or
// empty when none is installed.
std::string DefaultCmykProfile();

struct OutputReport {
    std::vector<std::string> written; // files written, in order
    DrawReport drawing;               // images drawn and problems, over every page
    std::string error;                // why nothing (or not everything) was written
};

struct PngOptions {
    PageRange pages;
    double dpi = 72.0;
    bool badges = false;
    bool frameEdges = false;
    bool opiHighResolution = false;
};

// Writes each page as a PNG picture: one page to `path` itself, several to
// NAME-N.png beside it (N the page number). An existing file is replaced
// only when `replace` is set. False with report.error set on failure.
bool WritePng(IDataBase* db, const PngOptions& options, const std::string& path, bool replace,
              OutputReport& report);

// Writes the pages the settings name into one PDF file (same rule for an
// existing file).
bool WritePdf(IDataBase* db, const PdfSettings& settings, const std::string& path, bool replace,
              OutputReport& report);

} // namespace render
