#include "httpserver.h"

#include <httplib.h>

#include <atomic>
#include <thread>

struct HttpServer::Impl {
    std::shared_ptr<RemoteDataModule> module;
    std::string token;
    qint64 maxRequest = 0;
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> running{false};
    int port = 0;
};

namespace {

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

} // namespace

HttpServer::HttpServer(std::shared_ptr<RemoteDataModule> module, QString token, qint64 maxRequestBytes)
    : d(std::make_unique<Impl>())
{
    d->module = std::move(module);
    d->token = token.toStdString();
    d->maxRequest = maxRequestBytes;

    d->server.set_payload_max_length(size_t(maxRequestBytes));
    d->server.set_read_timeout(120, 0);
    d->server.set_write_timeout(120, 0);
    d->server.set_keep_alive_max_count(100);

    d->server.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        if (!d->token.empty() && !sameToken(req.get_header_value("X-IMP-Token"), d->token)) {
            reply(res, 401, Wire::encodeFailure(QStringLiteral("Acesso recusado: token ausente ou inválido.")));
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    const std::string pattern = std::string("/") + kServerName;
    std::string escaped;
    for (char c : pattern) {
        if (c == '.')
            escaped += '\\';
        escaped += c;
    }
    d->server.Post(escaped + R"(/([A-Za-z]{1,64}))", [this](const httplib::Request &req, httplib::Response &res) {
        const QString method = QString::fromStdString(req.matches[1]);
        const QByteArray body = QByteArray::fromRawData(req.body.data(), qsizetype(req.body.size()));
        reply(res, 200, d->module->handle(method, body));
    });

    d->server.set_error_handler([](const httplib::Request &req, httplib::Response &res) {
        if (!res.body.empty())
            return;
        QString text;
        if (res.status == 413)
            text = QStringLiteral("A requisição excede o tamanho que o servidor de aplicação aceita.");
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
