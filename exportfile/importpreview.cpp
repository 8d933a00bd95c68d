#include "importpreview.h"

#include "appserver.h"
#include "datapacket.h"
#include "dishflags.h"
#include "importsession.h"
#include "messages.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>

QString ImportPreview::totalsText() const
{
    return Msg(QStringLiteral("Previa_Totais")).arg(newDishes.size()).arg(replacedDishes.size());
}

QString ImportPreview::rowsText() const
{
    QStringList parts;
    for (const auto &[table, n] : rowsReplaced)
        parts << table + u' ' + QString::number(n);
    return Msg(QStringLiteral("Previa_Linhas")).arg(parts.join(QStringLiteral(", ")));
}

Result<ImportPreview> ImportPreview::ask(ImportSession &s)
{
    ImportPreview preview;
    const MemTable &p = s.cdsPrato;
    const int rows = p.isActive() ? p.rowCount() : 0;
    const int cAux = p.isActive() ? p.fieldIndex(u"CDFILAUXPRAT") : -1;
    const int cCode = p.isActive() ? p.fieldIndex(u"CDPRATO") : -1;
    const int cFlags = p.isActive() ? p.fieldIndex(u"IDERRO") : -1;
    preview.perRow.assign(size_t(rows), Dish::NotWritten);

    // The dishes the import would write, two columns each; `packetRow` maps them back.
    MemTable dishes(QStringLiteral("PRATO"));
    dishes.setFields({FieldDef::text(QStringLiteral("CDFILAUXPRAT"), 0), FieldDef::text(QStringLiteral("CDPRATO"), 0)});
    dishes.createDataSet();
    std::vector<int> packetRow;
    if (cAux >= 0 && cCode >= 0) {
        dishes.beginBulkLoad(rows);
        QString scratch;
        for (int r = 0; r < rows; ++r) {
            if (cFlags >= 0 && DishFlags::hasErrors(p.textViewAt(r, cFlags, scratch)))
                continue;
            const int n = dishes.bulkNewRow();
            dishes.bulkSetText(n, 0, p.textAt(r, cAux));
            dishes.bulkSetText(n, 1, p.textAt(r, cCode));
            packetRow.push_back(r);
            preview.perRow[size_t(r)] = Dish::New;
        }
        dishes.endBulkLoad();
    }

    const CallArgs args{DataPacket::save(dishes), CallArg::flag(s.TemRecePadr), CallArg::flag(s.TemReceFili),
                        CallArg::flag(s.TemReceServ), s.CdFilial};
    const Result<QByteArray> reply = s.net().call(QStringLiteral("GetPrevia"), args);
    if (!reply)
        return reply.failure();
    const QCborMap map = QCborValue::fromCbor(reply.value()).toMap();
    const QCborValue existing = map.value(QStringLiteral("existing"));
    const QCborValue tables = map.value(QStringLiteral("rows"));
    if (!existing.isArray() || !tables.isMap())
        return Failure{Msg(QStringLiteral("Srv_Previa")), QStringLiteral("Srv_Previa"), {}};
    for (const QCborValue &v : existing.toArray()) {
        const qint64 i = v.toInteger(-1);
        if (i >= 0 && size_t(i) < packetRow.size())
            preview.perRow[size_t(packetRow[size_t(i)])] = Dish::Replaces;
    }
    for (int r = 0; r < rows; ++r) {
        if (preview.perRow[size_t(r)] == Dish::New)
            preview.newDishes << p.textAt(r, cCode);
        else if (preview.perRow[size_t(r)] == Dish::Replaces)
            preview.replacedDishes << p.textAt(r, cCode);
    }
    const QCborMap counts = tables.toMap();
    for (const char *t : {"RECEPADR", "RECEFILI", "RECESERV"})
        preview.rowsReplaced.append({QString::fromLatin1(t), counts.value(QLatin1String(t)).toInteger(0)});
    return preview;
}
