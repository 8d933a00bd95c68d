#pragma once
// The client side of the application server "IMP40500.rdmImpoPrato": an abstract transport (HTTP
// or in-process), the connection `TNetConnection` and typed calls of the twelve methods.
// Calls block; a failure is a value (the connection never throws: ThrowException is off).
#include "memtable.h"
#include "platform_export.h"
#include "result.h"

#include <QByteArray>
#include <QCborArray>
#include <QCborMap>
#include <QString>
#include <QStringList>
#include <functional>

class QSqlQuery;
#include <memory>

inline constexpr const char *kServerName = "IMP40500.rdmImpoPrato";
inline constexpr qint64 kMaxReplyBytes = qint64(2) * 1024 * 1024 * 1024 - 1;

// Wire format shared by every transport:
//   request  = CBOR array of the method's arguments (byte strings for packets, integers -1/0 for
//              yes/no, text strings for texts)
//   response = CBOR map {"ok": bool, "payload": bytes} or {"ok": false, "error": text[, "key": text,
//              "detail": text]}
namespace Wire {
IMP_PLATFORM_EXPORT QByteArray encodeRequest(const QCborArray &args);
IMP_PLATFORM_EXPORT Result<QCborArray> decodeRequest(const QByteArray &body);
IMP_PLATFORM_EXPORT QByteArray encodeSuccess(const QByteArray &payload);
IMP_PLATFORM_EXPORT QByteArray encodeFailure(const QString &message);
// A failure with its catalogue key and detail, which travel as "key" and "detail" beside "error".
IMP_PLATFORM_EXPORT QByteArray encodeFailure(const Failure &failure);
IMP_PLATFORM_EXPORT Result<QByteArray> decodeResponse(const QByteArray &body);
} // namespace Wire

// The server's side of a call, implemented by the remote data module; the in-process transport
// hands requests to it directly.
class IMP_PLATFORM_EXPORT RemoteDataModule {
public:
    virtual ~RemoteDataModule();
    // Runs one method: request body in, response body out (Wire format). Never throws.
    virtual QByteArray handle(const QString &method, const QByteArray &requestBody) = 0;
};

class IMP_PLATFORM_EXPORT ServerTransport {
public:
    virtual ~ServerTransport();
    virtual Result<QByteArray> call(const QString &method, const QCborArray &args) = 0;
};

class IMP_PLATFORM_EXPORT InProcessTransport : public ServerTransport {
public:
    explicit InProcessTransport(std::shared_ptr<RemoteDataModule> module);
    Result<QByteArray> call(const QString &method, const QCborArray &args) override;

private:
    std::shared_ptr<RemoteDataModule> m_module;
};

class IMP_PLATFORM_EXPORT HttpTransport : public ServerTransport {
public:
    HttpTransport(QString host, int port, QString token, int timeoutSeconds = 300);
    Result<QByteArray> call(const QString &method, const QCborArray &args) override;

    // A reply longer than this is refused (default kMaxReplyBytes).
    void setMaxReplyBytes(qint64 bytes);
    void setConnectTimeout(int seconds); // default 10

private:
    QString m_host;
    int m_port;
    QString m_token;
    int m_timeout;
    qint64 m_maxReply = kMaxReplyBytes;
    int m_connectTimeout = 10;
};

// Whoever links the server code registers how to make the embedded module (used when WebURL is
// empty). The factory may return nullptr with a message in `error`.
using EmbeddedServerFactory = std::function<std::shared_ptr<RemoteDataModule>(QString *error)>;
IMP_PLATFORM_EXPORT void setEmbeddedServerFactory(EmbeddedServerFactory factory);
IMP_PLATFORM_EXPORT bool hasEmbeddedServerFactory();

// TNetConnection.
class IMP_PLATFORM_EXPORT NetConnection {
public:
    NetConnection();
    ~NetConnection();

    QString ServerName = QString::fromLatin1(kServerName);
    bool ThrowException = false;
    QString Host;
    int Port = 0;
    std::function<void(NetConnection &)> BeforeConnect;

    // Opening runs BeforeConnect, then picks the transport: HTTP to Host:Port when Host is set,
    // the embedded module otherwise. A connection that cannot open stays closed; calls then fail.
    void setConnected(bool on);
    bool connected() const;
    QString lastError() const;

    // Tests put their own transport in; it is used instead of opening one.
    // A call on a closed connection opens it first.
    void setTransport(std::unique_ptr<ServerTransport> transport);

    Result<QByteArray> call(const QString &method, const QCborArray &args);

private:
    std::unique_ptr<ServerTransport> m_transport;
    bool m_injected = false;
    bool m_open = false;
    QString m_lastError;
};

