// The registration store: the classes root of a registry, kept in a text file of REGEDIT4 form
//
//   REGEDIT4
//
//   [HKEY_CLASSES_ROOT\CLSID\{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}]
//   @="CTIFFPageCount Class"
//   "ProgID"="Tallyfold.CTIFFPageCount.1"
//
// and read and written through the registry calls below (UTF-8 names and string values only).
// Key names compare case-insensitively, as on Windows. Every change is written at once and
// atomically (temporary file + rename, under an advisory lock beside the store), so a crash never
// leaves half a store and two processes registering at the same time lose nothing. A rewrite
// changes only the lines of what changed: comments, values of other types, continuation lines and
// sections it does not understand stay byte for byte. Reads reuse the parsed store until the file
// changes (size, times or identity), so creating objects does not re-read it every time.
//
// The store is the file "quirewell.reg" in the folder of the running executable, or in an
// installed program's component folder (ProgramLayout.h), unless comrt::SetRegistryStorePath
// points it elsewhere. A component library loaded through the
// runtime uses the store of the process that loaded it.
#pragma once

#include "ComTypes.h"

#include <string>

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;

// All calls return a Windows error code (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA,
// ERROR_CANTWRITE, ...). subKey uses '\' between key names; null or "" means the key itself.
LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* className, DWORD options,
                    REGSAM access, void* security, HKEY* result, DWORD* disposition);
// Only REG_SZ values are stored. data holds cbData bytes of UTF-8 text, optionally NUL-terminated.
// valueName null or "" is the key's default value.
LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                   DWORD cbData);
// Copies the value with its NUL; *cbData is in/out (bytes). data null asks for the size only.
LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* cbData);
LONG RegDeleteValue(HKEY key, const char* valueName);
// Deletes subKey (or, when subKey is null, everything below key) with all its descendants.
LONG RegDeleteTree(HKEY key, const char* subKey);
// Deletes subKey only when it has no subkeys (ERROR_ACCESS_DENIED otherwise), as Windows does.
LONG RegDeleteKey(HKEY key, const char* subKey);
// Names of the direct subkeys, one per index, ERROR_NO_MORE_ITEMS (259) past the last.
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved,
                  char* className, DWORD* cchClass, void* lastWriteTime);
LONG RegCloseKey(HKEY key);

namespace comrt {

// Points this process's registration store at another file (tests use a temporary one), or back
// at the default with an empty path.
void SetRegistryStorePath(const std::string& path);
// The store file in use now.
std::string RegistryStorePath();
// Groups this thread's registry changes while it lives: the store is locked and read once at
// construction and written once by commit() or at destruction (changes made so far are kept even
// when a later one fails). Nested batches join the outer one. Registration uses it so that
// registering a component rewrites the store once rather than once per value.
class RegistryBatch {
public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
    // Writes the changes (outermost batch only); the store's error code, ERROR_SUCCESS if none.
    LONG commit();
    // Drops every change of the batch, made so far or later (of the outermost batch when
    // nested): the store stays as it was. For a step that must be all or nothing.
    void discard();

private:
    bool m_owner = false;
    bool m_done = false;
    LONG m_result = ERROR_SUCCESS;
};

// Why the last registry call on this thread that failed on the store itself (unreadable, damaged,
// not writable) failed, naming the store and the reason; also set by calls a loaded component
// library makes on this process's store. Stays until cleared.
std::string LastRegistryError();
void ClearLastRegistryError();

// Folder of the running executable (from /proc/self/exe), without a trailing '/'.
std::string ExecutableFolder();

// Convenience for the runtime and tests: the default (or named) string value of a key below
// HKEY_CLASSES_ROOT. False when the key or value is missing.
bool ReadClassesRootString(const std::string& keyPath, const char* valueName, std::string* out);
bool ClassesRootKeyExists(const std::string& keyPath);

} // namespace comrt
