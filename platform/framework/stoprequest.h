#pragma once
// A request to stop the work under way, made from outside that work: Escape on the screen while a
// file loads, or SIGINT/SIGTERM to the command line. Making the request is one atomic store, so a
// signal handler may make it; the work looks at it at its own safe points (between lines of the
// load pass, between the tables of an import and before its commit) and ends as a failure there.
#include "platform_export.h"

#include <atomic>

class IMP_PLATFORM_EXPORT StopRequest {
public:
    // `signal`: the signal that asked, 0 when a person did.
    void request(int signal = 0) noexcept
    {
        m_state.store(signal > 0 ? signal : kByPerson, std::memory_order_relaxed);
    }
    bool requested() const noexcept { return m_state.load(std::memory_order_relaxed) != 0; }
    // The signal that asked; 0 when none did (no request, or a person's).
    int signal() const noexcept
    {
        const int s = m_state.load(std::memory_order_relaxed);
        return s > 0 ? s : 0;
    }
    void reset() noexcept { m_state.store(0, std::memory_order_relaxed); }

    // The process's own request: what installSignalHandlers has SIGINT and SIGTERM set, and what
    // an import run inside this process looks at.
    static StopRequest &process() noexcept;
    // SIGINT and SIGTERM set process() instead of ending the process; the work then ends itself
    // at its next safe point. A second signal of the same kind ends the process as usual.
    static void installSignalHandlers();

private:
    static constexpr int kByPerson = -1;
    static_assert(std::atomic<int>::is_always_lock_free);
    std::atomic<int> m_state{0};
};
