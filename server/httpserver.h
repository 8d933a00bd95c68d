#pragma once
// The application server over HTTP: POST /IMP40500.rdmImpoPrato/<Method>, the body and the reply in
// the wire format of appserver.h. With a token, every request without it is refused (401).
#include "appserver.h"

#include <memory>

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
    void stop();
    bool isRunning() const;
    int port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
