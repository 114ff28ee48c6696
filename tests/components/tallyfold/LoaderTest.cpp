// Where the runtime takes component libraries from: a copied program folder uses its own
// libraries and never the ones it was copied from, a library others could have changed is
// refused, and every failure says what failed and how to repair it; regsvr likewise.
#include "ComInternal.h"
#include "ComRegistry.h"
#include "ScratchFolder.h"
#include "TallyfoldFixture.h"
#include "TiffFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A scratch folder; the store goes back to the default with it.
class Folder : public ScratchFolder {
public:
    ~Folder() { comrt::SetRegistryStorePath({}); }
};

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Copies the built library into `folder` and registers it into the store there, as the build
// registers the program folder's libraries.
void InstallInto(const std::string& folder)
{
    fs::create_directories(folder);
    fs::copy_file(fs::canonical(LibraryPath()), folder + "/libtallyfold.so");
    comrt::SetRegistryStorePath(folder + "/quirewell.reg");
    comrt::ServerLibrary lib;
    ASSERT_EQ(lib.open(folder + "/libtallyfold.so"), S_OK) << lib.error();
    ASSERT_EQ(lib.registerServer(), S_OK);
}

HRESULT Create(Ref<ICTIFFPageCount>& counter)
{
    return CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                            IID_ICTIFFPageCount, counter.outVoid());
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(Loader, ACopiedProgramFolderNeverLoadsFromWhereItWasCopied)
{
    Folder root;
    const std::string built = root / "build/bin";
    const std::string copy = root / "copy/bin";
    InstallInto(built);
    std::string recorded;
    ASSERT_TRUE(comrt::ReadClassesRootString(
        "CLSID\\{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}\\InprocServer32", nullptr, &recorded));
    EXPECT_EQ(recorded, "libtallyfold.so") << "recorded relative to the store";

    // The folder is copied, the build's folder deleted and recreated by someone else with a
    // library of the same name.
    fs::create_directories(root / "copy");
    fs::copy(built, copy, fs::copy_options::recursive);
    fs::remove_all(root / "build");
    fs::create_directories(built);
    fs::copy_file(FOREIGN_LIBRARY, built + "/libtallyfold.so");
    const std::string marker = root / "marker";
    ::setenv("QW_MARKER_FILE", marker.c_str(), 1);

    comrt::SetRegistryStorePath(copy + "/quirewell.reg");
    ASSERT_TRUE(tifftest::WriteTiff(root / "three.tif", {3}));
    Ref<ICTIFFPageCount> counter;
    ASSERT_EQ(Create(counter), S_OK) << comrt::LastActivationError();
    EXPECT_EQ(CountPages(counter.get(), root / "three.tif"), 3);
    EXPECT_EQ(comrt::LastActivationError(), "");
    EXPECT_FALSE(fs::exists(marker)) << "the foreign library was loaded";
    ::unsetenv("QW_MARKER_FILE");
}

TEST(Loader, ALibraryOthersCanReplaceIsRefusedWithItsPath)
{
    Folder root;
    // The store stays private; the library it names lies in a folder of its own.
    const std::string folder = root / "shared";
    fs::create_directories(folder);
    fs::create_directories(root / "program");
    fs::copy_file(fs::canonical(LibraryPath()), folder + "/libtallyfold.so");
    comrt::SetRegistryStorePath(root / "program/quirewell.reg");
    {
        comrt::ServerLibrary lib;
        ASSERT_EQ(lib.open(folder + "/libtallyfold.so"), S_OK) << lib.error();
        ASSERT_EQ(lib.registerServer(), S_OK);
    }
    ::chmod(folder.c_str(), 0777);
    Ref<ICTIFFPageCount> counter;
    EXPECT_EQ(Create(counter), CO_E_DLLNOTFOUND);
    const std::string error = comrt::LastActivationError();
    EXPECT_TRUE(Contains(error, "refusing to load " + folder + "/libtallyfold.so")) << error;
    EXPECT_TRUE(Contains(error, "folder " + folder + " is writable by other users")) << error;

    ::chmod(folder.c_str(), 0755);
    ::chmod((folder + "/libtallyfold.so").c_str(), 0666);
    EXPECT_EQ(Create(counter), CO_E_DLLNOTFOUND);
    EXPECT_TRUE(Contains(comrt::LastActivationError(), folder + "/libtallyfold.so is writable"))
        << comrt::LastActivationError();
}

