#include "ComTypes.h"

#include <gtest/gtest.h>

namespace {

constexpr GUID kSample = comrt::MakeGuid("{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}");

TEST(Guid, LiteralMatchesItsFields)
{
    EXPECT_EQ(kSample.Data1, 0x636CD4EFu);
    EXPECT_EQ(kSample.Data2, 0x6AFB);
    EXPECT_EQ(kSample.Data3, 0x4707);
    const uint8_t tail[8] = {0x98, 0xD0, 0x8D, 0x2A, 0x26, 0xFA, 0x22, 0x41};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(kSample.Data4[i], tail[i]) << i;
}

TEST(Guid, FormatsUpperCaseWithBracesAndParsesBack)
{
    EXPECT_EQ(comrt::FormatGuid(kSample), "{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}");
    EXPECT_EQ(comrt::FormatGuid(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
    GUID g{};
    ASSERT_TRUE(comrt::ParseGuid("{636cd4ef-6afb-4707-98d0-8d2a26fa2241}", &g));
    EXPECT_EQ(g, kSample);
}

class GuidRejects : public ::testing::TestWithParam<const char*> {};

TEST_P(GuidRejects, MalformedText)
{
    GUID g = kSample;
    EXPECT_FALSE(comrt::ParseGuid(GetParam(), &g));
    EXPECT_EQ(g, kSample) << "a failed parse must not write";
}

INSTANTIATE_TEST_SUITE_P(Text, GuidRejects,
                         ::testing::Values("", "636CD4EF-6AFB-4707-98D0-8D2A26FA2241",
                                           "{636CD4EF-6AFB-4707-98D0-8D2A26FA224}",
                                           "{636CD4EF-6AFB-4707-98D0-8D2A26FA22411}",
                                           "{636CD4EF-6AFB-4707-98D0-8D2A26FA224G}",
                                           "{636CD4EF 6AFB-4707-98D0-8D2A26FA2241}",
                                           "{636CD4EF-6AFB-4707-98D08D2A26FA2241-}",
                                           "(636CD4EF-6AFB-4707-98D0-8D2A26FA2241)"));

TEST(Guid, WideConversionsFollowComRules)
{
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(kSample, buf, 38), 0) << "no room for the NUL";
    ASSERT_EQ(StringFromGUID2(kSample, buf, 39), 39);
    CLSID back{};
    EXPECT_EQ(CLSIDFromString(buf, &back), S_OK);
    EXPECT_EQ(back, kSample);
    EXPECT_EQ(CLSIDFromString(u"{nonsense}", &back), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(u"{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}", nullptr), E_POINTER);
}

TEST(Bstr, KeepsLengthEmbeddedNulsAndTerminator)
{
    const OLECHAR text[] = {u'a', 0, u'b'};
    BSTR s = SysAllocStringLen(text, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[2], u'b');
    EXPECT_EQ(s[3], 0) << "always NUL-terminated";
    SysFreeString(s);

    BSTR zeros = SysAllocStringLen(nullptr, 4);
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(SysStringLen(zeros), 4u);
    EXPECT_EQ(zeros[0], 0);
    SysFreeString(zeros);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);

    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr) << "an empty string is not a null one";
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
}

TEST(Utf, RoundTripsAllPlanes)
{
    const std::string utf8 = "a\xC3\xA4\xE6\x97\xA5\xF0\x9F\x93\x84"; // a ä 日 📄
    const std::u16string w = comrt::Utf8ToUtf16(utf8);
    EXPECT_EQ(w, u"a\u00E4\u65E5\U0001F4C4");
    EXPECT_EQ(comrt::Utf16ToUtf8(w), utf8);
}

TEST(Utf, BadInputIsReplacedNotDropped)
{
    EXPECT_EQ(comrt::Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(comrt::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD") << "overlong form";
    EXPECT_EQ(comrt::Utf8ToUtf16("\xE6\x97"), u"\uFFFD\uFFFD") << "truncated sequence";
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    EXPECT_EQ(comrt::Utf16ToUtf8(lone), "x?y");
}

TEST(FileName, BytesThatAreNotUtf8TravelAsEscapesAndComeBack)
{
    const std::string bytes = "/tmp/caf\xE9/\xC3\xA4-\xFF\x80.tif";
    const std::u16string text = comrt::FileNameToUtf16(bytes);
    EXPECT_EQ(text, u"/tmp/caf\xDCE9/\u00E4-\xDCFF\xDC80.tif");
    EXPECT_EQ(comrt::FileNameFromUtf16(text), bytes);
    EXPECT_EQ(comrt::FileNameFromUtf16(std::u16string(u"a\0b", 3)), "a") << "ends at the first NUL";
    const char16_t other[] = {u'x', 0xDC10, 0xD800, 0};
    EXPECT_EQ(comrt::FileNameFromUtf16(other), "x??") << "only U+DC80..U+DCFF stand for bytes";
}

TEST(Variant, ClearFreesAndCopyIsDeep)
{
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_BSTR;
    a.bstrVal = SysAllocString(u"pages");
    VARIANT b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.bstrVal, a.bstrVal);
    EXPECT_EQ(std::u16string(b.bstrVal), u"pages");
    VariantClear(&a);
    EXPECT_EQ(a.vt, VT_EMPTY);
    EXPECT_EQ(std::u16string(b.bstrVal), u"pages");
    VariantClear(&b);
}

TEST(Status, ValuesAreTheWindowsOnes)
{
    static_assert(sizeof(HRESULT) == 4 && sizeof(LONG) == 4);
    EXPECT_EQ(static_cast<uint32_t>(E_NOINTERFACE), 0x80004002u);
    EXPECT_EQ(static_cast<uint32_t>(CLASS_E_CLASSNOTAVAILABLE), 0x80040111u);
    EXPECT_EQ(static_cast<uint32_t>(REGDB_E_CLASSNOTREG), 0x80040154u);
    EXPECT_EQ(static_cast<uint32_t>(TYPE_E_LIBNOTREGISTERED), 0x8002801Du);
    EXPECT_EQ(static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), 0x80070002u);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SUCCESS), S_OK);
}

} // namespace
