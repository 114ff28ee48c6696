// The component as the program meets it: created by class identifier through the runtime, with
// the contract of an in-process server (exports, identities, factory, lock count, registration,
// calls by name) and every counting case of the shared table.

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

constexpr CLSID CLSID_CTIFFPageCount = comrt::MakeGuid("{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}");
constexpr HRESULT EmptyNameStatus = static_cast<HRESULT>(0xFFFFFFFFu);  // spelled out on purpose

struct Bstr {
    explicit Bstr(const std::string& utf8) : text(comrt::AllocBstrFromUtf8(utf8)) {}
    explicit Bstr(const std::u16string& utf16)
        : text(SysAllocStringLen(utf16.data(), static_cast<UINT>(utf16.size())))
    {
    }
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

TEST(PdfComponentGetPages, NamesOutsideTheTable)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("caf\xe9.pdf"), pdffix::qpdfDocument(4));
    pdffix::writeFile(dir.file("\xe6\x97\xa5\xe6\x9c\xac.pdf"), pdffix::qpdfDocument(2));
    Ref<IPDFPageCounter> counter;
    ASSERT_EQ(createCounter(counter), S_OK);
    EXPECT_EQ(pagesOf(counter.p, dir.file("missing.pdf").string()), PDFPAGES_CANNOT_OPEN);
    EXPECT_EQ(pagesOf(counter.p, dir.path().string()), PDFPAGES_CANNOT_OPEN);
    EXPECT_EQ(pagesOf(counter.p, dir.file("\xe6\x97\xa5\xe6\x9c\xac.pdf").string()), 2);
    // A name that is not valid UTF-8 arrives with its raw byte as a lone surrogate.
    const std::u16string folder = comrt::Utf8ToUtf16(dir.path().string());
    Bstr raw(folder + u"/caf\xdce9.pdf");
    LONG pages = -99;
    EXPECT_EQ(counter->GetPages(raw.text, &pages), S_OK);
    EXPECT_EQ(pages, 4);
}

TEST(PdfComponentGetPages, EmptyNameFailsAndLeavesTheResultAlone)
{
    Ref<IPDFPageCounter> counter;
    ASSERT_EQ(createCounter(counter), S_OK);
    LONG pages = 77;
    EXPECT_EQ(counter->GetPages(nullptr, &pages), EmptyNameStatus);
    Bstr empty(std::string{});
    EXPECT_EQ(counter->GetPages(empty.text, &pages), EmptyNameStatus);
    Bstr startsWithNul(std::u16string(u"\0/tmp/a.pdf", 11));
    EXPECT_EQ(counter->GetPages(startsWithNul.text, &pages), EmptyNameStatus);
    EXPECT_EQ(pages, 77);
    Bstr name(std::string("/tmp/a.pdf"));
    EXPECT_EQ(counter->GetPages(name.text, nullptr), E_POINTER);
}

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
    EXPECT_EQ(abort->Abort(), S_OK) << "no call in progress: nothing happens";
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

// ---- the server contract ----

TEST(PdfComponentServer, ExportsExactlyTheFourEntryPoints)
{
    const std::string command = std::string("nm -D --defined-only '") + PDFCOUNTER_LIBRARY + "'";
    FILE* nm = popen(command.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        char type = 0;
        char name[400] = {};
        if (std::sscanf(line, "%*s %c %399s", &type, name) == 2 && type != 'A')
            names.insert(name);
    }
    ASSERT_EQ(pclose(nm), 0);
    EXPECT_EQ(names, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject",
                                            "DllRegisterServer", "DllUnregisterServer"}));
}

TEST(PdfComponentServer, InterfacesShareOneIdentity)
{
    Ref<IPDFPageCounter> counter;
    ASSERT_EQ(createCounter(counter), S_OK);
    Ref<IUnknown> unknown;
    Ref<IDispatch> dispatch;
    Ref<IPDFPageCounter> again;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, unknown.out()), S_OK);
    ASSERT_EQ(counter->QueryInterface(IID_IDispatch, dispatch.out()), S_OK);
    ASSERT_EQ(dispatch->QueryInterface(IID_IPDFPageCounter, again.out()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.p), static_cast<void*>(counter.p));
    EXPECT_EQ(static_cast<void*>(dispatch.p), static_cast<void*>(counter.p));
    EXPECT_EQ(again.p, counter.p);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(counter->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST(PdfComponentServer, ClassObjectRules)
{
    const auto& lib = g_env->library;
    EXPECT_EQ(lib.getClassObject(CLSID_CPDFPageCounter, IID_IClassFactory, nullptr), E_POINTER);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(lib.getClassObject(CLSID_CTIFFPageCount, IID_IClassFactory, &none),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);

    Ref<IClassFactory> factory, same;
    ASSERT_EQ(lib.getClassObject(CLSID_CPDFPageCounter, IID_IClassFactory, factory.out()), S_OK);
    ASSERT_EQ(lib.getClassObject(CLSID_CPDFPageCounter, IID_IUnknown, same.out()), S_OK);
    EXPECT_EQ(static_cast<void*>(same.p), static_cast<void*>(factory.p)) << "one cached class object";
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPDFPageCounter, nullptr), E_POINTER);

    Ref<IUnknown> outer;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, outer.out()), S_OK);
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer.p, IID_IPDFPageCounter, &refused), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(refused, nullptr);
    Ref<IUnknown> inner;
    EXPECT_EQ(factory->CreateInstance(outer.p, IID_IUnknown, inner.out()), S_OK);
    EXPECT_NE(inner.p, nullptr);
}

