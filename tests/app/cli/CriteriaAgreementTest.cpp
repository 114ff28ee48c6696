// The window and quirewell-count apply the same date and size windows: each command line below
// and the window's controls set to the same window let exactly the same files through.
#include "CliOptions.h"
#include "GuiTestEnvironment.h"
#include "SearchCriteriaPanel.h"
#include "SearchFilters.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QRadioButton>
#include <gtest/gtest.h>

#include <functional>

namespace {

using search::SearchCriteriaPanel;

template <typename T>
T *control(SearchCriteriaPanel &panel, const char *name)
{
    T *w = panel.findChild<T *>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

struct AgreementCase {
    const char *name;
    QList<QByteArray> args;
    std::function<void(SearchCriteriaPanel &)> setControls;
};

void PrintTo(const AgreementCase &c, std::ostream *os) { *os << c.name; }

void dateWindow(SearchCriteriaPanel &p, const char *kind)
{
    control<QCheckBox>(p, "chkSearchByDate")->setChecked(true);
    control<QComboBox>(p, "cmbDateRangeType")->setCurrentText(QString::fromLatin1(kind));
}

void inTheLast(SearchCriteriaPanel &p, const char *kind, const char *count, const char *unit)
{
    dateWindow(p, kind);
    control<QRadioButton>(p, "optInPeriod")->setChecked(true);
    control<QLineEdit>(p, "txtInPeriod")->setText(QString::fromLatin1(count));
    control<QComboBox>(p, "cmbDateInPeriod")->setCurrentText(QString::fromLatin1(unit));
}

void between(SearchCriteriaPanel &p, const char *kind, QDate from, QDate to)
{
    dateWindow(p, kind);
    control<QRadioButton>(p, "optBtnPeriod")->setChecked(true);
    control<QDateTimeEdit>(p, "dtpDateFrom")->setDate(from);
    control<QDateTimeEdit>(p, "dtpDateTo")->setDate(to);
}

void sizeAt(SearchCriteriaPanel &p, const char *leastOrMost, const char *kb)
{
    control<QCheckBox>(p, "chkSearchBySize")->setChecked(true);
    control<QRadioButton>(p, "optSizeAt")->setChecked(true);
    control<QComboBox>(p, "cmbLeastMost")->setCurrentText(QString::fromLatin1(leastOrMost));
    control<QLineEdit>(p, "txtSizeLeastMost")->setText(QString::fromLatin1(kb));
}

void sizeBetween(SearchCriteriaPanel &p, const char *from, const char *to)
{
    control<QCheckBox>(p, "chkSearchBySize")->setChecked(true);
    control<QRadioButton>(p, "optSizeBtn")->setChecked(true);
    control<QLineEdit>(p, "txtSizeFrom")->setText(QString::fromLatin1(from));
    control<QLineEdit>(p, "txtSizeTo")->setText(QString::fromLatin1(to));
}

class CriteriaAgreement : public ::testing::TestWithParam<AgreementCase> {};

TEST_P(CriteriaAgreement, SameFilesPass)
{
    const AgreementCase &c = GetParam();
    const cli::CliOptions options = cli::ParseArguments(QList<QByteArray>(c.args) << "/x");
    ASSERT_TRUE(options.error.isEmpty()) << options.error.toStdString();

    const QDateTime now(QDate(2026, 3, 15), QTime(14, 30));
    SearchCriteriaPanel panel;
    panel.loadDefaults(now);
    c.setControls(panel);
    const search::SearchCriteria window = panel.criteria();

    // Files on and around every edge the cases use: the days either side of each window's ends,
    // and sizes either side of each kilobyte limit.
    std::vector<search::FoundFile> files;
    const QDate days[] = {QDate(2026, 1, 9), QDate(2026, 1, 10), QDate(2026, 1, 20), QDate(2026, 1, 21),
                          QDate(2026, 1, 14), QDate(2026, 1, 15), QDate(2026, 3, 7), QDate(2026, 3, 8),
                          QDate(2026, 3, 15), QDate(2025, 12, 31)};
    const qint64 sizes[] = {0, 1, 4 * 1024, 4 * 1024 + 1, 5 * 1024, 5 * 1024 + 1, 9 * 1024, 9 * 1024 + 1};
    for (const QDate &day : days)
        for (const QTime &time : {QTime(0, 0), QTime(23, 59, 59)})
            for (const qint64 size : sizes) {
                search::FoundFile f;
                f.size = size;
                f.modified = QDateTime(day, time);
                f.created = f.modified.addDays(-20);
                f.accessed = f.modified.addDays(3);
                files.push_back(f);
            }
    int passed = 0;
    for (const search::FoundFile &f : files) {
        const bool byWindow = search::PassesDateSizeFilter(f, window, now);
        const bool byCli = search::PassesDateSizeFilter(f, options.criteria, now);
        EXPECT_EQ(byCli, byWindow) << "modified " << f.modified.toString(Qt::ISODate).toStdString() << ", size "
                                   << f.size;
        passed += byCli;
    }
    EXPECT_GT(passed, 0) << "a window nothing passes proves nothing";
    EXPECT_LT(passed, int(files.size())) << "a window everything passes proves nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Windows, CriteriaAgreement,
    ::testing::Values(
        AgreementCase{"LastWeek", {"--newer", "7d"},
                      [](SearchCriteriaPanel &p) { inTheLast(p, "Files Modified", "7", "Day(s)"); }},
        AgreementCase{"LastTwoMonthsCreated", {"--newer", "2m", "--time", "created"},
                      [](SearchCriteriaPanel &p) { inTheLast(p, "Files Created", "2", "Month(s)"); }},
        AgreementCase{"BetweenDaysAccessed", {"--time=accessed", "--newer=2026-01-12", "--older=2026-01-23"},
                      [](SearchCriteriaPanel &p) { between(p, "Files Last Accessed", QDate(2026, 1, 12), QDate(2026, 1, 23)); }},
        AgreementCase{"BetweenDays", {"--newer", "2026-01-10", "--older", "2026-01-20"},
                      [](SearchCriteriaPanel &p) { between(p, "Files Modified", QDate(2026, 1, 10), QDate(2026, 1, 20)); }},
        AgreementCase{"AtLeast", {"--min-size", "5"}, [](SearchCriteriaPanel &p) { sizeAt(p, "Least", "5"); }},
        AgreementCase{"AtMost", {"--max-size", "4"}, [](SearchCriteriaPanel &p) { sizeAt(p, "Most", "4"); }},
        AgreementCase{"SizeBetween", {"--min-size", "5", "--max-size", "9"},
                      [](SearchCriteriaPanel &p) { sizeBetween(p, "5", "9"); }},
        AgreementCase{"DateAndSize", {"--newer", "7d", "--max-size", "5"},
                      [](SearchCriteriaPanel &p) {
                          inTheLast(p, "Files Modified", "7", "Day(s)");
                          sizeAt(p, "Most", "5");
                      }}),
    [](const ::testing::TestParamInfo<AgreementCase> &info) { return std::string(info.param.name); });

}  // namespace
