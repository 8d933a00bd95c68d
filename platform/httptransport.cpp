// The HTTP transport of the application server: one POST per call to
// http://host:port/IMP40500.rdmImpoPrato/<Method>, the token in the header X-IMP-Token.
#include "importorigin.h"
#include "messages.h"
#include "transport.h"
#include "wire.h"

#include <httplib.h>

#include <QCborMap>
#include <QCborValue>
#include <QElapsedTimer>

namespace {

// One connection per call, so nothing is kept alive between calls.
void setTimeouts(httplib::Client &client, int connectSeconds, int seconds)
{
    client.set_keep_alive(false);
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
    const QByteArray body = Wire::encodeRequest(args);
    req.body.assign(body.constData(), size_t(body.size()));
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

} // namespace

HttpTransport::HttpTransport(QString host, int port, QString token, int timeoutSeconds)
    : m_host(std::move(host)), m_port(port), m_token(std::move(token)), m_timeout(qMax(1, timeoutSeconds))
{
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

    httplib::Client client(m_host.toStdString(), m_port);
    setTimeouts(client, m_connectTimeout, m_timeout);

    httplib::Request req = postRequest(method, args, m_token);

    // The read timeout bounds each read; a server that trickles its reply would still hold the
    // caller forever, so the whole reply also has a deadline. The size cap is checked against the
    // announced length first and again against what actually arrives.
    enum class Stop { None, TooLarge, Deadline } stop = Stop::None;
    QElapsedTimer clock;
    clock.start();
    const qint64 deadlineMs = qint64(m_timeout) * 1000 + qint64(m_connectTimeout) * 1000;
    std::string reply;
    req.response_handler = [&](const httplib::Response &res) {
        if (res.has_header("Content-Length")) {
            const std::string len = res.get_header_value("Content-Length");
            bool ok = false;
            const qint64 n = QByteArray::fromStdString(len).toLongLong(&ok);
            if (!ok || n < 0 || n > m_maxReply) {
                stop = Stop::TooLarge;
                return false;
            }
            reply.reserve(size_t(qMin<qint64>(n, 64 * 1024 * 1024)));
        }
        return true;
    };
    req.content_receiver = [&](const char *data, size_t n, uint64_t, uint64_t) {
        if (qint64(reply.size()) + qint64(n) > m_maxReply) {
            stop = Stop::TooLarge;
            return false;
        }
        if (clock.elapsed() > deadlineMs) {
            stop = Stop::Deadline;
            return false;
        }
        reply.append(data, n);
        return true;
    };

    httplib::Response res;
    httplib::Error error = httplib::Error::Success;
    const bool sent = client.send(req, res, error);

    if (stop == Stop::TooLarge)
        return fail(QStringLiteral("A resposta do servidor de aplicação em %1 excede o limite de %2 bytes.")
                        .arg(where)
                        .arg(m_maxReply));
    // Once the whole request is out, a call that writes may have been carried out even though its
    // answer never came: the server may have died or the connection dropped after the commit.
    // Importacao then says that the outcome is unknown, never that nothing was written.
    const bool writes = method == QLatin1String("Importacao");
    const auto unknownOutcome = [&](const QString &detail) {
        return Result<QByteArray>::fail(Msg(QStringLiteral("Srv_ResultadoIncerto")), QStringLiteral("Srv_ResultadoIncerto"),
                                        detail);
    };
    if (stop == Stop::Deadline && writes)
        return unknownOutcome(QStringLiteral("sem resposta completa de %1 em %2 s").arg(where).arg(deadlineMs / 1000));
    if (stop == Stop::Deadline)
        return fail(QStringLiteral("O servidor de aplicação em %1 não concluiu a resposta em %2 segundos.")
                        .arg(where)
                        .arg(deadlineMs / 1000));
    if (!sent || error != httplib::Error::Success) {
        if (writes && mayHaveRun(error))
            return unknownOutcome(QStringLiteral("%1: %2").arg(where, QString::fromStdString(httplib::to_string(error))));
        return fail(sendFailure(error, method, where, m_timeout));
    }

    const QByteArray bytes = QByteArray::fromStdString(reply);
    if (res.status == 200)
        return Wire::decodeResponse(bytes);

    return fail(refusalText(res.status, bytes, method, where));
}
