// The HTTP transport of the application server: one POST per call to
// http://host:port/IMP40500.rdmImpoPrato/<Method>, the token in the header X-IMP-Token.
#include "importorigin.h"
#include "messages.h"
#include "transport.h"
#include "wire.h"

#include <httplib.h>

#include <QCborMap>
#include <QCborValue>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// A call's deadline, kept by one thread per transport. The read timeout alone bounds each read:
// a server that sends its answer, or only its head, a byte at a time would hold the caller for
// ever. At the deadline the watch shuts the call's socket, and the call ends as a failed read.
struct CallWatch {
    using Clock = std::chrono::steady_clock;

    ~CallWatch()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void begin(httplib::Client *client, Clock::time_point deadline)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_client = client;
            m_deadline = deadline;
            m_fired = false;
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
            // A watch already asleep until this deadline or sooner is left to wake by itself: it
            // then waits on for this call. The lookups, one after another, do not wake it each.
            if (m_sleepsUntil <= deadline)
                return;
        }
        m_wake.notify_all();
    }

    // The call is over; whether the watch cut it.
    bool end()
    {
        const std::lock_guard lock(m_mutex);
        m_client = nullptr;
        return m_fired;
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quit) {
            if (!m_client) {
                m_sleepsUntil = Clock::time_point::max();
                m_wake.wait(lock);
            } else if (Clock::now() < m_deadline) {
                m_sleepsUntil = m_deadline;
                m_wake.wait_until(lock, m_deadline);
            } else {
                m_client->stop();
                m_fired = true;
                m_client = nullptr;
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    httplib::Client *m_client = nullptr;
    Clock::time_point m_deadline;
    Clock::time_point m_sleepsUntil = Clock::time_point::max(); // when the watch wakes by itself
    bool m_fired = false;
    bool m_quit = false;
};

// The connection the lookups go over, one after another: a file's check asks the server once per
// local dish, and a connection of its own for each would cost the client and the server more than
// the lookup itself (the connect, the accept, the close, a socket left waiting in the kernel). Only
// calls that read nothing but a few rows use it; the import, its preview, the undo and the calls
// that write get a connection each. A caller on another thread while it is busy gets one of its own.
struct KeptConnection {
    std::mutex busy;
    std::unique_ptr<httplib::Client> client;
    bool used = false; // it has answered a call: the server may have closed it since
};

namespace {

// Whether a call may go over the kept connection: it only reads, and sending it twice is harmless.
bool keptCall(const QString &method)
{
    return method.startsWith(QLatin1String("Get")) && !HttpTransport::isLongCall(method);
}

void setTimeouts(httplib::Client &client, int connectSeconds, int seconds, bool keep = false)
{
    client.set_keep_alive(keep);
    // A request goes out as its head and then its body; the body must not wait for the head's
    // acknowledgement, which a kept connection would otherwise get only with the next request.
    client.set_tcp_nodelay(true);
    client.set_connection_timeout(connectSeconds, 0);
    client.set_read_timeout(seconds, 0);
    client.set_write_timeout(seconds, 0);
}

httplib::Request postRequest(const QString &method, const CallArgs &args, const QString &token)
{
    httplib::Request req;
    req.method = "POST";
    req.path = "/" + std::string(kServerName) + "/" + method.toStdString();
    req.headers.emplace("Content-Type", "application/cbor");
    if (!token.isEmpty())
        req.headers.emplace("X-IMP-Token", token.toStdString());
    if (const ImportOrigin &origin = ImportOrigin::current(); !origin.isEmpty())
        req.headers.emplace(kOriginHeader, origin.toHeader().toStdString());
    req.body = Wire::encodeRequestBody(args);
    return req;
}

// A failed read, or a failure httplib does not name, may come after the server received the whole
// call; a refused connection, a connect timeout or a failed write cannot.
bool mayHaveRun(httplib::Error error)
{
    switch (error) {
    case httplib::Error::Connection:
    case httplib::Error::BindIPAddress:
    case httplib::Error::ConnectionTimeout:
    case httplib::Error::Write:
        return false;
    default:
        return true;
    }
}

// The text of a call that did not get through, for a call that cannot have run at the server.
QString sendFailure(httplib::Error error, const QString &method, const QString &where, int timeout)
{
    switch (error) {
    case httplib::Error::Connection:
    case httplib::Error::BindIPAddress:
        return QStringLiteral("Não foi possível conectar ao servidor de aplicação em %1: "
                              "o servidor está fora do ar ou o endereço está errado.")
            .arg(where);
    case httplib::Error::ConnectionTimeout:
        return QStringLiteral("Tempo esgotado ao conectar ao servidor de aplicação em %1.").arg(where);
    case httplib::Error::Read:
        return QStringLiteral("O servidor de aplicação em %1 não respondeu em %2 segundos ou "
                              "encerrou a conexão.")
            .arg(where)
            .arg(timeout);
    case httplib::Error::Write:
        return QStringLiteral("Falha ao enviar a chamada %1 ao servidor de aplicação em %2.").arg(method, where);
    default:
        return QStringLiteral("Falha na comunicação com o servidor de aplicação em %1 (%2).")
            .arg(where, QString::fromStdString(httplib::to_string(error)));
    }
}

// The text of a reply other than 200.
QString refusalText(int status, const QByteArray &bytes, const QString &method, const QString &where)
{
    if (status == 401 || status == 403)
        return QStringLiteral("Acesso recusado pelo servidor de aplicação em %1: token ausente ou inválido.").arg(where);
    if (status == 413)
        return QStringLiteral("A chamada %1 excede o tamanho aceito pelo servidor de aplicação em %2.").arg(method, where);
    // The server answers other refusals in the wire format too; use its words when it gave them.
    const QCborValue refusal = QCborValue::fromCbor(bytes);
    if (refusal.isMap() && refusal.toMap().value(QStringLiteral("ok")).isFalse()
        && refusal.toMap().value(QStringLiteral("error")).isString())
        return refusal.toMap().value(QStringLiteral("error")).toString();
    return QStringLiteral("O servidor de aplicação em %1 respondeu com o status HTTP %2 à chamada %3.")
        .arg(where)
        .arg(status)
        .arg(method);
}


// One request and its answer over `client`, watched until `deadline`.
struct Exchange {
    httplib::Response res;
    httplib::Error error = httplib::Error::Success;
    bool sent = false;
    bool cut = false;      // by the watch, after the request had gone out
    bool tooLarge = false; // the answer passed the caller's cap
    std::string reply;
    bool ok() const { return sent && error == httplib::Error::Success; }
};

Exchange exchange(httplib::Client &client, CallWatch &watch, CallWatch::Clock::time_point deadline,
                  httplib::Request req, qint64 maxReply)
{
    Exchange x;
    // The size cap is checked against the announced length first and again against what arrives.
    req.response_handler = [&](const httplib::Response &res) {
        if (res.has_header("Content-Length")) {
            const std::string len = res.get_header_value("Content-Length");
            bool ok = false;
            const qint64 n = QByteArray::fromStdString(len).toLongLong(&ok);
            if (!ok || n < 0 || n > maxReply) {
                x.tooLarge = true;
                return false;
            }
            x.reply.reserve(size_t(qMin<qint64>(n, 64 * 1024 * 1024)));
        }
        return true;
    };
    req.content_receiver = [&](const char *data, size_t n, uint64_t, uint64_t) {
        if (qint64(x.reply.size()) + qint64(n) > maxReply) {
            x.tooLarge = true;
            return false;
        }
        x.reply.append(data, n);
        return true;
    };
    watch.begin(&client, deadline);
    x.sent = client.send(req, x.res, x.error);
    // Cut while its request was still going out, the call cannot have run.
    x.cut = watch.end() && x.error != httplib::Error::Write;
    return x;
}

} // namespace

HttpTransport::HttpTransport(QString host, int port, QString token, int callSeconds, int importSeconds)
    : m_host(std::move(host))
    , m_port(port)
    , m_token(std::move(token))
    , m_callTimeout(qMax(1, callSeconds))
    , m_importTimeout(qMax(1, importSeconds))
    , m_watch(std::make_unique<CallWatch>())
    , m_kept(std::make_unique<KeptConnection>())
{
}

HttpTransport::~HttpTransport() = default;

bool HttpTransport::isLongCall(const QString &method)
{
    return method == QLatin1String("Importacao") || method == QLatin1String("GetPrevia")
        || method == QLatin1String("Desfazer");
}

void HttpTransport::setMaxReplyBytes(qint64 bytes)
{
    m_maxReply = qBound<qint64>(0, bytes, kMaxReplyBytes);
}

void HttpTransport::setConnectTimeout(int seconds)
{
    m_connectTimeout = qMax(1, seconds);
}

Result<QByteArray> HttpTransport::call(const QString &method, const CallArgs &args)
{
    const QString where = QStringLiteral("%1:%2").arg(m_host).arg(m_port);
    const auto fail = [](const QString &text) { return Result<QByteArray>::fail(text); };
    const int limit = isLongCall(method) ? m_importTimeout : m_callTimeout;
    const int connectLimit = qMin(m_connectTimeout, limit);

    // A second beyond the read timeout, so that a server that sends nothing is told as such.
    const int deadline = limit + 1;
    const auto deadlineFromNow = [deadline] { return CallWatch::Clock::now() + std::chrono::seconds(deadline); };
    Exchange x;
    std::unique_lock kept(m_kept->busy, std::defer_lock);
    if (keptCall(method) && kept.try_lock()) {
        KeptConnection &k = *m_kept;
        if (!k.client) {
            k.client = std::make_unique<httplib::Client>(m_host.toStdString(), m_port);
            k.used = false;
        }
        setTimeouts(*k.client, connectLimit, limit, true);
        const auto started = CallWatch::Clock::now();
        x = exchange(*k.client, *m_watch, deadlineFromNow(), postRequest(method, args, m_token), m_maxReply);
        // A connection that has answered before and fails at once was closed by the server in
        // the meantime (idle, or at its count of requests): the lookup goes again on a new one.
        if (k.used && !x.ok() && !x.cut && !x.tooLarge && CallWatch::Clock::now() - started < std::chrono::seconds(1)) {
            k.client->stop();
            x = exchange(*k.client, *m_watch, deadlineFromNow(), postRequest(method, args, m_token), m_maxReply);
        }
        k.used = x.ok() && !x.tooLarge;
        if (!k.used)
            k.client.reset();
    } else {
        httplib::Client client(m_host.toStdString(), m_port);
        setTimeouts(client, connectLimit, limit);
        x = exchange(client, *m_watch, deadlineFromNow(), postRequest(method, args, m_token), m_maxReply);
    }
    const bool tooLarge = x.tooLarge;
    const bool cut = x.cut;
    const bool sent = x.sent;
    const httplib::Error error = x.error;
    const httplib::Response &res = x.res;
    const std::string &reply = x.reply;

    if (tooLarge)
        return fail(QStringLiteral("A resposta do servidor de aplicação em %1 excede o limite de %2 bytes.")
                        .arg(where)
                        .arg(m_maxReply));
    // Once the whole request is out, a call that writes may have been carried out even though its
    // answer never came: the server may have died or the connection dropped after the commit.
    // Importacao (and Desfazer, the undo of one) then says that the outcome is unknown, never that
    // nothing was written.
    const bool undo = method == QLatin1String("Desfazer");
    const bool writes = undo || method == QLatin1String("Importacao");
    const auto unknownOutcome = [&](const QString &detail) {
        const QString key = undo ? QStringLiteral("Desf_ResultadoIncerto") : QStringLiteral("Srv_ResultadoIncerto");
        return Result<QByteArray>::fail(Msg(key), key, detail);
    };
    if (cut && writes)
        return unknownOutcome(QStringLiteral("sem resposta completa de %1 em %2 s").arg(where).arg(deadline));
    if (cut)
        return fail(QStringLiteral("O servidor de aplicação em %1 não concluiu a resposta em %2 segundos.")
                        .arg(where)
                        .arg(deadline));
    if (!sent || error != httplib::Error::Success) {
        if (writes && mayHaveRun(error))
            return unknownOutcome(QStringLiteral("%1: %2").arg(where, QString::fromStdString(httplib::to_string(error))));
        return fail(sendFailure(error, method, where, limit));
    }

    const QByteArray bytes = QByteArray::fromStdString(reply);
    if (res.status == 200)
        return Wire::decodeResponse(bytes);

    return fail(refusalText(res.status, bytes, method, where));
}
