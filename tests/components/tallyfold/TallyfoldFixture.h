// Shared pieces of the tallyfold tests: where the built library is, a temporary store with the
// library registered in it, and a counter created through the runtime.
#pragma once

#include "ComRuntime.h"
#include "ICTIFFPageCount.h"
#include "TempStore.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// The program folder of the build ($QW_BIN_DIR, as CTest sets it).
std::string BinDir();
// The component library in the program folder.
std::string LibraryPath();

// A temporary store in use by this process, with the library at `library` registered in it.
class RegisteredStore : public TempStore {
public:
    explicit RegisteredStore(const std::string& library = LibraryPath());
    HRESULT registration() const { return m_registration; }

private:
    HRESULT m_registration = E_FAIL;
};

// Owns one interface reference.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : m_p(p) {}
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    void reset()
    {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    T** out()
    {
        reset();
        return &m_p;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// GetPages with a path given as bytes; the status goes to *hr.
LONG CountPages(ICTIFFPageCount* counter, const std::string& path, HRESULT* hr = nullptr);
