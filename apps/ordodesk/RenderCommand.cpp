// render: the pages of a document as PNG pictures or a PDF file, from the
// command line (a document file) and from the host shell (the front
// document). Both go through RenderFront, so the options mean the same and
// are refused with the same words.
#include "Commands.h"
#include "HostShellImpl.h"

#include "ImageRaster.h"
#include "PageRender.h"
#include "PdfExport.h"

#include <cmath>
#include <iostream>
#include <sstream>
#include <stdlib.h>

using namespace hostshell;
namespace fs = std::filesystem;

namespace {

// A PNG picture of a page is held whole in memory (four bytes a pixel).
constexpr double kMaxPicturePixels = 100e6;
constexpr double kMaxDpi = 2400.0;

double ParseDpi(const std::string& text) {
    const double value = ParseNumber(text, "--dpi");
    if (value < 1.0 || value > kMaxDpi) {
        Fail("--dpi must be between 1 and 2400: " + text);
    }
    return value;
}

int32_t PageCount(IDataBase* db) {
    int32_t count = 0;
    double width = 0.0;
    double height = 0.0;
    while (render::PageSize(db, count, width, height)) {
        ++count;
    }
    return count;
}

// The range the options ask for, or `range` as it is when they ask none;
// then its last page made explicit and checked against the document.
void ResolvePages(const RenderRequest& r, IDataBase* db, render::PageRange& range) {
    if (r.page && r.pages) {
        Fail("--page and --pages cannot be used together");
    }
    if (r.page) {
        const auto n = static_cast<int32_t>(ParseInteger(*r.page, "--page", 1, 1000000));
        range = {n, n};
    } else if (r.pages) {
        std::string why;
        if (!render::ParsePageRange(*r.pages, range, &why)) {
            Fail("--pages " + *r.pages + ": " + why);
        }
    }
    const int32_t count = PageCount(db);
    const int32_t last = range.last == 0 ? count : range.last;
    const int32_t missing = range.first > count ? range.first : last > count ? last : 0;
    if (missing != 0) {
        Fail("the document has no page " + std::to_string(missing) + " (it has " +
             std::to_string(count) + (count == 1 ? " page)" : " pages)"));
    }
    if (range.first > last) {
        Fail("the page range " + std::to_string(range.first) + "-" + std::to_string(last) +
             " is empty");
    }
    range.last = last;
}

// The files a PNG output writes: the path itself for one page, NAME-N.png
// beside it for several.
std::vector<std::string> PngFiles(const std::string& output, const render::PageRange& range) {
    if (range.first == range.last) {
        return {output};
    }
    const fs::path path(output);
    std::vector<std::string> files;
    for (int32_t n = range.first; n <= range.last; ++n) {
        files.push_back((path.parent_path() / (path.stem().string() + "-" + std::to_string(n) +
                                               path.extension().string()))
                            .string());
    }
    return files;
}

void RefuseExisting(const std::vector<std::string>& files, bool replace) {
    for (const std::string& f : files) {
        std::error_code ec;
        if (fs::is_directory(f, ec)) {
            Fail(f + " is a folder");
        }
        if (!replace && fs::exists(fs::symlink_status(f, ec))) {
            Fail(f + " exists (--replace replaces it)");
        }
    }
}

void CheckPictureSizes(IDataBase* db, const render::PngOptions& png) {
    for (int32_t i = png.pages.first - 1; i < png.pages.last; ++i) {
        double width = 0.0;
        double height = 0.0;
        render::PageSize(db, i, width, height);
        const double w = std::ceil(width * png.dpi / 72.0);
        const double h = std::ceil(height * png.dpi / 72.0);
        if (w * h > kMaxPicturePixels) {
            std::ostringstream why;
            why << "page " << i + 1 << " would be " << w << " x " << h << " pixels at --dpi "
                << png.dpi << "; a picture has at most 100 million";
            Fail(why.str());
        }
    }
}

} // namespace

