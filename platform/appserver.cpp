#include "appserver.h"
#include "datapacket.h"
#include <QSqlQuery>
#include "ambiente.h"

#include <QCborValue>
#include <QCoreApplication>
#include <QMutex>
#include <QStringBuilder>

// ---------------------------------------------------------------------------------------------
// Wire format

namespace Wire {

QByteArray encodeRequest(const QCborArray &args)
{
    return QCborValue(args).toCbor();
}

Result<QCborArray> decodeRequest(const QByteArray &body)
{
    QCborParserError err;
    const QCborValue v = QCborValue::fromCbor(body, &err);
    if (err.error != QCborError::NoError)
        return Result<QCborArray>::fail(
            QStringLiteral("Requisição inválida: %1 (byte %2).").arg(err.errorString()).arg(err.offset));
    if (!v.isArray())
        return Result<QCborArray>::fail(QStringLiteral("Requisição inválida: os argumentos não formam uma lista."));
    return v.toArray();
}

QByteArray encodeSuccess(const QByteArray &payload)
{
    QCborMap m;
    m.insert(QStringLiteral("ok"), true);
    m.insert(QStringLiteral("payload"), payload);
    return QCborValue(m).toCbor();
}

QByteArray encodeFailure(const QString &message)
{
    return encodeFailure(Failure{message, {}, {}});
}

QByteArray encodeFailure(const Failure &failure)
{
    QCborMap m;
    m.insert(QStringLiteral("ok"), false);
    m.insert(QStringLiteral("error"), failure.message);
    if (!failure.key.isEmpty())
        m.insert(QStringLiteral("key"), failure.key);
    if (!failure.detail.isEmpty())
        m.insert(QStringLiteral("detail"), failure.detail);
    return QCborValue(m).toCbor();
}

Result<QByteArray> decodeResponse(const QByteArray &body)
{
    const auto malformed = [](const QString &why) {
        return Result<QByteArray>::fail(
            QStringLiteral("Resposta inválida do servidor de aplicação: %1").arg(why));
    };
    if (body.isEmpty())
        return malformed(QStringLiteral("resposta vazia."));
    QCborParserError err;
    const QCborValue v = QCborValue::fromCbor(body, &err);
    if (err.error != QCborError::NoError)
        return malformed(err.errorString() + QLatin1Char('.'));
    if (!v.isMap())
        return malformed(QStringLiteral("formato desconhecido."));
    const QCborMap m = v.toMap();
    const QCborValue ok = m.value(QStringLiteral("ok"));
    if (!ok.isBool())
        return malformed(QStringLiteral("sem indicação de sucesso."));
    if (ok.toBool()) {
        const QCborValue payload = m.value(QStringLiteral("payload"));
        if (payload.isUndefined() || payload.isNull())
            return QByteArray();
        if (!payload.isByteArray())
            return malformed(QStringLiteral("conteúdo da resposta não é binário."));
        return payload.toByteArray();
    }
    const QCborValue error = m.value(QStringLiteral("error"));
    const QString text = error.isString() && !error.toString().trimmed().isEmpty()
        ? error.toString()
        : QStringLiteral("O servidor de aplicação recusou a chamada sem informar o motivo.");
    const QCborValue key = m.value(QStringLiteral("key"));
    const QCborValue detail = m.value(QStringLiteral("detail"));
    return Result<QByteArray>::fail(text, key.isString() ? key.toString().left(64) : QString(),
                                    detail.isString() ? detail.toString() : QString());
}

} // namespace Wire

// ---------------------------------------------------------------------------------------------
// Transports

RemoteDataModule::~RemoteDataModule() = default;
ServerTransport::~ServerTransport() = default;

InProcessTransport::InProcessTransport(std::shared_ptr<RemoteDataModule> module)
    : m_module(std::move(module))
{
}

Result<QByteArray> InProcessTransport::call(const QString &method, const QCborArray &args)
{
    if (!m_module)
        return Result<QByteArray>::fail(QStringLiteral("Servidor de aplicação embutido não disponível."));
    // The request goes through the same encoding as over HTTP, so both transports see the same
    // argument checks and the in-process one cannot pass anything the wire could not carry.
    return Wire::decodeResponse(m_module->handle(method, Wire::encodeRequest(args)));
}

