#include "IPageCountAbort.h"
#include "TallyfoldFixture.h"
#include "TiffPageCount.h"
#include "TiffFiles.h"

#include <atomic>
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

TEST_F(PageCount, AbortStopsTheCountInProgressButNotALaterOne)
{
    const std::string path = file("long.tif");
    ASSERT_TRUE(tifftest::WriteTiff(path, Pages(2000)));
    Ref<IPageCountAbort> abort;
    ASSERT_EQ(counter->QueryInterface(IID_IPageCountAbort, abort.outVoid()), S_OK);

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
