// The machinery of an in-process component server: module state and lock count, class table,
// cached class objects, the class factory, registration through registry scripts, the type
// library, IDispatch through type information, and the four exported entry points.
//
// How a component library uses it (one .cpp of the library; everything but the names is fixed).
// Identifiers are `inline constexpr` so templates may take them by reference:
//
//   #include "ComServer.h"
//
//   // 1. The interface (shared with clients) and the class. The class derives from DispatchImpl,
//   //    answers its interfaces in FindInterface (IID_IUnknown included: the primary interface)
//   //    and does not implement IUnknown itself: Object<T>/AggregatedObject<T> do.
//   struct IFoo : IDispatch { virtual HRESULT GetPages(BSTR name, LONG* pVal) = 0; };  // slot 7
//   inline constexpr IID IID_IFoo = comrt::MakeGuid("{...}");
//   inline constexpr CLSID CLSID_CFoo = comrt::MakeGuid("{...}");
//
//   class CFoo : public comrt::DispatchImpl<IFoo, IID_IFoo> {
//   public:
//       void* FindInterface(REFIID riid) {
//           if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IFoo)
//               return static_cast<IFoo*>(this);
//           return nullptr;
//       }
//       HRESULT GetPages(BSTR name, LONG* pVal) override;
//   };
//
//   // 2. The type library, as a table.
//   constexpr comrt::ParamDesc kGetPagesParams[] = {
//       {u"filename", VT_BSTR, PARAMFLAG_FIN}, {u"pVal", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
//   constexpr comrt::MemberDesc kFooMembers[] = {
//       {1, u"GetPages", INVOKE_PROPERTYGET, kGetPagesParams, 2, u"property GetPages", 7,
//        &comrt::MemberInvoker<&IFoo::GetPages>}};
//   constexpr comrt::InterfaceDesc kInterfaces[] = {
//       {IID_IFoo, u"IFoo", u"IFoo Interface",
//        TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, IID_IDispatch,
//        kFooMembers, 1}};
//   constexpr comrt::CoClassDesc kCoClasses[] = {
//       {CLSID_CFoo, u"CFoo", u"CFoo Class", TYPEFLAG_FCANCREATE, IID_IFoo}};
//   constexpr comrt::TypeLibDesc kTypeLib = {sizeof(comrt::TypeLibDesc), LIBID_FooLib,
//       u"FOOLib", u"Foo 1.0 Type Library", 1, 0, LOCALE_NEUTRAL, SYS_LINUX64, 0, LIBID_stdole,
//       kInterfaces, 1, kCoClasses, 1};
//
//   // 3. The registry script (see RegistryScript.h); %MODULE% becomes the library's path.
//   constexpr char kFooScript[] = R"(HKCR { ... InprocServer32 = s '%MODULE%' ... })";
//
//   // 4. The class table, the version block and the server definition; the macro defines the
//   //    module's start and stop and the four exported functions.
//   constexpr comrt::ClassEntry kClasses[] = {
//       {&CLSID_CFoo, kFooScript, &comrt::CreateObject<CFoo>, nullptr, nullptr}};
//   constexpr comrt::VersionInfo kVersion = {{1, 0, 0, 1}, {1, 0, 0, 1}, "Foo Module", "Foo",
//                                            "Foo", true};
//   constexpr comrt::ServerDefinition kServer = {kClasses, 1, &kTypeLib, &kVersion};
//   COMRT_DEFINE_SERVER(kServer)
//
// In CMake: comrt_add_component(<target>) (exports, runtime link) and
// comrt_register_component(<target>) (registers into <build>/bin/quirewell.reg after each build).
//
// The type library reaches the runtime through DllGetClassObject(CLSID_RuntimeLink, ...), so the
// library exports exactly DllCanUnloadNow, DllGetClassObject, DllRegisterServer and
// DllUnregisterServer.
#pragma once

#include "ComRuntime.h"
#include "ComTypeLib.h"
#include "ComTypes.h"
#include "RegistryScript.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace comrt {

