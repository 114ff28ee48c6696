// The one delimited-text writer: quoting, separators, line ends, formula neutralisation.
#include "DelimitedText.h"

#include <gtest/gtest.h>

namespace {

using platform::DelimitedFormat;
using platform::DelimitedText;

struct CellCase {
    const char *name;
    QByteArray cell;
    QByteArray separator;
    bool neutralise;
    QByteArray written;
};

void PrintTo(const CellCase &c, std::ostream *os) { *os << c.name; }

class DelimitedCell : public ::testing::TestWithParam<CellCase> {};

TEST_P(DelimitedCell, Written)
{
    const CellCase &c = GetParam();
    DelimitedFormat f;
    f.separator = c.separator;
    f.neutraliseFormulas = c.neutralise;
    EXPECT_EQ(DelimitedText::cell(c.cell, f).toStdString(), c.written.toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Cells, DelimitedCell,
    ::testing::Values(
        CellCase{"Plain", "a.pdf", ",", false, "a.pdf"},
        CellCase{"Empty", "", ",", true, ""},
        CellCase{"CommaOnly", "a,b.pdf", ",", false, "\"a,b.pdf\""},
        CellCase{"CommaUnderTab", "a,b.pdf", "\t", false, "a,b.pdf"},
        CellCase{"SemicolonSeparator", "a;b", ";", false, "\"a;b\""},
        CellCase{"QuoteOnly", "say \"hi\"", "\t", false, "\"say \"\"hi\"\"\""},
        CellCase{"LineFeed", "two\nlines", ",", false, "\"two\nlines\""},
        CellCase{"CarriageReturn", "cr\rhere", ",", false, "\"cr\rhere\""},
        CellCase{"MultiByteSeparator", "a\xC2\xA7" "b", "\xC2\xA7", false, "\"a\xC2\xA7" "b\""},
        CellCase{"MultiByteSeparatorAbsent", "a\xC2\xA8" "b", "\xC2\xA7", false, "a\xC2\xA8" "b"},
        // What a spreadsheet would evaluate gets an apostrophe in front.
        CellCase{"Equals", "=HYPERLINK(\"http:evil\";\"click\").pdf", ",", true,
                 "\"'=HYPERLINK(\"\"http:evil\"\";\"\"click\"\").pdf\""},
        CellCase{"At", "@SUM(1).pdf", ",", true, "'@SUM(1).pdf"},
        CellCase{"Plus", "+SUM(1;1).pdf", ",", true, "'+SUM(1;1).pdf"},
        CellCase{"PlusUnderSemicolon", "+SUM(1;1).pdf", ";", true, "\"'+SUM(1;1).pdf\""},
        CellCase{"MinusDigit", "-2+3.pdf", ",", true, "'-2+3.pdf"},
        CellCase{"MinusSign", "-(1).pdf", ",", true, "'-(1).pdf"},
        CellCase{"LeadingTab", "\tx.pdf", ",", true, "'\tx.pdf"},
        CellCase{"LeadingTabUnderTab", "\tx.pdf", "\t", true, "\"'\tx.pdf\""},
        CellCase{"LeadingCarriageReturn", "\rx.pdf", ",", true, "\"'\rx.pdf\""},
        CellCase{"MinusLetterIsAName", "-draft.pdf", ",", true, "-draft.pdf"},
        CellCase{"MinusAccentedLetterIsAName", "-\xC3\xA9t\xC3\xA9.pdf", ",", true, "-\xC3\xA9t\xC3\xA9.pdf"},
        CellCase{"LoneMinus", "-", ",", true, "-"},
        CellCase{"FormulaSignInside", "a=b+c@d.pdf", ",", true, "a=b+c@d.pdf"},
        CellCase{"FormulaKeptWhenNotAsked", "=1+1", ",", false, "=1+1"}),
    [](const ::testing::TestParamInfo<CellCase> &info) { return std::string(info.param.name); });

TEST(DelimitedText, LineJoinsAndEnds)
{
    DelimitedFormat f;
    EXPECT_EQ(DelimitedText::line(QList<QByteArray>{"a", "b,c", ""}, f), "a,\"b,c\",\r\n");
    f.separator = "\t";
    f.lineEnd = "\n";
    EXPECT_EQ(DelimitedText::line(QStringList{QString::fromUtf8("\xC3\x9C"), "x"}, f), "\xC3\x9C\tx\n");
    EXPECT_EQ(DelimitedText::line(QList<QByteArray>{}, f), "\n");
}

TEST(DelimitedText, UnquotedFormatLeavesQuotesAlone)
{
    DelimitedFormat f;
    f.separator = "\t";
    f.quoteCells = false;
    EXPECT_EQ(DelimitedText::cell("a,\"b\".pdf", f), "a,\"b\".pdf");
}

}  // namespace
