#pragma once
// Damaged and unusual PDFs, made at test time, each with what other readers say of it: qpdf's
// page count (`qpdf --show-npages`, the root's /Count after qpdf's repair), the pages qpdf's own
// page walk lists (`qpdf --show-pages`), poppler's page count (`pdfinfo`, poppler-cpp), and for
// comparison mupdf's page count and the pages its walk lists (`mutool info`, `mutool show pages`).
// Recorded with qpdf 11.3, poppler 22.12 and mupdf 1.21; tests check the record against the
// libraries, and against mutool where it is installed.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace pdffix {

// A reader that stops with an error instead of giving a number.
inline constexpr std::int64_t Fails = -100;

struct DamagedCase {
    std::string name;
    std::function<std::string()> make;
    std::int64_t qpdfCount;  // qpdf --show-npages
    std::int64_t qpdfWalk;   // qpdf --show-pages: pages listed
    std::int64_t poppler;    // poppler's page count
    std::int64_t mupdfCount; // mutool info: "Pages:"
    std::int64_t mupdfWalk;  // mutool show pages: pages listed
    std::int32_t ours;
};

inline void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.name; }

const std::vector<DamagedCase>& damagedCases();

// What `qpdf --show-npages` prints: the root's /Count as qpdf reads it after its repair.
std::int64_t qpdfShowNpages(const std::string& bytes);
// How many pages `qpdf --show-pages` lists: qpdf's own walk of the page tree.
std::int64_t qpdfShowPages(const std::string& bytes);

// Writes the cases below `maxBytes` into `folder`, one file each, named prefix + name + ".pdf".
void writeDamagedCases(const std::filesystem::path& folder, const std::string& prefix,
                       std::size_t maxBytes);

}  // namespace pdffix