// A store with the one class record that names `library` as its server.
void WriteStoreNaming(const std::string& store, const std::string& library)
{
    std::ofstream(store, std::ios::binary)
        << "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID\\{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}\\"
           "InprocServer32]\n@=\"" << library << "\"\n";
}

// Another user's link in a shared folder such as /tmp, followed by "..", leads into that user's
// own folder: the library there must not be loaded, whether the store names it from the root or
// relative to itself.
TEST(Loader, ALinkOfAnotherUserFollowedByDotDotIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user (run as root to try the attack)";
    Folder root;
    const uid_t other = 65534; // nobody
    const gid_t otherGroup = 65534;
    const std::string shared = root / "tmp";
    const std::string attacker = root / "attacker";
    fs::create_directories(attacker + "/sub");
    fs::create_directories(shared);
    fs::create_directories(root / "program");
    ::chmod(shared.c_str(), 01777);
    fs::copy_file(FOREIGN_LIBRARY, attacker + "/evil.so");
    for (const std::string& p : {attacker, attacker + "/sub", attacker + "/evil.so"})
        ASSERT_EQ(::chown(p.c_str(), other, otherGroup), 0) << p;
    fs::create_symlink(attacker + "/sub", shared + "/link");
    ASSERT_EQ(::lchown((shared + "/link").c_str(), other, otherGroup), 0);
    const std::string marker = root / "marker";
    ::setenv("QW_MARKER_FILE", marker.c_str(), 1);

    const std::string store = root / "program/quirewell.reg";
    comrt::SetRegistryStorePath(store);
    for (const std::string& named : {shared + "/link/../evil.so", std::string("../tmp/link/../evil.so")}) {
        WriteStoreNaming(store, named);
        Ref<ICTIFFPageCount> counter;
        EXPECT_EQ(Create(counter), CO_E_DLLNOTFOUND) << named;
        const std::string error = comrt::LastActivationError();
        EXPECT_TRUE(Contains(error, "refusing to load ")) << named << ": " << error;
        EXPECT_TRUE(Contains(error, "folder " + attacker + " is owned by another user"))
            << named << ": " << error;
        EXPECT_FALSE(fs::exists(marker)) << named << ": the other user's library was loaded";
    }
    ::unsetenv("QW_MARKER_FILE");
}

// The file swapped for another between the check and the load: what runs is what was checked.
struct Swap {
    std::string replacement;
    std::string swapped; // the path the replacement was put at
};

void SwapBeforeLoad(const std::string& resolved, void* context)
{
    auto* swap = static_cast<Swap*>(context);
    if (!swap->swapped.empty())
        return;
    fs::copy_file(swap->replacement, resolved + ".new");
    fs::rename(resolved + ".new", resolved);
    swap->swapped = resolved;
}

TEST(Loader, TheFileCheckedIsTheFileLoaded)
{
    Folder root;
    const std::string folder = root / "program";
    InstallInto(folder);
    const std::string marker = root / "marker";
    ::setenv("QW_MARKER_FILE", marker.c_str(), 1);
    Swap swap{FOREIGN_LIBRARY, {}};
    comrt::internal::SetBeforeLoadHook(&SwapBeforeLoad, &swap);
    ASSERT_TRUE(tifftest::WriteTiff(root / "three.tif", {3}));
    Ref<ICTIFFPageCount> counter;
    const HRESULT hr = Create(counter);
    comrt::internal::SetBeforeLoadHook(nullptr, nullptr);
    ::unsetenv("QW_MARKER_FILE");

    ASSERT_EQ(swap.swapped, fs::canonical(folder + "/libtallyfold.so").string())
        << "the hook ran between check and load";
    EXPECT_EQ(ReadText(swap.swapped), ReadText(FOREIGN_LIBRARY)) << "the file was swapped";
    EXPECT_FALSE(fs::exists(marker)) << "the library put in its place was loaded";
    ASSERT_EQ(hr, S_OK) << comrt::LastActivationError();
    EXPECT_EQ(CountPages(counter.get(), root / "three.tif"), 3);
    counter.reset();
    CoFreeUnusedLibraries();
}

