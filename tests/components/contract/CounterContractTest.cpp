// What both page counters promise as in-process component servers, checked once for each: the
// library's entry points, the class object, identities, lifetime, registration, calls by name and
// the edges of GetPages. Each counter is created by class identifier through the runtime, as the
// program creates it. What only one counter does stays in that counter's own tests.

#include "ComRegistry.h"
#include "ComTypeLib.h"
#include "ComponentStore.h"
#include "ICTIFFPageCount.h"
#include "IPDFPageCounter.h"
#include "IPageCountAbort.h"
#include "PdfFixtures.h"
#include "RegistrationRecords.h"
#include "TiffFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>

namespace {

bool WriteTiff(const std::string& path, int pages)
{
    tifftest::Layout layout;
    layout.pages = pages;
    return tifftest::WriteTiff(path, layout);
}

bool WritePdf(const std::string& path, int pages)
{
    try {
        pdffix::writeFile(path, pdffix::qpdfDocument(pages));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// `counter` is the pointer the counter's own interface was asked for.
template <class I>
HRESULT GetPagesOf(IUnknown* counter, BSTR name, LONG* pages)
{
    return static_cast<I*>(counter)->GetPages(name, pages);
}

// One counter as its clients know it.
struct Counter {
    const char* name;
    const char* library; // in the program folder
    CLSID clsid;
    IID iid;             // its own dual interface
    GUID libid;
    const char* className;
    const char* progId;  // version-independent
    const char* interfaceName;
    const char* typeLibName;
    const char* typeLibDoc;
    const char* module;  // the names of its version block
    const char* extension;
    CLSID otherClsid;    // the other counter's: served by the other library only
    IID otherIid;
    bool (*write)(const std::string& path, int pages); // a valid document of that many pages
    HRESULT (*getPages)(IUnknown* counter, BSTR name, LONG* pages);
};

void PrintTo(const Counter& c, std::ostream* os) { *os << c.name; }

const Counter kCounters[] = {
    {"Tiff", "libtallyfold.so", CLSID_CTIFFPageCount, IID_ICTIFFPageCount, LIBID_TALLYFOLDLib,
     "CTIFFPageCount Class", "Tallyfold.CTIFFPageCount", "ICTIFFPageCount", "TALLYFOLDLib",
     "Tallyfold 1.0 Type Library", "Tallyfold", ".tif", CLSID_CPDFPageCounter, IID_IPDFPageCounter,
     &WriteTiff, &GetPagesOf<ICTIFFPageCount>},
    {"Pdf", "libpdfcounter.so", CLSID_CPDFPageCounter, IID_IPDFPageCounter, LIBID_PDFCOUNTERLib,
     "CPDFPageCounter Class", "Quirewell.CPDFPageCounter", "IPDFPageCounter", "PDFCOUNTERLib",
     "PdfCounter 1.0 Type Library", "PdfCounter", ".pdf", CLSID_CTIFFPageCount, IID_ICTIFFPageCount,
     &WritePdf, &GetPagesOf<IPDFPageCounter>},
};

// The PDF counter also stays loaded while a helper it used is idle; here only references may
// hold a library, so that idle life is none.
class NoIdleLife : public ::testing::Environment {
public:
    void SetUp() override { setenv("QW_PDFCOUNTER_IDLE_MS", "0", 1); }
    void TearDown() override { unsetenv("QW_PDFCOUNTER_IDLE_MS"); }
};
[[maybe_unused]] ::testing::Environment* const g_noIdleLife =
    ::testing::AddGlobalTestEnvironment(new NoIdleLife);

// A controlling object for aggregation; counts the references the inner object gives it.
class Outer final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

VARIANT Text(const std::string& s)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = comrt::AllocBstrFromUtf8(s);
    return v;
}

std::u16string Utf16(const std::string& text) { return comrt::Utf8ToUtf16(text); }

// Each test has its own store with the counter's library registered, and the library's entry
// points at hand; it must leave nothing alive that holds the library.
class CounterContract : public ::testing::TestWithParam<Counter> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(store.registration(), S_OK);
        ASSERT_EQ(lib.open(library()), S_OK) << lib.error();
        ASSERT_EQ(lib.canUnloadNow(), S_OK) << "an earlier test left something alive";
        ASSERT_EQ(lib.getClassObject(c().clsid, IID_IClassFactory, factory.outVoid()), S_OK);
    }
    void TearDown() override
    {
        factory.reset();
        EXPECT_EQ(lib.canUnloadNow(), S_OK) << "the test leaked a reference";
    }

