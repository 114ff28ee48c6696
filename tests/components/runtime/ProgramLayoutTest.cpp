// Which store a program uses: its own folder's (a portable copy) before the installed layout's.
#include "ProgramLayout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class ProgramLayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qw-layout-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        bin = root + "/usr/bin";
        pkglib = root + "/usr/lib/quirewell";
        fs::create_directories(bin);
        fs::create_directories(pkglib);
    }
    void TearDown() override { fs::remove_all(root); }
    static void touch(const std::string& path) { std::ofstream(path) << "REGEDIT4\n"; }

    std::string root, bin, pkglib;
};

TEST_F(ProgramLayoutTest, StoreIsFoundWhereItIs)
{
    // Neither: beside the program, where a first registration creates it.
    EXPECT_EQ(comrt::DefaultStorePathFor(bin), bin + "/quirewell.reg");
    EXPECT_FALSE(comrt::RunsInstalledFrom(bin));

    // Installed: bin/../lib/quirewell/quirewell.reg.
    touch(pkglib + "/quirewell.reg");
    const std::string installed = comrt::DefaultStorePathFor(bin);
    EXPECT_TRUE(fs::equivalent(installed, pkglib + "/quirewell.reg")) << installed;
    EXPECT_TRUE(comrt::RunsInstalledFrom(bin));

    // A store beside the program wins: a portable copy next to an installed one stays itself.
    touch(bin + "/quirewell.reg");
    EXPECT_EQ(comrt::DefaultStorePathFor(bin), bin + "/quirewell.reg");
    EXPECT_FALSE(comrt::RunsInstalledFrom(bin));
}

TEST_F(ProgramLayoutTest, AFolderNamedLikeTheStoreIsNotAStore)
{
    fs::create_directories(pkglib + "/quirewell.reg");
    EXPECT_EQ(comrt::DefaultStorePathFor(bin), bin + "/quirewell.reg");
    EXPECT_FALSE(comrt::RunsInstalledFrom(bin));
}

} // namespace
