#include "SettingsFile.h"

#include "FailingWrites.h"
#include "MessageBoxes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace modGlobal;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::RecordingMessageBoxes;

namespace {

const QString kLoadError = QStringLiteral("Error occured while reading setting parameters.\r\n\r\n");
const QString kSaveError = QStringLiteral("Unable to save settings.\r\n\r\n");

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SetProgramFolderOverride(dir.path());
        AppSettings = SettingsRecord();
        // Never the user's own configuration folder.
        m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    }
    void TearDown() override
    {
        SetProgramFolderOverride(QString());
        if (m_oldConfigHome.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
    }

    void writeSettings(const QByteArray &text)
    {
        ASSERT_TRUE(QDir().mkpath(dir.filePath("Settings")));
        QFile f(SettingsFilePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    std::string settingsText() const
    {
        QFile f(SettingsFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<no file>");
    }

    QTemporaryDir dir;
    RecordingMessageBoxes boxes;
    QByteArray m_oldConfigHome;
};

TEST_F(SettingsFileTest, PathIsSettingsFolderInProgramFolder)
{
    EXPECT_EQ(SettingsFilePath(), dir.path() + "/Settings/Settings.ini");
}

TEST_F(SettingsFileTest, NoFileGivesDefaultsSilently)
{
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings, SettingsRecord::defaults());
    EXPECT_EQ(AppSettings.GridStyle, 1);
    EXPECT_EQ(AppSettings.ShowGrid, 1);
    EXPECT_EQ(AppSettings.ForeColor, int32_t(0x80000008u));
    EXPECT_TRUE(AppSettings.ColumnVisibility.isEmpty());
    EXPECT_TRUE(boxes.shown.isEmpty());
}

struct GoodCase {
    const char *label;
    QByteArray file;
    std::function<void(SettingsRecord &)> expectedChange;  // applied to the defaults
};

void PrintTo(const GoodCase &c, std::ostream *os)
{
    *os << c.label;
}

class SettingsGoodValues : public SettingsFileTest, public ::testing::WithParamInterface<GoodCase> {};

TEST_P(SettingsGoodValues, Load)
{
    writeSettings(GetParam().file);
    ASSERT_TRUE(LoadSettings());
    SettingsRecord expected = SettingsRecord::defaults();
    GetParam().expectedChange(expected);
    EXPECT_EQ(AppSettings, expected);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

const QByteArray kLongPath = "/" + QByteArray(600, 'p');
const QByteArray kTooLongPath = "/" + QByteArray(5000, 'p');

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsGoodValues,
    ::testing::Values(
        GoodCase{"only Style 12", "[Grid]\nStyle=12\n", [](SettingsRecord &s) { s.GridStyle = 12; }},
        GoodCase{"Style 100 reads 10", "[Grid]\nStyle=100\n", [](SettingsRecord &s) { s.GridStyle = 10; }},
        GoodCase{"Style 300 reads 30", "[Grid]\nStyle=300\n", [](SettingsRecord &s) { s.GridStyle = 30; }},
        GoodCase{"blanks trimmed", "[grid]\n  style =  7  \n", [](SettingsRecord &s) { s.GridStyle = 7; }},
        GoodCase{"Show/Hide 0", "[Grid]\nShow/Hide=0\n", [](SettingsRecord &s) { s.ShowGrid = 0; }},
        GoodCase{"colour numbers", "[Grid]\nForeColor=255\nBackColor=-2147483640\nGridColor=-2147483648\n",
                 [](SettingsRecord &s) {
                     s.ForeColor = 255;
                     s.BackColor = int32_t(0x80000008u);
                     s.GridColor = int32_t(0x80000000u);
                 }},
        GoodCase{"visibility list", "[ColumnSetting]\nVisibility=1,0,1,1,1\n",
                 [](SettingsRecord &s) { s.ColumnVisibility = QStringList{"1", "0", "1", "1", "1"}; }},
        GoodCase{"visibility trailing comma", "[ColumnSetting]\nVisibility=1,1,1,1,1,\n",
                 [](SettingsRecord &s) { s.ColumnVisibility = QStringList{"1", "1", "1", "1", "1", ""}; }},
        GoodCase{"visibility single entry", "[ColumnSetting]\nVisibility=0\n",
                 [](SettingsRecord &s) { s.ColumnVisibility = QStringList{"0"}; }},
        GoodCase{"visibility empty", "[ColumnSetting]\nVisibility=\n", [](SettingsRecord &) {}},
        GoodCase{"paths", "[Grid]\nBackPicture= /pics/a b.bmp \n[General]\nStartupFolder=/data/scans\n"
                          "ExportLocation=/home/ü/out\n",
                 [](SettingsRecord &s) {
                     s.BackPicture = "/pics/a b.bmp";
                     s.StartupFolder = "/data/scans";
                     s.ExportLocation = QStringLiteral("/home/ü/out");
                 }},
        GoodCase{"counting lanes", "[General]\nCountingLanes=12\n", [](SettingsRecord &s) { s.CountingLanes = 12; }},
        // Not a lane count: automatic, and the program still starts.
        GoodCase{"counting lanes letters", "[General]\nCountingLanes=many\n", [](SettingsRecord &) {}},
        GoodCase{"counting lanes negative", "[General]\nCountingLanes=-2\n", [](SettingsRecord &) {}},
        GoodCase{"counting lanes too many", "[General]\nCountingLanes=999\n", [](SettingsRecord &) {}},
        GoodCase{"page-count cache off", "[General]\nPageCountCache=0\n", [](SettingsRecord &s) { s.PageCountCache = false; }},
        GoodCase{"page-count cache on", "[General]\nPageCountCache=1\n", [](SettingsRecord &) {}},
        GoodCase{"page-count cache unreadable", "[General]\nPageCountCache=off\n", [](SettingsRecord &) {}},
        GoodCase{"page-count cache out of range", "[General]\nPageCountCache=2\n", [](SettingsRecord &) {}},
        GoodCase{"long path kept whole", "[General]\nStartupFolder=" + kLongPath + "\n",
                 [](SettingsRecord &s) { s.StartupFolder = QString::fromLatin1(kLongPath); }},
        GoodCase{"path beyond Linux's limit cut to 4096", "[General]\nStartupFolder=" + kTooLongPath + "\n",
                 [](SettingsRecord &s) { s.StartupFolder = QString::fromLatin1(kTooLongPath.left(4096)); }}));

struct BadCase {
    const char *label;
    QByteArray file;
    const char *description;  // start of the text after the fixed sentence
};

void PrintTo(const BadCase &c, std::ostream *os)
{
    *os << c.label;
}

class SettingsBadValues : public SettingsFileTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(SettingsBadValues, FailWithMessage)
{
    writeSettings(GetParam().file);
    EXPECT_FALSE(LoadSettings());
    ASSERT_EQ(boxes.shown.size(), 1);
    const auto &box = boxes.shown.front();
    EXPECT_TRUE(box.text.startsWith(kLoadError + GetParam().description)) << box.text.toStdString();
    EXPECT_EQ(box.icon, MsgIcon::Information);
    EXPECT_EQ(box.buttons, MsgButtons::Ok);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsBadValues,
    ::testing::Values(BadCase{"Style empty", "[Grid]\nStyle=\n", "Type mismatch"},
                      BadCase{"Style letters", "[Grid]\nStyle=ab\n", "Type mismatch"},
                      BadCase{"Style negative", "[Grid]\nStyle=-1\n", "Overflow"},
                      BadCase{"Style sign only", "[Grid]\nStyle=+\n", "Type mismatch"},
                      BadCase{"Show/Hide letters", "[Grid]\nShow/Hide=no\n", "Type mismatch"},
                      BadCase{"ForeColor name", "[Grid]\nForeColor=red\n", "Type mismatch"},
                      BadCase{"ForeColor hexadecimal", "[Grid]\nForeColor=0xFF\n", "Type mismatch"},
                      BadCase{"ForeColor too big", "[Grid]\nForeColor=2147483648\n", "Overflow"},
                      BadCase{"GridColor too small", "[Grid]\nGridColor=-2147483649\n", "Overflow"}));

TEST_F(SettingsFileTest, FailureKeepsKeysReadBeforeIt)
{
    writeSettings("[Grid]\nStyle=5\nForeColor=red\nBackColor=255\n");
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(AppSettings.GridStyle, 5);
    EXPECT_EQ(AppSettings.ShowGrid, 1);
    EXPECT_EQ(AppSettings.BackColor, 0);  // never reached
    EXPECT_TRUE(boxes.shown.front().text.contains("ForeColor"));
}

TEST_F(SettingsFileTest, SavingDefaultsIntoNewFile)
{
    AppSettings = SettingsRecord::defaults();
    AppSettings.ColumnVisibility = QStringList{"1", "1", "1", "1", "1"};
    ASSERT_TRUE(SaveSettings());  // the Settings folder does not exist yet
    EXPECT_EQ(settingsText(), "[Grid]\n"
                              "BackPicture=\n"
                              "Style=1\n"
                              "Show/Hide=1\n"
                              "ForeColor=-2147483640\n"
                              "ForeColorSel=-2147483634\n"
                              "BackColor=-2147483643\n"
                              "BackColorSel=-2147483635\n"
                              "GridColor=-2147483633\n"
                              "\n"
                              "[ColumnSetting]\n"
                              "Visibility=1,1,1,1,1\n"
                              "\n"
                              "[General]\n"
                              "StartupFolder=\n"
                              "ExportLocation=\n"
                              "CountingLanes=0\n");
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(SettingsFileTest, SaveThenLoadGivesSameRecord)
{
    SettingsRecord s = SettingsRecord::defaults();
    s.GridStyle = 13;
    s.ShowGrid = 0;
    s.ForeColor = 255;
    s.BackColorSel = 0x00FF8040;
    s.BackPicture = QStringLiteral("/pics/ä b.jpg");
    s.ColumnVisibility = QStringList{"1", "0", "1", "0", "1"};
    s.StartupFolder = "/data";
    s.ExportLocation = "/out put";
    s.CountingLanes = 16;
    AppSettings = s;
    ASSERT_TRUE(SaveSettings());
    AppSettings = SettingsRecord();
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings, s);
}

TEST_F(SettingsFileTest, SaveKeepsHandEditedLines)
{
    writeSettings("; written by hand\n"
                  "[Grid]\n"
                  "Style = 2\n"
                  "MyOwnKey=keep\n"
                  "\n"
                  "[Extra]\n"
                  "x=1\n"
                  "[General]\n"
                  "; the scans\n"
                  "StartupFolder=/old\n");
    AppSettings = SettingsRecord::defaults();
    AppSettings.GridStyle = 9;
    AppSettings.StartupFolder = "/new";
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(settingsText(), "; written by hand\n"
                              "[Grid]\n"
                              "Style = 9\n"
                              "MyOwnKey=keep\n"
                              "BackPicture=\n"
                              "Show/Hide=1\n"
                              "ForeColor=-2147483640\n"
                              "ForeColorSel=-2147483634\n"
                              "BackColor=-2147483643\n"
                              "BackColorSel=-2147483635\n"
                              "GridColor=-2147483633\n"
                              "\n"
                              "[Extra]\n"
                              "x=1\n"
                              "[General]\n"
                              "; the scans\n"
                              "StartupFolder=/new\n"
                              "ExportLocation=\n"
                              "CountingLanes=0\n"
                              "\n"
                              "[ColumnSetting]\n"
                              "Visibility=\n");
}

TEST_F(SettingsFileTest, SaveReportsAnUnwritableLocation)
{
    // A file where the Settings folder should be: neither the folder nor the file can be made.
    QFile blocker(dir.filePath("Settings"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    AppSettings = SettingsRecord::defaults();
    AppSettings.GridStyle = 4;
    EXPECT_FALSE(SaveSettings());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown.front().text.startsWith(kSaveError)) << boxes.shown.front().text.toStdString();
    EXPECT_GT(boxes.shown.front().text.size(), kSaveError.size());
    EXPECT_EQ(boxes.shown.front().icon, MsgIcon::Information);
    EXPECT_EQ(AppSettings.GridStyle, 4);  // the change stays in force for this run
}

TEST_F(SettingsFileTest, SaveReportsAReadOnlyFile)
{
    writeSettings("[Grid]\nStyle=2\n");
    QFile::setPermissions(SettingsFilePath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QFile::setPermissions(dir.filePath("Settings"), QFile::ReadOwner | QFile::ExeOwner);
    if (QFileInfo(dir.filePath("Settings")).isWritable()) {
        QFile::setPermissions(dir.filePath("Settings"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "permissions do not bind this user";
    }
    // A read-only Settings folder sends the settings to the configuration folder; block that
    // too, so the save has nowhere to go.
    QFile configBlocker(dir.filePath("config"));
    ASSERT_TRUE(configBlocker.open(QIODevice::WriteOnly));
    configBlocker.close();
    const QString besideProgram = dir.filePath("Settings/Settings.ini");
    AppSettings = SettingsRecord::defaults();
    EXPECT_FALSE(SaveSettings());
    QFile::setPermissions(dir.filePath("Settings"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(boxes.shown.size(), 1);
    QFile f(besideProgram);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "[Grid]\nStyle=2\n");
}

// Where the file lives, from the facts the program looks at.
struct PlaceCase {
    const char *name;
    bool installed;
    bool writable;
    const char *configHome;
    const char *expected;
};

void PrintTo(const PlaceCase &c, std::ostream *os) { *os << c.name; }

class SettingsPlaceTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(SettingsPlaceTest, Choice)
{
    const PlaceCase &c = GetParam();
    SettingsPlace place;
    place.programFolder = QStringLiteral("/opt/qw/bin");
    place.installed = c.installed;
    place.programSideWritable = c.writable;
    place.configHome = QString::fromUtf8(c.configHome);
    place.home = QStringLiteral("/home/ann");
    EXPECT_EQ(ChooseSettingsFilePath(place).toStdString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Places, SettingsPlaceTest,
    ::testing::Values(
        PlaceCase{"PortableWritable", false, true, "/cfg", "/opt/qw/bin/Settings/Settings.ini"},
        PlaceCase{"PortableReadOnly", false, false, "/cfg", "/cfg/quirewell/Settings.ini"},
        PlaceCase{"InstalledEvenIfWritable", true, true, "/cfg", "/cfg/quirewell/Settings.ini"},
        PlaceCase{"NoConfigHome", true, false, "", "/home/ann/.config/quirewell/Settings.ini"},
        PlaceCase{"RelativeConfigHomeIgnored", false, false, "cfg", "/home/ann/.config/quirewell/Settings.ini"},
        PlaceCase{"TrailingSlash", true, false, "/cfg/", "/cfg/quirewell/Settings.ini"}),
    [](const ::testing::TestParamInfo<PlaceCase> &info) { return std::string(info.param.name); });

// An installed program (its store in lib/quirewell, none beside it) keeps the user's settings
// in the configuration folder, creates it on the first save and reads it back from there, even
// when its own folder could be written (as root can).
TEST_F(SettingsFileTest, InstalledProgramUsesTheConfigurationFolder)
{
    ASSERT_TRUE(QDir().mkpath(dir.filePath("usr/bin")));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("usr/lib/quirewell")));
    QFile store(dir.filePath("usr/lib/quirewell/quirewell.reg"));
    ASSERT_TRUE(store.open(QIODevice::WriteOnly));
    store.write("REGEDIT4\n");
    store.close();
    SetProgramFolderOverride(dir.filePath("usr/bin"));

    const QString expected = dir.filePath("config/quirewell/Settings.ini");
    EXPECT_EQ(SettingsFilePath(), expected);
    ASSERT_TRUE(LoadSettings());  // nothing there yet: defaults, and nothing created
    EXPECT_FALSE(QFile::exists(expected));
    AppSettings.GridStyle = 12;
    ASSERT_TRUE(SaveSettings());
    EXPECT_TRUE(QFile::exists(expected));
    EXPECT_FALSE(QFile::exists(dir.filePath("usr/bin/Settings")));
    AppSettings = SettingsRecord();
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings.GridStyle, 12);

    // A store beside the program makes it a portable copy again.
    QFile::copy(dir.filePath("usr/lib/quirewell/quirewell.reg"), dir.filePath("usr/bin/quirewell.reg"));
    EXPECT_EQ(SettingsFilePath(), dir.filePath("usr/bin/Settings/Settings.ini"));
}

// A write that fails part-way (file-size limit; a full disk where a small file system can be
// mounted) keeps the old file whole and says where and why.
TEST_F(SettingsFileTest, FailedWriteKeepsTheOldFile)
{
    QByteArray old = "[Grid]\nStyle=2\n; notes\n";
    old += QByteArray(3000, ';') + "\n";
    writeSettings(old);
    AppSettings = SettingsRecord::defaults();
    AppSettings.StartupFolder = QString(2000, u'f');
    {
        failing::FileSizeLimit limit(4096);
        EXPECT_FALSE(SaveSettings());
    }
    EXPECT_EQ(settingsText(), old.toStdString());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown.front().text.startsWith(kSaveError));
    EXPECT_TRUE(boxes.shown.front().text.contains(SettingsFilePath())) << boxes.shown.front().text.toStdString();
    EXPECT_TRUE(boxes.shown.front().text.contains("File too large")) << boxes.shown.front().text.toStdString();

    failing::TinyFileSystem disk;
    if (!disk.available())
        GTEST_SKIP() << "cannot mount a small file system here";
    SetProgramFolderOverride(QFile::decodeName(disk.dir().c_str()));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(SettingsFilePath()).path()));
    writeSettings("[Grid]\nStyle=2\n");
    disk.fill();
    QString error;
    EXPECT_FALSE(WriteSettingsFile(SettingsFilePath(), AppSettings, &error));
    EXPECT_EQ(settingsText(), "[Grid]\nStyle=2\n");
    EXPECT_TRUE(error.contains("No space left on device")) << error.toStdString();
}

// A settings file that is a FIFO, a folder or far larger than any real one is refused at once
// with the message an unreadable one gets, and nothing is loaded from it.
TEST_F(SettingsFileTest, OnlyARegularFileOfSaneSizeIsRead)
{
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Settings")));
    const QByteArray path = QFile::encodeName(SettingsFilePath());
    const std::function<bool()> makers[] = {
        [&] { return ::mkfifo(path.constData(), 0600) == 0; },  // nobody ever writes to it
        [&] { return QDir().mkpath(SettingsFilePath()); },
        [&] {
            QFile f(SettingsFilePath());
            return f.open(QIODevice::WriteOnly) && f.write("[Grid]\nStyle=4\n") > 0 && f.resize(2 * 1024 * 1024);
        },
    };
    for (const auto &make : makers) {
        QFile::remove(SettingsFilePath());
        QDir().rmdir(SettingsFilePath());
        ASSERT_TRUE(make());
        boxes.shown.clear();
        AppSettings = SettingsRecord::defaults();
        EXPECT_FALSE(LoadSettings());
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_TRUE(boxes.shown.front().text.startsWith(kLoadError + SettingsFilePath() + ": "))
            << boxes.shown.front().text.toStdString();
        EXPECT_EQ(AppSettings.GridStyle, SettingsRecord::defaults().GridStyle);
    }
}

// Paths are kept whole up to the longest a Linux path can be.
TEST_F(SettingsFileTest, LongPathsSurviveSaveAndLoad)
{
    QString longPath;
    while (longPath.size() < 4096)
        longPath += QStringLiteral("/sixteen-letters");
    longPath = longPath.left(4096);
    AppSettings = SettingsRecord::defaults();
    AppSettings.StartupFolder = longPath;
    AppSettings.ExportLocation = longPath.left(600);
    AppSettings.BackPicture = longPath.left(501) + ".png";
    ASSERT_TRUE(SaveSettings());
    const SettingsRecord saved = AppSettings;
    AppSettings = SettingsRecord();
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings.StartupFolder.size(), 4096);
    EXPECT_EQ(AppSettings, saved);
}

}  // namespace
