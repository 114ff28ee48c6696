// The helper is started only from a place no other user can change: a copy in a folder everyone
// may write to is never run, while the same copy in a private folder counts.

#include "HelperClient.h"
#include "PdfFixtures.h"
#include "PdfPageCount.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

TEST(PdfHelperTrust, HelperInAFolderOthersCanWriteNeverRuns)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    const std::filesystem::path folder = dir.path() / "bin";
    std::filesystem::create_directory(folder);
    const std::filesystem::path helper = folder / "pdfcounter-helper";
    std::filesystem::copy_file(PDFCOUNT_TEST_HELPER, helper);

    {
        pdfcount::HelperClient client(helper.string(), {5000ms, 5000ms});
        EXPECT_EQ(client.count(dir.file("a.pdf").string()), 2) << "a private copy runs";
    }
    ::chmod(folder.c_str(), 0777);
    pdfcount::HelperClient client(helper.string(), {5000ms, 5000ms});
    EXPECT_EQ(client.count(dir.file("a.pdf").string()), pdfcount::GaveUp);
    EXPECT_EQ(client.helperPid(), -1) << "the helper was started";
    ::chmod(folder.c_str(), 0755);
}

// Only a regular file is started: a FIFO, a folder or a device where the helper should be
// gives up at once (an ordinary open of a FIFO nobody writes to would wait for ever).
TEST(PdfHelperTrust, NothingButARegularFileIsStarted)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    const std::filesystem::path fifo = dir.file("fifo-helper");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0700), 0);
    const std::filesystem::path folder = dir.file("folder-helper");
    std::filesystem::create_directory(folder);
    for (const std::filesystem::path& helper : {fifo, folder, std::filesystem::path("/dev/zero")}) {
        pdfcount::HelperClient client(helper.string(), {5000ms, 5000ms});
        EXPECT_EQ(client.count(dir.file("a.pdf").string()), pdfcount::GaveUp) << helper;
        EXPECT_EQ(client.helperPid(), -1) << helper;
    }
}

// Whatever is put where the helper was after it was checked, the checked helper is what runs.
void ReplaceWithAProgramThatCountsNothing(const std::string& resolved, void* swapped)
{
    std::filesystem::copy_file("/bin/true", resolved + ".new");
    std::filesystem::rename(resolved + ".new", resolved);
    *static_cast<std::string*>(swapped) = resolved;
}

TEST(PdfHelperTrust, TheHelperCheckedIsTheHelperStarted)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    const std::filesystem::path helper = dir.file("pdfcounter-helper");
    std::filesystem::copy_file(PDFCOUNT_TEST_HELPER, helper);
    std::string swapped;
    pdfcount::HelperClient::setBeforeStartHook(&ReplaceWithAProgramThatCountsNothing, &swapped);
    pdfcount::HelperClient client(helper.string(), {5000ms, 5000ms});
    const int32_t pages = client.count(dir.file("a.pdf").string());
    pdfcount::HelperClient::setBeforeStartHook(nullptr, nullptr);
    ASSERT_EQ(swapped, std::filesystem::canonical(helper).string()) << "the hook did not run";
    EXPECT_EQ(pages, 2) << "the program put in the helper's place ran";
}

} // namespace
