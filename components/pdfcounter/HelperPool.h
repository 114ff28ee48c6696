#pragma once
// Helper processes kept between counts: a count takes an idle helper (or a new one) and gives it
// back when done, so consecutive counts reuse one process and counts running at once each have
// their own. Helpers stay until the pool goes.

#include "HelperClient.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pdfcount {

class HelperPool {
public:
    // Up to `keepIdle` idle helpers are kept; more are stopped as they come back.
    HelperPool(std::string helperPath, HelperLimits limits, std::size_t keepIdle);
    HelperPool(const HelperPool&) = delete;
    HelperPool& operator=(const HelperPool&) = delete;

    // The most recently used idle client, or a new one (its helper starts on its first count).
    std::unique_ptr<HelperClient> take();
    void give(std::unique_ptr<HelperClient> client);

    // True while a count is running or an idle helper was last used less than `idle` ago.
    bool busyWithin(std::chrono::milliseconds idle) const;

    std::size_t idleCount() const;

private:
    const std::string m_helperPath;
    const HelperLimits m_limits;
    const std::size_t m_keepIdle;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<HelperClient>> m_idle;
    std::size_t m_out = 0;
    std::chrono::steady_clock::time_point m_lastGiven{};
};

}  // namespace pdfcount