TEST(PdfComponentServer, LockCountFollowsInstancesClassObjectAndLockServer)
{
    // Idle helpers would keep the library as well; here only the references count.
    ScopedEnv idle("QW_PDFCOUNTER_IDLE_MS", "0");
    const auto& lib = g_env->library;
    ASSERT_EQ(lib.canUnloadNow(), S_OK);
    {
        Ref<IPDFPageCounter> counter;
        ASSERT_EQ(createCounter(counter), S_OK);
        EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
    {
        Ref<IClassFactory> factory;
        ASSERT_EQ(lib.getClassObject(CLSID_CPDFPageCounter, IID_IClassFactory, factory.out()), S_OK);
        EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "an outside reference to the class object";
        ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    }
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "LockServer(TRUE) holds the library";
    {
        Ref<IClassFactory> factory;
        ASSERT_EQ(lib.getClassObject(CLSID_CPDFPageCounter, IID_IClassFactory, factory.out()), S_OK);
        ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    }
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
}

TEST(PdfComponentServer, CallsByName)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(6));
    Ref<IDispatch> dispatch;
    ASSERT_EQ(CoCreateInstance(CLSID_CPDFPageCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               dispatch.out()),
              S_OK);
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    std::u16string member = u"GetPages";
    LPOLESTR names[] = {member.data()};
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 1);

    Bstr path(dir.file("a.pdf").string());
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = path.text;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(dispatch->Invoke(1, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params,
                               &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 6);
    VariantClear(&result);
}

TEST(PdfComponentRegistration, RecordsNamesClassAndTypeLibrary)
{
    std::string value;
    const std::string clsid = "{91AB0239-0B45-4982-AD46-DAAC2DE0BA8A}";
    const std::string classKey = "CLSID\\" + clsid;
    EXPECT_TRUE(comrt::ReadClassesRootString("Quirewell.CPDFPageCounter.1\\CLSID", nullptr, &value));
    EXPECT_EQ(value, clsid);
    EXPECT_TRUE(comrt::ReadClassesRootString("Quirewell.CPDFPageCounter\\CurVer", nullptr, &value));
    EXPECT_EQ(value, "Quirewell.CPDFPageCounter.1");
    EXPECT_TRUE(comrt::ReadClassesRootString(classKey, nullptr, &value));
    EXPECT_EQ(value, "CPDFPageCounter Class");
    EXPECT_TRUE(comrt::ReadClassesRootString(classKey + "\\InprocServer32", nullptr, &value));
    EXPECT_EQ(std::filesystem::path(value), std::filesystem::canonical(PDFCOUNTER_LIBRARY));
    EXPECT_TRUE(comrt::ReadClassesRootString(classKey + "\\InprocServer32", "ThreadingModel", &value));
    EXPECT_EQ(value, "Apartment");
    EXPECT_TRUE(comrt::ReadClassesRootString(classKey + "\\VersionIndependentProgID", nullptr, &value));
    EXPECT_EQ(value, "Quirewell.CPDFPageCounter");
    EXPECT_TRUE(comrt::ReadClassesRootString(classKey + "\\TypeLib", nullptr, &value));
    EXPECT_EQ(value, "{6C152C32-EDF7-4250-A6E5-6A1219B083D5}");
    EXPECT_TRUE(comrt::ClassesRootKeyExists(classKey + "\\Programmable"));
    EXPECT_TRUE(comrt::ClassesRootKeyExists("TypeLib\\{6C152C32-EDF7-4250-A6E5-6A1219B083D5}\\1.0"));
    CLSID byName{};
    EXPECT_EQ(CLSIDFromProgID(u"Quirewell.CPDFPageCounter", &byName), S_OK);
    EXPECT_EQ(byName, CLSID_CPDFPageCounter);
}

TEST(PdfComponentRegistration, UnregisterRemovesOnlyItsOwnRecords)
{
    const std::string classKey = "CLSID\\{91AB0239-0B45-4982-AD46-DAAC2DE0BA8A}";
    ASSERT_EQ(g_env->library.registerServer(), S_OK) << "registering twice";
    ASSERT_TRUE(comrt::ClassesRootKeyExists(classKey));
    EXPECT_EQ(g_env->library.unregisterServer(), S_OK);
    EXPECT_FALSE(comrt::ClassesRootKeyExists(classKey));
    EXPECT_FALSE(comrt::ClassesRootKeyExists("Quirewell.CPDFPageCounter"));
    EXPECT_FALSE(comrt::ClassesRootKeyExists("Quirewell.CPDFPageCounter.1"));
    EXPECT_TRUE(comrt::ClassesRootKeyExists("CLSID"));
    Ref<IPDFPageCounter> counter;
    EXPECT_EQ(createCounter(counter), REGDB_E_CLASSNOTREG);
    ASSERT_EQ(g_env->library.registerServer(), S_OK);
    EXPECT_EQ(createCounter(counter), S_OK);
}

}  // namespace
