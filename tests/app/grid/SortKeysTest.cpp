#include "FlexGridEnums.h"
#include "GuiTestEnvironment.h"
#include "SortKeys.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

struct NumberCase {
    const char *text;
    std::optional<double> value;
};

void PrintTo(const NumberCase &c, std::ostream *os) { *os << '"' << c.text << '"'; }

class ParseNumberTest : public ::testing::TestWithParam<NumberCase>
{
};

TEST_P(ParseNumberTest, ReadsCellNumbers)
{
    QLocale::setDefault(QLocale::c());
    const auto v = sortkeys::parseNumber(QString::fromUtf8(GetParam().text));
    ASSERT_EQ(v.has_value(), GetParam().value.has_value()) << GetParam().text;
    if (v) {
        EXPECT_DOUBLE_EQ(*v, *GetParam().value) << GetParam().text;
    }
}

INSTANTIATE_TEST_SUITE_P(Cells, ParseNumberTest,
                         ::testing::Values(NumberCase{"0", 0.0}, NumberCase{"999", 999.0},
                                           NumberCase{"1,000", 1000.0}, NumberCase{"1,234 KB", 1234.0},
                                           NumberCase{"12,345,678", 12345678.0}, NumberCase{" 42 ", 42.0},
                                           NumberCase{"-3", -3.0}, NumberCase{"2.5", 2.5},
                                           NumberCase{"Error", std::nullopt}, NumberCase{"", std::nullopt},
                                           NumberCase{"12abc", std::nullopt}, NumberCase{"1,2,", std::nullopt},
                                           NumberCase{"KB 12", std::nullopt}, NumberCase{"1 2", std::nullopt}));

TEST(ParseDateTime, TwelveHourClockAndYearOrder)
{
    const QString fmt = QStringLiteral("MM/dd/yyyy hh:mm AP");
    const auto dec31 = sortkeys::parseDateTime(u"12/31/2004 11:59 PM", fmt);
    const auto jan1 = sortkeys::parseDateTime(u"01/01/2005 12:00 AM", fmt);
    const auto jan1noon = sortkeys::parseDateTime(u"01/01/2005 12:00 PM", fmt);
    const auto jan1one = sortkeys::parseDateTime(u"01/01/2005 01:00 PM", fmt);
    ASSERT_TRUE(dec31 && jan1 && jan1noon && jan1one);
    EXPECT_LT(*dec31, *jan1);
    EXPECT_LT(*jan1, *jan1noon);  // 12 AM is midnight, 12 PM noon
    EXPECT_LT(*jan1noon, *jan1one);
    EXPECT_FALSE(sortkeys::parseDateTime(u"13/01/2005 01:00 PM", fmt));
    EXPECT_FALSE(sortkeys::parseDateTime(u"Error", fmt));
    EXPECT_TRUE(sortkeys::parseDateTime(u"2005-01-01T10:00:00", fmt));  // ISO as a fallback
}

// Sorted order of texts under one setting.
QStringList sorted(const QStringList &texts, int setting)
{
    const auto keys = sortkeys::buildKeys(int(texts.size()), [&](int i) -> QStringView { return texts.at(i); }, setting,
                                          QStringLiteral("MM/dd/yyyy hh:mm AP"));
    std::vector<int> order(static_cast<size_t>(texts.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return sortkeys::compare(keys, a, b) < 0; });
    QStringList out;
    for (int i : order)
        out << texts.at(i);
    return out;
}

TEST(SortKeys, PagesColumnPutsErrorBelowNumbersAndEmptyCellsLast)
{
    const QStringList pages{"12", "", "Error", "3", "0", "", "100"};
    EXPECT_EQ(sorted(pages, FlexGridEnums::SortNumericAscending), QStringList({"Error", "0", "3", "12", "100", "", ""}));
    EXPECT_EQ(sorted(pages, FlexGridEnums::SortNumericDescending), QStringList({"100", "12", "3", "0", "Error", "", ""}));
}

TEST(SortKeys, GenericTextSortIsCaseBlindAndReadsNumbersInNames)
{
    const QStringList names{"scan10.tif", "Scan2.tif", "scan1.tif", "alpha.pdf"};
    EXPECT_EQ(sorted(names, FlexGridEnums::SortGenericAscending),
              QStringList({"alpha.pdf", "scan1.tif", "Scan2.tif", "scan10.tif"}));
    EXPECT_EQ(sorted(names, FlexGridEnums::SortGenericDescending),
              QStringList({"scan10.tif", "Scan2.tif", "scan1.tif", "alpha.pdf"}));
}