// One component class of a server.
struct ClassEntry {
    const CLSID* clsid;
    const char* registryScript; // run by DllRegisterServer/DllUnregisterServer
    // The instance creator: outer is null or the controlling unknown; ppv is not null and cleared;
    // an outer object comes only with IID_IUnknown. CreateObject<T> fits.
    HRESULT (*createInstance)(IUnknown* outer, REFIID riid, void** ppv);
    void (*start)(); // start and stop hooks at load and unload; may be null
    void (*stop)();
};

struct ServerDefinition {
    const ClassEntry* classes;
    size_t classCount;
    const TypeLibDesc* typeLib; // may be null: then no type library is registered
    const VersionInfo* version; // may be null
};

// The state of the loaded server library; one per library (each library has its own copy).
class ServerModule {
public:
    static ServerModule& Instance();

    // Start: set up the class table and call the start hooks. Stop, in this order: release the
    // cached class objects, call the stop hooks, drop the type information caches.
    void start(const ServerDefinition* definition);
    void stop();
    bool started() const { return m_definition != nullptr; }

    LONG lock();   // atomic +1, returns the new count
    LONG unlock(); // atomic -1
    LONG lockCount() const { return m_lockCount.load(); }

    // A library that keeps something costly to start (a helper process) may ask to stay loaded
    // while nothing holds it: canUnloadNow then also asks `keep`, which may be null.
    void setKeepLoaded(bool (*keep)()) { m_keepLoaded.store(keep); }

    // Full path of the library file this module lives in.
    std::string modulePath() const;

    // The four entry points.
    HRESULT canUnloadNow();
    HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** ppv);
    HRESULT registerServer();
    HRESULT unregisterServer();

    // Type information of one of the library's interfaces, loaded from the registered type
    // library on first need and cached with its name table; the load's status on failure.
    HRESULT typeInfo(REFIID iid, LCID lcid, ITypeInfo** out);
    HRESULT idsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
    HRESULT invoke(REFIID iid, void* instance, DISPID member, LCID lcid, WORD flags,
                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);

    const RuntimeLink* runtimeLink() const { return &m_link; }

    ~ServerModule();

private:
    ServerModule();
    struct TypeInfoCache;
    HRESULT cachedTypeInfo(REFIID iid, LCID lcid, TypeInfoCache** out);
    HRESULT loadOwnTypeLib(ITypeLib** out, std::string* loadedPath);

    const ServerDefinition* m_definition = nullptr;
    std::atomic<LONG> m_lockCount{0};
    std::atomic<bool (*)()> m_keepLoaded{nullptr};
    std::mutex m_classObjectMutex;
    std::unique_ptr<std::atomic<IUnknown*>[]> m_classObjects;
    std::mutex m_typeInfoMutex;
    std::vector<std::unique_ptr<TypeInfoCache>> m_typeInfoCaches;
    RuntimeLink m_link{};
};

// Starts the module when the library is loaded and stops it when it is unloaded.
class ServerInstaller {
public:
    explicit ServerInstaller(const ServerDefinition* definition)
    {
        ServerModule::Instance().start(definition);
    }
    ~ServerInstaller() { ServerModule::Instance().stop(); }
    ServerInstaller(const ServerInstaller&) = delete;
    ServerInstaller& operator=(const ServerInstaller&) = delete;
};

