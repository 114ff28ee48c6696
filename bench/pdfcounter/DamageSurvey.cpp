// How many damaged documents each reading step recovers: qpdf's own repair and our walk, then
// poppler's opinion where qpdf has none. Then, for the same documents, how our answer stands
// against what the readers themselves say (qpdf --show-npages, qpdf's walk, poppler): a count one
// of them gives, a count none gives, a refusal where one of them counts, or a refusal with all. Prints one row per kind of damage with the
// number of files answered with a page count, and with the right page count.

#include "DamagedCorpus.h"
#include "PdfFixtures.h"
#include "PdfPageCount.h"

#include <cstdio>
#include <algorithm>
#include <cstdint>
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
    {"block deleted",
     [](const std::string& s, std::mt19937& rng) {
         const std::size_t at = rng() % s.size();
         return s.substr(0, at) + s.substr(std::min(s.size(), at + 1 + rng() % 500));
     }},
    {"block repeated",
     [](const std::string& s, std::mt19937& rng) {
         const std::size_t at = rng() % s.size();
         return s.substr(0, at) + s.substr(at, 1 + rng() % 800) + s.substr(at);
     }},
    {"keywords broken",
     [](const std::string& s, std::mt19937& rng) {
         std::string d = s;
         for (const char* word : {"/Kids", "/Count", "/Root", "endobj", "/Type", " obj"})
             if (rng() % 3 == 0)
                 if (const auto at = d.find(word); at != std::string::npos)
                     d[at + 2] = 'X';
         return d;
     }},
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
    std::printf("\n\n");

    std::printf("%-24s %5s | %7s | %8s | %12s | %10s\n", "damage", "files", "agrees", "invented",
                "refused, one", "all refuse");
    std::mt19937 again(11);
    int sums[4] = {};
    for (const auto& damage : damages) {
        int got[4] = {};
        int n = 0;
        for (int round = 0; round < 4; ++round) {
            for (const auto& doc : docs) {
                const std::string bad = damage.apply(doc.bytes, again);
                const std::int64_t ours = pdfcount::countPages(bad);
                const std::int64_t readers[] = {pdffix::qpdfShowNpages(bad), pdffix::qpdfShowPages(bad),
                                                pdfcount::popplerPages(bad)};
                bool given = false, someoneCounts = false;
                for (std::int64_t r : readers) {
                    given = given || (ours >= 0 && r == ours);
                    someoneCounts = someoneCounts || r > 0;
                }
                ++got[ours >= 0 ? (given ? 0 : 1) : (someoneCounts ? 2 : 3)];
                ++n;
            }
        }
        std::printf("%-24s %5d | %7d | %8d | %12d | %10d\n", damage.name, n, got[0], got[1], got[2],
                    got[3]);
        for (int i = 0; i < 4; ++i)
            sums[i] += got[i];
    }
    std::printf("%-24s %5d | %7d | %8d | %12d | %10d\n", "all", sums[0] + sums[1] + sums[2] + sums[3],
                sums[0], sums[1], sums[2], sums[3]);
}
