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

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
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

// Reads the text of one dictionary in a plain subset of the syntax that qpdf parses exactly as
// written, without a warning: names as keys, each once; values that are names, numbers,
// references, true, false, null, and arrays and dictionaries of those. Anything else (strings,
// escaped names, comments, streams, stray words, bytes outside printable ASCII) is refused, so
// qpdf is asked instead. A warning qpdf would give while parsing counts as damage in the answer,
// so text it would repair must not be taken in place.
class PlainDictionary {
public:
    // `keys` is scratch space, kept by the caller from page to page.
    PlainDictionary(std::string_view text, std::vector<std::string_view>& keys)
        : m_text(text), m_keys(keys)
    {
        m_keys.clear();
    }

    // The whole text is blanks, one dictionary, blanks.
    bool whole()
    {
        skipBlanks();
        if (!dictionary(0))
            return false;
        skipBlanks();
        return m_at == m_text.size();
    }

private:
    static bool blank(char c)
    {
        return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f';
    }
    static bool regular(char c)
    {
        static constexpr auto table = [] {
            std::array<bool, 256> t{};
            const std::string_view special("()<>[]{}/%#");
            for (int c = '!'; c < 0x7f; ++c)
                t[std::size_t(c)] = special.find(char(c)) == std::string_view::npos;
            return t;
        }();
        return table[static_cast<unsigned char>(c)];
    }
    bool at(char c) const { return m_at < m_text.size() && m_text[m_at] == c; }
    void skipBlanks()
    {
        while (m_at < m_text.size() && blank(m_text[m_at]))
            ++m_at;
    }
    std::string_view word()
    {
        const std::size_t from = m_at;
        while (m_at < m_text.size() && regular(m_text[m_at]))
            ++m_at;
        return m_text.substr(from, m_at - from);
    }
    // A number qpdf reads without a warning: optional minus, digits with at most one point, and
    // not so many digits that an integer could overflow.
    static bool number(std::string_view w, bool& integer)
    {
        std::size_t p = !w.empty() && w[0] == '-' ? 1 : 0;
        int digits = 0, points = 0;
        for (; p < w.size(); ++p) {
            if (w[p] == '.')
                ++points;
            else if (w[p] >= '0' && w[p] <= '9')
                ++digits;
            else
                return false;
        }
        integer = points == 0;
        return digits > 0 && digits <= 15 && points <= 1;
    }
    static bool inRange(std::string_view w, long long least, long long most)
    {
        if (w.empty() || w.size() > 10)
            return false;
        long long n = 0;
        for (char c : w) {
            if (c < '0' || c > '9')
                return false;
            n = n * 10 + (c - '0');
        }
        return n >= least && n <= most;
    }
    bool name(std::string_view& out)
    {
        if (!at('/'))
            return false;
        ++m_at;
        out = word();
        return !out.empty();
    }
    bool value(int depth)
    {
        if (depth > 32 || m_at >= m_text.size())
            return false;
        if (m_text.substr(m_at, 2) == "<<")
            return dictionary(depth + 1);
        if (at('['))
            return array(depth + 1);
        std::string_view ignored;
        if (at('/'))
            return name(ignored);
        const std::string_view w = word();
        if (w == "true" || w == "false" || w == "null")
            return true;
        bool integer = false;
        if (!number(w, integer))
            return false;
        // "N G R" is one reference; anything else after an integer is left for the caller.
        const std::size_t after = m_at;
        skipBlanks();
        const std::string_view generation = word();
        skipBlanks();
        const std::string_view r = word();
        if (integer && r == "R")
            return inRange(w, 1, INT_MAX) && inRange(generation, 0, 65535);
        m_at = after;
        return true;
    }
    bool array(int depth)
    {
        ++m_at;
        for (;;) {
            skipBlanks();
            if (at(']')) {
                ++m_at;
                return true;
            }
            if (!value(depth))
                return false;
        }
    }
    bool dictionary(int depth)
    {
        if (m_text.substr(m_at, 2) != "<<")
            return false;
        m_at += 2;
        // This dictionary's keys follow those of the dictionaries around it.
        const std::size_t first = m_keys.size();
        for (;;) {
            skipBlanks();
            if (m_text.substr(m_at, 2) == ">>") {
                m_at += 2;
                m_keys.resize(first);
                return true;
            }
            std::string_view key;
            const auto mine = m_keys.begin() + static_cast<std::ptrdiff_t>(first);
            if (!name(key) || std::find(mine, m_keys.end(), key) != m_keys.end())
                return false;
            m_keys.push_back(key);
            skipBlanks();
            if (!value(depth))
                return false;
        }
    }

