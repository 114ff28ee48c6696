// The helper process as the component drives it: one helper for many calls, and a fresh one
// after every way the old one can fail. The helper used here is the test build, which stalls,
// crashes or hoards memory on request (by file name).

#include "HelperClient.h"
#include "HelperPool.h"
#include "HelperProtocol.h"
#include "PdfFixtures.h"
#include "PdfPageCount.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#include <future>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

class PdfHelperClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pdffix::writeFile(dir.file("three.pdf"), pdffix::qpdfDocument(3));
        pdffix::writeFile(dir.file("seven.pdf"), pdffix::qpdfDocument(7, {.objectStreams = true}));
        for (const char* name : {"x.stall.pdf", "x.crash.pdf", "x.hog.pdf"})
            pdffix::writeFile(dir.file(name), pdffix::qpdfDocument(1));
    }
    std::string path(const char* name) const { return dir.file(name).string(); }

    pdffix::TempDir dir;
    // Short enough to keep the suite quick, long enough for a loaded machine.
    pdfcount::HelperClient client{PDFCOUNT_TEST_HELPER, {1500ms, 1500ms}};
};

TEST_F(PdfHelperClientTest, OneHelperServesConsecutiveCalls)
{
    EXPECT_EQ(client.helperPid(), -1) << "started before first use";
    EXPECT_EQ(client.count(path("three.pdf")), 3);
    const pid_t first = client.helperPid();
    ASSERT_GT(first, 0);
    EXPECT_EQ(client.count(path("seven.pdf")), 7);
    EXPECT_EQ(client.count(path("missing.pdf")), pdfcount::CannotOpen);
    EXPECT_EQ(client.helperPid(), first);
}

// Counting threads come and go; the helper one of them started serves the others.
TEST_F(PdfHelperClientTest, HelperOutlivesTheThreadThatStartedIt)
{
    int32_t onThread = 0;
    std::thread([&] { onThread = client.count(path("three.pdf")); }).join();
    ASSERT_EQ(onThread, 3);
    const pid_t first = client.helperPid();
    EXPECT_EQ(client.count(path("seven.pdf")), 7);
    EXPECT_EQ(client.helperPid(), first);
}

TEST_F(PdfHelperClientTest, OverrunGivesUpAndTheNextCallIsAnswered)
{
    ASSERT_EQ(client.count(path("three.pdf")), 3);
    const pid_t before = client.helperPid();
    EXPECT_EQ(client.count(path("x.stall.pdf")), pdfcount::GaveUp);
    EXPECT_EQ(client.helperPid(), -1) << "the stalled helper must be gone";
    EXPECT_NE(kill(before, 0), 0) << "the stalled helper is still running";
    EXPECT_EQ(client.count(path("seven.pdf")), 7);
}

TEST_F(PdfHelperClientTest, HelperDyingOnAFileGivesUpForThatFileOnly)
{
    EXPECT_EQ(client.count(path("x.crash.pdf")), pdfcount::GaveUp);
    EXPECT_EQ(client.count(path("three.pdf")), 3);
}

TEST_F(PdfHelperClientTest, MemoryLimitStopsAReaderThatHoardsMemory)
{
    EXPECT_EQ(client.count(path("x.hog.pdf")), pdfcount::GaveUp);
    EXPECT_EQ(client.count(path("three.pdf")), 3);
}

TEST_F(PdfHelperClientTest, HelperKilledBetweenCallsIsReplacedAndTheCallAnswered)
{
    ASSERT_EQ(client.count(path("three.pdf")), 3);
    const pid_t first = client.helperPid();
    ASSERT_EQ(kill(first, SIGKILL), 0);
    EXPECT_EQ(client.count(path("seven.pdf")), 7);
    EXPECT_NE(client.helperPid(), first);
    // Killed again, this time with the next call racing the kill.
    ASSERT_EQ(kill(client.helperPid(), SIGTERM), 0);
    EXPECT_EQ(client.count(path("three.pdf")), 3);
}

// ---- files sent ahead ----

TEST_F(PdfHelperClientTest, FilesSentAheadAreAnsweredInOrderByOneHelper)
{
    const std::vector<std::string> files{path("three.pdf"), path("seven.pdf"), path("missing.pdf"),
                                         path("three.pdf")};
    ASSERT_EQ(client.sendAhead(files), files.size());
    const pid_t helper = client.helperPid();
    EXPECT_EQ(client.sentAhead(), 4u);
    EXPECT_EQ(client.count(files[0]), 3);
    EXPECT_EQ(client.count(files[1]), 7);
    EXPECT_EQ(client.count(files[2]), pdfcount::CannotOpen);
    EXPECT_EQ(client.count(files[3]), 3);
    EXPECT_EQ(client.sentAhead(), 0u);
    EXPECT_EQ(client.helperPid(), helper);
    // Sent ahead again while nothing is outstanding: the same helper goes on.
    ASSERT_EQ(client.sendAhead({files[1]}), 1u);
    EXPECT_EQ(client.count(files[1]), 7);
    EXPECT_EQ(client.helperPid(), helper);
}

