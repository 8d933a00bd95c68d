#pragma once
// The HTTP server's front: one thread that accepts connections and reads every request whole, its
// head and its body, with a deadline for the head and a least rate for the body, before a worker
// takes it. Connections that wait, send slowly or are refused cost a descriptor and a few bytes,
// never a worker: workers only run requests whose every byte is in, and write their answers.
// Bodies in flight share a memory budget; a request beyond it is answered 503 on its head.
#include "httphead.h"
#include "result.h"

#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>

class HttpFront {
public:
    using Clock = std::chrono::steady_clock;

    struct Limits {
        qint64 maxRequest = qint64(512) << 20; // body bytes of one request
        qint64 bodyBudget = qint64(1) << 30;   // body bytes of all requests read or being served
        int workers = 64;
        int maxConnections = 4096;
    };

    // A request whose every byte is in, handed to a worker.
    struct Request {
        int fd = -1;
        std::unique_ptr<char[]> bytes; // the head, then the body
        qsizetype size = 0;
        RequestHead head;
        Clock::time_point started; // its first byte
        QDateTime startedAt;
        bool last = false; // the connection's last request: it closes after the answer
    };

    // What the server adds: whether a complete head may send its body (0, or an HTTP status and
    // a catalogue key: the token), the bytes of a refusal's whole answer (and its log line), and
    // the serving of a request on a worker, which says whether the connection stays open.
    struct Hooks {
        std::function<int(const RequestHead &, QString *key)> admit;
        struct Refusal {
            const RequestHead *head = nullptr; // null when the request line could not be read
            int status = 0;
            QString key;
            int fd = -1;
            QDateTime startedAt;
            qint64 ms = 0;
        };
        std::function<QByteArray(const Refusal &)> refuse;
        std::function<bool(Request &)> serve;
    };

    HttpFront(Limits limits, Hooks hooks);
    ~HttpFront(); // stops
    HttpFront(const HttpFront &) = delete;
    HttpFront &operator=(const HttpFront &) = delete;

    // Binds host:port (0: any free port), listening with a backlog of kBacklog. The bound port.
    Result<int> bind(const QString &host, int port);
    // Serves on a thread of its own and kLimits.workers workers.
    void start();
    // Stops accepting, lets running requests finish and closes every connection.
    void stop();
    bool isRunning() const;

    static constexpr int kBacklog = 1024;
    static constexpr int kIdleSeconds = 5;   // for the (next) request's first byte
    static constexpr int kHeadSeconds = 5;   // for the rest of the head, from its first byte
    static constexpr qint64 kMinBodyRate = 32 * 1024; // bytes a second, on average after the first second
    static constexpr int kMaxRequestsPerConnection = 100;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
