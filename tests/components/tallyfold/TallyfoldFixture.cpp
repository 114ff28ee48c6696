#include "TallyfoldFixture.h"

std::string LibraryPath() { return BinDir() + "/libtallyfold.so"; }

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