    static const Counter& c() { return GetParam(); }
    static std::string library() { return BinDir() + "/" + GetParam().library; }
    std::string file(const std::string& stem) const { return store.dir() + "/" + stem + c().extension; }
    HRESULT create(Ref<IUnknown>& counter) const
    {
        return CoCreateInstance(c().clsid, nullptr, CLSCTX_INPROC_SERVER, c().iid,
                                counter.outVoid());
    }
    // GetPages with a path given as bytes; the status goes to *hr.
    static LONG count(IUnknown* counter, const std::string& path, HRESULT* hr = nullptr)
    {
        BSTR name = comrt::AllocBstrFromFileName(path);
        LONG pages = 12345;
        const HRESULT status = c().getPages(counter, name, &pages);
        SysFreeString(name);
        if (hr)
            *hr = status;
        return pages;
    }
    ServerRecords records() const
    {
        return {comrt::FormatGuid(c().clsid), comrt::FormatGuid(c().iid),
                comrt::FormatGuid(c().libid), c().className, c().progId, c().interfaceName,
                c().typeLibDoc};
    }

    ComponentStore store{library()};
    comrt::ServerLibrary lib;
    Ref<IClassFactory> factory;
};

// ---- the library ----

TEST_P(CounterContract, ExportsExactlyTheFourEntryPoints)
{
    const std::string command = "nm -D --defined-only '" + library() + "'";
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

TEST_P(CounterContract, VersionBlockNamesTheModule)
{
    comrt::FileVersion v;
    ASSERT_EQ(comrt::GetFileVersionInfo(library(), &v), S_OK);
    EXPECT_EQ(v.text(), "1.0.0.1");
    EXPECT_EQ(v.fileDescription, std::string(c().module) + " Module");
    EXPECT_EQ(v.internalName, c().module);
    EXPECT_EQ(v.projectName, c().module);
    EXPECT_TRUE(v.selfRegistering);
}

// ---- class object, instances, identity ----

TEST_P(CounterContract, ClassObjectIsCachedAndOnlyServesItsClass)
{
    Ref<IClassFactory> again;
    ASSERT_EQ(lib.getClassObject(c().clsid, IID_IUnknown, again.outVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(again.get()), static_cast<void*>(factory.get()));

    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(lib.getClassObject(c().otherClsid, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(lib.getClassObject(c().clsid, IID_IClassFactory, nullptr), E_POINTER);
    p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(lib.getClassObject(c().clsid, IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_P(CounterContract, CreateInstanceRefusalsLeaveNothingAlive)
{
    EXPECT_EQ(factory->CreateInstance(nullptr, c().iid, nullptr), E_POINTER);
    Outer outer;
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, c().iid, &p), CLASS_E_NOAGGREGATION)
        << "an aggregated object is created only as IUnknown";
    EXPECT_EQ(p, nullptr);
    p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "only the factory reference";
    factory.reset();
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
}

TEST_P(CounterContract, QueryInterfaceKeepsOneIdentity)
{
    Ref<IUnknown> counter;
    ASSERT_EQ(create(counter), S_OK);
    Ref<IUnknown> unk;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, unk.outVoid()), S_OK);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &c().iid, &IID_IPageCountAbort}) {
        Ref<IUnknown> viaUnknown, back;
        ASSERT_EQ(unk->QueryInterface(*iid, viaUnknown.outVoid()), S_OK) << comrt::FormatGuid(*iid);
        ASSERT_EQ(viaUnknown->QueryInterface(IID_IUnknown, back.outVoid()), S_OK);
        EXPECT_EQ(back.get(), unk.get()) << comrt::FormatGuid(*iid);
    }
    for (const IID* iid : {&IID_IClassFactory, &IID_ITypeInfo, &c().otherIid, &c().clsid}) {
        void* p = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(counter->QueryInterface(*iid, &p), E_NOINTERFACE) << comrt::FormatGuid(*iid);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(counter->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_P(CounterContract, AggregatedCounterDelegatesToItsOuterObject)
{
    Outer outer;
    Ref<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.outVoid()), S_OK);
    ASSERT_NE(inner.get(), static_cast<IUnknown*>(&outer));
    outer.inner = inner.get();

    Ref<IUnknown> counter;
    const ULONG before = outer.refs;
    ASSERT_EQ(inner->QueryInterface(c().iid, counter.outVoid()), S_OK);
    EXPECT_EQ(outer.refs, before + 1) << "interfaces of the inner object count on the outer";
    Ref<IUnknown> identity;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, identity.outVoid()), S_OK);
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
    identity.reset();

    const std::string path = file("agg");
    ASSERT_TRUE(c().write(path, 2));
    EXPECT_EQ(count(counter.get(), path), 2);

    counter.reset();
    EXPECT_EQ(outer.refs, before);
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "the inner object is alive";
    inner.reset();
    outer.inner = nullptr;
}

