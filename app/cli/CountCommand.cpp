#include "CountCommand.h"

#include "FolderListing.h"

#include <QEventLoop>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

constexpr int kProgressEveryMs = 100;

}  // namespace

CountCommand::CountCommand(const CliOptions &options, std::FILE *out, std::FILE *err,
                           search::SearchCore::FactoryMaker factory)
    : m_options(options)
    , m_out(out)
    , m_err(err)
    , m_core(std::make_unique<search::SearchCore>(std::move(factory)))
    , m_writer(options.format, options.report, options.nullTerminated)
{
    m_showProgress = ::isatty(::fileno(err)) == 1;
    m_outIsTerminal = ::isatty(::fileno(out)) == 1;
    search::SearchOptions o;
    o.filterText = options.filter;
    o.showHiddenState = options.hidden ? search::Ticked : search::Unticked;
    o.includeSubfolders = options.recursive;
    o.criteria = options.criteria;
    o.criteria.filterText = o.filterText;
    o.criteria.showHiddenState = o.showHiddenState;
    m_core->options().set(o);
    m_core->setLanes(options.jobs);
    if (!options.noCache)
        m_core->setPageCountCache(std::make_shared<search::PageCountCache>());

    connect(m_core.get(), &search::SearchCore::folderStarted, this, &CountCommand::onFolderStarted);
    connect(m_core.get(), &search::SearchCore::fileCounted, this, &CountCommand::onFileCounted);
    connect(m_core.get(), &search::SearchCore::finished, this, &CountCommand::onFinished);
}

CountCommand::~CountCommand() = default;

QByteArray CountCommand::outputErrorText(int err)
{
    // Said plainly: "Bad file descriptor" leaves the user guessing which one.
    if (err == EBADF)
        return "standard output is closed";
    return std::strerror(err);
}

void CountCommand::addPath(const QByteArray &path, bool fromList)
{
    struct stat st{};
    const char *why = nullptr;
    if (path.isEmpty())
        why = "an empty name";
    else if (::stat(path.constData(), &st) != 0)
        why = errno == ENOENT ? "no such file or folder" : std::strerror(errno);
    else if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
        why = "not a file or folder";  // a pipe or a device could block the counter for ever
    if (why) {
        std::fprintf(m_err, "quirewell-count: %s%s: %s\n", fromList ? "in the list: " : "",
                     PrintableName(path, true).constData(), why);
        m_problem = true;
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        QByteArray folder = path;
        // The walk joins names to the folder with a "/"; a folder given with one at its end would
        // give doubled separators in every path.
        while (folder.size() > 1 && folder.endsWith('/'))
            folder.chop(1);
        m_items.push_back({true, {folder}});
        return;
    }
    // Files one after another are counted in one go, so the lanes stay busy across them.
    if (m_items.empty() || m_items.back().folder)
        m_items.push_back({false, {}});
    m_items.back().paths << path;
}

bool CountCommand::checkOperands()
{
    // Every operand is checked before anything is counted: a typing mistake costs no time.
    for (const QByteArray &operand : m_options.operands)
        addPath(operand, false);
    return !m_problem;
}

bool CountCommand::readFileList()
{
    const bool standardInput = m_options.filesFrom == "-";
    const int fd = standardInput ? 0 : ::open(m_options.filesFrom.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(m_err, "quirewell-count: %s: %s\n", PrintableName(m_options.filesFrom, true).constData(),
                     std::strerror(errno));
        return false;
    }
    QByteArray all;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            std::fprintf(m_err, "quirewell-count: %s: %s\n", PrintableName(m_options.filesFrom, true).constData(),
                         std::strerror(errno));
            if (!standardInput)
                ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        all.append(buffer, n);
    }
    if (!standardInput)
        ::close(fd);
    if (all.endsWith('\0'))
        all.chop(1);
    if (all.isEmpty())
        return true;
    // Names are exact bytes: a name may hold a newline, only NUL ends it.
    for (const QByteArray &name : all.split('\0'))
        addPath(name, true);
    return true;
}

int CountCommand::run()
{
    if (!checkOperands())
        return kExitUsage;
    if (!m_options.filesFrom.isNull() && !readFileList())
        return kExitUsage;
    write(m_writer.header());
    QEventLoop loop;
    startNext();
    while (!m_done)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return m_status;
}

void CountCommand::interrupt()
{
    if (m_done || m_interrupted)
        return;
    m_interrupted = true;
    // finished(cancelled) follows; between two items the next one is simply not started.
    if (m_core->isRunning())
        m_core->cancel();
}

void CountCommand::startNext()
{
    if (m_done)
        return;
    if (m_interrupted || m_outputError || m_next >= m_items.size()) {
        finish();
        return;
    }
    const Item &item = m_items[m_next++];
    if (item.folder)
        m_core->start(item.paths.front());
    else
        m_core->startFiles(item.paths);
}

