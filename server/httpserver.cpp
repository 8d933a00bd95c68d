#include "httpserver.h"
#include "importorigin.h"
#include "messages.h"
#include "rdmcalls.h"
#include "requestlog.h"
#include "wire.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

// The HTTP edge. cpp-httplib 0.11.4 reads a request with a timeout per read only, checks the size
// of a body with a length and not of a chunked one, and reads the whole body before the routing
// handlers see it. So each connection is served here through a stream of our own, in front of the
// library's request parser:
// - a connection waits at most kIdleSeconds for its (next) request, and the request line and
//   headers must be in within kHeaderSeconds of their first byte;
// - the body then has kBodySeconds plus one second per kBodyBytesPerSecond of its length, and no
//   read may wait longer than kReadSeconds;
// - every byte of a request counts against the cap, however the body is framed; the token, the
//   length and the framing are checked on the headers, before any byte of the body is read, and a
//   refused request closes its connection so its unread body is never taken for a request;
// - kWorkers connections are served at once (the library's default is 8, which a few idle
//   connections used to fill).
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIdleSeconds = 1;
constexpr int kHeaderSeconds = 5;
constexpr int kReadSeconds = 10;
constexpr int kWriteSeconds = 30;
constexpr int kBodySeconds = 30;
constexpr qint64 kBodyBytesPerSecond = qint64(1) << 20;
constexpr qint64 kHeaderBytes = 64 * 1024;
constexpr int kWorkers = 256;

// What the log line of the request being served says beyond its status (requestlog.h).
struct RequestNote {
    QString outcome, key, error;
    QList<QPair<QString, QString>> fields;
};

class GuardedStream final : public httplib::Stream {
public:
    GuardedStream(int fd, qint64 cap) : m_fd(fd), m_cap(cap + kHeaderBytes) {}

    // A request begins: its headers have kHeaderSeconds from now.
    void beginRequest()
    {
        m_bytes = qint64(m_len - m_off); // bytes of this request already buffered
        m_started = Clock::now();
        m_startedAt = QDateTime::currentDateTimeUtc();
        m_deadline = m_started + std::chrono::seconds(kHeaderSeconds);
        m_close = false;
        m_note = RequestNote();
    }
    RequestNote &note() { return m_note; }
    const QDateTime &startedAt() const { return m_startedAt; }
    qint64 elapsedMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_started).count();
    }
    // The headers are in; the body, of `length` bytes, has its own time.
    void headersDone(qint64 length)
    {
        m_deadline = Clock::now() + std::chrono::seconds(kBodySeconds)
            + std::chrono::seconds(qMax<qint64>(0, length) / kBodyBytesPerSecond);
    }
    void closeAfterReply() { m_close = true; }
    bool mustClose() const { return m_close; }

    bool is_readable() const override { return m_off < m_len; }
    bool is_writable() const override
    {
        pollfd p{m_fd, POLLOUT, 0};
        return ::poll(&p, 1, kWriteSeconds * 1000) > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL));
    }

    ssize_t read(char *ptr, size_t size) override
    {
        if (m_off < m_len) {
            const size_t n = std::min(size, m_len - m_off);
            std::memcpy(ptr, m_buffer + m_off, n);
            m_off += n;
            return ssize_t(n);
        }
        if (size == 0)
            return 0;
        if (m_bytes >= m_cap) {
            m_close = true;
            return -1;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
        if (left <= 0) {
            m_close = true;
            return -1;
        }
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::min<qint64>(left, kReadSeconds * 1000))) <= 0) {
            m_close = true;
            return -1;
        }
        const size_t room = size_t(std::min<qint64>(m_cap - m_bytes, qint64(sizeof m_buffer)));
        ssize_t n;
        if (size >= sizeof m_buffer) {
            n = ::recv(m_fd, ptr, std::min(size, room), 0);
        } else {
            n = ::recv(m_fd, m_buffer, room, 0);
            if (n > 0) {
                m_len = size_t(n);
                m_off = 0;
                m_bytes += n;
                return read(ptr, size);
            }
        }
        if (n <= 0) {
            m_close = true;
            return -1;
        }
        m_bytes += n;
        return n;
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        return ::send(m_fd, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { address(true, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { address(false, ip, port); }
    socket_t socket() const override { return m_fd; }

    // Waits for the first byte of a request; false when none comes in time or the peer has gone.
    bool waitForRequest() const
    {
        if (m_off < m_len)
            return true;
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, kIdleSeconds * 1000) > 0 && (p.revents & POLLIN);
    }

private:
    void address(bool remote, std::string &ip, int &port) const
    {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        const int rc = remote ? ::getpeername(m_fd, reinterpret_cast<sockaddr *>(&a), &len)
                              : ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
        ip.clear();
        port = 0;
        if (rc != 0)
            return;
        char text[INET6_ADDRSTRLEN] = {};
        if (a.ss_family == AF_INET) {
            const auto *v4 = reinterpret_cast<const sockaddr_in *>(&a);
            ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
            port = ntohs(v4->sin_port);
        } else if (a.ss_family == AF_INET6) {
            const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&a);
            ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
            port = ntohs(v6->sin6_port);
        }
        ip = text;
    }

    int m_fd;
    qint64 m_cap;
    qint64 m_bytes = 0;
    Clock::time_point m_deadline;
    Clock::time_point m_started;
    QDateTime m_startedAt;
    RequestNote m_note;
    bool m_close = false;
    char m_buffer[16 * 1024];
    size_t m_off = 0, m_len = 0;
};