// IDispatch of a dual interface I, driven by the server's type information (GetTypeInfoCount
// reports 1; names resolve through the cached name table; Invoke goes through ITypeInfo).
template <class I, const IID& Iid>
class DispatchImpl : public I {
public:
    HRESULT GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** ppTInfo) override
    {
        if (!ppTInfo)
            return E_POINTER;
        *ppTInfo = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return ServerModule::Instance().typeInfo(Iid, lcid, ppTInfo);
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                          DISPID* ids) override
    {
        if (!IsEqualGUID(riid, GUID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        return ServerModule::Instance().idsOfNames(Iid, names, count, lcid, ids);
    }
    HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override
    {
        if (!IsEqualGUID(riid, GUID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        return ServerModule::Instance().invoke(Iid, static_cast<I*>(this), member, lcid, flags,
                                               params, result, excepInfo, argErr);
    }
};

// A plain (not aggregated) object of class T: its own reference count, which is a plain counter
// (the object lives in one thread), and one lock on the module while it lives.
template <class T>
class Object final : public T {
public:
    Object() { ServerModule::Instance().lock(); }
    ~Object() { ServerModule::Instance().unlock(); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = T::FindInterface(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_ref; }
    ULONG Release() override
    {
        const ULONG n = --m_ref;
        if (n == 0) {
            m_ref = 1; // a re-entrant Release during destruction must not delete twice
            delete this;
        }
        return n;
    }
    IUnknown* identity() { return static_cast<IUnknown*>(T::FindInterface(IID_IUnknown)); }

private:
    ULONG m_ref = 0;
};

// An aggregated object of class T: this is the inner (non-delegating) unknown; T's own IUnknown
// delegates to the outer object.
template <class T>
class AggregatedObject final : public IUnknown {
public:
    explicit AggregatedObject(IUnknown* outer) : m_contained(outer)
    {
        ServerModule::Instance().lock();
    }
    ~AggregatedObject() { ServerModule::Instance().unlock(); }
    AggregatedObject(const AggregatedObject&) = delete;
    AggregatedObject& operator=(const AggregatedObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = m_contained.FindInterface(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        static_cast<IUnknown*>(*ppv)->AddRef(); // counts on the outer object, as COM requires
        return S_OK;
    }
    ULONG AddRef() override { return ++m_ref; }
    ULONG Release() override
    {
        const ULONG n = --m_ref;
        if (n == 0) {
            m_ref = 1;
            delete this;
        }
        return n;
    }

private:
    class Contained final : public T {
    public:
        explicit Contained(IUnknown* outer) : m_outer(outer) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override
        {
            return m_outer->QueryInterface(riid, ppv);
        }
        ULONG AddRef() override { return m_outer->AddRef(); }
        ULONG Release() override { return m_outer->Release(); }

    private:
        IUnknown* m_outer;
    };
    Contained m_contained;
    ULONG m_ref = 0;
};

// The instance creator for a class T used through Object<T> / AggregatedObject<T>. If the new
// object does not answer riid it is destroyed and the failure returned.
template <class T>
HRESULT CreateObject(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IUnknown* unknown = nullptr;
    try {
        if (outer) {
            auto* object = new (std::nothrow) AggregatedObject<T>(outer);
            if (!object)
                return E_OUTOFMEMORY;
            unknown = object;
        } else {
            auto* object = new (std::nothrow) Object<T>();
            if (!object)
                return E_OUTOFMEMORY;
            unknown = object->identity();
        }
    } catch (...) { // a constructor that throws; nothing may cross the boundary
        return E_OUTOFMEMORY;
    }
    unknown->AddRef();
    const HRESULT hr = unknown->QueryInterface(riid, ppv);
    unknown->Release();
    return hr;
}

} // namespace comrt

#define COMRT_EXPORT extern "C" __attribute__((visibility("default")))

// Defines the module start/stop for `definition` (a constexpr comrt::ServerDefinition) and the
// four exported entry points. Use once per library, at namespace scope.
#define COMRT_DEFINE_SERVER(definition)                                                           \
    static const comrt::ServerInstaller comrtServerInstaller_{&(definition)};                     \
    COMRT_EXPORT HRESULT DllCanUnloadNow() { return comrt::ServerModule::Instance().canUnloadNow(); } \
    COMRT_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)              \
    {                                                                                             \
        return comrt::ServerModule::Instance().getClassObject(clsid, riid, ppv);                  \
    }                                                                                             \
    COMRT_EXPORT HRESULT DllRegisterServer()                                                      \
    {                                                                                             \
        return comrt::ServerModule::Instance().registerServer();                                  \
    }                                                                                             \
    COMRT_EXPORT HRESULT DllUnregisterServer()                                                    \
    {                                                                                             \
        return comrt::ServerModule::Instance().unregisterServer();                                \
    }
