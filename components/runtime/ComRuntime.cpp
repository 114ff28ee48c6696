#include "ComRuntime.h"

#include "ComInternal.h"
#include "ComRegistry.h"
#include "FileAccess.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
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

// Libraries loaded for class objects, by the file they were loaded from.
std::mutex g_librariesMutex;
std::map<std::string, LoadedLibrary> g_libraries;

thread_local comrt::internal::ThreadText t_activationError;

void Anchor() {}

template <class Fn>
Fn SymbolOf(void* handle, const char* name)
{
    return handle ? reinterpret_cast<Fn>(::dlsym(handle, name)) : nullptr;
}

bool IsFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The regsvr command that registers `library` in the store in use.
std::string RegsvrCommand(const std::string& library)
{
    const std::string folder = comrt::internal::StoreFolder();
    const std::string beside = folder + "/regsvr";
    std::string command = IsFile(beside) ? beside : std::string("regsvr");
    command += " " + library;
    // regsvr's own default is the store beside it.
    const std::string store = comrt::RegistryStorePath();
    if (!IsFile(beside) || store != folder + "/quirewell.reg")
        command += " " + store;
    return command;
}

HRESULT LibraryFor(const std::string& file, LoadedLibrary* out)
{
    std::lock_guard lock(g_librariesMutex);
    auto it = g_libraries.find(file);
    if (it == g_libraries.end()) {
        std::string error;
        void* handle = comrt::internal::OpenLibrary(file, &error);
        if (!handle) {
            t_activationError.set(error + "; repair: " + RegsvrCommand(file));
            return CO_E_DLLNOTFOUND;
        }
        LoadedLibrary lib;
        lib.handle = handle;
        lib.getClassObject = SymbolOf<DllGetClassObjectFn>(handle, "DllGetClassObject");
        lib.canUnloadNow = SymbolOf<DllCanUnloadNowFn>(handle, "DllCanUnloadNow");
        if (!lib.getClassObject) {
            ::dlclose(handle);
            t_activationError.set(file + " is not a component library (it has no "
                                         "DllGetClassObject); repair: " +
                                  RegsvrCommand("<component library>"));
            return CO_E_ERRORINDLL;
        }
        it = g_libraries.emplace(file, lib).first;
    }
    *out = it->second;
    return S_OK;
}

} // namespace

// ---- shared helpers ----

std::string comrt::internal::StoreFolder()
{
    std::string store = RegistryStorePath();
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(store, ec);
    if (!ec)
        store = abs.lexically_normal().string();
    const size_t slash = store.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : store.substr(0, slash);
}

std::string comrt::internal::ResolveStorePath(const std::string& recorded)
{
    if (recorded.empty() || recorded[0] == '/')
        return recorded;
    if (recorded == ".")
        return StoreFolder();
    return StoreFolder() + "/" + recorded;
}

std::string comrt::internal::StoreRelativePath(const std::string& path)
{
    std::error_code ec;
    // Compare real locations: the store may be named through a link to its folder.
    const std::filesystem::path file = std::filesystem::weakly_canonical(path, ec);
    if (ec)
        return path;
    const std::filesystem::path folder = std::filesystem::weakly_canonical(StoreFolder(), ec);
    if (ec)
        return path;
    const std::filesystem::path rel = file.lexically_relative(folder);
    if (rel.empty() || *rel.begin() == "..")
        return path;
    return rel.string();
}

namespace {

// One descriptor per library file ever loaded, kept open for the life of the process: a library
// is loaded by the /proc name of its descriptor, and the loader knows loaded libraries by name,
// so that name must never come to mean another file (as it would once the number were reused).
std::mutex g_keptMutex;
std::map<std::pair<dev_t, ino_t>, int> g_keptDescriptors;

// The /proc name of a kept descriptor for the file open on fd (which is closed or kept).
std::string KeptName(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return {};
    }
    std::lock_guard lock(g_keptMutex);
    // The kept descriptor holds its file open, so a file with the same device and inode is it.
    auto [it, added] = g_keptDescriptors.emplace(std::make_pair(st.st_dev, st.st_ino), fd);
    if (!added)
        ::close(fd);
    return "/proc/self/fd/" + std::to_string(it->second);
}