void CountCommand::finish()
{
    clearProgress();
    m_totals.complete = !m_interrupted;
    for (const QByteArray &folder : m_folderOrder)
        write(m_writer.folder(folder, m_folderTotals.value(folder)));
    write(m_writer.footer(m_totals));
    if (!m_outputError) {
        errno = 0;
        if (std::fflush(m_out) != 0)
            m_outputError = errno ? errno : EIO;
    }
    const QByteArray errTotals = m_writer.totalsForErr(m_totals);
    if (!errTotals.isEmpty()) {
        std::fwrite(errTotals.constData(), 1, size_t(errTotals.size()), m_err);
        std::fflush(m_err);
    }
    if (m_outputError) {
        // Records that never arrived are no count: never a success.
        std::fprintf(m_err, "quirewell-count: cannot write the output: %s\n", outputErrorText(m_outputError).constData());
        m_status = kExitSomeFailed;
    } else if (m_interrupted) {
        m_status = kExitInterrupted;
    } else {
        m_status = (m_totals.failed > 0 || m_problem) ? kExitSomeFailed : kExitCounted;
    }
    m_done = true;
}

void CountCommand::onFolderStarted(const QByteArray &folder)
{
    m_currentFolder = folder;
    if (m_options.report == Report::Summary && !m_folderTotals.contains(folder)) {
        m_folderOrder << folder;
        m_folderTotals.insert(folder, Totals());
    }
    showProgress(false);
}

void CountCommand::onFileCounted(const search::CountedFile &file)
{
    m_totals.add(file);
    if (m_options.report == Report::Summary) {
        auto it = m_folderTotals.find(file.folder);
        if (it == m_folderTotals.end()) {
            m_folderOrder << file.folder;
            it = m_folderTotals.insert(file.folder, Totals());
        }
        it->add(file);
    }
    if (m_outIsTerminal)
        clearProgress();
    write(m_writer.record(file));
    emit fileWritten(file);
    showProgress(false);
}

void CountCommand::onFinished(const search::SearchSummary &summary)
{
    const Item &item = m_items[m_next - 1];
    if (summary.topFolderMissing) {
        clearProgress();
        std::fprintf(m_err, "quirewell-count: %s: cannot open the folder\n", PrintableName(item.paths.front(), true).constData());
        m_problem = true;
    }
    if (!summary.unreadFolders.empty() || summary.topFolderGone)
        clearProgress();
    // Each folder that was not counted, with the system's reason: the totals leave it out.
    for (const search::UnreadFolder &unread : summary.unreadFolders) {
        std::fprintf(m_err, "quirewell-count: %s: %s\n", PrintableName(unread.path, true).constData(),
                     unread.reason.toLocal8Bit().constData());
        m_problem = true;
    }
    if (summary.topFolderGone) {
        std::fprintf(m_err, "quirewell-count: %s: %s\n", PrintableName(item.paths.front(), true).constData(),
                     summary.topFolderGone == ENOENT ? "no longer exists"
                                                     : search::errorText(summary.topFolderGone).toLocal8Bit().constData());
        m_problem = true;
    }
    if ((summary.tiffCounterMissing || summary.pdfCounterMissing) && !m_reportedCounterProblem) {
        clearProgress();
        m_reportedCounterProblem = true;
        m_problem = true;
        const char *which = summary.tiffCounterMissing && summary.pdfCounterMissing ? "the TIFF and PDF page counters are"
                            : summary.tiffCounterMissing                            ? "the TIFF page counter is"
                                                                                    : "the PDF page counter is";
        std::fprintf(m_err, "quirewell-count: %s missing\n", which);
        if (!summary.counterProblem.isEmpty())
            std::fprintf(m_err, "quirewell-count: %s\n", summary.counterProblem.toUtf8().constData());
    }
    if (summary.cancelled)
        m_interrupted = true;
    // Not from inside the core's own signal.
    QMetaObject::invokeMethod(this, &CountCommand::startNext, Qt::QueuedConnection);
}

void CountCommand::write(const QByteArray &bytes)
{
    if (bytes.isEmpty() || m_outputError)
        return;
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out) != size_t(bytes.size())) {
        // A full disk or a closed reader: counting on would only be lost.
        m_outputError = errno ? errno : EIO;
        if (m_core->isRunning())
            m_core->cancel();
    }
}

void CountCommand::showProgress(bool force)
{
    if (!m_showProgress)
        return;
    if (!force && m_progressClock.isValid() && m_progressClock.elapsed() < kProgressEveryMs)
        return;
    m_progressClock.start();
    // Records and progress may share one terminal: what is on stdout goes first.
    std::fflush(m_out);
    QByteArray folder = PrintableName(m_currentFolder, true);
    if (folder.size() > 60)
        folder = "..." + folder.right(57);
    std::fprintf(m_err, "\r\033[K%lld files, TIFF %lld pages, PDF %lld pages  %s", qlonglong(m_totals.files),
                 qlonglong(m_totals.tiffPages), qlonglong(m_totals.pdfPages), folder.constData());
    std::fflush(m_err);
    m_progressShown = true;
}

void CountCommand::clearProgress()
{
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", m_err);
    std::fflush(m_err);
    m_progressShown = false;
}

}  // namespace cli
