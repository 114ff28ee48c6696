// Shared pieces of the tallyfold tests: where the built library is, a temporary store with the
// library registered in it, and counting through the interface.
#pragma once

#include "ComponentStore.h"
#include "ICTIFFPageCount.h"

#include <gtest/gtest.h>

#include <string>

// The component library in the program folder.
std::string LibraryPath();

// A temporary store with the tallyfold library (or a copy of it at `library`) registered in it.
class RegisteredStore : public ComponentStore {
public:
    explicit RegisteredStore(const std::string& library = LibraryPath()) : ComponentStore(library) {}
};

// GetPages with a path given as bytes; the status goes to *hr.
LONG CountPages(ICTIFFPageCount* counter, const std::string& path, HRESULT* hr = nullptr);
