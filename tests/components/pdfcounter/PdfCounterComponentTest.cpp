// The component as the program meets it: created by class identifier through the runtime, with
// every counting case of the shared table and what its helpers, abort and files announced ahead
// add. The contract it shares with the TIFF counter is checked in the counter contract test.

#include "ComRegistry.h"
#include "ComRuntime.h"
#include "IPDFPageCounter.h"
#include "IPageCountAbort.h"
#include "IPageCountPrefetch.h"
#include "PdfCases.h"
#include "PdfFixtures.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <future>
#include <set>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct Bstr {
    explicit Bstr(const std::string& utf8) : text(comrt::AllocBstrFromUtf8(utf8)) {}
    ~Bstr() { SysFreeString(text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR text;
};

template <class T>
struct Ref {
    ~Ref()
    {
        if (p)
            p->Release();
    }
    T* operator->() const { return p; }
    void** out() { return reinterpret_cast<void**>(&p); }
    T* p = nullptr;
};

// Registers the freshly built library into a private store for the whole suite.
class ComponentEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        store = (dir.path() / "test.reg").string();
        comrt::SetRegistryStorePath(store);
        ASSERT_EQ(library.open(PDFCOUNTER_LIBRARY), S_OK) << library.error();
        ASSERT_EQ(library.registerServer(), S_OK);
    }
    void TearDown() override
    {
        library.close();
        comrt::SetRegistryStorePath("");
    }
    pdffix::TempDir dir;
    std::string store;
    comrt::ServerLibrary library;
};

ComponentEnvironment* g_env =
    static_cast<ComponentEnvironment*>(::testing::AddGlobalTestEnvironment(new ComponentEnvironment));

HRESULT createCounter(Ref<IPDFPageCounter>& counter)
{
    return CoCreateInstance(CLSID_CPDFPageCounter, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IPDFPageCounter, counter.out());
}

LONG pagesOf(IPDFPageCounter* counter, const std::string& path)
{
    Bstr name(path);
    LONG pages = 12345;
    EXPECT_EQ(counter->GetPages(name.text, &pages), S_OK) << path;
    return pages;
}

// The helper processes this process has started.
std::set<pid_t> helperChildren()
{
    std::set<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        const auto close = line.rfind(')');
        const auto open = line.find('(');
        if (close == std::string::npos || open == std::string::npos)
            continue;
        const std::string comm = line.substr(open + 1, close - open - 1);
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
            ppid == getpid() && state != 'Z' && comm.rfind("pdfcounter-hel", 0) == 0)
            found.insert(std::stoi(entry.path().filename().string()));
    }
    return found;
}

// ---- counting ----

class PdfComponentCount : public ::testing::TestWithParam<pdffix::CountCase> {};

TEST_P(PdfComponentCount, GivesTheExpectedResult)
{
    pdffix::TempDir dir;
    const auto file = dir.file(GetParam().name + ".pdf");
    pdffix::writeFile(file, GetParam().make());
    Ref<IPDFPageCounter> counter;
    ASSERT_EQ(createCounter(counter), S_OK);
    EXPECT_EQ(pagesOf(counter.p, file.string()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Documents, PdfComponentCount, ::testing::ValuesIn(pdffix::countCases()),
                         [](const auto& info) { return info.param.name; });

TEST(PdfComponentGetPages, HelperKilledBetweenCallsDoesNotCostTheNextAnswer)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(3));
    pdffix::writeFile(dir.file("b.pdf"), pdffix::qpdfDocument(9, {.objectStreams = true}));
    Ref<IPDFPageCounter> counter;
    ASSERT_EQ(createCounter(counter), S_OK);
    ASSERT_EQ(pagesOf(counter.p, dir.file("a.pdf").string()), 3);
    const std::set<pid_t> helpers = helperChildren();
    ASSERT_EQ(helpers.size(), 1u) << "one helper serves the library";
    ASSERT_EQ(kill(*helpers.begin(), SIGKILL), 0);
    EXPECT_EQ(pagesOf(counter.p, dir.file("b.pdf").string()), 9);
    EXPECT_EQ(pagesOf(counter.p, dir.file("a.pdf").string()), 3);
    const std::set<pid_t> after = helperChildren();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(*after.begin(), *helpers.begin());
}

