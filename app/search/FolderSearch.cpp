#include "FolderSearch.h"

#include "FileIcons.h"
#include "FileNames.h"
#include "SearchFilters.h"

#include "ComRuntime.h"
#include "ICTIFFPageCount.h"
#include "IPDFPageCounter.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace search {

// ---------------------------------------------------------------- page counters by class id

namespace {

// ICTIFFPageCount and IPDFPageCounter have the same shape: IDispatch, then GetPages.
template<typename Interface>
class ComPageCounter final : public PageCounter
{
public:
    explicit ComPageCounter(Interface *counter) : m_counter(counter) {}
    ~ComPageCounter() override { m_counter->Release(); }
    ComPageCounter(const ComPageCounter &) = delete;
    ComPageCounter &operator=(const ComPageCounter &) = delete;

    std::optional<int32_t> getPages(const QByteArray &path) override
    {
        // Undecodable bytes travel escaped (see FileNames.h); the counters reopen the same file.
        BSTR text = comrt::AllocBstrFromFileName(std::string_view(path.constData(), size_t(path.size())));
        LONG pages = 0;
        const HRESULT hr = text ? m_counter->GetPages(text, &pages) : E_OUTOFMEMORY;
        SysFreeString(text);
        if (FAILED(hr))
            return std::nullopt;
        return pages;
    }

private:
    Interface *m_counter;
};

template<typename Interface>
std::unique_ptr<PageCounter> createCounter(REFCLSID clsid, REFIID iid)
{
    Interface *counter = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void **>(&counter));
    if (FAILED(hr) || !counter)
        return nullptr;
    return std::make_unique<ComPageCounter<Interface>>(counter);
}

class ComPageCounterFactory final : public PageCounterFactory
{
public:
    std::unique_ptr<PageCounter> create(CounterKind kind) override
    {
        if (kind == CounterKind::Tiff)
            return createCounter<ICTIFFPageCount>(CLSID_CTIFFPageCount, IID_ICTIFFPageCount);
        return createCounter<IPDFPageCounter>(CLSID_CPDFPageCounter, IID_IPDFPageCounter);
    }
    void releaseUnused() override { CoFreeUnusedLibraries(); }
};

}  // namespace

std::unique_ptr<PageCounterFactory> makeComPageCounterFactory()
{
    return std::make_unique<ComPageCounterFactory>();
}

// ---------------------------------------------------------------- the walk

struct FileFacts
{
    bool known = false;  // false: nothing beyond the name could be read
    uint64_t size = 0;
    QDateTime created, modified, accessed;
};

struct FolderSearch::Counters
{
    std::unique_ptr<PageCounter> tiff;
    std::unique_ptr<PageCounter> pdf;
};

namespace {

QDateTime fromTimestamp(const struct statx_timestamp &t)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
}

// Facts of the entry; follows links, and falls back to the link itself when its target is gone.
FileFacts readFacts(const QByteArray &path)
{
    FileFacts facts;
    struct statx sx {};
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (::statx(AT_FDCWD, path.constData(), 0, mask, &sx) != 0
        && ::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, mask, &sx) != 0)
        return facts;
    facts.known = true;
    facts.size = sx.stx_size;
    facts.modified = fromTimestamp(sx.stx_mtime);
    facts.accessed = fromTimestamp(sx.stx_atime);
    // Not every file system records a birth time; the status-change time is the nearest stand-in.
    facts.created = fromTimestamp((sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime);
    return facts;
}

enum class EntryKind { File, Folder, Other };

struct Entry
{
    QByteArray name;
    EntryKind kind;
};

EntryKind classify(const QByteArray &path, unsigned char type)
{
    if (type == DT_DIR)
        return EntryKind::Folder;
    if (type == DT_REG)
        return EntryKind::File;
    if (type != DT_LNK && type != DT_UNKNOWN)
        return EntryKind::Other;  // devices, pipes, sockets: opening one could block
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return ::lstat(path.constData(), &st) == 0 ? EntryKind::File : EntryKind::Other;  // dangling link
    if (S_ISDIR(st.st_mode))
        return EntryKind::Folder;
    return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

QByteArray joinPath(const QByteArray &folder, const QByteArray &name)
{
    if (folder.endsWith('/'))
        return folder + name;
    return folder + '/' + name;
}

// The folder as the file system names it: no trailing separator except for the root.
QByteArray withoutTrailingSeparator(QByteArray folder)
{
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    return folder;
}

// Reads the folder's entries; false when it cannot be opened or listed.
bool listFolder(const QByteArray &folder, std::vector<Entry> &entries)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return false;
    errno = 0;
    while (const dirent *e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        entries.push_back({name, classify(joinPath(folder, name), e->d_type)});
    }
    const bool ok = errno == 0;
    ::closedir(dir);
    return ok || !entries.empty();
}

