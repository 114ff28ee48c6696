// Pieces shared between the runtime's own source files; not for users of the runtime.
#pragma once

#include "ComRuntime.h"
#include "ComTypes.h"

#include <string>
#include <vector>

namespace comrt::internal {

// Makes this copy of the runtime use the store of the process that loaded its library.
void AttachHost(const HostLink* host);

// dlopen with RTLD_NOW | RTLD_LOCAL, then hand the library this copy's HostLink. Returns the
// handle or null (message in *error). The path is used as given.
void* OpenLibrary(const std::string& path, std::string* error);
// The library's RuntimeLink, or null.
const RuntimeLink* LinkOf(void* handle);

// Where to look for a library registered under `registered`: a relative path is taken from the
// store's folder; an absolute one is tried as it is, then under its file name in the store's
// folder.
std::vector<std::string> ServerPathCandidates(const std::string& registered);

// Base address of the object file (executable or library) that holds `address`.
const void* ObjectBaseOf(const void* address);
// Where to look for a library registered under `registered`: a relative path is taken from the
// store's folder; an absolute one is tried as it is, then under its file name in the store's
// folder.
std::vector<std::string> ServerPathCandidates(const std::string& registered);

// Base address of the object file holding this copy of the runtime.
const void* ThisObjectBase();
// Path of the object file holding this copy of the runtime.
std::string ThisObjectPath();

std::string Narrow(LPCOLESTR text);
bool IEquals(std::string_view a, std::string_view b);

} // namespace comrt::internal
