#include "PdfCases.h"

#include "PdfFixtures.h"

namespace pdffix {
namespace {

std::string pageObj() { return "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"; }

// Two pages, then an update that adds two more and rewrites the tree root.
std::string incrementalUpdate()
{
    const std::string base = rawDocument({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                                          {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"},
                                          {3, pageObj()},
                                          {4, pageObj()}},
                                         1);
    return appendUpdate(base,
                        {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /Count 4 >>"},
                         {5, pageObj()},
                         {6, pageObj()}},
                        1, 7);
}

// A subtree that lists its own parent and itself; only pages 3 and 4 exist.
std::string kidsLoop()
{
    return rawDocument({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                        {2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>"},
                        {3, pageObj()},
                        {4, "<< /Type /Page /Parent 5 0 R /MediaBox [0 0 10 10] >>"},
                        {5, "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 2 0 R 5 0 R 3 0 R] >>"}},
                       1);
}

// Three levels of intermediate nodes, one of them empty: 5 pages.
std::string nestedTree()
{
    return rawDocument(
        {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
         {2, "<< /Type /Pages /Kids [3 0 R 6 0 R 7 0 R] /Count 5 >>"},
         {3, "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 5 0 R] /Count 2 >>"},
         {4, "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 10 10] >>"},
         {5, "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 10 10] >>"},
         {6, pageObj()},
         {7, "<< /Type /Pages /Parent 2 0 R /Kids [8 0 R 11 0 R] /Count 2 >>"},
         {8, "<< /Type /Pages /Parent 7 0 R /Kids [9 0 R 10 0 R] /Count 2 >>"},
         {9, "<< /Type /Page /Parent 8 0 R /MediaBox [0 0 10 10] >>"},
         {10, "<< /Type /Page /Parent 8 0 R /MediaBox [0 0 10 10] >>"},
         {11, "<< /Type /Pages /Parent 7 0 R /Kids [] /Count 0 >>"}},
        1);
}

std::string repeatedPage()
{
    return rawDocument({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                        {2, "<< /Type /Pages /Kids [3 0 R 3 0 R 4 0 R] /Count 3 >>"},
                        {3, pageObj()},
                        {4, pageObj()}},
                       1);
}

// A leaf without /Type, one with a damaged /Type, an empty /Pages node, and kids that are no
// dictionary or do not exist: qpdf's page walk lists each of them as a page.
std::string oddKids()
{
    return rawDocument({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R 42 0 R] >>"},
                        {3, pageObj()},
                        {4, "<< /Parent 2 0 R /MediaBox [0 0 10 10] >>"},
                        {5, "<< /Type /Pag# /Parent 2 0 R /MediaBox [0 0 10 10] >>"},
                        {6, "<< /Type /Pages /Parent 2 0 R /Count 0 >>"},
                        {7, "17"}},
                       1);
}

std::string tinyTiff()
{
    // Little-endian header, one directory with a 1x1 bilevel image.
    const unsigned char bytes[] = {'I', 'I', 42, 0, 8, 0, 0, 0,  // header
                                   3, 0,                          // three entries
                                   0x00, 0x01, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,  // ImageWidth 1
                                   0x01, 0x01, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,  // ImageLength 1
                                   0x11, 0x01, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0,  // StripOffsets 0
                                   0, 0, 0, 0};
    return {reinterpret_cast<const char*>(bytes), sizeof bytes};
}

std::string withoutHeader(std::string doc)
{
    const auto at = doc.find("%PDF-");
    doc.replace(at, 8, "%XXX-1.7");
    return doc;
}

Layout objStreams() { return Layout{.objectStreams = true}; }

}  // namespace

const std::vector<CountCase>& countCases()
{
    static const std::vector<CountCase> cases = {
        {"OnePage", [] { return qpdfDocument(1); }, 1},
        {"SevenPages", [] { return qpdfDocument(7); }, 7},
        {"FiveHundredPages", [] { return qpdfDocument(500); }, 500},
        {"ObjectAndXrefStreams", [] { return qpdfDocument(7, objStreams()); }, 7},
        {"ObjectStreamsFiveHundred", [] { return qpdfDocument(500, objStreams()); }, 500},
        {"Linearized", [] { return qpdfDocument(7, {.linearize = true}); }, 7},
        {"LinearizedObjectStreams",
         [] { return qpdfDocument(40, {.objectStreams = true, .linearize = true}); }, 40},
        {"IncrementalUpdateAddsPages", incrementalUpdate, 4},
        {"CountTooHigh", [] { return threePagesWithCount("99"); }, 3},
        {"CountTooLow", [] { return threePagesWithCount("1"); }, 3},
        {"CountMissing", [] { return threePagesWithCount(""); }, 3},
        {"CountBeyond32Bits", [] { return threePagesWithCount("5000000000"); }, 3},
        {"NestedTree", nestedTree, 5},
        {"NestedTreeObjectStreams", [] { return rewritten(nestedTree(), objStreams()); }, 5},
        {"NestedTreeLinearized", [] { return rewritten(nestedTree(), {.linearize = true}); }, 5},
        {"KidsLoop", kidsLoop, 2},
        {"KidsLoopObjectStreams", [] { return rewritten(kidsLoop(), objStreams()); }, 2},
        {"SamePageListedTwice", repeatedPage, 3},
        {"OddKids", oddKids, 6},
        {"JunkBeforeHeader", [] { return std::string(300, 'j') + "\n" + qpdfDocument(7); }, 7},
        {"HeaderBeyondFirstKilobyte",
         [] { return std::string(3000, ' ') + "\n" + qpdfDocument(5); }, 5},
        {"NoHeaderAtAll", [] { return withoutHeader(qpdfDocument(6)); }, 6},
        {"ZeroBytes", [] { return std::string(); }, -2},
        {"TextFile", [] { return std::string("Minutes of the meeting\nNothing to report.\n"); }, -2},
        {"TiffNamedPdf", tinyTiff, -2},
        {"CatalogIsNotADictionary", [] { return rawDocument({{1, "42"}}, 1); }, -3},
        {"CatalogWithoutPageTree",
         [] { return rawDocument({{1, "<< /Type /Catalog >>"}}, 1); }, -3},
        {"UserPassword",
         [] { return qpdfDocument(7, {.encrypt = true, .userPassword = "u", .ownerPassword = "o"}); },
         -4},
        {"OwnerPasswordOnly",
         [] { return qpdfDocument(7, {.encrypt = true, .ownerPassword = "owner"}); }, 7},
        {"OwnerPasswordOnlyObjectStreams",
         [] {
             return qpdfDocument(7, {.objectStreams = true, .encrypt = true, .ownerPassword = "o"});
         },
         7},
    };
    return cases;
}

}  // namespace pdffix
