#include "TallyfoldFixture.h"

#include <cstdlib>

std::string BinDir()
{
    if (const char* dir = std::getenv("QW_BIN_DIR"); dir && *dir)
        return dir;
    return comrt::ExecutableFolder() + "/../bin";
}

std::string LibraryPath() { return BinDir() + "/libtallyfold.so"; }

RegisteredStore::RegisteredStore(const std::string& library)
{
    comrt::ServerLibrary lib;
    m_registration = lib.open(library);
    if (SUCCEEDED(m_registration))
        m_registration = lib.registerServer();
}

LONG CountPages(ICTIFFPageCount* counter, const std::string& path, HRESULT* hr)
{
    BSTR name = comrt::AllocBstrFromFileName(path);
    LONG pages = 12345;
    const HRESULT status = counter->GetPages(name, &pages);
    SysFreeString(name);
    if (hr)
        *hr = status;
    return pages;
}
