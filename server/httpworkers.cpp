#include "httpfront_p.h"

#include <malloc.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
// After a request this large, the memory its body and its call took goes back to the system: the
// allocator would keep it, in as many pools as there were threads, for the life of the server.
constexpr qsizetype kTrimAfter = qsizetype(16) << 20;
} // namespace

void HttpWorkers::start(int count, Serve serve, int wakeFd)
{
    m_serve = std::move(serve);
    m_wakeFd = wakeFd;
    m_stopping = false;
    for (int i = 0; i < count; ++i)
        m_threads.emplace_back([this] { run(); });
}

void HttpWorkers::push(HttpFront::Request &&request)
{
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(request));
    }
    m_wake.notify_one();
}

std::vector<HttpFrontDone> HttpWorkers::takeDone()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_done, {});
}

void HttpWorkers::run()
{
    for (;;) {
        HttpFront::Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            request = std::move(m_queue.front());
            m_queue.pop_front();
        }
        const bool keep = m_serve(request) && !request.last;
        const bool large = request.size >= kTrimAfter;
        request.bytes.reset();
        if (large)
            malloc_trim(0);
        {
            const std::lock_guard lock(m_mutex);
            m_done.push_back({request.fd, keep});
        }
        (void)eventfd_write(m_wakeFd, 1);
    }
}

std::vector<int> HttpWorkers::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads)
        t.join();
    m_threads.clear();
    std::vector<int> unserved;
    for (const HttpFront::Request &r : m_queue)
        unserved.push_back(r.fd);
    m_queue.clear();
    m_done.clear();
    return unserved;
}
