#include "stoprequest.h"

#include <csignal>

namespace {

StopRequest g_process;

extern "C" void onStopSignal(int sig)
{
    // Only the atomic store: the work stops itself at its next safe point.
    g_process.request(sig);
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
    // Reads and writes under way go on: the work looks at the request at its own points. The
    // handler runs once per kind (SA_RESETHAND): a second Ctrl+C ends a process that does not
    // stop on its own.
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
