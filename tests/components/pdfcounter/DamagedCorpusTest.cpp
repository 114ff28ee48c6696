// The damaged and unusual documents: our count is one another reader gives, or a negative outcome
// where no reader gives a page count. The recorded answers of qpdf and poppler are checked
// against the libraries on this machine, so the table cannot drift from what they say.

#include "DamagedCorpus.h"
#include "PdfFixtures.h"
#include "PdfPageCount.h"

#include <gtest/gtest.h>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>

#include <cstdint>
#include <cstdio>
#include <memory>

using pdffix::DamagedCase;
using pdffix::Fails;

namespace {

std::int64_t popplerCount(const std::string& bytes)
{
    poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
    if (!doc || doc->is_locked())
        return Fails;
    return doc->pages();
}

// Standard output of a command, or nothing when it cannot be run.
std::string outputOf(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
            out.append(buf, n);
        pclose(pipe);
    }
    return out;
}

bool mutoolInstalled() { return !outputOf("command -v mutool").empty(); }

std::int64_t mupdfCount(const std::string& path)
{
    const std::string info = outputOf("mutool info '" + path + "'");
    const auto at = info.find("\nPages: ");
    return at == std::string::npos ? Fails : std::stoll(info.substr(at + 8));
}

std::int64_t mupdfWalk(const std::string& path)
{
    const std::string pages = outputOf("mutool show '" + path + "' pages");
    std::int64_t n = 0;
    for (std::size_t at = 0; (at = pages.find("page ", at)) != std::string::npos; at += 5)
        n += at == 0 || pages[at - 1] == '\n';
    return n;
}

class DamagedPdf : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedPdf, AnswersWhatAnotherReaderAnswersOrRefuses)
{
    const DamagedCase& c = GetParam();
    const std::string bytes = c.make();
    const int32_t ours = pdfcount::countPages(bytes);
    EXPECT_EQ(ours, c.ours);
    if (ours >= 0) {
        EXPECT_TRUE(ours == c.qpdfCount || ours == c.qpdfWalk || ours == c.poppler)
            << ours << " is a count no other reader gives";
    } else if (ours != pdfcount::GaveUp) {
        // Giving up is the exception: a tree built to explode ends at the work bound, whatever a
        // reader takes from its root's /Count. A root /Count beyond what a result can hold is no
        // count to give either.
        auto counts = [](std::int64_t n) { return n > 0 && n <= INT32_MAX; };
        EXPECT_TRUE(!counts(c.qpdfCount) && !counts(c.qpdfWalk) && !counts(c.poppler))
            << "refused although a reader counts pages";
    }
}

// Recognising pages from their text in place is only a shortcut: qpdf's parse of every page
// object must give the same count, with poppler's opinion and with qpdf's alone (where no second
// reader can hide a wrong leaf count).
TEST_P(DamagedPdf, PagePeekAgreesWithQpdfsParse)
{
    const std::string bytes = GetParam().make();
    for (const auto readers : {pdfcount::Readers::All, pdfcount::Readers::Qpdf})
        EXPECT_EQ(pdfcount::countPages(bytes, readers, pdfcount::PagePeekUse::Off),
                  pdfcount::countPages(bytes, readers, pdfcount::PagePeekUse::On))
            << (readers == pdfcount::Readers::All ? "all readers" : "qpdf alone");
}

TEST_P(DamagedPdf, RecordedAnswersAreWhatTheReadersSay)
{
    const DamagedCase& c = GetParam();
    const std::string bytes = c.make();
    EXPECT_EQ(pdffix::qpdfShowNpages(bytes), c.qpdfCount) << "qpdf --show-npages";
    EXPECT_EQ(pdffix::qpdfShowPages(bytes), c.qpdfWalk) << "qpdf --show-pages";
    EXPECT_EQ(popplerCount(bytes), c.poppler) << "poppler";
}

// mupdf is not a dependency; its answers are shown for comparison and checked where it is there.
TEST_P(DamagedPdf, RecordedMupdfAnswersAreWhatMutoolSays)
{
    if (!mutoolInstalled())
        GTEST_SKIP() << "mutool is not installed";
    const DamagedCase& c = GetParam();
    pdffix::TempDir dir;
    const std::string path = dir.file("case.pdf").string();
    pdffix::writeFile(path, c.make());
    EXPECT_EQ(mupdfCount(path), c.mupdfCount) << "mutool info";
    EXPECT_EQ(mupdfWalk(path), c.mupdfWalk) << "mutool show pages";
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedPdf, ::testing::ValuesIn(pdffix::damagedCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