    std::string_view m_text;
    std::vector<std::string_view>& m_keys;
    std::size_t m_at = 0;
};

// A dictionary's text that certainly parses as a dictionary without /Kids, which qpdf's walk
// takes for a page: a plain dictionary (above) with no /Kids or /Pages key anywhere in it.
bool isPlainPageText(std::string_view body, std::vector<std::string_view>& keys)
{
    for (std::string_view word : {"/Kids", "/Pages"})
        if (body.find(word) != std::string_view::npos)
            return false;
    return PlainDictionary(body, keys).whole();
}

// What qpdf has warned of. Reading its warnings takes them from qpdf, so they are counted here
// for the whole parse.
class QpdfWarnings {
public:
    explicit QpdfWarnings(QPDF& pdf) : m_pdf(pdf) {}

    // True while every warning so far leaves qpdf's table as the file wrote it. A rebuilt table
    // always comes with warnings; any warning not known to be harmless is taken for one.
    bool tableAsWritten()
    {
        if (m_asWritten && m_pdf.anyWarnings()) {
            for (const QPDFExc& w : m_pdf.getWarnings()) {
                ++m_taken;
                m_asWritten = m_asWritten && harmless(w);
            }
        }
        return m_asWritten;
    }

    bool any() const { return m_taken > 0 || m_pdf.anyWarnings(); }

private:
    // A trailer /Size that does not match the highest object number (common from some writers):
    // noted after the table is read, nothing read again.
    static bool harmless(const QPDFExc& w)
    {
        return w.getErrorCode() == qpdf_e_damaged_pdf &&
               w.getMessageDetail().rfind("reported number of objects (", 0) == 0;
    }

    QPDF& m_pdf;
    std::size_t m_taken = 0;
    bool m_asWritten = true;
};

// Tells a plain page from a tree node by looking at the object's text in place: in the file for
// an uncompressed object, in its decoded object stream otherwise. Having qpdf parse every page
// object costs several times more than opening the file, and all the walk needs to know of a page
// is that it is one. Only the plainest case is answered here (see isPlainPageText, and the object
// must be exactly where the cross-reference data says); everything else goes to qpdf.
//
// The text read in place must be the very object qpdf holds for that number. That is certain only
// while qpdf uses the table as the file wrote it (see QpdfWarnings): it then resolves every object
// from there. Once qpdf has rebuilt the table (on opening or in the middle of the walk), it may
// still hold objects it read at offsets the rebuilt table does not name (the text after a wrong
// startxref, taken for a cross-reference stream, stays cached under its own number). From then
// on only qpdf's own object answers.
class PagePeek {
public:
    PagePeek(QPDF& pdf, QpdfWarnings& warnings, std::string_view bytes)
        : m_pdf(pdf), m_warnings(warnings), m_bytes(bytes), m_base(headerOffset(bytes))
    {
    }

