// libFuzzer entry: any bytes through the PDF page-counting engine must come back as a result,
// never a crash. Timeouts and memory blow-ups found here are what the helper process's time and
// memory bounds exist for; crashes are bugs.

#include "PdfPageCount.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int32_t n = pdfcount::countPages({reinterpret_cast<const char*>(data), size});
    if (n < pdfcount::GaveUp)
        __builtin_trap();  // a result outside the documented range
    return 0;
}
