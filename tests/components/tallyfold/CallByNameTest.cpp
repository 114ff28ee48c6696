#include "ComTypeLib.h"
#include "TallyfoldFixture.h"
#include "TiffFiles.h"

#include <filesystem>

namespace {

VARIANT Text(const std::string& s)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = comrt::AllocBstrFromUtf8(s);
    return v;
}

class CallByName : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(store.registration(), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IDispatch, dispatch.outVoid()),
                  S_OK);
        tifftest::Layout layout;
        layout.pages = 4;
        ASSERT_TRUE(tifftest::WriteTiff(tiff, layout));
    }
    HRESULT Invoke(DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result)
    {
        DISPPARAMS dp{args, nullptr, count, 0};
        return dispatch->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, nullptr,
                                nullptr);
    }

    RegisteredStore store;
    Ref<IDispatch> dispatch;
    std::string tiff = store.dir() + "/four.tif";
};

TEST_F(CallByName, GetPagesResolvesToOneAndReturnsTheCount)
{
    OLECHAR exact[] = u"GetPages";
    OLECHAR lower[] = u"getpages";
    for (OLECHAR* name : {exact, lower}) {
        DISPID id = 0;
        ASSERT_EQ(dispatch->GetIDsOfNames(GUID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, 1);
    }
    OLECHAR unknown[] = u"GetPage";
    LPOLESTR names[] = {unknown};
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
              DISP_E_UNKNOWNNAME);

    VARIANT arg = Text(tiff);
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(Invoke(1, DISPATCH_PROPERTYGET, &arg, 1, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 4);

    VARIANT missing = Text(store.dir() + "/missing.tif");
    ASSERT_EQ(Invoke(1, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &missing, 1, &result), S_OK);
    EXPECT_EQ(result.lVal, -1);
    VariantClear(&missing);

    EXPECT_EQ(Invoke(1, DISPATCH_PROPERTYGET, nullptr, 0, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Invoke(2, DISPATCH_PROPERTYGET, &arg, 1, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(1, DISPATCH_PROPERTYPUT, &arg, 1, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(dispatch->Invoke(1, IID_IUnknown, 0, DISPATCH_PROPERTYGET, nullptr, &result, nullptr,
                               nullptr),
              DISP_E_UNKNOWNINTERFACE);
    VariantClear(&arg);
}

TEST_F(CallByName, EmptyNameStatusComesBackThroughInvoke)
{
    VARIANT arg = Text("");
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(static_cast<uint32_t>(Invoke(1, DISPATCH_PROPERTYGET, &arg, 1, &result)), 0xFFFFFFFFu);
    EXPECT_EQ(result.vt, VT_EMPTY);
    VariantClear(&arg);
}

TEST_F(CallByName, TypeInformationDescribesTheInterface)
{
    UINT count = 0;
    ASSERT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Ref<ITypeInfo> info;
    EXPECT_EQ(dispatch->GetTypeInfo(1, 0, info.out()), DISP_E_BADINDEX);
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.out()), S_OK);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), u"ICTIFFPageCount");
    EXPECT_EQ(std::u16string(doc), u"ICTIFFPageCount Interface");
    SysFreeString(name);
    SysFreeString(doc);
    ASSERT_EQ(info->GetDocumentation(1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), u"GetPages");
    EXPECT_EQ(std::u16string(doc), u"property GetPages");
    SysFreeString(name);
    SysFreeString(doc);
    Ref<ITypeLib> lib;
    ASSERT_EQ(info->GetContainingTypeLib(lib.out(), nullptr), S_OK);
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), u"TALLYFOLDLib");
    EXPECT_EQ(std::u16string(doc), u"Tallyfold 1.0 Type Library");
    SysFreeString(name);
    SysFreeString(doc);
}

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
