#include "SearchCriteriaPanel.h"

#include "GuiTestEnvironment.h"

#include "NumberBox.h"
#include "SearchFilters.h"
#include "UpDown.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>

using namespace search;

namespace {

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel = std::make_unique<SearchCriteriaPanel>();
        panel->loadDefaults(kNow);
    }

    template <typename W>
    W *find(const char *name) const
    {
        auto *w = panel->findChild<W *>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    const QDateTime kNow{QDate(2026, 3, 31), QTime(14, 30)};
    std::unique_ptr<SearchCriteriaPanel> panel;
};

TEST_F(PanelTest, StartValues)
{
    auto *filter = find<QComboBox>("cmbFilterPattern");
    ASSERT_NE(filter, nullptr);
    EXPECT_FALSE(filter->isEditable());
    QStringList items;
    for (int i = 0; i < filter->count(); ++i)
        items << filter->itemText(i);
    EXPECT_EQ(items, (QStringList{"*.pdf,*.tif,*.tiff", "*.pdf", "*.tif", "*.tiff", "*.tif,*.tiff"}));
    EXPECT_EQ(panel->filterText(), "*.pdf,*.tif,*.tiff");

    EXPECT_EQ(find<QGroupBox>("fmeAdvancedSearchOptions")->title(), "Advance Search Options");
    EXPECT_EQ(find<QCheckBox>("chkShowHidden")->text(), "Show Hidden Files");
    EXPECT_EQ(find<QCheckBox>("chkSearchIncSubFlder")->text(), "Include Subfolder");
    EXPECT_TRUE(find<QComboBox>("cmbDateRangeType")->isEditable());
    EXPECT_EQ(find<QComboBox>("cmbDateRangeType")->count(), 3);
    EXPECT_EQ(find<QComboBox>("cmbDateInPeriod")->count(), 2);
    EXPECT_EQ(find<QComboBox>("cmbLeastMost")->count(), 2);
    EXPECT_EQ(find<QDateTimeEdit>("dtpDateFrom")->displayFormat(), "dd-MMM-yyyy");
    EXPECT_TRUE(find<QDateTimeEdit>("dtpDateTo")->calendarPopup());
    EXPECT_FALSE(find<QRadioButton>("optInPeriod")->isChecked());
    EXPECT_FALSE(find<QRadioButton>("optSizeBtn")->isChecked());
    for (const char *name : {"udInPeriod", "udSizeLeastMost", "udSizeFrom", "udSizeTo"})
        EXPECT_EQ(find<platform::UpDown>(name)->maximum(), 9999999) << name;

    const SearchCriteria c = panel->criteria();
    EXPECT_EQ(c.filterText, "*.pdf,*.tif,*.tiff");
    EXPECT_EQ(c.showHiddenState, Unticked);
    EXPECT_FALSE(panel->includeSubfolders());
    EXPECT_FALSE(c.dateTestOn);
    EXPECT_EQ(c.dateKind, "Files Modified");
    EXPECT_FALSE(c.inTheLastMode);
    EXPECT_EQ(c.periodCountText, "1");
    EXPECT_EQ(c.periodUnit, "Day(s)");
    EXPECT_EQ(c.rangeStart, QDateTime(QDate(2026, 2, 28), QTime(14, 30)));
    EXPECT_EQ(c.rangeEnd, kNow);
    EXPECT_FALSE(c.sizeTestOn);
    EXPECT_TRUE(c.atMode);
    EXPECT_EQ(c.leastOrMost, "Least");
    EXPECT_EQ(c.sizeLimitText, "0");
    EXPECT_EQ(c.sizeFromText, "0");
    EXPECT_EQ(c.sizeToText, "10");
}

