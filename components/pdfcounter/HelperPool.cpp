#include "HelperPool.h"

namespace pdfcount {

HelperPool::HelperPool(std::string helperPath, HelperLimits limits, std::size_t keepIdle)
    : m_helperPath(std::move(helperPath)), m_limits(limits), m_keepIdle(keepIdle)
{
}

std::unique_ptr<HelperClient> HelperPool::take()
{
    std::unique_ptr<HelperClient> client;
    {
        std::lock_guard lock(m_mutex);
        ++m_out;
        if (!m_idle.empty()) {
            client = std::move(m_idle.back());
            m_idle.pop_back();
            return client;
        }
    }
    try {
        return std::make_unique<HelperClient>(m_helperPath, m_limits);
    } catch (...) {
        std::lock_guard lock(m_mutex);
        --m_out;
        throw;
    }
}

void HelperPool::give(std::unique_ptr<HelperClient> client)
{
    // Answers still due belong to the caller that sent the files; the next borrower starts clean.
    if (client)
        client->dropSentAhead();
    std::unique_ptr<HelperClient> surplus;
    {
        std::lock_guard lock(m_mutex);
        --m_out;
        m_lastGiven = std::chrono::steady_clock::now();
        if (!client)
            return;
        if (client->helperPid() <= 0 || m_idle.size() >= m_keepIdle)
            surplus = std::move(client);  // stopped outside the lock
        else
            m_idle.push_back(std::move(client));
    }
}

bool HelperPool::busyWithin(std::chrono::milliseconds idle) const
{
    std::lock_guard lock(m_mutex);
    return m_out > 0 ||
           (!m_idle.empty() && std::chrono::steady_clock::now() - m_lastGiven < idle);
}

std::size_t HelperPool::idleCount() const
{
    std::lock_guard lock(m_mutex);
    return m_idle.size();
}

}  // namespace pdfcount
