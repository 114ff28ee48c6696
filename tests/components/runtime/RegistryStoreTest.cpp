#include "ComRegistry.h"
#include "ComInternal.h"
#include "TempStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

LONG SetString(const char* path, const char* name, const std::string& value)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                             nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return rc;
}

std::string GetString(const char* path, const char* name)
{
    std::string out;
    return comrt::ReadClassesRootString(path, name, &out) ? out : "<missing>";
}

TEST(RegistryStore, DefaultsToTheProgramFolder)
{
    comrt::SetRegistryStorePath({});
    EXPECT_EQ(comrt::RegistryStorePath(), comrt::ExecutableFolder() + "/quirewell.reg");
    EXPECT_TRUE(std::filesystem::is_directory(comrt::ExecutableFolder()));
}

TEST(RegistryStore, ValuesSurviveTheTextFormExactly)
{
    TempStore store;
    const std::string tricky = "C:\\path with \"quotes\" and 'apostrophes'\nsecond line ]=@";
    ASSERT_EQ(SetString("Foo\\Bar", nullptr, tricky), ERROR_SUCCESS);
    ASSERT_EQ(SetString("Foo\\Bar", "Named \"value\"", "x"), ERROR_SUCCESS);
    ASSERT_EQ(SetString("Foo\\Bar", "", "default again"), ERROR_SUCCESS);
    EXPECT_EQ(GetString("Foo\\Bar", nullptr), "default again") << "\"\" names the default value";
    ASSERT_EQ(SetString("Foo\\Bar", nullptr, tricky), ERROR_SUCCESS);
    // Every read goes back to the file, so this is a full write/parse round trip.
    EXPECT_EQ(GetString("Foo\\Bar", nullptr), tricky);
    EXPECT_EQ(GetString("foo\\BAR", "named \"VALUE\""), "x") << "names are case-insensitive";
    EXPECT_EQ(store.text().rfind("REGEDIT4\n", 0), 0u);
    EXPECT_NE(store.text().find("[HKEY_CLASSES_ROOT\\Foo\\Bar]"), std::string::npos);
}

TEST(RegistryStore, QuerySizesFollowWindows)
{
    TempStore store;
    ASSERT_EQ(SetString("K", "v", "12345"), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueEx(key, "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6u);
    char small[3] = {'#', '#', '#'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueEx(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    char buf[16];
    size = sizeof buf;
    EXPECT_EQ(RegQueryValueEx(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "12345");
    EXPECT_EQ(RegQueryValueEx(key, "absent", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "a closed handle is refused";
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
}

TEST(RegistryStore, DeleteTreeTakesDescendantsOnly)
{
    TempStore store;
    for (const char* k : {"A\\B", "A\\B\\C\\D", "A\\B.1", "A\\BB", "A\\B x"})
        ASSERT_EQ(SetString(k, nullptr, k), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "A\\B"), ERROR_ACCESS_DENIED)
        << "a key with subkeys needs RegDeleteTree";
    ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "a\\b"), ERROR_SUCCESS);
    EXPECT_FALSE(comrt::ClassesRootKeyExists("A\\B"));
    EXPECT_FALSE(comrt::ClassesRootKeyExists("A\\B\\C"));
    EXPECT_FALSE(comrt::ClassesRootKeyExists("A\\B\\C\\D"));
    for (const char* k : {"A", "A\\B.1", "A\\BB", "A\\B x"})
        EXPECT_TRUE(comrt::ClassesRootKeyExists(k)) << k;
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "A\\B"), ERROR_FILE_NOT_FOUND);

    HKEY a = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &a), ERROR_SUCCESS);
    std::vector<std::string> names;
    char name[64];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        if (RegEnumKeyEx(a, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name);
    }
    EXPECT_EQ(names.size(), 3u);
    ASSERT_EQ(RegDeleteTree(a, nullptr), ERROR_SUCCESS) << "null subkey empties the key itself";
    EXPECT_TRUE(comrt::ClassesRootKeyExists("A"));
    EXPECT_FALSE(comrt::ClassesRootKeyExists("A\\BB"));
    RegCloseKey(a);
}

