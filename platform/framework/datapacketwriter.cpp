// Writing packets, in the format described in datapacket.cpp.
#include "datapacket.h"

#include <QCborStreamWriter>

namespace DataPacket {

namespace {

void writeFields(QCborStreamWriter &w, const QList<FieldDef> &fields)
{
    w.startArray(quint64(fields.size()));
    for (const FieldDef &f : fields) {
        w.startMap((f.editMask.isEmpty() ? 7 : 8) + (f.precision > 0 ? 2 : 0));
        w.append(QLatin1String("name"));
        w.append(f.name);
        w.append(QLatin1String("kind"));
        w.append(quint64(f.kind));
        w.append(QLatin1String("width"));
        w.append(qint64(f.width));
        w.append(QLatin1String("flags"));
        w.append(quint64(f.providerFlags));
        w.append(QLatin1String("ro"));
        w.append(f.readOnly);
        w.append(QLatin1String("req"));
        w.append(f.required);
        w.append(QLatin1String("label"));
        w.append(f.label);
        if (!f.editMask.isEmpty()) {
            w.append(QLatin1String("mask"));
            w.append(f.editMask);
        }
        if (f.precision > 0) {
            w.append(QLatin1String("prec"));
            w.append(quint64(f.precision));
            w.append(QLatin1String("scale"));
            w.append(quint64(f.scale));
        }
        w.endMap();
    }
    w.endArray();
}

void writeCell(QCborStreamWriter &w, const MemTable &t, int row, int col, FieldKind kind, QString &scratch)
{
    if (t.isNullAt(row, col)) {
        w.appendNull();
        return;
    }
    switch (kind) {
    case FieldKind::Text: w.append(t.textViewAt(row, col, scratch)); return;
    case FieldKind::Number: w.append(t.numberAt(row, col)); return;
    case FieldKind::Integer:
    case FieldKind::DateTime: w.append(t.integerAt(row, col)); return;
    case FieldKind::Boolean: w.append(t.booleanAt(row, col)); return;
    }
}

void writeVariant(QCborStreamWriter &w, const QVariant &v, FieldKind kind)
{
    if (!v.isValid() || v.isNull()) {
        w.appendNull();
        return;
    }
    switch (kind) {
    case FieldKind::Text: w.append(v.toString()); return;
    case FieldKind::Number: w.append(v.toDouble()); return;
    case FieldKind::Integer: w.append(v.toLongLong()); return;
    case FieldKind::DateTime: {
        const QDateTime dt = v.toDateTime();
        w.append(QDateTime(dt.date(), dt.time(), Qt::UTC).toMSecsSinceEpoch());
        return;
    }
    case FieldKind::Boolean: w.append(v.toBool()); return;
    }
}

void writeValues(QCborStreamWriter &w, const QVariantList &values, const QList<FieldDef> &fields)
{
    w.startArray(quint64(values.size()));
    for (int c = 0; c < values.size(); ++c)
        writeVariant(w, values[c], c < fields.size() ? fields[c].kind : FieldKind::Text);
    w.endArray();
}

// The map's first two entries, shared by a whole packet and a delta: the table's name and its
// columns. `entries` is the map's size.
void writeHead(QCborStreamWriter &w, const MemTable &table, quint64 entries)
{
    w.startMap(entries);
    w.append(QLatin1String("table"));
    w.append(table.name());
    w.append(QLatin1String("fields"));
    writeFields(w, table.fields());
}

} // namespace

QByteArray save(const MemTable &table)
{
    QByteArray out;
    QCborStreamWriter w(&out);
    const QList<FieldDef> &fields = table.fields();
    const int rows = table.rowCount();
    const int fc = int(fields.size());
    writeHead(w, table, 3);
    w.append(QLatin1String("rows"));
    w.startArray(quint64(rows));
    QString scratch;
    for (int r = 0; r < rows; ++r) {
        w.startArray(quint64(fc));
        for (int c = 0; c < fc; ++c)
            writeCell(w, table, r, c, fields[c].kind, scratch);
        w.endArray();
    }
    w.endArray();
    w.endMap();
    return out;
}

QByteArray saveDelta(const MemTable &table)
{
    QByteArray out;
    QCborStreamWriter w(&out);
    const QList<FieldDef> &fields = table.fields();
    const std::vector<DeltaRow> rows = table.delta();
    writeHead(w, table, 4);
    w.append(QLatin1String("delta"));
    w.append(true);
    w.append(QLatin1String("rows"));
    w.startArray(quint64(rows.size()));
    for (const DeltaRow &d : rows) {
        w.startArray(3);
        w.append(quint64(d.change));
        writeValues(w, d.values, fields);
        writeValues(w, d.original, fields);
        w.endArray();
    }
    w.endArray();
    w.endMap();
    return out;
}

} // namespace DataPacket
