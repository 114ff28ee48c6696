// The Preferences dialog over a temporary program folder, with pickers answered by the test.

#include "dlgPreferences.h"

#include "FlexGrid.h"
#include "GuiTestEnvironment.h"
#include "MessageBoxes.h"
#include "OleColor.h"
#include "ResultGrid.h"
#include "SettingsFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace modGlobal;

namespace {

const QStringList kColumnNames = {"File Name", "Location", "Size", "Modified Date", "Pages"};
constexpr int kVisible = 2;

class Preferences : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SetProgramFolderOverride(dir.path());
        AppSettings = SettingsRecord::defaults();
    }
    void TearDown() override
    {
        SetProgramFolderOverride(QString());
        AppSettings = SettingsRecord();
    }

    // Opens the dialog on the current AppSettings; the refresh callback counts its calls.
    std::unique_ptr<dlgPreferences> open()
    {
        auto d = std::make_unique<dlgPreferences>(kColumnNames, [this] {
            ++refreshed;
            settingsAtRefresh = AppSettings;
            fileAtRefresh = QFile::exists(SettingsFilePath());
        });
        dlgPreferences::Pickers p;
        p.color = [this](const QColor &initial, QWidget *) {
            colorInitial = initial;
            return colorAnswer;
        };
        p.picture = [this](const QString &filter, QWidget *) {
            pictureFilter = filter;
            return pictureAnswer;
        };
        p.folder = [this](const QString &title, QWidget *) {
            folderTitles << title;
            return folderAnswer;
        };
        d->setPickers(p);
        return d;
    }

    template <typename T>
    static T *child(dlgPreferences &d, const char *name)
    {
        T *w = d.findChild<T *>(QString::fromLatin1(name));
        EXPECT_TRUE(w) << name;
        return w;
    }
    static QList<bool> ticks(dlgPreferences &d)
    {
        auto *g = child<FlexGrid>(d, "vsColumnSettings");
        QList<bool> out;
        for (int r = 1; r < g->rows(); ++r)
            out << (g->cellChecked(r, kVisible) == FlexGrid::Checked);
        return out;
    }
    static QColor swatch(dlgPreferences &d, const char *name)
    {
        return child<QFrame>(d, name)->palette().color(QPalette::Window);
    }
    QByteArray settingsFile() const
    {
        QFile f(SettingsFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    platform::RecordingMessageBoxes boxes;
    int refreshed = 0;
    SettingsRecord settingsAtRefresh;
    bool fileAtRefresh = false;
    std::optional<QColor> colorAnswer;
    QColor colorInitial;
    std::optional<QString> pictureAnswer;
    QString pictureFilter;
    QString folderAnswer;
    QStringList folderTitles;
};

TEST_F(Preferences, OpensWithTheDefaults)
{
    auto d = open();
    EXPECT_EQ(d->windowTitle(), "Preferences");
    auto *styles = child<QComboBox>(*d, "cmbGridStyles");
    QStringList names;
    QList<int> codes;
    for (int i = 0; i < styles->count(); ++i) {
        names << styles->itemText(i);
        codes << styles->itemData(i).toInt();
    }
    EXPECT_EQ(names, (QStringList{"Flat", "Inset", "Raised", "Flat Horizontal", "Inset Horizontal",
                                  "Raised Horizontal", "Flat Vertical", "Inset Vertical", "Raised Vertical",
                                  "Explorer", "Excel"}));
    EXPECT_EQ(codes, (QList<int>{1, 2, 3, 4, 5, 6, 8, 9, 10, 12, 13}));
    EXPECT_EQ(styles->currentText(), "Flat");
    EXPECT_TRUE(child<QCheckBox>(*d, "chkShowGrid")->isChecked());
    EXPECT_TRUE(styles->isEnabled());
    const QPalette pal = d->palette();
    EXPECT_EQ(swatch(*d, "shpGridForeColor"), pal.color(QPalette::Active, QPalette::Text));
    EXPECT_EQ(swatch(*d, "shpGridBackColor"), pal.color(QPalette::Active, QPalette::Base));
    EXPECT_EQ(swatch(*d, "shpGridBackColorSel"), pal.color(QPalette::Active, QPalette::Highlight));
    EXPECT_EQ(swatch(*d, "shpGridForeColorSel"), pal.color(QPalette::Active, QPalette::HighlightedText));
    EXPECT_EQ(swatch(*d, "shpGridColor"), pal.color(QPalette::Active, QPalette::Button));
    EXPECT_TRUE(child<QLineEdit>(*d, "txtBackPicture")->text().isEmpty());
    EXPECT_TRUE(child<QLineEdit>(*d, "txtStartUpFolder")->text().isEmpty());
    EXPECT_TRUE(child<QLineEdit>(*d, "txtExportLocation")->text().isEmpty());
    EXPECT_EQ(child<QLineEdit>(*d, "txtStartUpFolder")->maxLength(), 4096);
    EXPECT_TRUE(child<QLineEdit>(*d, "txtExportLocation")->isReadOnly());

    auto *g = child<FlexGrid>(*d, "vsColumnSettings");
    ASSERT_EQ(g->rows(), 6);
    EXPECT_EQ(g->textMatrix(0, 0), "Sr#");
    EXPECT_EQ(g->textMatrix(0, 1), "Column Name");
    EXPECT_EQ(g->textMatrix(0, 2), "Visible");
    for (int r = 1; r <= 5; ++r) {
        EXPECT_EQ(g->textMatrix(r, 0), QString::number(r));
        EXPECT_EQ(g->textMatrix(r, 1), kColumnNames[r - 1]);
    }
    EXPECT_EQ(ticks(*d), (QList<bool>{true, true, true, true, true}));
}

TEST_F(Preferences, ShowGridOffDisablesStyleAndLineColourButKeepsTheSwatch)
{
    AppSettings.ShowGrid = 0;
    auto d = open();
    d->show();
    auto *show = child<QCheckBox>(*d, "chkShowGrid");
    EXPECT_FALSE(show->isChecked());
    EXPECT_FALSE(child<QComboBox>(*d, "cmbGridStyles")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*d, "cmdGridColor")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(*d, "cmdGridForeColor")->isEnabled());
    EXPECT_TRUE(child<QFrame>(*d, "shpGridColor")->isVisible());
    show->click();
    EXPECT_TRUE(child<QComboBox>(*d, "cmbGridStyles")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(*d, "cmdGridColor")->isEnabled());
}