TEST(SortKeys, DatesSortByTimeNotByText)
{
    const QStringList dates{"01/01/2005 09:00 AM", "12/31/2004 11:00 PM", "not a date", "01/01/2005 08:00 PM"};
    EXPECT_EQ(sorted(dates, FlexGridEnums::SortDateAscending),
              QStringList({"not a date", "12/31/2004 11:00 PM", "01/01/2005 09:00 AM", "01/01/2005 08:00 PM"}));
}

TEST(SortKeys, EqualKeysKeepTheirOrder)
{
    const QStringList sizes{"1", "2", "1", "2"};
    const auto keys = sortkeys::buildKeys(4, [&](int i) -> QStringView { return sizes.at(i); }, FlexGridEnums::SortNumericAscending, {});
    EXPECT_EQ(sortkeys::compare(keys, 0, 2), 0);
    EXPECT_LT(sortkeys::compare(keys, 2, 1), 0);
}

TEST(SortKeys, KeysMadeBySeveralThreadsEqualKeysMadeByOne)
{
    // Enough cells for several threads, with numbers, texts and empty cells in every part.
    std::vector<QString> cells;
    for (int i = 0; i < 160000; ++i)
        cells.push_back(i % 7 == 0 ? QString() : i % 3 == 0 ? QString::number(i % 1000) : QStringLiteral("Scan %1 é").arg(i % 5000));
    for (const int setting : {FlexGridEnums::SortGenericAscending, FlexGridEnums::SortStringNoCaseDescending}) {
        const auto one = sortkeys::buildKeys(int(cells.size()), [&](int i) -> QStringView { return cells[size_t(i)]; },
                                             setting, {});
        const auto several = sortkeys::buildKeysInParallel(
            int(cells.size()), [&](int i, QString &) -> QStringView { return cells[size_t(i)]; }, setting, {});
        ASSERT_EQ(several.cls, one.cls);
        ASSERT_EQ(several.value, one.value);
        for (size_t i = 0; i < cells.size(); ++i) {
            if (one.cls[i] == 1) {
                ASSERT_STREQ(several.textKey(i), one.textKey(i)) << i;
            }
        }
        EXPECT_EQ(sortkeys::stableOrder(several), sortkeys::stableOrder(one));
    }
}

// The grid's own collation keys must order texts exactly as QCollator with the same settings
// compares them, in languages with contractions (Czech "ch"), other letter orders (Swedish),
// case rules (Turkish) and other scripts.
class CollationTest : public ::testing::TestWithParam<const char *>
{
protected:
    void TearDown() override { QLocale::setDefault(QLocale::system()); }
};

TEST_P(CollationTest, KeysOrderAsTheCollatorCompares)
{
    const QLocale locale(QString::fromLatin1(GetParam()));
    QLocale::setDefault(locale);
    const QStringList texts{
        "scan10.tif", "Scan2.tif", "scan02.tif", "scan2.TIF", "scan 2.tif", "scan_2.tif", "scan-2.tif",
        "chata.pdf", "cesta.pdf", "hrad.pdf", "Åsa.pdf", "Zebra.pdf", "zebra.pdf", "Ärende.pdf", "Öl.pdf",
        "Istanbul.tif", "ıstanbul.tif", "istanbul.tif", "İstanbul.tif", "résumé.pdf", "resume.pdf", "Résumé.pdf",
        "報告書.pdf", "ほうこく.tif", "Отчёт.pdf", "12345678901234567890.tif", "9.tif", "", "#1.pdf",
        "a" + QString(300, u'b') + ".pdf", QString::fromUtf16(u"\U0001F4C4 scan.pdf"), "ǅemal.pdf", "ﬁle.pdf", "file.pdf"};
    for (const bool caseSensitive : {false, true}) {
        for (const bool numeric : {false, true}) {
            QCollator collator(locale);
            collator.setCaseSensitivity(caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
            collator.setNumericMode(numeric);
            const sortkeys::Collation collation(caseSensitive, numeric);
            std::string keys;
            std::vector<size_t> at;
            for (const QString &t : texts)
                at.push_back(collation.appendKey(t, keys));
            for (qsizetype a = 0; a < texts.size(); ++a) {
                for (qsizetype b = 0; b < texts.size(); ++b) {
                    const int want = collator.compare(texts[a], texts[b]);
                    const int got = std::strcmp(keys.data() + at[size_t(a)], keys.data() + at[size_t(b)]);
                    EXPECT_EQ((want > 0) - (want < 0), (got > 0) - (got < 0))
                        << GetParam() << " case " << caseSensitive << " numeric " << numeric << ": "
                        << texts[a].toStdString() << " / " << texts[b].toStdString();
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, CollationTest,
                         ::testing::Values("en_US", "de_DE", "cs_CZ", "sv_SE", "tr_TR", "ja_JP", "ru_RU"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace
