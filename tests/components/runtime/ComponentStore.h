// What every test of a component library needs: the program folder of the build, a temporary
// store with a library registered in it, and an owned interface reference.
#pragma once

#include "ComRuntime.h"
#include "TempStore.h"

#include <cstdlib>
#include <string>

// The program folder of the build ($QW_BIN_DIR, else bin/ beside the tests' folder).
inline std::string BinDir()
{
    if (const char* dir = std::getenv("QW_BIN_DIR"); dir && *dir)
        return dir;
    return comrt::ExecutableFolder() + "/../bin";
}

// A temporary store in use by this process, with the library at `library` registered in it.
class ComponentStore : public TempStore {
public:
    explicit ComponentStore(const std::string& library)
    {
        comrt::ServerLibrary lib;
        m_registration = lib.open(library);
        if (SUCCEEDED(m_registration))
            m_registration = lib.registerServer();
    }
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
