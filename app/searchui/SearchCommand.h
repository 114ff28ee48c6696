#pragma once
// The Search command of the window: the button that starts and cancels a search, and the
// adapter that turns the search core's finished files into grid rows, status texts and the
// totals label. The walk and the counting run in the core (SearchCore), off the window's thread;
// the window only receives finished rows, in walk order, and never waits on a file.
//
// The command reaches the window only through SearchHost, so it runs without a window in tests
// and benchmarks.

#include "PageResult.h"
#include "ResultGrid.h"
#include "SearchCore.h"

#include <QByteArray>
#include <QObject>
#include <QPixmap>
#include <QString>

#include <cstdint>
#include <memory>

namespace search {

// What the command needs of the window: grid, criteria controls, Search button, status bar and
// totals label.
class SearchHost
{
public:
    virtual ~SearchHost() = default;

    // Result grid: row 0 is the header; data rows are 1 .. rowCount() - 1.
    virtual int rowCount() const = 0;
    virtual void clearRows() = 0;
    // Appends the file's row at the end of the grid, whatever happened to the grid meanwhile.
    virtual void appendFile(const CountedFile &file, const QPixmap &icon) = 0;
    // The small icon of the file; only the extension of fileName matters (a name or full path).
    virtual QPixmap fileIcon(const QString &fileName) = 0;

    // Criteria as the controls hold them at this moment.
    virtual QString filterText() const = 0;
    virtual void setFilterText(const QString &text) = 0;
    virtual SearchOptions searchOptions() const = 0;

    virtual QString searchCaption() const = 0;
    virtual void setSearchCaption(const QString &caption) = 0;

    virtual void showStatus(const QString &text, const QString &panelKey) = 0;
    virtual void setTotalsText(const QString &text) = 0;
    // The folders the last search could not read: text says how many ("2 folders could not be
    // read"), details lists each with its reason, one a line. Both empty: nothing to say.
    virtual void showUnreadFolders(const QString &text, const QString &details)
    {
        Q_UNUSED(text);
        Q_UNUSED(details);
    }
};

class SearchCommand : public QObject
{
    Q_OBJECT
public:
    static inline const QString kSearchCaption = QStringLiteral("&Search");
    static inline const QString kCancelCaption = QStringLiteral("&Cancel");

    // counters empty: the real components through the runtime (one factory per lane).
    explicit SearchCommand(SearchHost &host, SearchCore::FactoryMaker counters = {}, QObject *parent = nullptr);
    ~SearchCommand() override;

    // The Search button: starts a search of folder, or cancels the running one.
    void cmdSearch_Click(const QString &folder);
    void RunSearch(const QString &folder, bool clearGrid);

    // The host's criteria controls changed: the running walk reads them from now on.
    void optionsChanged();

    bool isRunning() const { return m_core.isRunning(); }
    void requestCancel() { m_core.cancel(); }
    int64_t tiffPageTotal() const { return m_core.progress().tiffPages; }
    int64_t pdfPageTotal() const { return m_core.progress().pdfPages; }
    SearchCore &core() { return m_core; }

    // The text after the last "." of the name; empty when there is none.
    static QString GetFileExtension(const QString &name);
    static QString totalsText(int64_t tiffPages, int64_t pdfPages);
    // "1 folder could not be read", "2 folders could not be read"; empty for none.
    static QString unreadFoldersText(size_t count);
    // Each folder and its reason, one a line.
    static QString unreadFoldersDetails(const std::vector<UnreadFolder> &folders);
    // The searched folder went away during the search.
    static QString goneFolderText(QString folder, int error);

signals:
    // The search is over and the button reads "&Search" again.
    void searchFinished(const search::SearchSummary &summary);

private:
    void onFolderStarted(const QByteArray &folder);
    void onFileCounted(const CountedFile &file);
    void onFinished(const SearchSummary &summary);
    void finishFolder();
    QString doneText(const SearchSummary &summary) const;

    SearchHost &m_host;
    SearchCore m_core;
    QString m_filterAtStart;
    QString m_shownTopFolder;
    bool m_clearGrid = false;
    bool m_awaitingTop = false;  // the search's first folder has not been signalled yet
};

}  // namespace search
