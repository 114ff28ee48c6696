#include "ComRuntime.h"

#include "ComInternal.h"
#include "ComRegistry.h"

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct LoadedLibrary {
    void* handle = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
};

// Libraries loaded for class objects, by the path their class was registered with.
std::mutex g_librariesMutex;
std::map<std::string, LoadedLibrary> g_libraries;

void Anchor() {}

template <class Fn>
Fn SymbolOf(void* handle, const char* name)
{
    return handle ? reinterpret_cast<Fn>(::dlsym(handle, name)) : nullptr;
}

HRESULT LibraryFor(const std::string& path, LoadedLibrary* out)
{
    std::lock_guard lock(g_librariesMutex);
    auto it = g_libraries.find(path);
    if (it == g_libraries.end()) {
        std::string error;
        void* handle = nullptr;
        for (const std::string& candidate : comrt::internal::ServerPathCandidates(path)) {
            handle = comrt::internal::OpenLibrary(candidate, &error);
            if (handle)
                break;
        }
        if (!handle)
            return CO_E_DLLNOTFOUND;
        LoadedLibrary lib;
        lib.handle = handle;
        lib.getClassObject = SymbolOf<DllGetClassObjectFn>(handle, "DllGetClassObject");
        lib.canUnloadNow = SymbolOf<DllCanUnloadNowFn>(handle, "DllCanUnloadNow");
        if (!lib.getClassObject) {
            ::dlclose(handle);
            return CO_E_ERRORINDLL;
        }
        it = g_libraries.emplace(path, lib).first;
    }
    *out = it->second;
    return S_OK;
}

} // namespace

// ---- shared helpers ----

std::vector<std::string> comrt::internal::ServerPathCandidates(const std::string& registered)
{
    std::string folder = RegistryStorePath();
    const size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
    if (registered.empty())
        return {};
    if (registered[0] != '/')
        return {folder + "/" + registered};
    // A program folder copied elsewhere as a whole keeps working: its store still names the
    // libraries where they were built, and each is found beside the store instead.
    const std::string beside = folder + registered.substr(registered.rfind('/'));
    if (beside == registered)
        return {registered};
    return {registered, beside};
}

void* comrt::internal::OpenLibrary(const std::string& path, std::string* error)
{
    ::dlerror();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) {
            const char* e = ::dlerror();
            *error = e ? e : "cannot load " + path;
        }
        return nullptr;
    }
    if (const RuntimeLink* link = LinkOf(handle); link && link->attachHost)
        link->attachHost(ThisHostLink());
    return handle;
}

const comrt::RuntimeLink* comrt::internal::LinkOf(void* handle)
{
    auto get = SymbolOf<DllGetClassObjectFn>(handle, "DllGetClassObject");
    if (!get)
        return nullptr;
    void* p = nullptr;
    if (FAILED(get(CLSID_RuntimeLink, IID_RuntimeLink, &p)) || !p)
        return nullptr;
    const auto* link = static_cast<const RuntimeLink*>(p);
    return link->structSize >= sizeof(RuntimeLink) ? link : nullptr;
}

const void* comrt::internal::ObjectBaseOf(const void* address)
{
    Dl_info info{};
    if (!::dladdr(address, &info))
        return nullptr;
    return info.dli_fbase;
}

const void* comrt::internal::ThisObjectBase()
{
    return ObjectBaseOf(reinterpret_cast<const void*>(&Anchor));
}

std::string comrt::internal::ThisObjectPath()
{
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<const void*>(&Anchor), &info) || !info.dli_fname)
        return {};
    std::string path = info.dli_fname;
    if (path.empty() || path.find('/') == std::string::npos)
        return {}; // the main program: dladdr has no path for it
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

std::string comrt::internal::Narrow(LPCOLESTR text)
{
    if (!text)
        return {};
    size_t n = 0;
    while (text[n])
        ++n;
    return Utf16ToUtf8(std::u16string_view(text, n));
}

bool comrt::internal::IEquals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// ---- creation ----