struct VisibilityCase {
    QStringList stored;
    QList<bool> ticked;
};

void PrintTo(const VisibilityCase &c, std::ostream *os) { *os << '"' << c.stored.join(',').toStdString() << '"'; }

class PreferencesVisibility : public Preferences, public ::testing::WithParamInterface<VisibilityCase> {};

TEST_P(PreferencesVisibility, BoxesFollowTheStoredList)
{
    AppSettings.ColumnVisibility = GetParam().stored;
    auto d = open();
    EXPECT_EQ(ticks(*d), GetParam().ticked);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, PreferencesVisibility,
    ::testing::Values(VisibilityCase{{"1", "0", "1", "1", "1"}, {true, false, true, true, true}},
                      VisibilityCase{{"1 ", "0", "", "x", "1"}, {true, false, false, false, true}},
                      VisibilityCase{{"0"}, {false, true, true, true, true}},  // missing entries: ticked
                      VisibilityCase{{"1", "1", "0"}, {true, true, false, true, true}},
                      VisibilityCase{{}, {true, true, true, true, true}},
                      VisibilityCase{{" 1", "1\t", " 1 ", "01", "1"}, {false, true, false, false, true}}));

// Folder boxes keep a whole Linux path.
TEST_F(Preferences, FolderBoxesKeepWholeLongPaths)
{
    const QString longPath = QStringLiteral("/") + QString(4095, u'd');
    AppSettings.StartupFolder = longPath;
    AppSettings.ExportLocation = longPath;
    auto d = open();
    EXPECT_EQ(child<QLineEdit>(*d, "txtStartUpFolder")->text(), longPath);
    EXPECT_EQ(child<QLineEdit>(*d, "txtExportLocation")->text(), longPath);
}

// The boxes and the result grid judge a stored entry by the same rule, so OK never turns a
// hidden column into a shown one (or back) without the user touching it.
TEST_F(Preferences, BoxesAgreeWithWhatTheGridShows)
{
    const QList<QStringList> lists = {{" 1", "1 ", "\t1", "1\t\t", "+1"}, {"1", " 0", "yes", "1 1", ""}};
    for (const QStringList &stored : lists) {
        AppSettings = SettingsRecord::defaults();
        AppSettings.ColumnVisibility = stored;
        ResultGrid grid;
        grid.SetUpResultGrid(AppSettings);
        auto d = open();
        const QList<bool> boxes = ticks(*d);
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(boxes.value(c), !grid.colHidden(c)) << stored.join(',').toStdString() << " column " << c;
    }
}

