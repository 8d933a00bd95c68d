#pragma once
// The packet reader, private to the packet code of this folder (datapacket.cpp, datapacketrows.cpp),
// which holds the format's description and the entry points that read a packet. What is read once
// a packet rather than once a value (the columns, the rows of changes) is in datapacketreader.cpp.
#include "datapacket.h"
#include "messages.h"

#include <QCborStreamReader>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace DataPacket::reader_detail {

inline constexpr int kMaxNesting = 32;

// Where a value sits, for the message; only formatted when something is wrong with it.
inline QString label(const QString &s) { return s; }
template <typename F>
QString label(const F &f) { return f(); }

inline QString kindLabel(FieldKind k)
{
    switch (k) {
    case FieldKind::Text: return QStringLiteral("texto");
    case FieldKind::Number: return QStringLiteral("número");
    case FieldKind::DateTime: return QStringLiteral("data/hora (inteiro)");
    case FieldKind::Integer: return QStringLiteral("inteiro");
    case FieldKind::Boolean: return QStringLiteral("lógico");
    }
    return {};
}

// Reads one packet. Every count the packet declares is checked against the bytes that are really
// left before anything is sized by it, and every failure keeps the first message.
class Reader {
public:
    Reader(const QByteArray &data, const Limits &limits) : m_data(data), m_r(data), m_limits(limits) {}

    QString error() const { return m_error; }
    bool failed() const { return !m_error.isEmpty(); }

