// The TIFF page counter component class. It keeps no state between calls: each call opens the
// file afresh. Its IUnknown comes from comrt::Object / comrt::AggregatedObject.
#pragma once

#include "ComServer.h"
#include "ICTIFFPageCount.h"

class CTIFFPageCount : public comrt::DispatchImpl<ICTIFFPageCount, IID_ICTIFFPageCount> {
public:
    void* FindInterface(REFIID riid);
    HRESULT GetPages(BSTR filename, LONG* pVal) override;
};
