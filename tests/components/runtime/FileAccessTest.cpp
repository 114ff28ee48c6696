// Reading without blocking, replacing files only after a write that fully succeeded, cleaning up
// after killed writers, and refusing files other users can change.
#include "FailingWrites.h"
#include "FileAccess.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using TempDir = ScratchFolder;

void Write(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Files in the folder other than the ones named.
std::vector<std::string> Leftovers(const std::string& dir, std::initializer_list<std::string> known)
{
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end())
            out.push_back(name);
    }
    return out;
}

// A process id that no process has now: a child that has exited and been reaped.
pid_t DeadPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

TEST(ReadRegularFile, GivesAClearOutcomeForEveryKindOfName)
{
    TempDir dir;
    Write(dir.file("small.ini"), "[a]\nb=c\n");
    Write(dir.file("big.ini"), std::string(2000, 'x'));
    ASSERT_EQ(::mkfifo(dir.file("fifo.ini").c_str(), 0600), 0);
    fs::create_directory(dir.file("folder.ini"));

    struct Case {
        const char* name;
        comrt::ReadResult result;
        const char* reason;
    } cases[] = {
        {"small.ini", comrt::ReadResult::Ok, ""},
        {"missing.ini", comrt::ReadResult::Missing, ""},
        {"big.ini", comrt::ReadResult::Failed, "larger than 1000 bytes"},
        // Nobody writes to this FIFO: a blocking open would never return.
        {"fifo.ini", comrt::ReadResult::Failed, "not a regular file"},
        {"folder.ini", comrt::ReadResult::Failed, "folder"},
    };
    for (const Case& c : cases) {
        std::string text = "stale";
        std::string reason;
        EXPECT_EQ(comrt::ReadRegularFile(dir.file(c.name), 1000, &text, &reason), c.result) << c.name;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.name << ": " << reason;
        EXPECT_EQ(text, c.result == comrt::ReadResult::Ok ? "[a]\nb=c\n" : "") << c.name;
    }
}

TEST(FileReplacer, AFailedWriteKeepsTheOldFileAndSaysWhy)
{
    TempDir dir;
    const std::string target = dir.file("Settings.ini");
    Write(target, "old contents\n");
    std::string error;
    {
        failing::FileSizeLimit limit(4096);
        EXPECT_FALSE(comrt::ReplaceFileContents(target, std::string(10000, 'n'), &error));
    }
    EXPECT_EQ(Read(target), "old contents\n");
    EXPECT_NE(error.find(target), std::string::npos) << error;
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_TRUE(Leftovers(dir.path(), {"Settings.ini"}).empty()) << "no temporary file stays";
}

TEST(FileReplacer, AFullDiskKeepsTheOldFileAndSaysWhy)
{
    failing::TinyFileSystem disk;
    if (!disk.available())
        GTEST_SKIP() << "cannot mount a small file system here";
    const std::string target = disk.dir() + "/export.csv";
    Write(target, "old contents\n");
    disk.fill();
    std::string error;
    EXPECT_FALSE(comrt::ReplaceFileContents(target, std::string(20000, 'n'), &error));
    EXPECT_EQ(Read(target), "old contents\n");
    EXPECT_NE(error.find(target), std::string::npos) << error;
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_TRUE(Leftovers(disk.dir(), {"export.csv", "filler"}).empty());
}

