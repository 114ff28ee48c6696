// libFuzzer entry: any bytes through the PDF page-counting engine must come back as a result,
// never a crash, and reading page objects in place must give the count qpdf's parse of them
// gives. Timeouts and memory blow-ups found here are what the helper process's time and memory
// bounds exist for; crashes and disagreements are bugs.

#include "PdfPageCount.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const int32_t answer = pdfcount::countPages(bytes);
    if (answer < pdfcount::GaveUp)
        __builtin_trap();  // a result outside the documented range
    if (pdfcount::countPages(bytes, pdfcount::Readers::Qpdf) !=
        pdfcount::countPages(bytes, pdfcount::Readers::Qpdf, pdfcount::PagePeekUse::Off))
        __builtin_trap();  // the in-place page peek disagrees with qpdf's parse
    // What qpdf met on the way decides whether poppler is asked too, so the peek must not
    // change that either.
    if (answer != pdfcount::countPages(bytes, pdfcount::Readers::All, pdfcount::PagePeekUse::Off))
        __builtin_trap();  // the answer itself changes with the peek
    return 0;
}
