// Cost of counting PDF pages, over one generated folder of documents (1 to 500 pages; classic,
// object-stream and linearized files), each benchmark walking the whole folder once per
// iteration. Compare the rates within one run:
//   Component      through CoCreateInstance and GetPages (helper process, tree walk)
//   EngineInProc   the same engine called in this process (no helper)
//   QpdfRootCount  qpdf over a memory map, reading only the root /Count
//   QpdfGetAllPages qpdf over a memory map, QPDFPageDocumentHelper::getAllPages
//   RawOpenRead8   open, read 8 bytes, close: the floor
// and, per call on a one-page file, the component against the engine in this process;
//   ComponentPerFolder  what a search does per folder: create, count the folder, release,
//                       CoFreeUnusedLibraries (the helper lives on between folders)
//   HelperStart         starting a helper and counting one small file (what every folder
//                       paid when the helper ended with each search)
//   SlowFile/...        the costliest kinds of document one by one: engine in this process,
//                       qpdf's getAllPages and poppler for comparison.
// Real (wall) time throughout: the component's work happens in another process.

#include "ComRegistry.h"
#include "ComRuntime.h"
#include "DamagedCorpus.h"
#include "HelperClient.h"
#include "IPDFPageCounter.h"
#include "PdfFixtures.h"
#include "PdfPageCount.h"

#include <benchmark/benchmark.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>
#include <map>
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

void ComponentPerFolder(benchmark::State& state)
{
    if (IPDFPageCounter* warm = createComponent())
        warm->Release();
    std::vector<BSTR> names;
    for (const auto& f : corpus().files)
        names.push_back(comrt::AllocBstrFromUtf8(f));
    std::int64_t seen = 0;
    for (auto _ : state) {
        IPDFPageCounter* counter = createComponent();
        if (!counter) {
            state.SkipWithError("cannot create the component");
            break;
        }
        for (BSTR name : names) {
            LONG pages = 0;
            counter->GetPages(name, &pages);
            seen += pages;
        }
        counter->Release();
        CoFreeUnusedLibraries();
    }
    report(state, seen);
    for (BSTR name : names)
        SysFreeString(name);
}

void HelperStart(benchmark::State& state)
{
    const std::string& file = corpus().files.front();
    for (auto _ : state) {
        pdfcount::HelperClient client(PDFCOUNTER_HELPER, {});
        benchmark::DoNotOptimize(client.count(file));
    }
}

// Documents that cost the most per file, made once.
struct SlowKind {
    const char* name;
    std::string (*make)();
};

std::string chainOfNodes()
{
    // 2,000 intermediate nodes one below the other, a page at each level.
    std::map<int, std::string> objects{{1, "<< /Type /Catalog /Pages 2 0 R >>"}};
    const int levels = 2000;
    for (int k = 0; k < levels; ++k) {
        const int node = 2 + 2 * k, page = node + 1, next = node + 2;
        objects[node] = "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R" +
                        (k + 1 < levels ? " " + std::to_string(next) + " 0 R" : "") + "] >>";
        objects[page] = "<< /Type /Page /MediaBox [0 0 10 10] >>";
    }
    return pdffix::rawDocument(objects, 1);
}

const SlowKind slowKinds[] = {
    {"5000PagesClassic", [] { return pdffix::qpdfDocument(5000); }},
    {"5000PagesObjectStreams", [] { return pdffix::qpdfDocument(5000, {.objectStreams = true}); }},
    {"5000PagesLinearized", [] { return pdffix::qpdfDocument(5000, {.linearize = true}); }},
    {"5000PagesXrefLost",
     [] {
         std::string d = pdffix::qpdfDocument(5000);
         d.replace(d.rfind("startxref"), 9, "startxrex");
         return d;
     }},
    {"5000PagesCutShort", [] { const auto d = pdffix::qpdfDocument(5000); return d.substr(0, d.size() / 2); }},
    {"ChainOf2000Nodes", chainOfNodes},
    {"SharedNodes30Deep",
     [] {
         for (const auto& c : pdffix::damagedCases())
             if (c.name == "SharedNodes30Deep")
                 return c.make();
         return std::string();
     }},
};

template <class Count>
void slowFile(benchmark::State& state, Count count)
{
    static std::vector<std::string> made(std::size(slowKinds));
    std::string& bytes = made[std::size_t(state.range(0))];
    if (bytes.empty())
        bytes = slowKinds[state.range(0)].make();
    state.SetLabel(slowKinds[state.range(0)].name);
    std::int64_t result = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(result = count(bytes));
    state.counters["result"] = double(result);
}

void SlowFileEngine(benchmark::State& state)
{
    slowFile(state, [](const std::string& b) { return pdfcount::countPages(b); });
}

void SlowFileQpdfGetAllPages(benchmark::State& state)
{
    slowFile(state, [](const std::string& b) { return pdffix::qpdfShowPages(b); });
}

void SlowFilePoppler(benchmark::State& state)
{
    slowFile(state, [](const std::string& b) { return pdfcount::popplerPages(b); });
}

}  // namespace

BENCHMARK(ComponentPerFolder)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(HelperStart)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(SlowFileEngine)->DenseRange(0, std::size(slowKinds) - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(SlowFileQpdfGetAllPages)->DenseRange(0, std::size(slowKinds) - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(SlowFilePoppler)->DenseRange(0, std::size(slowKinds) - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(OneSmallFileComponent)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(OneSmallFileInProc)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Component)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(EngineInProc)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(QpdfRootCount)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(QpdfGetAllPages)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(RawOpenRead8)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

BENCHMARK_MAIN();
