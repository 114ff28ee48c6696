// The TIFF page counter as its clients see it: identifiers and the ICTIFFPageCount interface.
// Clients never link the tallyfold library; they create the counter by class identifier:
//
//   ICTIFFPageCount* counter = nullptr;
//   if (SUCCEEDED(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
//                                  IID_ICTIFFPageCount, reinterpret_cast<void**>(&counter)))) {
//       LONG pages = 0;
//       BSTR name = comrt::AllocBstrFromFileName(path);   // path: the file name's bytes
//       HRESULT hr = counter->GetPages(name, &pages);
//       SysFreeString(name);
//       counter->Release();
//   }
#pragma once

#include "ComTypes.h"

inline constexpr CLSID CLSID_CTIFFPageCount = comrt::MakeGuid("{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}");
inline constexpr IID IID_ICTIFFPageCount = comrt::MakeGuid("{2AB58655-AB34-4B4A-AF15-8E336B166A31}");
inline constexpr GUID LIBID_TALLYFOLDLib = comrt::MakeGuid("{94C5833A-F2F7-42C4-8AFD-C7992E61E667}");

// Dual interface: IDispatch's members, then GetPages at vtable slot 7 (dispatch id 1, property
// get). pVal: 0 or more pages, -1 the file cannot be opened, -2 not a TIFF signature.
// Returns S_OK, or 0xFFFFFFFF for an empty name (pVal untouched), E_POINTER for a null pVal.
struct ICTIFFPageCount : IDispatch {
    virtual HRESULT GetPages(BSTR filename, LONG* pVal) = 0;
};

constexpr DISPID DISPID_GetPages = 1;
// The status GetPages returns for an empty file name.
constexpr HRESULT TALLYFOLD_E_EMPTYNAME = MakeHResult(0xFFFFFFFF);
