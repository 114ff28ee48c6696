// Creating components by class identifier, and loading and unloading the libraries that serve them.
//
//   ICTIFFPageCount* counter = nullptr;
//   HRESULT hr = CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
//                                 IID_ICTIFFPageCount, reinterpret_cast<void**>(&counter));
//   ... counter->GetPages(name, &pages); counter->Release();
//   CoFreeUnusedLibraries();   // unloads the library once it reports that nothing holds it
//
// The library serving a class is found in the registration store (ComRegistry.h) under
// HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32, loaded once with dlopen and asked for its
// class object through its exported DllGetClassObject. A relative library path is taken from the
// store's folder (registration records libraries beside or below the store that way, so a copied
// program folder uses its own libraries); an absolute one is used as written. A library that
// another user could have put there or replaced (see IsSafeToLoad) is never loaded.
#pragma once

#include "ComTypes.h"

#include <string>

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;

// The entry points every component library exports, and their types.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

// Apartments are not modelled: both succeed and may be called any number of times.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

// REGDB_E_CLASSNOTREG when the class has no InprocServer32 record; CO_E_DLLNOTFOUND when its
// library cannot be loaded; CO_E_ERRORINDLL when it lacks DllGetClassObject; else the library's.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, void* serverInfo, REFIID riid,
                         void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                         void** ppv);
// Unloads every library loaded by CoGetClassObject whose DllCanUnloadNow returns S_OK.
void CoFreeUnusedLibraries();
// The class identifier registered for a name ("Tallyfold.CTIFFPageCount"), following CurVer.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);

namespace comrt {

// The version block of a component library ("File and product version 1.0.0.1", ...).
struct VersionInfo {
    uint16_t fileVersion[4];
    uint16_t productVersion[4];
    const char* fileDescription; // "Tallyfold Module"
    const char* internalName;    // "Tallyfold"
    const char* projectName;     // string resource 100
    bool selfRegistering;
};

struct TypeLibDesc;

// What a component library tells the runtime about itself. A library answers
// DllGetClassObject(CLSID_RuntimeLink, IID_RuntimeLink, &p) with a pointer to its (static)
// RuntimeLink; this keeps the exports to the four entry points. See ComServer.h.
struct HostLink;
struct RuntimeLink {
    uint32_t structSize;          // sizeof(RuntimeLink)
    const TypeLibDesc* typeLib;   // the compiled-in type library, or null
    const VersionInfo* version;   // the version block, or null
    // Called by the loading process right after dlopen, so that the library's registry calls go
    // to the loader's store.
    void (*attachHost)(const HostLink* host);
};
struct HostLink {
    uint32_t structSize;
    // Copies the loader's current store path (NUL-terminated) into buf; returns the length it
    // needs without the NUL.
    size_t (*storePath)(char* buf, size_t cap);
    // Hands the loader why the store could not be read or written, so that tools loading a
    // library (regsvr) can say it in words.
    void (*storeError)(const char* text);
};
inline constexpr CLSID CLSID_RuntimeLink = MakeGuid("{6B1E7C52-0D7A-4C3B-9E51-2F4A8C0D3E61}");
inline constexpr IID IID_RuntimeLink = MakeGuid("{6B1E7C53-0D7A-4C3B-9E51-2F4A8C0D3E61}");

// An opened component library, for tools and tests that call its entry points themselves.
class ServerLibrary {
public:
    ServerLibrary() = default;
    ~ServerLibrary();
    ServerLibrary(const ServerLibrary&) = delete;
    ServerLibrary& operator=(const ServerLibrary&) = delete;

    // dlopen (path made absolute) and attach this process's store. CO_E_DLLNOTFOUND on failure,
    // with the loader's message in error().
    HRESULT open(const std::string& path);
    void close();
    bool isOpen() const { return m_handle != nullptr; }
    const std::string& path() const { return m_path; }
    const std::string& error() const { return m_error; }

    // The entry points; each returns CO_E_ERRORINDLL when the library lacks it.
    HRESULT canUnloadNow() const;
    HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** ppv) const;
    HRESULT registerServer() const;
    HRESULT unregisterServer() const;
    // The library's RuntimeLink, or null when it has none.
    const RuntimeLink* runtimeLink() const;

private:
    void* symbol(const char* name) const;
    void* m_handle = nullptr;
    std::string m_path;
    std::string m_error;
};

// A copy of a library's version block.
struct FileVersion {
    uint16_t fileVersion[4] = {0, 0, 0, 0};
    uint16_t productVersion[4] = {0, 0, 0, 0};
    std::string fileDescription;
    std::string internalName;
    std::string projectName;
    bool selfRegistering = false;
    std::string text() const; // "1.0.0.1"
};
// Reads a library's version block: CO_E_DLLNOTFOUND when it cannot be loaded, E_FAIL when it has
// no version block.
HRESULT GetFileVersionInfo(const std::string& libraryPath, FileVersion* out);

// Why the last CoGetClassObject or CoCreateInstance on this thread failed, in words: the store or
// library concerned, the reason, and the command that repairs it, for example
//   "cannot load /x/libpdfcounter.so: <the loader's reason>; repair: /x/regsvr /x/libpdfcounter.so"
// Empty after a success.
std::string LastActivationError();

// The HostLink of this copy of the runtime (used by ServerLibrary and by the class loader).
const HostLink* ThisHostLink();

} // namespace comrt
