#pragma once
// The Search command: walks a folder (and, when asked, its subfolders depth first), lists every
// file that passes the criteria as a grid row, counts TIFF and PDF pages through the two page
// counter components and keeps the totals. It runs on the UI thread and gives the event loop one
// turn after every file entry, so the window stays live and a second press of the button cancels.
//
// The walk reaches the window only through SearchHost, and the counters only through
// PageCounterFactory, so it runs without a window in tests and benchmarks.

#include "PageResult.h"
#include "ResultGrid.h"
#include "SearchCriteria.h"

#include <QByteArray>
#include <QPixmap>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace search {

// What the walk needs of the window: grid, criteria controls, Search button, status bar, totals
// label and the event loop.
class SearchHost
{
public:
    virtual ~SearchHost() = default;

    // Result grid: row 0 is the header; data rows are 1 .. rowCount() - 1.
    virtual int rowCount() const = 0;
    virtual void clearRows() = 0;
    // Appends the row at the end of the grid, whatever happened to the grid meanwhile.
    virtual void appendRow(const ResultRow &row) = 0;
    // The small icon of the file (full path as kept in the grid).
    virtual QPixmap fileIcon(const QString &fullPath) = 0;

    // Criteria as the controls hold them at this moment.
    virtual QString filterText() const = 0;
    virtual void setFilterText(const QString &text) = 0;
    virtual SearchCriteria criteria() const = 0;
    // "Show Hidden Files" alone (TickState), read for every file before anything else.
    virtual int showHiddenState() const = 0;
    virtual bool includeSubfolders() const = 0;

    virtual QString searchCaption() const = 0;
    virtual void setSearchCaption(const QString &caption) = 0;

    virtual void showStatus(const QString &text, const QString &panelKey) = 0;
    virtual void setTotalsText(const QString &text) = 0;

    // One turn of the event loop.
    virtual void processEvents() = 0;
};

struct FileFacts;

class PageCounter
{
public:
    virtual ~PageCounter() = default;
    // The counter's answer (0 or more pages, negative = the file was rejected), or nothing when
    // the call itself failed.
    virtual std::optional<int32_t> getPages(const QByteArray &path) = 0;
};

class PageCounterFactory
{
public:
    virtual ~PageCounterFactory() = default;
    // A new counter instance, or null when the component cannot be created.
    virtual std::unique_ptr<PageCounter> create(CounterKind kind) = 0;
    // Called once a run is over: lets unused component libraries go.
    virtual void releaseUnused() {}
};

// Creates CTIFFPageCount and CPDFPageCounter by class identifier through the component runtime.
std::unique_ptr<PageCounterFactory> makeComPageCounterFactory();

class FolderSearch
{
public:
    static inline const QString kSearchCaption = QStringLiteral("&Search");
    static inline const QString kCancelCaption = QStringLiteral("&Cancel");

    // counters null: the real components through the runtime.
    explicit FolderSearch(SearchHost &host, std::unique_ptr<PageCounterFactory> counters = nullptr);
    ~FolderSearch();
    FolderSearch(const FolderSearch &) = delete;
    FolderSearch &operator=(const FolderSearch &) = delete;

    // The Search button: starts a run of folder, or cancels the running one.
    void cmdSearch_Click(const QString &folder);
    void RunSearch(const QString &folder, bool clearGrid);

    bool isRunning() const { return m_depth > 0; }
    void requestCancel() { m_cancelRequested = true; }
    bool cancelRequested() const { return m_cancelRequested; }
    int64_t tiffPageTotal() const { return m_tiffTotal; }
    int64_t pdfPageTotal() const { return m_pdfTotal; }

    // The text after the last "." of the name; empty when there is none.
    static QString GetFileExtension(const QString &name);
    static QString totalsText(int64_t tiffPages, int64_t pdfPages);

private:
    struct FolderId
    {
        uint64_t dev;
        uint64_t ino;
        bool operator==(const FolderId &) const = default;
    };
    struct Counters;

    void SearchFolder(const QByteArray &folder, const QString &shownFolder, bool clearGrid);
    bool searchFiles(const QByteArray &folder, Counters &counters);
    void searchSubfolders(const QByteArray &folder);
    void listFile(const QByteArray &folder, const QByteArray &name, const QByteArray &fullPath,
                  const FileFacts &facts, Counters &counters);
    void finishFolder();
    QString doneText() const;

    SearchHost &m_host;
    std::unique_ptr<PageCounterFactory> m_counters;
    std::vector<FolderId> m_openFolders;  // the folders on the current path, to stop at links back
    bool m_cancelRequested = false;
    int m_depth = 0;
    int64_t m_tiffTotal = 0;
    int64_t m_pdfTotal = 0;
    bool m_tiffCounterMissing = false;
    bool m_pdfCounterMissing = false;
};

}  // namespace search