HRESULT CoInitialize(void*) { return S_OK; }
void CoUninitialize() {}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, void*, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!(clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
        return REGDB_E_CLASSNOTREG;
    std::string path;
    if (!comrt::ReadClassesRootString("CLSID\\" + comrt::FormatGuid(clsid) + "\\InprocServer32",
                                      nullptr, &path) ||
        path.empty())
        return REGDB_E_CLASSNOTREG;
    LoadedLibrary lib;
    const HRESULT hr = LibraryFor(path, &lib);
    if (FAILED(hr))
        return hr;
    try {
        return lib.getClassObject(clsid, riid, ppv);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, clsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    if (!factory)
        return E_UNEXPECTED;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries()
{
    std::lock_guard lock(g_librariesMutex);
    for (auto it = g_libraries.begin(); it != g_libraries.end();) {
        if (it->second.canUnloadNow && it->second.canUnloadNow() == S_OK) {
            ::dlclose(it->second.handle);
            it = g_libraries.erase(it);
        } else {
            ++it;
        }
    }
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid)
{
    if (!progId || !clsid)
        return E_INVALIDARG;
    std::string name = comrt::internal::Narrow(progId);
    std::string text;
    // A version-independent name points at its current version.
    for (int hops = 0; hops < 2; ++hops) {
        if (name.empty() || name.find('\\') != std::string::npos)
            return REGDB_E_CLASSNOTREG;
        if (comrt::ReadClassesRootString(name + "\\CLSID", nullptr, &text))
            return comrt::ParseGuid(text, clsid) ? S_OK : REGDB_E_CLASSNOTREG;
        if (!comrt::ReadClassesRootString(name + "\\CurVer", nullptr, &name))
            break;
    }
    return REGDB_E_CLASSNOTREG;
}

// ---- ServerLibrary ----

comrt::ServerLibrary::~ServerLibrary() { close(); }

HRESULT comrt::ServerLibrary::open(const std::string& path)
{
    close();
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(path, ec);
    m_path = ec ? path : abs.lexically_normal().string();
    m_error.clear();
    m_handle = internal::OpenLibrary(m_path, &m_error);
    return m_handle ? S_OK : CO_E_DLLNOTFOUND;
}

void comrt::ServerLibrary::close()
{
    if (m_handle)
        ::dlclose(m_handle);
    m_handle = nullptr;
}

void* comrt::ServerLibrary::symbol(const char* name) const
{
    return m_handle ? ::dlsym(m_handle, name) : nullptr;
}

HRESULT comrt::ServerLibrary::canUnloadNow() const
{
    auto fn = reinterpret_cast<DllCanUnloadNowFn>(symbol("DllCanUnloadNow"));
    return fn ? fn() : CO_E_ERRORINDLL;
}

HRESULT comrt::ServerLibrary::getClassObject(REFCLSID clsid, REFIID riid, void** ppv) const
{
    auto fn = reinterpret_cast<DllGetClassObjectFn>(symbol("DllGetClassObject"));
    return fn ? fn(clsid, riid, ppv) : CO_E_ERRORINDLL;
}

HRESULT comrt::ServerLibrary::registerServer() const
{
    auto fn = reinterpret_cast<DllRegisterServerFn>(symbol("DllRegisterServer"));
    return fn ? fn() : CO_E_ERRORINDLL;
}

HRESULT comrt::ServerLibrary::unregisterServer() const
{
    auto fn = reinterpret_cast<DllUnregisterServerFn>(symbol("DllUnregisterServer"));
    return fn ? fn() : CO_E_ERRORINDLL;
}

const comrt::RuntimeLink* comrt::ServerLibrary::runtimeLink() const
{
    return m_handle ? internal::LinkOf(m_handle) : nullptr;
}

// ---- version block ----

std::string comrt::FileVersion::text() const
{
    return std::to_string(fileVersion[0]) + "." + std::to_string(fileVersion[1]) + "." +
           std::to_string(fileVersion[2]) + "." + std::to_string(fileVersion[3]);
}

HRESULT comrt::GetFileVersionInfo(const std::string& libraryPath, FileVersion* out)
{
    if (!out)
        return E_POINTER;
    ServerLibrary lib;
    HRESULT hr = lib.open(libraryPath);
    if (FAILED(hr))
        return hr;
    const RuntimeLink* link = lib.runtimeLink();
    if (!link || !link->version)
        return E_FAIL;
    const VersionInfo& v = *link->version;
    FileVersion copy;
    std::memcpy(copy.fileVersion, v.fileVersion, sizeof copy.fileVersion);
    std::memcpy(copy.productVersion, v.productVersion, sizeof copy.productVersion);
    copy.fileDescription = v.fileDescription ? v.fileDescription : "";
    copy.internalName = v.internalName ? v.internalName : "";
    copy.projectName = v.projectName ? v.projectName : "";
    copy.selfRegistering = v.selfRegistering;
    *out = std::move(copy);
    return S_OK;
}
