#pragma once
// Page counters for tests that read the answer from the file's own text: "pages:N" gives N,
// "fail" a failed call, "wait:MS" takes MS milliseconds (then 1), "slow:N" blocks until the test opens the gate (then N) or, when aborts are
// honoured at the time of the abort, until abort() (then -5); "hold" blocks until abort() only; anything else -2. They log which thread created, called and released them.
// With CounterLog::prefetching they take announcements of the next files and log any call that
// does not follow them.

#include "SearchCore.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

struct CounterLog
{
    std::mutex mutex;
    std::condition_variable changed;
    int factories = 0;
    int created = 0;
    int alive = 0;
    int aborts = 0;
    int slowWaiting = 0;
    bool gateOpen = false;
    bool honourAbort = true;
    bool pdfMissing = false;
    std::vector<QByteArray> calls;
    std::set<std::thread::id> callThreads;
    int callsWhileSlowWaiting = 0;  // calls that began while a slow one was blocked
    int releasedOnOtherThread = 0;
    bool prefetching = false;
    int announced = 0;         // files announced through prefetch()
    int announcedCalls = 0;    // calls for the next file announced
    int outOfOrderCalls = 0;   // calls while another file was announced next
    int largestAnnouncement = 0;  // most files announced by one prefetch()
    QByteArray identity;          // what identity() answers; empty: answers are never cached

    void openGate()
    {
        std::lock_guard lock(mutex);
        gateOpen = true;
        changed.notify_all();
    }
    int waiting()
    {
        std::lock_guard lock(mutex);
        return slowWaiting;
    }
    int aliveCount()
    {
        std::lock_guard lock(mutex);
        return alive;
    }
};

class TextCounter : public search::PageCounter
{
public:
    explicit TextCounter(CounterLog &log) : m_log(log), m_thread(std::this_thread::get_id())
    {
        std::lock_guard lock(m_log.mutex);
        ++m_log.created;
        ++m_log.alive;
    }
    ~TextCounter() override
    {
        std::lock_guard lock(m_log.mutex);
        --m_log.alive;
        if (std::this_thread::get_id() != m_thread)
            ++m_log.releasedOnOtherThread;
        m_log.changed.notify_all();
    }

    std::optional<int32_t> getPages(const QByteArray &path) override
    {
        {
            std::lock_guard lock(m_log.mutex);
            m_log.calls.push_back(path);
            m_log.callThreads.insert(std::this_thread::get_id());
            if (m_log.slowWaiting > 0)
                ++m_log.callsWhileSlowWaiting;
            m_aborted = false;
            if (!m_announced.empty()) {
                if (m_announced.front() == path) {
                    ++m_log.announcedCalls;
                    m_announced.erase(m_announced.begin());
                } else {
                    ++m_log.outOfOrderCalls;
                    m_announced.clear();
                }
            }
        }
        const int fd = ::open(path.constData(), O_RDONLY);  // the bytes must reopen the file
        if (fd < 0)
            return -1;
        char buf[64] = {};
        const ssize_t n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
        const QByteArray text(buf, n > 0 ? int(n) : 0);
        if (text.startsWith("fail"))
            return std::nullopt;
        if (text.startsWith("pages:"))
            return text.mid(6).trimmed().toInt();
        if (text.startsWith("wait:")) {
            // A file on a slow share: the lane waits without using a processor.
            std::this_thread::sleep_for(std::chrono::milliseconds(text.mid(5).trimmed().toInt()));
            return 1;
        }
        if (text.startsWith("slow") || text.startsWith("hold")) {
            const bool hold = text.startsWith("hold");
            std::unique_lock lock(m_log.mutex);
            ++m_log.slowWaiting;
            m_log.changed.notify_all();
            m_log.changed.wait(lock, [&] { return (m_log.gateOpen && !hold) || m_aborted; });
            --m_log.slowWaiting;
            return m_aborted ? -5 : text.mid(5).trimmed().toInt();
        }
        return -2;
    }

    void abort() override
    {
        std::lock_guard lock(m_log.mutex);
        ++m_log.aborts;
        m_aborted = m_aborted || m_log.honourAbort;
        m_log.changed.notify_all();
    }

    bool prefetches() const override
    {
        std::lock_guard lock(m_log.mutex);
        return m_log.prefetching;
    }
    void prefetch(const std::vector<QByteArray> &paths) override
    {
        std::lock_guard lock(m_log.mutex);
        m_log.announced += int(paths.size());
        m_log.largestAnnouncement = std::max(m_log.largestAnnouncement, int(paths.size()));
        m_announced.insert(m_announced.end(), paths.begin(), paths.end());
    }

    QByteArray identity() const override
    {
        std::lock_guard lock(m_log.mutex);
        return m_log.identity;
    }

private:
    CounterLog &m_log;
    std::thread::id m_thread;
    bool m_aborted = false;  // guarded by m_log.mutex
    std::vector<QByteArray> m_announced;  // guarded by m_log.mutex
};

class TextCounters : public search::PageCounterFactory
{
public:
    explicit TextCounters(CounterLog &log) : m_log(log)
    {
        std::lock_guard lock(m_log.mutex);
        ++m_log.factories;
    }
    std::unique_ptr<search::PageCounter> create(search::CounterKind kind) override
    {
        {
            std::lock_guard lock(m_log.mutex);
            if (kind == search::CounterKind::Pdf && m_log.pdfMissing)
                return nullptr;
        }
        return std::make_unique<TextCounter>(m_log);
    }
    QString lastCreateError() const override { return QStringLiteral("not registered (test)"); }

private:
    CounterLog &m_log;
};

inline search::SearchCore::FactoryMaker textCounters(CounterLog &log)
{
    return [&log] { return std::make_unique<TextCounters>(log); };
}