TEST_F(Preferences, SpaceTogglesTheRowFromAnyColumn)
{
    auto d = open();
    d->show();
    auto *g = child<FlexGrid>(*d, "vsColumnSettings");
    g->view()->setFocus();
    g->setRow(2);
    g->setCol(1);  // the "Column Name" cell
    QTest::keyClick(g->view(), Qt::Key_Space);
    EXPECT_EQ(ticks(*d), (QList<bool>{true, false, true, true, true}));
    QTest::keyClick(g->view(), Qt::Key_Space);
    EXPECT_EQ(ticks(*d), (QList<bool>{true, true, true, true, true}));
    g->setRow(4);
    g->setCol(2);  // the box itself
    QTest::keyClick(g->view(), Qt::Key_Space);
    EXPECT_EQ(ticks(*d), (QList<bool>{true, true, true, false, true}));
    EXPECT_EQ(g->textMatrix(4, 1), "Modified Date");  // text cells stay as they are
}

TEST_F(Preferences, BulkButtons)
{
    AppSettings.ColumnVisibility = {"1", "0", "1", "0", "1"};
    auto d = open();
    child<QPushButton>(*d, "cmdInvertSelection")->click();
    EXPECT_EQ(ticks(*d), (QList<bool>{false, true, false, true, false}));
    child<QPushButton>(*d, "cmdSelectAll")->click();
    EXPECT_EQ(ticks(*d), (QList<bool>{true, true, true, true, true}));
    child<QPushButton>(*d, "cmdDeselectAll")->click();
    EXPECT_EQ(ticks(*d), (QList<bool>{false, false, false, false, false}));
}

TEST_F(Preferences, OkAfterClearingShowGridStoresZeroAndKeepsTheStyle)
{
    AppSettings.GridStyle = 12;
    auto d = open();
    EXPECT_EQ(child<QComboBox>(*d, "cmbGridStyles")->currentText(), "Explorer");
    child<QCheckBox>(*d, "chkShowGrid")->click();
    child<QPushButton>(*d, "cmdOK")->click();
    EXPECT_EQ(AppSettings.ShowGrid, 0);
    EXPECT_EQ(AppSettings.GridStyle, 12);
    const QByteArray file = settingsFile();
    EXPECT_TRUE(file.contains("Show/Hide=0"));
    EXPECT_TRUE(file.contains("Style=12"));
    EXPECT_EQ(d->result(), QDialog::Accepted);
}

TEST_F(Preferences, OkSavesThenRefreshesTheGrid)
{
    AppSettings.ColumnVisibility = {"1", "1"};
    auto d = open();
    auto *g = child<FlexGrid>(*d, "vsColumnSettings");
    g->setCellChecked(2, kVisible, FlexGrid::Unchecked);
    child<QPushButton>(*d, "cmdOK")->click();
    EXPECT_EQ(refreshed, 1);
    EXPECT_TRUE(fileAtRefresh);  // saved before the grid was asked to refresh
    EXPECT_EQ(settingsAtRefresh.ColumnVisibility, (QStringList{"1", "0", "1", "1", "1"}));
    EXPECT_TRUE(settingsFile().contains("Visibility=1,0,1,1,1"));
    EXPECT_TRUE(boxes.shown.isEmpty());
    // Colours never touched keep their system-colour numbers.
    EXPECT_EQ(AppSettings.ForeColor, SettingsRecord::defaults().ForeColor);
}

TEST_F(Preferences, OkChangesTheResultGridAtOnce)
{
    ResultGrid result;
    result.SetUpResultGrid(AppSettings);
    ASSERT_FALSE(result.colHidden(ColLocation));
    dlgPreferences d(kColumnNames, [&result] { result.RefreshGrid(AppSettings); });
    d.findChild<FlexGrid *>("vsColumnSettings")->setCellChecked(2, kVisible, FlexGrid::Unchecked);
    d.findChild<QCheckBox *>("chkShowGrid")->click();
    d.findChild<QPushButton *>("cmdOK")->click();
    EXPECT_TRUE(result.colHidden(ColLocation));
    EXPECT_FALSE(result.colHidden(ColSize));
    EXPECT_EQ(result.gridLines(), 0);
}

