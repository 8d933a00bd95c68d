#include "datapacketreader_p.h"

// A packet is one CBOR map, written and read as a stream so that a million-row table never
// becomes a tree of values in memory:
//   {"table": name, "fields": [{"name", "kind", "width", "flags", "ro", "req", "label"[, "mask"]
//                                [, "prec", "scale"]}...],
//    "rows": [[value...]...]}
// and a delta packet
//   {"table", "fields", "delta": true, "rows": [[change kind, [values], [original]]...]}.
// Values are text, double, integer, bool, date-time as integer msecs of the wall clock, or null.
// "fields" comes ahead of "rows": the rows are read in the columns' kinds. A number column with a
// precision carries "prec" and "scale"; a reader that does not know them skips them.

namespace DataPacket {

using reader_detail::Reader;

Status load(MemTable &table, const QByteArray &packet, const Limits &limits)
{
    table.close(); // its events run; an abandonment there leaves the table as it was
    const QList<FieldDef> before = table.fields();
    Reader reader(packet, limits);
    QString name;
    QList<FieldDef> fields;
    bool delta = false, hasRows = false, bulk = false;
    bool ok = false;
    try {
        ok = reader.readPacket(name, fields, delta, hasRows, false, [&](bool isDelta) {
            if (isDelta)
                return reader.fail(QStringLiteral("pacote de alterações onde se espera a tabela inteira."));
            table.setFields(fields);
            bulk = true;
            return reader.readRows(table, fields);
        });
        if (ok && delta)
            ok = reader.fail(QStringLiteral("pacote de alterações onde se espera a tabela inteira."));
    } catch (const std::exception &e) {
        ok = reader.fail(QString::fromUtf8(e.what()));
    }
    if (!ok) {
        if (bulk)
            table.endBulkLoad();
        table.close();
        if (table.fields() != before)
            table.setFields(before);
        return Status::fail(reader.error());
    }
    if (!hasRows)
        table.setFields(fields);
    if (bulk)
        table.endBulkLoad();
    if (table.name().isEmpty())
        table.setName(name);
    table.open(); // afterOpen runs here
    return okStatus();
}

Result<Delta> loadDelta(const QByteArray &packet, const Limits &limits)
{
    Reader reader(packet, limits);
    Delta d;
    bool delta = false, hasRows = false;
    bool ok = false;
    try {
        ok = reader.readPacket(d.tableName, d.fields, delta, hasRows, false, [&](bool isDelta) {
            if (!isDelta)
                return reader.fail(QStringLiteral("esperado um pacote de alterações."));
            return reader.readDeltaRows(d.fields, d.rows);
        });
        if (ok && !delta)
            ok = reader.fail(QStringLiteral("esperado um pacote de alterações."));
    } catch (const std::exception &e) {
        ok = reader.fail(QString::fromUtf8(e.what()));
    }
    if (!ok)
        return Result<Delta>::fail(reader.error());
    return d;
}

Result<QList<FieldDef>> peekFields(const QByteArray &packet)
{
    Reader reader(packet, Limits{});
    QString name;
    QList<FieldDef> fields;
    bool delta = false, hasRows = false;
    if (!reader.readPacket(name, fields, delta, hasRows, true, [](bool) { return true; }))
        return Result<QList<FieldDef>>::fail(reader.error());
    return fields;
}

} // namespace DataPacket
