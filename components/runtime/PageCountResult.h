#pragma once
// What a page counter's answer means, for both counters and the program that calls them: 0 or
// more is a page count, below zero one of these codes. The TIFF counter answers CannotOpen and
// WrongSignature (and 0 for a file with the signature that libtiff cannot read); the PDF counter
// uses all five.

#include <cstdint>

namespace pagecount {

enum Result : int32_t {
    CannotOpen = -1,      // the file cannot be opened for reading (missing, no access, not a file)
    WrongSignature = -2,  // the file does not start as this counter's format does
    Damaged = -3,         // no catalog or page tree could be recovered
    NeedsPassword = -4,   // encrypted, and the empty user password does not open it
    GaveUp = -5,          // a time, memory or work bound was hit, or the call was aborted
};

enum class Format { Tiff, Pdf };

// The reason a count failed, as a sentence without a full stop; nullptr when the answer is a page
// count or a code of no counter.
constexpr const char *reasonText(Format format, int32_t code)
{
    switch (code) {
    case CannotOpen: return "Cannot open the file";
    case WrongSignature: return format == Format::Tiff ? "Not a TIFF file" : "Not a PDF file";
    case Damaged: return "Damaged beyond repair";
    case NeedsPassword: return "Needs a password";
    case GaveUp: return "Gave up after 10 s";
    case 0: return format == Format::Tiff ? "The file could not be read as a TIFF" : nullptr;
    default: return nullptr;
    }
}

}  // namespace pagecount