namespace {
QMutex g_factoryMutex;
EmbeddedServerFactory g_factory;
} // namespace

void setEmbeddedServerFactory(EmbeddedServerFactory factory)
{
    QMutexLocker lock(&g_factoryMutex);
    g_factory = std::move(factory);
}

bool hasEmbeddedServerFactory()
{
    QMutexLocker lock(&g_factoryMutex);
    return bool(g_factory);
}

static EmbeddedServerFactory embeddedFactory()
{
    QMutexLocker lock(&g_factoryMutex);
    return g_factory;
}

// ---------------------------------------------------------------------------------------------
// NetConnection

NetConnection::NetConnection() = default;
NetConnection::~NetConnection() = default;

void NetConnection::setConnected(bool on)
{
    if (!on) {
        m_open = false;
        if (!m_injected)
            m_transport.reset();
        return;
    }
    if (connected())
        return;
    m_lastError.clear();
    if (m_injected) {
        m_open = true;
        return;
    }
    if (BeforeConnect)
        BeforeConnect(*this);
    if (!Host.trimmed().isEmpty()) {
        if (Port <= 0 || Port > 65535) {
            m_lastError = QStringLiteral("Porta do servidor de aplicação inválida: %1.").arg(Port);
            return;
        }
        m_transport = std::make_unique<HttpTransport>(Host.trimmed(), Port, Ambiente::instance().token);
        m_open = true;
        return;
    }
    const EmbeddedServerFactory factory = embeddedFactory();
    if (!factory) {
        m_lastError = QStringLiteral("Servidor de aplicação não informado e nenhum servidor embutido disponível.");
        return;
    }
    QString error;
    std::shared_ptr<RemoteDataModule> module = factory(&error);
    if (!module) {
        m_lastError = error.isEmpty() ? QStringLiteral("Não foi possível iniciar o servidor de aplicação embutido.")
                                      : error;
        return;
    }
    m_transport = std::make_unique<InProcessTransport>(std::move(module));
    m_open = true;
}

bool NetConnection::connected() const
{
    return m_open && m_transport;
}

QString NetConnection::lastError() const
{
    return m_lastError;
}

void NetConnection::setTransport(std::unique_ptr<ServerTransport> transport)
{
    m_transport = std::move(transport);
    m_injected = bool(m_transport);
    m_open = m_injected;
}

Result<QByteArray> NetConnection::call(const QString &method, const QCborArray &args)
{
    if (!connected())
        setConnected(true);
    if (!connected())
        return Result<QByteArray>::fail(
            QStringLiteral("Sem conexão com o servidor de aplicação %1: %2").arg(ServerName, m_lastError));
    return m_transport->call(method, args);
}

// ---------------------------------------------------------------------------------------------
// ImportSummary

QByteArray ImportSummary::encode() const
{
    QCborMap m;
    m.insert(QStringLiteral("dishesWritten"), dishesWritten);
    QCborArray refused;
    for (const QString &c : dishesNotWritten)
        refused.append(c);
    m.insert(QStringLiteral("dishesNotWritten"), refused);
    QCborArray rows;
    for (const auto &[table, count] : rowsPerTable)
        rows.append(QCborArray{table, count});
    m.insert(QStringLiteral("rowsPerTable"), rows);
    return QCborValue(m).toCbor();
}

Result<ImportSummary> ImportSummary::decode(const QByteArray &payload)
{
    const auto bad = [] {
        return Result<ImportSummary>::fail(QStringLiteral("Resumo da importação inválido."));
    };
    QCborParserError err;
    const QCborValue v = QCborValue::fromCbor(payload, &err);
    if (err.error != QCborError::NoError || !v.isMap())
        return bad();
    const QCborMap m = v.toMap();
    ImportSummary s;
    const QCborValue written = m.value(QStringLiteral("dishesWritten"));
    if (!written.isInteger())
        return bad();
    s.dishesWritten = int(written.toInteger());
    for (const QCborValue &c : m.value(QStringLiteral("dishesNotWritten")).toArray()) {
        if (!c.isString())
            return bad();
        s.dishesNotWritten << c.toString();
    }
    for (const QCborValue &r : m.value(QStringLiteral("rowsPerTable")).toArray()) {
        const QCborArray pair = r.toArray();
        if (pair.size() != 2 || !pair.at(0).isString() || !pair.at(1).isInteger())
            return bad();
        s.rowsPerTable.append({pair.at(0).toString(), int(pair.at(1).toInteger())});
    }
    return s;
}

