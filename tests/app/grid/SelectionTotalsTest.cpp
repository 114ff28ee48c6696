// The selection totals kept from the selection's change notices must always equal a plain count
// of the selected, visible rows, whatever the user does in between.

#include "AppSettings.h"
#include "FlexGridModel.h"
#include "GuiTestEnvironment.h"
#include "ResultGrid.h"
#include "SelectionTotals.h"

#include <QItemSelectionModel>
#include <QTableView>
#include <QTest>

#include <random>

namespace {

struct Totals {
    int rows = 0;
    qint64 tiff = 0;
    qint64 pdf = 0;
    bool operator==(const Totals &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Totals &t)
{
    return os << t.rows << " rows, TIFF " << t.tiff << ", PDF " << t.pdf;
}

// Rows reach the grid as listed files (the search) or as texts (the grid's text contract); the
// totals must read both alike.
enum class RowKind { Texts, Files };

class SelectionTotalsTest : public ::testing::TestWithParam<RowKind>
{
protected:
    void SetUp() override
    {
        grid.SetUpResultGrid(modGlobal::SettingsRecord::defaults());
        grid.resize(800, 300);
    }

    void add(const QString &name, const QString &pages)
    {
        if (GetParam() == RowKind::Files) {
            search::CountedFile file;
            file.folder = "/scans";
            file.name = name.toUtf8();
            file.path = file.folder + '/' + file.name;
            file.factsKnown = true;
            file.size = 1024;
            file.type = search::fileTypeOf(file.name);
            file.pages = pages == "Error" ? search::kDamaged : pages.toInt();
            grid.AppendFile(file, QPixmap());
            return;
        }
        ResultRow row;
        row.FileName = name;
        row.Location = QStringLiteral("/scans");
        row.FullPath = QStringLiteral("/scans/") + name;
        row.SizeKb = QStringLiteral("1");
        row.Pages = pages;
        grid.AppendResultRow(row);
    }

    // The plain count the incremental totals must agree with.
    Totals counted() const
    {
        Totals t;
        for (int r = 1; r < grid.rows(); ++r) {
            if (!grid.isSelected(r) || grid.rowHidden(r))
                continue;
            ++t.rows;
            bool ok = false;
            const qint64 pages = grid.textMatrix(r, ColPages).toLongLong(&ok);
            const QString name = grid.textMatrix(r, ColFileName).toLower();
            if (!ok)
                continue;
            if (name.endsWith(".tif") || name.endsWith(".tiff"))
                t.tiff += pages;
            else if (name.endsWith(".pdf"))
                t.pdf += pages;
        }
        return t;
    }
    Totals kept() const { return {totals.rows(), totals.tiffPages(), totals.pdfPages()}; }

    ResultGrid grid;
    SelectionTotals totals{grid};
};

TEST_P(SelectionTotalsTest, MixedSelectionCountsVisibleRowsByKind)
{
    add("a.tif", "3");
    add("b.PDF", "5");
    add("c.TIFF", "7");
    add("d.pdf", "Error");
    add("e.txt", "");
    add("f.tif", "0");
    for (int r : {1, 2, 4, 5})
        grid.setIsSelected(r, true);
    EXPECT_EQ(kept(), (Totals{4, 3, 5}));
    EXPECT_EQ(totals.text(), QString::fromUtf8("4 selected \u2013 TIFF 3 PDF 5 pages"));

    grid.InvertSelection();  // 3 and 6
    EXPECT_EQ(kept(), (Totals{2, 7, 0}));
    EXPECT_EQ(totals.text(), QString::fromUtf8("2 selected \u2013 TIFF 7 PDF 0 pages"));

    grid.setRowHiddenFlag(3, true);  // deleted: it counts no more
    EXPECT_EQ(kept(), (Totals{1, 0, 0}));
    EXPECT_TRUE(totals.text().isEmpty()) << "one row is no selection worth totalling";
}

// An edited Pages cell makes the totals count again from the selection: rows deleted before
// must stay out of that count as they stay out of the step-by-step one.
TEST_P(SelectionTotalsTest, RecountAfterAnEditLeavesDeletedRowsOut)
{
    add("a.tif", "3");
    add("b.pdf", "5");
    add("c.tif", "7");
    add("d.pdf", "11");
    grid.SelectAll();
    grid.setRowHiddenFlag(2, true);
    grid.setRowHiddenFlag(3, true);
    ASSERT_EQ(kept(), (Totals{2, 3, 11}));

    grid.setTextMatrix(1, ColPages, QStringLiteral("4"));
    EXPECT_EQ(kept(), (Totals{2, 4, 11}));
    EXPECT_EQ(kept(), counted());
    EXPECT_EQ(totals.text(), QString::fromUtf8("2 selected \u2013 TIFF 4 PDF 11 pages"));
}

TEST(SelectionTotalsText, ShownFromTwoRows)
{
    EXPECT_EQ(SelectionTotals::text(0, 0, 0), QString());
    EXPECT_EQ(SelectionTotals::text(1, 4, 0), QString());
    EXPECT_EQ(SelectionTotals::text(200000, 12345678901LL, 3),
              QString::fromUtf8("200000 selected \u2013 TIFF 12345678901 PDF 3 pages"));
}

// Every kind of change the grid sees, in a random order, against the plain count after each step.
TEST_P(SelectionTotalsTest, StaysEqualToAPlainCountThroughAnySequence)
{
    std::mt19937 rng(20261207);
    const QStringList names{"a.tif", "b.pdf", "c.tiff", "d.txt", "e.PDF"};
    for (int i = 0; i < 60; ++i)
        add(QString("%1-%2").arg(i).arg(names[i % names.size()]), i % 7 == 0 ? "Error" : QString::number(i % 13));
    grid.show();
    QItemSelectionModel *sm = grid.view()->selectionModel();
    auto modelRow = [&](int r) { return grid.model()->index(r - 1, 0); };
    for (int step = 0; step < 400; ++step) {
        const int a = 1 + int(rng() % 60);
        const int b = 1 + int(rng() % 60);
        switch (rng() % 9) {
        case 0: grid.setIsSelected(a, true); break;
        case 1: grid.setIsSelected(a, false); break;
        case 2: grid.InvertSelection(); break;
        case 3: grid.SelectAll(); break;
        case 4:
            sm->select(QItemSelection(modelRow(std::min(a, b)), modelRow(std::max(a, b))),
                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            break;
        case 5: grid.setRowHiddenFlag(a, !grid.rowHidden(a)); break;
        case 6: grid.SortBy(int(rng() % 5), 1 + int(rng() % 2)); break;
        case 7:
            // A click, then a Ctrl+click, as the user makes them.
            grid.view()->scrollTo(modelRow(a));
            QTest::mouseClick(grid.view()->viewport(), Qt::LeftButton,
                              rng() % 2 ? Qt::ControlModifier : Qt::NoModifier,
                              grid.view()->visualRect(modelRow(a)).center());
            break;
        case 8: sm->clearSelection(); break;
        }
        ASSERT_EQ(kept(), counted()) << "after step " << step;
    }
    grid.ClearRows();
    EXPECT_EQ(kept(), Totals{});
}

INSTANTIATE_TEST_SUITE_P(RowKinds, SelectionTotalsTest, ::testing::Values(RowKind::Texts, RowKind::Files),
                         [](const auto &info) { return info.param == RowKind::Files ? "Files" : "Texts"; });

}  // namespace