// Whatever ends the helper on one file of a batch costs that file only; the rest are counted.
TEST_F(PdfHelperClientTest, AFailingFileInABatchGivesUpForThatFileOnly)
{
    for (const char* bad : {"x.crash.pdf", "x.stall.pdf", "x.hog.pdf"}) {
        SCOPED_TRACE(bad);
        ASSERT_EQ(client.sendAhead({path("three.pdf"), path(bad), path("seven.pdf"), path("three.pdf")}), 4u);
        EXPECT_EQ(client.count(path("three.pdf")), 3);
        EXPECT_EQ(client.count(path(bad)), pdfcount::GaveUp);
        EXPECT_EQ(client.count(path("seven.pdf")), 7);
        EXPECT_EQ(client.count(path("three.pdf")), 3);
        EXPECT_EQ(client.sentAhead(), 0u);
    }
}

// A call for another file than the next one sent must never take that file's answer.
TEST_F(PdfHelperClientTest, ACallOutOfTheSentOrderDropsWhatWasSent)
{
    ASSERT_EQ(client.sendAhead({path("three.pdf"), path("seven.pdf")}), 2u);
    const pid_t first = client.helperPid();
    EXPECT_EQ(client.count(path("seven.pdf")), 7);
    EXPECT_EQ(client.sentAhead(), 0u);
    EXPECT_NE(client.helperPid(), first);
    EXPECT_EQ(client.count(path("three.pdf")), 3);

    ASSERT_EQ(client.sendAhead({path("three.pdf"), path("seven.pdf")}), 2u);
    EXPECT_EQ(client.count(path("three.pdf")), 3);
    client.dropSentAhead();
    EXPECT_EQ(client.sentAhead(), 0u);
    EXPECT_EQ(client.count(path("three.pdf")), 3) << "a stale answer for seven.pdf was taken";
}

// Only a leading run of ordinary paths goes ahead, and never more than a socket holds at once:
// sending must not wait on a helper that is busy with an earlier file.
TEST_F(PdfHelperClientTest, OnlyALeadingBoundedRunOfPathsIsSentAhead)
{
    EXPECT_EQ(client.sendAhead({path("three.pdf"), std::string("a\0b", 3), path("seven.pdf")}), 1u);
    EXPECT_EQ(client.count(path("three.pdf")), 3);
    EXPECT_EQ(client.sendAhead({std::string(5000, 'a'), path("three.pdf")}), 0u);
    EXPECT_EQ(client.sendAhead({}), 0u);

    // The stalled file holds the helper while the rest wait on the socket.
    std::vector<std::string> many{path("x.stall.pdf")};
    many.resize(1000, path("three.pdf"));
    const std::size_t sent = client.sendAhead(many);
    // Short paths: the number of files is the bound here, not their bytes.
    ASSERT_LT(64 * (path("three.pdf").size() + 4), 16u * 1024);
    EXPECT_EQ(sent, 64u) << "at most 64 files wait in the helper's queue";
    ASSERT_EQ(client.sendAhead(many), 0u) << "already full";
    EXPECT_EQ(client.count(path("x.stall.pdf")), pdfcount::GaveUp);
    EXPECT_EQ(client.sentAhead(), 0u);
    EXPECT_EQ(client.count(path("three.pdf")), 3);
}

// ---- the bound is the helper's CPU time on the file ----

class PdfHelperBound : public ::testing::Test {
protected:
    void SetUp() override
    {
        pdffix::writeFile(dir.file("three.pdf"), pdffix::qpdfDocument(3));
        for (const char* name : {"x.sleep-1500.pdf", "x.spin.pdf"})
            pdffix::writeFile(dir.file(name), pdffix::qpdfDocument(2));
    }
    std::string path(const char* name) const { return dir.file(name).string(); }
    pdffix::TempDir dir;
};

// Idle time is not work: a helper that waits longer than the CPU budget (a busy machine, a slow
// disk) still answers.
TEST_F(PdfHelperBound, HelperThatWaitsBeyondTheCpuBudgetStillAnswers)
{
    pdfcount::HelperClient client(PDFCOUNT_TEST_HELPER, {300ms, 60s});
    ASSERT_EQ(client.count(path("three.pdf")), 3);  // started and warm
    EXPECT_EQ(client.count(path("x.sleep-1500.pdf")), 2);
}