TEST(RegistryStore, WritesReplaceTheFileAtomically)
{
    TempStore store;
    ASSERT_EQ(SetString("K", nullptr, "first"), ERROR_SUCCESS);
    // A reader that opened the old store keeps reading a complete old store: the new one is
    // written beside it and renamed over it, never rewritten in place.
    const int fd = ::open(store.path().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const std::string before = store.text();
    ASSERT_EQ(SetString("K", nullptr, "second, and a much longer value than before"),
              ERROR_SUCCESS);
    std::string old(before.size() + 64, '\0');
    const ssize_t n = ::pread(fd, old.data(), old.size(), 0);
    ::close(fd);
    ASSERT_GE(n, 0);
    old.resize(static_cast<size_t>(n));
    EXPECT_EQ(old, before);
    EXPECT_EQ(GetString("K", nullptr), "second, and a much longer value than before");
    for (const auto& entry : std::filesystem::directory_iterator(store.dir()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
            << "left behind: " << entry.path();
}

TEST(RegistryStore, UnwritableLocationFailsAndChangesNothing)
{
    TempStore store;
    comrt::SetRegistryStorePath(store.dir() + "/no such folder/quirewell.reg");
    EXPECT_EQ(SetString("K", nullptr, "x"), ERROR_CANTWRITE);
    EXPECT_FALSE(comrt::ClassesRootKeyExists("K"));
}

TEST(RegistryStore, ForeignFileIsNeitherReadNorOverwritten)
{
    TempStore store;
    {
        std::ofstream out(store.path(), std::ios::binary);
        out << "this is somebody's notes, not a store\n";
    }
    const std::string before = store.text();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(SetString("K", nullptr, "x"), ERROR_BADDB);
    EXPECT_EQ(store.text(), before);
}

TEST(RegistryStore, BatchWritesOnceAndKeepsWhatWasDoneBeforeAFailure)
{
    TempStore store;
    ASSERT_EQ(SetString("Before", nullptr, "1"), ERROR_SUCCESS);
    const std::string before = store.text();
    {
        comrt::RegistryBatch batch;
        ASSERT_EQ(SetString("A", nullptr, "a"), ERROR_SUCCESS);
        EXPECT_EQ(GetString("A", nullptr), "a") << "the batch sees its own changes";
        EXPECT_EQ(store.text(), before) << "nothing written yet";
        HKEY bad = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(RegSetValueEx(bad, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
                  ERROR_INVALID_HANDLE);
        ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Before"), ERROR_SUCCESS);
    }
    EXPECT_EQ(GetString("A", nullptr), "a");
    EXPECT_FALSE(comrt::ClassesRootKeyExists("Before"));
}

TEST(RegistryStore, ConcurrentWritersLoseNothing)
{
    TempStore store;
    constexpr int kEach = 40;
    // Another process and a second thread write at the same time as this thread.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failures = 0;
        for (int i = 0; i < kEach; ++i)
            failures += SetString(("P\\" + std::to_string(i)).c_str(), nullptr, "p") != ERROR_SUCCESS;
        ::_exit(failures == 0 ? 0 : 1);
    }
    std::thread other([] {
        for (int i = 0; i < kEach; ++i)
            SetString(("T\\" + std::to_string(i)).c_str(), nullptr, "t");
    });
    for (int i = 0; i < kEach; ++i)
        SetString(("M\\" + std::to_string(i)).c_str(), nullptr, "m");
    other.join();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const char* prefix : {"P\\", "T\\", "M\\"})
        for (int i = 0; i < kEach; ++i)
            EXPECT_TRUE(comrt::ClassesRootKeyExists(prefix + std::to_string(i))) << prefix << i;
}

} // namespace

namespace {

void WriteStore(const TempStore& store, const std::string& text)
{
    std::ofstream out(store.path(), std::ios::binary);
    out << text;
}

} // namespace

TEST(RegistryStore, RewritingKeepsWhatItDoesNotUnderstandByteForByte)
{
    TempStore store;
    const std::string original =
        "REGEDIT4\r\n"
        "; written by hand\r\n"
        "\r\n"
        "[HKEY_CLASSES_ROOT\\A]\r\n"
        "@=\"a\"\r\n"
        "\"Count\"=dword:00000010\r\n"
        "\"Blob\"=hex:01,02,03,\\\r\n"
        "  04,05\r\n"
        "; about B\r\n"
        "\r\n"
        "[HKEY_CLASSES_ROOT\\B]\r\n"
        "\"Name\"=\"b\"\r\n"
        "this line means nothing\r\n"
        "\r\n"
        "[-HKEY_CLASSES_ROOT\\Gone]\r\n"
        "\r\n"
        "[SOMEWHERE\\Else]\r\n"
        "\"x\"=\"y\"\r\n";
    WriteStore(store, original);

    // A change to one value touches only that value's line.
    ASSERT_EQ(SetString("B", "Name", "changed"), ERROR_SUCCESS);
    std::string expected = original;
    expected.replace(expected.find("\"Name\"=\"b\"\r\n"), 12, "\"Name\"=\"changed\"\r\n");
    EXPECT_EQ(store.text(), expected);
    EXPECT_EQ(GetString("A", nullptr), "a");

    // A new key lands in order; removing it again gives the file back as it was.
    ASSERT_EQ(SetString("AB", nullptr, "new"), ERROR_SUCCESS);
    EXPECT_NE(store.text().find("\"Blob\"=hex:01,02,03,\\\r\n  04,05\r\n"), std::string::npos);
    ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "AB"), ERROR_SUCCESS);
    EXPECT_EQ(store.text(), expected);

    // Values of other types are the key's own: a string of the same name replaces them, and
    // deleting the key takes them along, but nothing else.
    ASSERT_EQ(SetString("A", "Count", "17"), ERROR_SUCCESS);
    EXPECT_EQ(store.text().find("dword"), std::string::npos);
    EXPECT_EQ(GetString("A", "Count"), "17");
    ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "A"), ERROR_SUCCESS);
    const std::string text = store.text();
    EXPECT_EQ(text.find("hex:"), std::string::npos);
    for (const char* kept : {"; written by hand\r\n", "this line means nothing\r\n",
                             "[-HKEY_CLASSES_ROOT\\Gone]\r\n", "[SOMEWHERE\\Else]\r\n\"x\"=\"y\"\r\n"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept;
}

TEST(RegistryStore, ReadsTheFileOncePerChange)
{
    TempStore store;
    ASSERT_EQ(SetString("K", nullptr, "one"), ERROR_SUCCESS);
    EXPECT_EQ(GetString("K", nullptr), "one");
    const unsigned loads = comrt::internal::StoreLoadCount();
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(GetString("K", nullptr), "one");
    EXPECT_EQ(comrt::internal::StoreLoadCount(), loads) << "an unchanged store is not parsed again";

    // Changed behind the runtime's back, even to the same size: read again.
    WriteStore(store, "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\K]\n@=\"two\"\n");
    EXPECT_EQ(GetString("K", nullptr), "two");
    ASSERT_EQ(::truncate(store.path().c_str(), 0), 0);
    WriteStore(store, "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\K]\n@=\"6wo\"\n");
    EXPECT_EQ(GetString("K", nullptr), "6wo");
    std::filesystem::remove(store.path());
    EXPECT_EQ(GetString("K", nullptr), "<missing>");
}

TEST(RegistryStore, FailuresSayWhichStoreAndWhy)
{
    TempStore store;
    struct Case {
        const char* what;
        void (*make)(const TempStore&);
        LONG rc;
        const char* reason;
    } cases[] = {
        {"garbage", [](const TempStore& s) { WriteStore(s, "\x7f" "ELF garbage\n"); }, ERROR_BADDB,
         "is damaged"},
        {"folder", [](const TempStore& s) { std::filesystem::create_directory(s.path()); },
         ERROR_CANTREAD, "folder"},
        {"fifo", [](const TempStore& s) { ::mkfifo(s.path().c_str(), 0600); }, ERROR_CANTREAD,
         "not a regular file"},
    };
    for (const Case& c : cases) {
        std::error_code ec;
        std::filesystem::remove_all(store.path(), ec);
        c.make(store);
        comrt::ClearLastRegistryError();
        EXPECT_EQ(SetString("K", nullptr, "x"), c.rc) << c.what;
        const std::string error = comrt::LastRegistryError();
        EXPECT_NE(error.find(store.path()), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
        // Reading hears the same.
        comrt::ClearLastRegistryError();
        EXPECT_EQ(GetString("K", nullptr), "<missing>") << c.what;
        EXPECT_NE(comrt::LastRegistryError().find(c.reason), std::string::npos) << c.what;
    }
}

TEST(RegistryStore, TemporariesOfKilledWritersGoAtTheNextWrite)
{
    TempStore store;
    ASSERT_EQ(SetString("K", nullptr, "x"), ERROR_SUCCESS);
    // Writers killed half-way through a write leave their temporary file behind.
    for (int i = 0; i < 5; ++i) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::ofstream(store.path() + ".tmp." + std::to_string(::getpid()) + ".0") << "REGEDIT4\n[half";
            ::raise(SIGKILL);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
    }
    ASSERT_EQ(SetString("K", nullptr, "y"), ERROR_SUCCESS);
    for (const auto& entry : std::filesystem::directory_iterator(store.dir()))
        EXPECT_EQ(entry.path().filename().string().find("quirewell.reg.tmp."), std::string::npos)
            << entry.path();
    EXPECT_EQ(GetString("K", nullptr), "y");
}

// The store decides which libraries run: one that another user could rewrite is not used, and
// the refusal names the store and what is exposed.
TEST(RegistryStore, AStoreOthersCouldRewriteIsRefusedWithItsPath)
{
    TempStore store;
    const std::string shared = store.dir() + "/shared";
    std::filesystem::create_directory(shared);
    const std::string inShared = shared + "/quirewell.reg";
    WriteStore(store, "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\K]\n@=\"planted\"\n");
    std::filesystem::copy_file(store.path(), inShared);
    ::chmod(shared.c_str(), 0777);
    const std::string link = store.dir() + "/link.reg";
    std::filesystem::create_symlink(inShared, link);
    const std::string before = store.text();

    struct Case {
        const char* what;
        std::string path;
        unsigned mode;
        std::string blamed;
    } cases[] = {
        {"store anyone may write", store.path(), 0666, store.path() + " is writable"},
        {"store in a folder anyone may write", inShared, 0644, "folder " + shared + " is writable"},
        {"link to such a store", link, 0644, "folder " + shared + " is writable"},
    };
    for (const Case& c : cases) {
        ::chmod(store.path().c_str(), c.mode);
        comrt::SetRegistryStorePath(c.path);
        comrt::ClearLastRegistryError();
        EXPECT_EQ(GetString("K", nullptr), "<missing>") << c.what;
        const std::string error = comrt::LastRegistryError();
        EXPECT_EQ(error.rfind("refusing to use the registration store " + c.path + ": ", 0), 0u)
            << c.what << ": " << error;
        EXPECT_NE(error.find(c.blamed), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(SetString("K", nullptr, "x"), ERROR_CANTREAD) << c.what;
    }
    ::chmod(store.path().c_str(), 0644);
    EXPECT_EQ(store.text(), before);
    comrt::SetRegistryStorePath(store.path());
    EXPECT_EQ(GetString("K", nullptr), "planted") << "the same store in a private place is used";
    ::chmod(shared.c_str(), 0755);
}

// A comment belongs to the key below it: removing the key above keeps it, removing its own key
// takes it along; either way the rest of the file stays as written.
TEST(RegistryStore, CommentsStayWithTheKeyTheyPrecede)
{
    const std::string a = "\n[HKEY_CLASSES_ROOT\\A]\n@=\"a\"\n";
    const std::string b = "\n; about B\n[HKEY_CLASSES_ROOT\\B]\n@=\"b\"\n";
    const std::string c = "\n; about C\n\n; more about C\n\n[HKEY_CLASSES_ROOT\\C]\n@=\"c\"\n";
    struct Case {
        const char* removed;
        std::string left;
    } cases[] = {
        {"A", "REGEDIT4\n" + b + c},
        {"B", "REGEDIT4\n" + a + c},
        {"C", "REGEDIT4\n" + a + b},
    };
    for (const Case& k : cases) {
        TempStore store;
        WriteStore(store, "REGEDIT4\n" + a + b + c);
        ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, k.removed), ERROR_SUCCESS) << k.removed;
        EXPECT_EQ(store.text(), k.left) << "removed " << k.removed;
    }
}

