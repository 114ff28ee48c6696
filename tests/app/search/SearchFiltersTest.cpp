#include "SearchFilters.h"

#include <gtest/gtest.h>
#include <limits>

using namespace search;

namespace {

// ---- name patterns -------------------------------------------------------------------------

struct FilterCase {
    const char *filter;
    const char *name;
    bool listed;
};

void PrintTo(const FilterCase &c, std::ostream *os)
{
    *os << '"' << c.filter << "\" lists \"" << c.name << "\": " << c.listed;
}

class FilterItems : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterItems, ListNames)
{
    const FilterCase &c = GetParam();
    EXPECT_EQ(MatchesAnyPattern(QString::fromUtf8(c.name), ParsePatternList(c.filter)), c.listed);
}

INSTANTIATE_TEST_SUITE_P(
    FiveItems, FilterItems,
    ::testing::Values(
        FilterCase{"*.pdf,*.tif,*.tiff", "a.pdf", true}, FilterCase{"*.pdf,*.tif,*.tiff", "B.TIF", true},
        FilterCase{"*.pdf,*.tif,*.tiff", "c.Tiff", true}, FilterCase{"*.pdf,*.tif,*.tiff", "d.txt", false},
        FilterCase{"*.pdf,*.tif,*.tiff", "pdf", false}, FilterCase{"*.pdf,*.tif,*.tiff", "e.pdf.bak", false},
        FilterCase{"*.pdf", "a.pdf", true}, FilterCase{"*.pdf", "B.PDF", true},
        FilterCase{"*.pdf", "c.tif", false}, FilterCase{"*.pdf", "d.pdfx", false},
        FilterCase{"*.tif", "x.tif", true}, FilterCase{"*.tif", "x.tiff", false},
        FilterCase{"*.tiff", "x.tiff", true}, FilterCase{"*.tiff", "x.tif", false},
        FilterCase{"*.tif,*.tiff", "x.TIF", true}, FilterCase{"*.tif,*.tiff", "x.tiff", true},
        FilterCase{"*.tif,*.tiff", "x.pdf", false}, FilterCase{"*.pdf, *.tif", "a.tif", true},
        FilterCase{"*.tif;*.pdf,*.txt", "a.pdf", false}, FilterCase{"*.tif;*.pdf,*.txt", "a.pdf,b.txt", true},
        FilterCase{"report?.pdf", "report1.pdf", true}, FilterCase{"report?.pdf", "report10.pdf", false}));

TEST(ParsePatternList, SplitsAtOneKindOfSeparator)
{
    EXPECT_EQ(ParsePatternList("*.tif;*.pdf,*.txt"), (PatternList{"*.tif", "*.pdf,*.txt"}));
    EXPECT_EQ(ParsePatternList("*.pdf, *.tif"), (PatternList{"*.pdf", " *.tif"}));
    EXPECT_EQ(ParsePatternList("*.pdf,"), (PatternList{"*.pdf", ""}));
    EXPECT_EQ(ParsePatternList("a;;b"), (PatternList{"a", "", "b"}));
    EXPECT_EQ(ParsePatternList(" *.pdf "), (PatternList{" *.pdf "}));
    EXPECT_EQ(ParsePatternList(""), (PatternList{""}));
    EXPECT_TRUE(ParsePatternList("*.*").isEmpty());
    EXPECT_TRUE(ParsePatternList("  *.*  ").isEmpty());
}

TEST(MatchesAnyPattern, EmptyEntriesMatchNothing)
{
    EXPECT_FALSE(MatchesAnyPattern(u"a.pdf", PatternList{"", ""}));
    EXPECT_FALSE(MatchesAnyPattern(u"a.pdf", PatternList{}));
    EXPECT_TRUE(MatchesAnyPattern(u"a.pdf", PatternList{"", "*.PDF"}));
}

