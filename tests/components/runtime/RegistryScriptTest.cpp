#include "ComRegistry.h"
#include "RegistryScript.h"
#include "TempStore.h"

#include <gtest/gtest.h>

namespace {

constexpr char kScript[] = R"(
HKCR
{
    Sample.Thing.1 = s 'Thing Class'
    {
        CLSID = s '{11111111-2222-3333-4444-555555555555}'
    }
    NoRemove CLSID
    {
        ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Thing Class'
        {
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
        }
    }
}
)";

const std::string kClassKey = "CLSID\\{11111111-2222-3333-4444-555555555555}";

std::string Read(const std::string& key, const char* name = nullptr)
{
    std::string out;
    return comrt::ReadClassesRootString(key, name, &out) ? out : "<missing>";
}

TEST(RegistryScript, RegisterWritesKeysValuesAndTheModulePath)
{
    TempStore store;
    const std::string path = "/opt/it's/lib.so";
    ASSERT_EQ(comrt::RunRegistryScript(kScript, {{"MODULE", comrt::QuoteForRegistryScript(path)}},
                                       true),
              S_OK);
    EXPECT_EQ(Read("Sample.Thing.1"), "Thing Class");
    EXPECT_EQ(Read("Sample.Thing.1\\CLSID"), "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(Read(kClassKey), "Thing Class");
    EXPECT_EQ(Read(kClassKey + "\\InprocServer32"), path) << "the quote doubling is undone";
    EXPECT_EQ(Read(kClassKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_TRUE(comrt::ClassesRootKeyExists(kClassKey + "\\Programmable"));
}

TEST(RegistryScript, ForceRemoveReplacesTheKeyInsteadOfMerging)
{
    TempStore store;
    ASSERT_EQ(comrt::RunRegistryScript(kScript, {{"MODULE", "/a.so"}}, true), S_OK);
    const std::string once = store.text();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, (kClassKey + "\\Stale").c_str(), 0, nullptr, 0,
                             KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(comrt::RunRegistryScript(kScript, {{"MODULE", "/a.so"}}, true), S_OK);
    EXPECT_FALSE(comrt::ClassesRootKeyExists(kClassKey + "\\Stale"));
    EXPECT_EQ(store.text(), once) << "registering again leaves exactly one set of records";
}

TEST(RegistryScript, UnregisterKeepsNoRemoveKeysAndTheirOtherChildren)
{
    TempStore store;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{99999999-0000-0000-0000-000000000000}", 0,
                             nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(comrt::RunRegistryScript(kScript, {{"MODULE", "/a.so"}}, true), S_OK);
    ASSERT_EQ(comrt::RunRegistryScript(kScript, {{"MODULE", "/a.so"}}, false), S_OK);
    EXPECT_FALSE(comrt::ClassesRootKeyExists("Sample.Thing.1"));
    EXPECT_FALSE(comrt::ClassesRootKeyExists(kClassKey));
    EXPECT_TRUE(comrt::ClassesRootKeyExists("CLSID"));
    EXPECT_TRUE(comrt::ClassesRootKeyExists("CLSID\\{99999999-0000-0000-0000-000000000000}"));
    EXPECT_EQ(comrt::RunRegistryScript(kScript, {{"MODULE", "/a.so"}}, false), S_OK)
        << "unregistering what is not there succeeds";
}

class BrokenScript : public ::testing::TestWithParam<const char*> {};

TEST_P(BrokenScript, IsRefusedBeforeAnythingIsWritten)
{
    TempStore store;
    EXPECT_EQ(comrt::RunRegistryScript(GetParam(), {{"MODULE", "/a.so"}}, true), E_INVALIDARG);
    EXPECT_FALSE(comrt::ClassesRootKeyExists("Good"));
}

INSTANTIATE_TEST_SUITE_P(
    Text, BrokenScript,
    ::testing::Values("HKCR { Good = s 'x' } HKCR { Bad = s 'unterminated }",
                      "HKCR { Good = s 'x' Bad = d '5' }", "HKCR { Good = s 'x' ",
                      "HKXX { Good = s 'x' }", "HKCR { Good = s '%UNKNOWN%' }",
                      "HKCR { Good = s 'x' } HKCR { val Orphan = s 'y' }",
                      "HKCR { Good = s '%MODULE' }"));

} // namespace