// The stream of the connection this worker serves, for the handlers the library calls on it.
thread_local GuardedStream *t_stream = nullptr;

class GuardedServer final : public httplib::Server {
public:
    explicit GuardedServer(qint64 cap) : m_cap(cap)
    {
        new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        {
            GuardedStream stream(sock, m_cap);
            t_stream = &stream;
            for (size_t count = keep_alive_max_count_; count > 0 && svr_sock_ != INVALID_SOCKET; --count) {
                if (!stream.waitForRequest())
                    break;
                stream.beginRequest();
                bool closed = false;
                const bool ok = process_request(stream, count == 1, closed, nullptr);
                if (!ok || closed || stream.mustClose())
                    break;
            }
            t_stream = nullptr;
            if (stream.mustClose())
                lingeringClose(sock);
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return true;
    }

    // A connection refused with its body unread: closing it at once would reset it, and the client
    // could lose the answer it is about to read. The answer is out; the rest of what the client
    // sends is read and dropped for a moment, bounded in time and bytes, and then it is closed.
    static void lingeringClose(socket_t sock)
    {
        ::shutdown(sock, SHUT_WR);
        const auto until = Clock::now() + std::chrono::seconds(2);
        qint64 dropped = 0;
        char buf[16 * 1024];
        while (dropped < (qint64(8) << 20)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            pollfd p{sock, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
                break;
            const ssize_t n = ::recv(sock, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            dropped += n;
        }
    }

    qint64 m_cap;
};

// Compares without stopping at the first difference, so the time taken tells nothing of the token.
bool sameToken(const std::string &a, const std::string &b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        diff |= static_cast<unsigned char>((i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

void reply(httplib::Response &res, int status, const QByteArray &body)
{
    res.status = status;
    res.set_content(body.constData(), size_t(body.size()), "application/cbor");
}

// Answers on the headers alone and closes the connection: the body, if any, is never read.
httplib::Server::HandlerResponse refuse(httplib::Response &res, int status, const QString &key)
{
    reply(res, status, Wire::encodeFailure(Failure{Msg(key), key, {}}));
    res.set_header("Connection", "close");
    if (t_stream) {
        t_stream->closeAfterReply();
        t_stream->note().outcome = QStringLiteral("refused");
        t_stream->note().key = key;
    }
    return httplib::Server::HandlerResponse::Handled;
}

const std::string kMethodPrefix = std::string("/") + kServerName + "/";

// The log's account of a method call: its outcome, and for an import where the file came from and
// what was written.
void noteCall(RequestNote &note, const QString &method, const ImportOrigin &origin, const Result<QByteArray> &result)
{
    note.outcome = result ? QStringLiteral("ok") : QStringLiteral("failed");
    if (!result) {
        note.key = result.failure().key;
        note.error = result.failure().message;
    }
    if (method != QLatin1String("Importacao"))
        return;
    if (!origin.operatorCode.isEmpty())
        note.fields.append({QStringLiteral("operator"), origin.operatorCode});
    if (!origin.fileName.isEmpty())
        note.fields.append({QStringLiteral("file"), origin.fileName});
    if (!result)
        return;
    const Result<ImportSummary> summary = ImportSummary::decode(result.value());
    if (!summary)
        return;
    QStringList rows;
    for (const auto &[table, count] : summary->rowsPerTable)
        rows << QStringLiteral("%1:%2").arg(table).arg(count);
    note.fields.append({QStringLiteral("dishes_written"), QString::number(summary->dishesWritten)});
    note.fields.append({QStringLiteral("dishes_refused"), QString::number(summary->dishesNotWritten.size())});
    note.fields.append({QStringLiteral("rows"), rows.join(QLatin1Char(','))});
}

// The log line of a request that has been answered (on the worker thread that served it).
RequestLog logEntry(const httplib::Request &req, const httplib::Response &res)
{
    RequestLog entry;
    entry.time = t_stream ? t_stream->startedAt() : QDateTime::currentDateTimeUtc();
    entry.ms = t_stream ? t_stream->elapsedMs() : 0;
    // A request whose first line could not be read has no address yet: the socket still has one.
    std::string ip = req.remote_addr;
    int port = req.remote_port;
    if (ip.empty() && t_stream)
        t_stream->get_remote_ip_and_port(ip, port);
    const QString address = QString::fromStdString(ip);
    entry.peer = (address.contains(QLatin1Char(':')) ? QLatin1Char('[') + address + QLatin1Char(']') : address)
        + QLatin1Char(':') + QString::number(port);
    if (req.method == "POST" && req.path.rfind(kMethodPrefix, 0) == 0) {
        entry.method = QString::fromStdString(req.path.substr(kMethodPrefix.size())).left(64);
    } else {
        entry.method = QString::fromStdString(req.method).left(16);
        entry.path = QString::fromStdString(req.path);
    }
    entry.status = res.status;
    if (t_stream) {
        const RequestNote &note = t_stream->note();
        entry.outcome = note.outcome;
        entry.key = note.key;
        entry.error = note.error;
        entry.fields = note.fields;
    }
    if (entry.outcome.isEmpty())
        entry.outcome = res.status < 400 ? QStringLiteral("ok") : QStringLiteral("refused");
    return entry;
}

} // namespace

struct HttpServer::Impl {
    explicit Impl(qint64 cap) : server(cap) {}
    std::shared_ptr<RemoteDataModule> module;
    std::string token;
    qint64 maxRequest = 0;
    GuardedServer server;
    std::thread thread;
    std::atomic<bool> running{false};
    int port = 0;
    std::function<void(const QByteArray &)> log;
    std::mutex logMutex; // one line at a time, whatever the worker

    void serveMethods();
    void serveHealth();
    void logRequests();
};

// POST /IMP40500.rdmImpoPrato/<Method>: the call, from and to the wire format.
void HttpServer::Impl::serveMethods()
{
    const std::string pattern = std::string("/") + kServerName;
    std::string escaped;
    for (char c : pattern) {
        if (c == '.')
            escaped += '\\';
        escaped += c;
    }
    server.Post(escaped + R"(/([A-Za-z]{1,64}))", [this](const httplib::Request &req, httplib::Response &res) {
        const QString method = QString::fromStdString(req.matches[1]);
        const QByteArray body = QByteArray::fromRawData(req.body.data(), qsizetype(req.body.size()));
        // The file an import comes from, for its history row (the module takes it over to its thread).
        const ImportOrigin origin = ImportOrigin::fromHeader(QByteArray::fromStdString(req.get_header_value(kOriginHeader)));
        const ImportOrigin::Scope scope(origin);
        const Result<CallArgs> args = Wire::decodeRequest(body);
        const Result<QByteArray> result = args ? module->call(method, args.value()) : Result<QByteArray>(args.failure());
        if (t_stream)
            noteCall(t_stream->note(), method, origin, result);
        reply(res, 200, Wire::encodeReply(result));
    });
}

// GET /health: the version, and whether the database answers (503 when it does not).
void HttpServer::Impl::serveHealth()
{
    server.Get(kHealthPath, [this](const httplib::Request &, httplib::Response &res) {
        const bool open = module->databaseOpen();
        QJsonObject health{{QStringLiteral("server"), QLatin1String(kServerName)},
                           {QStringLiteral("version"), QStringLiteral(IMP_VERSION)},
                           {QStringLiteral("database"), open ? QStringLiteral("open") : QStringLiteral("closed")}};
        const QByteArray body = QJsonDocument(health).toJson(QJsonDocument::Compact) + '\n';
        res.status = open ? 200 : 503;
        res.set_content(body.constData(), size_t(body.size()), "application/json");
        if (t_stream && !open) {
            t_stream->note().outcome = QStringLiteral("failed");
            t_stream->note().key = QStringLiteral("Srv_BancoFechado");
        }
    });
}

// The library calls its logger once a request has been answered, whatever answered it.
void HttpServer::Impl::logRequests()
{
    server.set_logger([this](const httplib::Request &req, const httplib::Response &res) {
        if (!log)
            return;
        const QByteArray line = logEntry(req, res).line();
        const std::lock_guard lock(logMutex);
        log(line);
    });
}

HttpServer::HttpServer(std::shared_ptr<RemoteDataModule> module, QString token, qint64 maxRequestBytes)
    : d(std::make_unique<Impl>(maxRequestBytes))
{
    d->module = std::move(module);
    d->token = token.toStdString();
    d->maxRequest = maxRequestBytes;

    d->server.set_payload_max_length(size_t(maxRequestBytes));
    d->server.set_read_timeout(kReadSeconds, 0);
    d->server.set_write_timeout(kWriteSeconds, 0);
    d->server.set_keep_alive_timeout(kIdleSeconds);
    d->server.set_keep_alive_max_count(100);
    d->server.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // A connection that sends nothing is not even handed to a worker for a while.
        int defer = kIdleSeconds;
        ::setsockopt(sock, IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer, sizeof defer);
    });

    // Runs on the headers, before any byte of the body is read.
    d->server.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        // The health path tells nothing of the data: a monitor asks it without the token.
        const bool health = req.path == kHealthPath && (req.method == "GET" || req.method == "HEAD");
        if (!health && !d->token.empty() && !sameToken(req.get_header_value("X-IMP-Token"), d->token))
            return refuse(res, 401, QStringLiteral("Srv_TokenInvalido"));
        // The client always sends a length; a chunked body would only be counted as it came.
        if (req.has_header("Transfer-Encoding"))
            return refuse(res, 411, QStringLiteral("Srv_TamanhoExigido"));
        qint64 length = 0;
        if (req.has_header("Content-Length")) {
            bool ok = false;
            length = QByteArray::fromStdString(req.get_header_value("Content-Length")).trimmed().toLongLong(&ok);
            if (!ok || length < 0)
                return refuse(res, 400, QStringLiteral("Srv_TamanhoExigido"));
            if (length > d->maxRequest)
                return refuse(res, 413, QStringLiteral("Srv_TamanhoExcedido"));
        }
        if (t_stream)
            t_stream->headersDone(length);
        return httplib::Server::HandlerResponse::Unhandled;
    });

    d->serveMethods();
    d->serveHealth();
    d->logRequests();

    d->server.set_error_handler([](const httplib::Request &req, httplib::Response &res) {
        if (!res.body.empty())
            return;
        QString text;
        if (res.status == 413)
            text = Msg(QStringLiteral("Srv_TamanhoExcedido"));
        else if (res.status == 404)
            text = QStringLiteral("Endereço desconhecido no servidor de aplicação: %1")
                       .arg(QString::fromStdString(req.path).left(120));
        else
            text = QStringLiteral("Requisição recusada pelo servidor de aplicação (HTTP %1).").arg(res.status);
        reply(res, res.status, Wire::encodeFailure(text));
    });
    d->server.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        reply(res, 500, Wire::encodeFailure(QStringLiteral("Falha interna do servidor de aplicação.")));
    });
}

