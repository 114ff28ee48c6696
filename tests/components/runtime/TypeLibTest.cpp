#include "ComRegistry.h"
#include "ComTypeLib.h"
#include "TempStore.h"

#include <gtest/gtest.h>

namespace {

// A small dual interface and an object implementing it, described by a table as a component
// would describe its own.
struct ISample : IDispatch {
    virtual HRESULT Length(BSTR text, LONG* pVal) = 0;     // slot 7
    virtual HRESULT Add(LONG a, LONG b, LONG* pVal) = 0;   // slot 8
    virtual HRESULT Reset() = 0;                           // slot 9
};
inline constexpr IID IID_ISample = comrt::MakeGuid("{A1B2C3D4-0000-4000-8000-000000000001}");
inline constexpr GUID LIBID_Sample = comrt::MakeGuid("{A1B2C3D4-0000-4000-8000-0000000000AA}");

class Sample final : public ISample {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT Length(BSTR text, LONG* pVal) override
    {
        lastText = text ? std::u16string(text) : u"<null>";
        *pVal = static_cast<LONG>(SysStringLen(text));
        return S_OK;
    }
    HRESULT Add(LONG a, LONG b, LONG* pVal) override
    {
        *pVal = a - b; // order matters: catches reversed arguments
        return S_OK;
    }
    HRESULT Reset() override
    {
        ++resets;
        return S_FALSE;
    }
    std::u16string lastText;
    int resets = 0;
};

constexpr comrt::ParamDesc kLengthParams[] = {{u"text", VT_BSTR, PARAMFLAG_FIN},
                                              {u"pVal", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr comrt::ParamDesc kAddParams[] = {{u"a", VT_I4, PARAMFLAG_FIN},
                                           {u"b", VT_I4, PARAMFLAG_FIN},
                                           {u"pVal", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr comrt::MemberDesc kMembers[] = {
    {1, u"Length", INVOKE_PROPERTYGET, kLengthParams, 2, u"property Length", 7,
     &comrt::MemberInvoker<&ISample::Length>},
    {2, u"Add", INVOKE_FUNC, kAddParams, 3, u"method Add", 8, &comrt::MemberInvoker<&ISample::Add>},
    {3, u"Reset", INVOKE_FUNC, nullptr, 0, u"method Reset", 9,
     &comrt::MemberInvoker<&ISample::Reset>},
};
constexpr comrt::InterfaceDesc kInterfaces[] = {
    {IID_ISample, u"ISample", u"ISample Interface",
     TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, IID_IDispatch, kMembers, 3}};
constexpr comrt::TypeLibDesc kLib = {sizeof(comrt::TypeLibDesc), LIBID_Sample, u"SAMPLELib",
                                     u"Sample 1.0 Type Library", 1, 0, LOCALE_NEUTRAL, SYS_LINUX64,
                                     0, LIBID_stdole, kInterfaces, 1, nullptr, 0};

class TypeLibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(comrt::CreateTypeLibFromDesc(&kLib, &lib), S_OK);
        ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_ISample, &info), S_OK);
    }
    void TearDown() override
    {
        if (info)
            info->Release();
        if (lib)
            lib->Release();
        EXPECT_EQ(comrt::TypeLibReferenceCount(), 0) << "every reference was given back";
    }
    HRESULT Call(MEMBERID id, WORD flags, std::vector<VARIANT> argsLastFirst, VARIANT* result,
                 UINT* argErr = nullptr)
    {
        DISPPARAMS dp{argsLastFirst.data(), nullptr, static_cast<UINT>(argsLastFirst.size()), 0};
        return info->Invoke(static_cast<ISample*>(&object), id, flags, &dp, result, nullptr,
                            argErr);
    }
    static VARIANT I4(LONG v)
    {
        VARIANT x;
        VariantInit(&x);
        x.vt = VT_I4;
        x.lVal = v;
        return x;
    }

    ITypeLib* lib = nullptr;
    ITypeInfo* info = nullptr;
    Sample object;
};

TEST_F(TypeLibTest, NamesResolveCaseInsensitivelyWithParameters)
{
    OLECHAR name0[] = u"add";
    OLECHAR name1[] = u"B";
    OLECHAR name2[] = u"a";
    LPOLESTR names[] = {name0, name1, name2};
    MEMBERID ids[3] = {};
    ASSERT_EQ(info->GetIDsOfNames(names, 3, ids), S_OK);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], 0);
    OLECHAR unknown[] = u"Lengthy";
    LPOLESTR one[] = {unknown};
    EXPECT_EQ(info->GetIDsOfNames(one, 1, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], MEMBERID_NIL);
}

TEST_F(TypeLibTest, InvokeCallsTheVtableWithArgumentsInOrder)
{
    VARIANT result;
    VariantInit(&result);
    // DISPPARAMS holds arguments last first: Add(10, 3).
    ASSERT_EQ(Call(2, DISPATCH_METHOD, {I4(3), I4(10)}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 7);

    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"four");
    ASSERT_EQ(Call(1, DISPATCH_PROPERTYGET, {text}, &result), S_OK);
    EXPECT_EQ(result.lVal, 4);
    EXPECT_EQ(object.lastText, u"four");

    BSTR byRef = text.bstrVal;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &byRef;
    ASSERT_EQ(Call(1, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {ref}, &result), S_OK);
    EXPECT_EQ(result.lVal, 4);
    VariantClear(&text);

    EXPECT_EQ(Call(3, DISPATCH_METHOD, {}, nullptr), S_FALSE) << "the member's own status";
    EXPECT_EQ(object.resets, 1);
}