// Sets an environment variable for one scope.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value) : name(name)
    {
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { unsetenv(name); }
    const char* name;
};

// What a search does per folder, twice: the second round finds the helper of the first.
TEST(PdfComponentHelperLife, TwoRoundsOfCreateCountReleaseStartOneHelper)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    // Helpers left by earlier tests started before the log was named; end them so the first
    // round has to start one.
    for (pid_t pid : helperChildren())
        kill(pid, SIGKILL);
    ScopedEnv log("QW_PDFCOUNTER_HELPER_LOG", dir.file("starts.log").string());
    for (int round = 0; round < 2; ++round) {
        {
            Ref<IPDFPageCounter> counter;
            ASSERT_EQ(createCounter(counter), S_OK);
            EXPECT_EQ(pagesOf(counter.p, dir.file("a.pdf").string()), 2);
        }
        CoFreeUnusedLibraries();
    }
    EXPECT_EQ(pdffix::linesIn(dir.file("starts.log")), 1);
}

TEST(PdfComponentHelperLife, LibraryStaysLoadedWhileItsHelperWasRecentlyUsed)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    {
        Ref<IPDFPageCounter> counter;
        ASSERT_EQ(createCounter(counter), S_OK);
        ASSERT_EQ(pagesOf(counter.p, dir.file("a.pdf").string()), 2);
    }
    EXPECT_EQ(g_env->library.canUnloadNow(), S_FALSE) << "an idle helper used just now";
    ScopedEnv idle("QW_PDFCOUNTER_IDLE_MS", "0");
    EXPECT_EQ(g_env->library.canUnloadNow(), S_OK) << "idle longer than the idle life";
}

// ---- abort ----

// Stops the helper that serves the next count, so that count waits until something ends it.
pid_t stopIdleHelper()
{
    const std::set<pid_t> helpers = helperChildren();
    if (helpers.size() != 1)
        return -1;
    kill(*helpers.begin(), SIGSTOP);
    return *helpers.begin();
}

TEST(PdfComponentAbort, AbortEndsTheCountInProgressAndTheNextCallGetsAFreshHelper)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(3));
    Ref<IPDFPageCounter> counter;
    ASSERT_EQ(createCounter(counter), S_OK);
    Ref<IPageCountAbort> abort;
    ASSERT_EQ(counter->QueryInterface(IID_IPageCountAbort, abort.out()), S_OK);
    ASSERT_EQ(pagesOf(counter.p, dir.file("a.pdf").string()), 3);
    const pid_t stopped = stopIdleHelper();
    ASSERT_GT(stopped, 0);

    const std::string path = dir.file("a.pdf").string();
    auto call = std::async(std::launch::async, [&] { return pagesOf(counter.p, path); });
    // Without the abort the call would wait for the wall-clock net; an abort that comes before
    // the call has begun does nothing, so keep asking until it ends.
    while (call.wait_for(10ms) != std::future_status::ready)
        abort->Abort();
    EXPECT_EQ(call.get(), PDFPAGES_GAVE_UP);
    EXPECT_EQ(pagesOf(counter.p, path), 3);
    EXPECT_EQ(helperChildren().count(stopped), 0u) << "the aborted helper is still there";
}

// Counts at once on two instances: one is held up by a stopped helper, the other gets a helper of
// its own and is answered meanwhile.
TEST(PdfComponentAbort, InstancesCountingAtOnceEachHaveTheirOwnHelper)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(3));
    pdffix::writeFile(dir.file("b.pdf"), pdffix::qpdfDocument(5));
    Ref<IPDFPageCounter> first, second;
    ASSERT_EQ(createCounter(first), S_OK);
    ASSERT_EQ(createCounter(second), S_OK);
    Ref<IPageCountAbort> abortFirst, abortSecond;
    ASSERT_EQ(first->QueryInterface(IID_IPageCountAbort, abortFirst.out()), S_OK);
    ASSERT_EQ(second->QueryInterface(IID_IPageCountAbort, abortSecond.out()), S_OK);
    ASSERT_EQ(pagesOf(first.p, dir.file("a.pdf").string()), 3);
    ASSERT_GT(stopIdleHelper(), 0);

    const std::string a = dir.file("a.pdf").string(), b = dir.file("b.pdf").string();
    auto countA = std::async(std::launch::async, [&] { return pagesOf(first.p, a); });
    auto countB = std::async(std::launch::async, [&] { return pagesOf(second.p, b); });
    while (countA.wait_for(10ms) != std::future_status::ready &&
           countB.wait_for(0ms) != std::future_status::ready) {
    }
    const bool aDone = countA.wait_for(0ms) == std::future_status::ready;
    auto& answered = aDone ? countA : countB;
    auto& held = aDone ? countB : countA;
    IPageCountAbort* heldAbort = aDone ? abortSecond.p : abortFirst.p;
    EXPECT_EQ(answered.get(), aDone ? 3 : 5);
    EXPECT_EQ(held.wait_for(0ms), std::future_status::timeout) << "both had a working helper";
    while (held.wait_for(10ms) != std::future_status::ready)
        heldAbort->Abort();
    EXPECT_EQ(held.get(), PDFPAGES_GAVE_UP);
}

