// Whole-process cost of counting one generated corpus: quirewell-count (all processors, and one
// file at a time), shell loops of one qpdf --show-npages or pdfinfo (PDF) and tiffinfo (TIFF)
// process per file, and
// exiftool -r -PageCount when it is installed. Wall and CPU time (children included), as ratios
// to quirewell-count, all measured in this one run; the page totals are compared as well.
//
//   cli_bench [files]     (default 2000; the corpus is made in a temporary folder first)

#include "TestDocuments.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <cstdio>
#include <vector>

namespace {

struct Timing {
    QString name;
    double wall = 0;  // seconds
    double cpu = 0;   // user + system of the children, seconds
    QByteArray out;
    bool ok = false;
};

double childCpu()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Timing measure(const QString &name, const QString &program, const QStringList &args)
{
    Timing t;
    t.name = name;
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    const double cpu0 = childCpu();
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    t.ok = p.waitForStarted() && p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit;
    t.wall = double(clock.nsecsElapsed()) / 1e9;
    t.cpu = childCpu() - cpu0;
    t.out = p.readAllStandardOutput();
    return t;
}

// Best of `rounds` by wall time (the machine may be busy with other work).
Timing best(int rounds, const QString &name, const QString &program, const QStringList &args)
{
    Timing b;
    for (int i = 0; i < rounds; ++i) {
        Timing t = measure(name, program, args);
        if (i == 0 || t.wall < b.wall)
            b = t;
    }
    return b;
}

void makeCorpus(const QString &root, int files)
{
    const int folders = std::max(1, files / 100);
    int made = 0;
    for (int f = 0; f < folders; ++f) {
        const QString folder = QStringLiteral("%1/f%2/g%3/h%4").arg(root).arg(f % 5).arg(f % 10).arg(f);
        QDir().mkpath(folder);
        for (int i = 0; i < files / folders && made < files; ++i, ++made) {
            const QByteArray base = QFile::encodeName(folder) + "/doc" + QByteArray::number(i);
            switch (i % 4) {
            case 0: testdocs::writeTiff(base + ".tif", 1 + i % 17); break;
            case 1: testdocs::writePdf(base + ".pdf", 1 + i % 97); break;
            case 2: testdocs::writeBytes(base + ".txt", "notes"); break;
            default: testdocs::writeBytes(base + ".jpg", QByteArray(2048, 'j')); break;
            }
        }
    }
}

// --totals-only --format csv: a header, then "tiffPages,pdfPages,files,failed,complete".
QByteArray countTotals(const QByteArray &csv)
{
    const QList<QByteArray> lines = csv.split('\n');
    if (lines.size() < 2)
        return "?";
    const QList<QByteArray> cells = lines[1].split(',');
    return cells.size() < 2 ? QByteArray("?") : cells[0] + ' ' + cells[1];
}

// One process per file: $2 picks qpdf --show-npages or pdfinfo for the PDFs; tiffinfo counts
// the TIFF directories.
const char kLoop[] = R"(
root="$1"; tiff=0; pdf=0
while IFS= read -r -d '' f; do
  if [ "$2" = qpdf ]; then n=$(qpdf --show-npages "$f" 2>/dev/null)
  else n=$(pdfinfo "$f" 2>/dev/null | sed -n 's/^Pages: *//p'); fi
  [ -n "$n" ] && pdf=$((pdf + n))
done < <(find "$root" -type f \( -iname '*.pdf' \) -print0)
while IFS= read -r -d '' f; do
  n=$(tiffinfo "$f" 2>/dev/null | grep -c '^TIFF Directory at offset')
  tiff=$((tiff + n))
done < <(find "$root" -type f \( -iname '*.tif' -o -iname '*.tiff' \) -print0)
echo "$tiff $pdf"
)";

}  // namespace

int main(int argc, char **argv)
{
    const int files = argc > 1 ? std::max(4, atoi(argv[1])) : 2000;
    QTemporaryDir dir;
    const QString root = dir.path();
    std::printf("making %d files in %s ...\n", files, qPrintable(root));
    std::fflush(stdout);
    makeCorpus(root, files);

    const QString count = QStringLiteral(QW_COUNT_PROGRAM);
    const int n = QThread::idealThreadCount();
    const QStringList base = {"-r", "--totals-only", "--format", "csv", root};
    measure("warm-up", count, base);  // fills the page cache for everyone

    std::vector<Timing> runs;
    runs.push_back(best(3, QStringLiteral("quirewell-count --jobs %1").arg(n), count,
                        QStringList{"--jobs", QString::number(n)} + base));
    runs.push_back(best(3, QStringLiteral("quirewell-count --jobs 1"), count, QStringList{"--jobs", "1"} + base));
    const bool haveTools = !QStandardPaths::findExecutable("qpdf").isEmpty()
                           && !QStandardPaths::findExecutable("tiffinfo").isEmpty();
    if (haveTools)
        runs.push_back(measure("loop: qpdf --show-npages / tiffinfo", "bash", {"-c", kLoop, "loop", root, "qpdf"}));
    else
        std::printf("qpdf or tiffinfo missing: no shell loop\n");
    const bool havePdfinfo = haveTools && !QStandardPaths::findExecutable("pdfinfo").isEmpty();
    if (havePdfinfo)
        runs.push_back(measure("loop: pdfinfo / tiffinfo", "bash", {"-c", kLoop, "loop", root, "pdfinfo"}));
    else
        std::printf("pdfinfo missing (poppler-utils): no pdfinfo loop\n");
    if (!QStandardPaths::findExecutable("exiftool").isEmpty())
        runs.push_back(measure("exiftool -r -PageCount", "exiftool", {"-r", "-PageCount", "-q", root}));
    else
        std::printf("exiftool not installed: left out\n");

    const Timing &ref = runs.front();
    std::printf("\n%d files, %d processors (machine shared: compare ratios, not seconds)\n\n", files, n);
    std::printf("%-42s %9s %9s %10s %10s\n", "method", "wall s", "cpu s", "wall x", "cpu x");
    for (const Timing &t : runs)
        std::printf("%-42s %9.3f %9.3f %10.1f %10.1f%s\n", qPrintable(t.name), t.wall, t.cpu, t.wall / ref.wall,
                    t.cpu / std::max(ref.cpu, 1e-9), t.ok ? "" : "  (failed)");
    std::printf("\n--jobs 1 / --jobs %d: %.2f x wall\n", n, runs[1].wall / ref.wall);
    std::printf("page totals (TIFF PDF): quirewell-count %s", countTotals(ref.out).constData());
    if (haveTools)
        std::printf(", qpdf loop %s", runs[2].out.trimmed().constData());
    if (havePdfinfo)
        std::printf(", pdfinfo loop %s", runs[3].out.trimmed().constData());
    std::printf("\n");
    return 0;
}