QString ImportSummary::toText() const
{
    QString text = QStringLiteral("Pratos gravados: %1.").arg(dishesWritten);
    if (dishesNotWritten.isEmpty()) {
        text += QStringLiteral("\nPratos não gravados por erro: nenhum.");
    } else {
        text += QStringLiteral("\nPratos não gravados por erro: %1 (%2).")
                    .arg(dishesNotWritten.size())
                    .arg(dishesNotWritten.join(QStringLiteral(", ")));
    }
    QStringList parts;
    for (const auto &[table, count] : rowsPerTable)
        parts << QStringLiteral("%1 %2").arg(table).arg(count);
    if (!parts.isEmpty())
        text += QStringLiteral("\nLinhas gravadas: ") + parts.join(QStringLiteral(", ")) + QLatin1Char('.');
    return text;
}

// ---------------------------------------------------------------------------------------------
// Typed calls

namespace Rdm {

static QCborValue flag(bool b)
{
    // Automation booleans: true is all bits set.
    return QCborValue(qint64(b ? -1 : 0));
}

Result<QByteArray> GetDiretorios(NetConnection &c) { return c.call(QStringLiteral("GetDiretorios"), {}); }
Result<QByteArray> SetDiretorios(NetConnection &c, const QByteArray &delta)
{
    return c.call(QStringLiteral("SetDiretorios"), QCborArray{delta});
}
Result<QByteArray> GetParamGeral(NetConnection &c) { return c.call(QStringLiteral("GetParamGeral"), {}); }
Result<QByteArray> GetPrato(NetConnection &c) { return c.call(QStringLiteral("GetPrato"), {}); }
Result<QByteArray> GetRecePadr(NetConnection &c) { return c.call(QStringLiteral("GetRecePadr"), {}); }
Result<QByteArray> GetReceServ(NetConnection &c) { return c.call(QStringLiteral("GetReceServ"), {}); }
Result<QByteArray> GetReceFili(NetConnection &c) { return c.call(QStringLiteral("GetReceFili"), {}); }
Result<QByteArray> GetPratPadr(NetConnection &c) { return c.call(QStringLiteral("GetPratPadr"), {}); }
Result<QByteArray> GetPratFili(NetConnection &c) { return c.call(QStringLiteral("GetPratFili"), {}); }
Result<QByteArray> GetPratServ(NetConnection &c) { return c.call(QStringLiteral("GetPratServ"), {}); }

Result<QByteArray> GetPesqPrato(NetConnection &c, const QString &cdPrato, const QString &cdFilial)
{
    return c.call(QStringLiteral("GetPesqPrato"), QCborArray{cdPrato, cdFilial});
}

Result<QByteArray> Importacao(NetConnection &c, const QByteArray &prato, const QByteArray &recePadr,
                              const QByteArray &receFili, const QByteArray &servDestino,
                              const QByteArray &receServ, const QByteArray &pratPadr,
                              const QByteArray &pratFili, const QByteArray &servico, bool temRecePadr,
                              bool temReceFili, bool temReceServ, const QString &cdFilial)
{
    return c.call(QStringLiteral("Importacao"),
                  QCborArray{prato, recePadr, receFili, servDestino, receServ, pratPadr, pratFili, servico,
                             flag(temRecePadr), flag(temReceFili), flag(temReceServ), cdFilial});
}

} // namespace Rdm

// ---------------------------------------------------------------------------------------------
// Catalogue of the destination tables

