// The export dialog: its texts and limits, the type rule, the name filter and Save's rules.

#include "AppSettings.h"
#include "ExportGrid.h"
#include "ExportTestSupport.h"
#include "MessageBoxes.h"
#include "dlgSave.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

struct Controls {
    explicit Controls(dlgSave &d)
        : name(d.findChild<QLineEdit *>("txtFileName")),
          separator(d.findChild<QLineEdit *>("txtColSaperator")),
          separatorLabel(d.findChild<QLabel *>("lblDelimeter")),
          type(d.findChild<QComboBox *>("cmbFileType")),
          save(d.findChild<QPushButton *>("cmdSave")),
          cancel(d.findChild<QPushButton *>("cmdCancel"))
    {
    }
    QLineEdit *name;
    QLineEdit *separator;
    QLabel *separatorLabel;
    QComboBox *type;
    QPushButton *save;
    QPushButton *cancel;
};

class ExportDialog : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QTemporaryDir dir;
    platform::RecordingMessageBoxes boxes;
};

TEST_F(ExportDialog, StartsWithItsDefaults)
{
    dlgSave d(dir.path());
    Controls c(d);
    ASSERT_TRUE(c.name && c.separator && c.separatorLabel && c.type && c.save && c.cancel);
    EXPECT_EQ(d.windowTitle(), "Export");
    EXPECT_EQ(d.FileName(), "");
    EXPECT_EQ(d.ColumnSaperator(), "");
    EXPECT_EQ(d.selectedFolder(), dir.path());
    EXPECT_EQ(c.name->text(), QDate::currentDate().toString("yyyy_MM_dd") + "_Data");
    EXPECT_EQ(c.name->maxLength(), 255);
    EXPECT_EQ(c.separator->text(), ",");
    EXPECT_EQ(c.separator->maxLength(), 1);
    EXPECT_EQ(c.separatorLabel->text(), "Column Saperator");
    EXPECT_EQ(c.save->text(), "&Save");
    EXPECT_EQ(c.cancel->text(), "&Cancel");
    QStringList types;
    for (int i = 0; i < c.type->count(); ++i)
        types << c.type->itemText(i);
    EXPECT_EQ(types, (QStringList{"Text Document (*.txt)", "Excel Worksheet (*.xls)", "Word Document (*.doc)",
                                  "CSV File (*.csv)"}));
    EXPECT_EQ(c.type->currentIndex(), 0);
}

TEST_F(ExportDialog, BlankExportLocationStartsAtHome)
{
    dlgSave d("   ");
    EXPECT_EQ(d.selectedFolder(), QDir::homePath());
    dlgSave e("");
    EXPECT_EQ(e.selectedFolder(), QDir::homePath());
}

TEST_F(ExportDialog, SeparatorBoxOnlyForTextAndWord)
{
    dlgSave d(dir.path());
    Controls c(d);
    const bool expected[] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        c.type->setCurrentIndex(i);
        EXPECT_EQ(!c.separator->isHidden(), expected[i]) << i;
        EXPECT_EQ(!c.separatorLabel->isHidden(), expected[i]) << i;
    }
}

TEST_F(ExportDialog, ForbiddenCharactersCannotBeTyped)
{
    dlgSave d(dir.path());
    d.show();
    Controls c(d);
    c.name->clear();
    QTest::keyClicks(c.name, "a\\b/c:d*e?f\"g<h>i|j.k");
    EXPECT_EQ(c.name->text(), "abcdefghij.k");
}

TEST_F(ExportDialog, PastedForbiddenNameIsRefusedOnSave)
{
    dlgSave d(dir.path());
    Controls c(d);
    c.name->setText("a:b");  // as a paste would put it
    c.save->click();
    EXPECT_EQ(d.FileName(), "");
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.contains("\\ / : * ? \" < > |"));
}

TEST_F(ExportDialog, EmptyNameAndEmptySeparatorKeepTheDialogOpen)
{
    dlgSave d(dir.path());
    Controls c(d);
    c.name->clear();
    c.save->click();
    c.name->setText("report");
    c.separator->clear();
    c.save->click();
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[0].text, "File Name must be specified.");
    EXPECT_EQ(boxes.shown[1].text, "Column Saperator must be specified.");
    EXPECT_EQ(boxes.shown[1].icon, platform::MsgIcon::Information);
    EXPECT_EQ(d.FileName(), "");
    EXPECT_EQ(d.result(), QDialog::Rejected);

    c.type->setCurrentIndex(3);  // CSV: the empty hidden box does not matter
    c.save->click();
    EXPECT_EQ(d.FileName(), dir.filePath("report.csv"));
    EXPECT_EQ(d.ColumnSaperator(), "");
}