TEST_F(PanelTest, CriteriaFollowTheControls)
{
    find<QCheckBox>("chkSearchByDate")->setChecked(true);
    find<QCheckBox>("chkSearchBySize")->setChecked(true);
    find<QRadioButton>("optInPeriod")->setChecked(true);
    find<QRadioButton>("optSizeBtn")->setChecked(true);
    find<QComboBox>("cmbDateRangeType")->setCurrentText("files modified");
    find<QComboBox>("cmbDateInPeriod")->setCurrentIndex(1);
    find<QLineEdit>("txtSizeTo")->setText("25");
    find<QCheckBox>("chkSearchIncSubFlder")->setChecked(true);
    auto *hidden = find<QCheckBox>("chkShowHidden");
    hidden->setTristate(true);
    hidden->setCheckState(Qt::PartiallyChecked);

    SearchCriteria c = panel->criteria();
    EXPECT_TRUE(c.dateTestOn);
    EXPECT_TRUE(c.sizeTestOn);
    EXPECT_TRUE(c.inTheLastMode);
    EXPECT_FALSE(c.atMode);
    EXPECT_EQ(c.dateKind, "files modified");
    EXPECT_EQ(c.periodUnit, "Month(s)");
    EXPECT_EQ(c.sizeToText, "25");
    EXPECT_EQ(c.showHiddenState, Greyed);
    EXPECT_TRUE(panel->includeSubfolders());
    hidden->setCheckState(Qt::Checked);
    EXPECT_EQ(panel->criteria().showHiddenState, Ticked);

    // Exactly one option of each pair.
    EXPECT_FALSE(find<QRadioButton>("optBtnPeriod")->isChecked());
    EXPECT_FALSE(find<QRadioButton>("optSizeAt")->isChecked());
}

// A running search reads the criteria as they stand: every control must say when it changes.
TEST_F(PanelTest, EveryControlReportsItsChange)
{
    // The option of the pair that is not chosen now.
    const auto other = [this](const char *a, const char *b) {
        QRadioButton *first = find<QRadioButton>(a);
        return first->isChecked() ? find<QRadioButton>(b) : first;
    };
    const std::vector<std::pair<const char *, std::function<void()>>> changes = {
        {"chkSearchByDate", [this] { find<QCheckBox>("chkSearchByDate")->toggle(); }},
        {"chkSearchBySize", [this] { find<QCheckBox>("chkSearchBySize")->toggle(); }},
        {"chkShowHidden", [this] { find<QCheckBox>("chkShowHidden")->toggle(); }},
        {"chkSearchIncSubFlder", [this] { find<QCheckBox>("chkSearchIncSubFlder")->toggle(); }},
        {"cmbFilterPattern", [this] { find<QComboBox>("cmbFilterPattern")->setCurrentIndex(2); }},
        {"cmbDateRangeType", [this] { find<QComboBox>("cmbDateRangeType")->setCurrentIndex(0); }},
        {"cmbLeastMost", [this] { find<QComboBox>("cmbLeastMost")->setCurrentIndex(1); }},
        {"optInPeriod/optBtnPeriod", [other] { other("optInPeriod", "optBtnPeriod")->setChecked(true); }},
        {"optSizeAt/optSizeBtn", [other] { other("optSizeAt", "optSizeBtn")->setChecked(true); }},
        {"txtInPeriod", [this] { find<QLineEdit>("txtInPeriod")->setText("9"); }},
        {"txtSizeFrom", [this] { find<QLineEdit>("txtSizeFrom")->setText("3"); }},
        {"txtSizeTo", [this] { find<QLineEdit>("txtSizeTo")->setText("30"); }},
        {"txtSizeLeastMost", [this] { find<QLineEdit>("txtSizeLeastMost")->setText("4"); }},
        {"dtpDateFrom", [this] { find<QDateTimeEdit>("dtpDateFrom")->setDate(QDate(2001, 2, 3)); }},
        {"dtpDateTo", [this] { find<QDateTimeEdit>("dtpDateTo")->setDate(QDate(2002, 2, 3)); }},
    };
    for (const auto &[name, change] : changes) {
        int reported = 0;
        const QMetaObject::Connection c =
            QObject::connect(panel.get(), &SearchCriteriaPanel::criteriaChanged, [&reported] { ++reported; });
        change();
        QObject::disconnect(c);
        EXPECT_GE(reported, 1) << name;
    }
}

TEST_F(PanelTest, FilterTextCanOnlyBeAnItem)
{
    QSignalSpy changed(panel.get(), &SearchCriteriaPanel::filterTextChanged);
    panel->setFilterText("*.tif");
    EXPECT_EQ(panel->filterText(), "*.tif");
    panel->setFilterText("*.doc");
    EXPECT_EQ(panel->filterText(), "*.tif");
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(PanelTest, PeriodBoxTakesOnlyDigits)
{
    auto *box = find<QLineEdit>("txtInPeriod");
    box->clear();
    QTest::keyClicks(box, "a1-b2 .3");
    EXPECT_EQ(box->text(), "123");
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->text(), "12");
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(box->text(), "2");
}

