// Opening and saving an IDML document of 100 pages with 1,000 placed images,
// made from a real file (its spread copied into 100 spreads of ten framed
// images each), against what the same libraries take to unzip the package and
// parse its XML alone. BM_OpenSaveOverUnzipParse reports the ratio.

#include "IdmlDocument.h"
#include "TempDir.h"

#include <benchmark/benchmark.h>
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

constexpr int kSpreads = 100;
constexpr int kImagesPerSpread = 10;

// The big package: the real file's designmap and spread, the spread's first
// framed image copied ten times (each shifted and with its own IDs) into each
// of 100 spreads. Other parts as they are.
std::string MakeBigPackage() {
    const std::string shared = SharedTestData();
    idml::Package source, big;
    std::string why;
    if (shared.empty() ||
        !idml::ReadPackageFile(shared + "/idml/article-1photo.idml", source, why)) {
        throw std::runtime_error("the real file article-1photo.idml is needed: " + why);
    }
    const idml::Part* spreadPart = source.Find("Spreads/Spread_ud6.xml");
    const std::string& spread = spreadPart->bytes;
    const std::size_t frameStart = spread.find("<Rectangle ");
    const std::size_t frameEnd = spread.find("</Rectangle>", frameStart) + 12;
    const std::string frame = spread.substr(frameStart, frameEnd - frameStart);
    std::string spreadList;
    for (int s = 0; s < kSpreads; ++s) {
        std::string text = spread.substr(0, frameStart);
        for (int i = 0; i < kImagesPerSpread; ++i) {
            std::string copy = frame;
            const std::string id = "b" + std::to_string(s) + "x" + std::to_string(i);
            for (const char* self : {"Self=\"u182\"", "Self=\"u216\"", "Self=\"u21a\""}) {
                std::string renamed = self;
                renamed.insert(6, id); // Self="ID..." keeps the original ID after it
                copy.replace(copy.find(self), std::strlen(self), renamed);
            }
            text += copy + "\n\t\t";
        }
        text += spread.substr(frameEnd);
        const std::string name = "Spreads/Spread_big" + std::to_string(s) + ".xml";
        big.parts.emplace_back().name = name;
        big.parts.back().bytes = text;
        spreadList += "\t<idPkg:Spread src=\"" + name + "\" />\n";
    }
    for (const idml::Part& part : source.parts) {
        if (part.name.rfind("Spreads/", 0) == 0) {
            continue;
        }
        std::string bytes = part.bytes;
        if (part.name == "designmap.xml") {
            const std::size_t at = bytes.find("\t<idPkg:Spread ");
            bytes.replace(at, bytes.find('\n', at) + 1 - at, spreadList);
        }
        big.parts.emplace_back().name = part.name;
        big.parts.back().bytes = bytes;
    }
    std::string zip;
    idml::Package check;
    idml::Layout layout;
    if (!idml::WritePackage(big, zip, why) || !idml::ReadPackage(zip, check, why) ||
        !idml::ReadLayout(check, layout, why)) {
        throw std::runtime_error(why);
    }
    const idml::LayoutCounts counts = idml::Count(layout);
    if (counts.pages != kSpreads || counts.images != kSpreads * kImagesPerSpread) {
        throw std::runtime_error("the package made has not the pages and images meant");
    }
    return zip;
}

// The package, made once; empty (with the benchmark skipped) when the real
// file is not there.
const std::string* BigPackage(benchmark::State& state) {
    static std::string why;
    static const std::string zip = [] {
        try {
            return MakeBigPackage();
        } catch (const std::exception& e) {
            why = e.what();
            return std::string();
        }
    }();
    if (zip.empty()) {
        state.SkipWithError(why.c_str());
        return nullptr;
    }
    return &zip;
}

// Unzipping every entry with libzip and parsing the XML ones with pugixml.
std::size_t UnzipAndParse(const std::string& bytes) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    std::size_t nodes = 0;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
        std::string text(static_cast<std::size_t>(st.size), '\0');
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        zip_fread(file, text.data(), text.size());
        zip_fclose(file);
        const std::string name = st.name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0) {
            pugi::xml_document doc;
            doc.load_buffer(text.data(), text.size(), idml::kParseOptions);
            nodes += doc.first_child() ? 1 : 0;
        }
    }
    zip_discard(archive);
    zip_error_fini(&error);
    return nodes;
}

// Reading the package, making the document, writing the package back.
std::size_t OpenAndSave(const std::string& bytes) {
    idml::Package package;
    std::string why, zip;
    std::vector<std::string> messages;
    if (!idml::ReadPackage(bytes, package, why)) {
        throw std::runtime_error(why);
    }
    std::unique_ptr<IDataBase> db =
        idml::MakeDocument(std::move(package), idml::LinkMap(), messages, why);
    if (!db || !idml::UpdatePackage(db.get(), idml::LinkMap(), messages, why) ||
        !idml::WritePackage(*idml::PackageOf(db.get()), zip, why)) {
        throw std::runtime_error(why);
    }
    idml::Forget(db.get());
    return zip.size() + messages.size();
}

void BM_UnzipAndParse(benchmark::State& state) {
    const std::string* package = BigPackage(state);
    if (package == nullptr) {
        return;
    }
    const std::string& zip = *package;
    for (auto _ : state) {
        benchmark::DoNotOptimize(UnzipAndParse(zip));
    }
    state.counters["package_KiB"] = static_cast<double>(zip.size()) / 1024.0;
}
BENCHMARK(BM_UnzipAndParse)->Unit(benchmark::kMillisecond);

void BM_OpenAndSave(benchmark::State& state) {
    const std::string* package = BigPackage(state);
    if (package == nullptr) {
        return;
    }
    const std::string& zip = *package;
    for (auto _ : state) {
        benchmark::DoNotOptimize(OpenAndSave(zip));
    }
    state.counters["images"] = kSpreads * kImagesPerSpread;
}
BENCHMARK(BM_OpenAndSave)->Unit(benchmark::kMillisecond);

// Both in each iteration, timed apart: the ratio of open and save to the
// unzipping and parsing it cannot do without.
void BM_OpenSaveOverUnzipParse(benchmark::State& state) {
    const std::string* package = BigPackage(state);
    if (package == nullptr) {
        return;
    }
    const std::string& zip = *package;
    double base = 0, full = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(UnzipAndParse(zip));
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(OpenAndSave(zip));
        auto t2 = Clock::now();
        base += std::chrono::duration<double>(t1 - t0).count();
        full += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["ratio"] = base > 0 ? full / base : 0;
}
BENCHMARK(BM_OpenSaveOverUnzipParse)->Unit(benchmark::kMillisecond);

} // namespace
