// The TIFF page counter component class. It keeps no state between calls: each call opens the
// file afresh (only its read blocks are kept, so they are allocated once per counter). Its IUnknown comes from comrt::Object / comrt::AggregatedObject. IPageCountAbort
// lets another thread stop a count in progress (a file with a very long directory chain).
#pragma once

#include "ComServer.h"
#include "ICTIFFPageCount.h"
#include "IPageCountAbort.h"
#include "TiffBlockReader.h"

#include <atomic>

class CTIFFPageCount : public comrt::DispatchImpl<ICTIFFPageCount, IID_ICTIFFPageCount>,
                       public IPageCountAbort {
public:
    void* FindInterface(REFIID riid);
    HRESULT GetPages(BSTR filename, LONG* pVal) override;
    HRESULT Abort() override;

private:
    std::atomic<bool> m_abort{false};
    tallyfold::TiffBlockReader m_reader;
};
