#include "TallyfoldFixture.h"
#include "TiffFiles.h"

#include <dlfcn.h>
#include <filesystem>
#include <functional>

namespace {

constexpr CLSID kPdfCounterClsid = comrt::MakeGuid("{91AB0239-0B45-4982-AD46-DAAC2DE0BA8A}");

// The library's own entry points, called directly.
class ServerContract : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(lib.open(LibraryPath()), S_OK) << lib.error();
        ASSERT_EQ(lib.canUnloadNow(), S_OK) << "an earlier test left something alive";
        ASSERT_EQ(lib.getClassObject(CLSID_CTIFFPageCount, IID_IClassFactory, factory.outVoid()),
                  S_OK);
    }
    void TearDown() override
    {
        factory.reset();
        EXPECT_EQ(lib.canUnloadNow(), S_OK) << "the test leaked a reference";
    }

    RegisteredStore store;
    comrt::ServerLibrary lib;
    Ref<IClassFactory> factory;
};

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

TEST_F(ServerContract, ClassObjectIsCachedAndOnlyServesItsClass)
{
    Ref<IClassFactory> again;
    ASSERT_EQ(lib.getClassObject(CLSID_CTIFFPageCount, IID_IUnknown, again.outVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(again.get()), static_cast<void*>(factory.get()));

    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(lib.getClassObject(kPdfCounterClsid, IID_IClassFactory, &p),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(lib.getClassObject(CLSID_CTIFFPageCount, IID_IClassFactory, nullptr), E_POINTER);
    p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(lib.getClassObject(CLSID_CTIFFPageCount, IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_F(ServerContract, QueryInterfaceKeepsOneIdentity)
{
    Ref<ICTIFFPageCount> counter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICTIFFPageCount, counter.outVoid()), S_OK);
    Ref<IUnknown> unk;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, unk.outVoid()), S_OK);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_ICTIFFPageCount}) {
        Ref<IUnknown> viaDispatch, viaUnknown, back;
        ASSERT_EQ(unk->QueryInterface(*iid, viaUnknown.outVoid()), S_OK);
        ASSERT_EQ(viaUnknown->QueryInterface(IID_IUnknown, back.outVoid()), S_OK);
        EXPECT_EQ(back.get(), unk.get()) << comrt::FormatGuid(*iid);
    }
    for (const IID* iid : {&IID_IClassFactory, &IID_ITypeInfo, &kPdfCounterClsid}) {
        void* p = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(counter->QueryInterface(*iid, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(counter->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ServerContract, CreateInstanceRefusals)
{
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ICTIFFPageCount, nullptr), E_POINTER);
    Outer outer;
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_ICTIFFPageCount, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    // The refused object is gone again: nothing holds the library.
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "only the factory reference";
    factory.reset();
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
}

TEST_F(ServerContract, AggregatedCounterDelegatesToItsOuterObject)
{
    Outer outer;
    Ref<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.outVoid()), S_OK);
    ASSERT_NE(inner.get(), static_cast<IUnknown*>(&outer));
    outer.inner = inner.get();

    Ref<ICTIFFPageCount> counter;
    const ULONG before = outer.refs;
    ASSERT_EQ(inner->QueryInterface(IID_ICTIFFPageCount, counter.outVoid()), S_OK);
    EXPECT_EQ(outer.refs, before + 1) << "interfaces of the inner object count on the outer";
    Ref<IUnknown> identity;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, identity.outVoid()), S_OK);
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
    identity.reset();

    const std::string path = store.dir() + "/agg.tif";
    tifftest::Layout layout;
    layout.pages = 2;
    ASSERT_TRUE(tifftest::WriteTiff(path, layout));
    EXPECT_EQ(CountPages(counter.get(), path), 2);

    counter.reset();
    EXPECT_EQ(outer.refs, before);
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "the inner object is alive";
    inner.reset();
    outer.inner = nullptr;
}

// What keeps the library loaded: each holder is taken, checked and let go.
struct Holder {
    const char* name;
    std::function<std::function<void()>(IClassFactory*, comrt::ServerLibrary&)> take;
};

void PrintTo(const Holder& h, std::ostream* os) { *os << h.name; }

