#include "TallyfoldFixture.h"
#include "TiffFiles.h"

#include <dlfcn.h>
#include <filesystem>

namespace {

TEST(ServerUnload, UnusedLibraryIsUnloadedAndALiveOneIsNot)
{
    // A private copy, so nothing else in this process holds it.
    TempStore scratch;
    const std::string copy = scratch.dir() + "/libtallyfold-copy.so";
    ASSERT_TRUE(std::filesystem::copy_file(std::filesystem::canonical(LibraryPath()), copy));
    RegisteredStore store(copy);
    ASSERT_EQ(store.registration(), S_OK);
    auto loaded = [&] {
        void* h = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (h)
            ::dlclose(h);
        return h != nullptr;
    };
    ASSERT_FALSE(loaded());

    Ref<ICTIFFPageCount> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICTIFFPageCount, counter.outVoid()),
              S_OK);
    CoFreeUnusedLibraries();
    ASSERT_TRUE(loaded()) << "an instance is alive";
    const std::string path = store.dir() + "/live.tif";
    ASSERT_TRUE(tifftest::WriteTiff(path, {}));
    EXPECT_EQ(CountPages(counter.get(), path), 1);

    counter.reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(loaded());
    ASSERT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICTIFFPageCount, counter.outVoid()),
              S_OK)
        << "loads again on demand";
    EXPECT_EQ(CountPages(counter.get(), path), 1);
    counter.reset();
    CoFreeUnusedLibraries();
}

} // namespace