void HttpServer::setRequestLog(std::function<void(const QByteArray &line)> sink)
{
    d->log = std::move(sink);
}

HttpServer::~HttpServer()
{
    stop();
}

Result<int> HttpServer::start(const QString &host, int port)
{
    if (d->running)
        return Result<int>::fail(QStringLiteral("O servidor já está em execução."));
    const std::string h = host.toStdString();
    int bound = -1;
    if (port == 0) {
        bound = d->server.bind_to_any_port(h);
    } else if (d->server.bind_to_port(h, port)) {
        bound = port;
    }
    if (bound <= 0)
        return Result<int>::fail(QStringLiteral("Não foi possível escutar em %1:%2 (endereço em uso ou inválido).")
                                     .arg(host)
                                     .arg(port));
    d->port = bound;
    d->running = true;
    d->thread = std::thread([this] {
        d->server.listen_after_bind();
        d->running = false;
    });
    return bound;
}

void HttpServer::stop()
{
    if (d->thread.joinable()) {
        // A stop before the listening thread has entered its loop would be lost, and the join
        // below would wait for ever: a server stopped right after it started.
        while (d->running && !d->server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        d->server.stop();
        d->thread.join();
    }
    d->running = false;
}

bool HttpServer::isRunning() const
{
    return d->running;
}

int HttpServer::port() const
{
    return d->port;
}
