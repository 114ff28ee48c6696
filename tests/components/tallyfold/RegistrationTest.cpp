#include "RegistrationRecords.h"
#include "TallyfoldFixture.h"
#include "TiffFiles.h"

#include <filesystem>
#include <fstream>

namespace {

const std::string kClass = "{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}";
const std::string kLib = "{94C5833A-F2F7-42C4-8AFD-C7992E61E667}";
const ServerRecords kRecords{kClass,
                             "{2AB58655-AB34-4B4A-AF15-8E336B166A31}",
                             kLib,
                             "CTIFFPageCount Class",
                             "Tallyfold.CTIFFPageCount",
                             "ICTIFFPageCount",
                             "Tallyfold 1.0 Type Library"};

std::string RegisteredPath()
{
    std::string path;
    comrt::ReadClassesRootString("CLSID\\" + kClass + "\\InprocServer32", nullptr, &path);
    return path;
}

TEST(Registration, PathWithASingleQuoteIsStoredUnchanged)
{
    TempStore scratch;
    const std::string folder = scratch.dir() + "/it's 'quoted'";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string copy = folder + "/libtallyfold.so";
    ASSERT_TRUE(std::filesystem::copy_file(std::filesystem::canonical(LibraryPath()), copy));
    RegisteredStore store(copy);
    ASSERT_EQ(store.registration(), S_OK);
    EXPECT_EQ(RegisteredPath(), copy);
    EXPECT_EQ(store.text(), ExpectedStore(kRecords, copy, folder));

    Ref<ICTIFFPageCount> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICTIFFPageCount, counter.outVoid()),
              S_OK);
    ASSERT_TRUE(tifftest::WriteTiff(folder + "/a.tif", {}));
    EXPECT_EQ(CountPages(counter.get(), folder + "/a.tif"), 1);
    counter.reset();
    CoFreeUnusedLibraries();
}

TEST(Registration, ForeignStoreFileIsLeftAloneAndTheFailureReported)
{
    TempStore store;
    {
        std::ofstream out(store.path());
        out << "[not a store]\nkeep me\n";
    }
    comrt::ServerLibrary lib;
    ASSERT_EQ(lib.open(LibraryPath()), S_OK);
    EXPECT_TRUE(FAILED(lib.registerServer()));
    EXPECT_EQ(store.text(), "[not a store]\nkeep me\n");
}

TEST(Registration, BuildTreeStoreServesTheCounterWithoutAnyManualStep)
{
    comrt::SetRegistryStorePath(BinDir() + "/quirewell.reg");
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Tallyfold.CTIFFPageCount", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_CTIFFPageCount);
    EXPECT_EQ(CLSIDFromProgID(u"Tallyfold.CTIFFPageCount.1", &clsid), S_OK);
    Ref<ICTIFFPageCount> counter;
    EXPECT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICTIFFPageCount, counter.outVoid()),
              S_OK);
    comrt::SetRegistryStorePath({});
}

} // namespace

namespace {

TEST(Registration, MovedProgramFolderStillFindsItsLibrary)
{
    // The library is registered in the store beside it; the folder is then moved.
    TempStore scratch;
    const std::string before = scratch.dir() + "/before";
    const std::string after = scratch.dir() + "/after";
    std::filesystem::create_directory(before);
    const std::string copy = before + "/libtallyfold-moved.so";
    ASSERT_TRUE(std::filesystem::copy_file(std::filesystem::canonical(LibraryPath()), copy));
    comrt::SetRegistryStorePath(before + "/quirewell.reg");
    {
        comrt::ServerLibrary lib;
        ASSERT_EQ(lib.open(copy), S_OK) << lib.error();
        ASSERT_EQ(lib.registerServer(), S_OK);
    }
    std::filesystem::rename(before, after);
    comrt::SetRegistryStorePath(after + "/quirewell.reg");
    Ref<ICTIFFPageCount> counter;
    EXPECT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICTIFFPageCount, counter.outVoid()),
              S_OK);
    counter.reset();
    CoFreeUnusedLibraries();
    comrt::SetRegistryStorePath({});
}

TEST(Registration, RegsvrToolRegistersAndRemoves)
{
    TempStore store;
    const std::string tool = BinDir() + "/regsvr";
    const std::string quoted = "'" + LibraryPath() + "' '" + store.path() + "'";
    ASSERT_EQ(std::system((tool + " " + quoted + " >/dev/null").c_str()), 0);
    EXPECT_TRUE(comrt::ClassesRootKeyExists("CLSID\\" + kClass + "\\InprocServer32"));
    EXPECT_TRUE(comrt::ClassesRootKeyExists("TypeLib\\" + kLib));
    ASSERT_EQ(std::system((tool + " -u " + quoted + " >/dev/null").c_str()), 0);
    EXPECT_FALSE(comrt::ClassesRootKeyExists("CLSID\\" + kClass));
    EXPECT_FALSE(comrt::ClassesRootKeyExists("TypeLib\\" + kLib));
    EXPECT_NE(std::system((tool + " '" + store.dir() + "/none.so' '" + store.path() +
                           "' 2>/dev/null").c_str()),
              0);
    EXPECT_NE(std::system((tool + " 2>/dev/null").c_str()), 0);
}

} // namespace
