#include "catalogue.h"
#include "datapacket.h"
#include "dishcolumns.h"
#include "sqlstamp.h"

#include <QDateTime>
#include <QSqlQuery>

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
// Quantities, yields and prices: up to 12 integer digits and 6 decimals, on either database.
static FieldDef num(const char *name) { return FieldDef::number(QString::fromLatin1(name), 18, 6); }
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
    if (table.name == QLatin1String("PRATO"))
        fields << DishColumns::screenOnly();
    return fields;
}

} // namespace Catalogue

namespace Catalogue {

// "yyyy-MM-dd HH:mm:ss" at the start of `s` as a wall clock read as UTC (SqlStamp); anything else
// is left to the parser.
static QDateTime plainStamp(QStringView s)
{
    int n[6];
    if (s.size() < 19 || !SqlStamp::parts(reinterpret_cast<const char16_t *>(s.utf16()), n))
        return {};
    const QDate day(n[0], n[1], n[2]);
    const QTime time(n[3], n[4], n[5]);
    if (n[0] == 0 || !day.isValid() || !time.isValid())
        return {};
    return QDateTime(day, time, Qt::UTC);
}

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
            if (const QDateTime plain = plainStamp(s); plain.isValid())
                return plain;
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

Result<QVariant> toSql(const QVariant &v, FieldKind kind)
{
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
    if (!good)
        return Failure{QStringLiteral("Valor inválido: %1").arg(v.toString()), {}, {}};
    return out;
}

QByteArray packRows(QSqlQuery &query, const QString &tableName, const QList<FieldDef> &fields, bool onRow)
{
    MemTable table(tableName);
    table.setFields(fields);
    table.createDataSet();
    table.beginBulkLoad();
    QVariantList row;
    while (onRow || query.next()) {
        onRow = false;
        row.clear();
        for (int i = 0; i < fields.size(); ++i)
            row << fromSql(query.value(i), fields.at(i).kind);
        table.bulkAppendRow(row);
    }
    table.endBulkLoad();
    return DataPacket::save(table);
}

} // namespace Catalogue
