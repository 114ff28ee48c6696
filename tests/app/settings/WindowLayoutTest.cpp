// The window's layout section in Settings.ini: what goes in comes back, other sections keep their
// bytes, and a damaged or missing section falls back value by value.

#include "WindowLayout.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using modGlobal::WindowLayout;

namespace {

class WindowLayoutTest : public ::testing::Test
{
protected:
    QString path() const { return dir.filePath("Settings/Settings.ini"); }
    void write(const QByteArray &bytes)
    {
        ASSERT_TRUE(QDir().mkpath(dir.filePath("Settings")));
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir dir;
};

WindowLayout sample()
{
    WindowLayout l;
    l.NormalGeometry = QRect(-40, 25, 1280, 800);
    l.Maximized = true;
    l.TreeWidth = 3500;
    l.ColumnWidths = {4000, 5200, 1300, 2200, 1100};
    l.SortColumn = 4;
    l.SortOrder = 2;
    l.AdvancedShown = 0;
    return l;
}

TEST_F(WindowLayoutTest, RoundTripKeepsTheOtherSectionsByteForByte)
{
    const QByteArray before = "; my notes\r\n[Grid]\r\nStyle=13\r\nForeColor=-2147483640\r\n[General]\r\n"
                              "StartupFolder=/srv/scans\r\n";
    write(before);
    QString error;
    ASSERT_TRUE(modGlobal::WriteWindowLayout(path(), sample(), &error)) << error.toStdString();
    EXPECT_EQ(modGlobal::ReadWindowLayout(path()), sample());
    const QByteArray after = read();
    EXPECT_TRUE(after.startsWith(before)) << "the new section goes after everything that was there";
    EXPECT_TRUE(after.contains("[Window]\r\nLeft=-40\r\nTop=25\r\nWidth=1280\r\nHeight=800\r\nMaximized=1\r\n"));

    // A second write replaces the values in place.
    WindowLayout changed = sample();
    changed.Maximized = false;
    changed.SortColumn = -1;  // never sorted: the remembered sort stays as it was
    ASSERT_TRUE(modGlobal::WriteWindowLayout(path(), changed));
    EXPECT_EQ(read().count("[Window]"), 1);
    WindowLayout expected = sample();
    expected.Maximized = false;
    EXPECT_EQ(modGlobal::ReadWindowLayout(path()), expected);
}

TEST_F(WindowLayoutTest, MissingFileOrSectionGivesNothingRemembered)
{
    EXPECT_EQ(modGlobal::ReadWindowLayout(path()), WindowLayout{});
    write("[Grid]\r\nStyle=1\r\n");
    EXPECT_EQ(modGlobal::ReadWindowLayout(path()), WindowLayout{});
    // Writing into a folder that is not there yet creates it.
    QTemporaryDir other;
    const QString fresh = other.filePath("new/Settings/Settings.ini");
    ASSERT_TRUE(modGlobal::WriteWindowLayout(fresh, sample()));
    EXPECT_EQ(modGlobal::ReadWindowLayout(fresh), sample());
}

struct DamagedCase {
    const char *name;
    const char *section;
    WindowLayout expected;
};

void PrintTo(const DamagedCase &c, std::ostream *os)
{
    *os << c.name;
}

class DamagedValuesTest : public WindowLayoutTest, public ::testing::WithParamInterface<DamagedCase>
{
};

TEST_P(DamagedValuesTest, EachBadValueFallsBackOnItsOwn)
{
    write(GetParam().section);
    EXPECT_EQ(modGlobal::ReadWindowLayout(path()), GetParam().expected);
}

WindowLayout with(auto change)
{
    WindowLayout l;
    change(l);
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedValuesTest,
    ::testing::Values(
        DamagedCase{"GeometryWithOneBadKey", "[Window]\nLeft=10\nTop=x\nWidth=800\nHeight=600\nTreeWidth=2000\n",
                    with([](WindowLayout &l) { l.TreeWidth = 2000; })},
        DamagedCase{"ZeroWidth", "[Window]\nLeft=10\nTop=20\nWidth=0\nHeight=600\n", {}},
        DamagedCase{"NamesIgnoreLetterCase", "[window]\nleft=10\ntop=20\nwidth=800\nheight=600\n",
                    with([](WindowLayout &l) { l.NormalGeometry = QRect(10, 20, 800, 600); })},
        DamagedCase{"FourWidthsAndASortColumnBeyondTheGrid", "[Window]\nColumnWidths=1,2,3,4\nSortColumn=5\nSortOrder=1\n", {}},
        DamagedCase{"BadEntries", "[Window]\nColumnWidths=1,2,x,4,5\nSortColumn=2\nSortOrder=3\nAdvancedOptions=2\n", {}},
        DamagedCase{"BlanksAroundAndBadFlags", "[Window]\nColumnWidths= 10, 20,30,40,50 \nSortColumn=0\nSortOrder=1\nAdvancedOptions=1\n"
                    "Maximized=yes\nTreeWidth=-5\n",
                    with([](WindowLayout &l) {
                        l.ColumnWidths = {10, 20, 30, 40, 50};
                        l.SortColumn = 0;
                        l.SortOrder = 1;
                        l.AdvancedShown = 1;
                    })}));

}  // namespace
