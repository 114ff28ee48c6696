// The command line of quirewell-count: what is accepted, and what is bad usage.
#include "CliOptions.h"

#include <gtest/gtest.h>

namespace {

using cli::Format;

struct OptionCase {
    const char *name;
    QList<QByteArray> args;
    bool ok;
    bool recursive;
    bool hidden;
    const char *filter;
    Format format;
    int jobs;
    int folders;
};

void PrintTo(const OptionCase &c, std::ostream *os) { *os << c.name; }

class CliOptionsTest : public ::testing::TestWithParam<OptionCase> {};

TEST_P(CliOptionsTest, Parse)
{
    const OptionCase &c = GetParam();
    const cli::CliOptions o = cli::ParseArguments(c.args);
    ASSERT_EQ(o.error.isEmpty(), c.ok) << o.error.toStdString();
    if (!c.ok)
        return;
    EXPECT_EQ(o.recursive, c.recursive);
    EXPECT_EQ(o.hidden, c.hidden);
    EXPECT_EQ(o.filter.toStdString(), c.filter);
    EXPECT_EQ(o.format, c.format);
    EXPECT_EQ(o.jobs, c.jobs);
    EXPECT_EQ(o.operands.size(), c.folders);
}

const char *const kDefault = "*.pdf,*.tif,*.tiff";

INSTANTIATE_TEST_SUITE_P(
    Lines, CliOptionsTest,
    ::testing::Values(
        OptionCase{"FolderOnly", {"/x"}, true, false, false, kDefault, Format::Text, 0, 1},
        OptionCase{"Everything", {"-r", "--hidden", "--filter", "*.pdf", "--format", "json", "--jobs", "4", "/x", "/y"},
                   true, true, true, "*.pdf", Format::Json, 4, 2},
        OptionCase{"InlineValues", {"--recursive", "--filter=*.tif;*.tiff", "--format=tsv", "--jobs=1", "/x"},
                   true, true, false, "*.tif;*.tiff", Format::Tsv, 1, 1},
        OptionCase{"ShortJobs", {"-j", "2", "--format", "csv", "/x"}, true, false, false, kDefault, Format::Csv, 2, 1},
        OptionCase{"OptionsAfterFolders", {"/x", "-r"}, true, true, false, kDefault, Format::Text, 0, 1},
        OptionCase{"DashFolderAfterDoubleDash", {"--", "-r"}, true, false, false, kDefault, Format::Text, 0, 1},
        OptionCase{"NonUtf8Folder", {QByteArray("/caf\xE9")}, true, false, false, kDefault, Format::Text, 0, 1},
        OptionCase{"NoFolder", {"-r"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"UnknownOption", {"-x", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"UnknownFormat", {"--format", "xml", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"MissingValue", {"/x", "--jobs"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"ZeroJobs", {"--jobs", "0", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"NegativeJobs", {"--jobs=-3", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"TooManyJobs", {"--jobs", "65", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"WordJobs", {"--jobs", "many", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"ValueOnAFlag", {"--hidden=yes", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"ClusterWithValue", {"-rj2", "/x"}, true, true, false, kDefault, Format::Text, 2, 1},
        OptionCase{"JobsJoined", {"-j2", "/x"}, true, false, false, kDefault, Format::Text, 2, 1},
        OptionCase{"ClusterValueNext", {"-rj", "3", "/x"}, true, true, false, kDefault, Format::Text, 3, 1},
        OptionCase{"JsonLines", {"--format=jsonl", "/x"}, true, false, false, kDefault, Format::Jsonl, 0, 1},
        OptionCase{"ListAlone", {"--files0-from", "-"}, true, false, false, kDefault, Format::Text, 0, 0},
        OptionCase{"DashIsAnOperand", {"-"}, true, false, false, kDefault, Format::Text, 0, 1},
        OptionCase{"UnknownInCluster", {"-rx", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"AbbreviationIsUnknown", {"--form=csv", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"EmptyList", {"--files0-from="}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"NullNeedsText", {"-0", "--format", "csv", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"SizeNotANumber", {"--min-size", "big", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"NegativeSize", {"--max-size=-1", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"BadDay", {"--newer", "2026-02-30", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"OlderInDays", {"--older", "7d", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"LastDaysAndOlder", {"--newer", "7d", "--older", "2026-01-01", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"EmptyWindow", {"--newer", "2026-02-01", "--older", "2026-01-01", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"TimeWithoutWindow", {"--time", "created", "/x"}, false, false, false, "", Format::Text, 0, 0},
        OptionCase{"UnknownTime", {"--time", "changed", "--newer", "1d", "/x"}, false, false, false, "", Format::Text, 0, 0}),
    [](const ::testing::TestParamInfo<OptionCase> &info) { return std::string(info.param.name); });

TEST(CliOptions, UnknownOptionIsNamedAsTyped)
{
    EXPECT_EQ(cli::ParseArguments({"--form=csv", "/x"}).error, "unknown option --form");
    EXPECT_EQ(cli::ParseArguments({"-rq", "/x"}).error, "unknown option -q");
}

// The criteria reach the search core as the window's controls would hold them.
struct CriteriaCase {
    const char *name;
    QList<QByteArray> args;
    search::SearchCriteria expected;
};

void PrintTo(const CriteriaCase &c, std::ostream *os) { *os << c.name; }

search::SearchCriteria dates(const char *kind, bool inTheLast, const char *count, const char *unit, QDate from, QDate to)
{
    search::SearchCriteria c;
    c.dateTestOn = true;
    c.dateKind = QString::fromLatin1(kind);
    c.inTheLastMode = inTheLast;
    c.periodCountText = QString::fromLatin1(count);
    c.periodUnit = QString::fromLatin1(unit);
    if (from.isValid())
        c.rangeStart = from.startOfDay();
    if (to.isValid())
        c.rangeEnd = to.startOfDay();
    return c;
}

search::SearchCriteria sizes(bool at, const char *leastOrMost, const char *limit, const char *from, const char *to)
{
    search::SearchCriteria c;
    c.sizeTestOn = true;
    c.atMode = at;
    c.leastOrMost = QString::fromLatin1(leastOrMost);
    c.sizeLimitText = QString::fromLatin1(limit);
    c.sizeFromText = QString::fromLatin1(from);
    c.sizeToText = QString::fromLatin1(to);
    return c;
}

class CliCriteriaTest : public ::testing::TestWithParam<CriteriaCase> {};

TEST_P(CliCriteriaTest, AsTheWindowHoldsThem)
{
    const CriteriaCase &c = GetParam();
    const cli::CliOptions o = cli::ParseArguments(c.args);
    ASSERT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    const search::SearchCriteria &got = o.criteria;
    const search::SearchCriteria &want = c.expected;
    EXPECT_EQ(got.dateTestOn, want.dateTestOn);
    EXPECT_EQ(got.dateKind, want.dateKind);
    EXPECT_EQ(got.inTheLastMode, want.inTheLastMode);
    EXPECT_EQ(got.periodCountText, want.periodCountText);
    EXPECT_EQ(got.periodUnit, want.periodUnit);
    if (want.dateTestOn && !want.inTheLastMode) {
        EXPECT_EQ(got.rangeStart.date(), want.rangeStart.date());
        EXPECT_EQ(got.rangeEnd.date(), want.rangeEnd.date());
    }
    EXPECT_EQ(got.sizeTestOn, want.sizeTestOn);
    if (want.sizeTestOn) {
        EXPECT_EQ(got.atMode, want.atMode);
        EXPECT_EQ(got.leastOrMost, want.leastOrMost);
        EXPECT_EQ(got.sizeLimitText, want.sizeLimitText);
        EXPECT_EQ(got.sizeFromText, want.sizeFromText);
        EXPECT_EQ(got.sizeToText, want.sizeToText);
    }
}

const QDate kFirst(100, 1, 1);
const QDate kLast(9999, 12, 30);

INSTANTIATE_TEST_SUITE_P(
    Windows, CliCriteriaTest,
    ::testing::Values(
        CriteriaCase{"None", {"/x"}, {}},
        CriteriaCase{"LastDays", {"--newer", "7d", "/x"}, dates("Files Modified", true, "7", "Day(s)", {}, {})},
        CriteriaCase{"LastMonthsCreated", {"--newer=3m", "--time=created", "/x"}, dates("Files Created", true, "3", "Month(s)", {}, {})},
        CriteriaCase{"Between", {"--time", "accessed", "--newer", "2026-01-01", "--older", "2026-01-31", "/x"},
                     dates("Files Last Accessed", false, "", "", QDate(2026, 1, 1), QDate(2026, 1, 31))},
        CriteriaCase{"SinceDay", {"--newer", "2026-03-04", "/x"}, dates("Files Modified", false, "", "", QDate(2026, 3, 4), kLast)},
        CriteriaCase{"UntilDay", {"--older", "2026-03-04", "/x"}, dates("Files Modified", false, "", "", kFirst, QDate(2026, 3, 4))},
        CriteriaCase{"AtLeast", {"--min-size", "10", "/x"}, sizes(true, "Least", "10", "", "")},
        CriteriaCase{"AtMost", {"--max-size=0", "/x"}, sizes(true, "Most", "0", "", "")},
        CriteriaCase{"SizeBetween", {"--max-size", "20", "--min-size", "5", "/x"}, sizes(false, "", "", "5", "20")}),
    [](const ::testing::TestParamInfo<CriteriaCase> &info) { return std::string(info.param.name); });

TEST(CliOptions, NoCacheIsAFlagAndTheCacheIsOnWithoutIt)
{
    EXPECT_FALSE(cli::ParseArguments({"/x"}).noCache);
    const cli::CliOptions o = cli::ParseArguments({"--no-cache", "-r", "/x"});
    EXPECT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    EXPECT_TRUE(o.noCache);
    EXPECT_TRUE(o.recursive);
    EXPECT_FALSE(cli::ParseArguments({"--no-cache=1", "/x"}).error.isEmpty());
    EXPECT_TRUE(cli::UsageText().contains("--no-cache"));
}

TEST(CliOptions, HelpAndVersionNeedNoFolder)
{
    EXPECT_TRUE(cli::ParseArguments({"--help"}).help);
    EXPECT_TRUE(cli::ParseArguments({"-h"}).error.isEmpty());
    EXPECT_TRUE(cli::ParseArguments({"--version"}).version);
    EXPECT_TRUE(cli::ParseArguments({"-V"}).error.isEmpty());
}

}  // namespace
