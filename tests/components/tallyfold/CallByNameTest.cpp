#include "ComTypeLib.h"
#include "TallyfoldFixture.h"
#include "TiffFiles.h"

#include <filesystem>

namespace {

TEST(CallByNameUnregistered, NamesFailWithTheLoadStatusButTheVtableWorks)
{
    // A private copy of the library, so no earlier call by name has filled its cache.
    TempStore scratch;
    const std::string copy = scratch.dir() + "/libtallyfold-nolib.so";
    ASSERT_TRUE(std::filesystem::copy_file(std::filesystem::canonical(LibraryPath()), copy));
    RegisteredStore store(copy);
    ASSERT_EQ(store.registration(), S_OK);
    ASSERT_EQ(UnRegisterTypeLib(LIBID_TALLYFOLDLib, 1, 0, 0, SYS_LINUX64), S_OK);

    Ref<ICTIFFPageCount> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICTIFFPageCount, counter.outVoid()),
              S_OK);
    OLECHAR name[] = u"GetPages";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    EXPECT_EQ(counter->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(counter->Invoke(1, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                              nullptr),
              TYPE_E_LIBNOTREGISTERED);
    Ref<ITypeInfo> info;
    EXPECT_EQ(counter->GetTypeInfo(0, 0, info.out()), TYPE_E_LIBNOTREGISTERED);

    const std::string tiff = store.dir() + "/two.tif";
    tifftest::Layout layout;
    layout.pages = 2;
    ASSERT_TRUE(tifftest::WriteTiff(tiff, layout));
    EXPECT_EQ(CountPages(counter.get(), tiff), 2);

    // A failed load is not cached: once the type library is registered, names resolve.
    comrt::ServerLibrary lib;
    ASSERT_EQ(lib.open(copy), S_OK);
    ASSERT_EQ(lib.registerServer(), S_OK);
    EXPECT_EQ(counter->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 1);
    counter.reset();
    lib.close();
    CoFreeUnusedLibraries();
}

} // namespace