TEST_F(TypeLibTest, BadCallsAreRefusedBeforeTheMemberRuns)
{
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(Call(2, DISPATCH_METHOD, {I4(1)}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(1, DISPATCH_PROPERTYGET, {}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(99, DISPATCH_METHOD, {}, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {I4(1)}, &result), DISP_E_MEMBERNOTFOUND);

    VARIANT wrong;
    VariantInit(&wrong);
    wrong.vt = VT_DISPATCH;
    UINT argErr = 77;
    EXPECT_EQ(Call(2, DISPATCH_METHOD, {I4(1), wrong}, &result, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u) << "index into rgvarg of the bad argument";
    EXPECT_EQ(object.resets, 0);
}

TEST_F(TypeLibTest, DescribesItself)
{
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_ISample);
    EXPECT_EQ(attr->cFuncs, 3);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attr);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(0, &f), S_OK);
    EXPECT_EQ(f->memid, 1);
    EXPECT_EQ(f->invkind, INVOKE_PROPERTYGET);
    EXPECT_EQ(f->oVft, static_cast<SHORT>(7 * sizeof(void*)));
    info->ReleaseFuncDesc(f);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), u"SAMPLELib");
    EXPECT_EQ(std::u16string(doc), u"Sample 1.0 Type Library");
    SysFreeString(name);
    SysFreeString(doc);
}

TEST_F(TypeLibTest, RegisterWritesTheUsualRecordsAndUnregisterRemovesOnlyThem)
{
    TempStore store;
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "Interface\\{00000000-1111-2222-3333-444444444444}",
                             0, nullptr, 0, KEY_WRITE, nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(other);
    ASSERT_EQ(RegisterTypeLib(lib, u"/opt/sample/libsample.so", u"/opt/sample"), S_OK);
    const std::string base = "TypeLib\\{A1B2C3D4-0000-4000-8000-0000000000AA}\\1.0";
    const std::string iface = "Interface\\{A1B2C3D4-0000-4000-8000-000000000001}";
    std::string v;
    EXPECT_TRUE(comrt::ReadClassesRootString(base, nullptr, &v));
    EXPECT_EQ(v, "Sample 1.0 Type Library");
    EXPECT_TRUE(comrt::ReadClassesRootString(base + "\\0\\linux64", nullptr, &v));
    EXPECT_EQ(v, "/opt/sample/libsample.so");
    EXPECT_TRUE(comrt::ReadClassesRootString(base + "\\FLAGS", nullptr, &v));
    EXPECT_EQ(v, "0");
    EXPECT_TRUE(comrt::ReadClassesRootString(base + "\\HELPDIR", nullptr, &v));
    EXPECT_EQ(v, "/opt/sample");
    EXPECT_TRUE(comrt::ReadClassesRootString(iface, nullptr, &v));
    EXPECT_EQ(v, "ISample");
    EXPECT_TRUE(comrt::ReadClassesRootString(iface + "\\TypeLib", "Version", &v));
    EXPECT_EQ(v, "1.0");

    BSTR path = nullptr;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_Sample, 1, 0, 0x409, &path), S_OK)
        << "a specific locale falls back to the neutral one";
    EXPECT_EQ(comrt::Utf16ToUtf8(path), "/opt/sample/libsample.so");
    SysFreeString(path);
    EXPECT_EQ(QueryPathOfRegTypeLib(LIBID_Sample, 2, 0, 0, &path), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(QueryPathOfRegTypeLib(LIBID_Sample, 1, 1, 0, &path), TYPE_E_LIBNOTREGISTERED);

    ASSERT_EQ(UnRegisterTypeLib(LIBID_Sample, 1, 0, 0, SYS_LINUX64), S_OK);
    EXPECT_FALSE(comrt::ClassesRootKeyExists("TypeLib\\{A1B2C3D4-0000-4000-8000-0000000000AA}"));
    EXPECT_FALSE(comrt::ClassesRootKeyExists(iface));
    EXPECT_TRUE(comrt::ClassesRootKeyExists("Interface\\{00000000-1111-2222-3333-444444444444}"));
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 1, 0, 0, SYS_LINUX64), TYPE_E_REGISTRYACCESS);
}

TEST(TypeLibLoad, FilesThatAreNotComponentLibrariesFailCleanly)
{
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadTypeLib(u"/nonexistent/libnothing.so", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(u"libc.so.6", &lib), TYPE_E_CANTLOADLIBRARY) << "no DllGetClassObject";
    EXPECT_EQ(lib, nullptr);
    TempStore store;
    EXPECT_EQ(LoadRegTypeLib(LIBID_Sample, 1, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED);
}

} // namespace
