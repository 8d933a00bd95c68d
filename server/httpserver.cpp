#include "httpserver.h"
#include "httpfront.h"
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

#include <chrono>
#include <cstring>
#include <mutex>

// The HTTP edge. The front (httpfront.h) reads every request whole, judges its head (framing,
// token, length, the memory for its body) and refuses on the head alone; cpp-httplib then parses
// and routes a request whose bytes are all in memory, on a worker, through a stream of our own.
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWriteSeconds = 30;

// What the log line of the request being served says beyond its status (requestlog.h).
struct RequestNote {
    QString outcome, key, error;
    QList<QPair<QString, QString>> fields;
};

// One request, its bytes in memory, and its connection for the answer.
class RequestStream final : public httplib::Stream {
public:
    explicit RequestStream(HttpFront::Request &r) : m_request(r) {}

    RequestNote &note() { return m_note; }
    const QDateTime &startedAt() const { return m_request.startedAt; }
    qint64 elapsedMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_request.started).count();
    }
    // The body, where the front read it.
    QByteArray body() const
    {
        const RequestHead &h = m_request.head;
        return QByteArray::fromRawData(m_request.bytes.get() + h.size, qsizetype(m_request.size - h.size));
    }

    bool is_readable() const override { return m_off < m_request.size; }
    bool is_writable() const override { return waitWritable(kWriteSeconds * 1000); }

    ssize_t read(char *ptr, size_t size) override
    {
        const size_t n = std::min(size, size_t(m_request.size - m_off));
        if (n == 0)
            return 0;
        std::memcpy(ptr, m_request.bytes.get() + m_off, n);
        m_off += qsizetype(n);
        return ssize_t(n);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        // The body is in before the request reaches the library: its "100 Continue" is late, and
        // the front sent one when the client asked for it.
        if (size >= 13 && std::memcmp(ptr, "HTTP/1.1 100 ", 13) == 0)
            return ssize_t(size);
        const auto until = Clock::now() + std::chrono::seconds(kWriteSeconds);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(m_request.fd, ptr + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return -1;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0 || !waitWritable(int(left)))
                return -1;
        }
        return ssize_t(size);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { address(m_request.fd, true, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { address(m_request.fd, false, ip, port); }
    socket_t socket() const override { return m_request.fd; }

    static void address(int fd, bool remote, std::string &ip, int &port)
    {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        const int rc = remote ? ::getpeername(fd, reinterpret_cast<sockaddr *>(&a), &len)
                              : ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
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

private:
    bool waitWritable(int ms) const
    {
        pollfd p{m_request.fd, POLLOUT, 0};
        return ::poll(&p, 1, ms) > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL));
    }

    HttpFront::Request &m_request;
    qsizetype m_off = 0;
    RequestNote m_note;
};

// The stream of the request this worker serves, for the handlers the library calls on it.
thread_local RequestStream *t_stream = nullptr;

// The library as a parser and router of requests already in memory: the front accepts and reads.
class Router final : public httplib::Server {
public:
    // Whether the connection may stay open for another request.
    bool serve(HttpFront::Request &request)
    {
        RequestStream stream(request);
        t_stream = &stream;
        bool closed = false;
        const bool ok = process_request(stream, request.last, closed, nullptr);
        t_stream = nullptr;
        return ok && !closed;
    }
};

QString peerOf(int fd)
{
    std::string ip;
    int port = 0;
    RequestStream::address(fd, true, ip, port);
    const QString address = QString::fromStdString(ip);
    return (address.contains(QLatin1Char(':')) ? QLatin1Char('[') + address + QLatin1Char(']') : address)
        + QLatin1Char(':') + QString::number(port);
}

const char *reasonPhrase(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Refused";
    }
}

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
    if (t_stream) {
        entry.peer = peerOf(t_stream->socket());
    } else {
        const QString address = QString::fromStdString(req.remote_addr);
        entry.peer = address + QLatin1Char(':') + QString::number(req.remote_port);
    }
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
    std::shared_ptr<RemoteDataModule> module;
    std::string token;
    HttpFront::Limits limits;
    Router router;
    std::unique_ptr<HttpFront> front;
    int port = 0;
    std::function<void(const QByteArray &)> log;
    std::mutex logMutex; // one line at a time, whatever the thread

    void serveMethods();
    void serveHealth();
    void logRequests();
    void writeLog(const RequestLog &entry);
    int admit(const RequestHead &head, QString *key) const;
    QByteArray refusal(const HttpFront::Hooks::Refusal &r);
};

