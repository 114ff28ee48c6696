#pragma once
// quirewell-count's run: checks the operands, walks each folder and counts each file with the
// search core (the window's own walk, criteria and counters), writes the records as they arrive
// in walk order, then the totals. Progress goes to standard error when that is a terminal.

#include "CliOptions.h"
#include "RecordWriter.h"
#include "SearchCore.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <cstdio>
#include <memory>
#include <vector>

namespace cli {

constexpr int kExitCounted = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by Ctrl+C

class CountCommand : public QObject
{
    Q_OBJECT
public:
    // factory: the counters for each lane; empty: the real components through the runtime.
    CountCommand(const CliOptions &options, std::FILE *out, std::FILE *err,
                 search::SearchCore::FactoryMaker factory = {});
    ~CountCommand() override;

    // Runs to the end (an event loop of its own) and returns the exit status.
    int run();
    // The words for a failed write of standard output (errno err).
    static QByteArray outputErrorText(int err);
    // Stops the count: the records so far and their totals are written (Ctrl+C does this).
    void interrupt();
    // Shows progress on err even when it is not a terminal (tests).
    void setShowProgress(bool show) { m_showProgress = show; }

signals:
    void fileWritten(const search::CountedFile &file);

private:
    // A folder to walk, or files to count in one go.
    struct Item {
        bool folder = false;
        QList<QByteArray> paths;
    };
    void addPath(const QByteArray &path, bool fromList);
    bool checkOperands();
    bool readFileList();
    void startNext();
    void finish();
    void onFolderStarted(const QByteArray &folder);
    void onFileCounted(const search::CountedFile &file);
    void onFinished(const search::SearchSummary &summary);
    void write(const QByteArray &bytes);
    void showProgress(bool force);
    void clearProgress();

    CliOptions m_options;
    std::FILE *m_out;
    std::FILE *m_err;
    std::unique_ptr<search::SearchCore> m_core;
    RecordWriter m_writer;
    Totals m_totals;
    std::vector<Item> m_items;
    size_t m_next = 0;  // index of the next item
    // Per-folder subtotals in the order the folders were met (--summary).
    QList<QByteArray> m_folderOrder;
    QHash<QByteArray, Totals> m_folderTotals;
    bool m_interrupted = false;
    bool m_problem = false;  // a folder, a listed name or a counter failed as a whole
    bool m_reportedCounterProblem = false;
    bool m_showProgress = false;
    bool m_progressShown = false;
    bool m_outIsTerminal = false;
    QByteArray m_currentFolder;
    QElapsedTimer m_progressClock;
    int m_outputError = 0;  // errno of the first failed write to out
    int m_status = kExitCounted;
    bool m_done = false;
};

}  // namespace cli
