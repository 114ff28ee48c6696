#include "IPageCountAbort.h"
#include "TallyfoldFixture.h"
#include "TiffPageCount.h"
#include "TiffFiles.h"

#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <functional>
#include <thread>
#include <vector>

namespace {

using tifftest::Layout;

// One store and one counter for the whole suite: counting depends on nothing else.
class PageCount : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        store = new RegisteredStore();
        ASSERT_EQ(store->registration(), S_OK);
    }
    static void TearDownTestSuite()
    {
        delete store;
        store = nullptr;
    }
    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_CTIFFPageCount, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICTIFFPageCount, counter.outVoid()),
                  S_OK);
    }
    std::string file(const std::string& name) const { return store->dir() + "/" + name; }

    static RegisteredStore* store;
    Ref<ICTIFFPageCount> counter;
};
RegisteredStore* PageCount::store = nullptr;

struct Case {
    const char* name;
    std::function<bool(const std::string& path)> make;
    LONG expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

bool Tiff(const std::string& path, Layout layout) { return tifftest::WriteTiff(path, layout); }

Layout Pages(int n)
{
    Layout l;
    l.pages = n;
    return l;
}

const Case kCases[] = {
    {"OnePage", [](auto& p) { return Tiff(p, Pages(1)); }, 1},
    {"SevenPages", [](auto& p) { return Tiff(p, Pages(7)); }, 7},
    {"ThirdDirectoryDamaged",
     [](auto& p) {
         const auto dirs = (Tiff(p, Pages(5)), tifftest::DirectoryOffsets(p));
         return dirs.size() == 5 && tifftest::Patch16(p, dirs[2], 0); // no entries: rejected
     },
     2},
    {"ThirdDirectoryBeyondTheEnd",
     [](auto& p) {
         const auto dirs = (Tiff(p, Pages(4)), tifftest::DirectoryOffsets(p));
         return dirs.size() == 4 &&
                tifftest::Patch32(p, tifftest::NextLinkOffset(p, dirs[1]), 0x7FFFFF00);
     },
     2},
    {"BigEndianPages",
     [](auto& p) {
         Layout l = Pages(4);
         l.bigEndian = true;
         return Tiff(p, l);
     },
     4},
    {"BigTiffPages",
     [](auto& p) {
         Layout l = Pages(3);
         l.bigTiff = true;
         return Tiff(p, l);
     },
     3},
    {"BigEndianBigTiffPages",
     [](auto& p) {
         Layout l = Pages(6);
         l.bigTiff = l.bigEndian = true;
         return Tiff(p, l);
     },
     6},
    {"SubIfdIsNotAPage",
     [](auto& p) {
         Layout l = Pages(1);
         l.subIfdOnFirstPage = true;
         return Tiff(p, l);
     },
     1},
    {"SubIfdThenMorePages",
     [](auto& p) {
         Layout l = Pages(3);
         l.subIfdOnFirstPage = true;
         return Tiff(p, l);
     },
     3},
    {"ReducedImageInTheMainChainIsAPage",
     [](auto& p) {
         Layout l = Pages(3);
         l.reducedSecondPage = true;
         return Tiff(p, l);
     },
     3},
    {"ChainPointingBackToTheFirst",
     [](auto& p) {
         const auto dirs = (Tiff(p, Pages(3)), tifftest::DirectoryOffsets(p));
         return dirs.size() == 3 &&
                tifftest::Patch32(p, tifftest::NextLinkOffset(p, dirs[2]), dirs[0]);
     },
     3},
    {"DirectoryPointingAtItself",
     [](auto& p) {
         const auto dirs = (Tiff(p, Pages(2)), tifftest::DirectoryOffsets(p));
         return dirs.size() == 2 &&
                tifftest::Patch32(p, tifftest::NextLinkOffset(p, dirs[1]), dirs[1]);
     },
     2},
    {"PdfNamedTif", [](auto& p) { return tifftest::WriteBytes(p, "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"); }, -2},
    {"JpegNamedTif",
     [](auto& p) { return tifftest::WriteBytes(p, std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11)); },
     -2},
    {"TextNamedTif", [](auto& p) { return tifftest::WriteBytes(p, "II was here\n"); }, -2},
    {"ZeroBytes", [](auto& p) { return tifftest::WriteBytes(p, ""); }, -2},
    {"TwoBytesII", [](auto& p) { return tifftest::WriteBytes(p, "II"); }, -2},
    {"ExactlyIIStar", [](auto& p) { return tifftest::WriteBytes(p, "II*"); }, 0},
    {"IIStarThenGarbage",
     [](auto& p) { return tifftest::WriteBytes(p, std::string("II*\0\xFF\xFF\xFF\x7F", 8)); }, 0},
    {"BigEndianHeaderOnly", [](auto& p) { return tifftest::WriteBytes(p, std::string("MM\0*", 4)); }, 0},
    {"BigEndianWrongVersion", [](auto& p) { return tifftest::WriteBytes(p, std::string("MM\0\x2C", 4)); }, -2},
    {"ThreeBytesMM0", [](auto& p) { return tifftest::WriteBytes(p, std::string("MM\0", 3)); }, -2},
    {"Missing", [](auto&) { return true; }, -1},
    {"Folder", [](auto& p) { return std::filesystem::create_directory(p); }, -1},
    // Nobody ever writes to it: opening it for reading the ordinary way would never return.
    {"FifoNamedTif", [](auto& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, -1},
    {"DeviceNamedTif",
     [](auto& p) {
         std::filesystem::create_symlink("/dev/zero", p);
         return true;
     },
     -1},
};

class PageCountCases : public PageCount, public ::testing::WithParamInterface<Case> {};

TEST_P(PageCountCases, CountsOrReportsTheFile)
{
    const Case& c = GetParam();
    const std::string path = file(std::string(c.name) + ".tif");
    ASSERT_TRUE(c.make(path)) << "could not build the test file";
    HRESULT hr = E_FAIL;
    // Damaged files make libtiff complain; the complaint must not reach the host's error output
    // (quirewell-count's standard error is for its own messages).
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(CountPages(counter.get(), path, &hr), c.expected);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(hr, S_OK);
}

INSTANTIATE_TEST_SUITE_P(Files, PageCountCases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PageCount, NonAsciiNamesAreOpened)
{
    const std::string path = file("Seiten \xC3\xA4\xC3\xB6\xC3\xBC \xE6\x97\xA5\xE6\x9C\xAC.tif");
    ASSERT_TRUE(tifftest::WriteTiff(path, Pages(3)));
    EXPECT_EQ(CountPages(counter.get(), path), 3);
}

TEST_F(PageCount, NamesThatAreNotUtf8AreOpened)
{
    const std::string path = file("caf\xE9 \xFF\xFE.tif"); // Latin-1 bytes, not UTF-8
    ASSERT_TRUE(tifftest::WriteTiff(path, Pages(2)));
    EXPECT_EQ(CountPages(counter.get(), path), 2);
}

TEST_F(PageCount, UnrepresentableCharacterCannotBeOpened)
{
    ASSERT_TRUE(tifftest::WriteTiff(file("x.tif"), Pages(1)));
    std::u16string wide = comrt::Utf8ToUtf16(file("x.tif"));
    wide[wide.size() - 5] = 0xD800; // a lone surrogate in place of the 'x'
    BSTR name = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    LONG pages = 0;
    EXPECT_EQ(counter->GetPages(name, &pages), S_OK);
    EXPECT_EQ(pages, -1);
    SysFreeString(name);
}

TEST_F(PageCount, NameEndsAtTheFirstNul)
{
    const std::string path = file("nul.tif");
    ASSERT_TRUE(tifftest::WriteTiff(path, Pages(2)));
    std::u16string wide = comrt::Utf8ToUtf16(path);
    wide += u'\0';
    wide += u"junk";
    BSTR name = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    LONG pages = 0;
    EXPECT_EQ(counter->GetPages(name, &pages), S_OK);
    EXPECT_EQ(pages, 2);
    SysFreeString(name);
}

TEST_F(PageCount, EmptyNameFailsAndLeavesTheResultAlone)
{
    const OLECHAR startsWithNul[] = {0, u'a', u'b'};
    BSTR names[] = {nullptr, SysAllocString(u""), SysAllocStringLen(startsWithNul, 3)};
    for (BSTR name : names) {
        LONG pages = 4242;
        EXPECT_EQ(static_cast<uint32_t>(counter->GetPages(name, &pages)), 0xFFFFFFFFu);
        EXPECT_EQ(pages, 4242);
        SysFreeString(name);
    }
}

TEST_F(PageCount, NullResultPointerIsRefused)
{
    ASSERT_TRUE(tifftest::WriteTiff(file("one.tif"), Pages(1)));
    BSTR name = comrt::AllocBstrFromUtf8(file("one.tif"));
    EXPECT_EQ(counter->GetPages(name, nullptr), E_POINTER);
    SysFreeString(name);
}

TEST_F(PageCount, EveryCallReadsTheFileAfresh)
{
    const std::string path = file("changes.tif");
    ASSERT_TRUE(tifftest::WriteTiff(path, Pages(2)));
    EXPECT_EQ(CountPages(counter.get(), path), 2);
    ASSERT_TRUE(tifftest::WriteTiff(path, Pages(5)));
    EXPECT_EQ(CountPages(counter.get(), path), 5);
    ASSERT_TRUE(std::filesystem::remove(path));
    EXPECT_EQ(CountPages(counter.get(), path), -1);
}

TEST_F(PageCount, AbortStopsTheCountInProgressButNotALaterOne)
{
    const std::string path = file("long.tif");
    ASSERT_TRUE(tifftest::WriteTiff(path, Pages(2000)));
    Ref<IPageCountAbort> abort;
    ASSERT_EQ(counter->QueryInterface(IID_IPageCountAbort, abort.outVoid()), S_OK);

    // An abort while no call runs is not meant for the next call.
    EXPECT_EQ(abort->Abort(), S_OK);
    EXPECT_EQ(CountPages(counter.get(), path), 2000);

    // Aborts keep coming from this thread while another counts: a call gives up (-5).
    std::atomic<bool> done{false};
    std::vector<LONG> results;
    std::thread worker([&] {
        while (results.size() < 1000 && (results.empty() || results.back() != tallyfold::kGaveUp))
            results.push_back(CountPages(counter.get(), path));
        done = true;
    });
    while (!done)
        abort->Abort();
    worker.join();
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.back(), tallyfold::kGaveUp);
    for (size_t i = 0; i + 1 < results.size(); ++i)
        EXPECT_EQ(results[i], 2000) << "a call either counts everything or gives up";
}

TEST_F(PageCount, AbortFlagEndsTheCountingFunction)
{
    const std::string path = file("three.tif");
    ASSERT_TRUE(tifftest::WriteTiff(path, Pages(3)));
    std::atomic<bool> abort{false};
    EXPECT_EQ(tallyfold::CountTiffPages(path.c_str(), &abort), 3);
    abort = true;
    EXPECT_EQ(tallyfold::CountTiffPages(path.c_str(), &abort), tallyfold::kGaveUp);
    EXPECT_EQ(tallyfold::CountTiffPages("/nonexistent.tif", &abort), tallyfold::kCannotOpen)
        << "only a count in progress gives up";
}

} // namespace