// What keeps the library loaded: each holder is taken, checked and let go.
struct Holder {
    const char* name;
    std::function<std::function<void()>(const Counter&, IClassFactory*, comrt::ServerLibrary&)> take;
};

const Holder kHolders[] = {
    {"Instance",
     [](const Counter& c, IClassFactory* f, comrt::ServerLibrary&) {
         IUnknown* p = nullptr;
         EXPECT_EQ(f->CreateInstance(nullptr, c.iid, reinterpret_cast<void**>(&p)), S_OK);
         return std::function<void()>([p] {
             if (p)
                 p->Release();
         });
     }},
    {"LockServer",
     [](const Counter&, IClassFactory* f, comrt::ServerLibrary&) {
         EXPECT_EQ(f->LockServer(TRUE), S_OK);
         return std::function<void()>([f] { EXPECT_EQ(f->LockServer(FALSE), S_OK); });
     }},
    {"ClassObjectReference",
     [](const Counter& c, IClassFactory*, comrt::ServerLibrary& lib) {
         IUnknown* p = nullptr;
         EXPECT_EQ(lib.getClassObject(c.clsid, IID_IUnknown, reinterpret_cast<void**>(&p)), S_OK);
         return std::function<void()>([p] {
             if (p)
                 p->Release();
         });
     }},
    {"TypeInformation",
     [](const Counter&, IClassFactory* f, comrt::ServerLibrary&) {
         IDispatch* d = nullptr;
         ITypeInfo* info = nullptr;
         EXPECT_EQ(f->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
         if (d) {
             EXPECT_EQ(d->GetTypeInfo(0, LOCALE_NEUTRAL, &info), S_OK);
             d->Release(); // the type information outlives the object
         }
         return std::function<void()>([info] {
             if (info)
                 info->Release();
         });
     }},
};

TEST_P(CounterContract, LibraryIsHeldWhileAnythingLives)
{
    for (const Holder& holder : kHolders) {
        SCOPED_TRACE(holder.name);
        if (!factory) {
            ASSERT_EQ(lib.getClassObject(c().clsid, IID_IClassFactory, factory.outVoid()), S_OK);
        }
        std::function<void()> release = holder.take(c(), factory.get(), lib);
        // The fixture's own class-object reference holds too: drop it to see the holder alone.
        factory.reset();
        EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
        ASSERT_EQ(lib.getClassObject(c().clsid, IID_IClassFactory, factory.outVoid()), S_OK);
        factory.reset();
        EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "asking again changes nothing";
        release();
        EXPECT_EQ(lib.canUnloadNow(), S_OK);
    }
}

// ---- registration ----

TEST_P(CounterContract, RegistrationWritesExactlyTheRecordsOnceEvenWhenRepeated)
{
    std::string path;
    ASSERT_TRUE(comrt::ReadClassesRootString("CLSID\\" + records().clsid + "\\InprocServer32",
                                             nullptr, &path));
    ASSERT_TRUE(std::filesystem::equivalent(path, library())) << path;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    EXPECT_EQ(store.text(), ExpectedStore(records(), path, folder));
    ASSERT_EQ(lib.registerServer(), S_OK);
    EXPECT_EQ(store.text(), ExpectedStore(records(), path, folder)) << "one set of records, not two";

    CLSID byName{};
    for (const std::string& progId : {std::string(c().progId), std::string(c().progId) + ".1"}) {
        byName = CLSID{};
        EXPECT_EQ(CLSIDFromProgID(Utf16(progId).c_str(), &byName), S_OK) << progId;
        EXPECT_EQ(byName, c().clsid) << progId;
    }
}

TEST_P(CounterContract, UnregisterRemovesItsRecordsAndKeepsOthers)
{
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{12345678-0000-0000-0000-000000000000}", 0,
                             nullptr, 0, KEY_WRITE, nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(other);
    ASSERT_EQ(lib.unregisterServer(), S_OK);
    EXPECT_EQ(store.text(), "REGEDIT4\n"
                            "\n[HKEY_CLASSES_ROOT\\CLSID]\n"
                            "\n[HKEY_CLASSES_ROOT\\CLSID\\{12345678-0000-0000-0000-000000000000}]\n"
                            "\n[HKEY_CLASSES_ROOT\\Interface]\n"
                            "\n[HKEY_CLASSES_ROOT\\TypeLib]\n");
    EXPECT_EQ(lib.unregisterServer(), S_OK) << "unregistering twice still reports success";

    Ref<IUnknown> counter;
    EXPECT_EQ(create(counter), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(counter);
    ASSERT_EQ(lib.registerServer(), S_OK);
    EXPECT_EQ(create(counter), S_OK) << "registered again, it is found again";
}

// ---- calls by name ----

TEST_P(CounterContract, GetPagesByNameResolvesToOneAndReturnsTheCount)
{
    Ref<IDispatch> dispatch;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, dispatch.outVoid()), S_OK);
    const std::string path = file("four");
    ASSERT_TRUE(c().write(path, 4));
    OLECHAR exact[] = u"GetPages";
    OLECHAR lower[] = u"getpages";
    for (OLECHAR* name : {exact, lower}) {
        DISPID id = 0;
        ASSERT_EQ(dispatch->GetIDsOfNames(GUID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, 1);
    }
    OLECHAR unknown[] = u"GetPage";
    LPOLESTR names[] = {unknown};
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
              DISP_E_UNKNOWNNAME);

    const auto invoke = [&](DISPID member, WORD flags, VARIANT* args, UINT n, VARIANT* result) {
        DISPPARAMS dp{args, nullptr, n, 0};
        return dispatch->Invoke(member, GUID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result,
                                nullptr, nullptr);
    };
    VARIANT arg = Text(path);
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(invoke(1, DISPATCH_PROPERTYGET, &arg, 1, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 4);

    VARIANT missing = Text(store.dir() + "/missing" + c().extension);
    ASSERT_EQ(invoke(1, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &missing, 1, &result), S_OK);
    EXPECT_EQ(result.lVal, -1);
    VariantClear(&missing);

    EXPECT_EQ(invoke(1, DISPATCH_PROPERTYGET, nullptr, 0, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(2, DISPATCH_PROPERTYGET, &arg, 1, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(1, DISPATCH_PROPERTYPUT, &arg, 1, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(dispatch->Invoke(1, IID_IUnknown, 0, DISPATCH_PROPERTYGET, nullptr, &result, nullptr,
                               nullptr),
              DISP_E_UNKNOWNINTERFACE);
    VariantClear(&arg);

    VARIANT empty = Text("");
    VariantInit(&result);
    DISPPARAMS dp{&empty, nullptr, 1, 0};
    EXPECT_EQ(static_cast<uint32_t>(dispatch->Invoke(1, GUID_NULL, LOCALE_USER_DEFAULT,
                                                     DISPATCH_PROPERTYGET, &dp, &result, nullptr,
                                                     nullptr)),
              0xFFFFFFFFu)
        << "the empty-name status comes back through Invoke";
    EXPECT_EQ(result.vt, VT_EMPTY);
    VariantClear(&empty);
}

TEST_P(CounterContract, TypeInformationDescribesTheInterface)
{
    Ref<IDispatch> dispatch;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, dispatch.outVoid()), S_OK);
    UINT count = 0;
    ASSERT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Ref<ITypeInfo> info;
    EXPECT_EQ(dispatch->GetTypeInfo(1, 0, info.out()), DISP_E_BADINDEX);
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.out()), S_OK);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), Utf16(c().interfaceName));
    EXPECT_EQ(std::u16string(doc), Utf16(c().interfaceName) + u" Interface");
    SysFreeString(name);
    SysFreeString(doc);
    ASSERT_EQ(info->GetDocumentation(1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), u"GetPages");
    EXPECT_EQ(std::u16string(doc), u"property GetPages");
    SysFreeString(name);
    SysFreeString(doc);
    Ref<ITypeLib> typeLib;
    ASSERT_EQ(info->GetContainingTypeLib(typeLib.out(), nullptr), S_OK);
    ASSERT_EQ(typeLib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), Utf16(c().typeLibName));
    EXPECT_EQ(std::u16string(doc), Utf16(c().typeLibDoc));
    SysFreeString(name);
    SysFreeString(doc);
}

