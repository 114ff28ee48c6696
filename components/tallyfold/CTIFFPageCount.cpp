#include "CTIFFPageCount.h"

#include "TiffPageCount.h"

#include <string>

void* CTIFFPageCount::FindInterface(REFIID riid)
{
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ICTIFFPageCount)
        return static_cast<ICTIFFPageCount*>(this);
    if (riid == IID_IPageCountAbort)
        return static_cast<IPageCountAbort*>(this);
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
        // An abort that came before this call is not meant for it.
        m_abort.store(false);
        *pVal = tallyfold::CountTiffPages(name.c_str(), m_reader, &m_abort);
        return S_OK;
    } catch (...) { // nothing may cross the interface
        return E_OUTOFMEMORY;
    }
}

HRESULT CTIFFPageCount::Abort()
{
    m_abort.store(true);
    return S_OK;
}