TEST_F(PdfHelperBound, HelperThatSpinsPastTheCpuBudgetGivesUpAndIsReplaced)
{
    pdfcount::HelperClient client(PDFCOUNT_TEST_HELPER, {300ms, 60s});
    ASSERT_EQ(client.count(path("three.pdf")), 3);
    const pid_t spinner = client.helperPid();
    EXPECT_EQ(client.count(path("x.spin.pdf")), pdfcount::GaveUp);
    EXPECT_NE(kill(spinner, 0), 0) << "the spinning helper is still running";
    EXPECT_EQ(client.count(path("three.pdf")), 3);
}

// A stopped helper uses no CPU time; the wall-clock net replaces it.
TEST_F(PdfHelperBound, StoppedHelperIsReplacedAfterTheWallClockNet)
{
    pdfcount::HelperClient client(PDFCOUNT_TEST_HELPER, {10s, 1500ms});
    ASSERT_EQ(client.count(path("three.pdf")), 3);
    const pid_t stopped = client.helperPid();
    ASSERT_EQ(kill(stopped, SIGSTOP), 0);
    EXPECT_EQ(client.count(path("three.pdf")), pdfcount::GaveUp);
    EXPECT_NE(kill(stopped, 0), 0) << "the stopped helper is still there";
    EXPECT_EQ(client.count(path("three.pdf")), 3);
    EXPECT_NE(client.helperPid(), stopped);
}

// ---- abort from another thread ----

TEST_F(PdfHelperBound, AbortEndsTheCountInProgressAndTheNextCountIsAnswered)
{
    pdffix::writeFile(dir.file("x.stall.pdf"), pdffix::qpdfDocument(1));
    pdfcount::HelperClient client(PDFCOUNT_TEST_HELPER, {10s, 60s});
    ASSERT_EQ(client.count(path("three.pdf")), 3);
    const pid_t first = client.helperPid();
    auto stalled = std::async(std::launch::async, [&] { return client.count(path("x.stall.pdf")); });
    // An abort before the request is out would end the call as well; keep asking until it ends.
    while (stalled.wait_for(10ms) != std::future_status::ready)
        client.abort();
    EXPECT_EQ(stalled.get(), pdfcount::GaveUp);
    EXPECT_EQ(client.count(path("three.pdf")), pdfcount::GaveUp) << "aborted until reset";
    client.resetAbort();
    EXPECT_EQ(client.count(path("three.pdf")), 3);
    EXPECT_NE(client.helperPid(), first);
}

TEST_F(PdfHelperBound, AbortDuringABatchEndsItAndLaterCountsAreAnswered)
{
    pdfcount::HelperClient client(PDFCOUNT_TEST_HELPER, {10s, 60s});
    ASSERT_EQ(client.sendAhead({path("x.sleep-1500.pdf"), path("three.pdf")}), 2u);
    auto slow = std::async(std::launch::async, [&] { return client.count(path("x.sleep-1500.pdf")); });
    std::this_thread::sleep_for(50ms);
    while (slow.wait_for(10ms) != std::future_status::ready)
        client.abort();
    EXPECT_EQ(slow.get(), pdfcount::GaveUp);
    client.resetAbort();
    EXPECT_EQ(client.count(path("three.pdf")), 3);
}

TEST_F(PdfHelperBound, ASpinningFileSentAheadGivesUpOnItsOwnBudget)
{
    pdfcount::HelperClient client(PDFCOUNT_TEST_HELPER, {300ms, 60s});
    ASSERT_EQ(client.sendAhead({path("three.pdf"), path("x.spin.pdf"), path("three.pdf")}), 3u);
    EXPECT_EQ(client.count(path("three.pdf")), 3);
    EXPECT_EQ(client.count(path("x.spin.pdf")), pdfcount::GaveUp);
    EXPECT_EQ(client.count(path("three.pdf")), 3);
}

// ---- the pool ----

