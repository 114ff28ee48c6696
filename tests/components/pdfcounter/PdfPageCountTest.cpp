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

// Page objects whose text qpdf repairs as it parses them, each the third kid of a tree whose
// root /Count says 2. qpdf's repair counts as damage (two readers may then outvote our walk), so
// a page read in place instead of parsed must not change the answer.
struct OddPage {
    const char* name;
    const char* text;
};

void PrintTo(const OddPage& page, std::ostream* os) { *os << page.name; }

class PdfEnginePagePeek : public ::testing::TestWithParam<OddPage> {};

TEST_P(PdfEnginePagePeek, GivesTheAnswerOfQpdfsParse)
{
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>";
    const std::string bytes =
        pdffix::rawDocument({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                             {2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 2 >>"},
                             {3, page},
                             {4, page},
                             {5, GetParam().text}},
                            1);
    for (const auto readers : {pdfcount::Readers::All, pdfcount::Readers::Qpdf})
        EXPECT_EQ(pdfcount::countPages(bytes, readers, pdfcount::PagePeekUse::On),
                  pdfcount::countPages(bytes, readers, pdfcount::PagePeekUse::Off))
            << (readers == pdfcount::Readers::All ? "all readers" : "qpdf alone");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PdfEnginePagePeek,
    ::testing::Values(OddPage{"ValueWithoutKey", "<< /Type /Page /MediaBox [0 0 10 10] 1 >>"},
                      OddPage{"TwoValuesForOneKey", "<< /Type /Page /Rotate 1 2 >>"},
                      OddPage{"UnknownWord", "<< /Type /Page /Rotate obj >>"},
                      OddPage{"ReferenceRunsOn", "<< /Type /Page /Parent 2 0 R0 >>"},
                      OddPage{"StrayR", "<< /Type /Page /Annots [4 0 R R] >>"},
                      OddPage{"ReferenceToObjectZero", "<< /Type /Page /Parent 0 0 R >>"},
                      OddPage{"NegativeReference", "<< /Type /Page /Parent -2 0 R >>"},
                      OddPage{"NumberWithTwoPoints", "<< /Type /Page /UserUnit 1.2.3 >>"},
                      OddPage{"IntegerTooLong", "<< /Type /Page /Rotate 999999999999999999999 >>"},
                      OddPage{"ByteOutsideAscii", "<< /Type /Page /Rotate \x9b >>"},
                      OddPage{"KeyTwice", "<< /Type /Page /Rotate 90 /Rotate 180 >>"},
                      OddPage{"EmptyName", "<< /Type /Page / 1 >>"},
                      OddPage{"EndobjRunsOn", "<< /Type /Page >>\nendobj!"},
                      OddPage{"ArrayNotClosed", "<< /Type /Page /MediaBox [0 0 10 10 >>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PdfEngineFile, CountsAFile)
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

// One FileBytes serves file after file, as in the helper: each file gives exactly its own
// bytes whether its buffer is reused, grown, or the file is mapped for its size.
TEST(PdfEngineFile, EachFileGivesItsOwnBytesThroughOneReader)
{
    pdffix::TempDir dir;
    const std::size_t limit = pdfcount::FileBytes::kReadLimitBytes;
    const std::size_t sizes[] = {3000, 10, 0, 4096, limit, limit + 5, 20, limit - 1, 7};
    pdfcount::FileBytes reader;
    int n = 0;
    for (const std::size_t size : sizes) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>('a' + (i * 7 + static_cast<std::size_t>(n)) % 26);
        const std::string path = dir.file("f" + std::to_string(n++) + ".pdf");
        pdffix::writeFile(path, content);
        ASSERT_EQ(reader.open(path.c_str()), 0) << size;
        EXPECT_EQ(reader.bytes().size(), size);
        EXPECT_TRUE(reader.bytes() == content) << "file of " << size << " bytes";
        reader.close();
        EXPECT_TRUE(reader.bytes().empty());
    }
    EXPECT_EQ(reader.open(dir.file("missing.pdf").c_str()), pdfcount::CannotOpen);
    EXPECT_TRUE(reader.bytes().empty());
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
