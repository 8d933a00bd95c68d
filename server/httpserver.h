#pragma once
// The application server over HTTP: POST /IMP40500.rdmImpoPrato/<Method>, the body and the reply in
// the wire format of wire.h (docs/PROTOCOL.md). With a token, every request without it is refused
// (401), but for GET /health, which says the version and whether the database answers. Requests
// are read whole by the front (httpfront.h) before a worker serves them.
#include "appserver.h"

#include <functional>
#include <memory>

inline constexpr const char *kHealthPath = "/health";

class HttpServer {
public:
    static constexpr qint64 kDefaultMaxRequestBytes = qint64(512) * 1024 * 1024;

    HttpServer(std::shared_ptr<RemoteDataModule> module, QString token,
               qint64 maxRequestBytes = kDefaultMaxRequestBytes);
    ~HttpServer(); // stops and waits for the serving thread
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds host:port (port 0: any free port) and serves on a thread of its own. The bound port.
    Result<int> start(const QString &host, int port);
    // Where the log line of every request answered goes (requestlog.h), from the thread that
    // served it, one line at a time. Set before start(); none by default.
    void setRequestLog(std::function<void(const QByteArray &line)> sink);
    // The memory for the bodies of all requests in flight (twice the largest request by default,
    // never less than it); a request whose body would pass it is answered 503. Before start().
    void setBodyBudget(qint64 bytes);
    void stop();
    bool isRunning() const;
    int port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