TEST(PdfHelperPool, KeepsHelpersGivenBackUpToItsKeepAndReusesThem)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    const std::string a = dir.file("a.pdf").string();
    pdfcount::HelperPool pool(PDFCOUNT_TEST_HELPER, {1500ms, 1500ms}, 1);
    EXPECT_FALSE(pool.busyWithin(1h));
    auto first = pool.take();
    auto second = pool.take();
    ASSERT_EQ(first->count(a), 2);
    ASSERT_EQ(second->count(a), 2);
    const pid_t firstPid = first->helperPid(), secondPid = second->helperPid();
    ASSERT_NE(firstPid, secondPid) << "two counts at once, two helpers";
    EXPECT_TRUE(pool.busyWithin(0ms)) << "clients are out";
    pool.give(std::move(first));
    pool.give(std::move(second));
    EXPECT_EQ(pool.idleCount(), 1u);
    EXPECT_NE(kill(secondPid, 0), 0) << "the helper beyond the keep still runs";
    EXPECT_TRUE(pool.busyWithin(1h));
    EXPECT_FALSE(pool.busyWithin(0ms));
    auto again = pool.take();
    ASSERT_EQ(again->count(a), 2);
    EXPECT_EQ(again->helperPid(), firstPid);
    pool.give(std::move(again));
}

// A client given back with answers still due must not hand them to the next borrower.
TEST(PdfHelperPool, AClientGivenBackWithFilesSentAheadComesBackClean)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    pdffix::writeFile(dir.file("b.pdf"), pdffix::qpdfDocument(5));
    const std::string a = dir.file("a.pdf").string(), b = dir.file("b.pdf").string();
    pdfcount::HelperPool pool(PDFCOUNT_TEST_HELPER, {1500ms, 1500ms}, 1);
    auto client = pool.take();
    ASSERT_EQ(client->sendAhead({a, b, a}), 3u);
    ASSERT_EQ(client->count(a), 2);
    pool.give(std::move(client));
    auto again = pool.take();
    EXPECT_EQ(again->sentAhead(), 0u);
    EXPECT_EQ(again->count(a), 2);
    EXPECT_EQ(again->count(b), 5);
    pool.give(std::move(again));
}

// The helper reads requests in chunks: however the stream is cut, every field comes out whole
// and in order, also one longer than the reader's buffer.
TEST(PdfHelperWire, RequestsComeOutWholeHoweverTheStreamIsCut)
{
    std::vector<std::string> paths{"/a.pdf", std::string(20000, 'x'), "", "/b/c.pdf"};
    for (int i = 0; i < 300; ++i)
        paths.push_back("/folder/file" + std::to_string(i) + ".pdf");
    std::string stream;
    for (const std::string& path : paths) {
        const auto len = static_cast<std::uint32_t>(path.size());
        stream.append(reinterpret_cast<const char*>(&len), sizeof len);
        stream.append(path);
    }
    for (const std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(4096), stream.size()}) {
        SCOPED_TRACE(piece);
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        std::thread writer([&] {
            for (std::size_t at = 0; at < stream.size(); at += piece)
                if (!pdfcount::wire::writeExact(fds[1], stream.data() + at, std::min(piece, stream.size() - at)))
                    break;
            close(fds[1]);
        });
        pdfcount::wire::Reader reader(fds[0]);
        for (const std::string& expected : paths) {
            std::uint32_t len = 0;
            ASSERT_TRUE(reader.take(&len, sizeof len));
            std::string got(len, '\0');
            ASSERT_TRUE(reader.take(got.data(), len));
            ASSERT_EQ(got, expected);
        }
        std::uint32_t more = 0;
        EXPECT_FALSE(reader.take(&more, sizeof more)) << "end of stream";
        writer.join();
        close(fds[0]);
    }
}

TEST(PdfHelperClientStart, MissingHelperGivesUpInsteadOfHanging)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    pdfcount::HelperClient client((dir.path() / "no-such-helper").string(), {1500ms, 1500ms});
    EXPECT_EQ(client.count(dir.file("a.pdf").string()), pdfcount::GaveUp);
    EXPECT_EQ(client.count(dir.file("a.pdf").string()), pdfcount::GaveUp);
}

TEST(PdfHelperClientStart, HelperThatExitsAtOnceGivesUp)
{
    pdffix::TempDir dir;
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    pdfcount::HelperClient client("/bin/true", {1500ms, 1500ms});
    EXPECT_EQ(client.count(dir.file("a.pdf").string()), pdfcount::GaveUp);
}

TEST(PdfHelperClientStart, NamesThatCannotNameAFileNeverReachTheHelper)
{
    pdfcount::HelperClient client(PDFCOUNT_TEST_HELPER, {1500ms, 1500ms});
    EXPECT_EQ(client.count(std::string("a.pdf\0b", 7)), pdfcount::CannotOpen);
    EXPECT_EQ(client.count(std::string(70000, 'a')), pdfcount::CannotOpen);
    EXPECT_EQ(client.helperPid(), -1);
}

}  // namespace
