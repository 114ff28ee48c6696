#include "ProfileDocument.h"

#include "FileNames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::ProfileDocument;
using platform::readProfileString;
using platform::writeProfileString;

namespace {

std::string readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<unreadable>");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

struct ReadCase {
    const char *label;
    QByteArray file;
    const char *section;
    const char *key;
    QString defaultValue;
    int buffer;
    QString expected;
};

void PrintTo(const ReadCase &c, std::ostream *os)
{
    *os << c.label;
}

class ProfileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, GivesValueOrDefault)
{
    const ReadCase &c = GetParam();
    ProfileDocument doc;
    doc.setContents(c.file);
    EXPECT_EQ(doc.value(QString::fromLatin1(c.section), QString::fromLatin1(c.key), c.defaultValue, c.buffer),
              c.expected)
        << c.label;
}

const QString k600(600, u'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileRead,
    ::testing::Values(
        ReadCase{"empty file", "", "Grid", "Style", "1", 3, "1"},
        ReadCase{"missing section", "[Other]\nStyle=5\n", "Grid", "Style", "1", 3, "1"},
        ReadCase{"missing key", "[Grid]\nShow=5\n", "Grid", "Style", "1", 3, "1"},
        ReadCase{"present but empty", "[Grid]\nStyle=\n", "Grid", "Style", "1", 3, ""},
        ReadCase{"only blanks", "[Grid]\nStyle=   \n", "Grid", "Style", "1", 3, ""},
        ReadCase{"names ignore case", "[gRiD]\nSTYLE=7\n", "Grid", "style", "1", 3, "7"},
        ReadCase{"blanks around name and value", "  [ Grid ]  \n  Style  =  12  \n", "Grid", "Style", "1", 3, "12"},
        ReadCase{"buffer 3 keeps 2", "[Grid]\nStyle=100\n", "Grid", "Style", "1", 3, "10"},
        ReadCase{"buffer 18 keeps 17", "[Grid]\nForeColor=-21474836401234567890\n", "Grid", "ForeColor", "",
                 18, "-2147483640123456"},
        ReadCase{"buffer 500 keeps 499", "[G]\nP=" + k600.toLatin1() + "\n", "G", "P", "", 500, k600.left(499)},
        ReadCase{"default is cut too", "", "Grid", "Style", "12345", 3, "12"},
        ReadCase{"buffer 1 gives nothing", "[Grid]\nStyle=5\n", "Grid", "Style", "1", 1, ""},
        ReadCase{"key of another section", "[Grid]\n[General]\nStyle=5\n", "Grid", "Style", "1", 3, "1"},
        ReadCase{"comment is no key", "[Grid]\n;Style=5\n# Style=6\n", "Grid", "Style", "1", 3, "1"},
        ReadCase{"first of two sections wins", "[Grid]\nA=1\n[Grid]\nA=2\n", "Grid", "A", "", 3, "1"},
        ReadCase{"first of two keys wins", "[Grid]\nA=1\nA=2\n", "Grid", "A", "", 3, "1"},
        ReadCase{"value keeps its equals signs", "[G]\nA=b=c\n", "G", "A", "", 500, "b=c"},
        ReadCase{"CR LF lines", "[Grid]\r\nStyle=4\r\n", "Grid", "Style", "1", 3, "4"},
        ReadCase{"byte-order mark", "\xEF\xBB\xBF[Grid]\nStyle=4\n", "Grid", "Style", "1", 3, "4"},
        ReadCase{"no final newline", "[Grid]\nStyle=4", "Grid", "Style", "1", 3, "4"},
        ReadCase{"UTF-8 text", "[G]\nP=/home/ünï/€\n", "G", "P", "", 500, QStringLiteral("/home/ünï/€")},
        ReadCase{"cut never splits a character pair", "[G]\nP=a\xF0\x9F\x98\x80\n", "G", "P", "", 3,
                 QStringLiteral("a")}));

TEST(ProfileReadFile, MissingFileGivesDefault)
{
    EXPECT_EQ(readProfileString("Grid", "Style", "1", 3, "/nonexistent/folder/Settings.ini"), "1");
}