TEST(PdfComponentGetPages, InstancesShareOneHelper)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    Ref<IPDFPageCounter> first, second;
    ASSERT_EQ(createCounter(first), S_OK);
    ASSERT_EQ(createCounter(second), S_OK);
    EXPECT_EQ(pagesOf(first.p, dir.file("a.pdf").string()), 2);
    EXPECT_EQ(pagesOf(second.p, dir.file("a.pdf").string()), 2);
    EXPECT_EQ(helperChildren().size(), 1u);
}

// ---- files announced ahead ----

// Announcing the next files changes no answer, whatever order the calls then come in, and an
// instance released with files still announced leaves nothing stale for the next one.
TEST(PdfComponentPrefetch, AnnouncedFilesGetTheAnswersOfPlainCalls)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    pdffix::writeFile(dir.file("b.pdf"), pdffix::qpdfDocument(5));
    pdffix::writeFile(dir.file("fake.pdf"), "not a PDF at all");
    const std::string a = dir.file("a.pdf").string(), b = dir.file("b.pdf").string(),
                      fake = dir.file("fake.pdf").string(), missing = dir.file("none.pdf").string();
    const auto announce = [](IPageCountPrefetch* prefetch, const std::vector<std::string>& paths) {
        std::vector<std::unique_ptr<Bstr>> names;
        std::vector<BSTR> texts;
        for (const std::string& path : paths) {
            names.push_back(std::make_unique<Bstr>(path));
            texts.push_back(names.back()->text);
        }
        return prefetch->Prefetch(texts.data(), static_cast<ULONG>(texts.size()));
    };
    {
        Ref<IPDFPageCounter> counter;
        ASSERT_EQ(createCounter(counter), S_OK);
        Ref<IPageCountPrefetch> prefetch;
        ASSERT_EQ(counter->QueryInterface(IID_IPageCountPrefetch, prefetch.out()), S_OK);
        EXPECT_EQ(prefetch->Prefetch(nullptr, 2), E_POINTER);
        EXPECT_EQ(prefetch->Prefetch(nullptr, 0), S_OK);

        ASSERT_EQ(announce(prefetch.p, {a, b, fake, missing, a}), S_OK);
        EXPECT_EQ(pagesOf(counter.p, a), 2);
        EXPECT_EQ(pagesOf(counter.p, b), 5);
        EXPECT_EQ(pagesOf(counter.p, fake), PDFPAGES_NOT_PDF);
        EXPECT_EQ(pagesOf(counter.p, missing), PDFPAGES_CANNOT_OPEN);
        EXPECT_EQ(pagesOf(counter.p, a), 2);

        // Out of the announced order: each call still gets its own file's answer.
        ASSERT_EQ(announce(prefetch.p, {a, b}), S_OK);
        EXPECT_EQ(pagesOf(counter.p, b), 5);
        EXPECT_EQ(pagesOf(counter.p, a), 2);

        ASSERT_EQ(announce(prefetch.p, {b, a, b}), S_OK);
        EXPECT_EQ(pagesOf(counter.p, b), 5);
    }
    Ref<IPDFPageCounter> next;
    ASSERT_EQ(createCounter(next), S_OK);
    EXPECT_EQ(pagesOf(next.p, a), 2);
    EXPECT_EQ(pagesOf(next.p, b), 5);
    EXPECT_LE(helperChildren().size(), 1u);
}

}  // namespace