TEST_F(Preferences, CancelChangesNothing)
{
    AppSettings.ColumnVisibility = {"1", "0", "1", "1", "1"};
    const SettingsRecord before = AppSettings;
    auto d = open();
    child<QPushButton>(*d, "cmdSelectAll")->click();
    child<QCheckBox>(*d, "chkShowGrid")->click();
    child<QPushButton>(*d, "cmdCancel")->click();
    EXPECT_EQ(AppSettings, before);
    EXPECT_EQ(refreshed, 0);
    EXPECT_FALSE(QFile::exists(SettingsFilePath()));
    EXPECT_EQ(d->result(), QDialog::Rejected);
}

TEST_F(Preferences, UnlistedStyleCodeShowsFlatAndOkStoresFlat)
{
    AppSettings.GridStyle = 7;
    auto d = open();
    EXPECT_EQ(d->StyleNameForCode(7), "");
    EXPECT_EQ(d->StyleNameForCode(13), "Excel");
    EXPECT_EQ(child<QComboBox>(*d, "cmbGridStyles")->currentText(), "Flat");
    child<QPushButton>(*d, "cmdOK")->click();
    EXPECT_EQ(AppSettings.GridStyle, 1);
}

TEST_F(Preferences, ColourPickerStartsAtTheSwatchAndCancelKeepsIt)
{
    AppSettings.BackColor = 0x00FF0000;  // blue
    auto d = open();
    colorAnswer = QColor(255, 0, 0);
    child<QPushButton>(*d, "cmdGridForeColor")->click();
    EXPECT_EQ(swatch(*d, "shpGridForeColor"), QColor(255, 0, 0));
    colorAnswer.reset();
    child<QPushButton>(*d, "cmdGridBackColor")->click();
    EXPECT_EQ(colorInitial, QColor(0, 0, 255));
    EXPECT_EQ(swatch(*d, "shpGridBackColor"), QColor(0, 0, 255));
    child<QPushButton>(*d, "cmdOK")->click();
    EXPECT_EQ(AppSettings.ForeColor, 255);
    EXPECT_EQ(AppSettings.BackColor, 0x00FF0000);
}

TEST_F(Preferences, FolderBrowsersShareOneTitleAndCancelEmptiesTheBox)
{
    AppSettings.StartupFolder = "/old/start";
    AppSettings.ExportLocation = "/old/export";
    auto d = open();
    folderAnswer = "/data/scans";
    child<QPushButton>(*d, "cmdExportLocation")->click();
    EXPECT_EQ(child<QLineEdit>(*d, "txtExportLocation")->text(), "/data/scans");
    folderAnswer.clear();
    child<QPushButton>(*d, "cmdStartupFolder")->click();
    EXPECT_EQ(child<QLineEdit>(*d, "txtStartUpFolder")->text(), "");
    EXPECT_EQ(folderTitles, (QStringList{"Select Startup Folder", "Select Startup Folder"}));
    child<QPushButton>(*d, "cmdOK")->click();
    EXPECT_EQ(AppSettings.StartupFolder, "");
    EXPECT_EQ(AppSettings.ExportLocation, "/data/scans");
}

TEST_F(Preferences, PictureBrowserFilterAndCancel)
{
    AppSettings.BackPicture = "/pics/old.bmp";
    auto d = open();
    child<QPushButton>(*d, "cmdBackGround")->click();
    EXPECT_EQ(pictureFilter, "Bitmap Image (*.bmp);;JPEG Image (*.jpg);;GIF Image (*.gif)");
    EXPECT_EQ(child<QLineEdit>(*d, "txtBackPicture")->text(), "/pics/old.bmp");
    pictureAnswer = QString("/pics/new.gif");
    child<QPushButton>(*d, "cmdBackGround")->click();
    EXPECT_EQ(child<QLineEdit>(*d, "txtBackPicture")->text(), "/pics/new.gif");
}

TEST_F(Preferences, ColumnNamesComeFromTheResultGridHeader)
{
    FlexGrid result;
    result.setFixedRows(1);
    result.setCols(7);
    result.setRows(1);
    const QStringList headers = {"Name", "Where", "Bytes", "When", "Count"};
    for (int c = 0; c < 5; ++c)
        result.setTextMatrix(0, c, headers[c]);
    QTimer::singleShot(0, [] {
        auto *d = qobject_cast<dlgPreferences *>(QApplication::activeModalWidget());
        ASSERT_TRUE(d);
        auto *g = d->findChild<FlexGrid *>("vsColumnSettings");
        EXPECT_EQ(g->textMatrix(3, 1), "Bytes");
        d->reject();
    });
    EXPECT_FALSE(ShowPreferences(result, [] {}, nullptr));
}

}  // namespace