    bool isPlainPage(const QPDFObjGen& og)
    {
        if (!m_warnings.tableAsWritten())
            return false;
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

    bool inFile(const QPDFObjGen& og, qpdf_offset_t offset)
    {
        if (offset < 0 || std::uint64_t(offset) + m_base >= m_bytes.size())
            return false;
        std::string_view text = m_bytes.substr(std::size_t(offset) + m_base, MaxObjectBytes);
        const std::string head =
            std::to_string(og.getObj()) + ' ' + std::to_string(og.getGen()) + " obj";
        if (text.substr(0, head.size()) != head)
            return false;
        text.remove_prefix(head.size());
        // qpdf reads "endobj" as a word: one that runs on into more characters is no "endobj".
        const auto end = text.find("endobj");
        if (end == std::string_view::npos || end + 6 >= text.size() ||
            !std::strchr(" \n\r\t\f()<>[]{}/%", text[end + 6]) || text[end + 6] == '\0')
            return false;
        return isPlainPageText(text.substr(0, end), m_keys);
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
        return isPlainPageText(all.substr(start, end - start), m_keys);
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
    QpdfWarnings& m_warnings;
    std::string_view m_bytes;
    std::size_t m_base;
    std::optional<std::map<QPDFObjGen, QPDFXRefEntry>> m_xref;
    std::unordered_map<int, ObjectStream> m_streams;
    std::vector<std::string_view> m_keys;
};

// What the tree walk found. `qpdfRefuses` is set where qpdf's own page walk stops with an error
// (an intermediate node met twice, by a loop or by two paths): the leaf count is then ours alone.
struct Walk {
    std::int64_t leaves = 0;
    bool qpdfRefuses = false;
    bool gaveUp = false;  // the work bound was hit, or the count does not fit 32 bits
};

// Walks /Kids from the tree root by qpdf's rules: a kid with a /Kids key is an intermediate node
// (whatever its /Type says) and every other kid is a page, even one whose object is missing or
// broken, so the count is the number of pages qpdf's own walk lists. A page listed twice counts
// twice. A node that is its own ancestor is cut (a loop); a node reached again by another path
// counts again. Subtrees without a cut are remembered, so a tree of shared nodes costs only its
// distinct nodes; the total work is bounded all the same.
Walk walkTree(QPDF& pdf, QpdfWarnings& warnings, std::string_view bytes,
              QPDFObjectHandle treeRoot, bool usePeek)
{
    struct Frame {
        QPDFObjectHandle kids;
        int next = 0;
        int size = 0;
        std::uint64_t key = 0;  // 0 for a direct node
        std::int64_t leaves = 0;
        bool cut = false;
    };
    constexpr std::int64_t MaxVisits = std::int64_t(1) << 24;
    constexpr std::int64_t MaxVisitsAfterALoop = std::int64_t(1) << 18;
    PagePeek peek(pdf, warnings, bytes);
    std::unordered_set<std::uint64_t> onPath;
    std::unordered_set<std::uint64_t> nodesSeen;
    std::unordered_map<std::uint64_t, std::int64_t> subtreeLeaves;
    int directNodes = 0;
    std::int64_t visits = 0;
    Walk walk;
    std::vector<Frame> stack;

    auto enter = [&](QPDFObjectHandle node, std::uint64_t key) {
        QPDFObjectHandle kids = node.getKey("/Kids");
        const int size = kids.isArray() ? kids.getArrayNItems() : 0;
        stack.push_back(Frame{std::move(kids), 0, size, key, 0, false});
        if (key)
            onPath.insert(key);
    };
    auto add = [&](std::int64_t& to, std::int64_t n) {
        to += n;
        if (to > INT32_MAX)
            walk.gaveUp = true;
        return !walk.gaveUp;
    };
    const std::uint64_t rootKey = treeRoot.isIndirect() ? objectKey(treeRoot) : 0;
    if (rootKey)
        nodesSeen.insert(rootKey);
    else
        ++directNodes;
    enter(treeRoot, rootKey);

    std::int64_t maxVisits = MaxVisits;
    while (!stack.empty()) {
        if (++visits > maxVisits) {
            walk.gaveUp = true;
            return walk;
        }
        Frame& top = stack.back();
        if (top.next >= top.size) {
            Frame done = std::move(top);
            stack.pop_back();
            if (done.key) {
                onPath.erase(done.key);
                if (!done.cut)
                    subtreeLeaves[done.key] = done.leaves;
            }
            if (stack.empty()) {
                walk.leaves = done.leaves;
            } else {
                stack.back().cut = stack.back().cut || done.cut;
                if (!add(stack.back().leaves, done.leaves))
                    return walk;
            }
            continue;
        }
        QPDFObjectHandle kid = top.kids.getArrayItem(top.next++);
        const std::uint64_t key = kid.isIndirect() ? objectKey(kid) : 0;
        if ((key && usePeek && peek.isPlainPage(kid.getObjGen())) || !kid.isDictionary() ||
            !kid.hasKey("/Kids")) {
            if (!add(top.leaves, 1))
                return walk;
            continue;
        }
        // An intermediate node. qpdf's walk refuses any node it meets a second time, and takes
        // every direct node for the same one.
        if (key ? !nodesSeen.insert(key).second : ++directNodes > 1)
            walk.qpdfRefuses = true;
        if (key && onPath.count(key)) {
            // Subtrees around a loop cannot be remembered (their count depends on the path), so
            // shared nodes above a loop would be walked again and again. The count is ours alone
            // from here on (qpdf refuses the tree), so it gets only a little more work.
            if (maxVisits == MaxVisits)
                maxVisits = std::min(MaxVisits, visits + MaxVisitsAfterALoop);
            top.cut = true;
            continue;
        }
        if (const auto known = subtreeLeaves.find(key); key && known != subtreeLeaves.end()) {
            if (!add(top.leaves, known->second))
                return walk;
            continue;
        }
        enter(kid, key);
    }
    return walk;
}

// qpdf's parse and the tree walk over it.
struct QpdfOpinion {
    int32_t outcome = 0;  // 0 when the walk ran, else why not
    Walk walk;
    std::int64_t rootCount = -1;  // the root's /Count as qpdf reads it; -1 when it is not a number
    bool repaired = false;        // qpdf met damage on the way (its warnings)
};

QpdfOpinion qpdfOpinion(std::string_view bytes, bool usePeek)
{
    QpdfOpinion opinion;
    try {
        QPDF pdf;
        pdf.setLogger(silentQpdfLogger());
        pdf.setSuppressWarnings(true);
        pdf.processMemoryFile("document", bytes.data(), bytes.size());
        QPDFObjectHandle catalog = pdf.getTrailer().getKey("/Root");
        QPDFObjectHandle tree = catalog.isDictionary() ? catalog.getKey("/Pages") : catalog;
        if (!catalog.isDictionary() || !tree.isDictionary()) {
            opinion.outcome = Damaged;
            return opinion;
        }
        if (QPDFObjectHandle count = tree.getKey("/Count"); count.isInteger())
            opinion.rootCount = count.getIntValue();
        QpdfWarnings warnings(pdf);
        opinion.walk = walkTree(pdf, warnings, bytes, tree, usePeek);
        opinion.repaired = warnings.any();
    } catch (const QPDFExc& e) {
        opinion.outcome = e.getErrorCode() == qpdf_e_password ? NeedsPassword : Damaged;
    } catch (const std::bad_alloc&) {
        opinion.outcome = GaveUp;
    } catch (...) {
        opinion.outcome = Damaged;
    }
    return opinion;
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

int32_t countPages(std::string_view bytes, Readers readers, PagePeekUse peek)
{
    if (bytes.empty())
        return NotPdf;
    QpdfOpinion q = qpdfOpinion(bytes, peek == PagePeekUse::On);
    // Whether qpdf warned depends on what it parsed, and the peek spares it pages and whole object
    // streams. Where its warnings decide the answer (below: a walk and a root /Count that
    // disagree), qpdf is asked again with every page parsed. Such files are rare.
    if (peek == PagePeekUse::On && readers == Readers::All && q.outcome == 0 &&
        !q.walk.qpdfRefuses && !q.walk.gaveUp && q.walk.leaves > 0 && q.rootCount > 0 &&
        q.rootCount != q.walk.leaves)
        q = qpdfOpinion(bytes, false);
    if (q.outcome == NeedsPassword || q.outcome == GaveUp ||
        (q.walk.gaveUp && !q.walk.qpdfRefuses))
        return q.outcome == NeedsPassword ? NeedsPassword : GaveUp;
    auto second = [&] { return readers == Readers::All ? popplerPages(bytes) : Damaged; };
    if (q.outcome == 0) {
        const auto leaves = static_cast<int32_t>(q.walk.leaves);
        if (!q.walk.qpdfRefuses) {
            // On a damaged file the walk may follow references the damage made up. Where the
            // root's /Count disagrees with it and poppler agrees with the /Count, two readings
            // outvote it.
            if (leaves > 0 && q.repaired && q.rootCount > 0 && q.rootCount != leaves &&
                readers == Readers::All && popplerPages(bytes) == q.rootCount)
                return static_cast<int32_t>(q.rootCount);
            if (leaves > 0)
                return leaves;
            // An empty tree has no pages, unless poppler finds some where qpdf's walk does not
            // look (a tree root that is itself a page, /Kids that is no array).
            const int32_t p = second();
            return p > 0 ? p : 0;
        }
        // qpdf's walk stops at a node met twice. The walk's count stands where a reader agrees:
        // qpdf's reading of the root /Count, or poppler.
        if (!q.walk.gaveUp && q.walk.leaves == q.rootCount)
            return leaves;
        const int32_t p = second();
        return p > 0 ? p : q.walk.gaveUp ? GaveUp : Damaged;
    }
    const int32_t p = second();
    if (p > 0 || p == GaveUp)
        return p;
    return hasPdfHeader(bytes) ? Damaged : NotPdf;
}

namespace {

// O_NONBLOCK keeps a FIFO named *.pdf from blocking the open; only regular files are read.
// The descriptor and the file's size, or -1.
int openRegular(const char* path, std::size_t& size)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) > SIZE_MAX) {
        ::close(fd);
        return -1;
    }
    size = static_cast<std::size_t>(st.st_size);
    return fd;
}

}  // namespace

