#include "PdfPageCount.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Constants.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <memory>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace pdfcount {
namespace {

void silencePoppler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
    });
}

std::uint64_t objectKey(const QPDFObjectHandle& h)
{
    return (std::uint64_t(std::uint32_t(h.getObjectID())) << 32) | std::uint32_t(h.getGeneration());
}

std::size_t headerOffset(std::string_view bytes)
{
    const auto at = bytes.substr(0, 1024).find("%PDF-");
    return at == std::string_view::npos ? 0 : at;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

// A dictionary's text that certainly describes a page and nothing else: it mentions neither
// /Kids nor /Pages and has no escaped names, comments or stream that could hide either.
bool isPlainPageText(std::string_view body)
{
    while (!body.empty() && isBlank(body.front()))
        body.remove_prefix(1);
    if (body.substr(0, 2) != "<<")
        return false;
    for (std::string_view word : {"/Kids", "/Pages", "stream", "#", "%"})
        if (body.find(word) != std::string_view::npos)
            return false;
    return true;
}

// Tells a plain page from a tree node by looking at the object's text in place: in the file for
// an uncompressed object, in its decoded object stream otherwise. Having qpdf parse every page
// object costs several times more than opening the file, and all the walk needs to know of a page
// is that it is one. Only the plainest case is answered here (see isPlainPageText, and the object
// must be exactly where the cross-reference data says); everything else goes to qpdf.
class PagePeek {
public:
    PagePeek(QPDF& pdf, std::string_view bytes)
        : m_pdf(pdf), m_bytes(bytes), m_base(headerOffset(bytes))
    {
    }

    bool isPlainPage(const QPDFObjGen& og)
    {
        if (!m_xref)
            m_xref = m_pdf.getXRefTable();
        const auto entry = m_xref->find(og);
        if (entry == m_xref->end())
            return false;
        if (entry->second.getType() == 1)
            return inFile(og, entry->second.getOffset());
        if (entry->second.getType() == 2 && og.getGen() == 0)
            return inObjectStream(og.getObj(), entry->second.getObjStreamNumber(),
                                  entry->second.getObjStreamIndex());
        return false;
    }

private:
    struct ObjectStream {
        std::shared_ptr<Buffer> data;
        std::vector<std::pair<long long, std::size_t>> objects;  // number, start of its text
    };

    bool inFile(const QPDFObjGen& og, qpdf_offset_t offset) const
    {
        if (offset < 0 || std::uint64_t(offset) + m_base >= m_bytes.size())
            return false;
        std::string_view text = m_bytes.substr(std::size_t(offset) + m_base, MaxObjectBytes);
        const std::string head =
            std::to_string(og.getObj()) + ' ' + std::to_string(og.getGen()) + " obj";
        if (text.substr(0, head.size()) != head)
            return false;
        text.remove_prefix(head.size());
        const auto end = text.find("endobj");
        return end != std::string_view::npos && isPlainPageText(text.substr(0, end));
    }

    bool inObjectStream(int number, int streamNumber, int index)
    {
        auto [it, added] = m_streams.try_emplace(streamNumber);
        if (added)
            load(streamNumber, it->second);
        const ObjectStream& stream = it->second;
        if (index < 0 || std::size_t(index) >= stream.objects.size() ||
            stream.objects[std::size_t(index)].first != number)
            return false;
        const std::size_t size = stream.data->getSize();
        const std::size_t start = stream.objects[std::size_t(index)].second;
        const std::size_t end = std::size_t(index) + 1 < stream.objects.size()
                                    ? stream.objects[std::size_t(index) + 1].second
                                    : size;
        if (start > end || end > size || end - start > MaxObjectBytes)
            return false;
        const std::string_view all(reinterpret_cast<const char*>(stream.data->getBuffer()), size);
        return isPlainPageText(all.substr(start, end - start));
    }

    // Decodes an object stream and reads its table of object numbers and offsets. A stream that
    // does not decode or whose table does not add up leaves `out` empty.
    void load(int streamNumber, ObjectStream& out)
    {
        try {
            QPDFObjectHandle stream = m_pdf.getObject(streamNumber, 0);
            if (!stream.isStream())
                return;
            QPDFObjectHandle dict = stream.getDict();
            QPDFObjectHandle n = dict.getKey("/N");
            QPDFObjectHandle first = dict.getKey("/First");
            if (!n.isInteger() || !first.isInteger() || n.getIntValue() <= 0 ||
                first.getIntValue() < 0)
                return;
            auto data = stream.getStreamData(qpdf_dl_generalized);
            const std::string_view text(reinterpret_cast<const char*>(data->getBuffer()),
                                        data->getSize());
            const auto firstAt = static_cast<std::uint64_t>(first.getIntValue());
            const auto count = static_cast<std::uint64_t>(n.getIntValue());
            if (firstAt > text.size() || count > firstAt / 4 + 1)
                return;
            std::vector<std::pair<long long, std::size_t>> objects;
            std::size_t p = 0;
            auto number = [&](unsigned long long& value) {
                while (p < firstAt && isBlank(text[p]))
                    ++p;
                const std::size_t from = p;
                value = 0;
                while (p < firstAt && p - from < 12 && text[p] >= '0' && text[p] <= '9')
                    value = value * 10 + unsigned(text[p++] - '0');
                return p > from;
            };
            for (std::uint64_t i = 0; i < count; ++i) {
                unsigned long long num = 0, off = 0;
                if (!number(num) || !number(off) || off > text.size() - firstAt)
                    return;
                if (!objects.empty() && firstAt + off < objects.back().second)
                    return;
                objects.emplace_back(static_cast<long long>(num), std::size_t(firstAt + off));
            }
            out.data = std::move(data);
            out.objects = std::move(objects);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            // Left to qpdf, which will judge the stream itself.
        }
    }

    static constexpr std::size_t MaxObjectBytes = 16 * 1024;
    QPDF& m_pdf;
    std::string_view m_bytes;
    std::size_t m_base;
    std::optional<std::map<QPDFObjGen, QPDFXRefEntry>> m_xref;
    std::unordered_map<int, ObjectStream> m_streams;
};

// Walks /Kids from the tree root. Intermediate nodes are dictionaries with a /Kids array (unless
// they say they are a /Page); every other dictionary below the root is a leaf unless it says it
// is an (empty) /Pages node, so a page whose /Type got damaged still counts. Every indirect node
// is visited once, which ends loops and stops a page listed twice from counting twice.
// A kid whose object is listed in the cross-reference table but cannot be read (damaged bytes)
// still stands for one page: the document has that page, only its description is broken. A kid
// whose object does not exist at all counts nothing.
std::int64_t countLeaves(QPDF& pdf, std::string_view bytes, QPDFObjectHandle treeRoot)
{
    PagePeek peek(pdf, bytes);
    std::unordered_set<std::uint64_t> seen;
    std::vector<QPDFObjectHandle> pending{std::move(treeRoot)};
    std::int64_t leaves = 0;
    bool atRoot = true;
    std::optional<std::map<QPDFObjGen, QPDFXRefEntry>> xref;  // read only if a kid is unreadable
    while (!pending.empty()) {
        QPDFObjectHandle node = std::move(pending.back());
        pending.pop_back();
        const bool root = atRoot;
        atRoot = false;
        if (node.isIndirect()) {
            if (!seen.insert(objectKey(node)).second)
                continue;
            if (!root && peek.isPlainPage(node.getObjGen())) {
                if (++leaves > INT32_MAX)
                    return leaves;
                continue;
            }
        }
        if (node.isNull()) {
            if (!root && node.isIndirect()) {
                if (!xref)
                    xref = pdf.getXRefTable();
                if (xref->count(node.getObjGen()) && ++leaves > INT32_MAX)
                    return leaves;
            }
            continue;
        }
        if (!node.isDictionary())
            continue;
        QPDFObjectHandle type = node.getKey("/Type");
        const bool typedPage = type.isNameAndEquals("/Page");
        QPDFObjectHandle kids = node.getKey("/Kids");
        if (kids.isArray() && !typedPage) {
            const int n = kids.getArrayNItems();
            for (int i = n - 1; i >= 0; --i)
                pending.push_back(kids.getArrayItem(i));
        } else if (typedPage || (!root && !type.isNameAndEquals("/Pages"))) {
            if (++leaves > INT32_MAX)
                return leaves;
        }
    }
    return leaves;
}

int32_t treeCount(QPDF& pdf, std::string_view bytes)
{
    QPDFObjectHandle catalog = pdf.getTrailer().getKey("/Root");
    if (!catalog.isDictionary())
        return Damaged;
    QPDFObjectHandle tree = catalog.getKey("/Pages");
    if (!tree.isDictionary())
        return Damaged;
    const std::int64_t leaves = countLeaves(pdf, bytes, tree);
    return leaves > INT32_MAX ? GaveUp : static_cast<int32_t>(leaves);
}

int32_t qpdfPages(std::string_view bytes)
{
    try {
        QPDF pdf;
        pdf.setLogger(silentQpdfLogger());
        pdf.setSuppressWarnings(true);
        pdf.processMemoryFile("document", bytes.data(), bytes.size());
        return treeCount(pdf, bytes);
    } catch (const QPDFExc& e) {
        return e.getErrorCode() == qpdf_e_password ? NeedsPassword : Damaged;
    } catch (const std::bad_alloc&) {
        return GaveUp;
    } catch (...) {
        return Damaged;
    }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "N G obj" of the last object that mentions /Catalog, or "" when there is none. A file cut short
// (an interrupted download) loses its trailer, and with it the only pointer qpdf's repair uses to
// find the catalog, while the catalog itself near the start survives.
std::string lastCatalogReference(std::string_view bytes)
{
    constexpr std::size_t lookBack = 4096;
    std::size_t at = bytes.rfind("/Catalog");
    for (int tries = 0; at != std::string_view::npos && tries < 8; ++tries) {
        const std::size_t from = at > lookBack ? at - lookBack : 0;
        const std::size_t obj = bytes.substr(from, at - from).rfind("obj");
        if (obj != std::string_view::npos) {
            // Walk back over "G", blanks, "N", blanks before "obj".
            std::size_t p = from + obj;
            auto skipBlanks = [&] {
                while (p > 0 && (bytes[p - 1] == ' ' || bytes[p - 1] == '\r' || bytes[p - 1] == '\n'))
                    --p;
            };
            auto number = [&] {
                const std::size_t end = p;
                while (p > 0 && isDigit(bytes[p - 1]))
                    --p;
                return std::string(bytes.substr(p, end - p));
            };
            skipBlanks();
            const std::string gen = number();
            skipBlanks();
            const std::string num = number();
            if (!num.empty() && !gen.empty() && num.size() < 10 && gen.size() < 6)
                return num + " " + gen + " R";
        }
        at = at > 0 ? bytes.rfind("/Catalog", at - 1) : std::string_view::npos;
    }
    return {};
}

// Same-length replacement of every occurrence, so no offset in the file moves.
void blankKeyword(std::string& text, std::string_view keyword, char replacement)
{
    for (auto at = text.find(keyword); at != std::string::npos; at = text.find(keyword, at + 1))
        text[at + keyword.size() - 1] = replacement;
}

// Repairs a file whose trailer is lost or names no catalog: qpdf is made to rebuild the object
// table from a scan of the file (the old trailers and startxref are disabled in a copy) and is
// given one trailer that names the last catalog the scan finds.
int32_t qpdfPagesWithFoundCatalog(std::string_view bytes)
{
    const std::string root = lastCatalogReference(bytes);
    if (root.empty())
        return Damaged;
    try {
        std::string patched;
        patched.reserve(bytes.size() + 64);
        patched.append(bytes);
        blankKeyword(patched, "startxref", 'X');
        blankKeyword(patched, "trailer", 'X');
        patched.append("\ntrailer\n<< /Root " + root + " >>\n");
        QPDF pdf;
        pdf.setLogger(silentQpdfLogger());
        pdf.setSuppressWarnings(true);
        pdf.processMemoryFile("document", patched.data(), patched.size());
        return treeCount(pdf, patched);
    } catch (const std::bad_alloc&) {
        return GaveUp;
    } catch (...) {
        return Damaged;
    }
}

}  // namespace

std::shared_ptr<QPDFLogger> silentQpdfLogger()
{
    // Shared by every reader, so no qpdf object in this process writes to the terminal.
    static const std::shared_ptr<QPDFLogger> logger = [] {
        auto l = QPDFLogger::create();
        l->setInfo(l->discard());
        l->setWarn(l->discard());
        l->setError(l->discard());
        return l;
    }();
    return logger;
}

bool hasPdfHeader(std::string_view bytes)
{
    return bytes.substr(0, 1024).find("%PDF-") != std::string_view::npos;
}

int32_t popplerPages(std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > std::size_t(INT_MAX))
        return hasPdfHeader(bytes) ? Damaged : NotPdf;
    silencePoppler();
    try {
        std::unique_ptr<poppler::document> doc(
            poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
        if (doc) {
            if (doc->is_locked())
                return NeedsPassword;
            const int n = doc->pages();
            if (n > 0)
                return n;
        }
    } catch (const std::bad_alloc&) {
        return GaveUp;
    } catch (...) {
    }
    return hasPdfHeader(bytes) ? Damaged : NotPdf;
}

int32_t countPages(std::string_view bytes, Readers readers)
{
    if (bytes.empty())
        return NotPdf;
    int32_t tree = qpdfPages(bytes);
    if (tree == Damaged && readers != Readers::Qpdf)
        tree = qpdfPagesWithFoundCatalog(bytes);
    if (tree > 0 || tree == NeedsPassword || tree == GaveUp)
        return tree;
    if (readers == Readers::All) {
        const int32_t second = popplerPages(bytes);
        if (second > 0 || second == GaveUp)
            return second;
    }
    if (tree == 0)
        return 0;
    return hasPdfHeader(bytes) ? Damaged : NotPdf;
}

MappedFile::~MappedFile()
{
    if (m_data)
        munmap(m_data, m_size);
}

int32_t MappedFile::open(const char* path)
{
    // O_NONBLOCK keeps a FIFO named *.pdf from blocking the open; only regular files are read.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return CannotOpen;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return CannotOpen;
    }
    if (st.st_size > 0) {
        void* p = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            ::close(fd);
            return CannotOpen;
        }
        m_data = p;
        m_size = static_cast<std::size_t>(st.st_size);
    }
    ::close(fd);
    return 0;
}

int32_t countFile(const char* path, Readers readers)
{
    MappedFile file;
    if (const int32_t rc = file.open(path); rc != 0)
        return rc;
    return countPages(file.bytes(), readers);
}

}  // namespace pdfcount