const Holder kHolders[] = {
    {"Instance",
     [](IClassFactory* f, comrt::ServerLibrary&) {
         IUnknown* p = nullptr;
         EXPECT_EQ(f->CreateInstance(nullptr, IID_ICTIFFPageCount, reinterpret_cast<void**>(&p)), S_OK);
         return std::function<void()>([p] {
             if (p)
                 p->Release();
         });
     }},
    {"LockServer",
     [](IClassFactory* f, comrt::ServerLibrary&) {
         EXPECT_EQ(f->LockServer(TRUE), S_OK);
         return std::function<void()>([f] { EXPECT_EQ(f->LockServer(FALSE), S_OK); });
     }},
    {"ClassObjectReference",
     [](IClassFactory*, comrt::ServerLibrary& lib) {
         IUnknown* p = nullptr;
         EXPECT_EQ(lib.getClassObject(CLSID_CTIFFPageCount, IID_IUnknown,
                                      reinterpret_cast<void**>(&p)),
                   S_OK);
         return std::function<void()>([p] {
             if (p)
                 p->Release();
         });
     }},
    {"TypeInformation",
     [](IClassFactory* f, comrt::ServerLibrary&) {
         ICTIFFPageCount* c = nullptr;
         ITypeInfo* info = nullptr;
         EXPECT_EQ(f->CreateInstance(nullptr, IID_ICTIFFPageCount, reinterpret_cast<void**>(&c)), S_OK);
         if (c) {
             EXPECT_EQ(c->GetTypeInfo(0, LOCALE_NEUTRAL, &info), S_OK);
             c->Release(); // the type information outlives the object
         }
         return std::function<void()>([info] {
             if (info)
                 info->Release();
         });
     }},
};

class UnloadCheck : public ServerContract, public ::testing::WithParamInterface<Holder> {};

TEST_P(UnloadCheck, LibraryIsHeldWhileAnythingLives)
{
    std::function<void()> release = GetParam().take(factory.get(), lib);
    // The fixture's own class-object reference locks too: drop it to see the holder alone.
    factory.reset();
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    ASSERT_EQ(lib.getClassObject(CLSID_CTIFFPageCount, IID_IClassFactory, factory.outVoid()), S_OK);
    factory.reset();
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "asking again changes nothing";
    release();
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Holders, UnloadCheck, ::testing::ValuesIn(kHolders),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServerUnload, UnusedLibraryIsUnloadedAndALiveOneIsNot)
{
    // A private copy, so nothing else in this process holds it.
    TempStore scratch;
    const std::string copy = scratch.dir() + "/libtallyfold-copy.so";
    ASSERT_TRUE(std::filesystem::copy_file(std::filesystem::canonical(LibraryPath()), copy));
    RegisteredStore store(copy);
    ASSERT_EQ(store.registration(), S_OK);
    auto loaded = [&] {
        void* h = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (h)
            ::dlclose(h);
        return h != nullptr;
    };
    ASSERT_FALSE(loaded());

    Ref<ICTIFFPageCount> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICTIFFPageCount, counter.outVoid()),
              S_OK);
    CoFreeUnusedLibraries();
    ASSERT_TRUE(loaded()) << "an instance is alive";
    const std::string path = store.dir() + "/live.tif";
    ASSERT_TRUE(tifftest::WriteTiff(path, {}));
    EXPECT_EQ(CountPages(counter.get(), path), 1);

    counter.reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(loaded());
    ASSERT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICTIFFPageCount, counter.outVoid()),
              S_OK)
        << "loads again on demand";
    EXPECT_EQ(CountPages(counter.get(), path), 1);
    counter.reset();
    CoFreeUnusedLibraries();
}

TEST(ServerVersion, VersionBlockNamesTheModule)
{
    comrt::FileVersion v;
    ASSERT_EQ(comrt::GetFileVersionInfo(LibraryPath(), &v), S_OK);
    EXPECT_EQ(v.text(), "1.0.0.1");
    EXPECT_EQ(v.fileDescription, "Tallyfold Module");
    EXPECT_EQ(v.internalName, "Tallyfold");
    EXPECT_EQ(v.projectName, "Tallyfold");
    EXPECT_TRUE(v.selfRegistering);
}

} // namespace
