#include "CTIFFPageCount.h"

#include "TiffPageCount.h"

#include <string>

void* CTIFFPageCount::FindInterface(REFIID riid)
{
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ICTIFFPageCount)
        return static_cast<ICTIFFPageCount*>(this);
    return nullptr;
}

HRESULT CTIFFPageCount::GetPages(BSTR filename, LONG* pVal)
{
    try {
        // The narrow name: UTF-8 up to the first NUL, raw bytes where the caller escaped them.
        const std::string name =
            filename ? comrt::FileNameFromUtf16(std::u16string_view(filename)) : std::string();
        if (name.empty())
            return TALLYFOLD_E_EMPTYNAME;
        if (!pVal)
            return E_POINTER;
        *pVal = tallyfold::CountTiffPages(name.c_str());
        return S_OK;
    } catch (...) { // nothing may cross the interface
        return E_OUTOFMEMORY;
    }
}
