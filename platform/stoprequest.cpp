#include "stoprequest.h"

#include <csignal>

namespace {

StopRequest g_process;

extern "C" void onStopSignal(int sig)
{
    // Only the atomic store here; the second signal of a kind gets the default action back, so a
    // process that does not stop on its own can still be ended from the keyboard.
    g_process.request(sig);
    std::signal(sig, SIG_DFL);
}

} // namespace

StopRequest &StopRequest::process() noexcept
{
    return g_process;
}

void StopRequest::installSignalHandlers()
{
    struct sigaction sa = {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    // Reads and writes under way go on: the work looks at the request at its own points.
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
