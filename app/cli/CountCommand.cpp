#include "CountCommand.h"

#include <QEventLoop>
#include <QThread>

#include <cerrno>
#include <cstring>
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
    , m_writer(options.format)
{
    m_showProgress = ::isatty(::fileno(err)) == 1;
    m_outIsTerminal = ::isatty(::fileno(out)) == 1;
    search::SearchOptions o;
    o.filterText = options.filter;
    o.showHiddenState = options.hidden ? search::Ticked : search::Unticked;
    o.includeSubfolders = options.recursive;
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

bool CountCommand::checkFolders()
{
    bool ok = true;
    for (const QByteArray &folder : m_options.folders) {
        struct stat st{};
        const char *why = nullptr;
        if (::stat(folder.constData(), &st) != 0)
            why = errno == ENOENT ? "no such folder" : std::strerror(errno);
        else if (!S_ISDIR(st.st_mode))
            why = "not a folder";
        if (why) {
            std::fprintf(m_err, "quirewell-count: %s: %s\n", PrintableName(folder, true).constData(), why);
            ok = false;
        }
    }
    return ok;
}

int CountCommand::run()
{
    if (!checkFolders())
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
    // finished(cancelled) follows; between two folders the next one is simply not started.
    if (m_core->isRunning())
        m_core->cancel();
}

void CountCommand::startNext()
{
    if (m_done)
        return;
    if (m_interrupted || m_outputError || m_next >= m_options.folders.size()) {
        clearProgress();
        m_totals.complete = !m_interrupted;
        if (!m_outputError) {
            write(m_writer.footer(m_totals));
            if (std::fflush(m_out) != 0 && !m_outputError)
                m_outputError = errno ? errno : EIO;
        }
        if (m_outputError) {
            // Records that never arrived are no count: never a success.
            std::fprintf(m_err, "quirewell-count: cannot write the output: %s\n", std::strerror(m_outputError));
            m_status = kExitSomeFailed;
        } else if (m_interrupted) {
            m_status = kExitInterrupted;
        } else {
            m_status = (m_totals.failed > 0 || m_problem) ? kExitSomeFailed : kExitCounted;
        }
        m_done = true;
        return;
    }
    QByteArray folder = m_options.folders[m_next++];
    // The walk joins names to the folder with a "/"; a folder given with one at its end would
    // give doubled separators in every path.
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    m_core->start(folder);
}

void CountCommand::onFolderStarted(const QByteArray &folder)
{
    m_currentFolder = folder;
    showProgress(false);
}

void CountCommand::onFileCounted(const search::CountedFile &file)
{
    m_totals.add(file);
    if (m_outIsTerminal)
        clearProgress();
    write(m_writer.record(file));
    emit fileWritten(file);
    showProgress(false);
}

void CountCommand::onFinished(const search::SearchSummary &summary)
{
    const QByteArray folder = PrintableName(m_options.folders.value(m_next - 1), true);
    if (summary.topFolderMissing) {
        clearProgress();
        std::fprintf(m_err, "quirewell-count: %s: cannot open the folder\n", folder.constData());
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