TEST_F(ExportDialog, SpaceIsASeparator)
{
    dlgSave d(dir.path());
    Controls c(d);
    c.name->setText("r");
    c.type->setCurrentIndex(2);
    c.separator->setText(" ");
    c.save->click();
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(d.FileName(), dir.filePath("r.doc"));
    EXPECT_EQ(d.ColumnSaperator(), " ");
}

struct NameCase {
    const char *typed;
    int type;
    const char *file;
};

void PrintTo(const NameCase &c, std::ostream *os) { *os << '"' << c.typed << "\" type " << c.type; }

class ExportFileName : public ExportDialog, public ::testing::WithParamInterface<NameCase> {};

TEST_P(ExportFileName, ExtensionIsAddedUnlessAlreadyThere)
{
    dlgSave d(dir.path());
    Controls c(d);
    c.name->setText(GetParam().typed);
    c.type->setCurrentIndex(GetParam().type);
    c.save->click();
    EXPECT_EQ(d.FileName(), dir.path() + "/" + GetParam().file);
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

INSTANTIATE_TEST_SUITE_P(Names, ExportFileName,
                         ::testing::Values(NameCase{"report", 0, "report.txt"},
                                           NameCase{"report.txt", 0, "report.txt"},
                                           NameCase{"report.TXT", 0, "report.TXT.txt"},
                                           NameCase{"report.csv", 0, "report.csv.txt"},
                                           NameCase{"report.xls", 1, "report.xls"},
                                           NameCase{"my.report", 3, "my.report.csv"},
                                           NameCase{"  ", 2, "  .doc"}));

TEST_F(ExportDialog, RootFolderIsNotDoubled)
{
    dlgSave d("/");
    Controls c(d);
    c.name->setText("x");
    c.save->click();
    EXPECT_EQ(d.FileName(), "/x.txt");
}

// Cancel, Esc and the window's close button all cancel.
class ExportDialogCancel : public ExportDialog, public ::testing::WithParamInterface<int> {};

TEST_P(ExportDialogCancel, EveryWayOutButSaveCancels)
{
    dlgSave d(dir.path());
    Controls c(d);
    d.show();
    switch (GetParam()) {
    case 0: c.cancel->click(); break;
    case 1: QTest::keyClick(&d, Qt::Key_Escape); break;
    case 2: d.close(); break;
    }
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.FileName(), dlgSave::cancelledText());
}

INSTANTIATE_TEST_SUITE_P(Ways, ExportDialogCancel, ::testing::Values(0, 1, 2));

// Drives the real dialog from inside the export, as a user would.
void whenDialogOpens(const std::function<void(dlgSave &)> &act)
{
    QTimer::singleShot(0, [act] {
        auto *d = qobject_cast<dlgSave *>(QApplication::activeModalWidget());
        ASSERT_TRUE(d);
        act(*d);
    });
}

TEST_F(ExportDialog, ExportThroughTheDialogWritesWhereTheUserSaid)
{
    FlexGrid grid;
    exporttest::fillResultGrid(grid, {{"a.tif", "/s", "1,234 KB", "d", "2", "/s/a.tif", "1,234"}});
    const QString savedLocation = modGlobal::AppSettings.ExportLocation;
    modGlobal::AppSettings.ExportLocation = dir.path();
    whenDialogOpens([](dlgSave &d) {
        Controls c(d);
        c.name->setText("list");
        c.separator->setText(";");
        c.save->click();
    });
    ExportButtonClicked(grid, nullptr);
    modGlobal::AppSettings.ExportLocation = savedLocation;
    EXPECT_EQ(exporttest::readAll(dir.filePath("list.txt")),
              "File Name;Location;Size;Modified Date;Pages\r\na.tif;/s;1,234 KB;d;2\r\n");
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, "Meta Data exported successfully to " + dir.filePath("list.txt"));
}

TEST_F(ExportDialog, ClosingTheDialogWindowEndsTheExportQuietly)
{
    FlexGrid grid;
    exporttest::fillResultGrid(grid, {{"a.tif"}});
    whenDialogOpens([](dlgSave &d) { d.close(); });
    ExportGrid(grid, nullptr, [this](QWidget *parent) { return AskExportDestination(parent, dir.path()); });
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

}  // namespace
