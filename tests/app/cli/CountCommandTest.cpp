// Stopping a count (what Ctrl+C does): the records so far, their totals, status 130; and a
// missing page counter: every file listed, the counter named, status 1.
#include "CountCommand.h"
#include "CountCliTest.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "RefusedUser.h"

#include <atomic>
#include <cstring>
#include <sys/stat.h>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>

namespace {

// An event loop for the whole executable.
class CoreEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "cli-test";
        static char *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};
const ::testing::Environment *const registered = ::testing::AddGlobalTestEnvironment(new CoreEnvironment);

// Counts pages as the file's size in bytes; a file named "block*" holds its call until released
// (by abort() or at the end of the test).
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    std::function<void()> entered;  // called on the lane's thread as a call starts to wait
    void release()
    {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

class FakeCounter : public search::PageCounter
{
public:
    explicit FakeCounter(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}
    std::optional<int32_t> getPages(const QByteArray &path) override
    {
        if (path.contains("/block")) {
            if (m_gate->entered)
                m_gate->entered();
            std::unique_lock lock(m_gate->mutex);
            m_gate->changed.wait(lock, [&] { return m_gate->open; });
            return search::kGaveUp;
        }
        return int32_t(QFileInfo(QFile::decodeName(path)).size());
    }
    void abort() override { m_gate->release(); }

private:
    std::shared_ptr<Gate> m_gate;
};

class FakeFactory : public search::PageCounterFactory
{
public:
    FakeFactory(std::shared_ptr<Gate> gate, bool pdfMissing) : m_gate(std::move(gate)), m_pdfMissing(pdfMissing) {}
    std::unique_ptr<search::PageCounter> create(search::CounterKind kind) override
    {
        if (m_pdfMissing && kind == search::CounterKind::Pdf)
            return nullptr;
        return std::make_unique<FakeCounter>(m_gate);
    }
    QString lastCreateError() const override { return QStringLiteral("cannot load libpdfcounter.so"); }

private:
    std::shared_ptr<Gate> m_gate;
    bool m_pdfMissing;
};

// Captures what the command writes.
class Capture
{
public:
    Capture() : m_file(std::tmpfile()) {}
    ~Capture() { std::fclose(m_file); }
    std::FILE *file() const { return m_file; }
    QByteArray text() const
    {
        std::fflush(m_file);
        std::rewind(m_file);
        QByteArray all;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, m_file)) > 0)
            all.append(buf, qsizetype(n));
        return all;
    }

private:
    std::FILE *m_file;
};

class CountCommandTest : public ::testing::Test
{
protected:
    std::unique_ptr<cli::CountCommand> command(cli::Format format, bool pdfMissing = false, int jobs = 0,
                                               bool recursive = false)
    {
        cli::CliOptions options;
        options.operands = {root};
        options.recursive = recursive;
        options.format = format;
        options.jobs = jobs;
        auto g = gate;
        return std::make_unique<cli::CountCommand>(options, out.file(), err.file(), [g, pdfMissing] {
            return std::make_unique<FakeFactory>(g, pdfMissing);
        });
    }
    void TearDown() override { gate->release(); }

    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    Capture out, err;
};

TEST_F(CountCommandTest, InterruptWritesTheTotalsSoFar)
{
    clitest::bytes(root + "/a.tif", "12345");    // 5 "pages"
    clitest::bytes(root + "/b.pdf", "1234567");  // 7
    clitest::bytes(root + "/block.pdf", "x");
    clitest::bytes(root + "/c.pdf", "123");
    auto count = command(cli::Format::Csv, false, 1);
    // Stopped while a file is in its counter, as Ctrl+C may come at any time.
    cli::CountCommand *c = count.get();
    gate->entered = [c] { QMetaObject::invokeMethod(c, [c] { c->interrupt(); }, Qt::QueuedConnection); };

    EXPECT_EQ(count->run(), cli::kExitInterrupted);
    const clitest::Parsed parsed = clitest::parse("csv", out.text(), err.text());
    ASSERT_TRUE(parsed.ok) << parsed.why << out.text().toStdString();
    EXPECT_LE(parsed.records.size(), 3u);
    int64_t sum = 0;
    for (const clitest::Record &r : parsed.records) {
        EXPECT_FALSE(r.path.endsWith("/block.pdf")) << "a file still in its counter is not written";
        sum += r.pages.toLongLong();
    }
    EXPECT_EQ(parsed.tiffTotal + parsed.pdfTotal, sum) << "the totals are those of the records written";
}

TEST_F(CountCommandTest, AMissingCounterIsNamedAndFails)
{
    clitest::bytes(root + "/a.tif", "12");
    clitest::bytes(root + "/b.pdf", "123");
    EXPECT_EQ(command(cli::Format::Tsv, true)->run(), cli::kExitSomeFailed);
    const clitest::Parsed parsed = clitest::parse("tsv", out.text(), err.text());
    ASSERT_TRUE(parsed.ok) << parsed.why;
    ASSERT_EQ(parsed.records.size(), 2u);
    EXPECT_EQ(parsed.tiffTotal, 2);
    EXPECT_EQ(parsed.pdfTotal, 0);
    for (const clitest::Record &r : parsed.records) {
        if (r.type == "PDF") {
            EXPECT_EQ(r.reason, "The page counter is missing");
        }
    }
    EXPECT_TRUE(err.text().contains("the PDF page counter is missing\n")) << err.text().toStdString();
    EXPECT_TRUE(err.text().contains("cannot load libpdfcounter.so")) << err.text().toStdString();
}

TEST_F(CountCommandTest, AFolderThatCannotBeReadIsNamedWithItsReasonAndFails)
{
    clitest::bytes(root + "/a.tif", "12");
    clitest::bytes(root + "/locked/b.pdf", "123");
    clitest::bytes(root + "/open/c.pdf", "1234");
    ASSERT_EQ(::chmod((root + "/locked").constData(), 0), 0);
    struct Unlock
    {
        QByteArray folder;
        ~Unlock() { ::chmod(folder.constData(), 0755); }
    } unlock{root + "/locked"};
    RefusedUser refused(root.toStdString());
    ASSERT_TRUE(refused.ready());
    EXPECT_EQ(command(cli::Format::Tsv, false, 2, true)->run(), cli::kExitSomeFailed);
    const clitest::Parsed parsed = clitest::parse("tsv", out.text(), err.text());
    ASSERT_TRUE(parsed.ok) << parsed.why;
    EXPECT_EQ(parsed.records.size(), 2u);
    EXPECT_EQ(parsed.tiffTotal, 2);
    EXPECT_EQ(parsed.pdfTotal, 4);
    // The folder first, then the totals (which tsv writes to standard error).
    EXPECT_TRUE(err.text().startsWith("quirewell-count: " + root + "/locked: " + std::strerror(EACCES) + "\n"))
        << err.text().toStdString();
}

TEST_F(CountCommandTest, ProgressOnlyOnStandardError)
{
    clitest::bytes(root + "/a.tif", "12");
    auto count = command(cli::Format::Text);
    count->setShowProgress(true);
    EXPECT_EQ(count->run(), cli::kExitCounted);
    EXPECT_TRUE(err.text().contains("files, TIFF")) << err.text().toStdString();
    EXPECT_FALSE(out.text().contains('\r'));
    EXPECT_TRUE(err.text().endsWith("\r\033[K")) << "the progress line is cleared at the end";
}

}  // namespace
