#include "PdfFixtures.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace pdffix {

namespace {

std::string write(QPDF& pdf, const Layout& layout)
{
    QPDFWriter w(pdf);
    w.setOutputMemory();
    w.setStaticID(true);
    w.setObjectStreamMode(layout.objectStreams ? qpdf_o_generate : qpdf_o_disable);
    if (layout.linearize)
        w.setLinearization(true);
    if (layout.encrypt)
        w.setR6EncryptionParameters(layout.userPassword.c_str(), layout.ownerPassword.c_str(), true,
                                    false, false, false, false, false, qpdf_r3p_none, true);
    w.write();
    auto buf = w.getBufferSharedPointer();
    return {reinterpret_cast<const char*>(buf->getBuffer()), buf->getSize()};
}

}  // namespace

std::string rewritten(const std::string& bytes, const Layout& layout)
{
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processMemoryFile("fixture", bytes.data(), bytes.size());
    return write(pdf, layout);
}

std::string qpdfDocument(int pages, const Layout& layout)
{
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper helper(pdf);
    for (int i = 0; i < pages; ++i) {
        auto page = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>"));
        page.replaceKey("/Contents",
                        QPDFObjectHandle::newStream(&pdf, "BT /F1 12 Tf 72 720 Td (p" +
                                                              std::to_string(i + 1) + ") Tj ET"));
        helper.addPage(page, false);
    }
    return write(pdf, layout);
}

namespace {

std::string xrefAndTrailer(const std::map<int, std::size_t>& offsets, int size, int root,
                           std::size_t xrefAt, const std::string& prev)
{
    std::ostringstream out;
    out << "xref\n";
    if (prev.empty())
        out << "0 1\n0000000000 65535 f \n";
    for (const auto& [num, off] : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        out << num << " 1\n" << line;
    }
    out << "trailer\n<< /Size " << size << " /Root " << root << " 0 R" << prev << " >>\n"
        << "startxref\n" << xrefAt << "\n%%EOF\n";
    return out.str();
}

}  // namespace

std::string rawDocument(const std::map<int, std::string>& objects, int root)
{
    std::string doc = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    std::map<int, std::size_t> offsets;
    for (const auto& [num, body] : objects) {
        offsets[num] = doc.size();
        doc += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
    }
    const int size = objects.empty() ? 1 : objects.rbegin()->first + 1;
    return doc + xrefAndTrailer(offsets, size, root, doc.size(), "");
}

std::string xrefStreamDocument(const std::map<int, Placed>& objects, int root)
{
    // Object streams: "num offset ..." then the objects, each after a line break.
    std::map<int, std::vector<int>> members;
    for (const auto& [num, placed] : objects)
        if (placed.stream != 0)
            members[placed.stream].push_back(num);
    std::map<int, std::string> streamText;
    for (const auto& [stream, nums] : members) {
        std::string head, body;
        for (int num : nums) {
            head += std::to_string(num) + " " + std::to_string(body.size()) + " ";
            body += objects.at(num).text + "\n";
        }
        head += "\n";
        streamText[stream] = "<< /Type /ObjStm /N " + std::to_string(nums.size()) + " /First " +
                             std::to_string(head.size()) + " /Length " +
                             std::to_string(head.size() + body.size()) + " >>\nstream\n" + head +
                             body + "\nendstream";
    }
    std::string doc = "%PDF-1.5\n%\xe2\xe3\xcf\xd3\n";
    std::map<int, std::size_t> offsets;
    auto place = [&](int num, const std::string& text) {
        offsets[num] = doc.size();
        doc += std::to_string(num) + " 0 obj\n" + text + "\nendobj\n";
    };
    for (const auto& [num, placed] : objects)
        if (placed.stream == 0 && !streamText.count(num))
            place(num, placed.text);
    for (const auto& [stream, text] : streamText)
        place(stream, text);
    int size = 1;
    for (const auto& [num, placed] : objects)
        size = std::max(size, num + 1);
    for (const auto& [stream, text] : streamText)
        size = std::max(size, stream + 1);
    const int xrefNum = size++;
    const std::size_t xrefAt = doc.size();
    std::string rows;
    auto row = [&](int type, std::size_t field2, int field3) {
        rows += char(type);
        for (int shift = 24; shift >= 0; shift -= 8)
            rows += char((field2 >> shift) & 0xff);
        rows += char((field3 >> 8) & 0xff);
        rows += char(field3 & 0xff);
    };
    for (int num = 0; num < size; ++num) {
        const auto placed = objects.find(num);
        if (num == xrefNum) {
            row(1, xrefAt, 0);
        } else if (placed != objects.end() && placed->second.stream != 0) {
            const auto& list = members[placed->second.stream];
            row(2, std::size_t(placed->second.stream),
                int(std::find(list.begin(), list.end(), num) - list.begin()));
        } else if (offsets.count(num)) {
            row(1, offsets[num], 0);
        } else {
            row(0, 0, num == 0 ? 65535 : 0);
        }
    }
    doc += std::to_string(xrefNum) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(size) +
           " /W [1 4 2] /Root " + std::to_string(root) + " 0 R /Length " +
           std::to_string(rows.size()) + " >>\nstream\n" + rows + "\nendstream\nendobj\n";
    return doc + "startxref\n" + std::to_string(xrefAt) + "\n%%EOF\n";
}

std::string appendUpdate(const std::string& base, const std::map<int, std::string>& objects,
                         int root, int size)
{
    const auto at = base.rfind("startxref\n");
    if (at == std::string::npos)
        throw std::runtime_error("base has no startxref");
    const std::string prevXref = base.substr(at + 10, base.find('\n', at + 10) - (at + 10));
    std::string doc = base;
    std::map<int, std::size_t> offsets;
    for (const auto& [num, body] : objects) {
        offsets[num] = doc.size();
        doc += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
    }
    return doc + xrefAndTrailer(offsets, size, root, doc.size(), " /Prev " + prevXref);
}

std::string threePagesWithCount(const std::string& count)
{
    const std::string countKey = count.empty() ? "" : " /Count " + count;
    return rawDocument({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R]" + countKey + " >>"},
                        {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"},
                        {4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"},
                        {5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"}},
                       1);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pdfcount-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

int linesIn(const std::filesystem::path& file)
{
    std::ifstream in(file);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        ++n;
    return n;
}

}  // namespace pdffix
