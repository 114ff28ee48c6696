// Every text the result grid shows, exports and sorts by, for a listing with the awkward cases
// (names that are not UTF-8, numbers in names, equal sizes and minutes, counts that failed,
// files whose facts could not be read), compared with a record taken from the program as it was
// released. A change to how rows are kept must not change one byte of it.
//
// QW_WRITE_RESULT_TEXTS=1 writes the record again instead of reading it (after a deliberate
// change of texts only).

#include "ExportGrid.h"
#include "FileNames.h"
#include "GuiTestEnvironment.h"
#include "ResultGrid.h"
#include "SearchCommand.h"
#include "AppSettings.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <cstdlib>
#include <ctime>

namespace {

// Fixed clock and language, so the record reads the same on every machine.
const bool fixedZone = [] {
    setenv("TZ", "UTC", 1);
    tzset();
    return true;
}();

std::vector<search::CountedFile> listing()
{
    using search::FileType;
    std::vector<search::CountedFile> files;
    const QByteArray folders[] = {"/srv/scans", "/srv/scans/2024", "/srv/Scans b", "/srv/\xe9t\xe9"};
    const QByteArray names[] = {
        "scan10.tif", "scan2.tif", "Scan1.TIF", "report.pdf", "Report.PDF", "notes.txt",
        "12 ab", "\xff\xfe.pdf", "caf\xc3\xa9.tiff", "-draft.pdf", "a,b.pdf", "q\"uote.tif",
        "zero.tif", "big.pdf", "same-minute-1.tif", "same-minute-2.tif", "locked.pdf", "broken.pdf",
    };
    const qint64 base = 1700000000;  // 14 Nov 2023, 22:13:20 UTC
    int i = 0;
    for (const QByteArray &folder : folders) {
        for (const QByteArray &name : names) {
            search::CountedFile f;
            f.folder = folder;
            f.name = name;
            f.path = folder + '/' + name;
            f.factsKnown = (i % 11) != 5;
            // Sizes around the kilobyte edges, equal sizes in every folder, one beyond 32-bit kilobytes.
            const uint64_t sizes[] = {0, 1, 1023, 1024, 1025, 4096, 1048576, 999999999, 5ULL << 40, 1024};
            f.size = sizes[size_t(i) % std::size(sizes)];
            // Minutes shared by neighbours, morning and afternoon, a few years apart.
            const qint64 secs = base + qint64((i * 7919) % 13) * 3600 * 5 + (i % 3) * 20;
            f.modified = QDateTime::fromSecsSinceEpoch(secs);
            f.created = f.modified;
            f.accessed = f.modified;
            f.type = search::fileTypeOf(name);
            const int32_t pages[] = {3, 12, 100, 0, -1, 7, 2, -2, -3, -4, -5, -100, -101, 12, 1};
            f.pages = pages[size_t(i) % std::size(pages)];
            files.push_back(f);
            ++i;
        }
    }
    return files;
}

// Lone surrogates (the bytes of a name that is not UTF-8) would not survive the record's UTF-8:
// they are written as \uDCxx.
QString escaped(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
        } else if (c.isSurrogate()) {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
        } else {
            out += c;
        }
    }
    return out;
}

class ResultTextsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        grid.SetUpResultGrid(modGlobal::SettingsRecord::defaults());
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    void fill(ResultGrid &g)
    {
        for (const search::CountedFile &f : listing())
            g.AppendFile(f, QPixmap());
    }

    static QString dumpCells(const ResultGrid &g)
    {
        QString out;
        for (int r = 0; r < g.rows(); ++r) {
            QStringList cells;
            for (int c = 0; c < ResultColumnCount; ++c)
                cells << g.textMatrix(r, c);
            cells << g.cellToolTip(r, ColPages);
            out += cells.join(QStringLiteral(" | ")) + u'\n';
        }
        return out;
    }

    static QString dumpOrder(const ResultGrid &g)
    {
        QStringList paths;
        for (int r = 1; r < g.rows(); ++r)
            paths << g.textMatrix(r, ColFullPath);
        return paths.join(u'\n') + u'\n';
    }

    QString record()
    {
        QString out = QStringLiteral("== cells\n");
        fill(grid);
        out += dumpCells(grid);

        QTemporaryDir dir;
        for (QChar separator : {QChar(u','), QChar(u'\t')}) {
            const QString path = dir.filePath(QStringLiteral("export.txt"));
            QString error;
            EXPECT_TRUE(WriteGridText(grid, path, separator, &error)) << error.toStdString();
            QFile f(path);
            EXPECT_TRUE(f.open(QIODevice::ReadOnly));
            out += QStringLiteral("== export ") + (separator == u',' ? "comma" : "tab") + u'\n';
            out += QString::fromUtf8(f.readAll());
        }

        // Each column and direction from the listing's own order, then one click after another
        // (ties keep the order the previous click left).
        for (int col = 0; col < 5; ++col) {
            for (int order : {1, 2}) {
                ResultGrid fresh;
                fresh.SetUpResultGrid(modGlobal::SettingsRecord::defaults());
                fill(fresh);
                fresh.SortBy(col, order);
                out += QStringLiteral("== sort %1 %2\n").arg(col).arg(order);
                out += dumpOrder(fresh);
            }
        }
        for (int step = 0; step < 12; ++step) {
            const int col = (step * 3) % 5;
            const int order = 1 + step % 2;
            grid.SortBy(col, order);
            out += QStringLiteral("== chain %1 %2\n").arg(col).arg(order);
            out += dumpOrder(grid);
        }
        out += QStringLiteral("== cells after sorting\n") + dumpCells(grid);
        return out;
    }

    ResultGrid grid;
};

TEST_F(ResultTextsTest, CellsExportAndSortOrdersEqualTheRecord)
{
    const QString path = QStringLiteral(QW_RESULT_TEXTS_RECORD);
    const QString now = escaped(record());
    if (qEnvironmentVariableIsSet("QW_WRITE_RESULT_TEXTS")) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(now.toUtf8());
        return;
    }
    QFile in(path);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly)) << path.toStdString();
    const QStringList expected = QString::fromUtf8(in.readAll()).split(u'\n');
    const QStringList actual = now.split(u'\n');
    // Line by line, so a difference names its place.
    for (qsizetype i = 0; i < std::min(expected.size(), actual.size()); ++i)
        ASSERT_EQ(actual[i], expected[i]) << "line " << i + 1;
    EXPECT_EQ(actual.size(), expected.size());
}

}  // namespace
