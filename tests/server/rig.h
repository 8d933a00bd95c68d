#pragma once
// The server suites' seeded destination (tests/support/seededserver.h) and packet helpers that
// build the tables the screen would send.
#include "appserver.h"
#include "datapacket.h"
#include "memtable.h"
#include "seededserver.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QDateTime>

using Rig = SeededServer;

#define MAKE_RIG(rig, backend, transport, ...)                                                       \
    SKIP_UNLESS_AVAILABLE(backend)                                                                   \
    QString why_;                                                                                    \
    auto rig = Rig::make(backend, Rig::transportOf(transport), &why_, ##__VA_ARGS__);                \
    QVERIFY2(rig, qPrintable(why_));

inline QList<FieldDef> fieldsOf(const char *table)
{
    return Catalogue::packetFields(*Catalogue::table(QString::fromLatin1(table)));
}

inline QList<FieldDef> serviceMapFields()
{
    return {FieldDef::text(QStringLiteral("CDSERVFILIORIG"), 5), FieldDef::text(QStringLiteral("CDSERVFILIDEST"), 5),
            FieldDef::text(QStringLiteral("NMSERVICOORIG"), 40), FieldDef::text(QStringLiteral("NMSERVICODEST"), 40)};
}

inline QList<FieldDef> servDestinoFields()
{
    return {FieldDef::text(QStringLiteral("CDSERVFILI"), 5), FieldDef::text(QStringLiteral("NMSERVICO"), 40)};
}

inline QByteArray packet(const QString &name, const QList<FieldDef> &fields, const QList<QVariantList> &rows)
{
    MemTable t(name);
    t.setFields(fields);
    t.createDataSet();
    t.beginBulkLoad(int(rows.size()));
    for (QVariantList row : rows) {
        while (row.size() < fields.size())
            row << QVariant();
        t.bulkAppendRow(row);
    }
    t.endBulkLoad();
    return DataPacket::save(t);
}

inline QByteArray packet(const char *table, const QList<QVariantList> &rows)
{
    return packet(QString::fromLatin1(table), fieldsOf(table), rows);
}

// The packet with the width of its column `column` declared as `width`, its values as they were.
inline QByteArray declaredWidth(const QByteArray &packet, int column, int width)
{
    QCborMap m = QCborValue::fromCbor(packet).toMap();
    QCborArray fields = m.value(QStringLiteral("fields")).toArray();
    QCborMap field = fields.at(column).toMap();
    field.insert(QStringLiteral("width"), width);
    fields[column] = field;
    m.insert(QStringLiteral("fields"), fields);
    return QCborValue(m).toCbor();
}

// A dish row in the column order of the PRATO packet, IDERRO and MNPRATOLOCAL last.
inline QVariantList dish(const QString &aux, const QString &code, const QString &name,
                         const QString &erro = QStringLiteral("0000000000"), const QString &local = {})
{
    return {aux, code, QStringLiteral("0001"), name, QStringLiteral("1"), QStringLiteral("KG"), 0.05,
            QDateTime(QDate(2024, 3, 1), QTime(12, 30), Qt::UTC), QVariant(), QVariant(),
            QDateTime(QDate(2024, 3, 2), QTime(0, 0), Qt::UTC), erro, local};
}

// The tables an import carries, as rows; `args()` makes the twelve arguments.
struct ImportCall {
    QList<QVariantList> prato, recePadr, receFili, servDestino, receServ, pratPadr, pratFili, servico;
    bool temRecePadr = true, temReceFili = true, temReceServ = true;
    QString branch = QStringLiteral("0001");

    CallArgs args() const
    {
        return CallArgs{packet("PRATO", prato),
                        packet("RECEPADR", recePadr),
                        packet("RECEFILI", receFili),
                        packet(QStringLiteral("SERVDESTINO"), servDestinoFields(), servDestino),
                        packet("RECESERV", receServ),
                        packet("PRATPADR", pratPadr),
                        packet("PRATFILI", pratFili),
                        packet(QStringLiteral("SERVICO"), serviceMapFields(), servico),
                        qint64(temRecePadr ? -1 : 0),
                        qint64(temReceFili ? -1 : 0),
                        qint64(temReceServ ? -1 : 0),
                        branch};
    }
    Result<QByteArray> run(NetConnection &net) const { return net.call(QStringLiteral("Importacao"), args()); }
};

inline Status loadInto(MemTable &t, const Result<QByteArray> &r)
{
    if (!r)
        return Status::fail(r.error());
    return DataPacket::load(t, r.value());
}
