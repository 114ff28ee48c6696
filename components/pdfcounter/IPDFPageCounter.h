#pragma once
// The PDF page counter as its callers see it: the interface, its identifiers and the meaning of
// its results. Callers never link the pdfcounter library; they create the counter by class
// identifier (link target pdfcounter_interface for this header and the runtime):
//
//   IPDFPageCounter* counter = nullptr;
//   if (SUCCEEDED(CoCreateInstance(CLSID_CPDFPageCounter, nullptr, CLSCTX_INPROC_SERVER,
//                                  IID_IPDFPageCounter, reinterpret_cast<void**>(&counter)))) {
//       LONG pages = 0;
//       BSTR name = comrt::AllocBstrFromUtf8(path);
//       HRESULT hr = counter->GetPages(name, &pages);
//       SysFreeString(name);
//       counter->Release();
//   }

#include "ComTypes.h"
#include "PageCountResult.h"

// Dual interface; GetPages is vtable slot 7 and dispatch id 1. The counter also answers
// IPageCountAbort (IPageCountAbort.h) and IPageCountPrefetch (IPageCountPrefetch.h).
struct IPDFPageCounter : IDispatch {
    // Page count of the PDF named by `filename` (full path) into *pVal, or a negative
    // PdfPagesResult. S_OK on every such path; an empty name gives the failure status
    // 0xFFFFFFFF and leaves *pVal as it was; a null pVal gives E_POINTER.
    virtual HRESULT GetPages(BSTR filename, LONG* pVal) = 0;
};

inline constexpr CLSID CLSID_CPDFPageCounter = comrt::MakeGuid("{91AB0239-0B45-4982-AD46-DAAC2DE0BA8A}");
inline constexpr IID IID_IPDFPageCounter = comrt::MakeGuid("{3D71AB1E-73DC-4D0E-B5F7-6BE0A34A2DBE}");
inline constexpr GUID LIBID_PDFCOUNTERLib = comrt::MakeGuid("{6C152C32-EDF7-4250-A6E5-6A1219B083D5}");

// The status GetPages returns for an empty file name.
inline constexpr HRESULT PDFCOUNTER_E_EMPTYNAME = MakeHResult(0xFFFFFFFF);

// Negative results of GetPages.
enum PdfPagesResult : LONG {
    PDFPAGES_CANNOT_OPEN = pagecount::CannotOpen,
    PDFPAGES_NOT_PDF = pagecount::WrongSignature,
    PDFPAGES_DAMAGED = pagecount::Damaged,
    PDFPAGES_NEEDS_PASSWORD = pagecount::NeedsPassword,
    PDFPAGES_GAVE_UP = pagecount::GaveUp,  // also when the call was aborted (IPageCountAbort)
};