void HostShellImpl::RenderFront(const RenderRequest& r, std::ostream& to, std::ostream& warnings) {
    const std::string kind = Lower(fs::path(r.output).extension().string());
    if (kind != ".png" && kind != ".pdf") {
        Fail("the output must end in .png or .pdf: " + r.output);
    }
    IDataBase* db = RequireDocument();
    std::optional<double> dpi;
    if (r.dpi) {
        dpi = ParseDpi(*r.dpi);
    }
    // Images are read through libvips, which the session stops with itself.
    if (!vipsStarted) {
        if (!render::EnsureVips()) {
            Fail("the image library did not start");
        }
        vipsStarted = true;
    }
    render::OutputReport report;
    bool ok = false;
    if (kind == ".png") {
        if (r.settings) {
            Fail("--settings is for PDF output only");
        }
        render::PngOptions png;
        ResolvePages(r, db, png.pages);
        png.dpi = dpi.value_or(png.dpi);
        png.badges = r.badges;
        png.frameEdges = r.frameEdges;
        png.opiHighResolution = r.highResolution;
        CheckPictureSizes(db, png);
        RefuseExisting(PngFiles(r.output, png.pages), r.replace);
        ok = render::WritePng(db, png, r.output, r.replace, report);
    } else {
        // The settings file first; what the options give replaces it.
        render::PdfSettings pdf;
        std::string why;
        if (r.settings && !render::LoadPdfSettings(*r.settings, pdf, &why)) {
            Fail("--settings: " + why);
        }
        ResolvePages(r, db, pdf.pages);
        if (dpi) {
            pdf.imageResolution = *dpi;
            pdf.downsampleAbove = std::max(pdf.downsampleAbove, *dpi);
        }
        pdf.badges = pdf.badges || r.badges;
        pdf.frameEdges = pdf.frameEdges || r.frameEdges;
        pdf.opiHighResolution = pdf.opiHighResolution || r.highResolution;
        RefuseExisting({r.output}, r.replace);
        ok = render::WritePdf(db, pdf, r.output, r.replace, report);
    }
    for (const std::string& file : report.written) {
        to << "wrote " << file << "\n";
    }
    if (!report.written.empty()) {
        to << "images drawn: " << report.drawing.imagesDrawn << "\n";
    }
    for (const std::string& problem : report.drawing.problems) {
        warnings << "ordodesk: warning: " << problem << "\n";
    }
    if (!ok) {
        Fail(report.error.empty() ? "cannot write " + r.output : report.error);
    }
}

void HostShellImpl::CmdRender(Args& a) {
    RenderRequest r;
    r.page = a.Option("--page");
    r.pages = a.Option("--pages");
    r.dpi = a.Option("--dpi");
    r.settings = a.Option("--settings");
    r.badges = a.Flag("--badges");
    r.frameEdges = a.Flag("--frame-edges");
    r.highResolution = a.Flag("--high-res");
    r.replace = a.Flag("--replace");
    r.output = Absolute(a.Expect(1, 1,
                                 "render OUT.png|OUT.pdf [--page N | --pages A-B] [--dpi D] "
                                 "[--badges] [--frame-edges] [--high-res] [--settings FILE] "
                                 "[--replace]")[0]);
    if (r.settings) {
        r.settings = Absolute(*r.settings);
    }
    RenderFront(r, out, err);
}

// ---- the command line

namespace {

struct RenderArgs {
    std::string document;
    RenderRequest request;
};

// A host session of its own, as the shell's, so that the document is read
// with the plug-in's data (the orders its badges show); its system folder
// and session file are temporary.
int Render(const RenderArgs& a) {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "ordodesk-render-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::cerr << "ordodesk: error: cannot make a temporary folder\n";
        return 1;
    }
    const std::string folder = pattern;
    int code = 1;
    {
        ShellOptions options;
        options.systemFolder = folder + "/system";
        options.sessionFile = folder + "/session.odsession";
        // What open says goes aside; only its warnings are passed on.
        std::ostringstream opening;
        HostShellImpl shell(options, opening, std::cerr);
        std::string why;
        if (!shell.Start(why)) {
            std::cerr << "ordodesk: error: " << why << "\n";
        } else if (shell.OpenDocument(a.document)) {
            std::istringstream lines(opening.str());
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind("warning: ", 0) == 0) {
                    std::cerr << "ordodesk: " << line << "\n";
                }
            }
            try {
                shell.RenderFront(a.request, std::cout, std::cerr);
                code = 0;
            } catch (const std::exception& e) {
                std::cerr << "ordodesk: error: " << e.what() << "\n";
            }
        }
        shell.Stop();
    }
    fs::remove_all(folder, ec);
    return code;
}

} // namespace

void AddRenderCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<RenderArgs>();
    RenderRequest& r = args->request;
    auto* cmd = app.add_subcommand(
        "render", "Draw the pages of an OrdoDesk document, placed images in their frames, as PNG "
                  "pictures or a PDF file (by the output's extension). Prints each file written "
                  "and the images drawn; each image that could not be shown is a warning on "
                  "standard error.");
    cmd->add_option("DOCUMENT", args->document, "The document file")->required();
    cmd->add_option("-o,--output", r.output,
                    "OUT.png or OUT.pdf; several pages as PNG go to OUT-N.png (N the page)")
        ->required();
    cmd->add_option("--page", r.page, "Only this page (from 1)");
    cmd->add_option("--pages", r.pages, "These pages: 2-5, 4- or All (default: every page)");
    cmd->add_option("--dpi", r.dpi,
                    "Pixels per inch: of the pictures (default 72), or what images in the PDF "
                    "are brought down to (default 300)");
    cmd->add_flag("--badges", r.badges, "Draw a badge of each order's status");
    cmd->add_flag("--frame-edges", r.frameEdges, "Draw the edges of every frame");
    cmd->add_flag("--high-res", r.highResolution,
                  "Show the high-resolution image an OPI placeholder names, when found");
    cmd->add_option("--settings", r.settings,
                    "PDF export settings (a property list); the options above replace what it "
                    "sets");
    cmd->add_flag("--replace", r.replace, "Replace output files that exist");
    cmd->callback([&exitCode, args] { exitCode = Render(*args); });
}
