#pragma once
// The client's way to the application server "IMP40500.rdmImpoPrato": an abstract transport (HTTP
// or in-process) and the connection `TNetConnection` that picks one. Calls block; a failure is a
// value (the connection never throws: ThrowException is off).
#include "callargs.h"
#include "appclient_export.h"
#include "result.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

inline constexpr const char *kServerName = "IMP40500.rdmImpoPrato";
inline constexpr qint64 kMaxReplyBytes = qint64(2) * 1024 * 1024 * 1024 - 1;
// How long a call may wait for its server: the import and its preview, which carry a whole file
// and write or compare all of it, and the undo of an import, kImportSeconds; every other call, a lookup or a table's columns,
// kCallSeconds, so that a server that has stopped answering is told within seconds. A call that
// gets nothing for that long fails; one whose answer is not whole a second later is cut off. The
// command line and the screen give their connection Ambiente's (IMP_CALL_TIMEOUT, IMP_IMPORT_TIMEOUT).
inline constexpr int kCallSeconds = 8;
inline constexpr int kImportSeconds = 300;

// The server's side of a call, implemented by the remote data module. The in-process transport
// calls it with the arguments as they are; the HTTP server hands it the request's bytes.
class IMP_APPCLIENT_EXPORT RemoteDataModule {
public:
    virtual ~RemoteDataModule();
    // Runs one method on the arguments as values and gives its payload or its failure. Never throws.
    virtual Result<QByteArray> call(const QString &method, const CallArgs &args) = 0;
    // The same call from and to the wire format (Wire::decodeRequest, Wire::encodeReply).
    QByteArray handle(const QString &method, const QByteArray &requestBody);
    // Whether the module's database answers, for the server's health path. It must not wait for
    // long behind a call that is running. A module without a database of its own says yes.
    virtual bool databaseOpen() { return true; }
};

class IMP_APPCLIENT_EXPORT ServerTransport {
public:
    virtual ~ServerTransport();
    virtual Result<QByteArray> call(const QString &method, const CallArgs &args) = 0;
};

// The module in this process: arguments and payloads pass as values, packets shared, not copied.
class IMP_APPCLIENT_EXPORT InProcessTransport : public ServerTransport {
public:
    explicit InProcessTransport(std::shared_ptr<RemoteDataModule> module);
    Result<QByteArray> call(const QString &method, const CallArgs &args) override;

private:
    std::shared_ptr<RemoteDataModule> m_module;
};

struct CallWatch;
struct KeptConnection;

class IMP_APPCLIENT_EXPORT HttpTransport : public ServerTransport {
public:
    HttpTransport(QString host, int port, QString token, int callSeconds = kCallSeconds,
                  int importSeconds = kImportSeconds);
    ~HttpTransport() override;
    Result<QByteArray> call(const QString &method, const CallArgs &args) override;
    // Whether `method` gets the import's limit rather than a call's.
    static bool isLongCall(const QString &method);

    // A reply longer than this is refused (default kMaxReplyBytes).
    void setMaxReplyBytes(qint64 bytes);
    void setConnectTimeout(int seconds); // default 10, never more than the call's limit

private:
    QString m_host;
    int m_port;
    QString m_token;
    int m_callTimeout;
    int m_importTimeout;
    qint64 m_maxReply = kMaxReplyBytes;
    int m_connectTimeout = 10;
    std::unique_ptr<CallWatch> m_watch;
    std::unique_ptr<KeptConnection> m_kept;
};

// Whoever links the server code registers how to make the embedded module (used when WebURL is
// empty), or the failure that keeps it from starting.
using EmbeddedServerFactory = std::function<Result<std::shared_ptr<RemoteDataModule>>()>;
IMP_APPCLIENT_EXPORT void setEmbeddedServerFactory(EmbeddedServerFactory factory);
IMP_APPCLIENT_EXPORT bool hasEmbeddedServerFactory();

// TNetConnection.
class Ambiente;

class IMP_APPCLIENT_EXPORT NetConnection {
public:
    NetConnection();
    ~NetConnection();

    QString ServerName = QString::fromLatin1(kServerName);
    bool ThrowException = false;
    QString Host;
    int Port = 0;
    QString Token; // sent as X-IMP-Token over HTTP; empty: none
    int CallTimeout = kCallSeconds;     // over HTTP, the limits of a call and of the import (above)
    int ImportTimeout = kImportSeconds;
    std::function<void(NetConnection &)> BeforeConnect;

    // Port, host, token and the two limits from an operator environment (what a BeforeConnect of
    // the screen, the command line or the history window sets).
    void settingsFrom(const Ambiente &env);

    // Opening runs BeforeConnect, then picks the transport: HTTP to Host:Port when Host is set,
    // the embedded module otherwise. A connection that cannot open stays closed; calls then fail.
    void setConnected(bool on);
    bool connected() const;
    QString lastError() const;

    // Tests put their own transport in; it is used instead of opening one.
    // A call on a closed connection opens it first.
    void setTransport(std::unique_ptr<ServerTransport> transport);

    Result<QByteArray> call(const QString &method, const CallArgs &args);

private:
    std::unique_ptr<ServerTransport> m_transport;
    bool m_injected = false;
    bool m_open = false;
    std::optional<Failure> m_lastFailure; // why the last opening failed
};
