// A FIFO that nobody writes to, for code that must refuse it without waiting. Should the code
// under test open it and block anyway, the rescue opens the writing end after a long grace so
// the blocked open returns (and reads nothing): the test then fails on rescued() instead of
// hanging until the test runner kills it.
#pragma once

#include <condition_variable>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class FifoRescue {
public:
    explicit FifoRescue(std::string path) : m_path(std::move(path))
    {
        m_made = ::mkfifo(m_path.c_str(), 0600) == 0;
        if (m_made)
            m_thread = std::thread([this] { watch(); });
    }
    ~FifoRescue() { stop(); }
    FifoRescue(const FifoRescue &) = delete;
    FifoRescue &operator=(const FifoRescue &) = delete;

    bool made() const { return m_made; }
    // Ends the watch; true when a blocked reader had to be freed.
    bool rescued()
    {
        stop();
        return m_rescued;
    }

private:
    void watch()
    {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, std::chrono::seconds(20), [this] { return m_done; }))
            return;
        // Succeeds only while a reader has the FIFO open, that is, is stuck in it.
        const int fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            m_rescued = true;
            ::close(fd);
        }
    }
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    std::string m_path;
    bool m_made = false;
    bool m_done = false;
    bool m_rescued = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};
