// Cost of counting PDF pages, over one generated folder of documents (1 to 500 pages; classic,
// object-stream and linearized files), each benchmark walking the whole folder once per
// iteration. Compare the rates within one run:
//   Component      through CoCreateInstance and GetPages (helper process, tree walk)
//   EngineInProc   the same engine called in this process (no helper)
//   QpdfRootCount  qpdf over a memory map, reading only the root /Count
//   QpdfGetAllPages qpdf over a memory map, QPDFPageDocumentHelper::getAllPages
//   RawOpenRead8   open, read 8 bytes, close: the floor
// and, per call on a one-page file, the component against the engine in this process.
// Real (wall) time throughout: the component's work happens in another process.

#include "ComRegistry.h"
#include "ComRuntime.h"
#include "IPDFPageCounter.h"
#include "PdfFixtures.h"
#include "PdfPageCount.h"

#include <benchmark/benchmark.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

struct Corpus {
    pdffix::TempDir dir;
    std::vector<std::string> files;
    std::int64_t pages = 0;

    Corpus()
    {
        std::mt19937 rng(20261207);
        // Mostly short documents, a tail up to 500 pages.
        std::uniform_int_distribution<int> shortDoc(1, 20), longDoc(21, 500), pick(0, 9);
        for (int i = 0; i < 120; ++i) {
            const int n = i == 0 ? 1 : i == 1 ? 500 : (pick(rng) < 8 ? shortDoc(rng) : longDoc(rng));
            pdffix::Layout layout;
            layout.objectStreams = i % 3 == 1;
            layout.linearize = i % 3 == 2;
            const auto path = dir.file("doc" + std::to_string(i) + ".pdf");
            pdffix::writeFile(path, pdffix::qpdfDocument(n, layout));
            files.push_back(path.string());
            pages += n;
        }
    }
};

Corpus& corpus()
{
    static Corpus c;
    return c;
}

void report(benchmark::State& state, std::int64_t pagesSeen)
{
    const auto& c = corpus();
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["files/s"] =
        benchmark::Counter(iterations * double(c.files.size()), benchmark::Counter::kIsRate);
    state.counters["pages/s"] =
        benchmark::Counter(iterations * double(c.pages), benchmark::Counter::kIsRate);
    if (pagesSeen != c.pages * static_cast<std::int64_t>(state.iterations()))
        state.SkipWithError("page total differs from the corpus");
}

template <class Read>
std::int64_t withQpdf(const std::string& path, Read read)
{
    pdfcount::MappedFile file;
    if (file.open(path.c_str()) != 0)
        return 0;
    QPDF pdf;
    pdf.setLogger(pdfcount::silentQpdfLogger());
    pdf.setSuppressWarnings(true);
    pdf.processMemoryFile(path.c_str(), file.bytes().data(), file.bytes().size());
    return read(pdf);
}

// The component, registered into a private store; null when that fails.
IPDFPageCounter* createComponent()
{
    static pdffix::TempDir storeDir;
    static comrt::ServerLibrary library;
    if (!library.isOpen()) {
        comrt::SetRegistryStorePath((storeDir.path() / "bench.reg").string());
        if (library.open(PDFCOUNTER_LIBRARY) != S_OK || library.registerServer() != S_OK)
            return nullptr;
    }
    IPDFPageCounter* counter = nullptr;
    if (CoCreateInstance(CLSID_CPDFPageCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IPDFPageCounter,
                         reinterpret_cast<void**>(&counter)) != S_OK)
        return nullptr;
    return counter;
}

void Component(benchmark::State& state)
{
    IPDFPageCounter* counter = createComponent();
    if (!counter) {
        state.SkipWithError("cannot create the component");
        return;
    }
    std::vector<BSTR> names;
    for (const auto& f : corpus().files)
        names.push_back(comrt::AllocBstrFromUtf8(f));
    LONG warm = 0;
    counter->GetPages(names.front(), &warm);  // the helper starts on first use
    std::int64_t seen = 0;
    for (auto _ : state) {
        for (BSTR name : names) {
            LONG pages = 0;
            counter->GetPages(name, &pages);
            seen += pages;
        }
    }
    report(state, seen);
    for (BSTR name : names)
        SysFreeString(name);
    counter->Release();
}

void EngineInProc(benchmark::State& state)
{
    std::int64_t seen = 0;
    for (auto _ : state)
        for (const auto& f : corpus().files)
            seen += pdfcount::countFile(f.c_str());
    report(state, seen);
}

void QpdfRootCount(benchmark::State& state)
{
    std::int64_t seen = 0;
    for (auto _ : state)
        for (const auto& f : corpus().files)
            seen += withQpdf(f, [](QPDF& pdf) {
                return pdf.getRoot().getKey("/Pages").getKey("/Count").getIntValue();
            });
    report(state, seen);
}

void QpdfGetAllPages(benchmark::State& state)
{
    std::int64_t seen = 0;
    for (auto _ : state)
        for (const auto& f : corpus().files)
            seen += withQpdf(f, [](QPDF& pdf) {
                return static_cast<std::int64_t>(QPDFPageDocumentHelper(pdf).getAllPages().size());
            });
    report(state, seen);
}

void RawOpenRead8(benchmark::State& state)
{
    std::int64_t opened = 0;
    for (auto _ : state) {
        for (const auto& f : corpus().files) {
            const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
            char head[8];
            if (fd >= 0 && ::read(fd, head, sizeof head) == sizeof head)
                ++opened;
            if (fd >= 0)
                ::close(fd);
            benchmark::DoNotOptimize(head);
        }
    }
    const auto& c = corpus();
    state.counters["files/s"] = benchmark::Counter(
        double(state.iterations()) * double(c.files.size()), benchmark::Counter::kIsRate);
    if (opened != std::int64_t(c.files.size()) * std::int64_t(state.iterations()))
        state.SkipWithError("a file could not be read");
}

// Per-call cost on the smallest document: the difference is the helper's round trip.
void OneSmallFileComponent(benchmark::State& state)
{
    IPDFPageCounter* counter = createComponent();
    if (!counter) {
        state.SkipWithError("cannot create the component");
        return;
    }
    BSTR name = comrt::AllocBstrFromUtf8(corpus().files.front());
    for (auto _ : state) {
        LONG pages = 0;
        counter->GetPages(name, &pages);
        benchmark::DoNotOptimize(pages);
    }
    SysFreeString(name);
    counter->Release();
}

void OneSmallFileInProc(benchmark::State& state)
{
    const std::string& name = corpus().files.front();
    for (auto _ : state)
        benchmark::DoNotOptimize(pdfcount::countFile(name.c_str()));
}

}  // namespace

BENCHMARK(OneSmallFileComponent)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(OneSmallFileInProc)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Component)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(EngineInProc)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(QpdfRootCount)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(QpdfGetAllPages)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(RawOpenRead8)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

BENCHMARK_MAIN();