TEST_F(PanelTest, SizeBoxTakesLettersAndThenFailsEveryFile)
{
    auto *box = find<QLineEdit>("txtSizeLeastMost");
    box->clear();
    QTest::keyClicks(box, "1a");
    EXPECT_EQ(box->text(), "1a");
    find<QCheckBox>("chkSearchBySize")->setChecked(true);
    FoundFile empty;
    EXPECT_FALSE(PassesDateSizeFilter(empty, panel->criteria(), kNow));
    box->setText("0");
    EXPECT_TRUE(PassesDateSizeFilter(empty, panel->criteria(), kNow));
}

TEST_F(PanelTest, FocusSelectsTheWholeText)
{
    panel->show();
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel.get()));
    for (const char *name : {"txtInPeriod", "txtSizeLeastMost", "txtSizeFrom", "txtSizeTo"}) {
        auto *box = find<QLineEdit>(name);
        box->setText("1234");
        box->deselect();
        box->setCursorPosition(2);
        box->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(box->hasFocus()) << name;
        EXPECT_EQ(box->selectedText(), "1234") << name;
        find<QComboBox>("cmbFilterPattern")->setFocus(Qt::OtherFocusReason);
    }
    // A click places the cursor after the focus arrives; the text ends up selected all the same.
    auto *clicked = find<QLineEdit>("txtSizeFrom");
    clicked->setText("4321");
    QTest::mouseClick(clicked, Qt::LeftButton, Qt::NoModifier, QPoint(2, clicked->height() / 2));
    QCoreApplication::processEvents();
    ASSERT_TRUE(clicked->hasFocus());
    EXPECT_EQ(clicked->selectedText(), "4321");

    // Typing after the focus replaces the text.
    auto *box = find<QLineEdit>("txtSizeTo");
    box->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(box, "7");
    EXPECT_EQ(box->text(), "7");
}

TEST_F(PanelTest, ArrowsStepTheNumber)
{
    auto *box = find<QLineEdit>("txtSizeTo");
    auto *ud = find<platform::UpDown>("udSizeTo");
    auto buttons = ud->findChildren<QToolButton *>();
    ASSERT_EQ(buttons.size(), 2);
    QToolButton *up = buttons[0]->arrowType() == Qt::UpArrow ? buttons[0] : buttons[1];
    QToolButton *down = up == buttons[0] ? buttons[1] : buttons[0];

    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(box->text(), "11");
    QTest::keyClick(box, Qt::Key_Down);
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(box->text(), "9");

    box->setText("0");
    QTest::mouseClick(down, Qt::LeftButton);
    EXPECT_EQ(box->text(), "0");
    box->setText("9999999");
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(box->text(), "9999999");
    // No number in the box: step from the last value the arrows gave.
    box->setText("abc");
    QTest::mouseClick(down, Qt::LeftButton);
    EXPECT_EQ(box->text(), "9999998");
}

TEST_F(PanelTest, LoadDefaultsPutsEverythingBack)
{
    find<QComboBox>("cmbDateRangeType")->setCurrentText("x");
    find<QLineEdit>("txtInPeriod")->setText("");
    find<QRadioButton>("optInPeriod")->setChecked(true);
    find<QRadioButton>("optSizeBtn")->setChecked(true);
    find<QCheckBox>("chkSearchByDate")->setChecked(true);
    panel->setFilterText("*.pdf");
    panel->loadDefaults(kNow);
    const SearchCriteria c = panel->criteria();
    EXPECT_EQ(c.dateKind, "Files Modified");
    EXPECT_EQ(c.periodCountText, "1");
    EXPECT_FALSE(c.inTheLastMode);
    EXPECT_TRUE(c.atMode);
    EXPECT_EQ(c.filterText, "*.pdf,*.tif,*.tiff");
    EXPECT_EQ(find<QComboBox>("cmbDateRangeType")->count(), 3);
    EXPECT_TRUE(c.dateTestOn);  // the check boxes keep their state
}

}  // namespace
