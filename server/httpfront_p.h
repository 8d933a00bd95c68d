#pragma once
// The HTTP front's insides: its connections, the loop that reads them (httpfront.cpp) and the
// workers that serve whole requests (httpworkers.cpp).
#include "httpfront.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

// A worker is done with a connection's request: whether the connection stays open.
struct HttpFrontDone {
    int fd = -1;
    bool keep = false;
};

class HttpWorkers {
public:
    using Serve = std::function<bool(HttpFront::Request &)>;
    // `wakeFd` (an eventfd) is written once a request is done, for the front to take it back.
    void start(int count, Serve serve, int wakeFd);
    void push(HttpFront::Request &&request);
    std::vector<HttpFrontDone> takeDone();
    // Waits for the requests being served; gives the connections of those never started.
    std::vector<int> stop();

private:
    void run();

    Serve m_serve;
    int m_wakeFd = -1;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<HttpFront::Request> m_queue;
    std::vector<HttpFrontDone> m_done;
    bool m_stopping = false;
};

struct HttpFront::Impl {
    using Done = HttpFrontDone;

    struct Conn {
        enum class State { Idle, Head, Body, Busy, Drain };
        int fd = -1;
        State state = State::Idle;
        std::unique_ptr<char[]> buf;
        qsizetype size = 0, cap = 0;
        HeadParser parser;
        Clock::time_point deadline, started, bodyStart;
        QDateTime startedAt;
        qsizetype need = 0;  // bytes of the whole request, once its head is in
        qint64 reserved = 0; // of the body budget
        int served = 0;
        qint64 dropped = 0;
    };

    Impl(Limits l, Hooks h) : limits(l), hooks(std::move(h)) {}

    void loop();
    void acceptAll(Clock::time_point now);
    bool makeRoom();
    bool makeRoomForced();
    void readable(Conn &c, Clock::time_point now);
    void headBytes(Conn &c, Clock::time_point now);
    void admit(Conn &c, Clock::time_point now);
    void dispatch(Conn &c);
    void served(const Done &done, Clock::time_point now);
    void sweep(Clock::time_point now);
    void refuse(Conn &c, int status, const QString &key, bool headRead, Clock::time_point now);
    bool ensureRoom(Conn &c, qsizetype want);
    void toIdle(Conn &c, Clock::time_point now);
    void beginHead(Conn &c, Clock::time_point now);
    void toDrain(Conn &c, Clock::time_point now);
    void release(Conn &c);
    void watch(Conn &c);
    void unwatch(Conn &c);
    void close(int fd);

    Limits limits;
    Hooks hooks;
    int listenFd = -1;
    int epoll = -1;
    int wakeFd = -1;
    std::unordered_map<int, Conn> conns; // touched by the front's thread only
    qint64 inFlight = 0;                 // body bytes reserved
    bool acceptPaused = false;
    Clock::time_point acceptResume;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    std::thread thread;
    HttpWorkers pool;
};
