#include "httpfront.h"
#include "httpfront_p.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr qsizetype kFirstBuffer = 16 * 1024;
constexpr qsizetype kReadChunk = qsizetype(1) << 20;
constexpr int kDrainSeconds = 2;
constexpr qint64 kDrainBytes = qint64(8) << 20;

double secondsSince(HttpFront::Clock::time_point t, HttpFront::Clock::time_point now)
{
    return std::chrono::duration<double>(now - t).count();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Connections

void HttpFront::Impl::watch(Conn &c)
{
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.fd = c.fd;
    epoll_ctl(epoll, EPOLL_CTL_ADD, c.fd, &ev);
}

void HttpFront::Impl::unwatch(Conn &c)
{
    epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
}

void HttpFront::Impl::release(Conn &c)
{
    inFlight -= c.reserved;
    c.reserved = 0;
}

void HttpFront::Impl::close(int fd)
{
    auto it = conns.find(fd);
    if (it == conns.end())
        return;
    release(it->second);
    if (it->second.state != Conn::State::Busy)
        unwatch(it->second);
    ::close(fd);
    conns.erase(it);
}

// Waiting for a request: the buffer keeps what came after the last one.
void HttpFront::Impl::toIdle(Conn &c, Clock::time_point now)
{
    c.state = Conn::State::Idle;
    c.parser.reset();
    c.deadline = now + std::chrono::seconds(kIdleSeconds);
    if (c.size > 0)
        beginHead(c, now);
}

void HttpFront::Impl::beginHead(Conn &c, Clock::time_point now)
{
    c.state = Conn::State::Head;
    c.started = now;
    c.startedAt = QDateTime::currentDateTimeUtc();
    c.deadline = now + std::chrono::seconds(kHeadSeconds);
}

// The answer is out, or there will be none: what the client still sends is read and dropped for a
// moment, so that closing does not reset the connection before the client has read the answer.
void HttpFront::Impl::toDrain(Conn &c, Clock::time_point now)
{
    release(c);
    ::shutdown(c.fd, SHUT_WR);
    c.state = Conn::State::Drain;
    c.deadline = now + std::chrono::seconds(kDrainSeconds);
    c.buf.reset();
    c.size = c.cap = 0;
}

void HttpFront::Impl::refuse(Conn &c, int status, const QString &key, bool headRead, Clock::time_point now)
{
    Hooks::Refusal r;
    r.head = headRead ? &c.parser.head() : nullptr;
    r.status = status;
    r.key = key;
    r.fd = c.fd;
    r.startedAt = c.startedAt;
    r.ms = qint64(secondsSince(c.started, now) * 1000);
    const QByteArray answer = hooks.refuse(r);
    // A fresh answer of a few hundred bytes fits the socket's buffer: what does not is dropped.
    (void)::send(c.fd, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    toDrain(c, now);
}

bool HttpFront::Impl::ensureRoom(Conn &c, qsizetype want)
{
    if (c.cap >= want)
        return true;
    std::unique_ptr<char[]> bigger(new (std::nothrow) char[size_t(want)]);
    if (!bigger)
        return false;
    if (c.size > 0)
        std::memcpy(bigger.get(), c.buf.get(), size_t(c.size));
    c.buf = std::move(bigger);
    c.cap = want;
    return true;
}

// The head is in: the request's body may come, or the request is refused on its head alone.
void HttpFront::Impl::admit(Conn &c, Clock::time_point now)
{
    const RequestHead &h = c.parser.head();
    QString key;
    if (const int status = hooks.admit(h, &key); status != 0)
        return refuse(c, status, key, true, now);
    if (h.transferEncoding)
        return refuse(c, 411, QStringLiteral("Srv_TamanhoExigido"), true, now);
    const qint64 length = h.hasLength ? h.length : 0;
    if (length > limits.maxRequest)
        return refuse(c, 413, QStringLiteral("Srv_TamanhoExcedido"), true, now);
    if (length > 0 && inFlight + length > limits.bodyBudget)
        return refuse(c, 503, QStringLiteral("Srv_Ocupado"), true, now);
    inFlight += length;
    c.reserved = length;
    c.need = h.size + length;
    if (c.size < c.need) {
        if (!ensureRoom(c, c.need))
            return refuse(c, 503, QStringLiteral("Srv_Ocupado"), true, now);
        c.state = Conn::State::Body;
        c.bodyStart = now;
        if (h.expectContinue) {
            static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            (void)::send(c.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        return;
    }
    dispatch(c);
}

// Every byte of the request is in: a worker takes it, and the bytes after it stay for the next.
void HttpFront::Impl::dispatch(Conn &c)
{
    Request r;
    r.fd = c.fd;
    r.head = c.parser.head();
    r.started = c.started;
    r.startedAt = c.startedAt;
    r.size = c.need;
    r.last = ++c.served >= kMaxRequestsPerConnection || stopping;
    const qsizetype rest = c.size - c.need;
    r.bytes = std::move(c.buf);
    c.buf.reset();
    c.size = c.cap = 0;
    if (rest > 0 && ensureRoom(c, std::max(rest, kFirstBuffer))) {
        std::memcpy(c.buf.get(), r.bytes.get() + r.size, size_t(rest));
        c.size = rest;
    }
    unwatch(c);
    c.state = Conn::State::Busy;
    pool.push(std::move(r));
}

// Bytes came on a connection that is not being served.
void HttpFront::Impl::readable(Conn &c, Clock::time_point now)
{
    if (c.state == Conn::State::Drain) {
        char sink[16 * 1024];
        const ssize_t n = ::recv(c.fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR) || (c.dropped += std::max<ssize_t>(n, 0)) > kDrainBytes)
            close(c.fd);
        return;
    }
    // A head's room doubles as it fills, up to the longest head taken; a body's was made whole.
    if (c.state != Conn::State::Body && c.cap - c.size < 4096
        && !ensureRoom(c, std::min(std::max(2 * c.cap, kFirstBuffer), HeadParser::kMaxHead + kFirstBuffer)))
        return close(c.fd);
    const qsizetype room = std::min(c.cap - c.size, kReadChunk);
    if (room <= 0) // a head that fills its room unfinished is refused below; this never waits
        return close(c.fd);
    const ssize_t n = ::recv(c.fd, c.buf.get() + c.size, size_t(room), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        return close(c.fd);
    if (n < 0)
        return;
    c.size += n;
    if (c.state == Conn::State::Idle)
        beginHead(c, now);
    if (c.state == Conn::State::Head)
        return headBytes(c, now);
    if (c.size >= c.need)
        dispatch(c);
}

void HttpFront::Impl::headBytes(Conn &c, Clock::time_point now)
{
    switch (c.parser.feed(c.buf.get(), c.size)) {
    case HeadParser::State::Incomplete:
        return;
    case HeadParser::State::Malformed:
        return refuse(c, c.parser.status(), c.parser.key(), false, now);
    case HeadParser::State::Complete:
        return admit(c, now);
    }
}

// Deadlines, and the least rate of a body after its first second.
void HttpFront::Impl::sweep(Clock::time_point now)
{
    std::vector<int> late;
    for (auto &[fd, c] : conns) {
        switch (c.state) {
        case Conn::State::Idle:
        case Conn::State::Head:
        case Conn::State::Drain:
            if (now >= c.deadline)
                late.push_back(fd);
            break;
        case Conn::State::Body: {
            const double seconds = secondsSince(c.bodyStart, now);
            const qint64 got = c.size - c.parser.head().size;
            if (seconds > 1.0 && double(got) < double(kMinBodyRate) * seconds)
                late.push_back(fd);
            break;
        }
        case Conn::State::Busy:
            break;
        }
    }
    for (int fd : late)
        close(fd);
    if (acceptPaused && now >= acceptResume) {
        acceptPaused = false;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = listenFd;
        epoll_ctl(epoll, EPOLL_CTL_ADD, listenFd, &ev);
    }
}

// Room for one more connection: the one that has waited longest without sending a whole head goes.
bool HttpFront::Impl::makeRoom()
{
    if (int(conns.size()) < limits.maxConnections)
        return true;
    int oldest = -1;
    Clock::time_point when = Clock::time_point::max();
    for (auto &[fd, c] : conns) {
        const bool waiting = c.state == Conn::State::Idle || c.state == Conn::State::Head || c.state == Conn::State::Drain;
        if (waiting && c.started < when) {
            when = c.started;
            oldest = fd;
        }
    }
    if (oldest < 0)
        return false;
    close(oldest);
    return true;
}

void HttpFront::Impl::acceptAll(Clock::time_point now)
{
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // No descriptor left: stop asking for a moment rather than spin on the backlog.
                if (!makeRoomForced()) {
                    acceptPaused = true;
                    acceptResume = now + std::chrono::milliseconds(100);
                    epoll_ctl(epoll, EPOLL_CTL_DEL, listenFd, nullptr);
                }
            }
            return;
        }
        if (!makeRoom()) {
            ::close(fd);
            continue;
        }
        int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        Conn &c = conns[fd];
        c.fd = fd;
        c.started = now;
        toIdle(c, now);
        watch(c);
    }
}

bool HttpFront::Impl::makeRoomForced()
{
    const int keep = limits.maxConnections;
    limits.maxConnections = int(conns.size());
    const bool made = !conns.empty() && makeRoom();
    limits.maxConnections = keep;
    return made;
}

// A worker is done with a request: the connection waits for the next one, or is closed.
void HttpFront::Impl::served(const Done &done, Clock::time_point now)
{
    auto it = conns.find(done.fd);
    if (it == conns.end())
        return;
    Conn &c = it->second;
    release(c);
    if (!done.keep || stopping) {
        c.state = Conn::State::Drain; // watched again below, then drained
        watch(c);
        toDrain(c, now);
        return;
    }
    watch(c);
    toIdle(c, now);
    if (c.state == Conn::State::Head)
        headBytes(c, now);
}

void HttpFront::Impl::loop()
{
    epoll_event events[256];
    Clock::time_point lastSweep = Clock::now();
    while (!stopping) {
        const int n = epoll_wait(epoll, events, 256, 100);
        const Clock::time_point now = Clock::now();
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == listenFd) {
                acceptAll(now);
            } else if (fd == wakeFd) {
                eventfd_t value;
                (void)eventfd_read(wakeFd, &value);
                for (const Done &done : pool.takeDone())
                    served(done, now);
            } else if (auto it = conns.find(fd); it != conns.end()) {
                readable(it->second, now);
            }
        }
        if (now - lastSweep >= std::chrono::milliseconds(100)) {
            sweep(now);
            lastSweep = now;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The front

HttpFront::HttpFront(Limits limits, Hooks hooks) : d(std::make_unique<Impl>(limits, std::move(hooks))) {}

HttpFront::~HttpFront()
{
    stop();
    if (d->listenFd >= 0)
        ::close(d->listenFd);
    if (d->epoll >= 0)
        ::close(d->epoll);
    if (d->wakeFd >= 0)
        ::close(d->wakeFd);
}

Result<int> HttpFront::bind(const QString &host, int port)
{
    QString h = host;
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    const QByteArray service = QByteArray::number(port);
    if (::getaddrinfo(h.toUtf8().constData(), service.constData(), &hints, &found) != 0 || !found)
        return Result<int>::fail(QString());
    int fd = -1;
    for (addrinfo *a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // A connection that sends nothing is not even accepted for a second.
        int defer = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer, sizeof defer);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, kBacklog) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        return Result<int>::fail(QString());
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &len);
    d->listenFd = fd;
    return bound.ss_family == AF_INET6 ? int(ntohs(reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port))
                                       : int(ntohs(reinterpret_cast<sockaddr_in *>(&bound)->sin_port));
}

void HttpFront::start()
{
    // Room for the descriptors the rest of the process uses (the database's, the log's) beside them.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const qint64 room = qint64(files.rlim_cur) - 128;
        d->limits.maxConnections = int(std::clamp<qint64>(room, 64, d->limits.maxConnections));
    }
    d->epoll = epoll_create1(EPOLL_CLOEXEC);
    d->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    for (int fd : {d->listenFd, d->wakeFd}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(d->epoll, EPOLL_CTL_ADD, fd, &ev);
    }
    d->pool.start(d->limits.workers, d->hooks.serve, d->wakeFd);
    d->running = true;
    d->thread = std::thread([this] {
        d->loop();
        d->running = false;
    });
}

void HttpFront::stop()
{
    if (!d->thread.joinable())
        return;
    d->stopping = true;
    (void)eventfd_write(d->wakeFd, 1);
    d->thread.join();
    for (int fd : d->pool.stop())
        d->conns.erase(fd), ::close(fd);
    for (auto &[fd, c] : d->conns)
        ::close(fd);
    d->conns.clear();
    d->running = false;
}

bool HttpFront::isRunning() const
{
    return d->running;
}
