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
#include <grp.h>
#include <map>
#include <pwd.h>
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

// Whether the system's records make gid the private group of the user running the tests: the
// one case where group write access is no exposure.
bool GroupIsPrivateToMe(gid_t gid)
{
    const uid_t me = ::geteuid();
    const passwd* user = ::getpwuid(me);
    if (me == 0 || !user || user->pw_gid != gid)
        return false;
    const std::string name = user->pw_name;
    const group* grp = ::getgrgid(gid);
    if (!grp || name != grp->gr_name)
        return false;
    for (char** member = grp->gr_mem; member && *member; ++member)
        if (name != *member)
            return false;
    return true;
}

TEST(IsSafeToLoad, RefusesWhatAnotherUserCouldChange)
{
    TempDir dir;
    struct stat made {};
    ASSERT_EQ(::stat(dir.path().c_str(), &made), 0);
    // Group write access is refused unless the folder's group is this user's private one.
    const bool groupSafe = GroupIsPrivateToMe(made.st_gid);
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
        {"group", 0775, 0755, 0, groupSafe, "folder"},
        {"sticky", 01777, 0755, 0, true, ""},
        {"writablefile", 0755, 0666, 0, false, "file"},
        {"groupfile", 0755, 0775, 0, groupSafe, "file"},
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

// Account records put in place of the system's while it lives.
class FakeAccounts : public comrt::AccountFacts {
public:
    FakeAccounts() { comrt::SetAccountFacts(this); }
    ~FakeAccounts() override { comrt::SetAccountFacts(nullptr); }
    FakeAccounts(const FakeAccounts&) = delete;
    FakeAccounts& operator=(const FakeAccounts&) = delete;

    uid_t me = 0;
    std::map<uid_t, std::pair<std::string, gid_t>> users;
    std::map<gid_t, std::pair<std::string, std::vector<std::string>>> groups;

    uid_t self() const override { return me; }
    bool user(uid_t uid, std::string* name, gid_t* primary) const override
    {
        const auto it = users.find(uid);
        if (it == users.end())
            return false;
        *name = it->second.first;
        *primary = it->second.second;
        return true;
    }
    bool group(gid_t gid, std::string* name, std::vector<std::string>* members) const override
    {
        const auto it = groups.find(gid);
        if (it == groups.end())
            return false;
        *name = it->second.first;
        *members = it->second.second;
        return true;
    }
};

struct GroupCase {
    const char* name;
    const char* groupName;                 // the folder's group as the records name it
    std::vector<std::string> members;      // its listed members
    bool primary;                          // it is the user's primary group
    bool groupKnown;
    bool safe;
};

void PrintTo(const GroupCase& c, std::ostream* os) { *os << c.name; }

class GroupWrite : public ::testing::TestWithParam<GroupCase> {};

// A folder the user may write through its group: safe exactly when nobody else is in that group.
// The records are made up, so every rule is reached on any account; as root the folder is given
// to a made-up user, since root's own group is never taken as private.
TEST_P(GroupWrite, IsAllowedOnlyForTheOwnersPrivateGroup)
{
    const GroupCase& c = GetParam();
    TempDir dir;
    const std::string folder = dir.file("lib");
    const std::string file = folder + "/libx.so";
    fs::create_directory(folder);
    Write(file, "ELF");
    uid_t owner = ::geteuid();
    if (owner == 0) {
        owner = 54321;
        ASSERT_EQ(::chown(folder.c_str(), owner, 54321), 0);
        ASSERT_EQ(::chown(file.c_str(), owner, 54321), 0);
    }
    ::chmod(file.c_str(), 0755);
    ::chmod(folder.c_str(), 0775);
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);

    FakeAccounts accounts;
    accounts.me = owner;
    accounts.users[owner] = {"alice", c.primary ? st.st_gid : st.st_gid + 1};
    if (c.groupKnown)
        accounts.groups[st.st_gid] = {c.groupName, c.members};
    std::string reason;
    EXPECT_EQ(comrt::IsSafeToLoad(file, &reason), c.safe) << reason;
    if (!c.safe) {
        EXPECT_EQ(reason, "folder " + folder + " is writable by other users (mode 0775)");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, GroupWrite,
    ::testing::Values(GroupCase{"PrivateGroup", "alice", {}, true, true, true},
                      GroupCase{"PrivateGroupListingItsUser", "alice", {"alice"}, true, true, true},
                      GroupCase{"AnotherMember", "alice", {"alice", "bob"}, true, true, false},
                      GroupCase{"OnlyAnotherMember", "alice", {"bob"}, true, true, false},
                      GroupCase{"GroupOfAnotherName", "staff", {}, true, true, false},
                      GroupCase{"NotTheUsersPrimaryGroup", "alice", {}, false, true, false},
                      GroupCase{"UnknownGroup", "", {}, true, false, false}),
    [](const ::testing::TestParamInfo<GroupCase>& info) { return info.param.name; });

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

// Only a regular file is ever opened where a library or program is expected, and nothing waits:
// a FIFO nobody writes to would block an ordinary open for ever.
TEST(CheckedFile, OpensOnlyARegularFileAndSaysWhyNot)
{
    TempDir dir;
    Write(dir.file("lib.so"), "ELF here");
    ASSERT_EQ(::mkfifo(dir.file("fifo.so").c_str(), 0600), 0);
    fs::create_directory(dir.file("folder.so"));
    fs::create_symlink(dir.file("lib.so"), dir.file("link.so"));
    fs::create_symlink(dir.file("fifo.so"), dir.file("link-to-fifo.so"));
    using Outcome = comrt::CheckedFile::Outcome;
    struct Case {
        std::string path;
        Outcome outcome;
        std::string resolved;
        const char* reason;
    } cases[] = {
        {dir.file("lib.so"), Outcome::Open, dir.file("lib.so"), ""},
        {dir.file("link.so"), Outcome::Open, dir.file("lib.so"), ""},
        {dir.file("missing.so"), Outcome::Missing, "", "No such file"},
        {dir.file("missing/lib.so"), Outcome::Missing, "", "No such file"},
        {dir.file("fifo.so"), Outcome::Failed, dir.file("fifo.so"), "it is not a regular file"},
        {dir.file("link-to-fifo.so"), Outcome::Failed, dir.file("fifo.so"), "it is not a regular file"},
        {dir.file("folder.so"), Outcome::Failed, dir.file("folder.so"), "it is a folder, not a file"},
        {"/dev/null", Outcome::Failed, "/dev/null", "it is not a regular file"},
    };
    for (const Case& c : cases) {
        const comrt::CheckedFile file(c.path);
        EXPECT_EQ(file.outcome(), c.outcome) << c.path << ": " << file.reason();
        EXPECT_NE(file.reason().find(c.reason), std::string::npos) << c.path << ": " << file.reason();
        if (c.outcome != Outcome::Missing) {
            EXPECT_EQ(file.resolved(), c.resolved) << c.path;
        }
        EXPECT_EQ(file.descriptor() >= 0, c.outcome == Outcome::Open) << c.path;
    }
    const comrt::CheckedFile file(dir.file("link.so"));
    char buf[16] = {};
    EXPECT_EQ(::pread(file.descriptor(), buf, sizeof buf, 0), 8);
    EXPECT_STREQ(buf, "ELF here");
}

// ".." after a link leads out of wherever the link points, as the kernel takes it: the file
// checked and opened is that one, never the one the text seems to name.
TEST(CheckedFile, DotDotIsTakenAfterTheLink)
{
    TempDir dir;
    fs::create_directories(dir.file("real/sub"));
    Write(dir.file("real/lib.so"), "reached through the link");
    Write(dir.file("lib.so"), "what the text seems to name");
    fs::create_symlink(dir.file("real/sub"), dir.file("link"));
    const std::string path = dir.file("link/../lib.so");
    const comrt::CheckedFile file(path);
    ASSERT_EQ(file.outcome(), comrt::CheckedFile::Outcome::Open) << file.reason();
    EXPECT_EQ(file.resolved(), dir.file("real/lib.so"));
    char buf[64] = {};
    ASSERT_GT(::pread(file.descriptor(), buf, sizeof buf - 1, 0), 0);
    EXPECT_STREQ(buf, "reached through the link");

    // And there it is judged: a folder others may write on the real way is refused.
    ::chmod(dir.file("real").c_str(), 0777);
    std::string reason;
    EXPECT_FALSE(comrt::IsSafeToLoad(path, &reason));
    EXPECT_EQ(reason, "folder " + dir.file("real") + " is writable by other users (mode 0777)");
    EXPECT_EQ(comrt::CheckedFile(path).outcome(), comrt::CheckedFile::Outcome::Unsafe);
    ::chmod(dir.file("real").c_str(), 0755);
}

} // namespace
