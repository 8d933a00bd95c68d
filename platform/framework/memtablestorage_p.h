#pragma once
// MemTable's storage, private to the table's own sources (memtable*.cpp): the cell encodings,
// the visible row order and the column store.
#include "memtable.h"

#include <QDateTime>
#include <QLocale>
#include <QAnyStringView>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <type_traits>

// Storage layout. Every column keeps one 8-byte cell per physical row slot (booleans one byte):
//  - text: offset (low 32 bits) and length (high 32 bits) of the characters in the column's
//    arena, one byte a character while the column holds nothing beyond U+00FF, two from then on
//    (see Column); the arena only grows, so an old cell stays readable after an edit, which is what lets
//    the edit snapshot and the change log's originals share characters instead of copying them;
//  - number: the double's bits, null being a NaN with a payload no arithmetic produces;
//  - integer and date-time (msecs of the wall clock read as UTC): null is the lowest qint64.
// Rows live in slots that are only ever appended; the visible order is a list of slot numbers kept
// in a gap buffer, because the load pass inserts every row ahead of the row it posted last, that
// is, always at the same place, and that must cost O(1) and not a move of every column.

namespace memtable_detail {

inline constexpr quint32 kNullLength = 0xFFFFFFFFu;
inline constexpr quint64 kNullText = quint64(kNullLength) << 32;
inline constexpr quint64 kNullNumber = 0x7FF8'0000'DEAD'BEEFull;
inline constexpr quint64 kPlainNaN = 0x7FF8'0000'0000'0000ull;
inline constexpr qint64 kNullInteger = std::numeric_limits<qint64>::min();
inline constexpr qint8 kNullBoolean = -1;
inline constexpr quint64 kMaxArena = 0xFFFFFFFFull;

inline quint64 doubleBits(double d)
{
    if (std::isnan(d))
        return kPlainNaN; // keeps a computed NaN apart from the null mark
    if (d == 0.0)
        d = 0.0; // one zero, so that locate finds 0 whatever its sign
    quint64 b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

inline double bitsDouble(quint64 b)
{
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

// Vectors grow by half, not double: a million-row table must not carry a million empty slots.
template <typename T>
void pushBack(std::vector<T> &v, T x)
{
    if (v.size() == v.capacity())
        v.reserve(v.capacity() + v.capacity() / 2 + 16);
    v.push_back(x);
}

inline QString kindName(FieldKind k)
{
    switch (k) {
    case FieldKind::Text: return QStringLiteral("texto");
    case FieldKind::Number: return QStringLiteral("número");
    case FieldKind::DateTime: return QStringLiteral("data/hora");
    case FieldKind::Integer: return QStringLiteral("inteiro");
    case FieldKind::Boolean: return QStringLiteral("lógico");
    }
    return {};
}

[[noreturn]] inline void badValue(const FieldDef &f, const QVariant &v)
{
    const QString msg = QStringLiteral("Valor '%1' inválido para o campo %2 (%3).")
                            .arg(v.toString().left(60), f.name, kindName(f.kind));
    throw std::invalid_argument(msg.toStdString());
}

inline std::optional<double> parseNumber(QStringView s)
{
    s = s.trimmed();
    bool ok = false;
    double d = QLocale::c().toDouble(s, &ok);
    if (ok)
        return d;
    // Regional settings write the decimal separator as a comma.
    if (s.count(u',') == 1 && !s.contains(u'.')) {
        QString t = s.toString();
        t.replace(u',', u'.');
        d = QLocale::c().toDouble(t, &ok);
        if (ok)
            return d;
    }
    return std::nullopt;
}

inline std::optional<QDateTime> parseDateTime(QStringView s)
{
    const QString t = s.trimmed().toString();
    static const char *const formats[] = {
        "yyyy-MM-ddTHH:mm:ss.zzz", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm",
        "yyyy-MM-dd",             "dd/MM/yyyy HH:mm:ss", "dd/MM/yyyy HH:mm",    "dd/MM/yyyy",
    };
    for (const char *f : formats) {
        const QDateTime dt = QDateTime::fromString(t, QLatin1String(f));
        if (dt.isValid())
            return QDateTime(dt.date(), dt.time(), Qt::UTC);
    }
    return std::nullopt;
}

inline qint64 wallClockMsecs(const QDateTime &dt)
{
    if (dt.timeSpec() == Qt::UTC)
        return dt.toMSecsSinceEpoch(); // already the wall clock read as UTC
    return QDateTime(dt.date(), dt.time(), Qt::UTC).toMSecsSinceEpoch();
}

// The visible order: slot numbers with a movable gap, so runs of inserts at one place are cheap.
class RowOrder {
public:
    qsizetype size() const { return qsizetype(m_buf.size() - (m_gapEnd - m_gapStart)); }
    quint32 at(qsizetype i) const
    {
        const size_t u = size_t(i);
        return u < m_gapStart ? m_buf[u] : m_buf[u + (m_gapEnd - m_gapStart)];
    }
    void set(qsizetype i, quint32 v)
    {
        const size_t u = size_t(i);
        (u < m_gapStart ? m_buf[u] : m_buf[u + (m_gapEnd - m_gapStart)]) = v;
    }
    void insert(qsizetype pos, quint32 v)
    {
        if (m_gapStart == m_gapEnd)
            grow(size_t(size()) + size_t(size()) / 2 + 16);
        moveGap(size_t(pos));
        m_buf[m_gapStart++] = v;
    }
    void erase(qsizetype pos)
    {
        moveGap(size_t(pos));
        ++m_gapEnd;
    }
    void clear()
    {
        std::vector<quint32>().swap(m_buf);
        m_gapStart = m_gapEnd = 0;
    }
    void reserve(size_t n)
    {
        if (n > m_buf.size())
            grow(n);
    }
    std::vector<quint32> toVector() const
    {
        std::vector<quint32> v;
        v.reserve(size_t(size()));
        v.insert(v.end(), m_buf.begin(), m_buf.begin() + qsizetype(m_gapStart));
        v.insert(v.end(), m_buf.begin() + qsizetype(m_gapEnd), m_buf.end());
        return v;
    }
    void assign(std::vector<quint32> v)
    {
        m_buf = std::move(v);
        m_gapStart = m_gapEnd = m_buf.size();
    }
    qsizetype indexOf(quint32 slot) const
    {
        for (qsizetype i = 0, n = size(); i < n; ++i)
            if (at(i) == slot)
                return i;
        return -1;
    }
    std::size_t bytes() const { return m_buf.capacity() * sizeof(quint32); }

private:
    void moveGap(size_t pos)
    {
        quint32 *b = m_buf.data();
        if (pos < m_gapStart) {
            const size_t n = m_gapStart - pos;
            std::memmove(b + m_gapEnd - n, b + pos, n * sizeof(quint32));
            m_gapStart = pos;
            m_gapEnd -= n;
        } else if (pos > m_gapStart) {
            const size_t n = pos - m_gapStart;
            std::memmove(b + m_gapStart, b + m_gapEnd, n * sizeof(quint32));
            m_gapStart += n;
            m_gapEnd += n;
        }
    }
    void grow(size_t capacity)
    {
        const size_t tail = m_buf.size() - m_gapEnd;
        std::vector<quint32> nb(capacity);
        std::copy(m_buf.begin(), m_buf.begin() + qsizetype(m_gapStart), nb.begin());
        std::copy(m_buf.end() - qsizetype(tail), m_buf.end(), nb.end() - qsizetype(tail));
        m_gapEnd = capacity - tail;
        m_buf.swap(nb);
    }

    std::vector<quint32> m_buf;
    size_t m_gapStart = 0;
    size_t m_gapEnd = 0;
};

struct Column {
    FieldKind kind = FieldKind::Text;
    std::vector<quint64> cells;   // every kind but Boolean
    std::vector<qint8> flags;     // Boolean: 0, 1 or kNullBoolean
    // Text: characters up to U+00FF take one byte each (arena8) until the column is given a
    // character beyond them, or a reader asks for a UTF-16 view; from then on the column is wide
    // (arena). Offsets and lengths count characters, so widening keeps every cell as it is.
    std::vector<char> arena8;
    std::vector<char16_t> arena;
    bool wide = false;
    quint64 lastText = kNullText; // last text stored: equal texts in a row share characters
    size_t reservedRows = 0;      // rows the table was reserved for (see grow)
    MemTable::DisplayHook hook;

    quint64 nullRaw() const
    {
        switch (kind) {
        case FieldKind::Text: return kNullText;
        case FieldKind::Number: return kNullNumber;
        case FieldKind::DateTime:
        case FieldKind::Integer: return quint64(kNullInteger);
        case FieldKind::Boolean: return quint64(qint64(kNullBoolean));
        }
        return 0;
    }
    quint64 raw(quint32 slot) const
    {
        return kind == FieldKind::Boolean ? quint64(qint64(flags[slot])) : cells[slot];
    }
    void setRaw(quint32 slot, quint64 r)
    {
        if (kind == FieldKind::Boolean)
            flags[slot] = qint8(qint64(r));
        else
            cells[slot] = r;
    }
    void pushNull()
    {
        if (kind == FieldKind::Boolean)
            pushBack(flags, kNullBoolean);
        else
            pushBack(cells, nullRaw());
    }
    bool isNullRaw(quint64 r) const { return r == nullRaw(); }
    // The characters of a text cell, in whichever width the column has.
    QAnyStringView view(quint64 r) const
    {
        const quint32 len = quint32(r >> 32);
        if (len == kNullLength || len == 0)
            return QStringView();
        if (wide)
            return QStringView(arena.data() + quint32(r), qsizetype(len));
        return QLatin1StringView(arena8.data() + quint32(r), qsizetype(len));
    }
    // A UTF-16 view: widens the column when it is narrow.
    QStringView wideView(quint64 r)
    {
        widen();
        const quint32 len = quint32(r >> 32);
        if (len == kNullLength || len == 0)
            return {};
        return QStringView(arena.data() + quint32(r), qsizetype(len));
    }
    // The characters of a text cell as UTF-16, in the front of `scratch` when the column is narrow.
    // Scratch only grows (the key checks read millions of cells of a few characters through one),
    // so its own size says nothing: the view has the cell's.
    QStringView viewInto(quint64 r, QString &scratch) const
    {
        const quint32 len = quint32(r >> 32);
        if (len == kNullLength || len == 0)
            return {};
        if (wide)
            return QStringView(arena.data() + quint32(r), qsizetype(len));
        if (scratch.size() < qsizetype(len))
            scratch.resize(qsizetype(len));
        char16_t *out = reinterpret_cast<char16_t *>(scratch.data());
        const char *in = arena8.data() + quint32(r);
        for (quint32 i = 0; i < len; ++i)
            out[i] = char16_t(static_cast<unsigned char>(in[i]));
        return QStringView(out, qsizetype(len));
    }
    void widen()
    {
        if (wide)
            return;
        std::vector<char16_t> w;
        w.reserve(arena8.capacity());
        for (char c : arena8)
            w.push_back(char16_t(static_cast<unsigned char>(c)));
        arena.swap(w);
        std::vector<char>().swap(arena8);
        wide = true;
    }
    // Room for `more` characters. A table reserved for a known number of rows (a load that
    // counted its lines first) sizes its text for all of them from the characters per row so far,
    // an eighth more at the least: a few exact steps instead of half again at each, and no half
    // empty arena held at the end of the load.
    template <typename V>
    void grow(V &v, size_t more) const
    {
        if (v.capacity() - v.size() >= more)
            return;
        const size_t need = v.size() + more;
        const size_t rows = cells.size();
        if (rows >= 1024 && rows < reservedRows) {
            const double perRow = double(need) / double(rows);
            const size_t predicted = size_t(perRow * double(reservedRows) * 1.02);
            v.reserve(std::max(predicted, need + need / 8));
            return;
        }
        v.reserve(std::max(need, v.capacity() + v.capacity() / 2 + 256));
    }
    // The load's path: UTF-16 text, compared with the last text and copied in one pass each.
    quint64 storeText(QStringView v)
    {
        const size_t n = size_t(v.size());
        const char16_t *src = v.utf16();
        const quint32 lastLen = quint32(lastText >> 32);
        if (lastLen != kNullLength && lastLen == n && sameAsLast(src, n))
            return lastText;
        if (n == 0)
            return 0;
        const quint64 off = wide ? arena.size() : arena8.size();
        if (off + quint64(n) > kMaxArena)
            throw std::length_error("Tabela em memória: limite de texto de uma coluna excedido.");
        if (!wide) {
            char16_t any = 0; // the bits of every character: above 0xFF when one of them is
            for (size_t i = 0; i < n; ++i)
                any |= src[i];
            if (any > 0xFF) {
                widen(); // the same offsets: the narrow arena's characters, two bytes each
            } else {
                // Appended in one step, each character cut to its byte: no zero-filling first.
                grow(arena8, n);
                arena8.insert(arena8.end(), src, src + n);
            }
        }
        if (wide) {
            grow(arena, n);
            arena.insert(arena.end(), src, src + n);
        }
        lastText = (quint64(quint32(n)) << 32) | off;
        return lastText;
    }
    bool sameAsLast(const char16_t *src, size_t n) const
    {
        const quint32 off = quint32(lastText);
        if (wide)
            return std::memcmp(arena.data() + off, src, n * sizeof(char16_t)) == 0;
        const unsigned char *have = reinterpret_cast<const unsigned char *>(arena8.data()) + off;
        for (size_t i = 0; i < n; ++i)
            if (have[i] != src[i])
                return false;
        return true;
    }
    quint64 storeText(QAnyStringView s)
    {
        const quint32 lastLen = quint32(lastText >> 32);
        if (lastLen != kNullLength && view(lastText) == s)
            return lastText;
        if (s.isEmpty())
            return 0;
        const size_t n = size_t(s.size());
        const quint64 off = wide ? arena.size() : arena8.size();
        if (off + quint64(n) > kMaxArena)
            throw std::length_error("Tabela em memória: limite de texto de uma coluna excedido.");
        bool utf8 = false;
        s.visit([&](auto v) {
            using V = decltype(v);
            if constexpr (std::is_same_v<V, QUtf8StringView>) {
                utf8 = true; // never stored here; read as text all the same, below
            } else if constexpr (std::is_same_v<V, QStringView>) {
                if (!wide && std::any_of(v.begin(), v.end(), [](QChar c) { return c.unicode() > 0xFF; }))
                    widen();
                if (wide) {
                    grow(arena, n);
                    arena.insert(arena.end(), v.utf16(), v.utf16() + v.size());
                } else {
                    grow(arena8, n);
                    for (QChar c : v)
                        arena8.push_back(char(c.unicode()));
                }
            } else if constexpr (std::is_same_v<V, QLatin1StringView>) {
                if (wide) {
                    grow(arena, n);
                    for (char c : v)
                        arena.push_back(char16_t(static_cast<unsigned char>(c)));
                } else {
                    grow(arena8, n);
                    arena8.insert(arena8.end(), v.data(), v.data() + v.size());
                }
            }
        });
        if (utf8) {
            const QString t = s.toString();
            return storeText(QStringView(t));
        }
        lastText = (quint64(quint32(n)) << 32) | off;
        return lastText;
    }
    void clear()
    {
        std::vector<quint64>().swap(cells);
        std::vector<qint8>().swap(flags);
        std::vector<char16_t>().swap(arena);
        std::vector<char>().swap(arena8);
        wide = false;
        lastText = kNullText;
        reservedRows = 0;
    }
    void reserve(size_t n)
    {
        reservedRows = n;
        if (kind == FieldKind::Boolean)
            flags.reserve(n);
        else
            cells.reserve(n);
    }
    std::size_t bytes() const
    {
        return cells.capacity() * sizeof(quint64) + flags.capacity() + arena.capacity() * sizeof(char16_t)
             + arena8.capacity();
    }
};

} // namespace memtable_detail