TEST(FilterMatchesEverything, OnlyStarDotStarOrEmpty)
{
    EXPECT_TRUE(FilterMatchesEverything(u""));
    EXPECT_TRUE(FilterMatchesEverything(u"   "));
    EXPECT_TRUE(FilterMatchesEverything(u" *.* "));
    EXPECT_FALSE(FilterMatchesEverything(u"*"));
    EXPECT_FALSE(FilterMatchesEverything(u"*.pdf"));
}

// ---- hidden files --------------------------------------------------------------------------

TEST(PassesHiddenRule, ThreeStates)
{
    FoundFile plain;
    FoundFile hidden;
    hidden.hidden = true;
    EXPECT_TRUE(PassesHiddenRule(plain, Unticked));
    EXPECT_FALSE(PassesHiddenRule(hidden, Unticked));
    EXPECT_TRUE(PassesHiddenRule(plain, Ticked));
    EXPECT_TRUE(PassesHiddenRule(hidden, Ticked));
    EXPECT_FALSE(PassesHiddenRule(plain, Greyed));
    EXPECT_FALSE(PassesHiddenRule(hidden, Greyed));
}

// ---- numbers -------------------------------------------------------------------------------

TEST(CeilingToLong, SmallestWholeNumberNotBelow)
{
    EXPECT_EQ(CeilingToLong(2.0), 2);
    EXPECT_EQ(CeilingToLong(2.0001), 3);
    EXPECT_EQ(CeilingToLong(0.0), 0);
    EXPECT_EQ(CeilingToLong(-0.5), 0);
    EXPECT_EQ(CeilingToLong(2147483647.0), 2147483647);
    EXPECT_EQ(CeilingToLong(2147483646.5), 2147483647);
    EXPECT_EQ(CeilingToLong(2147483647.01), std::nullopt);
    EXPECT_EQ(CeilingToLong(-2147483648.0), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(CeilingToLong(-2147483649.0), std::nullopt);
    EXPECT_EQ(CeilingToLong(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(CeilingToLong(std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(SizeInKilobytes, RoundsUp)
{
    EXPECT_EQ(SizeInKilobytes(0), 0);
    EXPECT_EQ(SizeInKilobytes(1), 1);
    EXPECT_EQ(SizeInKilobytes(1024), 1);
    EXPECT_EQ(SizeInKilobytes(1025), 2);
    EXPECT_EQ(SizeInKilobytes(1048577), 1025);
    EXPECT_EQ(SizeInKilobytes(5LL << 30), 5 << 20);  // 5 GiB: beyond 32-bit bytes, fine in kilobytes
    EXPECT_EQ(SizeInKilobytes(2147483647LL * 1024), 2147483647);
    EXPECT_EQ(SizeInKilobytes(2147483647LL * 1024 + 1), std::nullopt);
}

struct NumberCase {
    const char *text;
    std::optional<int64_t> expected;
};

void PrintTo(const NumberCase &c, std::ostream *os)
{
    *os << '"' << c.text << '"';
}

class TextToNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(TextToNumber, Int16Range)
{
    EXPECT_EQ(TextToWholeNumber(QString::fromUtf8(GetParam().text), -32768, 32767), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextToNumber,
    ::testing::Values(NumberCase{"12", 12}, NumberCase{"  12 ", 12}, NumberCase{"\t7\t", 7},
                      NumberCase{"+3", 3}, NumberCase{"-3", -3}, NumberCase{"0", 0}, NumberCase{"007", 7},
                      NumberCase{"1.5", 2}, NumberCase{"2.5", 2}, NumberCase{"3.5", 4}, NumberCase{"-2.5", -2},
                      NumberCase{"2.4999", 2}, NumberCase{".5", 0}, NumberCase{"5.", 5}, NumberCase{"1e3", 1000},
                      NumberCase{"32767", 32767}, NumberCase{"32767.4", 32767}, NumberCase{"32767.5", std::nullopt},
                      NumberCase{"32768", std::nullopt}, NumberCase{"-32769", std::nullopt},
                      NumberCase{"99999999999999999999999", std::nullopt}, NumberCase{"", std::nullopt},
                      NumberCase{"   ", std::nullopt}, NumberCase{"abc", std::nullopt}, NumberCase{"1O", std::nullopt},
                      NumberCase{"1 2", std::nullopt}, NumberCase{"1,000", std::nullopt},
                      NumberCase{"0x10", std::nullopt}, NumberCase{"-", std::nullopt}, NumberCase{".", std::nullopt},
                      NumberCase{"1e", std::nullopt}, NumberCase{"inf", std::nullopt}, NumberCase{"nan", std::nullopt},
                      NumberCase{"１２", std::nullopt}));

// ---- date window ---------------------------------------------------------------------------

// The 31st of March, mid-afternoon: months back from here clamp to month ends.
const QDateTime kNow(QDate(2026, 3, 31), QTime(14, 0));

QDateTime at(int month, int day, int h = 0, int m = 0, int s = 0)
{
    return QDateTime(QDate(2026, month, day), QTime(h, m, s));
}

SearchCriteria inTheLast(const char *count, const char *unit)
{
    SearchCriteria c;
    c.dateTestOn = true;
    c.dateKind = "Files Modified";
    c.inTheLastMode = true;
    c.periodCountText = count;
    c.periodUnit = unit;
    return c;
}

SearchCriteria between(const QDateTime &from, const QDateTime &to)
{
    SearchCriteria c;
    c.dateTestOn = true;
    c.dateKind = "Files Modified";
    c.inTheLastMode = false;
    c.rangeStart = from;
    c.rangeEnd = to;
    return c;
}

struct DateCase {
    const char *label;
    SearchCriteria criteria;
    QDateTime modified;
    bool passes;
};

void PrintTo(const DateCase &c, std::ostream *os)
{
    *os << c.label;
}

class DateWindow : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateWindow, Decides)
{
    FoundFile f;
    f.modified = GetParam().modified;
    f.created = f.accessed = at(3, 31, 1);
    EXPECT_EQ(PassesDateSizeFilter(f, GetParam().criteria, kNow), GetParam().passes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DateWindow,
    ::testing::Values(
        DateCase{"last 0: today at midnight", inTheLast("0", "Day(s)"), at(3, 31), true},
        DateCase{"last 0: later today", inTheLast("0", "Day(s)"), at(3, 31, 15), true},
        DateCase{"last 0: yesterday", inTheLast("0", "Day(s)"), at(3, 30, 23, 59, 59), false},
        DateCase{"last -4 acts as 0", inTheLast("-4", "Day(s)"), at(3, 30, 12), false},
        DateCase{"last 1 day: yesterday midnight", inTheLast("1", "Day(s)"), at(3, 30), true},
        DateCase{"last 1 day: today 15:00", inTheLast("1", "Day(s)"), at(3, 31, 15), true},
        DateCase{"last 1 day: end of today", inTheLast("1", "Day(s)"), at(3, 31, 23, 59, 59), true},
        DateCase{"last 1 day: tomorrow", inTheLast("1", "Day(s)"), at(4, 1), false},
        DateCase{"last 1 day: two days ago", inTheLast("1", "Day(s)"), at(3, 29, 23, 59, 59), false},
        DateCase{"last 1 month from 31 March: 28 Feb", inTheLast("1", "Month(s)"), at(2, 28), true},
        DateCase{"last 1 month from 31 March: 27 Feb", inTheLast("1", "Month(s)"), at(2, 27, 23, 59), false},
        DateCase{"unit in other case counts months", inTheLast("1", "day(s)"), at(3, 10), true},
        DateCase{"unknown unit counts months", inTheLast("1", "Weeks"), at(3, 10), true},
        DateCase{"Day(s) exactly counts days", inTheLast("1", "Day(s)"), at(3, 10), false},
        DateCase{"count with blanks", inTheLast(" 2 ", "Day(s)"), at(3, 29), true},
        DateCase{"count 2.5 is 2", inTheLast("2.5", "Day(s)"), at(3, 28, 12), false},
        DateCase{"count 3.5 is 4", inTheLast("3.5", "Day(s)"), at(3, 27), true},
        DateCase{"count 32767 is allowed", inTheLast("32767", "Day(s)"), at(1, 1), true},
        DateCase{"empty count fails", inTheLast("", "Day(s)"), at(3, 31), false},
        DateCase{"letters fail", inTheLast("x", "Day(s)"), at(3, 31), false},
        DateCase{"count above 32767 fails", inTheLast("32768", "Day(s)"), at(3, 31), false},
        DateCase{"between same day: midnight", between(at(3, 10, 9), at(3, 10, 8)), at(3, 10), true},
        DateCase{"between same day: evening", between(at(3, 10, 9), at(3, 10, 8)), at(3, 10, 23, 59, 59), true},
        DateCase{"between same day: next day", between(at(3, 10, 9), at(3, 10, 8)), at(3, 11), false},
        DateCase{"between same day: day before", between(at(3, 10, 9), at(3, 10, 8)), at(3, 9, 23, 59), false},
        DateCase{"between start after end", between(at(3, 12), at(3, 10)), at(3, 11), false},
        DateCase{"between start after end, end day", between(at(3, 12), at(3, 10)), at(3, 10, 1), false},
        DateCase{"between: whole end day inside", between(at(3, 1, 18), at(3, 20, 6)), at(3, 20, 15), true},
        DateCase{"between: start day from midnight", between(at(3, 1, 18), at(3, 20, 6)), at(3, 1, 0, 0, 1), true},
        DateCase{"between: invalid picker fails", between(QDateTime(), at(3, 20)), at(3, 10), false},
        DateCase{"unreadable timestamp fails", inTheLast("5", "Day(s)"), QDateTime(), false}));

TEST(DateKind, PicksTheTimestampByExactText)
{
    FoundFile f;
    f.created = at(3, 31, 10);
    f.modified = at(1, 1);
    f.accessed = at(3, 30, 10);
    SearchCriteria c = inTheLast("0", "Day(s)");  // today only

    c.dateKind = "Files Created";
    EXPECT_TRUE(PassesDateSizeFilter(f, c, kNow));
    c.dateKind = "Files Modified";
    EXPECT_FALSE(PassesDateSizeFilter(f, c, kNow));
    c.dateKind = "Files Last Accessed";
    EXPECT_FALSE(PassesDateSizeFilter(f, c, kNow));
    f.accessed = at(3, 31, 12);
    EXPECT_TRUE(PassesDateSizeFilter(f, c, kNow));

    // A text the list does not hold switches the comparison off...
    c.dateKind = "Files modified";
    EXPECT_TRUE(PassesDateSizeFilter(f, c, kNow));
    c.dateKind = "";
    EXPECT_TRUE(PassesDateSizeFilter(f, c, kNow));
    // ...but a bad count still fails the file.
    c.periodCountText = "";
    EXPECT_FALSE(PassesDateSizeFilter(f, c, kNow));
}

// ---- size window ---------------------------------------------------------------------------

SearchCriteria sizeAt(const char *leastMost, const char *limit)
{
    SearchCriteria c;
    c.sizeTestOn = true;
    c.atMode = true;
    c.leastOrMost = leastMost;
    c.sizeLimitText = limit;
    return c;
}

SearchCriteria sizeBetween(const char *from, const char *to)
{
    SearchCriteria c;
    c.sizeTestOn = true;
    c.atMode = false;
    c.sizeFromText = from;
    c.sizeToText = to;
    return c;
}

struct SizeCase {
    const char *label;
    SearchCriteria criteria;
    qint64 bytes;
    bool passes;
};

void PrintTo(const SizeCase &c, std::ostream *os)
{
    *os << c.label;
}

class SizeWindow : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeWindow, Decides)
{
    FoundFile f;
    f.size = GetParam().bytes;
    EXPECT_EQ(PassesDateSizeFilter(f, GetParam().criteria, kNow), GetParam().passes);
}

constexpr qint64 kTooBig = 2147483648LL * 1024;

INSTANTIATE_TEST_SUITE_P(
    Cases, SizeWindow,
    ::testing::Values(
        SizeCase{"least 0: empty", sizeAt("Least", "0"), 0, true},
        SizeCase{"least 0: large", sizeAt("Least", "0"), 5LL << 30, true},
        SizeCase{"most 0: empty", sizeAt("Most", "0"), 0, true},
        SizeCase{"most 0: one byte is 1 KB", sizeAt("Most", "0"), 1, false},
        SizeCase{"least 10: 10,240 bytes", sizeAt("Least", "10"), 10240, true},
        SizeCase{"least 10: 9,217 bytes is 10 KB", sizeAt("Least", "10"), 9217, true},
        SizeCase{"least 10: 9,216 bytes", sizeAt("Least", "10"), 9216, false},
        SizeCase{"most 10: 10,240 bytes", sizeAt("Most", "10"), 10240, true},
        SizeCase{"most 10: 10,241 bytes", sizeAt("Most", "10"), 10241, false},
        SizeCase{"least in other case means most", sizeAt("least", "10"), 10241, false},
        SizeCase{"unknown text means most", sizeAt("", "10"), 1, true},
        SizeCase{"limit 10.5 is 10", sizeAt("Most", "10.5"), 10241, false},
        SizeCase{"limit 11.5 is 12", sizeAt("Most", "11.5"), 12288, true},
        SizeCase{"between 0-10: 1 byte", sizeBetween("0", "10"), 1, true},
        SizeCase{"between 0-10: 10,240 bytes", sizeBetween("0", "10"), 10240, true},
        SizeCase{"between 0-10: 10,241 bytes", sizeBetween("0", "10"), 10241, false},
        SizeCase{"between 2-3: 1,025 bytes", sizeBetween("2", "3"), 1025, true},
        SizeCase{"between 2-3: 1,024 bytes", sizeBetween("2", "3"), 1024, false},
        SizeCase{"between reversed", sizeBetween("10", "0"), 1, false},
        SizeCase{"between blanks around", sizeBetween(" 0 ", " 10 "), 1, true},
        SizeCase{"size beyond 32-bit kilobytes", sizeAt("Least", "0"), kTooBig, false},
        SizeCase{"empty limit", sizeAt("Least", ""), 0, false},
        SizeCase{"letter in limit", sizeAt("Least", "1a"), 0, false},
        SizeCase{"limit beyond 32 bits", sizeAt("Most", "2147483648"), 0, false},
        SizeCase{"bad from", sizeBetween("x", "10"), 1, false},
        SizeCase{"bad to", sizeBetween("0", ""), 1, false}));

TEST(DateSizeFilter, BothOffPassesWhateverTheBoxesHold)
{
    SearchCriteria c;
    c.inTheLastMode = true;
    c.periodCountText = "junk";
    c.sizeLimitText = "junk";
    EXPECT_TRUE(PassesDateSizeFilter(FoundFile{}, c, kNow));
}

TEST(DateSizeFilter, DateAndSizeMustBothPass)
{
    FoundFile f;
    f.size = 100;
    f.modified = at(3, 31, 9);
    SearchCriteria c = inTheLast("1", "Day(s)");
    c.sizeTestOn = true;
    c.atMode = true;
    c.leastOrMost = "Most";
    c.sizeLimitText = "1";
    EXPECT_TRUE(PassesDateSizeFilter(f, c, kNow));
    f.modified = at(1, 1);
    EXPECT_FALSE(PassesDateSizeFilter(f, c, kNow));
    f.modified = at(3, 31, 9);
    f.size = 2000;
    EXPECT_FALSE(PassesDateSizeFilter(f, c, kNow));
}

}  // namespace
