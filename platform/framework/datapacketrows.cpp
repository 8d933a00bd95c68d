// Rows read where they lie in a whole-table packet (PacketRows, datapacket.h).
//
// open() goes through the packet once with the same reader as load(), so a packet is refused by
// both or by neither, with the same words; it keeps only where each row's list starts. read()
// then decodes a row straight from its bytes with the small decoder below, which needs to know
// only the forms that reading let through: lists of known or open length, text whole or in
// chunks, integers, floating point of 16, 32 or 64 bits, true, false and null. Text is taken as
// that reader takes it: a byte order mark at the start of a text, or of each of its chunks, is not
// part of it.
#include "datapacketreader_p.h"

#include <QFloat16>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace DataPacket {

namespace {

// The head of one CBOR item: its major type and argument, or an open length.
struct Head {
    int major = 0;
    int info = 0;
    quint64 arg = 0;
    bool open = false; // list or text of open length, ended by a break (0xFF)
};

inline Head readHead(const char *data, qsizetype &at)
{
    const auto byte = quint8(data[at++]);
    Head h;
    h.major = byte >> 5;
    h.info = byte & 0x1F;
    switch (h.info) {
    case 24:
        h.arg = quint8(data[at]);
        at += 1;
        break;
    case 25:
        h.arg = qFromBigEndian<quint16>(data + at);
        at += 2;
        break;
    case 26:
        h.arg = qFromBigEndian<quint32>(data + at);
        at += 4;
        break;
    case 27:
        h.arg = qFromBigEndian<quint64>(data + at);
        at += 8;
        break;
    case 31:
        h.open = true;
        break;
    default:
        h.arg = quint64(h.info);
        break;
    }
    return h;
}

inline bool isBreak(const char *data, qsizetype at) { return quint8(data[at]) == 0xFF; }

// The packet reader's UTF-8 decoder drops a byte order mark that starts a text (or a chunk of it).
inline qsizetype markAt(const char *data, qsizetype size)
{
    return size >= 3 && quint8(data[0]) == 0xEF && quint8(data[1]) == 0xBB && quint8(data[2]) == 0xBF ? 3 : 0;
}


// The bytes of the first `width` UTF-16 units, a character that would not fit whole left out, as
// MemTable cuts a text longer than its column.
qsizetype cutAt(QByteArrayView u, qsizetype width)
{
    qsizetype units = 0;
    qsizetype i = 0;
    while (i < u.size()) {
        const auto b = quint8(u[i]);
        const int len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        const int w = len == 4 ? 2 : 1;
        if (units + w > width)
            break;
        units += w;
        i += len;
    }
    return i;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool wellFormedUtf8(const quint8 *p, const quint8 *end)
{
    while (p < end) {
        // Eight ASCII bytes at a time.
        while (end - p >= 8) {
            quint64 w;
            std::memcpy(&w, p, 8);
            if (w & 0x8080808080808080ull)
                break;
            p += 8;
        }
        if (p == end)
            break;
        const quint8 b = *p;
        if (b < 0x80) {
            ++p;
            continue;
        }
        int more;
        quint8 lo = 0x80, hi = 0xBF; // the second byte's range
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            if (b == 0xE0)
                lo = 0xA0;
            else if (b == 0xED)
                hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (end - p <= more || p[1] < lo || p[1] > hi)
            return false;
        for (int i = 2; i <= more; ++i)
            if ((p[i] & 0xC0) != 0x80)
                return false;
        p += more + 1;
    }
    return true;
}

// A text cell's bytes: where they lie in the packet, or, for text in chunks, put together in
// `scratch`. Text longer than the column is cut there, as the table load() fills would cut it.
inline void readText(const char *data, qsizetype &at, const Head &h, const FieldDef &f, QByteArray &scratch,
                     qsizetype &offset, qsizetype &size, bool &inScratch)
{
    if (!h.open) {
        const qsizetype mark = markAt(data + at, qsizetype(h.arg));
        offset = at + mark;
        size = qsizetype(h.arg) - mark;
        at += qsizetype(h.arg);
    } else {
        inScratch = true;
        offset = scratch.size();
        while (!isBreak(data, at)) {
            const Head chunk = readHead(data, at);
            const qsizetype mark = markAt(data + at, qsizetype(chunk.arg));
            scratch.append(data + at + mark, qsizetype(chunk.arg) - mark);
            at += qsizetype(chunk.arg);
        }
        ++at;
        size = scratch.size() - offset;
    }
    if (f.width > 0 && size > f.width) {
        const QByteArrayView whole(inScratch ? scratch.constData() + offset : data + offset, size);
        if (utf16Length(whole) > f.width)
            size = cutAt(whole, f.width);
    }
}

// A floating point value of 16, 32 or 64 bits into `number`; false for any other simple value.
inline bool readFloat(const Head &h, double &number)
{
    switch (h.info) {
    case 25: {
        const auto bits = quint16(h.arg);
        float v;
        qFloatFromFloat16(&v, reinterpret_cast<const qfloat16 *>(&bits), 1);
        number = double(v);
        return true;
    }
    case 26: {
        const auto bits = quint32(h.arg);
        float v;
        std::memcpy(&v, &bits, sizeof v);
        number = double(v);
        return true;
    }
    case 27: {
        const quint64 bits = h.arg;
        std::memcpy(&number, &bits, sizeof number);
        return true;
    }
    default:
        return false;
    }
}

// The head of an item at `i` in the quick pass, its length or value in `arg`; false when it is
// cut short, of open length where `open` is not allowed, reserved, or not in its shortest form.
inline bool quickHead(const quint8 *data, qsizetype size, qsizetype &i, int &major, quint64 &arg, bool &open)
{
    if (i >= size)
        return false;
    const quint8 b = data[i++];
    major = b >> 5;
    const int info = b & 0x1F;
    open = false;
    if (info < 24) {
        arg = quint64(info);
        return true;
    }
    if (info == 31) {
        open = true;
        return major == 4 || major == 3;
    }
    if (info > 27 || major == 7)
        return false;
    const int n = 1 << (info - 24);
    if (size - i < n)
        return false;
    arg = 0;
    for (int k = 0; k < n; ++k)
        arg = (arg << 8) | data[i + k];
    i += n;
    const quint64 least = n == 1 ? 24 : n == 2 ? 0x100 : n == 4 ? 0x10000 : 0x100000000ull;
    return arg >= least;
}

// One value of the quick pass at `i`, in its column's kind; false at anything the exact reading
// should look at. On success `i` is past the value.
inline bool quickCell(const quint8 *data, qsizetype size, qsizetype &i, const FieldDef &f, const Limits &limits)
{
    const FieldKind kind = f.kind;
    if (i >= size)
        return false;
    if (data[i] == 0xF6) { // null
        ++i;
        return true;
    }
    if (kind == FieldKind::Boolean) {
        if (data[i] != 0xF4 && data[i] != 0xF5)
            return false;
        ++i;
        return true;
    }
    if (kind == FieldKind::Number && (data[i] == 0xF9 || data[i] == 0xFA || data[i] == 0xFB)) {
        const qsizetype n = data[i] == 0xF9 ? 2 : data[i] == 0xFA ? 4 : 8;
        if (size - i - 1 < n)
            return false;
        i += 1 + n;
        return true;
    }
    int major;
    quint64 arg;
    bool open;
    if (!quickHead(data, size, i, major, arg, open) || open)
        return false;
    if (kind == FieldKind::Text) {
        if (major != 3 || arg > quint64(limits.maxTextLength) || arg > quint64(size - i))
            return false;
        if (!wellFormedUtf8(data + i, data + i + qsizetype(arg)))
            return false;
        // Longer than its column, where that is refused: the exact reading says so.
        if (limits.refuseLongText && f.width > 0 && arg > quint64(f.width)
            && utf16Length(QByteArrayView(data + i, qsizetype(arg))) > f.width)
            return false;
        i += qsizetype(arg);
        return true;
    }
    // Number, Integer, DateTime: an integer within qint64, its least value excluded.
    if (major == 0)
        return arg <= quint64(std::numeric_limits<qint64>::max());
    if (major == 1)
        return arg < quint64(std::numeric_limits<qint64>::max());
    return false;
}

// One row's list in the quick pass: one value per column, of known or open length.
inline bool quickRow(const quint8 *data, qsizetype size, qsizetype &i, const QList<FieldDef> &fields,
                     const Limits &limits)
{
    const qsizetype fc = fields.size();
    int major;
    quint64 arg;
    bool open;
    if (!quickHead(data, size, i, major, arg, open) || major != 4 || (!open && arg != quint64(fc)))
        return false;
    const bool rowOpen = open;
    for (qsizetype c = 0; c < fc; ++c)
        if (!quickCell(data, size, i, fields[c], limits))
            return false;
    if (rowOpen) {
        if (i >= size || data[i] != 0xFF)
            return false;
        ++i;
    }
    return true;
}

// The common case of the rows' list read quickly: the list as the packet writer makes it, each
// value in its column's kind, text whole and well-formed. It answers false, having noted nothing
// for certain, at anything else, which the exact reading then looks at: it never lets through what
// that reading refuses. On success `at` is past the list.
bool quickScan(const QByteArray &packet, qsizetype &at, const QList<FieldDef> &fields, const Limits &limits,
               std::vector<qint64> &starts)
{
    const auto *data = reinterpret_cast<const quint8 *>(packet.constData());
    const qsizetype size = packet.size();
    qsizetype i = at;
    int major;
    quint64 arg;
    bool open;
    if (!quickHead(data, size, i, major, arg, open) || major != 4)
        return false;
    const bool listOpen = open;
    if (!open && (arg > quint64(limits.maxRows) || arg > quint64(size - i)))
        return false;
    const quint64 declared = arg;
    starts.reserve(open ? 0 : size_t(declared));
    for (quint64 row = 0;; ++row) {
        if (listOpen) {
            if (i >= size)
                return false;
            if (data[i] == 0xFF) {
                ++i;
                break;
            }
            if (row >= quint64(limits.maxRows))
                return false;
        } else if (row == declared) {
            break;
        }
        starts.push_back(i);
        if (!quickRow(data, size, i, fields, limits))
            return false;
    }
    at = i;
    return true;
}

} // namespace

QString fromUtf8(QByteArrayView utf8)
{
    if (markAt(utf8.data(), utf8.size()) == 0)
        return QString::fromUtf8(utf8);
    return QChar(0xFEFF) + QString::fromUtf8(utf8.sliced(3));
}

PacketRows::PacketRows() = default;
PacketRows::~PacketRows() = default;
PacketRows::PacketRows(PacketRows &&) noexcept = default;
PacketRows &PacketRows::operator=(PacketRows &&) noexcept = default;

void PacketRows::close()
{
    m_data.clear();
    m_name.clear();
    m_fields.clear();
    std::vector<qint64>().swap(m_starts);
    m_open = false;
}

Status PacketRows::open(const QByteArray &packet, const Limits &limits)
{
    close();
    reader_detail::Reader reader(packet, limits);
    bool delta = false, hasRows = false;
    bool ok = false;
    try {
        ok = reader.readPacket(m_name, m_fields, delta, hasRows, false, [&](bool isDelta) {
            if (isDelta)
                return reader.fail(QStringLiteral("pacote de alterações onde se espera a tabela inteira."));
            // Quickly where it can: a packet that ends with its rows, as the packet writer makes
            // them. The exact reading takes over wherever the quick one has a doubt.
            qsizetype at = qsizetype(reader.offset());
            if (quickScan(packet, at, m_fields, limits, m_starts) && reader.finishAfterRows(at))
                return true;
            m_starts.clear();
            return reader.scanRows(m_fields, m_starts);
        });
        if (ok && delta)
            ok = reader.fail(QStringLiteral("pacote de alterações onde se espera a tabela inteira."));
    } catch (const std::exception &e) {
        ok = reader.fail(QString::fromUtf8(e.what()));
    }
    if (!ok) {
        close();
        return Status::fail(reader.error());
    }
    m_data = packet;
    m_open = true;
    return okStatus();
}

int PacketRows::fieldIndex(QStringView name) const
{
    for (int i = 0; i < m_fields.size(); ++i) {
        const QString &f = m_fields[i].name;
        if (f.size() == name.size() && QStringView(f).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void PacketRows::read(qsizetype index, PacketRow &row) const
{
    const char *data = m_data.constData();
    const qsizetype fc = m_fields.size();
    row.m_data = data;
    row.m_fields = &m_fields;
    row.m_index = index;
    row.m_cells.resize(size_t(fc));
    row.m_scratch.clear();
    qsizetype at = qsizetype(m_starts[size_t(index)]);
    // The row's list: open() found one value per column in it.
    readHead(data, at);
    for (qsizetype col = 0; col < fc; ++col) {
        PacketRow::Cell &cell = row.m_cells[size_t(col)];
        const FieldDef &f = m_fields[col];
        const Head h = readHead(data, at);
        cell.inScratch = false;
        switch (h.major) {
        case 0: // unsigned integer
        case 1: { // negative integer: -1 - arg
            const qint64 v = h.major == 0 ? qint64(h.arg) : -1 - qint64(h.arg);
            if (f.kind == FieldKind::Number) {
                cell.kind = PacketRow::Number;
                cell.number = double(v);
            } else {
                cell.kind = PacketRow::Integer;
                cell.integer = v;
            }
            break;
        }
        case 3: // text
            cell.kind = PacketRow::Text;
            readText(data, at, h, f, row.m_scratch, cell.offset, cell.size, cell.inScratch);
            break;
        case 7: // simple values and floating point
            if (h.info == 20 || h.info == 21) {
                cell.kind = PacketRow::Boolean;
                cell.integer = h.info == 21;
            } else if (readFloat(h, cell.number)) {
                cell.kind = PacketRow::Number;
            } else { // null
                cell.kind = PacketRow::Null;
            }
            break;
        default:
            cell.kind = PacketRow::Null;
            break;
        }
    }
}

QByteArrayView PacketRow::utf8(int col) const
{
    const Cell &c = m_cells[size_t(col)];
    if (c.kind != Text)
        return {};
    return QByteArrayView((c.inScratch ? m_scratch.constData() : m_data) + c.offset, c.size);
}

QString PacketRow::text(int col) const
{
    const Cell &c = m_cells[size_t(col)];
    const FieldKind kind = m_fields->at(col).kind;
    switch (c.kind) {
    case Null: return {};
    case Text: return fromUtf8(utf8(col));
    case Number:
        return std::fabs(c.number) < 1e15 ? QString::number(c.number, 'f', QLocale::FloatingPointShortest)
                                          : QString::number(c.number, 'g', QLocale::FloatingPointShortest);
    case Integer:
        if (kind == FieldKind::DateTime)
            return QDateTime::fromMSecsSinceEpoch(c.integer, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        return QString::number(c.integer);
    case Boolean: return c.integer ? QStringLiteral("true") : QStringLiteral("false");
    }
    return {};
}

QVariant PacketRow::value(int col) const
{
    const Cell &c = m_cells[size_t(col)];
    switch (c.kind) {
    case Null: return {};
    case Text: return fromUtf8(utf8(col));
    case Number: return c.number;
    case Integer:
        if (m_fields->at(col).kind == FieldKind::DateTime)
            return QDateTime::fromMSecsSinceEpoch(c.integer, Qt::UTC);
        return c.integer;
    case Boolean: return bool(c.integer);
    }
    return {};
}

double PacketRow::number(int col) const
{
    const Cell &c = m_cells[size_t(col)];
    return c.kind == Number ? c.number : 0.0;
}

qint64 PacketRow::integer(int col) const
{
    const Cell &c = m_cells[size_t(col)];
    return c.kind == Integer ? c.integer : 0;
}

bool PacketRow::boolean(int col) const
{
    const Cell &c = m_cells[size_t(col)];
    return c.kind == Boolean && c.integer;
}

QDateTime PacketRow::dateTime(int col) const
{
    const Cell &c = m_cells[size_t(col)];
    if (c.kind == Integer && m_fields->at(col).kind == FieldKind::DateTime)
        return QDateTime::fromMSecsSinceEpoch(c.integer, Qt::UTC);
    return {};
}

} // namespace DataPacket