// Summary of an import, the payload of Importacao.
struct IMP_PLATFORM_EXPORT ImportSummary {
    int dishesWritten = 0;
    QStringList dishesNotWritten;           // CDPRATO of dishes refused for their error flags
    QList<QPair<QString, int>> rowsPerTable; // table name, rows written
    QByteArray encode() const;
    static Result<ImportSummary> decode(const QByteArray &payload);
    QString toText() const;                 // two or more lines for a person
};

// The destination tables that the module reads and writes, in one catalogue: the server creates its
// schema from it and shapes its empty packets by it, and the client cache only refreshes tables
// named here. Columns are in table order; every key column is NOT NULL.
namespace Catalogue {
struct IMP_PLATFORM_EXPORT TableDef {
    QString name;
    QList<FieldDef> columns;
    QStringList key;               // primary key
    QList<QStringList> indexes;    // secondary indexes
    int indexOf(QStringView column) const; // without regard to case; -1 when absent
};
IMP_PLATFORM_EXPORT const QList<TableDef> &tables();
// Exact upper-case name; nullptr for a table the catalogue does not hold.
IMP_PLATFORM_EXPORT const TableDef *table(QStringView name);
// Columns of the empty packet of a Get* method: the table's columns, and for PRATO the screen's
// IDERRO (text 10) and MNPRATOLOCAL (text 40), which take no part in updates.
IMP_PLATFORM_EXPORT QList<FieldDef> packetFields(const TableDef &table);
// Date-times are stored as timestamps without time zone; SQLite keeps them as this text.
inline constexpr const char *kDateTimeFormat = "yyyy-MM-dd HH:mm:ss";
// A value read from either database as the in-memory table holds it (dates: wall-clock time kept
// in a QDateTime marked Qt::UTC, with no time zone applied).
IMP_PLATFORM_EXPORT QVariant fromSql(const QVariant &v, FieldKind kind);
// A table value as bound to a statement of either database (dates as text in kDateTimeFormat).
// Null stays null; a value the kind cannot take gives an invalid QVariant and *ok false.
IMP_PLATFORM_EXPORT QVariant toSql(const QVariant &v, FieldKind kind, bool *ok = nullptr);
// The remaining rows of an executed query as a data packet of `fields` (query column i feeds
// field i), values converted by fromSql.
IMP_PLATFORM_EXPORT QByteArray packRows(QSqlQuery &query, const QString &tableName, const QList<FieldDef> &fields);
} // namespace Catalogue

// Typed calls, argument orders as the server defines them.
namespace Rdm {
IMP_PLATFORM_EXPORT Result<QByteArray> GetDiretorios(NetConnection &c);
IMP_PLATFORM_EXPORT Result<QByteArray> SetDiretorios(NetConnection &c, const QByteArray &delta);
IMP_PLATFORM_EXPORT Result<QByteArray> GetParamGeral(NetConnection &c);
IMP_PLATFORM_EXPORT Result<QByteArray> GetPrato(NetConnection &c);
IMP_PLATFORM_EXPORT Result<QByteArray> GetRecePadr(NetConnection &c);
IMP_PLATFORM_EXPORT Result<QByteArray> GetReceServ(NetConnection &c);
IMP_PLATFORM_EXPORT Result<QByteArray> GetReceFili(NetConnection &c);
IMP_PLATFORM_EXPORT Result<QByteArray> GetPratPadr(NetConnection &c);
IMP_PLATFORM_EXPORT Result<QByteArray> GetPratFili(NetConnection &c);
IMP_PLATFORM_EXPORT Result<QByteArray> GetPratServ(NetConnection &c);
IMP_PLATFORM_EXPORT Result<QByteArray> GetPesqPrato(NetConnection &c, const QString &cdPrato,
                                                    const QString &cdFilial);
// Packets in this order: PRATO, RECEPADR, RECEFILI, SERVDESTINO, RECESERV, PRATPADR, PRATFILI, SERVICO.
IMP_PLATFORM_EXPORT Result<QByteArray> Importacao(NetConnection &c, const QByteArray &prato,
                                                  const QByteArray &recePadr, const QByteArray &receFili,
                                                  const QByteArray &servDestino, const QByteArray &receServ,
                                                  const QByteArray &pratPadr, const QByteArray &pratFili,
                                                  const QByteArray &servico, bool temRecePadr,
                                                  bool temReceFili, bool temReceServ,
                                                  const QString &cdFilial);
} // namespace Rdm
