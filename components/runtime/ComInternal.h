// Pieces shared between the runtime's own source files; not for users of the runtime.
#pragma once

#include "ComRuntime.h"
#include "ComTypes.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace comrt::internal {

// Text kept per thread without a destructor: a thread_local that has one keeps a component
// library loaded for good once the thread has used it. Longer text is cut.
class ThreadText {
public:
    void set(std::string_view text)
    {
        m_size = text.size() < sizeof m_text ? text.size() : sizeof m_text;
        std::memcpy(m_text, text.data(), m_size);
    }
    void clear() { m_size = 0; }
    bool empty() const { return m_size == 0; }
    std::string str() const { return std::string(m_text, m_size); }

private:
    char m_text[8192];
    size_t m_size;
};

// Makes this copy of the runtime use the store of the process that loaded its library.
void AttachHost(const HostLink* host);

// Opens the file as a CheckedFile (refused when other users could change it, never a FIFO or
// device), dlopens that very file through its descriptor with RTLD_NOW | RTLD_LOCAL, then hands
// the library this copy's HostLink. Returns the handle or null (message in *error).
void* OpenLibrary(const std::string& path, std::string* error);
// Called by OpenLibrary between the check and the load, with the resolved path: lets a test
// replace the file there and see that what was checked is what gets loaded. Null removes it.
using BeforeLoadHook = void (*)(const std::string& resolved, void* context);
void SetBeforeLoadHook(BeforeLoadHook hook, void* context);
// The library's RuntimeLink, or null.
const RuntimeLink* LinkOf(void* handle);


// Base address of the object file (executable or library) that holds `address`.
const void* ObjectBaseOf(const void* address);
// The file a path recorded in the store names: a relative one is taken from the store's folder,
// an absolute one is used as written.
std::string ResolveStorePath(const std::string& recorded);
// What registration records for a file: its path relative to the store's folder when it lies in
// that folder or below it ("." for the folder itself), else its absolute path.
std::string StoreRelativePath(const std::string& path);
// The store's folder, absolute.
std::string StoreFolder();

// How many times this copy of the runtime has parsed the store (tests check the cache with it).
unsigned StoreLoadCount();

// Base address of the object file holding this copy of the runtime.
const void* ThisObjectBase();
// Path of the object file holding this copy of the runtime.
std::string ThisObjectPath();

std::string Narrow(LPCOLESTR text);
bool IEquals(std::string_view a, std::string_view b);

} // namespace comrt::internal