class ProfileWrite : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("test.ini"); }
};

TEST_F(ProfileWrite, ReplacesValueAndKeepsEveryOtherLine)
{
    const QByteArray before = "; my notes\n"
                              "[Grid]\n"
                              "Style = 3\n"
                              "Unknown=keep me\n"
                              "\n"
                              "; about general\n"
                              "[General]\n"
                              "StartupFolder=/data\n";
    writeAll(path(), before);
    QString error;
    ASSERT_TRUE(writeProfileString("grid", "STYLE", "9", path(), &error)) << error.toStdString();
    QByteArray expected = before;
    expected.replace("Style = 3", "Style = 9");
    EXPECT_EQ(readAll(path()), expected.toStdString());
}

TEST_F(ProfileWrite, NewKeyGoesAfterLastKeyOfItsSection)
{
    writeAll(path(), "[Grid]\nStyle=1\n\n; next\n[General]\nA=1\n");
    ASSERT_TRUE(writeProfileString("Grid", "Show/Hide", "0", path()));
    EXPECT_EQ(readAll(path()), std::string("[Grid]\nStyle=1\nShow/Hide=0\n\n; next\n[General]\nA=1\n"));
}

TEST_F(ProfileWrite, NewKeyInSectionWithoutKeysFollowsHeader)
{
    writeAll(path(), "[Grid]\n[General]\n");
    ASSERT_TRUE(writeProfileString("Grid", "Style", "2", path()));
    EXPECT_EQ(readAll(path()), std::string("[Grid]\nStyle=2\n[General]\n"));
}

TEST_F(ProfileWrite, NewSectionGoesToEndAndFileIsCreated)
{
    ASSERT_TRUE(writeProfileString("Grid", "Style", "1", path()));
    ASSERT_TRUE(writeProfileString("General", "StartupFolder", "/x", path()));
    EXPECT_EQ(readAll(path()), std::string("[Grid]\nStyle=1\n\n[General]\nStartupFolder=/x\n"));
}

TEST_F(ProfileWrite, FollowsCrLfAndMissingFinalNewline)
{
    writeAll(path(), "[Grid]\r\nStyle=1");
    ASSERT_TRUE(writeProfileString("Grid", "Show/Hide", "1", path()));
    ASSERT_TRUE(writeProfileString("Grid", "Style", "5", path()));
    EXPECT_EQ(readAll(path()), std::string("[Grid]\r\nStyle=5\r\nShow/Hide=1\r\n"));
}

// Whatever is added after the last line takes the line end the file already uses, also when its
// last line has none.
struct AppendCase {
    const char *label;
    QByteArray before;
    const char *section;
    QByteArray after;
};

void PrintTo(const AppendCase &c, std::ostream *os)
{
    *os << c.label;
}

class ProfileAppend : public ::testing::TestWithParam<AppendCase> {};

TEST_P(ProfileAppend, TakesTheFilesOwnLineEnd)
{
    const AppendCase &c = GetParam();
    ProfileDocument doc;
    doc.setContents(c.before);
    ASSERT_TRUE(doc.setValue(QString::fromLatin1(c.section), "Left", "5"));
    EXPECT_EQ(doc.contents(), c.after) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileAppend,
    ::testing::Values(
        AppendCase{"CR LF, no end on the last line, new section", "[Grid]\r\nStyle=1", "Window",
                   "[Grid]\r\nStyle=1\r\n\r\n[Window]\r\nLeft=5\r\n"},
        AppendCase{"CR LF, no end on the last line, key in the last section", "[Grid]\r\nStyle=1", "Grid",
                   "[Grid]\r\nStyle=1\r\nLeft=5\r\n"},
        AppendCase{"CR LF, last line a comment without end", "[Grid]\r\nStyle=1\r\n; note", "Window",
                   "[Grid]\r\nStyle=1\r\n; note\r\n\r\n[Window]\r\nLeft=5\r\n"},
        AppendCase{"CR LF, ends in a blank line", "[Grid]\r\nStyle=1\r\n\r\n", "Window",
                   "[Grid]\r\nStyle=1\r\n\r\n[Window]\r\nLeft=5\r\n"},
        AppendCase{"CR LF, every line ended", "[Grid]\r\nStyle=1\r\n", "Window",
                   "[Grid]\r\nStyle=1\r\n\r\n[Window]\r\nLeft=5\r\n"},
        AppendCase{"LF, no end on the last line", "[Grid]\nStyle=1", "Window",
                   "[Grid]\nStyle=1\n\n[Window]\nLeft=5\n"},
        AppendCase{"one line without end says nothing: LF", "[Grid]", "Grid", "[Grid]\nLeft=5\n"}));