namespace Catalogue {

int TableDef::indexOf(QStringView column) const
{
    for (int i = 0; i < columns.size(); ++i) {
        if (columns.at(i).name.compare(column, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

static FieldDef t(const char *name, int width) { return FieldDef::text(QString::fromLatin1(name), width); }
static FieldDef num(const char *name) { return FieldDef::number(QString::fromLatin1(name)); }
static FieldDef dt(const char *name) { return FieldDef::dateTime(QString::fromLatin1(name)); }

static TableDef make(const char *name, QList<FieldDef> columns, const QStringList &key,
                     QList<QStringList> indexes = {})
{
    TableDef def{QString::fromLatin1(name), std::move(columns), key, std::move(indexes)};
    for (FieldDef &f : def.columns) {
        f.providerFlags = pfInUpdate | pfInWhere;
        if (key.contains(f.name))
            f.providerFlags |= pfInKey;
    }
    return def;
}

const QList<TableDef> &tables()
{
    static const QList<TableDef> all = [] {
        using L = QStringList;
        QList<TableDef> v;
        v << make("FILIAL", {t("CDFILIAL", 4), t("NMFILIAL", 30), t("IDCNTRRESC", 1)}, L{"CDFILIAL"});
        v << make("FILIOPER", {t("CDFILIAL", 4), t("CDOPERADOR", 10)}, L{"CDFILIAL", "CDOPERADOR"},
                  {L{"CDOPERADOR"}});
        v << make("SERVICO", {t("CDFILIAL", 4), t("CDSERVFILI", 5), t("NMSERVICO", 40)},
                  L{"CDFILIAL", "CDSERVFILI"});
        v << make("PRODUTO", {t("CDPRODUTO", 10), t("NMPRODUTO", 50)}, L{"CDPRODUTO"});
        v << make("UNIDMEDIDA", {t("SGUNIDADE", 10), t("DSUNIDADE", 30)}, L{"SGUNIDADE"});
        v << make("PARAMGERAL", {t("CDFILIAL", 4), t("CDPICTPRAT", 20)}, L{"CDFILIAL"});
        v << make("DIRETORIOS", {t("CDPROGRAMA", 8), t("DSDIRETORIO", 100)}, L{"CDPROGRAMA"});
        v << make("PRATO",
                  {t("CDFILAUXPRAT", 4), t("CDPRATO", 10), t("CDFILIAL", 4), t("NMPRATO", 40),
                   t("CDNVPRATO", 1), t("SGUNIDADE", 10), num("VRARREDTRANS"), dt("DTULTATUPRAT"),
                   t("CDSEGMER", 5), t("CDEXPRATO", 20), dt("DTULTATURECE")},
                  L{"CDFILAUXPRAT", "CDPRATO"}, {L{"CDFILIAL"}});
        v << make("RECEPADR",
                  {t("CDFILAUXPRAT", 4), t("CDPRATO", 10), t("CDPRODUTO", 10), t("SGUNIDADE", 10),
                   num("QTPRODUTO")},
                  L{"CDFILAUXPRAT", "CDPRATO", "CDPRODUTO"});
        v << make("PRATPADR", {t("CDFILAUXPRAT", 4), t("CDPRATO", 10), t("SGUNIDADE", 10), num("QTRENDIMENTO")},
                  L{"CDFILAUXPRAT", "CDPRATO"});
        v << make("RECEFILI",
                  {t("CDFILIAL", 4), t("CDFILAUXPRAT", 4), t("CDPRATO", 10), t("CDPRODUTO", 10),
                   t("SGUNIDADE", 10), num("QTPRODUTO")},
                  L{"CDFILIAL", "CDFILAUXPRAT", "CDPRATO", "CDPRODUTO"});
        v << make("PRATFILI",
                  {t("CDFILIAL", 4), t("CDFILAUXPRAT", 4), t("CDPRATO", 10), num("VRPRECO"), dt("DTULTATU")},
                  L{"CDFILIAL", "CDFILAUXPRAT", "CDPRATO"});
        // A dish's service recipe is replaced by dish and branch, across services: the second index
        // serves that delete.
        v << make("RECESERV",
                  {t("CDFILIAL", 4), t("CDSERVFILI", 5), t("CDFILAUXPRAT", 4), t("CDPRATO", 10),
                   t("CDPRODUTO", 10), t("SGUNIDADE", 10), num("QTPRODUTO")},
                  L{"CDFILIAL", "CDSERVFILI", "CDFILAUXPRAT", "CDPRATO", "CDPRODUTO"},
                  {L{"CDFILAUXPRAT", "CDPRATO", "CDFILIAL"}});
        v << make("PRATSERV",
                  {t("CDFILIAL", 4), t("CDSERVFILI", 5), t("CDFILAUXPRAT", 4), t("CDPRATO", 10), num("VRPRECO")},
                  L{"CDFILIAL", "CDSERVFILI", "CDFILAUXPRAT", "CDPRATO"},
                  {L{"CDFILAUXPRAT", "CDPRATO", "CDFILIAL"}});
        return v;
    }();
    return all;
}

const TableDef *table(QStringView name)
{
    for (const TableDef &t : tables()) {
        if (t.name == name)
            return &t;
    }
    return nullptr;
}

QList<FieldDef> packetFields(const TableDef &table)
{
    QList<FieldDef> fields = table.columns;
    if (table.name == QLatin1String("PRATO")) {
        // The screen's own columns: error flags and the destination's name of a local dish. They
        // travel with the dish but are never stored.
        FieldDef erro = FieldDef::text(QStringLiteral("IDERRO"), 10);
        erro.providerFlags = 0;
        FieldDef local = FieldDef::text(QStringLiteral("MNPRATOLOCAL"), 40);
        local.providerFlags = 0;
        fields << erro << local;
    }
    return fields;
}

} // namespace Catalogue

namespace Catalogue {

QVariant fromSql(const QVariant &v, FieldKind kind)
{
    if (v.isNull() || !v.isValid())
        return QVariant();
    switch (kind) {
    case FieldKind::Text:
        return v.toString();
    case FieldKind::Number: {
        bool ok = false;
        const double d = v.toDouble(&ok);
        return ok ? QVariant(d) : QVariant();
    }
    case FieldKind::Integer: {
        bool ok = false;
        const qint64 i = v.toLongLong(&ok);
        return ok ? QVariant(i) : QVariant();
    }
    case FieldKind::Boolean:
        return v.toBool();
    case FieldKind::DateTime: {
        QDateTime d;
        if (v.metaType().id() == QMetaType::QDateTime) {
            const QDateTime src = v.toDateTime();
            d = QDateTime(src.date(), src.time(), Qt::UTC);
        } else if (v.metaType().id() == QMetaType::QDate) {
            d = QDateTime(v.toDate(), QTime(0, 0), Qt::UTC);
        } else {
            const QString s = v.toString().trimmed();
            d = QDateTime::fromString(s.left(19), QString::fromLatin1(kDateTimeFormat));
            if (!d.isValid())
                d = QDateTime::fromString(s, Qt::ISODate);
            if (!d.isValid())
                d = QDateTime(QDate::fromString(s.left(10), Qt::ISODate), QTime(0, 0));
            if (d.isValid())
                d = QDateTime(d.date(), d.time(), Qt::UTC);
        }
        return d.isValid() ? QVariant(d) : QVariant();
    }
    }
    return v;
}

QVariant toSql(const QVariant &v, FieldKind kind, bool *ok)
{
    if (ok)
        *ok = true;
    if (v.isNull() || !v.isValid())
        return QVariant(QMetaType::fromType<QString>());
    bool good = true;
    QVariant out;
    switch (kind) {
    case FieldKind::Text:
        out = v.toString();
        break;
    case FieldKind::Number:
        out = v.toDouble(&good);
        break;
    case FieldKind::Integer:
        out = v.toLongLong(&good);
        break;
    case FieldKind::Boolean:
        out = v.toBool() ? 1 : 0;
        break;
    case FieldKind::DateTime: {
        const QDateTime d = v.toDateTime();
        good = d.isValid();
        if (good)
            out = d.toString(QString::fromLatin1(kDateTimeFormat));
        break;
    }
    }
    if (ok)
        *ok = good;
    return good ? out : QVariant();
}

QByteArray packRows(QSqlQuery &query, const QString &tableName, const QList<FieldDef> &fields)
{
    MemTable table(tableName);
    table.setFields(fields);
    table.createDataSet();
    table.beginBulkLoad();
    QVariantList row;
    while (query.next()) {
        row.clear();
        for (int i = 0; i < fields.size(); ++i)
            row << fromSql(query.value(i), fields.at(i).kind);
        table.bulkAppendRow(row);
    }
    table.endBulkLoad();
    return DataPacket::save(table);
}

} // namespace Catalogue