TEST(RegistryStore, ADiscardedBatchLeavesTheStoreByteForByte)
{
    TempStore store;
    const std::string original = "REGEDIT4\r\n; mine\r\n\r\n[HKEY_CLASSES_ROOT\\Keep]\r\n@=\"k\"\r\n";
    WriteStore(store, original);
    {
        comrt::RegistryBatch batch;
        ASSERT_EQ(SetString("New\\Key", nullptr, "n"), ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Keep"), ERROR_SUCCESS);
        batch.discard();
        EXPECT_EQ(GetString("Keep", nullptr), "k") << "the batch reads the store as it is";
        EXPECT_EQ(SetString("Later", nullptr, "l"), ERROR_SUCCESS);
        EXPECT_EQ(batch.commit(), ERROR_SUCCESS);
    }
    EXPECT_EQ(store.text(), original);
}

TEST(RegistryStore, AStoreNamedByALinkIsNeverWrittenThrough)
{
    TempStore store;
    const std::string target = store.dir() + "/elsewhere.reg";
    const std::string original = "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\K]\n@=\"old\"\n";
    std::ofstream(target, std::ios::binary) << original;
    std::filesystem::create_symlink(target, store.path());
    comrt::ClearLastRegistryError();
    EXPECT_EQ(SetString("K", nullptr, "new"), ERROR_CANTWRITE);
    EXPECT_NE(comrt::LastRegistryError().find("symbolic link"), std::string::npos)
        << comrt::LastRegistryError();
    EXPECT_TRUE(std::filesystem::is_symlink(store.path()));
    std::ifstream in(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), original);
}