MappedFile::~MappedFile()
{
    close();
}

void MappedFile::close()
{
    if (m_data)
        munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
}

int32_t MappedFile::open(const char* path)
{
    close();
    std::size_t size = 0;
    const int fd = openRegular(path, size);
    if (fd < 0)
        return CannotOpen;
    int32_t rc = 0;
    if (size > 0) {
        void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            rc = CannotOpen;
        } else {
            m_data = p;
            m_size = size;
        }
    }
    ::close(fd);
    return rc;
}

void FileBytes::close()
{
    m_map.close();
    m_bytes = {};
}

int32_t FileBytes::open(const char* path)
{
    close();
    std::size_t size = 0;
    const int fd = openRegular(path, size);
    if (fd < 0)
        return CannotOpen;
    if (size > kReadLimitBytes) {
        ::close(fd);
        const int32_t rc = m_map.open(path);
        if (rc == 0)
            m_bytes = m_map.bytes();
        return rc;
    }
    if (size > m_capacity) {
        // Uninitialised: the read fills what is used.
        m_buffer = std::make_unique_for_overwrite<char[]>(size);
        m_capacity = size;
    }
    // A file that grows meanwhile is read as it was when opened; one that shrinks, as it is now.
    std::size_t got = 0;
    while (got < size) {
        const ssize_t r = ::read(fd, m_buffer.get() + got, size - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            ::close(fd);
            return CannotOpen;
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    ::close(fd);
    m_bytes = std::string_view(m_buffer.get(), got);
    return 0;
}

int32_t countFile(const char* path, Readers readers)
{
    thread_local FileBytes file;
    if (const int32_t rc = file.open(path); rc != 0)
        return rc;
    const int32_t pages = countPages(file.bytes(), readers);
    file.close();
    return pages;
}

}  // namespace pdfcount