TEST(FileReplacer, ReplacesKeepingPermissions)
{
    TempDir dir;
    const std::string target = dir.file("f.txt");
    Write(target, "old");
    ::chmod(target.c_str(), 0640);
    std::string error;
    ASSERT_TRUE(comrt::ReplaceFileContents(target, "new", &error)) << error;
    EXPECT_EQ(Read(target), "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(FileReplacer, SymbolicLinksAreFollowedOrRefusedAsAsked)
{
    TempDir dir;
    const std::string victim = dir.file("victim.txt");
    const std::string link = dir.file("link.txt");
    Write(victim, "precious");
    fs::create_symlink(victim, link);

    std::string error;
    EXPECT_FALSE(comrt::ReplaceFileContents(link, "planted", &error, comrt::LinkPolicy::Refuse));
    EXPECT_NE(error.find(link), std::string::npos) << error;
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    EXPECT_EQ(Read(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(link));

    ASSERT_TRUE(comrt::ReplaceFileContents(link, "followed", &error, comrt::LinkPolicy::Follow));
    EXPECT_EQ(Read(victim), "followed");
    EXPECT_TRUE(fs::is_symlink(link)) << "the link itself stays";
}

TEST(FileReplacer, RemovesTemporariesOfWritersThatDied)
{
    TempDir dir;
    const std::string target = dir.file("quirewell.reg");
    const std::string dead = "quirewell.reg.tmp." + std::to_string(DeadPid());
    const std::string deadNumbered = dead + ".3";
    const std::string live = "quirewell.reg.tmp." + std::to_string(::getppid());
    const std::string own = "quirewell.reg.tmp." + std::to_string(::getpid()) + ".99";
    const std::string unrelated = "quirewell.reg.tmp.notapid";
    const std::string userFile = dead + ".bak"; // looks alike, but is somebody's file
    for (const std::string& name : {dead, deadNumbered, live, own, unrelated, userFile})
        Write(dir.file(name), "partial");

    std::string error;
    ASSERT_TRUE(comrt::ReplaceFileContents(target, "REGEDIT4\n", &error)) << error;
    EXPECT_FALSE(fs::exists(dir.file(dead)));
    EXPECT_FALSE(fs::exists(dir.file(deadNumbered)));
    EXPECT_TRUE(fs::exists(dir.file(live))) << "its writer may still be at work";
    EXPECT_TRUE(fs::exists(dir.file(own)));
    EXPECT_TRUE(fs::exists(dir.file(unrelated)));
    EXPECT_TRUE(fs::exists(dir.file(userFile)));
}

TEST(IsSafeToLoad, RefusesWhatAnotherUserCouldChange)
{
    TempDir dir;
    struct Case {
        const char* folder;
        unsigned folderMode;
        unsigned fileMode;
        uid_t fileOwner; // 0: leave as created
        bool safe;
        const char* blamed; // "" for the file itself, else the folder
    } cases[] = {
        {"private", 0755, 0755, 0, true, ""},
        {"everyone", 0777, 0755, 0, false, "folder"},
        {"group", 0775, 0755, 0, false, "folder"},
        {"sticky", 01777, 0755, 0, true, ""},
        {"writablefile", 0755, 0666, 0, false, "file"},
        {"groupfile", 0755, 0775, 0, false, "file"},
        {"foreign", 0755, 0755, 54321, false, "file"},
    };
    for (const Case& c : cases) {
        const std::string folder = dir.file(c.folder);
        const std::string file = folder + "/libx.so";
        fs::create_directory(folder);
        Write(file, "ELF");
        ::chmod(file.c_str(), c.fileMode);
        ::chmod(folder.c_str(), c.folderMode);
        if (c.fileOwner && ::chown(file.c_str(), c.fileOwner, static_cast<gid_t>(-1)) != 0)
            continue; // only root can give a file away; the other rows still run
        std::string reason;
        EXPECT_EQ(comrt::IsSafeToLoad(file, &reason), c.safe) << c.folder << ": " << reason;
        if (!c.safe) {
            const std::string blamed = std::string(c.blamed) == "folder" ? "folder " + folder : file;
            EXPECT_EQ(reason.rfind(blamed + " is ", 0), 0u) << reason;
        }
    }
}

TEST(IsSafeToLoad, ALinkIsJudgedWhereItLeads)
{
    TempDir dir;
    fs::create_directory(dir.file("safe"));
    fs::create_directory(dir.file("open"));
    Write(dir.file("open/libx.so"), "ELF");
    ::chmod(dir.file("open").c_str(), 0777);
    fs::create_symlink(dir.file("open/libx.so"), dir.file("safe/libx.so"));
    std::string reason;
    EXPECT_FALSE(comrt::IsSafeToLoad(dir.file("safe/libx.so"), &reason));
    EXPECT_NE(reason.find(dir.file("open")), std::string::npos) << reason;
    EXPECT_TRUE(comrt::IsSafeToLoad(dir.file("safe/missing.so"), &reason))
        << "a missing file is for the loader to report";
}

} // namespace
