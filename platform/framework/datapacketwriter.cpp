// Writing packets, in the format described in datapacket.cpp.
#include "datapacket.h"

#include <QCborStreamWriter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

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
void writeHead(QCborStreamWriter &w, const QString &name, const QList<FieldDef> &fields, quint64 entries)
{
    w.startMap(entries);
    w.append(QLatin1String("table"));
    w.append(name);
    w.append(QLatin1String("fields"));
    writeFields(w, fields);
}

void writeHead(QCborStreamWriter &w, const MemTable &table, quint64 entries)
{
    writeHead(w, table.name(), table.fields(), entries);
}

// The rows of a whole packet, written straight into the packet's bytes: QCborStreamWriter goes
// through a QIODevice for every item, which cost more than the rest of an import's packets. The
// bytes are those it writes: every head in its shortest form, numbers as 64-bit floats, text as
// UTF-8.
class RowBytes {
public:
    // Writes at `used` in `out`, which is kept larger than what it holds (truncate it to `used`
    // when done): a value costs no resize of its own.
    RowBytes(QByteArray &out, qsizetype &used) : m_out(out), m_used(used) {}
    void head(quint8 major, quint64 arg)
    {
        char *at = room(9);
        m_used -= 9 - put(at, major, arg);
    }
    void null() { *room(1) = char(0xF6); }
    void boolean(bool b) { *room(1) = char(b ? 0xF5 : 0xF4); }
    void integer(qint64 v) { v < 0 ? head(1, quint64(-1 - v)) : head(0, quint64(v)); }
    void number(double d)
    {
        quint64 bits;
        std::memcpy(&bits, &d, sizeof bits);
        char *at = room(9);
        *at = char(0xFB);
        bigEndian(at + 1, bits, 8);
    }
    void utf8(QByteArrayView bytes)
    {
        const qsizetype n = bytes.size();
        char *at = room(9 + n);
        const int h = put(at, 3, quint64(n));
        if (n > 0)
            std::memcpy(at + h, bytes.data(), size_t(n));
        m_used -= 9 - h;
    }
    void text(QAnyStringView s)
    {
        s.visit([this](auto v) {
            if constexpr (std::is_same_v<decltype(v), QLatin1StringView>)
                latin1(v);
            else
                utf8(v.toString().toUtf8());
        });
    }

private:
    // One byte a character, up to U+00FF: two in UTF-8 from U+0080 on.
    void latin1(QLatin1StringView l1)
    {
        qsizetype high = 0;
        for (char ch : l1)
            high += quint8(ch) >= 0x80;
        if (high == 0)
            return utf8(QByteArrayView(l1.data(), l1.size()));
        const qsizetype n = l1.size() + high;
        char *at = room(9 + n);
        char *p = at + put(at, 3, quint64(n));
        for (char ch : l1) {
            const auto b = quint8(ch);
            if (b < 0x80) {
                *p++ = ch;
            } else {
                *p++ = char(0xC0 | (b >> 6));
                *p++ = char(0x80 | (b & 0x3F));
            }
        }
        m_used = p - m_out.constData();
    }
    // `n` more bytes at the end, returned for writing.
    char *room(qsizetype n)
    {
        if (m_out.size() < m_used + n)
            m_out.resize(std::max(m_used + n, m_out.size() + m_out.size() / 2 + 4096));
        char *at = m_out.data() + m_used;
        m_used += n;
        return at;
    }
    // A head in its shortest form at `at`; answers its length.
    static int put(char *at, quint8 major, quint64 arg)
    {
        const char m = char(major << 5);
        if (arg < 24) {
            *at = char(m | char(arg));
            return 1;
        }
        const int bytes = arg <= 0xFF ? 1 : arg <= 0xFFFF ? 2 : arg <= 0xFFFFFFFFull ? 4 : 8;
        *at = char(m | (bytes == 1 ? 24 : bytes == 2 ? 25 : bytes == 4 ? 26 : 27));
        bigEndian(at + 1, arg, bytes);
        return 1 + bytes;
    }
    static void bigEndian(char *at, quint64 v, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i, v >>= 8)
            at[i] = char(v & 0xFF);
    }
    QByteArray &m_out;
    qsizetype &m_used;
};

} // namespace

QByteArray save(const MemTable &table)
{
    QByteArray out;
    const QList<FieldDef> &fields = table.fields();
    const int rows = table.rowCount();
    const int fc = int(fields.size());
    {
        QCborStreamWriter w(&out);
        writeHead(w, table, 3);
        w.append(QLatin1String("rows"));
    }
    qsizetype used = out.size();
    RowBytes b(out, used);
    b.head(4, quint64(rows));
    for (int r = 0; r < rows; ++r) {
        b.head(4, quint64(fc));
        for (int c = 0; c < fc; ++c) {
            if (table.isNullAt(r, c)) {
                b.null();
                continue;
            }
            switch (fields[c].kind) {
            case FieldKind::Text: b.text(table.textAnyViewAt(r, c)); break;
            case FieldKind::Number: b.number(table.numberAt(r, c)); break;
            case FieldKind::Integer:
            case FieldKind::DateTime: b.integer(table.integerAt(r, c)); break;
            case FieldKind::Boolean: b.boolean(table.booleanAt(r, c)); break;
            }
        }
    }
    out.truncate(used);
    return out;
}

PacketWriter::PacketWriter(const QString &tableName, const QList<FieldDef> &fields)
{
    QCborStreamWriter w(&m_head);
    writeHead(w, tableName, fields, 3);
    w.append(QLatin1String("rows"));
}

void PacketWriter::null()
{
    RowBytes(m_rows, m_used).null();
}

void PacketWriter::text(QByteArrayView utf8)
{
    RowBytes(m_rows, m_used).utf8(utf8);
}

void PacketWriter::text(QStringView s)
{
    RowBytes(m_rows, m_used).text(s);
}

void PacketWriter::number(double d)
{
    // As a table keeps it: one zero, one NaN.
    if (std::isnan(d))
        d = std::numeric_limits<double>::quiet_NaN();
    else if (d == 0.0)
        d = 0.0;
    RowBytes(m_rows, m_used).number(d);
}

void PacketWriter::integer(qint64 v)
{
    RowBytes(m_rows, m_used).integer(v);
}

void PacketWriter::boolean(bool b)
{
    RowBytes(m_rows, m_used).boolean(b);
}

void PacketWriter::beginRow(int columns)
{
    RowBytes(m_rows, m_used).head(4, quint64(columns));
    ++m_count;
}

QByteArray PacketWriter::finish()
{
    QByteArray out = std::move(m_head);
    qsizetype used = out.size();
    out.resize(used + 9 + m_used);
    RowBytes(out, used).head(4, quint64(m_count));
    if (m_used > 0)
        std::memcpy(out.data() + used, m_rows.constData(), size_t(m_used));
    out.truncate(used + m_used);
    m_rows.clear();
    m_used = 0;
    m_count = 0;
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
