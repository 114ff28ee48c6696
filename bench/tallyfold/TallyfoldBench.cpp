// Counts a generated folder of multi-page TIFFs three ways and reports pages per second:
//   Component  - one counter per folder (as the search creates it) and GetPages per file
//   Plain      - the counting function called directly
//   RawRead8   - open, read 8 bytes, close: the floor any counter pays
// The component should cost about what the plain function costs; both are a multiple of RawRead8.
#include "ComRegistry.h"
#include "ComRuntime.h"
#include "ICTIFFPageCount.h"
#include "TiffPageCount.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tiffio.h>
#include <vector>

namespace {

struct Corpus {
    std::string dir;
    std::vector<std::string> files;
    std::vector<BSTR> names;
    long pages = 0;

    Corpus()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qwbench-XXXXXX").string();
        dir = ::mkdtemp(pattern.data()) ? pattern : std::string();
        TIFFSetWarningHandler(nullptr);
        for (int i = 0; i < 300; ++i) {
            const int n = 1 + i % 12;
            const std::string path = dir + "/doc" + std::to_string(i) + ".tif";
            if (write(path, n)) {
                files.push_back(path);
                names.push_back(comrt::AllocBstrFromUtf8(path));
                pages += n;
            }
        }
    }
    ~Corpus()
    {
        for (BSTR b : names)
            SysFreeString(b);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    static bool write(const std::string& path, int pages)
    {
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        if (!tif)
            return false;
        std::vector<unsigned char> row(64, 0x55);
        for (int p = 0; p < pages; ++p) {
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 64);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 32);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 32);
            for (uint32_t y = 0; y < 32; ++y)
                TIFFWriteScanline(tif, row.data(), y, 0);
            TIFFWriteDirectory(tif);
        }
        TIFFClose(tif);
        return true;
    }
};

Corpus& TheCorpus()
{
    static Corpus corpus;
    return corpus;
}

void Report(benchmark::State& state, long pages, long expected)
{
    if (pages != expected)
        state.SkipWithError("page total differs from the corpus");
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["files/s"] = benchmark::Counter(static_cast<double>(TheCorpus().files.size()),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

void Component(benchmark::State& state)
{
    Corpus& c = TheCorpus();
    const char* bin = std::getenv("QW_BIN_DIR");
    comrt::SetRegistryStorePath(std::string(bin && *bin ? bin : QW_BIN_DIR_DEFAULT) +
                                "/quirewell.reg");
    long pages = 0;
    for (auto _ : state) {
        ICTIFFPageCount* counter = nullptr;
        if (FAILED(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ICTIFFPageCount, reinterpret_cast<void**>(&counter)))) {
            state.SkipWithError("the counter is not registered (build the tallyfold target)");
            break;
        }
        pages = 0;
        for (BSTR name : c.names) {
            LONG n = 0;
            counter->GetPages(name, &n);
            pages += n;
        }
        counter->Release();
    }
    Report(state, pages, c.pages);
}

void Plain(benchmark::State& state)
{
    Corpus& c = TheCorpus();
    long pages = 0;
    for (auto _ : state) {
        pages = 0;
        for (const std::string& f : c.files)
            pages += tallyfold::CountTiffPages(f.c_str());
    }
    Report(state, pages, c.pages);
}

void RawRead8(benchmark::State& state)
{
    Corpus& c = TheCorpus();
    for (auto _ : state) {
        for (const std::string& f : c.files) {
            unsigned char head[8] = {0};
            if (std::FILE* file = std::fopen(f.c_str(), "rb")) {
                benchmark::DoNotOptimize(std::fread(head, 1, 8, file));
                std::fclose(file);
            }
            benchmark::DoNotOptimize(head);
        }
    }
    Report(state, c.pages, c.pages);
}

BENCHMARK(Component)->Unit(benchmark::kMillisecond);
BENCHMARK(Plain)->Unit(benchmark::kMillisecond);
BENCHMARK(RawRead8)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