TEST(Loader, EveryActivationFailureNamesWhatFailedAndTheRepair)
{
    Folder root;
    const std::string store = root / "quirewell.reg";
    struct Case {
        const char* what;
        HRESULT status;
        std::vector<std::string> says;
    };
    const auto check = [&](const Case& c) {
        Ref<ICTIFFPageCount> counter;
        EXPECT_EQ(Create(counter), c.status) << c.what;
        const std::string error = comrt::LastActivationError();
        for (const std::string& part : c.says)
            EXPECT_TRUE(Contains(error, part)) << c.what << ": " << error;
    };
    comrt::SetRegistryStorePath(store);
    check({"no store", REGDB_E_CLASSNOTREG, {store + " is missing", "; repair: regsvr "}});

    std::ofstream(store) << "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID]\n";
    check({"not registered", REGDB_E_CLASSNOTREG,
           {"class {636CD4EF-6AFB-4707-98D0-8D2A26FA2241} is not registered in " + store,
            "; repair: "}});

    std::ofstream(store) << "PK\x03\x04 not a store\n";
    check({"damaged", REGDB_E_CLASSNOTREG, {store + " is damaged", "; repair: "}});

    // Registered, but the library is gone.
    fs::remove(store);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT,
                             "CLSID\\{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}\\InprocServer32", 0,
                             nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char gone[] = "libgone.so";
    ASSERT_EQ(RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(gone), sizeof gone),
              ERROR_SUCCESS);
    RegCloseKey(key);
    check({"library gone", CO_E_DLLNOTFOUND,
           {"cannot load " + (root / "libgone.so") + ": ", "No such file",
            "; repair: regsvr " + (root / "libgone.so") + " " + store}});

    RegisteredStore good;
    check({"working", S_OK, {}});
    EXPECT_EQ(comrt::LastActivationError(), "");
}

// ---- regsvr ----

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun Regsvr(const std::string& args, const std::string& scratch)
{
    const std::string command = "'" + BinDir() + "/regsvr' " + args + " >'" + scratch + "' 2>&1";
    const int rc = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    run.out = ReadText(scratch);
    return run;
}

TEST(Regsvr, ExitsNonZeroWithThePathAndTheReasonInWords)
{
    Folder root;
    const std::string lib = "'" + LibraryPath() + "'";
    const std::string out = root / "out.txt";
    const std::string store = root / "quirewell.reg";
    const std::string quoted = "'" + store + "'";

    ToolRun run = Regsvr(lib + " " + quoted, out);
    EXPECT_EQ(run.status, 0) << run.out;
    run = Regsvr("-u " + lib + " " + quoted, out);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_FALSE(Contains(ReadText(store), "636CD4EF"));

    run = Regsvr("-u " + lib + " " + quoted, out);
    EXPECT_EQ(run.status, 1) << "nothing was removed";
    EXPECT_TRUE(Contains(run.out, "nothing to remove")) << run.out;
    EXPECT_TRUE(Contains(run.out, store)) << run.out;

    const std::string garbage = "\x89PNG not a store\n";
    std::ofstream(store) << garbage;
    for (const char* mode : {"", "-u "}) {
        run = Regsvr(mode + lib + " " + quoted, out);
        EXPECT_EQ(run.status, 1) << mode;
        EXPECT_TRUE(Contains(run.out, store + " is damaged")) << mode << run.out;
        EXPECT_EQ(ReadText(store), garbage) << "a foreign file is left alone";
    }

    fs::remove(store);
    fs::create_directory(store);
    for (const char* mode : {"", "-u "}) {
        run = Regsvr(mode + lib + " " + quoted, out);
        EXPECT_EQ(run.status, 1) << mode;
        EXPECT_TRUE(Contains(run.out, store)) << mode << run.out;
        EXPECT_TRUE(Contains(run.out, "folder")) << mode << run.out;
    }

    run = Regsvr("'" + out + "' " + "'" + (root / "other.reg") + "'", out + ".2");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(ReadText(out + ".2"), "cannot load " + out)) << ReadText(out + ".2");
    EXPECT_FALSE(Contains(run.out, "0x")) << "reasons are words, not bare codes";
}

TEST(Regsvr, HelpAndVersionAnswerOnStandardOutputWithStatusZero)
{
    Folder root;
    const std::string out = root / "out.txt";
    for (const char* asked : {"--help", "-h"}) {
        const ToolRun run = Regsvr(asked, out);
        EXPECT_EQ(run.status, 0) << asked;
        EXPECT_TRUE(Contains(run.out, "usage: regsvr")) << asked << run.out;
    }
    for (const char* asked : {"--version", "-V"}) {
        const ToolRun run = Regsvr(asked, out);
        EXPECT_EQ(run.status, 0) << asked;
        EXPECT_TRUE(Contains(run.out, "regsvr (Quirewell) ")) << asked << run.out;
    }
    // Wrong arguments still are: status 2.
    EXPECT_EQ(Regsvr("--helpme", out).status, 2);
    EXPECT_EQ(Regsvr("", out).status, 2);
}

