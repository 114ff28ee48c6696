#include "DamagedCorpus.h"

#include "PdfFixtures.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <cstring>
#include <random>

namespace pdffix {
namespace {

const char* const Catalog = "<< /Type /Catalog /Pages 2 0 R >>";
const char* const Page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>";

std::string tree(const std::string& rootBody, std::map<int, std::string> more = {})
{
    more[1] = Catalog;
    more[2] = rootBody;
    return rawDocument(more, 1);
}

// Node k (k = 3 .. depth+2) lists node k+1 twice; the last node lists one page, and the root
// again if `loop`.
std::string sharedChain(int depth, const std::string& count, bool loop = false)
{
    std::map<int, std::string> objects{{1, Catalog}};
    const int page = depth + 3;
    objects[2] = "<< /Type /Pages /Kids [3 0 R 3 0 R] " + count + " >>";
    for (int k = 3; k < page; ++k) {
        const std::string next = k + 1 == page ? std::to_string(page) + " 0 R"
                                               : std::to_string(k + 1) + " 0 R";
        objects[k] = k + 1 == page ? "<< /Type /Pages /Kids [" + next + (loop ? " 2 0 R" : "") + "] >>"
                                   : "<< /Type /Pages /Kids [" + next + " " + next + "] >>";
    }
    objects[page] = "<< /Type /Page /MediaBox [0 0 10 10] >>";
    return rawDocument(objects, 1);
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to)
{
    for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// Same-length changes at fixed, seeded places.
std::string flipped(std::string s, unsigned seed, std::size_t every)
{
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < s.size() / every + 1; ++i)
        s[rng() % s.size()] = static_cast<char>(rng() & 0xff);
    return s;
}

std::string cut(const std::string& s, std::size_t num, std::size_t den)
{
    return s.substr(0, s.size() * num / den);
}

std::string twenty() { return qpdfDocument(20); }
std::string twentyObjStm() { return qpdfDocument(20, {.objectStreams = true}); }

// Offsets in the classic table all point 7 bytes early, so readers must rebuild it by scanning.
std::string shiftedXref()
{
    std::string doc = rawDocument({{1, Catalog},
                                   {2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>"},
                                   {3, Page}, {4, Page}, {5, Page}},
                                  1);
    return doc.insert(doc.find("1 0 obj"), "       ");
}

// A content stream whose /Length is wrong; its data holds text that looks like objects.
std::string streamLength(const std::string& length, bool fakeObjects)
{
    const std::string data = fakeObjects
                                 ? "q 1 0 0 1 0 0 cm Q\n7 0 obj\n<< /Type /Pages /Kids [3 0 R 3 0 R "
                                   "3 0 R] /Count 3 >>\nendobj\n"
                                 : "BT /F1 12 Tf 72 720 Td (hello) Tj ET";
    return rawDocument({{1, Catalog},
                        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"},
                        {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] /Contents 5 0 R >>"},
                        {4, Page},
                        {5, "<< /Length " + length + " >>\nstream\n" + data + "\nendstream"}},
                       1);
}

std::string streamLengthWithoutXref(const std::string& length)
{
    return replaceAll(streamLength(length, true), "startxref", "startxrex");
}

std::string pagesInObjectStream()
{
    return xrefStreamDocument({{1, {Catalog, 0}},
                               {2, {"<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>", 9}},
                               {3, {Page, 9}}, {4, {Page, 9}}, {5, {Page, 9}}},
                              1);
}

// Object stream 9 holds the pages; the cross-reference stream says 9 itself is inside stream 10.
std::string objectStreamInsideObjectStream()
{
    return xrefStreamDocument({{1, {Catalog, 0}},
                               {2, {"<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>", 0}},
                               {3, {Page, 9}}, {4, {Page, 9}}, {5, {Page, 9}},
                               {9, {"<< /Type /ObjStm /N 3 /First 12 >>", 10}},
                               {11, {"<< /Producer (x) >>", 10}}},
                              1);
}

// A page whose dictionary is not closed before the next object in the object stream begins; that
// next object's text carries /Kids. Read in place, the page looks plain; parsed, it is not.
std::string unclosedPageInObjectStream()
{
    return xrefStreamDocument(
        {{1, {Catalog, 0}},
         {2, {"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", 0}},
         {3, {"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10]", 9}},
         {4, {"/Kids [5 0 R 6 0 R] >>", 9}},
         {5, {Page, 0}}, {6, {Page, 0}}},
        1);
}

// Plain pages share their object stream with an object qpdf repairs as it parses the stream; the
// root /Count is one short.
std::string brokenObjectBesidePagesInObjectStream()
{
    return xrefStreamDocument(
        {{1, {Catalog, 0}},
         {2, {"<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 2 >>", 0}},
         {3, {Page, 9}}, {4, {Page, 9}}, {5, {Page, 9}},
         {6, {"<< /Producer 1 2 >>", 9}}},
        1);
}

std::string unclosedPageInFile()
{
    return tree("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
                {{3, "<< /Type /Page /MediaBox [0 0 10 10] /Parent 2 0 R"},
                 {4, "<< /Type /Page /Parent 2 0 R >> /Kids [4 0 R]"}});
}

std::string incrementalUpdateDropsAPage()
{
    const std::string base = tree("<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
                                  {{3, Page}, {4, Page}, {5, Page}});
    return appendUpdate(base, {{2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>"}}, 1, 6);
}

std::string headerAt(std::size_t at, const std::string& doc) { return std::string(at, ' ') + doc; }

std::string kidsZeroed()
{
    std::string doc = tree("<< /Type /Pages /Count 3 /Kids [3 0 R 4 0 R 5 0 R] >>",
                           {{3, Page}, {4, Page}, {5, Page}});
    const auto kids = doc.find("/Kids [3 0 R") + 9;
    doc.replace(kids, 20, std::string(20, '\0'));
    return doc;
}

std::string pageBodyWiped()
{
    std::string doc = tree("<< /Type /Pages /Kids [3 0 R 4 0 R 9 0 R] /Count 3 >>",
                           {{3, Page}, {4, Page}});
    const auto body = doc.find("4 0 obj\n") + 8;
    const auto end = doc.find("endobj", body);
    doc.replace(body, end - body, end - body, ' ');
    return doc;
}

std::string zeroedMiddle(std::string s)
{
    const std::size_t at = s.size() / 2, n = std::min<std::size_t>(4096, s.size() - at);
    s.replace(at, n, std::string(n, '\0'));
    return s;
}

// startxref names the "3 0 obj" inside "13 0 obj": qpdf reads that text as object 3 while looking
// for a cross-reference stream, keeps it, and goes on with a rebuilt table that puts object 3, a
// plain page, elsewhere.
std::string startxrefIntoAnotherObject()
{
    std::string doc = tree("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
                           {{3, Page},
                            {4, Page},
                            {13, "<< /Type /Pages /Kids [4 0 R 4 0 R 4 0 R] >>"}});
    const auto wrong = doc.find("13 0 obj") + 1;
    const auto at = doc.rfind("startxref\n") + 10;
    return doc.replace(at, doc.find('\n', at) - at, std::to_string(wrong));
}

// The table sends readers of node 6 to object 3, so qpdf rebuilds the table while walking the
// tree; the rebuilt table takes the later of the two objects numbered 5, a node.
std::string tableRebuiltDuringTheWalk()
{
    std::string doc = tree("<< /Type /Pages /Kids [6 0 R 5 0 R] /Count 3 >>",
                           {{3, Page},
                            {5, Page},
                            {6, "<< /Type /Pages /Kids [3 0 R] >>"},
                            {7, "<< >>\nendobj\n5 0 obj\n<< /Type /Pages /Kids [3 0 R 3 0 R] >>"}});
    auto row = [&](const char* object) {
        const std::string offset = std::to_string(doc.find(object));
        return std::string(10 - offset.size(), '0') + offset + " 00000 n";
    };
    const std::string node = row("6 0 obj"), page = row("3 0 obj");
    return doc.replace(doc.find(node, doc.rfind("\nxref\n")), node.size(), page);
}

// A fuzzer's find, byte for byte: a wrong startxref pointing into "13 0 obj", a damaged endobj,
// shared nodes eight deep, a root /Count beyond 32 bits.
std::string startxrefIntoANodeFuzzed()
{
    return "%PDF-1.5\n"
           "%\xe2\xe3\xcf\xd3\n"
           "1 0 obj\n"
           "<< /Type /Catalog /Pages 2 0 R >>\n"
           "endobj\n"
           "2 0 obj\n"
           "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 1099511627776 >>\n"
           "\xe5ndobj\n"
           "3 0 obj\n"
           "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>\n"
           "endobj\n"
           "4 0 obj\n"
           " obj\n"
           "<< /Type /Pages /Kids [13 0 R 13 0 R] /Count 1 >>\n"
           "endobj\n"
           "13 0 obj\n"
           "<< /Type /Pages /Kids [14 0 R 14 0 R] /Count 1 >>\n"
           "endobj\n"
           "14 0 obj\n"
           "<< /Type /Pages /Kids [15 0 R 15 0 R] /Count 1 >>\n"
           "endobj\n"
           "15 0 obj\n"
           "<< /Type /Pages /Kids [16 0 R 16 0 R] /Count 1 >>\n"
           "endobj\n"
           "16 0 obj\n"
           "<< /Type /Pages /Kids [17 0 R 17 0 R] /Count 1 >>\n"
           "endobj\n"
           "17 0 obj\n"
           "<< /Type /Pages /Kids [18 0 R 18 0 R] /Count 1 >>\n"
           "endobj\n"
           "18 0 obj\n"
           "<< /Type /Pages /Kids [19 0 R 19 0 R] /Count 1 >>\n"
           "endobj\n"
           "19 0 obj\n"
           "<< /Type /Pages /Kids [20 0 R 20 0 R] /Count 1 >>\n"
           "endobj\n"
           "20 0 obj\n"
           "<< /Type /Pages /Kids [21 0 R 21 0 R] /Count 1<< /Type /Page /Parent 2 0 R\xda/M\x9b\x91iaBox [0 0 200 200] >>\n"
           "endobj!xref\n"
           "0 5\n"
           "0000000000 65535 f \n"
           "0000000015 00000 n \n"
           "0000000064 00000 n \n"
           "0000000139 00000 n \n"
           "0000000210 00000 n \n"
           "trailer\n"
           "<< /Size 5 /Root 1 0 R >>\n"
           "startxref\n"
           "281\n"
           "%%EOF\n";
}

Layout encrypted() { return {.encrypt = true, .userPassword = "u", .ownerPassword = "o"}; }

}  // namespace

const std::vector<DamagedCase>& damagedCases()
{
    const std::int64_t F = Fails;
    static const std::vector<DamagedCase> cases = {
        // name, document, qpdf --show-npages, qpdf's walk, poppler, mupdf's count, mupdf's walk,
        // ours
        // Pages listed more than once, loops, shared nodes.
        {"OnePageListedTwice", [] { return tree("<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 2 >>", {{3, Page}}); }, 2, 2, 2, 2, 2, 2},
        {"RepeatedPageAmongOthers", [] { return tree("<< /Type /Pages /Kids [3 0 R 4 0 R 3 0 R 3 0 R] /Count 4 >>", {{3, Page}, {4, Page}}); }, 4, 4, 4, 4, 4, 4},
        {"LoopBackToTheRoot", [] { return tree("<< /Type /Pages /Kids [3 0 R 2 0 R 4 0 R] /Count 2 >>", {{3, Page}, {4, Page}}); }, 2, F, 2, 2, 1, 2},
        {"NodeListsItself", [] { return tree("<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>", {{3, Page}, {4, Page}, {5, "<< /Type /Pages /Kids [4 0 R 5 0 R] >>"}}); }, 2, F, 2, 2, 1, 2},
        {"LoopWithWrongCount", [] { return tree("<< /Type /Pages /Kids [3 0 R 2 0 R 4 0 R] /Count 3 >>", {{3, Page}, {4, Page}}); }, 3, F, 3, 3, 1, 3},
        {"NodeSharedByTwoParents", [] { return tree("<< /Type /Pages /Kids [5 0 R 5 0 R] /Count 4 >>", {{3, Page}, {4, Page}, {5, "<< /Type /Pages /Kids [3 0 R 4 0 R] >>"}}); }, 4, F, 4, 4, 0, 4},
        {"SharedNodes30Deep", [] { return sharedChain(30, "/Count 1073741824"); }, 1073741824, F, 0, 1073741824, 0, 1073741824},
        {"SharedNodes30DeepCountTooLow", [] { return sharedChain(30, "/Count 7"); }, 7, F, 7, 7, 0, 7},
        {"SharedNodes30DeepAboveALoop", [] { return sharedChain(30, "/Count 1073741824", true); }, 1073741824, F, 0, 1073741824, 0, -5},
        {"SharedNodes30DeepAboveALoopCountTooLow", [] { return sharedChain(30, "/Count 7", true); }, 7, F, 7, 7, 0, 7},
        {"SharedNodes31DeepNoCount", [] { return sharedChain(31, ""); }, 0, F, 0, 0, 0, -5},
        {"TwoDirectNodes", [] { return tree("<< /Type /Pages /Kids [<< /Kids [3 0 R] >> << /Kids [4 0 R] >>] /Count 2 >>", {{3, Page}, {4, Page}}); }, 2, F, 2, 2, 0, 2},
        // Empty trees.
        {"EmptyKids", [] { return tree("<< /Type /Pages /Kids [] /Count 0 >>"); }, 0, 0, 0, 0, 0, 0},
        {"NoKidsAtAll", [] { return tree("<< /Type /Pages /Count 0 >>"); }, 0, 0, 0, 0, 0, 0},
        {"NestedEmptyNodes", [] { return tree("<< /Type /Pages /Kids [3 0 R] /Count 0 >>", {{3, "<< /Type /Pages /Kids [4 0 R] /Count 0 >>"}, {4, "<< /Type /Pages /Kids [] /Count 0 >>"}}); }, 0, 0, 0, 0, 0, 0},
        // Odd kids.
        {"KidThatDoesNotExist", [] { return tree("<< /Type /Pages /Kids [3 0 R 9 0 R] /Count 2 >>", {{3, Page}}); }, 2, 2, 2, 2, 2, 2},
        {"KidIsANumber", [] { return tree("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", {{3, Page}, {4, "17"}}); }, 2, 2, 2, 2, 2, 2},
        {"PageWithoutType", [] { return tree("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", {{3, Page}, {4, "<< /MediaBox [0 0 1 1] >>"}}); }, 2, 2, 2, 2, 2, 2},
        {"PagesNodeWithoutKids", [] { return tree("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", {{3, Page}, {4, "<< /Type /Pages /Count 0 >>"}}); }, 2, 2, 2, 2, 1, 2},
        {"PageThatHasKids", [] { return tree("<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", {{3, Page}, {4, "<< /Type /Page /Kids [3 0 R] >>"}}); }, 2, 2, 2, 2, 2, 2},
        {"DirectPage", [] { return tree("<< /Type /Pages /Kids [3 0 R << /Type /Page >>] /Count 2 >>", {{3, Page}}); }, 2, 2, 2, 2, 2, 2},
        {"KidsNotAnArray", [] { return tree("<< /Type /Pages /Kids 3 0 R /Count 1 >>", {{3, Page}}); }, 1, 0, 1, 1, 0, 1},
        {"PageBodyWiped", pageBodyWiped, 3, 3, 3, 3, 3, 3},
        {"KidsArrayZeroed", kidsZeroed, 0, 0, 3, 0, 0, 3},
        // Lying /Count.
        {"CountTooHigh", [] { return threePagesWithCount("99"); }, 99, 3, 0, 99, 3, 3},
        {"CountTooLow", [] { return threePagesWithCount("1"); }, 1, 3, 1, 1, 1, 3},
        {"CountNotANumber", [] { return threePagesWithCount("/Three"); }, 0, 3, 0, 0, 0, 3},
        {"EmptyKidsCountSaysThree", [] { return tree("<< /Type /Pages /Kids [] /Count 3 >>", {{3, Page}, {4, Page}, {5, Page}}); }, 3, 0, 3, 3, 0, 3},
        // No usable tree.
        {"TreeRootIsAPage", [] { return rawDocument({{1, "<< /Type /Catalog /Pages 3 0 R >>"}, {3, "<< /Type /Page /MediaBox [0 0 1 1] >>"}}, 1); }, 0, 0, 1, 0, 0, 1},
        {"CatalogWithoutPageTree", [] { return rawDocument({{1, "<< /Type /Catalog >>"}}, 1); }, 0, 0, 0, 0, 0, -3},
        {"PageTreeIsAnArray", [] { return rawDocument({{1, "<< /Type /Catalog /Pages [3 0 R] >>"}, {3, Page}}, 1); }, 0, 0, 0, 0, 0, -3},
        {"PageTreeObjectMissing", [] { return rawDocument({{1, "<< /Type /Catalog /Pages 7 0 R >>"}, {3, Page}}, 1); }, 0, 0, 0, 0, 0, -3},
        // Bytes lost or damaged.
        {"CutAtHalf", [] { return cut(twenty(), 1, 2); }, F, F, F, F, 0, -3},
        {"CutAtQuarter", [] { return cut(twenty(), 1, 4); }, F, F, F, F, 0, -3},
        {"CutAtNinetyPercent", [] { return cut(twenty(), 9, 10); }, F, F, F, 20, 20, -3},
        {"LastThirtyBytesGone", [] { const auto d = twenty(); return d.substr(0, d.size() - 30); }, F, F, 20, 20, 20, 20},
        {"ObjectStreamsCutAtHalf", [] { return cut(twentyObjStm(), 1, 2); }, F, F, F, 20, 20, -3},
        {"LinearizedCutAtHalf", [] { return cut(qpdfDocument(20, {.linearize = true}), 1, 2); }, 0, 0, 0, 0, 0, -3},
        {"StartxrefGarbage", [] { return replaceAll(twenty(), "startxref", "startxrex"); }, 20, 20, 20, 20, 20, 20},
        {"XrefKeywordGone", [] { return replaceAll(twenty(), "xref\n", "xxxx\n"); }, 20, 20, 20, 20, 20, 20},
        {"RootRenamed", [] { return replaceAll(qpdfDocument(6), "/Root", "/Xoot"); }, F, F, F, 0, 0, -3},
        {"XrefOffsetsShifted", shiftedXref, 3, 3, 3, 3, 3, 3},
        {"StartxrefIntoAnotherObject", startxrefIntoAnotherObject, 2, 4, 2, 2, 2, 2},
        {"TableRebuiltDuringTheWalk", tableRebuiltDuringTheWalk, 3, 3, 3, 3, 0, 3},
        {"StartxrefIntoANodeFuzzed", startxrefIntoANodeFuzzed, 1099511627776, F, 0, 0, 0, -3},
        {"FourKilobytesZeroed", [] { return zeroedMiddle(twenty()); }, F, F, F, F, 0, -3},
        {"TenthOfAPercentFlipped", [] { return flipped(twenty(), 11, 1000); }, 20, 20, 20, 20, 20, 20},
        {"OnePercentFlipped", [] { return flipped(twenty(), 12, 100); }, 20, 26, 20, 0, 0, 20},
        {"ObjectStreamsOnePercentFlipped", [] { return flipped(twentyObjStm(), 13, 100); }, F, F, F, 0, 0, -3},
        {"StreamLengthTooShort", [] { return streamLength("5", false); }, 2, 2, 2, 2, 2, 2},
        {"StreamLengthTooLong", [] { return streamLength("5000", false); }, 2, 2, 2, 2, 2, 2},
        {"StreamLengthWrongAndXrefLost", [] { return streamLengthWithoutXref("5"); }, 2, 2, 2, 2, 2, 2},
        // Object streams.
        {"PagesInAnObjectStream", pagesInObjectStream, 3, 3, 3, 3, 3, 3},
        {"ObjectStreamInsideObjectStream", objectStreamInsideObjectStream, 3, 3, 3, F, 0, 3},
        {"UnclosedPageInObjectStream", unclosedPageInObjectStream, 2, 3, 2, 2, 2, 3},
        {"UnclosedPageInFile", unclosedPageInFile, 2, 2, 2, 2, 2, 2},
        {"BrokenObjectBesidePagesInObjectStream", brokenObjectBesidePagesInObjectStream, 2, 3, 2, 2, 2, 2},
        // Other.
        {"IncrementalUpdateDropsAPage", incrementalUpdateDropsAPage, 2, 2, 2, 2, 2, 2},
        {"HeaderAtByte1020", [] { return headerAt(1020, qpdfDocument(4)); }, 4, 4, 4, 4, 4, 4},
        {"UserPassword", [] { return qpdfDocument(5, encrypted()); }, F, F, F, F, 5, -4},
        {"UserPasswordCutAtHalf", [] { return cut(qpdfDocument(5, encrypted()), 1, 2); }, F, F, F, 5, 5, -3},
        {"NotAPdf", [] { return std::string(2000, 'x'); }, F, F, F, F, 0, -2},
    };
    (void)F;
    return cases;
}

namespace {

template <class Read>
std::int64_t withQpdf(const std::string& bytes, Read read)
{
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processMemoryFile("case", bytes.data(), bytes.size());
        return read(pdf);
    } catch (...) {
        return Fails;
    }
}

}  // namespace

std::int64_t qpdfShowNpages(const std::string& bytes)
{
    return withQpdf(bytes, [](QPDF& pdf) {
        return std::int64_t(pdf.getRoot().getKey("/Pages").getKey("/Count").getIntValue());
    });
}

std::int64_t qpdfShowPages(const std::string& bytes)
{
    return withQpdf(bytes, [](QPDF& pdf) {
        return static_cast<std::int64_t>(QPDFPageDocumentHelper(pdf).getAllPages().size());
    });
}

void writeDamagedCases(const std::filesystem::path& folder, const std::string& prefix,
                       std::size_t maxBytes)
{
    std::filesystem::create_directories(folder);
    for (const auto& c : damagedCases()) {
        const std::string bytes = c.make();
        if (bytes.size() <= maxBytes)
            writeFile(folder / (prefix + c.name + ".pdf"), bytes);
    }
}

}  // namespace pdffix