TEST_F(ProfileWrite, KeepsBytesThatAreNotUtf8)
{
    const QByteArray before = "[Grid]\nOld=caf\xE9\n";
    writeAll(path(), before);
    ASSERT_TRUE(writeProfileString("Grid", "New", QStringLiteral("ü"), path()));
    EXPECT_EQ(readAll(path()), (before + "New=\xC3\xBC\n").toStdString());
    EXPECT_EQ(readProfileString("Grid", "New", "", 500, path()), QStringLiteral("ü"));
}

// A stored path is bytes: what is not UTF-8 reads as escapes, and neither writing it back nor
// writing the escapes changes a byte of it.
TEST_F(ProfileWrite, PathsThatAreNotUtf8SurviveAReadAndAWrite)
{
    const QByteArray before = "[General]\r\nStartupFolder = /data/\xFF\xFE  \r\nExportLocation=/x\r\n";
    ProfileDocument doc;
    doc.setContents(before);
    const QString folder = doc.value(u"General", u"StartupFolder", "", 4097);
    EXPECT_EQ(platform::pathFromText(folder), QByteArray("/data/\xFF\xFE"));
    EXPECT_NE(folder, QString::fromUtf8("/data/\xFF\xFE")) << "read without replacement marks";

    ASSERT_TRUE(doc.setValue("General", "StartupFolder", folder));
    EXPECT_EQ(doc.contents(), before) << "the same value leaves its line as it was";

    ASSERT_TRUE(doc.setValue("General", "ExportLocation", platform::pathToText("/out/caf\xE9")));
    ASSERT_TRUE(doc.setValue("General", "New", platform::pathToText("/n\x80")));
    EXPECT_EQ(doc.contents(), QByteArray("[General]\r\nStartupFolder = /data/\xFF\xFE  \r\nExportLocation=/out/caf\xE9\r\n"
                                         "New=/n\x80\r\n"));
}

TEST_F(ProfileWrite, RefusesWhatWouldBreakTheFile)
{
    const QByteArray before = "[Grid]\nStyle=1\n";
    writeAll(path(), before);
    struct Bad {
        const char *section;
        const char *key;
        QString value;
    };
    for (const Bad &b : {Bad{"Grid", "Style", "1\n[Evil]"}, Bad{"Grid", "A=B", "1"}, Bad{"Grid", "", "1"},
                         Bad{"", "Style", "1"}, Bad{"Gr]id", "Style", "1"}, Bad{"Grid", "[Style", "1"}}) {
        QString error;
        EXPECT_FALSE(writeProfileString(b.section, b.key, b.value, path(), &error)) << b.key;
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(readAll(path()), before.toStdString());
}

TEST_F(ProfileWrite, ReportsAFolderThatDoesNotExist)
{
    const QString missing = dir.filePath("no/such/folder/test.ini");
    QString error;
    EXPECT_FALSE(writeProfileString("Grid", "Style", "1", missing, &error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(missing))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(ProfileWrite, DocumentRoundTripsEverything)
{
    const QByteArray text = "\xEF\xBB\xBF; top\r\n[A]\r\nx=1\r\n\r\n  [B]  \r\n;y=2\r\nz = 3 \r\n";
    ProfileDocument doc;
    doc.setContents(text);
    EXPECT_EQ(doc.contents(), text);
    EXPECT_TRUE(doc.contains(u"a", u"X"));
    EXPECT_FALSE(doc.contains(u"B", u"y"));
    EXPECT_EQ(doc.value(u"b", u"z", "", 10), "3");
}

}  // namespace