TEST(Regsvr, ReadOnlyFolderIsAFailure)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    Folder root;
    const std::string folder = root / "ro";
    fs::create_directory(folder);
    const std::string store = folder + "/quirewell.reg";
    const std::string lib = "'" + LibraryPath() + "'";
    ASSERT_EQ(Regsvr(lib + " '" + store + "'", root / "out").status, 0);
    ::chmod(folder.c_str(), 0555);
    const ToolRun run = Regsvr("-u " + lib + " '" + store + "'", root / "out");
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.out, store)) << run.out;
    EXPECT_TRUE(Contains(ReadText(store), "636CD4EF")) << "nothing was removed";
}

// A FIFO (or device) where a library or the store should be gives the usual clear failure at
// once: a test that hangs here is the fault.
TEST(Loader, AFifoWhereALibraryShouldBeFailsAtOnce)
{
    Folder root;
    const std::string fifo = root / "libtallyfold.so";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string store = root / "quirewell.reg";
    comrt::SetRegistryStorePath(store);
    WriteStoreNaming(store, "libtallyfold.so");
    Ref<ICTIFFPageCount> counter;
    EXPECT_EQ(Create(counter), CO_E_DLLNOTFOUND);
    EXPECT_TRUE(Contains(comrt::LastActivationError(),
                         "cannot load " + fifo + ": it is not a regular file"))
        << comrt::LastActivationError();
}

TEST(Regsvr, AFifoOrDeviceWhereAFileShouldBeFailsAtOnce)
{
    Folder root;
    const std::string fifo = root / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string lib = "'" + LibraryPath() + "'";
    const std::string store = root / "quirewell.reg";
    struct Case {
        std::string args;
        std::string says;
    } cases[] = {
        {"'" + fifo + "' '" + store + "'", "cannot load " + fifo + ": it is not a regular file"},
        {"/dev/zero '" + store + "'", "cannot load /dev/zero: it is not a regular file"},
        {lib + " '" + fifo + "'", fifo + ": it is not a regular file"},
        {"-u " + lib + " '" + fifo + "'", fifo + ": "},
    };
    for (const Case& c : cases) {
        const ToolRun run = Regsvr(c.args, root / "out");
        EXPECT_EQ(run.status, 1) << c.args << ": " << run.out;
        EXPECT_TRUE(Contains(run.out, c.says)) << c.args << ": " << run.out;
    }
    EXPECT_FALSE(fs::exists(store));
}

// regsvr is all or nothing: whatever fails, the store keeps every byte it had, whether the
// library cannot be described (its folder name is not UTF-8) or the store is a planted link.
TEST(Regsvr, AFailureLeavesTheStoreByteForByte)
{
    Folder root;
    const std::string store = root / "quirewell.reg";
    const std::string good = root / "libtallyfold.so";
    fs::copy_file(fs::canonical(LibraryPath()), good);
    ASSERT_EQ(Regsvr("'" + good + "' '" + store + "'", root / "out").status, 0);
    {
        std::ofstream out(store, std::ios::app | std::ios::binary);
        out << "\n; kept as written\n";
    }
    const std::string before = ReadText(store);

    const std::string odd = root / "odd\xff\xfe";
    fs::create_directory(odd);
    fs::copy_file(fs::canonical(LibraryPath()), odd + "/libtallyfold.so");
    for (const char* mode : {"", "-u "}) {
        const ToolRun run = Regsvr(mode + ("'" + odd + "/libtallyfold.so' '" + store + "'"), root / "out");
        EXPECT_EQ(run.status, 1) << mode << run.out;
        EXPECT_TRUE(Contains(run.out, "type library")) << mode << run.out;
        EXPECT_EQ(ReadText(store), before) << mode;
    }

    const std::string link = root / "link.reg";
    fs::create_symlink(store, link);
    for (const char* mode : {"", "-u "}) {
        const ToolRun run = Regsvr(mode + ("'" + good + "' '" + link + "'"), root / "out");
        EXPECT_EQ(run.status, 1) << mode << run.out;
        EXPECT_TRUE(Contains(run.out, "cannot write " + link + ": it is a symbolic link"))
            << mode << run.out;
        EXPECT_EQ(ReadText(store), before) << mode;
        EXPECT_TRUE(fs::is_symlink(link));
    }
}

} // namespace