// ---- GetPages at its edges ----

TEST_P(CounterContract, EmptyNameFailsAndLeavesTheResultAlone)
{
    Ref<IUnknown> counter;
    ASSERT_EQ(create(counter), S_OK);
    const OLECHAR startsWithNul[] = {0, u'a', u'b'};
    BSTR names[] = {nullptr, SysAllocString(u""), SysAllocStringLen(startsWithNul, 3)};
    for (BSTR name : names) {
        LONG pages = 4242;
        EXPECT_EQ(static_cast<uint32_t>(c().getPages(counter.get(), name, &pages)), 0xFFFFFFFFu);
        EXPECT_EQ(pages, 4242);
        SysFreeString(name);
    }
}

TEST_P(CounterContract, NullResultPointerIsRefused)
{
    Ref<IUnknown> counter;
    ASSERT_EQ(create(counter), S_OK);
    ASSERT_TRUE(c().write(file("one"), 1));
    BSTR name = comrt::AllocBstrFromFileName(file("one"));
    EXPECT_EQ(c().getPages(counter.get(), name, nullptr), E_POINTER);
    SysFreeString(name);
}

// A name is the file's bytes: UTF-8 where they are valid, raw bytes carried as lone surrogates
// where they are not, up to the first NUL. A surrogate that stands for no byte names no file.
TEST_P(CounterContract, NameTextReachesTheFileItNames)
{
    Ref<IUnknown> counter;
    ASSERT_EQ(create(counter), S_OK);
    const auto asBytes = [](const std::string& path) { return comrt::FileNameToUtf16(path); };
    const struct {
        const char* stem;
        std::function<std::u16string(const std::string& path)> text;
        LONG expected; // the file holds 3 pages
    } names[] = {
        {"Seiten \xC3\xA4\xC3\xB6\xC3\xBC \xE6\x97\xA5\xE6\x9C\xAC", asBytes, 3},
        {"caf\xE9 \xFF\xFE", asBytes, 3}, // Latin-1 bytes, not UTF-8
        {"nul", [&](const std::string& p) { return asBytes(p) + u'\0' + u"junk"; }, 3},
        {"x",
         [&](const std::string& p) {
             std::u16string wide = asBytes(p);
             wide[wide.size() - 5] = 0xD800; // in place of the 'x'
             return wide;
         },
         -1},
    };
    for (const auto& n : names) {
        SCOPED_TRACE(n.stem);
        ASSERT_TRUE(c().write(file(n.stem), 3));
        const std::u16string text = n.text(file(n.stem));
        BSTR name = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        LONG pages = 12345;
        EXPECT_EQ(c().getPages(counter.get(), name, &pages), S_OK);
        EXPECT_EQ(pages, n.expected);
        SysFreeString(name);
    }
}

