#include "WildcardMatch.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

struct MatchCase {
    const char *name;
    const char *pattern;
    bool expected;
};

void PrintTo(const MatchCase &c, std::ostream *os)
{
    *os << '"' << c.name << "\" vs \"" << c.pattern << '"';
}

class Wildcard : public ::testing::TestWithParam<MatchCase> {};

TEST_P(Wildcard, Matches)
{
    const MatchCase &c = GetParam();
    EXPECT_EQ(platform::pathMatchSpec(QString::fromUtf8(c.name), QString::fromUtf8(c.pattern)), c.expected)
        << '"' << c.name << "\" vs \"" << c.pattern << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Wildcard,
    ::testing::Values(
        MatchCase{"Report.PDF", "*.pdf", true}, MatchCase{"report.pdf", "*.PDF", true},
        MatchCase{"ÄRGER.PDF", "ärger.pdf", true}, MatchCase{"x.tiff", "*.tif", false},
        MatchCase{"x.tif", "*.tiff", false}, MatchCase{"scan.pdf.tif", "*.tif", true},
        MatchCase{"report1.pdf", "report?.pdf", true}, MatchCase{"report10.pdf", "report?.pdf", false},
        MatchCase{"report.pdf", "report?.pdf", false}, MatchCase{"a.b", "a?b", true},
        MatchCase{"a.tif", " *.tif", true}, MatchCase{"a.tif", "   a.tif", true},
        MatchCase{"a.tif", "*.tif ", false}, MatchCase{"a b.tif", "a b.tif", true},
        MatchCase{"ab.tif", "a b.tif", false}, MatchCase{"README", "*.*", true},
        MatchCase{"README", " *.*", true}, MatchCase{"a.b.c", "*.*", true}, MatchCase{".hidden", "*.*", true},
        MatchCase{"README", "*", true}, MatchCase{"abc", "a*c", true}, MatchCase{"ac", "a*c", true},
        MatchCase{"ab", "a*c", false}, MatchCase{"abcbc", "a*bc", true}, MatchCase{"abcbd", "a*bc", false},
        MatchCase{"x", "", false}, MatchCase{"abc", "abc?", false}, MatchCase{"abc", "**c", true},
        MatchCase{"x.pdf,y.txt", "*.pdf,*.txt", true}, MatchCase{"x.pdf", "*.pdf,*.txt", false},
        MatchCase{"a[1].tif", "a[1].tif", true}, MatchCase{"a1.tif", "a[1].tif", false},
        MatchCase{"a+b.tif", "a+b.tif", true}, MatchCase{"aaab", "*a*a*b", true},
        // Would take ages with naive backtracking.
        MatchCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                  "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", false}));

}  // namespace