bool isTiffExtension(const QString &upper) { return upper == QLatin1String("TIF") || upper == QLatin1String("TIFF"); }

}  // namespace

FolderSearch::FolderSearch(SearchHost &host, std::unique_ptr<PageCounterFactory> counters)
    : m_host(host)
    , m_counters(counters ? std::move(counters) : makeComPageCounterFactory())
{
}

FolderSearch::~FolderSearch() = default;

QString FolderSearch::GetFileExtension(const QString &name)
{
    return FileIcons::extensionOf(name);
}

QString FolderSearch::totalsText(int64_t tiffPages, int64_t pdfPages)
{
    return QStringLiteral("Total Pages  TIFF : ") + QString::number(tiffPages) + QStringLiteral("  PDF : ")
           + QString::number(pdfPages);
}

void FolderSearch::cmdSearch_Click(const QString &folder)
{
    if (m_host.searchCaption() != kSearchCaption) {
        m_cancelRequested = true;
        return;
    }
    m_cancelRequested = false;
    const QString filter = m_host.filterText();
    m_host.setSearchCaption(kCancelCaption);
    RunSearch(folder, true);
    m_host.setSearchCaption(kSearchCaption);
    if (!filter.isEmpty())
        m_host.setFilterText(filter);
}

void FolderSearch::RunSearch(const QString &folder, bool clearGrid)
{
    m_cancelRequested = false;
    m_tiffTotal = 0;
    m_pdfTotal = 0;
    m_tiffCounterMissing = false;
    m_pdfCounterMissing = false;
    m_openFolders.clear();
    ++m_depth;
    SearchFolder(platform::pathFromText(folder), folder, clearGrid);
    --m_depth;
    m_host.showStatus(doneText(), QStringLiteral("Message"));
    if (m_cancelRequested)
        m_host.showStatus(QStringLiteral("Search Terminated by User"), QStringLiteral("Message"));
    m_counters->releaseUnused();
}

QString FolderSearch::doneText() const
{
    if (m_tiffCounterMissing && m_pdfCounterMissing)
        return QStringLiteral("Done - the TIFF and PDF page counters are missing; their pages read Error");
    if (m_tiffCounterMissing)
        return QStringLiteral("Done - the TIFF page counter is missing; TIFF pages read Error");
    if (m_pdfCounterMissing)
        return QStringLiteral("Done - the PDF page counter is missing; PDF pages read Error");
    return QStringLiteral("Done");
}

