// The window's command line: nothing, or one folder.
#include "StartArguments.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

enum class Outcome { NoFolder, Folder, Warning, Error };

struct ArgCase {
    const char *name;
    QStringList args;  // "@" stands for the scratch folder, "@f" for a file in it
    Outcome outcome;
    const char *folder;  // expected folder below the scratch folder ("" = the folder itself)
};

void PrintTo(const ArgCase &c, std::ostream *os) { *os << c.name; }

class StartArgumentsTest : public ::testing::TestWithParam<ArgCase> {};

TEST_P(StartArgumentsTest, Parse)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("sub dir"));
    QFile f(dir.filePath("sub dir/a.pdf"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();

    const ArgCase &c = GetParam();
    QStringList args;
    for (QString a : c.args) {
        a.replace(QLatin1String("@f"), dir.filePath("sub dir/a.pdf"));
        a.replace(QLatin1String("@u"), QUrl::fromLocalFile(dir.filePath("sub dir")).toString());
        a.replace(QLatin1String("@"), dir.path());
        args << a;
    }
    const StartArguments r = ParseStartArguments(args);
    switch (c.outcome) {
    case Outcome::NoFolder:
        EXPECT_TRUE(r.folder.isEmpty());
        EXPECT_TRUE(r.error.isEmpty());
        EXPECT_TRUE(r.warning.isEmpty());
        break;
    case Outcome::Folder:
        EXPECT_EQ(r.folder, QDir::cleanPath(dir.path() + QLatin1String(c.folder)));
        EXPECT_TRUE(r.error.isEmpty());
        EXPECT_TRUE(r.warning.isEmpty());
        break;
    case Outcome::Warning:
        EXPECT_TRUE(r.folder.isEmpty());
        EXPECT_TRUE(r.error.isEmpty());
        EXPECT_TRUE(r.warning.startsWith("quirewell: no such folder: ")) << r.warning.toStdString();
        break;
    case Outcome::Error:
        EXPECT_TRUE(r.folder.isEmpty());
        EXPECT_TRUE(r.error.contains("usage: quirewell [FOLDER]")) << r.error.toStdString();
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, StartArgumentsTest,
    ::testing::Values(
        ArgCase{"None", {}, Outcome::NoFolder, ""},
        ArgCase{"Folder", {"@/sub dir"}, Outcome::Folder, "/sub dir"},
        ArgCase{"FolderWithTrailingSlash", {"@/sub dir/"}, Outcome::Folder, "/sub dir"},
        ArgCase{"FileStandsForItsFolder", {"@f"}, Outcome::Folder, "/sub dir"},
        ArgCase{"FileAddress", {"@u"}, Outcome::Folder, "/sub dir"},
        ArgCase{"AfterDoubleDash", {"--", "@"}, Outcome::Folder, ""},
        ArgCase{"Missing", {"@/nothing here"}, Outcome::Warning, ""},
        ArgCase{"Option", {"--recursive", "@"}, Outcome::Error, ""},
        ArgCase{"TwoFolders", {"@", "@/sub dir"}, Outcome::Error, ""}),
    [](const ::testing::TestParamInfo<ArgCase> &info) { return std::string(info.param.name); });

}  // namespace

namespace {

// --help and --version are answered before any display is opened; anything else starts the window.
TEST(InformationRequest, HelpAndVersionOnly)
{
    struct Case {
        std::vector<const char *> args;
        const char *starts;  // "" = no request
    } cases[] = {
        {{"quirewell"}, ""},
        {{"quirewell", "--help"}, "usage: quirewell [FOLDER]"},
        {{"quirewell", "/srv", "-h"}, "usage: quirewell [FOLDER]"},
        {{"quirewell", "--version"}, "Quirewell 2.0 Build 9\n"},
        {{"quirewell", "-V", "--help"}, "Quirewell 2.0 Build 9\n"},
        {{"quirewell", "--", "--help"}, ""},
        {{"quirewell", "--helpful"}, ""},
    };
    for (const Case &c : cases) {
        std::vector<char *> argv;
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        const QString got = InformationRequest(int(argv.size()), argv.data());
        if (*c.starts == 0) {
            EXPECT_TRUE(got.isEmpty()) << got.toStdString();
        } else {
            EXPECT_TRUE(got.startsWith(QString::fromLatin1(c.starts))) << got.toStdString();
        }
    }
}

}  // namespace