std::atomic<comrt::internal::BeforeLoadHook> g_beforeLoad{nullptr};
std::atomic<void*> g_beforeLoadContext{nullptr};

} // namespace

void comrt::internal::SetBeforeLoadHook(BeforeLoadHook hook, void* context)
{
    g_beforeLoadContext.store(context);
    g_beforeLoad.store(hook);
}

void* comrt::internal::OpenLibrary(const std::string& path, std::string* error)
{
    CheckedFile file(path);
    if (file.outcome() != CheckedFile::Outcome::Open) {
        if (error)
            *error = (file.outcome() == CheckedFile::Outcome::Unsafe ? "refusing to load "
                                                                     : "cannot load ") +
                     path + ": " + file.reason();
        return nullptr;
    }
    if (const BeforeLoadHook hook = g_beforeLoad.load())
        hook(file.resolved(), g_beforeLoadContext.load());
    const std::string name = KeptName(file.release());
    if (name.empty()) {
        if (error)
            *error = "cannot load " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    ::dlerror();
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) {
            const char* e = ::dlerror();
            std::string reason = e ? e : "unknown reason";
            // dlerror names the file itself first; say it once, by the name the caller knows.
            if (reason.compare(0, name.size() + 2, name + ": ") == 0)
                reason.erase(0, name.size() + 2);
            *error = "cannot load " + path + ": " + reason;
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
    // Loaded through its descriptor (OpenLibrary): the descriptor knows where the file is.
    if (path.compare(0, 14, "/proc/self/fd/") == 0) {
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n > 0 && static_cast<size_t>(n) < target.size() && target[0] == '/') {
            target.resize(static_cast<size_t>(n));
            return target;
        }
    }
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
    t_activationError.clear();
    const std::string clsidText = comrt::FormatGuid(clsid);
    if (!(clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) {
        t_activationError.set("class " + clsidText + " is only served in-process here");
        return REGDB_E_CLASSNOTREG;
    }
    std::string path;
    comrt::ClearLastRegistryError();
    if (!comrt::ReadClassesRootString("CLSID\\" + clsidText + "\\InprocServer32", nullptr, &path) ||
        path.empty()) {
        const std::string store = comrt::RegistryStorePath();
        std::string why = comrt::LastRegistryError();
        if (why.empty() && !IsFile(store))
            why = "the registration store " + store + " is missing";
        else if (why.empty())
            why = "class " + clsidText + " is not registered in " + store;
        t_activationError.set(why + "; repair: " + RegsvrCommand("<component library>"));
        return REGDB_E_CLASSNOTREG;
    }
    const std::string file = comrt::internal::ResolveStorePath(path);
    LoadedLibrary lib;
    const HRESULT hr = LibraryFor(file, &lib);
    if (FAILED(hr))
        return hr;
    HRESULT got = E_UNEXPECTED;
    try {
        got = lib.getClassObject(clsid, riid, ppv);
    } catch (...) {
        got = E_UNEXPECTED;
    }
    if (FAILED(got))
        t_activationError.set(file + " does not serve class " + clsidText + " (" +
                              comrt::DescribeStatus(got) + "); repair: " + RegsvrCommand(file));
    return got;
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
    if (!factory) {
        t_activationError.set("class " + comrt::FormatGuid(clsid) + " gave no class object");
        return E_UNEXPECTED;
    }
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    if (FAILED(hr))
        t_activationError.set("class " + comrt::FormatGuid(clsid) +
                              " could not create an object: " + comrt::DescribeStatus(hr));
    return hr;
}

std::string comrt::LastActivationError() { return t_activationError.str(); }

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
    // Not normalised: "link/.." leads wherever the link leads, as it does for the shell.
    m_path = ec ? path : abs.string();
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
