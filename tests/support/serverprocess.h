#pragma once
// Processes the tests start: an imp40500-server on a free port of 127.0.0.1 (killed with the
// object), and a finished run of a command line with its exit code and both outputs.
#include "appserver.h"

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <memory>

class ServerProcess {
public:
    // A server on the destination `dbUrl`; nullptr with *why when it did not come up within a few
    // seconds. With `pauseAt`, Importacao stops at that point (IMP_SERVER_PAUSE_AT) for
    // `pauseSeconds` and says so on stderr.
    static std::unique_ptr<ServerProcess> start(const QString &dbUrl, QString *why, const QByteArray &pauseAt = {},
                                                int pauseSeconds = 60);
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // Waits until the server says it paused at its fault-injection point; what it wrote on stderr
    // gathers in `err`.
    bool waitForPause(int ms);
    // "127.0.0.1:PORT", as `--server` takes it.
    QString address() const;
    // A connection to it over HTTP (120 s timeout), made on first use.
    NetConnection &net();

    QProcess proc;
    QByteArray err;
    int port = 0;

private:
    std::unique_ptr<NetConnection> m_net;
};

// A command line that ran to its end (or was killed after its time: exit code -1).
struct ProcessRun {
    int exitCode = -1;
    QByteArray out, err;
    QJsonObject json() const;

    // Waits for `p` up to `ms`; a process still running then is killed.
    static ProcessRun finish(QProcess &p, int ms = 120000);
    // Runs `program` with `args` in `dir` and waits for it.
    static ProcessRun run(const QString &program, const QStringList &args, const QString &dir = {}, int ms = 120000);
};