    bool fail(const QString &what)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("Pacote de dados inválido: %1").arg(what);
        return false;
    }
    bool checkStream()
    {
        if (failed())
            return false;
        const QCborError e = m_r.lastError();
        if (e.c == QCborError::NoError)
            return true;
        const qint64 at = m_r.currentOffset();
        switch (e.c) {
        case QCborError::EndOfFile: return fail(QStringLiteral("dados truncados (byte %1).").arg(at));
        case QCborError::NestingTooDeep: return fail(QStringLiteral("aninhamento excessivo (byte %1).").arg(at));
        case QCborError::DataTooLarge: return fail(QStringLiteral("dado grande demais (byte %1).").arg(at));
        case QCborError::InvalidUtf8String: return fail(QStringLiteral("texto UTF-8 inválido (byte %1).").arg(at));
        default: break;
        }
        return fail(QStringLiteral("%1 (byte %2).").arg(e.toString()).arg(m_r.currentOffset()));
    }
    qint64 remaining() const { return qint64(m_data.size()) - m_r.currentOffset(); }
    qint64 offset() const { return m_r.currentOffset(); }

    QString typeName() const
    {
        switch (m_r.type()) {
        case QCborStreamReader::UnsignedInteger:
        case QCborStreamReader::NegativeInteger: return QStringLiteral("inteiro");
        case QCborStreamReader::ByteArray: return QStringLiteral("bytes");
        case QCborStreamReader::String: return QStringLiteral("texto");
        case QCborStreamReader::Array: return QStringLiteral("lista");
        case QCborStreamReader::Map: return QStringLiteral("mapa");
        case QCborStreamReader::Tag: return QStringLiteral("etiqueta");
        case QCborStreamReader::SimpleType: return QStringLiteral("valor simples");
        case QCborStreamReader::Float16:
        case QCborStreamReader::Float:
        case QCborStreamReader::Double: return QStringLiteral("número");
        case QCborStreamReader::Invalid: return QStringLiteral("fim dos dados");
        }
        return QStringLiteral("desconhecido");
    }

    bool atTop() const { return m_r.containerDepth() == 0; }

    // Opens an array or map; `declared` is its length, or -1 when it is not given ahead.
    template <typename W>
    bool enter(bool wantMap, const W &w, qint64 &declared)
    {
        if (!checkStream())
            return false;
        if (wantMap ? !m_r.isMap() : !m_r.isArray())
            return fail(QStringLiteral("%1: esperado %2, encontrado %3.")
                            .arg(label(w), wantMap ? QStringLiteral("mapa") : QStringLiteral("lista"), typeName()));
        declared = -1;
        if (m_r.isLengthKnown()) {
            const quint64 n = m_r.length();
            // Each element takes at least one byte (a map entry two).
            const quint64 minBytes = wantMap ? 2 : 1;
            if (n > quint64(std::numeric_limits<qint64>::max() / 2) || n * minBytes > quint64(remaining()))
                return fail(QStringLiteral("%1 declara %2 elementos, mais do que os dados contêm.").arg(label(w)).arg(n));
            declared = qint64(n);
        }
        if (m_r.containerDepth() >= kMaxNesting)
            return fail(QStringLiteral("aninhamento excessivo."));
        if (!m_r.enterContainer())
            return checkStream() && fail(QStringLiteral("%1 ilegível.").arg(label(w)));
        return checkStream();
    }
    bool hasNext() { return !failed() && m_r.hasNext() && m_r.lastError().c == QCborError::NoError; }
    bool leave()
    {
        if (!checkStream())
            return false;
        if (!m_r.leaveContainer())
            return checkStream() && fail(QStringLiteral("fim de lista ou mapa ilegível."));
        return checkStream();
    }
    bool skip()
    {
        if (!checkStream())
            return false;
        if (!m_r.next(kMaxNesting - m_r.containerDepth()))
            return checkStream() && fail(QStringLiteral("aninhamento excessivo."));
        return checkStream();
    }

    template <typename W>
    bool readText(QString &out, qsizetype maxChars, const W &w)
    {
        if (!checkStream())
            return false;
        if (!m_r.isString())
            return fail(QStringLiteral("%1: esperado texto, encontrado %2.").arg(label(w), typeName()));
        out.clear();
        for (;;) {
            const qsizetype chunk = m_r.currentStringChunkSize();
            if (chunk > remaining())
                return fail(QStringLiteral("%1: texto de %2 bytes além do fim dos dados.").arg(label(w)).arg(chunk));
            // UTF-8 takes at least one byte per UTF-16 unit, and at most three.
            if (chunk > 0 && (chunk / 3) > maxChars)
                return fail(QStringLiteral("%1: texto longo demais (%2 bytes).").arg(label(w)).arg(chunk));
            auto res = m_r.readString();
            if (res.status == QCborStreamReader::Error)
                return checkStream() && fail(QStringLiteral("%1: texto ilegível.").arg(label(w)));
            if (res.status == QCborStreamReader::EndOfString)
                break;
            out += res.data;
            if (out.size() > maxChars)
                return fail(QStringLiteral("%1: texto com mais de %2 caracteres.").arg(label(w)).arg(maxChars));
        }
        return checkStream();
    }

    template <typename W>
    bool readInt(qint64 &out, const W &w)
    {
        if (!checkStream())
            return false;
        if (m_r.isUnsignedInteger()) {
            const quint64 v = m_r.toUnsignedInteger();
            if (v > quint64(std::numeric_limits<qint64>::max()))
                return fail(QStringLiteral("%1: inteiro fora da faixa.").arg(label(w)));
            out = qint64(v);
        } else if (m_r.isNegativeInteger()) {
            // QCborNegativeInteger holds the magnitude; 0 stands for 2^64, which wrapped.
            const quint64 n = quint64(m_r.toNegativeInteger());
            if (n == 0 || n - 1 >= quint64(std::numeric_limits<qint64>::max()))
                return fail(QStringLiteral("%1: inteiro fora da faixa.").arg(label(w)));
            out = -qint64(n - 1) - 1;
        } else {
            return fail(QStringLiteral("%1: esperado inteiro, encontrado %2.").arg(label(w), typeName()));
        }
        m_r.next();
        return checkStream();
    }
    template <typename W>
    bool readBool(bool &out, const W &w)
    {
        if (!checkStream())
            return false;
        if (!m_r.isBool())
            return fail(QStringLiteral("%1: esperado lógico, encontrado %2.").arg(label(w), typeName()));
        out = m_r.toBool();
        m_r.next();
        return checkStream();
    }
    bool isNull() const { return m_r.isNull(); }
    bool isString() const { return m_r.isString(); }
    bool isInteger() const { return m_r.isInteger(); }
    bool isFloat() const { return m_r.isDouble() || m_r.isFloat() || m_r.isFloat16(); }
    bool isBool() const { return m_r.isBool(); }
    double readFloat()
    {
        double d = m_r.isDouble() ? m_r.toDouble() : m_r.isFloat() ? double(m_r.toFloat()) : double(m_r.toFloat16());
        m_r.next();
        return d;
    }
    void skipScalar() { m_r.next(); }

    bool readFields(QList<FieldDef> &fields);

    bool readField(FieldDef &f, int index);

    // One value that is not null, in the column's kind, handed to `put` as `const QString *`, double,
    // qint64 (integers and date-times as msecs) or bool. `text` is the caller's buffer for text.
    template <typename W, typename Put>
    bool readTyped(const FieldDef &f, QString &text, const W &w, Put &&put)
    {
        switch (f.kind) {
        case FieldKind::Text:
            if (m_r.isString()) {
                if (!readText(text, m_limits.maxTextLength, w))
                    return false;
                if (m_limits.refuseLongText && f.width > 0 && text.size() > f.width)
                    return fail(Msg(QStringLiteral("Pct_TextoLongo")).arg(label(w)).arg(text.size()).arg(f.width));
                put(static_cast<const QString *>(&text));
                return true;
            }
            break;
        case FieldKind::Number:
            if (isFloat()) {
                put(readFloat());
                return checkStream();
            }
            if (isInteger()) {
                qint64 i;
                if (!readInt(i, w))
                    return false;
                put(double(i));
                return true;
            }
            break;
        case FieldKind::Integer:
        case FieldKind::DateTime:
            if (isInteger()) {
                qint64 i;
                if (!readInt(i, w))
                    return false;
                if (i == std::numeric_limits<qint64>::min()) // the table's null mark
                    return fail(QStringLiteral("%1: inteiro fora da faixa.").arg(label(w)));
                put(i);
                return true;
            }
            break;
        case FieldKind::Boolean:
            if (isBool()) {
                put(m_r.toBool());
                m_r.next();
                return checkStream();
            }
            break;
        }
        if (!checkStream())
            return false;
        return fail(QStringLiteral("%1: esperado %2, encontrado %3.").arg(label(w), kindLabel(f.kind), typeName()));
    }

    // One value in the column's kind, as a QVariant (delta rows).
    template <typename W>
    bool readVariant(const FieldDef &f, QVariant &out, const W &where)
    {
        if (!checkStream())
            return false;
        if (m_r.isNull()) {
            out = QVariant();
            m_r.next();
            return checkStream();
        }
        QString text;
        return readTyped(f, text, where, [&](auto v) {
            using V = decltype(v);
            if constexpr (std::is_same_v<V, const QString *>)
                out = *v;
            else if constexpr (std::is_same_v<V, qint64>)
                out = f.kind == FieldKind::Integer ? QVariant(v) : QVariant(QDateTime::fromMSecsSinceEpoch(v, Qt::UTC));
            else
                out = v;
        });
    }

    // One value straight into a bulk-loaded row.
    bool readCell(MemTable &t, int row, int col, const FieldDef &f, QString &scratch)
    {
        if (m_r.isNull()) {
            m_r.next();
            return checkStream();
        }
        const auto at = [&] { return where(row, f); };
        return readTyped(f, scratch, at, [&](auto v) {
            using V = decltype(v);
            if constexpr (std::is_same_v<V, const QString *>)
                t.bulkSetText(row, col, *v);
            else if constexpr (std::is_same_v<V, double>)
                t.bulkSetNumber(row, col, v);
            else if constexpr (std::is_same_v<V, qint64>)
                t.bulkSetInteger(row, col, v);
            else
                t.bulkSetBoolean(row, col, v);
        });
    }

    static QString where(qint64 row, const FieldDef &f)
    {
        return QStringLiteral("linha %1, campo %2").arg(row + 1).arg(f.name);
    }

    // A value that is not stored anywhere, checked as readCell checks it.
    bool checkCell(qint64 row, const FieldDef &f, QString &scratch)
    {
        if (m_r.isNull()) {
            m_r.next();
            return checkStream();
        }
        const auto at = [&] { return where(row, f); };
        return readTyped(f, scratch, at, [](auto) {});
    }

    bool readRows(MemTable &t, const QList<FieldDef> &fields)
    {
        return walkRows(
            fields, [&](qint64 expected) { t.beginBulkLoad(int(expected)); }, [&](qint64) { return qint64(t.bulkNewRow()); },
            [&](qint64 r, int col, const FieldDef &f, QString &scratch) { return readCell(t, int(r), col, f, scratch); });
    }

    // The rows checked as readRows checks them, nothing kept but where each row's list starts.
    bool scanRows(const QList<FieldDef> &fields, std::vector<qint64> &starts)
    {
        return walkRows(
            fields, [&](qint64 expected) { starts.reserve(size_t(expected)); },
            [&](qint64 at) {
                starts.push_back(at);
                return qint64(starts.size()) - 1;
            },
            [&](qint64 r, int, const FieldDef &f, QString &scratch) { return checkCell(r, f, scratch); });
    }

    // The rows' list: `begin(expected)` before the first row, `newRow(offset)` at each row (the
    // offset of its list in the packet; it answers the row's index), `cell(row, col, field,
    // scratch)` for each value.
    template <typename Begin, typename NewRow, typename OnCell>
    bool walkRows(const QList<FieldDef> &fields, Begin begin, NewRow newRow, OnCell cell)
    {
        qint64 declared = -1;
        if (!enter(false, QStringLiteral("linhas"), declared))
            return false;
        if (declared > m_limits.maxRows)
            return fail(QStringLiteral("%1 linhas; o máximo é %2.").arg(declared).arg(m_limits.maxRows));
        const int fc = int(fields.size());
        // A row takes one byte for its list and at least one per value: never reserve more rows
        // than the bytes left could hold, whatever the packet declares.
        qint64 expected = declared < 0 ? 0 : std::min<qint64>(declared, remaining() / (1 + fc));
        expected = std::min<qint64>(expected, std::numeric_limits<int>::max() / 2);
        begin(expected);
        QString scratch;
        qint64 row = 0;
        while (hasNext()) {
            if (row >= m_limits.maxRows)
                return fail(QStringLiteral("mais de %1 linhas.").arg(m_limits.maxRows));
            const qint64 start = offset();
            qint64 n = -1;
            if (!enter(false, [row] { return QStringLiteral("linha %1").arg(row + 1); }, n))
                return false;
            if (n >= 0 && n != fc)
                return fail(QStringLiteral("linha %1 tem %2 valores; esperados %3.").arg(row + 1).arg(n).arg(fc));
            const qint64 r = newRow(start);
            int col = 0;
            while (hasNext()) {
                if (col >= fc)
                    return fail(QStringLiteral("linha %1 tem mais de %2 valores.").arg(row + 1).arg(fc));
                if (!cell(r, col, fields[col], scratch))
                    return false;
                ++col;
            }
            if (!leave())
                return false;
            if (col != fc)
                return fail(QStringLiteral("linha %1 tem %2 valores; esperados %3.").arg(row + 1).arg(col).arg(fc));
            ++row;
        }
        return leave();
    }

    template <typename W>
    bool readValueList(const QList<FieldDef> &fields, QVariantList &out, const W &what);

    bool readDeltaRows(const QList<FieldDef> &fields, std::vector<DeltaRow> &rows);

    // The top map, calling `onRows` when "rows" comes (after "fields").
    template <typename OnRows>
    bool readPacket(QString &table, QList<FieldDef> &fields, bool &delta, bool &hasRows, bool stopAfterFields,
                    OnRows onRows)
    {
        if (m_data.isEmpty())
            return fail(QStringLiteral("pacote vazio."));
        qint64 declared = -1;
        if (!enter(true, QStringLiteral("pacote"), declared))
            return false;
        bool hasFields = false, hasTable = false, hasDelta = false;
        delta = false;
        hasRows = false;
        m_entriesLeft = declared;
        while (hasNext()) {
            QString key;
            if (!readText(key, 64, QStringLiteral("chave do pacote")))
                return false;
            if (m_entriesLeft > 0)
                --m_entriesLeft;
            if (key == u"table") {
                if (hasTable)
                    return fail(QStringLiteral("chave table repetida."));
                if (!readText(table, 256, QStringLiteral("table")))
                    return false;
                hasTable = true;
            } else if (key == u"fields") {
                if (hasFields)
                    return fail(QStringLiteral("chave fields repetida."));
                if (!readFields(fields))
                    return false;
                hasFields = true;
                if (stopAfterFields)
                    return true;
            } else if (key == u"delta") {
                if (hasDelta)
                    return fail(QStringLiteral("chave delta repetida."));
                if (!readBool(delta, QStringLiteral("delta")))
                    return false;
                hasDelta = true;
            } else if (key == u"rows") {
                if (hasRows)
                    return fail(QStringLiteral("chave rows repetida."));
                if (stopAfterFields) {
                    if (!skip())
                        return false;
                } else {
                    if (!hasFields)
                        return fail(QStringLiteral("linhas antes dos campos."));
                    if (!onRows(delta))
                        return false;
                    if (m_readToEnd)
                        return true;
                }
                hasRows = true;
            } else if (!skip()) {
                return false;
            }
        }
        if (!leave())
            return false;
        if (!hasFields)
            return fail(QStringLiteral("pacote sem campos."));
        if (!atTop() || remaining() > 0)
            return fail(QStringLiteral("dados após o fim do pacote (byte %1).").arg(offset()));
        return true;
    }

    // Whether the rows' list, read by other means up to `end`, is the packet's last entry and the
    // packet ends with it; then the reading is over (readPacket returns at once).
    bool finishAfterRows(qint64 end)
    {
        const qint64 size = m_data.size();
        if (m_entriesLeft == 0 ? end != size : (m_entriesLeft > 0 || end + 1 != size || quint8(m_data.at(end)) != 0xFF))
            return false;
        m_readToEnd = true;
        return true;
    }

private:
    qint64 m_entriesLeft = -1; // of the top map, once the key read last is counted; -1: open length
    bool m_readToEnd = false;
    const QByteArray &m_data;
    QCborStreamReader m_r;
    Limits m_limits;
    QString m_error;
};

} // namespace DataPacket::reader_detail
