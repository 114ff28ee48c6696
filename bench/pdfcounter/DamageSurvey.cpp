// How many damaged documents each reading step recovers: qpdf's own repair and our walk, then
// poppler's opinion where qpdf has none. Prints one row per kind of damage with the
// number of files answered with a page count, and with the right page count.

#include "PdfFixtures.h"
#include "PdfPageCount.h"

#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

struct Damage {
    const char* name;
    std::function<std::string(const std::string&, std::mt19937&)> apply;
};

std::string replaceAll(std::string s, const std::string& from, const std::string& to)
{
    for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

std::string flipBytes(std::string s, std::mt19937& rng, double share)
{
    std::uniform_int_distribution<std::size_t> where(0, s.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto n = static_cast<std::size_t>(double(s.size()) * share) + 1;
    for (std::size_t i = 0; i < n; ++i)
        s[where(rng)] = static_cast<char>(byte(rng));
    return s;
}

const std::vector<Damage> damages = {
    {"cut at 25%", [](const std::string& s, std::mt19937&) { return s.substr(0, s.size() / 4); }},
    {"cut at 50%", [](const std::string& s, std::mt19937&) { return s.substr(0, s.size() / 2); }},
    {"cut at 90%", [](const std::string& s, std::mt19937&) { return s.substr(0, s.size() * 9 / 10); }},
    {"last 30 bytes gone", [](const std::string& s, std::mt19937&) { return s.substr(0, s.size() - 30); }},
    {"startxref garbage",
     [](const std::string& s, std::mt19937&) { return replaceAll(s, "startxref", "startxrex"); }},
    {"xref keyword gone", [](const std::string& s, std::mt19937&) { return replaceAll(s, "xref\n", "xxxx\n"); }},
    {"/Root renamed", [](const std::string& s, std::mt19937&) { return replaceAll(s, "/Root", "/Xoot"); }},
    {"4 KiB zeroed mid-file",
     [](const std::string& s, std::mt19937&) {
         std::string d = s;
         const std::size_t at = d.size() / 2, n = std::min<std::size_t>(4096, d.size() - at);
         d.replace(at, n, std::string(n, '\0'));
         return d;
     }},
    {"0.1% bytes flipped", [](const std::string& s, std::mt19937& rng) { return flipBytes(s, rng, 0.001); }},
    {"1% bytes flipped", [](const std::string& s, std::mt19937& rng) { return flipBytes(s, rng, 0.01); }},
};

}  // namespace

int main()
{
    std::mt19937 rng(7);
    struct Doc {
        std::string bytes;
        int pages;
        const char* layout;
    };
    std::vector<Doc> docs;
    for (int pages : {1, 3, 12, 40, 150}) {
        docs.push_back({pdffix::qpdfDocument(pages), pages, "classic"});
        docs.push_back({pdffix::qpdfDocument(pages, {.objectStreams = true}), pages, "objstm"});
        docs.push_back({pdffix::qpdfDocument(pages, {.linearize = true}), pages, "linear"});
    }
    const pdfcount::Readers steps[] = {pdfcount::Readers::Qpdf, pdfcount::Readers::All};
    std::printf("%-24s %5s | %-13s | %-13s | poppler alone\n", "damage", "files", "qpdf repair",
                "+poppler");
    std::printf("%-24s %5s | %-13s | %-13s | %s\n", "", "", "count/right", "count/right",
                "count/right");
    int total[3][2] = {};
    int files = 0;
    for (const auto& damage : damages) {
        int got[3][2] = {};
        for (const auto& doc : docs) {
            const std::string bad = damage.apply(doc.bytes, rng);
            for (int s = 0; s < 3; ++s) {
                const int32_t n = s < 2 ? pdfcount::countPages(bad, steps[s]) : pdfcount::popplerPages(bad);
                got[s][0] += n >= 0;
                got[s][1] += n == doc.pages;
            }
        }
        std::printf("%-24s %5zu |", damage.name, docs.size());
        for (int s = 0; s < 3; ++s) {
            std::printf(" %5d / %-5d |", got[s][0], got[s][1]);
            total[s][0] += got[s][0];
            total[s][1] += got[s][1];
        }
        std::printf("\n");
        files += static_cast<int>(docs.size());
    }
    std::printf("%-24s %5d |", "all", files);
    for (int s = 0; s < 3; ++s)
        std::printf(" %5d / %-5d |", total[s][0], total[s][1]);
    std::printf("\n");
}