// Names that lead to no readable document are "cannot open", and none of them blocks the call.
TEST_P(CounterContract, WhatIsNotARegularFileCannotBeOpened)
{
    Ref<IUnknown> counter;
    ASSERT_EQ(create(counter), S_OK);
    const struct {
        const char* stem;
        std::function<bool(const std::string&)> make;
    } cases[] = {
        {"missing", [](const std::string&) { return true; }},
        {"folder", [](const std::string& p) { return std::filesystem::create_directory(p); }},
        // Nobody ever writes to it: opening it for reading the ordinary way would never return.
        {"fifo", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; }},
        {"device",
         [](const std::string& p) {
             std::filesystem::create_symlink("/dev/zero", p);
             return true;
         }},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.stem);
        const std::string path = file(k.stem);
        ASSERT_TRUE(k.make(path));
        HRESULT hr = E_FAIL;
        EXPECT_EQ(count(counter.get(), path, &hr), -1);
        EXPECT_EQ(hr, S_OK);
    }
}

TEST_P(CounterContract, EveryCallReadsTheFileAfresh)
{
    Ref<IUnknown> counter;
    ASSERT_EQ(create(counter), S_OK);
    const std::string path = file("changes");
    ASSERT_TRUE(c().write(path, 2));
    EXPECT_EQ(count(counter.get(), path), 2);
    ASSERT_TRUE(c().write(path, 5));
    EXPECT_EQ(count(counter.get(), path), 5);
    ASSERT_TRUE(std::filesystem::remove(path));
    EXPECT_EQ(count(counter.get(), path), -1);
}

// How an abort ends a count in progress differs between the counters and is tested with each.
TEST_P(CounterContract, AbortWithNoCallInProgressIsNotMeantForTheNextCall)
{
    Ref<IUnknown> counter;
    ASSERT_EQ(create(counter), S_OK);
    Ref<IPageCountAbort> abort;
    ASSERT_EQ(counter->QueryInterface(IID_IPageCountAbort, abort.outVoid()), S_OK);
    ASSERT_TRUE(c().write(file("after"), 3));
    EXPECT_EQ(abort->Abort(), S_OK);
    EXPECT_EQ(count(counter.get(), file("after")), 3);
}

INSTANTIATE_TEST_SUITE_P(Counters, CounterContract, ::testing::ValuesIn(kCounters),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
