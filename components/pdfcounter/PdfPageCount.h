#pragma once
// Counting the pages of a PDF held in memory or on disk. This is the engine the helper process
// runs; it contains no process or component machinery, so tests, the benchmark and the fuzzer
// link it directly.

#include "PageCountResult.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

class QPDFLogger;

namespace pdfcount {

// Results below zero; 0 or more is a page count. NotPdf: no "%PDF-" near the start and nothing
// countable found; GaveUp also when the count does not fit 32 bits.
using Outcome = pagecount::Result;
using enum pagecount::Result;
constexpr Outcome NotPdf = pagecount::WrongSignature;

// Who is asked. Qpdf: qpdf's parse (with its repair) and our walk of the page tree. All: also
// poppler, where qpdf has no answer or its walk and the root's /Count disagree on a damaged tree.
enum class Readers { Qpdf, All };

// Whether a page object is recognised from its text in place instead of through qpdf's parse.
// Both give the same count; Off is there to prove it.
enum class PagePeekUse { On, Off };

// The page count qpdf's page walk gives (each reference to a page counts, a node that is its own
// ancestor is cut). On a damaged tree the answer is one another reader gives, or a negative
// outcome, never a count of our own. The bytes must stay valid for the duration of the call.
int32_t countPages(std::string_view bytes, Readers readers = Readers::All,
                   PagePeekUse peek = PagePeekUse::On);

// The page count poppler reports, or NotPdf/Damaged/NeedsPassword when it has no answer.
// A zero from poppler is not an answer (it returns 0 for documents it could not read).
int32_t popplerPages(std::string_view bytes);

// A qpdf logger that discards everything; the engine's readers use it.
std::shared_ptr<QPDFLogger> silentQpdfLogger();

// True when "%PDF-" occurs in the first 1024 bytes.
bool hasPdfHeader(std::string_view bytes);

// A read-only memory map of a regular file. Opening never blocks on FIFOs or devices.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // 0 on success, or CannotOpen. An empty file maps to an empty view.
    int32_t open(const char* path);
    std::string_view bytes() const { return {static_cast<const char*>(m_data), m_size}; }
    void close();

private:
    void* m_data = nullptr;
    std::size_t m_size = 0;
};

// The bytes of one regular file at a time. A small file is read into a buffer kept from file to
// file: cheaper than mapping it (no map to set up and tear down, no page faults), and a file
// truncated meanwhile just reads short. A file above kReadLimitBytes is mapped, since the reader
// usually touches a small part of a large file.
class FileBytes {
public:
    static constexpr std::size_t kReadLimitBytes = std::size_t(1) << 20;

    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    // 0 on success, or CannotOpen. Opening never blocks on FIFOs or devices. Replaces the
    // previous file's bytes.
    int32_t open(const char* path);
    std::string_view bytes() const { return m_bytes; }
    // Gives the previous file's map back; the buffer stays for the next file.
    void close();

private:
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;
    MappedFile m_map;
    std::string_view m_bytes;
};

// Opens and counts one file in this process (through a FileBytes kept per thread).
int32_t countFile(const char* path, Readers readers = Readers::All);

}  // namespace pdfcount
