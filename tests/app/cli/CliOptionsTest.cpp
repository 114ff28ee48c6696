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
    EXPECT_EQ(o.folders.size(), c.folders);
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
        OptionCase{"ValueOnAFlag", {"--hidden=yes", "/x"}, false, false, false, "", Format::Text, 0, 0}),
    [](const ::testing::TestParamInfo<OptionCase> &info) { return std::string(info.param.name); });

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