// POST /IMP40500.rdmImpoPrato/<Method>: the call, from and to the wire format. The body is read
// where the front put it, not copied into the library's request.
void HttpServer::Impl::serveMethods()
{
    const std::string pattern = std::string("/") + kServerName;
    std::string escaped;
    for (char c : pattern) {
        if (c == '.')
            escaped += '\\';
        escaped += c;
    }
    router.Post(escaped + R"(/([A-Za-z]{1,64}))",
                [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &) {
                    const QString method = QString::fromStdString(req.matches[1]);
                    const QByteArray body = t_stream ? t_stream->body() : QByteArray();
                    // The file an import comes from, for its history row (the module takes it over to its thread).
                    const ImportOrigin origin
                        = ImportOrigin::fromHeader(QByteArray::fromStdString(req.get_header_value(kOriginHeader)));
                    const ImportOrigin::Scope scope(origin);
                    const Result<CallArgs> args = Wire::decodeRequestShared(body);
                    const Result<QByteArray> result
                        = args ? module->call(method, args.value()) : Result<QByteArray>(args.failure());
                    if (t_stream)
                        noteCall(t_stream->note(), method, origin, result);
                    reply(res, 200, Wire::encodeReply(result));
                });
}
// GET /health: the version, and whether the database answers (503 when it does not).
void HttpServer::Impl::serveHealth()
{
    router.Get(kHealthPath, [this](const httplib::Request &, httplib::Response &res) {
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
    router.set_logger([this](const httplib::Request &req, const httplib::Response &res) { writeLog(logEntry(req, res)); });
}

void HttpServer::Impl::writeLog(const RequestLog &entry)
{
    if (!log)
        return;
    const QByteArray line = entry.line();
    const std::lock_guard lock(logMutex);
    log(line);
}

// On the front's thread, once a head is in: the token (not asked of the health path, which tells
// nothing of the data and which a monitor asks without it).
int HttpServer::Impl::admit(const RequestHead &head, QString *key) const
{
    const bool health = head.path() == kHealthPath && (head.method == "GET" || head.method == "HEAD");
    if (health || token.empty())
        return 0;
    if (head.tokenRepeated || !sameToken(head.token.toStdString(), token)) {
        *key = QStringLiteral("Srv_TokenInvalido");
        return 401;
    }
    return 0;
}

// The whole answer to a request the front refused on its head, and its log line.
QByteArray HttpServer::Impl::refusal(const HttpFront::Hooks::Refusal &r)
{
    const QByteArray body = Wire::encodeFailure(Failure{Msg(r.key), r.key, {}});
    RequestLog entry;
    entry.time = r.startedAt;
    entry.ms = r.ms;
    entry.peer = peerOf(r.fd);
    entry.status = r.status;
    entry.outcome = QStringLiteral("refused");
    entry.key = r.key;
    const QByteArray prefix = QByteArray("/") + kServerName + "/";
    if (r.head && r.head->method == "POST" && r.head->path().startsWith(prefix)) {
        entry.method = QString::fromLatin1(r.head->path().mid(prefix.size()).left(64));
    } else if (r.head) {
        entry.method = QString::fromLatin1(r.head->method.left(16));
        entry.path = QString::fromLatin1(r.head->path());
    }
    writeLog(entry);
    return "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reasonPhrase(r.status)
        + "\r\nContent-Type: application/cbor\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
}

HttpServer::HttpServer(std::shared_ptr<RemoteDataModule> module, QString token, qint64 maxRequestBytes)
    : d(std::make_unique<Impl>())
{
    d->module = std::move(module);
    d->token = token.toStdString();
    d->limits.maxRequest = maxRequestBytes;
    d->limits.bodyBudget = 2 * maxRequestBytes;
    d->router.set_payload_max_length(size_t(maxRequestBytes));

    d->serveMethods();
    d->serveHealth();
    d->logRequests();

    d->router.set_error_handler([](const httplib::Request &req, httplib::Response &res) {
        if (!res.body.empty())
            return;
        QString text;
        if (res.status == 404)
            text = QStringLiteral("Endereço desconhecido no servidor de aplicação: %1")
                       .arg(QString::fromStdString(req.path).left(120));
        else
            text = QStringLiteral("Requisição recusada pelo servidor de aplicação (HTTP %1).").arg(res.status);
        reply(res, res.status, Wire::encodeFailure(text));
    });
    d->router.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        reply(res, 500, Wire::encodeFailure(QStringLiteral("Falha interna do servidor de aplicação.")));
    });
}

void HttpServer::setRequestLog(std::function<void(const QByteArray &line)> sink)
{
    d->log = std::move(sink);
}

void HttpServer::setBodyBudget(qint64 bytes)
{
    d->limits.bodyBudget = qMax(bytes, d->limits.maxRequest);
}

HttpServer::~HttpServer()
{
    stop();
}

Result<int> HttpServer::start(const QString &host, int port)
{
    if (d->front)
        return Result<int>::fail(QStringLiteral("O servidor já está em execução."));
    HttpFront::Hooks hooks;
    hooks.admit = [this](const RequestHead &head, QString *key) { return d->admit(head, key); };
    hooks.refuse = [this](const HttpFront::Hooks::Refusal &r) { return d->refusal(r); };
    hooks.serve = [this](HttpFront::Request &r) { return d->router.serve(r); };
    auto front = std::make_unique<HttpFront>(d->limits, std::move(hooks));
    const Result<int> bound = front->bind(host, port);
    if (!bound)
        return Result<int>::fail(QStringLiteral("Não foi possível escutar em %1:%2 (endereço em uso ou inválido).")
                                     .arg(host)
                                     .arg(port));
    d->port = bound.value();
    d->front = std::move(front);
    d->front->start();
    return bound;
}

void HttpServer::stop()
{
    if (d->front)
        d->front->stop();
    d->front.reset();
}

bool HttpServer::isRunning() const
{
    return d->front && d->front->isRunning();
}

int HttpServer::port() const
{
    return d->port;
}