void FolderSearch::SearchFolder(const QByteArray &folder, const QString &shownFolder, bool clearGrid)
{
    if (!m_cancelRequested) {
        struct stat st {};
        if (::stat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return;  // gone or not a folder: this folder adds nothing, silently
        const FolderId id{uint64_t(st.st_dev), uint64_t(st.st_ino)};
        if (std::find(m_openFolders.begin(), m_openFolders.end(), id) != m_openFolders.end())
            return;  // a link back into a folder we are inside: walking it again would never end

        // One instance of each counter serves this folder's files; a missing one is reported once
        // the run is done, and its files still get their rows.
        Counters counters;
        counters.tiff = m_counters->create(CounterKind::Tiff);
        counters.pdf = m_counters->create(CounterKind::Pdf);
        m_tiffCounterMissing |= !counters.tiff;
        m_pdfCounterMissing |= !counters.pdf;

        m_host.showStatus(QStringLiteral("Searching ") + shownFolder, QStringLiteral("Message"));
        if (clearGrid)
            m_host.clearRows();

        m_openFolders.push_back(id);
        const bool listed = searchFiles(folder, counters);
        if (listed && !m_cancelRequested && m_host.includeSubfolders())
            searchSubfolders(folder);
        m_openFolders.pop_back();
        if (!listed)
            return;  // unreadable folder: no message, the caller goes on with its next subfolder
    }
    finishFolder();
}

bool FolderSearch::searchFiles(const QByteArray &folder, Counters &counters)
{
    std::vector<Entry> entries;
    if (!listFolder(folder, entries))
        return false;
    const PatternList patterns = ParsePatternList(m_host.filterText());
    for (const Entry &entry : entries) {
        if (entry.kind == EntryKind::Folder)
            continue;
        if (m_cancelRequested)
            break;
        if (entry.kind == EntryKind::File) {
            const QByteArray fullPath = joinPath(folder, entry.name);
            FoundFile file;
            file.name = platform::pathToDisplay(entry.name);
            file.hidden = entry.name.startsWith('.');
            if (PassesHiddenRule(file, m_host.showHiddenState())) {
                const bool patternOk = FilterMatchesEverything(m_host.filterText())
                                       || MatchesAnyPattern(file.name, patterns);
                if (patternOk) {
                    const FileFacts facts = readFacts(fullPath);
                    file.fullPath = platform::pathToText(fullPath);
                    file.nativePath = std::filesystem::path(fullPath.toStdString());
                    file.folderPath = platform::pathToText(withoutTrailingSeparator(folder));
                    file.size = qint64(std::min<uint64_t>(facts.size, uint64_t(INT64_MAX)));
                    file.created = facts.created;
                    file.modified = facts.modified;
                    file.accessed = facts.accessed;
                    if (PassesDateSizeFilter(file, m_host.criteria()))
                        listFile(folder, entry.name, fullPath, facts, counters);
                }
            }
        }
        m_host.processEvents();
    }
    return true;
}

void FolderSearch::searchSubfolders(const QByteArray &folder)
{
    std::vector<Entry> entries;
    if (!listFolder(folder, entries))
        return;
    for (const Entry &entry : entries) {
        if (entry.kind != EntryKind::Folder)
            continue;
        const QByteArray path = joinPath(withoutTrailingSeparator(folder), entry.name);
        SearchFolder(path, platform::pathToDisplay(path), false);
    }
}

void FolderSearch::listFile(const QByteArray &folder, const QByteArray &name, const QByteArray &fullPath,
                            const FileFacts &facts, Counters &counters)
{
    ResultRow row;
    row.FileName = platform::pathToDisplay(name);
    row.Location = platform::pathToDisplay(withoutTrailingSeparator(folder));
    if (facts.known) {
        // 64-bit kilobytes: a file beyond 2 TB still shows its size.
        row.SizeKb = ResultGrid::sizeKbText(qint64(facts.size / 1024 + (facts.size % 1024 != 0 ? 1 : 0)));
        row.Size = ResultGrid::sizeText(row.SizeKb);
        row.ModifiedDate = ResultGrid::modifiedDateText(facts.modified);
    }
    row.FullPath = platform::pathToText(fullPath);

    const QString upper = GetFileExtension(row.FileName).toUpper();
    PageCounter *counter = nullptr;
    int64_t *total = nullptr;
    if (isTiffExtension(upper)) {
        counter = counters.tiff.get();
        total = &m_tiffTotal;
    } else if (upper == QLatin1String("PDF")) {
        counter = counters.pdf.get();
        total = &m_pdfTotal;
    }
    if (total) {
        // A missing counter, a failed call and a rejected file all read "Error" for this file only.
        const std::optional<int32_t> pages = counter ? counter->getPages(fullPath) : std::nullopt;
        const int32_t code = !counter ? kCounterMissing : pages ? *pages : kCallFailed;
        if (code >= 0) {
            row.Pages = QString::number(code);
            *total += code;
        } else {
            row.Pages = QStringLiteral("Error");
        }
        row.PagesReason = pageResultReason(total == &m_tiffTotal ? CounterKind::Tiff : CounterKind::Pdf, code);
    }
    row.Icon = m_host.fileIcon(row.FullPath);
    // Handlers ran between files (sorting, deleting): the host appends after whatever is there now.
    m_host.appendRow(row);
}

void FolderSearch::finishFolder()
{
    const int files = m_host.rowCount() - 1;
    if (files > 0) {
        m_host.showStatus(QString::number(files) + QStringLiteral(" file(s) found"), QStringLiteral("Files"));
        m_host.setTotalsText(totalsText(m_tiffTotal, m_pdfTotal));
    } else {
        m_host.showStatus(QStringLiteral("No file found"), QStringLiteral("Files"));
        m_host.setTotalsText(totalsText(0, 0));
    }
}

}  // namespace search
