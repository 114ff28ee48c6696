// The damaged and unusual documents: our count is one another reader gives, or a negative outcome
// where no reader gives a page count. The recorded answers of qpdf and poppler are checked
// against the libraries on this machine, so the table cannot drift from what they say.

#include "DamagedCorpus.h"
#include "PdfPageCount.h"

#include <gtest/gtest.h>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>

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
        // reader takes from its root's /Count.
        EXPECT_TRUE(c.qpdfCount <= 0 && c.qpdfWalk <= 0 && c.poppler <= 0)
            << "refused although a reader counts pages";
    }
}

// Recognising pages from their text in place is only a shortcut: qpdf's parse of every page
// object must give the same count.
TEST_P(DamagedPdf, PagePeekAgreesWithQpdfsParse)
{
    const std::string bytes = GetParam().make();
    EXPECT_EQ(pdfcount::countPages(bytes, pdfcount::Readers::All, pdfcount::PagePeekUse::Off),
              pdfcount::countPages(bytes));
}

TEST_P(DamagedPdf, RecordedAnswersAreWhatTheReadersSay)
{
    const DamagedCase& c = GetParam();
    const std::string bytes = c.make();
    EXPECT_EQ(pdffix::qpdfShowNpages(bytes), c.qpdfCount) << "qpdf --show-npages";
    EXPECT_EQ(pdffix::qpdfShowPages(bytes), c.qpdfWalk) << "qpdf --show-pages";
    EXPECT_EQ(popplerCount(bytes), c.poppler) << "poppler";
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedPdf, ::testing::ValuesIn(pdffix::damagedCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
