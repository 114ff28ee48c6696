#include "SearchCommand.h"

#include "FileIcons.h"
#include "FileNames.h"

#include "FolderListing.h"

#include <cerrno>
#include <cstdio>

namespace search {

SearchCommand::SearchCommand(SearchHost &host, SearchCore::FactoryMaker counters, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_core(std::move(counters))
{
    connect(&m_core, &SearchCore::folderStarted, this, &SearchCommand::onFolderStarted);
    connect(&m_core, &SearchCore::fileCounted, this, &SearchCommand::onFileCounted);
    connect(&m_core, &SearchCore::folderFinished, this, &SearchCommand::finishFolder);
    connect(&m_core, &SearchCore::finished, this, &SearchCommand::onFinished);
}

SearchCommand::~SearchCommand() = default;

QString SearchCommand::GetFileExtension(const QString &name)
{
    return FileIcons::extensionOf(name);
}

QString SearchCommand::totalsText(int64_t tiffPages, int64_t pdfPages)
{
    return QStringLiteral("Total Pages  TIFF : ") + QString::number(tiffPages) + QStringLiteral("  PDF : ")
           + QString::number(pdfPages);
}

QString SearchCommand::unreadFoldersText(size_t count)
{
    if (count == 0)
        return {};
    if (count == 1)
        return QStringLiteral("1 folder could not be read");
    return QString::number(count) + QStringLiteral(" folders could not be read");
}

QString SearchCommand::unreadFoldersDetails(const std::vector<UnreadFolder> &folders)
{
    QStringList lines;
    for (const UnreadFolder &f : folders)
        lines << platform::pathToDisplay(f.path) + QStringLiteral(": ") + f.reason;
    return lines.join(QLatin1Char('\n'));
}

QString SearchCommand::goneFolderText(QString folder, int error)
{
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    if (error == ENOENT)
        return folder + QStringLiteral(" no longer exists");
    return folder + QStringLiteral(" can no longer be read: ") + errorText(error);
}

void SearchCommand::cmdSearch_Click(const QString &folder)
{
    if (m_host.searchCaption() != kSearchCaption) {
        m_core.cancel();
        return;
    }
    m_filterAtStart = m_host.filterText();
    m_host.setSearchCaption(kCancelCaption);
    RunSearch(folder, true);
}

void SearchCommand::RunSearch(const QString &folder, bool clearGrid)
{
    optionsChanged();
    m_host.showUnreadFolders({}, {});
    m_core.start(platform::pathFromText(folder));
    m_clearGrid = clearGrid;
    m_awaitingTop = true;
    m_shownTopFolder = folder;
}

void SearchCommand::optionsChanged()
{
    m_core.options().set(m_host.searchOptions());
}

void SearchCommand::onFolderStarted(const QByteArray &folder)
{
    // The top folder as the user gave it; subfolders as the file system names them.
    const bool top = m_awaitingTop;
    m_awaitingTop = false;
    m_host.showStatus(QStringLiteral("Searching ") + (top ? m_shownTopFolder : platform::pathToDisplay(folder)),
                      QStringLiteral("Message"));
    if (top && m_clearGrid) {
        m_clearGrid = false;
        m_host.clearRows();
    }
}

void SearchCommand::onFileCounted(const CountedFile &file)
{
    // The icon goes by the extension alone: the name is all that needs converting.
    const QPixmap icon = m_host.fileIcon(platform::pathToText(file.name));
    // Handlers ran between rows (sorting, deleting): the host appends after whatever is there now.
    m_host.appendFile(file, icon);
}

void SearchCommand::finishFolder()
{
    const int files = m_host.rowCount() - 1;
    if (files > 0) {
        m_host.showStatus(QString::number(files) + QStringLiteral(" file(s) found"), QStringLiteral("Files"));
        m_host.setTotalsText(totalsText(m_core.progress().tiffPages, m_core.progress().pdfPages));
    } else {
        m_host.showStatus(QStringLiteral("No file found"), QStringLiteral("Files"));
        m_host.setTotalsText(totalsText(0, 0));
    }
}

QString SearchCommand::doneText(const SearchSummary &summary) const
{
    QString text = QStringLiteral("Done");
    if (summary.tiffCounterMissing && summary.pdfCounterMissing)
        text = QStringLiteral("Done - the TIFF and PDF page counters are missing; their pages read Error");
    else if (summary.tiffCounterMissing)
        text = QStringLiteral("Done - the TIFF page counter is missing; TIFF pages read Error");
    else if (summary.pdfCounterMissing)
        text = QStringLiteral("Done - the PDF page counter is missing; PDF pages read Error");
    if (!summary.counterProblem.isEmpty())
        text += QStringLiteral(" (") + summary.counterProblem + QLatin1Char(')');
    return text;
}

void SearchCommand::onFinished(const SearchSummary &summary)
{
    if (m_awaitingTop && m_clearGrid) {
        // Cancelled before the first folder was shown: the old rows do not belong to this search.
        m_host.clearRows();
    }
    m_awaitingTop = false;
    m_clearGrid = false;
    if (summary.cancelled || summary.topFolderGone)
        finishFolder();  // the folders being walked end here, with what they listed so far
    m_host.setSearchCaption(kSearchCaption);
    if (!m_filterAtStart.isEmpty())
        m_host.setFilterText(m_filterAtStart);

    m_host.showStatus(doneText(summary), QStringLiteral("Message"));
    if (summary.cancelled) {
        QString text = QStringLiteral("Search Terminated by User");
        if (summary.tiffCounterMissing && summary.pdfCounterMissing)
            text += QStringLiteral(" - the TIFF and PDF page counters are missing");
        else if (summary.tiffCounterMissing)
            text += QStringLiteral(" - the TIFF page counter is missing");
        else if (summary.pdfCounterMissing)
            text += QStringLiteral(" - the PDF page counter is missing");
        m_host.showStatus(text, QStringLiteral("Message"));
    }
    if (summary.topFolderGone && !summary.cancelled)
        m_host.showStatus(goneFolderText(m_shownTopFolder, summary.topFolderGone), QStringLiteral("Message"));
    if (!summary.unreadFolders.empty())
        m_host.showUnreadFolders(unreadFoldersText(summary.unreadFolders.size()),
                                 unreadFoldersDetails(summary.unreadFolders));
    if (!summary.counterProblem.isEmpty())
        std::fprintf(stderr, "quirewell: %s\n", summary.counterProblem.toLocal8Bit().constData());
    emit searchFinished(summary);
}

}  // namespace search
