// The counting engine in this process: every case of the shared table, plus the outcomes that
// only a file on disk can produce.

#include "PdfCases.h"
#include "PdfFixtures.h"
#include "PdfPageCount.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using pdffix::CountCase;

class PdfEngineCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(PdfEngineCount, GivesTheExpectedResult)
{
    const std::string bytes = GetParam().make();
    EXPECT_EQ(pdfcount::countPages(bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Documents, PdfEngineCount, ::testing::ValuesIn(pdffix::countCases()),
                         [](const auto& info) { return info.param.name; });

TEST(PdfEngineFile, CountsAMappedFile)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(3));
    pdffix::writeFile(dir.file("empty.pdf"), "");
    EXPECT_EQ(pdfcount::countFile(dir.file("a.pdf").c_str()), 3);
    EXPECT_EQ(pdfcount::countFile(dir.file("empty.pdf").c_str()), pdfcount::NotPdf);
}

TEST(PdfEngineFile, WhatCannotBeOpenedAsAFileIsMinusOne)
{
    pdffix::TempDir dir;
    std::filesystem::create_directory(dir.file("folder.pdf"));
    // A FIFO must be refused, not waited on for a writer that never comes.
    ASSERT_EQ(mkfifo(dir.file("pipe.pdf").c_str(), 0600), 0);
    EXPECT_EQ(pdfcount::countFile(dir.file("missing.pdf").c_str()), pdfcount::CannotOpen);
    EXPECT_EQ(pdfcount::countFile(dir.file("folder.pdf").c_str()), pdfcount::CannotOpen);
    EXPECT_EQ(pdfcount::countFile(dir.file("pipe.pdf").c_str()), pdfcount::CannotOpen);
}

// A download cut short loses the trailer; the catalog is found by scanning and the page objects
// that survive are counted. qpdf writes page objects before their contents, so at half length
// all twenty survive, and at a quarter only some do.
TEST(PdfEngineDamage, FileCutShortCountsThePageObjectsThatSurvive)
{
    const std::string whole = pdffix::qpdfDocument(20);
    EXPECT_EQ(pdfcount::countPages(whole.substr(0, whole.size() / 2)), 20);
    const int32_t quarter = pdfcount::countPages(whole.substr(0, whole.size() / 4));
    EXPECT_GT(quarter, 0);
    EXPECT_LT(quarter, 20);
    // qpdf's own repair alone cannot find the catalog without a trailer.
    EXPECT_EQ(pdfcount::countPages(whole.substr(0, whole.size() / 2), pdfcount::Readers::Qpdf),
              pdfcount::Damaged);
}

TEST(PdfEngineDamage, TrailerWithoutCatalogIsRepairedFromTheCatalogScan)
{
    std::string doc = pdffix::qpdfDocument(6);
    doc.replace(doc.rfind("/Root"), 5, "/Xoot");
    EXPECT_EQ(pdfcount::countPages(doc), 6);
}

TEST(PdfEngineDamage, ObjectStreamFileCutShortIsDamaged)
{
    const std::string whole = pdffix::qpdfDocument(20, {.objectStreams = true});
    EXPECT_EQ(pdfcount::countPages(whole.substr(0, whole.size() / 2)), pdfcount::Damaged);
}

// A page object whose body is wiped (its entry in the cross-reference table intact) is still a
// page of the document; a kid that names no object at all is not.
TEST(PdfEngineDamage, UnreadablePageObjectStillCounts)
{
    std::string doc = pdffix::rawDocument(
        {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
         {2, "<< /Type /Pages /Kids [3 0 R 4 0 R 9 0 R] /Count 3 >>"},
         {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"},
         {4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"}},
        1);
    const auto body = doc.find("4 0 obj\n") + 8;
    doc.replace(body, doc.find("endobj", body) - body, doc.find("endobj", body) - body, ' ');
    EXPECT_EQ(pdfcount::countPages(doc, pdfcount::Readers::Qpdf), 2);
}

// When the tree itself is broken, poppler's answer (from what is left of the root) is taken.
TEST(PdfEngineDamage, SecondOpinionAnswersWhereTheTreeCannotBeRead)
{
    std::string doc = pdffix::rawDocument(
        {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
         {2, "<< /Type /Pages /Count 3 /Kids [3 0 R 4 0 R 5 0 R] >>"},
         {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"},
         {4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"},
         {5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"}},
        1);
    const auto kids = doc.find("/Kids [3 0 R") + 9;
    doc.replace(kids, 20, std::string(20, '\0'));
    EXPECT_EQ(pdfcount::countPages(doc, pdfcount::Readers::QpdfFindCatalog), pdfcount::Damaged);
    EXPECT_EQ(pdfcount::countPages(doc), 3);
}

TEST(PdfEngineHeader, FindsTheSignatureOnlyInTheFirstKilobyte)
{
    EXPECT_TRUE(pdfcount::hasPdfHeader("%PDF-1.7"));
    EXPECT_TRUE(pdfcount::hasPdfHeader(std::string(1019, 'x') + "%PDF-"));
    EXPECT_FALSE(pdfcount::hasPdfHeader(std::string(1020, 'x') + "%PDF-"));
    EXPECT_FALSE(pdfcount::hasPdfHeader("%PDF"));
}

// Damaged documents make both readers complain; none of it may reach the terminal.
TEST(PdfEngineDamage, ReadersWriteNothingToTheTerminal)
{
    const std::string whole = pdffix::qpdfDocument(20, {.objectStreams = true});
    std::string flipped = pdffix::qpdfDocument(20);
    for (std::size_t at = 100; at < flipped.size(); at += 97)
        flipped[at] = '~';
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    pdfcount::countPages(whole.substr(0, whole.size() / 2));
    pdfcount::countPages(flipped);
    pdfcount::popplerPages(flipped);
    pdfcount::countPages(std::string(2000, 'x'));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
}
