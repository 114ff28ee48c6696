#include "ComServer.h"

#include "ComInternal.h"
#include "ComRegistry.h"
#include "FileAccess.h"

#include <string_view>

namespace comrt {

struct ServerModule::TypeInfoCache {
    IID iid{};
    ITypeInfo* info = nullptr;
    // Member names as the type information spells them, with their dispatch ids.
    std::vector<std::pair<std::u16string, DISPID>> names;
};

namespace {

// The class object of one class entry. Its reference count has its own lock, and the module is
// locked while anyone besides the class table holds it.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ClassEntry* entry) : m_entry(entry) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override
    {
        std::lock_guard lock(m_mutex);
        const ULONG n = ++m_ref;
        if (n == 2)
            ServerModule::Instance().lock();
        return n;
    }
    ULONG Release() override
    {
        ULONG n = 0;
        {
            std::lock_guard lock(m_mutex);
            n = --m_ref;
            if (n == 1)
                ServerModule::Instance().unlock();
        }
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer && !IsEqualGUID(riid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        if (!m_entry->createInstance)
            return E_NOTIMPL;
        try {
            return m_entry->createInstance(outer, riid, ppv);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT LockServer(BOOL lock) override
    {
        if (lock)
            ServerModule::Instance().lock();
        else
            ServerModule::Instance().unlock();
        return S_OK;
    }

private:
    const ClassEntry* m_entry;
    std::mutex m_mutex;
    ULONG m_ref = 1; // the class table's reference
};

std::string WithTlbExtension(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + ".tlb";
    return path.substr(0, dot) + ".tlb";
}

} // namespace

ServerModule& ServerModule::Instance()
{
    static ServerModule module;
    return module;
}

ServerModule::ServerModule() = default;

ServerModule::~ServerModule() { stop(); }

void ServerModule::start(const ServerDefinition* definition)
{
    if (!definition || m_definition)
        return;
    m_classObjects.reset(new std::atomic<IUnknown*>[definition->classCount]);
    for (size_t i = 0; i < definition->classCount; ++i)
        m_classObjects[i].store(nullptr);
    m_link = RuntimeLink{sizeof(RuntimeLink), definition->typeLib, definition->version,
                         &internal::AttachHost};
    m_definition = definition;
    for (size_t i = 0; i < definition->classCount; ++i)
        if (definition->classes[i].start)
            definition->classes[i].start();
}

void ServerModule::stop()
{
    const ServerDefinition* definition = m_definition;
    if (!definition)
        return;
    for (size_t i = 0; i < definition->classCount; ++i)
        if (IUnknown* object = m_classObjects[i].exchange(nullptr))
            object->Release();
    for (size_t i = 0; i < definition->classCount; ++i)
        if (definition->classes[i].stop)
            definition->classes[i].stop();
    std::lock_guard lock(m_typeInfoMutex);
    for (auto& cache : m_typeInfoCaches)
        if (cache->info)
            cache->info->Release();
    m_typeInfoCaches.clear();
    m_definition = nullptr;
}

LONG ServerModule::lock() { return m_lockCount.fetch_add(1) + 1; }
LONG ServerModule::unlock() { return m_lockCount.fetch_sub(1) - 1; }

std::string ServerModule::modulePath() const { return internal::ThisObjectPath(); }

HRESULT ServerModule::canUnloadNow()
{
    if (m_lockCount.load() != 0)
        return S_FALSE;
    if (auto keep = m_keepLoaded.load(); keep && keep())
        return S_FALSE;
    // The type information caches hold one reference each; any other reference to this
    // library's type information is a live object of the framework.
    LONG cached = 0;
    {
        std::lock_guard lock(m_typeInfoMutex);
        for (const auto& cache : m_typeInfoCaches)
            if (cache->info)
                ++cached;
    }
    return TypeLibReferenceCount() == cached ? S_OK : S_FALSE;
}

HRESULT ServerModule::getClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (clsid == CLSID_RuntimeLink && riid == IID_RuntimeLink) {
        if (m_link.structSize == 0)
            return CLASS_E_CLASSNOTAVAILABLE;
        *ppv = const_cast<RuntimeLink*>(&m_link);
        return S_OK;
    }
    const ServerDefinition* definition = m_definition;
    if (!definition)
        return CLASS_E_CLASSNOTAVAILABLE;
    for (size_t i = 0; i < definition->classCount; ++i) {
        const ClassEntry& entry = definition->classes[i];
        if (!entry.clsid || !IsEqualGUID(*entry.clsid, clsid))
            continue;
        IUnknown* object = m_classObjects[i].load();
        if (!object) {
            std::lock_guard lock(m_classObjectMutex);
            object = m_classObjects[i].load();
            if (!object) {
                object = new (std::nothrow) ClassFactory(&entry);
                if (!object)
                    return E_OUTOFMEMORY;
                m_classObjects[i].store(object);
            }
        }
        return object->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerModule::loadOwnTypeLib(ITypeLib** out, std::string* loadedPath)
{
    const std::string path = modulePath();
    std::u16string wide = Utf8ToUtf16(path);
    HRESULT hr = ::LoadTypeLib(wide.c_str(), out);
    if (SUCCEEDED(hr)) {
        *loadedPath = path;
        return hr;
    }
    const std::string tlb = WithTlbExtension(path);
    wide = Utf8ToUtf16(tlb);
    const HRESULT second = ::LoadTypeLib(wide.c_str(), out);
    if (SUCCEEDED(second)) {
        *loadedPath = tlb;
        return second;
    }
    return hr;
}

HRESULT ServerModule::registerServer()
{
    const ServerDefinition* definition = m_definition;
    if (!definition)
        return E_UNEXPECTED;
    const std::string path = modulePath();
    if (path.empty())
        return E_FAIL;
    // A library beside or below the store is recorded relative to it, so a copied program
    // folder finds its own libraries and never the ones it was copied from.
    const ScriptVariables variables = {
        {"MODULE", QuoteForRegistryScript(internal::StoreRelativePath(path))}};
    // All or nothing: a registration that fails half-way leaves the store as it was.
    RegistryBatch batch;
    const auto fail = [&batch](HRESULT hr) {
        batch.discard();
        return hr;
    };
    for (size_t i = 0; i < definition->classCount; ++i) {
        const char* script = definition->classes[i].registryScript;
        if (!script)
            continue;
        const HRESULT hr = RunRegistryScript(script, variables, true);
        if (FAILED(hr))
            return fail(hr);
    }
    if (definition->typeLib) {
        ITypeLib* lib = nullptr;
        std::string loadedPath;
        HRESULT hr = loadOwnTypeLib(&lib, &loadedPath);
        if (FAILED(hr))
            return fail(hr);
        const std::u16string wide = Utf8ToUtf16(internal::StoreRelativePath(loadedPath));
        const std::u16string helpDir =
            Utf8ToUtf16(internal::StoreRelativePath(FolderOfPath(loadedPath)));
        hr = ::RegisterTypeLib(lib, wide.c_str(), helpDir.c_str());
        lib->Release();
        if (FAILED(hr))
            return fail(hr);
    }
    const LONG written = batch.commit();
    return written == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(written);
}

HRESULT ServerModule::unregisterServer()
{
    const ServerDefinition* definition = m_definition;
    if (!definition)
        return S_OK;
    const std::string path = modulePath();
    const ScriptVariables variables = {
        {"MODULE", QuoteForRegistryScript(internal::StoreRelativePath(path))}};
    RegistryBatch batch;
    // Every record is attempted; the first failure is what the caller hears.
    HRESULT first = S_OK;
    for (size_t i = 0; i < definition->classCount; ++i) {
        if (const char* script = definition->classes[i].registryScript) {
            const HRESULT hr = RunRegistryScript(script, variables, false);
            if (FAILED(hr) && SUCCEEDED(first))
                first = hr;
        }
    }
    if (definition->typeLib) {
        ITypeLib* lib = nullptr;
        std::string loadedPath;
        if (SUCCEEDED(loadOwnTypeLib(&lib, &loadedPath))) {
            TLIBATTR* attr = nullptr;
            if (SUCCEEDED(lib->GetLibAttr(&attr))) {
                // Not registered is not a failure; a store that cannot be read or written is.
                if (ClassesRootKeyExists("TypeLib\\" + FormatGuid(attr->guid))) {
                    const HRESULT hr = ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum,
                                                           attr->wMinorVerNum, attr->lcid,
                                                           attr->syskind);
                    if (FAILED(hr) && SUCCEEDED(first) && !LastRegistryError().empty())
                        first = hr;
                }
            }
            if (attr)
                lib->ReleaseTLibAttr(attr);
            lib->Release();
        } else if (SUCCEEDED(first) &&
                   ClassesRootKeyExists("TypeLib\\" + FormatGuid(definition->typeLib->libid))) {
            // Its records would stay behind while the class records went.
            first = TYPE_E_CANTLOADLIBRARY;
        }
    }
    // All or nothing, as registration is.
    if (FAILED(first)) {
        batch.discard();
        return first;
    }
    const LONG written = batch.commit();
    return written == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(written);
}

HRESULT ServerModule::cachedTypeInfo(REFIID iid, LCID lcid, TypeInfoCache** out)
{
    std::lock_guard lock(m_typeInfoMutex);
    for (auto& cache : m_typeInfoCaches) {
        if (cache->iid == iid) {
            *out = cache.get();
            return S_OK;
        }
    }
    const ServerDefinition* definition = m_definition;
    if (!definition || !definition->typeLib)
        return TYPE_E_LIBNOTREGISTERED;
    ITypeLib* lib = nullptr;
    HRESULT hr = ::LoadRegTypeLib(definition->typeLib->libid, definition->typeLib->majorVersion,
                                  definition->typeLib->minorVersion, lcid, &lib);
    if (FAILED(hr))
        return hr;
    ITypeInfo* info = nullptr;
    hr = lib->GetTypeInfoOfGuid(iid, &info);
    lib->Release();
    if (FAILED(hr))
        return hr;
    auto cache = std::make_unique<TypeInfoCache>();
    cache->iid = iid;
    cache->info = info;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* func = nullptr;
            if (FAILED(info->GetFuncDesc(i, &func)))
                continue;
            BSTR name = nullptr;
            UINT count = 0;
            if (SUCCEEDED(info->GetNames(func->memid, &name, 1, &count)) && count == 1 && name)
                cache->names.emplace_back(std::u16string(name, SysStringLen(name)), func->memid);
            SysFreeString(name);
            info->ReleaseFuncDesc(func);
        }
        info->ReleaseTypeAttr(attr);
    }
    *out = cache.get();
    m_typeInfoCaches.push_back(std::move(cache));
    return S_OK;
}

HRESULT ServerModule::typeInfo(REFIID iid, LCID lcid, ITypeInfo** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    TypeInfoCache* cache = nullptr;
    const HRESULT hr = cachedTypeInfo(iid, lcid, &cache);
    if (FAILED(hr))
        return hr;
    cache->info->AddRef();
    *out = cache->info;
    return S_OK;
}

HRESULT ServerModule::idsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    if (!names || !ids)
        return E_INVALIDARG;
    TypeInfoCache* cache = nullptr;
    const HRESULT hr = cachedTypeInfo(iid, lcid, &cache);
    if (FAILED(hr))
        return hr;
    if (count == 1 && names[0]) {
        const std::u16string_view wanted(names[0]);
        for (const auto& [name, id] : cache->names) {
            if (name.size() == wanted.size() && name == wanted) {
                ids[0] = id;
                return S_OK;
            }
        }
    }
    return cache->info->GetIDsOfNames(names, count, ids);
}

HRESULT ServerModule::invoke(REFIID iid, void* instance, DISPID member, LCID lcid, WORD flags,
                             DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                             UINT* argErr)
{
    TypeInfoCache* cache = nullptr;
    const HRESULT hr = cachedTypeInfo(iid, lcid, &cache);
    if (FAILED(hr))
        return hr;
    return cache->info->Invoke(instance, member, flags, params, result, excepInfo, argErr);
}

} // namespace comrt
