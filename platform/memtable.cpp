#include "memtable.h"

#include <QDate>
#include <QHash>
#include <QLocale>
#include <QTime>
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

namespace {

constexpr quint32 kNullLength = 0xFFFFFFFFu;
constexpr quint64 kNullText = quint64(kNullLength) << 32;
constexpr quint64 kNullNumber = 0x7FF8'0000'DEAD'BEEFull;
constexpr quint64 kPlainNaN = 0x7FF8'0000'0000'0000ull;
constexpr qint64 kNullInteger = std::numeric_limits<qint64>::min();
constexpr qint8 kNullBoolean = -1;
constexpr quint64 kMaxArena = 0xFFFFFFFFull;

quint64 doubleBits(double d)
{
    if (std::isnan(d))
        return kPlainNaN; // keeps a computed NaN apart from the null mark
    if (d == 0.0)
        d = 0.0; // one zero, so that locate finds 0 whatever its sign
    quint64 b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

double bitsDouble(quint64 b)
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

QString kindName(FieldKind k)
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

[[noreturn]] void badValue(const FieldDef &f, const QVariant &v)
{
    const QString msg = QStringLiteral("Valor '%1' inválido para o campo %2 (%3).")
                            .arg(v.toString().left(60), f.name, kindName(f.kind));
    throw std::invalid_argument(msg.toStdString());
}

std::optional<double> parseNumber(QStringView s)
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

std::optional<QDateTime> parseDateTime(QStringView s)
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

qint64 wallClockMsecs(const QDateTime &dt)
{
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
    // The characters of a text cell as UTF-16, in `scratch` when the column is narrow.
    QStringView viewInto(quint64 r, QString &scratch) const
    {
        const quint32 len = quint32(r >> 32);
        if (len == kNullLength || len == 0)
            return {};
        if (wide)
            return QStringView(arena.data() + quint32(r), qsizetype(len));
        scratch.resize(qsizetype(len));
        char16_t *out = reinterpret_cast<char16_t *>(scratch.data());
        const char *in = arena8.data() + quint32(r);
        for (quint32 i = 0; i < len; ++i)
            out[i] = char16_t(static_cast<unsigned char>(in[i]));
        return scratch;
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
    template <typename V>
    static void grow(V &v, size_t more)
    {
        if (v.capacity() - v.size() < more)
            v.reserve(std::max(v.size() + more, v.capacity() + v.capacity() / 2 + 256));
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
    }
    void reserve(size_t n)
    {
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

} // namespace

MemTableObserver::~MemTableObserver() = default;

FieldDef FieldDef::text(const QString &name, int width, const QString &label)
{
    FieldDef f;
    f.name = name;
    f.kind = FieldKind::Text;
    f.width = width;
    f.label = label;
    return f;
}

static FieldDef plainField(const QString &name, FieldKind kind)
{
    FieldDef f;
    f.name = name;
    f.kind = kind;
    return f;
}

FieldDef FieldDef::number(const QString &name) { return plainField(name, FieldKind::Number); }
FieldDef FieldDef::dateTime(const QString &name) { return plainField(name, FieldKind::DateTime); }
FieldDef FieldDef::integer(const QString &name) { return plainField(name, FieldKind::Integer); }
FieldDef FieldDef::boolean(const QString &name) { return plainField(name, FieldKind::Boolean); }

bool FieldDef::operator==(const FieldDef &o) const
{
    return name == o.name && kind == o.kind && width == o.width && providerFlags == o.providerFlags
        && readOnly == o.readOnly && required == o.required && label == o.label && editMask == o.editMask;
}

struct MemTable::Impl {
    MemTable *q;
    QString name;
    QList<FieldDef> fields;
    std::vector<Column> cols;
    TableState state = TableState::Inactive;

    quint32 slotCount = 0;
    std::vector<RowChange> status; // per slot
    RowOrder order;
    int current = -1;
    bool bof = true;
    bool eof = true;
    bool bulk = false;

    // Pending edit: values of the row when edit() started, and whether a setter ran since.
    std::vector<quint64> snapshot;
    bool modified = false;

    // Change log since the last merge.
    bool logChanges = true;
    int changeCount = 0;
    QHash<quint32, quint32> original;            // modified slot -> slot holding its saved values
    std::vector<quint32> deleted;                // slots of deleted saved rows
    std::optional<std::vector<quint32>> saved;   // saved order; taken at the first change
    quint32 deadSlots = 0;

    std::vector<MemTableObserver *> observers;

    explicit Impl(MemTable *t) : q(t) {}

    template <typename F>
    void notify(F f)
    {
        for (size_t i = 0; i < observers.size(); ++i)
            f(observers[i]);
    }
    void fire(const Event &e)
    {
        if (e)
            e(*q);
    }

    int rowCount() const { return state == TableState::Inactive && !bulk ? 0 : int(order.size()); }
    quint32 slotOf(int row) const { return order.at(row); }
    int currentSlot() const { return current < 0 ? -1 : int(order.at(current)); }

    void checkCol(int col) const
    {
        if (col < 0 || col >= int(cols.size()))
            throw std::out_of_range(QStringLiteral("Tabela %1: coluna %2 inexistente.").arg(name).arg(col).toStdString());
    }
    void checkRow(int row) const
    {
        if (row < 0 || row >= rowCount())
            throw std::out_of_range(QStringLiteral("Tabela %1: linha %2 inexistente.").arg(name).arg(row).toStdString());
    }
    void checkBulkCell(int row, int col, FieldKind kind) const
    {
        checkCol(col);
        if (!bulk || row < 0 || row >= order.size())
            throw std::logic_error("Carga em bloco: linha inexistente ou carga não iniciada.");
        const FieldKind k = cols[size_t(col)].kind;
        if (k != kind && !(kind == FieldKind::Integer && k == FieldKind::DateTime))
            throw std::invalid_argument(QStringLiteral("Carga em bloco: o campo %1 é do tipo %2.")
                                            .arg(fields[col].name, kindName(k)).toStdString());
    }
    void checkActive() const
    {
        if (state == TableState::Inactive)
            throw std::logic_error(QStringLiteral("Tabela %1 não está aberta.").arg(name).toStdString());
    }
    int editableSlot(int col) const
    {
        checkCol(col);
        if (state != TableState::Edit && state != TableState::Insert)
            throw std::logic_error(QStringLiteral("Tabela %1 não está em edição ou inclusão.").arg(name).toStdString());
        return currentSlot();
    }

    quint32 newSlot()
    {
        if (slotCount == std::numeric_limits<quint32>::max())
            throw std::length_error("Tabela em memória: número máximo de linhas excedido.");
        for (Column &c : cols)
            c.pushNull();
        pushBack(status, RowChange::None);
        return slotCount++;
    }
    quint32 copySlot(quint32 from)
    {
        const quint32 s = newSlot();
        for (Column &c : cols)
            c.setRaw(s, c.raw(from));
        return s;
    }

    void clearStorage()
    {
        for (Column &c : cols)
            c.clear();
        std::vector<RowChange>().swap(status);
        order.clear();
        slotCount = 0;
        deadSlots = 0;
        current = -1;
        bof = eof = true;
        snapshot.clear();
        modified = false;
        clearLog();
    }
    void clearLog()
    {
        changeCount = 0;
        original.clear();
        std::vector<quint32>().swap(deleted);
        saved.reset();
    }
    void ensureSaved()
    {
        if (logChanges && !saved)
            saved = order.toVector();
    }
    void dropSavedWhenClean()
    {
        if (changeCount == 0 && deleted.empty() && original.isEmpty())
            saved.reset();
    }
    // A row added while the log is off becomes part of the saved state, after the nearest saved row
    // ahead of it, so that cancelUpdates keeps it.
    void addToSavedUnlogged(int row, quint32 slot)
    {
        if (!saved)
            return;
        auto &v = *saved;
        for (int r = row - 1; r >= 0; --r) {
            const auto it = std::find(v.begin(), v.end(), slotOf(r));
            if (it != v.end()) {
                v.insert(it + 1, slot);
                return;
            }
        }
        v.insert(v.begin(), slot);
    }
    void removeFromSaved(quint32 slot)
    {
        if (!saved)
            return;
        auto &v = *saved;
        v.erase(std::remove(v.begin(), v.end(), slot), v.end());
    }

    void takeSnapshot()
    {
        const quint32 s = quint32(currentSlot());
        snapshot.resize(cols.size());
        for (size_t c = 0; c < cols.size(); ++c)
            snapshot[c] = cols[c].raw(s);
        modified = false;
    }
    void restoreSnapshot()
    {
        const quint32 s = quint32(currentSlot());
        for (size_t c = 0; c < cols.size() && c < snapshot.size(); ++c)
            cols[c].setRaw(s, snapshot[c]);
    }

    void setState(TableState s)
    {
        if (state == s)
            return;
        state = s;
        notify([&](MemTableObserver *o) { o->stateChanged(*q); });
    }
    void setCurrent(int row)
    {
        current = row;
        notify([&](MemTableObserver *o) { o->currentRowChanged(*q, row); });
    }

    bool editing() const { return state == TableState::Edit || state == TableState::Insert; }
    // The row that followed a removed one becomes current (the last row at the end).
    void settleAfterRemoval()
    {
        setCurrent(current);
        bof = current <= 0;
        eof = current < 0;
    }
    // Leaves edit or insert: the snapshot is no longer needed.
    void endEdit()
    {
        snapshot.clear();
        modified = false;
        setState(TableState::Browse);
    }

    // Adds a visible row for `slot` at `row`; observers see the pair around it.
    void insertVisible(int row, quint32 slot)
    {
        notify([&](MemTableObserver *o) { o->aboutToInsertRow(*q, row); });
        order.insert(row, slot);
        if (current >= row)
            ++current;
        notify([&](MemTableObserver *o) { o->rowInserted(*q, row); });
    }
    // Removes visible row `row`; the current row goes to the row that followed, or the last one.
    void removeVisible(int row)
    {
        notify([&](MemTableObserver *o) { o->aboutToRemoveRow(*q, row); });
        order.erase(row);
        const int n = int(order.size());
        if (current > row || current >= n)
            --current;
        if (n == 0)
            current = -1;
        notify([&](MemTableObserver *o) { o->rowRemoved(*q, row); });
    }

    void touched(int slot)
    {
        modified = true;
        if (!observers.empty() && current >= 0 && int(slotOf(current)) == slot)
            notify([&](MemTableObserver *o) { o->rowChanged(*q, current); });
    }

    // Pending edit or insert posted before a move, as every move does.
    void postPending()
    {
        if (state == TableState::Edit || state == TableState::Insert)
            q->post();
    }

    // Moves to `row` after posting; afterScroll only when the row changed.
    void moveCurrent(int row)
    {
        postPending();
        const int n = rowCount();
        if (n == 0)
            return;
        row = std::clamp(row, 0, n - 1);
        const int before = currentSlot();
        if (row != current)
            setCurrent(row);
        if (currentSlot() != before)
            fire(q->events.afterScroll);
    }

    void checkRequired()
    {
        const quint32 s = quint32(currentSlot());
        for (int c = 0; c < fields.size(); ++c) {
            if (fields[c].required && cols[size_t(c)].isNullRaw(cols[size_t(c)].raw(s)))
                throw std::runtime_error(
                    QStringLiteral("O campo %1 deve ser informado.").arg(fields[c].label.isEmpty() ? fields[c].name : fields[c].label).toStdString());
        }
    }

    QVariant valueOfSlot(quint32 s, int col) const
    {
        const Column &c = cols[size_t(col)];
        const quint64 r = c.raw(s);
        if (c.isNullRaw(r))
            return {};
        switch (c.kind) {
        case FieldKind::Text: return c.view(r).toString();
        case FieldKind::Number: return bitsDouble(r);
        case FieldKind::Integer: return qint64(r);
        case FieldKind::DateTime: return QDateTime::fromMSecsSinceEpoch(qint64(r), Qt::UTC);
        case FieldKind::Boolean: return bool(qint8(qint64(r)));
        }
        return {};
    }
    QString textOfSlot(quint32 s, int col) const
    {
        const Column &c = cols[size_t(col)];
        const quint64 r = c.raw(s);
        if (c.isNullRaw(r))
            return {};
        switch (c.kind) {
        case FieldKind::Text: return c.view(r).toString();
        case FieldKind::Number: {
            const double d = bitsDouble(r);
            return std::fabs(d) < 1e15 ? QString::number(d, 'f', QLocale::FloatingPointShortest)
                                       : QString::number(d, 'g', QLocale::FloatingPointShortest);
        }
        case FieldKind::Integer: return QString::number(qint64(r));
        case FieldKind::DateTime:
            return QDateTime::fromMSecsSinceEpoch(qint64(r), Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        case FieldKind::Boolean: return qint8(qint64(r)) ? QStringLiteral("true") : QStringLiteral("false");
        }
        return {};
    }
    QVariantList valuesOfSlot(quint32 s) const
    {
        QVariantList v;
        v.reserve(qsizetype(cols.size()));
        for (int c = 0; c < int(cols.size()); ++c)
            v.append(valueOfSlot(s, c));
        return v;
    }

    void storeText(quint32 s, int col, QStringView t)
    {
        Column &c = cols[size_t(col)];
        const int width = fields[col].width;
        if (width > 0 && t.size() > width) {
            qsizetype n = width;
            if (t[n - 1].isHighSurrogate() && t[n].isLowSurrogate())
                --n; // never leave half a character behind
            t = t.left(n);
        }
        c.cells[s] = c.storeText(t);
    }

    // Converts and stores a value of any type in the column's kind; throws std::invalid_argument.
    void storeValue(quint32 s, int col, const QVariant &v)
    {
        Column &c = cols[size_t(col)];
        if (c.kind != FieldKind::Text || !v.isValid() || v.isNull()) {
            c.setRaw(s, convertRaw(col, v));
            return;
        }
        const int type = v.metaType().id();
        if (type == QMetaType::QDateTime)
            storeText(s, col, v.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
        else if (type == QMetaType::Double || type == QMetaType::Float)
            storeText(s, col, QString::number(v.toDouble(), 'f', QLocale::FloatingPointShortest));
        else if (v.canConvert<QString>())
            storeText(s, col, v.toString());
        else
            badValue(fields[col], v);
    }

    // The stored form of a value in a number, integer, date-time or boolean column (null for
    // a null or blank value); throws std::invalid_argument when the value does not convert.
    quint64 convertRaw(int col, const QVariant &v) const
    {
        const Column &c = cols[size_t(col)];
        const FieldDef &f = fields[col];
        if (!v.isValid() || v.isNull())
            return c.nullRaw();
        const int type = v.metaType().id();
        const bool isString = type == QMetaType::QString || type == QMetaType::QByteArray || type == QMetaType::QChar;
        if (isString && v.toString().trimmed().isEmpty())
            return c.nullRaw(); // an empty text clears a number or a date
        switch (c.kind) {
        case FieldKind::Text:
            break;
        case FieldKind::Number: {
            double d;
            if (isString) {
                const auto p = parseNumber(v.toString());
                if (!p)
                    badValue(f, v);
                d = *p;
            } else {
                bool ok = false;
                d = v.toDouble(&ok);
                if (!ok || type == QMetaType::QDateTime)
                    badValue(f, v);
            }
            return doubleBits(d);
        }
        case FieldKind::Integer: {
            qint64 i = 0;
            bool ok = false;
            if (isString) {
                i = v.toString().trimmed().toLongLong(&ok);
            } else if (type == QMetaType::Double || type == QMetaType::Float) {
                const double d = v.toDouble();
                ok = std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18;
                i = ok ? qint64(d) : 0;
            } else if (type != QMetaType::QDateTime) {
                i = v.toLongLong(&ok);
            }
            if (!ok || i == kNullInteger)
                badValue(f, v);
            return quint64(i);
        }
        case FieldKind::DateTime: {
            QDateTime dt;
            if (type == QMetaType::QDateTime)
                dt = v.toDateTime();
            else if (type == QMetaType::QDate)
                dt = QDateTime(v.toDate(), QTime(0, 0), Qt::UTC);
            else if (isString) {
                const auto p = parseDateTime(v.toString());
                if (p)
                    dt = *p;
            }
            if (!dt.isValid())
                badValue(f, v);
            return quint64(wallClockMsecs(dt));
        }
        case FieldKind::Boolean: {
            bool b = false;
            if (isString) {
                const QString t = v.toString().trimmed().toLower();
                if (t == u"true" || t == u"t" || t == u"s" || t == u"sim" || t == u"1" || t == u"-1")
                    b = true;
                else if (t == u"false" || t == u"f" || t == u"n" || t == u"não" || t == u"nao" || t == u"0")
                    b = false;
                else
                    badValue(f, v);
            } else if (type == QMetaType::Bool || v.canConvert<qint64>()) {
                b = v.toBool();
            } else {
                badValue(f, v);
            }
            return b ? 1 : 0;
        }
        }
        badValue(f, v);
    }

    // insert() and append() share this: the new row is visible (and current) before onNewRecord runs,
    // so the handler can give it defaults through the ordinary setters.
    void beginRow(bool atEnd)
    {
        checkActive();
        postPending();
        fire(q->events.beforeInsert);
        const int row = atEnd || current < 0 ? rowCount() : current;
        const quint32 slot = newSlot();
        if (logChanges)
            ensureSaved();
        insertVisible(row, slot);
        setCurrent(row);
        bof = eof = false;
        modified = false;
        setState(TableState::Insert);
        try {
            fire(q->events.onNewRecord);
        } catch (...) {
            // The handler abandoned the insert: the row goes, silently, and the abandonment continues.
            if (state == TableState::Insert && currentSlot() == int(slot)) {
                removeVisible(row);
                ++deadSlots;
                setState(TableState::Browse);
                if (current >= 0)
                    setCurrent(current);
            }
            throw;
        }
        if (state != TableState::Insert || currentSlot() != int(slot))
            return; // onNewRecord cancelled (or posted) the row itself
        fire(q->events.afterInsert);
        fire(q->events.afterScroll);
        fire(q->events.stateChange);
    }

    // Rebuilds the storage with the live slots only; runs in browse state after a merge.
    void compact()
    {
        std::vector<Column> fresh(cols.size());
        const qsizetype n = order.size();
        for (size_t c = 0; c < cols.size(); ++c) {
            fresh[c].kind = cols[c].kind;
            fresh[c].hook = cols[c].hook;
            fresh[c].reserve(size_t(n));
        }
        for (qsizetype r = 0; r < n; ++r) {
            const quint32 s = order.at(r);
            for (size_t c = 0; c < cols.size(); ++c) {
                Column &to = fresh[c];
                const Column &from = cols[c];
                quint64 raw = from.raw(s);
                if (from.kind == FieldKind::Text && !from.isNullRaw(raw))
                    raw = to.storeText(from.view(raw));
                to.pushNull();
                to.setRaw(quint32(r), raw);
            }
        }
        cols.swap(fresh);
        std::vector<RowChange>(size_t(n), RowChange::None).swap(status);
        std::vector<quint32> ids(static_cast<size_t>(n));
        for (qsizetype r = 0; r < n; ++r)
            ids[size_t(r)] = quint32(r);
        order.assign(std::move(ids));
        slotCount = quint32(n);
        deadSlots = 0;
    }
};

MemTable::MemTable(const QString &name) : d(std::make_unique<Impl>(this)) { d->name = name; }
MemTable::~MemTable()
{
    // A model may outlive its table (widgets are deleted after their owner's members): it is told
    // to let go instead of being left with a dangling pointer.
    const std::vector<MemTableObserver *> observers = d->observers;
    d->observers.clear();
    for (MemTableObserver *o : observers)
        o->tableDestroyed(*this);
}

QString MemTable::name() const { return d->name; }
void MemTable::setName(const QString &name) { d->name = name; }

void MemTable::setFields(const QList<FieldDef> &fields)
{
    if (d->state != TableState::Inactive)
        throw std::logic_error(QStringLiteral("Tabela %1: as colunas só mudam com a tabela fechada.").arg(d->name).toStdString());
    for (int i = 0; i < fields.size(); ++i) {
        if (fields[i].name.isEmpty())
            throw std::invalid_argument(QStringLiteral("Tabela %1: coluna %2 sem nome.").arg(d->name).arg(i).toStdString());
        for (int j = 0; j < i; ++j)
            if (fields[j].name.compare(fields[i].name, Qt::CaseInsensitive) == 0)
                throw std::invalid_argument(QStringLiteral("Tabela %1: coluna %2 repetida.").arg(d->name, fields[i].name).toStdString());
    }
    d->notify([&](MemTableObserver *o) { o->aboutToReset(*this); });
    d->clearStorage();
    d->fields = fields;
    d->cols.assign(size_t(fields.size()), Column{});
    for (int i = 0; i < fields.size(); ++i)
        d->cols[size_t(i)].kind = fields[i].kind;
    d->notify([&](MemTableObserver *o) { o->reset(*this); });
}

const QList<FieldDef> &MemTable::fields() const { return d->fields; }
int MemTable::fieldCount() const { return int(d->fields.size()); }

const FieldDef &MemTable::field(int col) const
{
    d->checkCol(col);
    return d->fields[col];
}

FieldDef &MemTable::field(int col)
{
    d->checkCol(col);
    return d->fields[col];
}

int MemTable::fieldIndex(QStringView name) const
{
    for (int i = 0; i < d->fields.size(); ++i) {
        const QString &f = d->fields[i].name;
        if (f.size() == name.size() && QStringView(f).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int MemTable::fieldIndexOrThrow(QStringView name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw std::runtime_error(QStringLiteral("Tabela %1: campo %2 não encontrado.").arg(d->name, name.toString()).toStdString());
    return i;
}

void MemTable::createDataSet()
{
    if (d->state != TableState::Inactive)
        close();
    if (d->fields.isEmpty())
        throw std::logic_error(QStringLiteral("Tabela %1 não tem colunas definidas.").arg(d->name).toStdString());
    d->notify([&](MemTableObserver *o) { o->aboutToReset(*this); });
    d->clearStorage();
    d->notify([&](MemTableObserver *o) { o->reset(*this); });
    open();
}

void MemTable::open()
{
    if (d->state != TableState::Inactive)
        return;
    if (d->fields.isEmpty())
        throw std::logic_error(QStringLiteral("Tabela %1 não tem colunas definidas.").arg(d->name).toStdString());
    // Rows a bulk load left while the table was closed become visible now.
    const bool hasRows = d->order.size() > 0;
    if (hasRows)
        d->notify([&](MemTableObserver *o) { o->aboutToReset(*this); });
    d->state = TableState::Browse;
    d->current = hasRows ? 0 : -1;
    d->bof = true;
    d->eof = !hasRows;
    if (hasRows)
        d->notify([&](MemTableObserver *o) { o->reset(*this); });
    d->notify([&](MemTableObserver *o) { o->stateChanged(*this); });
    d->notify([&](MemTableObserver *o) { o->currentRowChanged(*this, d->current); });
    d->fire(events.stateChange);
    d->fire(events.afterOpen);
    d->fire(events.afterScroll);
}

void MemTable::close()
{
    if (d->state == TableState::Inactive) {
        if (d->order.size() > 0 || d->slotCount > 0) { // rows of a failed or unfinished bulk load
            d->notify([&](MemTableObserver *o) { o->aboutToReset(*this); });
            d->bulk = false;
            d->clearStorage();
            d->notify([&](MemTableObserver *o) { o->reset(*this); });
        }
        return;
    }
    d->fire(events.beforeClose);
    d->notify([&](MemTableObserver *o) { o->aboutToReset(*this); });
    d->bulk = false;
    d->clearStorage();
    d->state = TableState::Inactive;
    d->notify([&](MemTableObserver *o) { o->reset(*this); });
    d->notify([&](MemTableObserver *o) { o->stateChanged(*this); });
    d->notify([&](MemTableObserver *o) { o->currentRowChanged(*this, -1); });
    d->fire(events.stateChange);
    d->fire(events.afterClose);
}

bool MemTable::isActive() const { return d->state != TableState::Inactive; }
TableState MemTable::state() const { return d->state; }
int MemTable::rowCount() const { return d->rowCount(); }
bool MemTable::isEmpty() const { return rowCount() == 0; }
int MemTable::currentRow() const { return d->state == TableState::Inactive ? -1 : d->current; }
bool MemTable::bof() const { return d->bof; }
bool MemTable::eof() const { return d->eof; }

void MemTable::first()
{
    d->checkActive();
    d->moveCurrent(0);
    d->bof = true;
    d->eof = rowCount() == 0;
}

void MemTable::last()
{
    d->checkActive();
    d->moveCurrent(rowCount() - 1);
    d->eof = true;
    d->bof = rowCount() == 0;
}

void MemTable::next()
{
    d->checkActive();
    d->postPending();
    if (d->current + 1 >= rowCount()) {
        d->eof = true;
        return;
    }
    d->moveCurrent(d->current + 1);
    d->bof = d->eof = false;
}

void MemTable::prior()
{
    d->checkActive();
    d->postPending();
    if (d->current <= 0) {
        d->bof = true;
        return;
    }
    d->moveCurrent(d->current - 1);
    d->bof = d->eof = false;
}

void MemTable::moveTo(int row)
{
    d->checkActive();
    d->checkRow(row);
    d->postPending();
    d->checkRow(row); // a post may have changed nothing, but a handler may have deleted rows
    d->moveCurrent(row);
    d->bof = d->eof = false;
}

void MemTable::insert() { d->beginRow(false); }
void MemTable::append() { d->beginRow(true); }

void MemTable::edit()
{
    d->checkActive();
    if (d->editing())
        return;
    if (rowCount() == 0) { // editing an empty table starts a new row, as the data-aware grids expect
        insert();
        return;
    }
    d->fire(events.beforeEdit);
    d->takeSnapshot();
    d->setState(TableState::Edit);
    d->fire(events.afterEdit);
    d->fire(events.stateChange);
}

void MemTable::post()
{
    if (!d->editing())
        return;
    d->fire(events.beforePost);
    if (!d->editing())
        return; // beforePost cancelled the row itself
    d->checkRequired();
    const quint32 slot = quint32(d->currentSlot());
    if (d->state == TableState::Insert) {
        if (d->logChanges) {
            d->status[slot] = RowChange::Inserted;
            ++d->changeCount;
        } else {
            d->addToSavedUnlogged(d->current, slot);
        }
    } else if (d->modified && d->logChanges && d->status[slot] == RowChange::None) {
        d->ensureSaved();
        quint32 orig = d->newSlot();
        for (size_t c = 0; c < d->cols.size(); ++c)
            d->cols[c].setRaw(orig, d->snapshot[c]);
        d->original.insert(slot, orig);
        d->status[slot] = RowChange::Modified;
        ++d->changeCount;
    }
    d->endEdit();
    d->notify([&](MemTableObserver *o) { o->rowChanged(*this, d->current); });
    d->fire(events.afterPost);
    d->fire(events.stateChange);
}

void MemTable::cancel()
{
    if (!d->editing())
        return;
    d->fire(events.beforeCancel);
    if (!d->editing())
        return;
    const int before = d->currentSlot();
    if (d->state == TableState::Insert) {
        d->removeVisible(d->current);
        ++d->deadSlots;
        d->settleAfterRemoval();
    } else {
        d->restoreSnapshot();
        d->notify([&](MemTableObserver *o) { o->rowChanged(*this, d->current); });
    }
    d->endEdit();
    d->fire(events.afterCancel);
    if (d->currentSlot() != before)
        d->fire(events.afterScroll);
    d->fire(events.stateChange);
}

void MemTable::deleteRow()
{
    d->checkActive();
    if (d->state == TableState::Insert) { // deleting a row not yet posted only drops it
        cancel();
        return;
    }
    if (rowCount() == 0)
        throw std::runtime_error(QStringLiteral("Tabela %1 está vazia.").arg(d->name).toStdString());
    d->fire(events.beforeDelete);
    if (rowCount() == 0)
        return;
    const bool wasEdit = d->state == TableState::Edit;
    if (wasEdit)
        d->restoreSnapshot(); // the saved values are what the change log keeps for the row
    const int row = d->current;
    const quint32 slot = d->slotOf(row);
    const RowChange was = d->status[slot];
    if (d->logChanges) {
        d->ensureSaved();
        if (was == RowChange::Inserted) {
            --d->changeCount;
            ++d->deadSlots;
        } else {
            if (was == RowChange::None)
                ++d->changeCount;
            d->deleted.push_back(slot);
        }
        d->status[slot] = RowChange::Deleted;
    } else {
        if (was != RowChange::None)
            --d->changeCount;
        d->original.remove(slot);
        d->removeFromSaved(slot);
        d->status[slot] = RowChange::Deleted;
        ++d->deadSlots;
    }
    d->dropSavedWhenClean();
    d->removeVisible(row);
    d->settleAfterRemoval();
    d->endEdit();
    d->fire(events.afterDelete);
    d->fire(events.afterScroll);
    if (wasEdit)
        d->fire(events.stateChange);
}

void MemTable::emptyTable()
{
    d->checkActive();
    const bool wasEditing = d->state != TableState::Browse;
    d->notify([&](MemTableObserver *o) { o->aboutToReset(*this); });
    d->clearStorage();
    d->state = TableState::Browse;
    d->notify([&](MemTableObserver *o) { o->reset(*this); });
    d->notify([&](MemTableObserver *o) { o->currentRowChanged(*this, -1); });
    if (wasEditing) {
        d->notify([&](MemTableObserver *o) { o->stateChanged(*this); });
        d->fire(events.stateChange);
    }
}

bool MemTable::locate(QStringView fieldName, const QVariant &value)
{
    const int col = fieldIndexOrThrow(fieldName);
    d->checkActive();
    d->postPending();
    const Column &c = d->cols[size_t(col)];
    const int n = rowCount();
    int found = -1;
    if (!value.isValid() || value.isNull()) {
        for (int r = 0; r < n && found < 0; ++r)
            if (c.isNullRaw(c.raw(d->slotOf(r))))
                found = r;
    } else if (c.kind == FieldKind::Text) {
        const QString s = value.toString();
        for (int r = 0; r < n && found < 0; ++r) {
            const quint64 raw = c.raw(d->slotOf(r));
            if (!c.isNullRaw(raw) && c.view(raw) == s)
                found = r;
        }
    } else {
        quint64 want;
        try {
            want = d->convertRaw(col, value);
        } catch (const std::invalid_argument &) {
            return false; // a value the column cannot hold matches no row
        }
        for (int r = 0; r < n && found < 0; ++r)
            if (c.raw(d->slotOf(r)) == want)
                found = r;
    }
    if (found < 0)
        return false;
    d->moveCurrent(found);
    d->bof = d->eof = false;
    return true;
}

int MemTable::find(int col, const QString &text, int from) const
{
    d->checkCol(col);
    const Column &c = d->cols[size_t(col)];
    const int n = rowCount();
    for (int r = std::max(0, from); r < n; ++r) {
        const quint32 s = d->slotOf(r);
        if (c.kind == FieldKind::Text) {
            const quint64 raw = c.raw(s);
            if (!c.isNullRaw(raw) && c.view(raw) == text)
                return r;
        } else if (!c.isNullRaw(c.raw(s)) && d->textOfSlot(s, col) == text) {
            return r;
        }
    }
    return -1;
}

bool MemTable::isNull(int col) const
{
    d->checkCol(col);
    const int s = d->state == TableState::Inactive ? -1 : d->currentSlot();
    return s < 0 || d->cols[size_t(col)].isNullRaw(d->cols[size_t(col)].raw(quint32(s)));
}

QVariant MemTable::value(int col) const
{
    d->checkCol(col);
    const int s = d->state == TableState::Inactive ? -1 : d->currentSlot();
    return s < 0 ? QVariant() : d->valueOfSlot(quint32(s), col);
}

QString MemTable::text(int col) const
{
    d->checkCol(col);
    const int s = d->state == TableState::Inactive ? -1 : d->currentSlot();
    return s < 0 ? QString() : d->textOfSlot(quint32(s), col);
}

double MemTable::number(int col) const { return currentRow() < 0 ? 0.0 : numberAt(currentRow(), col); }
qint64 MemTable::integer(int col) const { return currentRow() < 0 ? 0 : integerAt(currentRow(), col); }
bool MemTable::boolean(int col) const { return currentRow() < 0 ? false : booleanAt(currentRow(), col); }
QDateTime MemTable::dateTime(int col) const { return currentRow() < 0 ? QDateTime() : dateTimeAt(currentRow(), col); }
QVariant MemTable::value(QStringView fieldName) const { return value(fieldIndexOrThrow(fieldName)); }
QString MemTable::text(QStringView fieldName) const { return text(fieldIndexOrThrow(fieldName)); }

void MemTable::setValue(int col, const QVariant &v)
{
    const int s = d->editableSlot(col);
    d->storeValue(quint32(s), col, v);
    d->touched(s);
}

void MemTable::setText(int col, QStringView s)
{
    const int slot = d->editableSlot(col);
    Column &c = d->cols[size_t(col)];
    if (c.kind == FieldKind::Text) {
        d->storeText(quint32(slot), col, s);
        d->touched(slot);
        return;
    }
    setValue(col, s.toString());
}

void MemTable::setNumber(int col, double v)
{
    const int s = d->editableSlot(col);
    if (d->cols[size_t(col)].kind == FieldKind::Number) {
        d->cols[size_t(col)].cells[size_t(s)] = doubleBits(v);
        d->touched(s);
        return;
    }
    setValue(col, v);
}

void MemTable::setInteger(int col, qint64 v)
{
    const int s = d->editableSlot(col);
    if (d->cols[size_t(col)].kind == FieldKind::Integer) {
        if (v == kNullInteger)
            badValue(d->fields[col], QVariant(v));
        d->cols[size_t(col)].cells[size_t(s)] = quint64(v);
        d->touched(s);
        return;
    }
    setValue(col, QVariant(v));
}

void MemTable::setBoolean(int col, bool v)
{
    const int s = d->editableSlot(col);
    if (d->cols[size_t(col)].kind == FieldKind::Boolean) {
        d->cols[size_t(col)].flags[size_t(s)] = v ? 1 : 0;
        d->touched(s);
        return;
    }
    setValue(col, v);
}

void MemTable::setDateTime(int col, const QDateTime &dt)
{
    const int s = d->editableSlot(col);
    if (d->cols[size_t(col)].kind == FieldKind::DateTime) {
        Column &c = d->cols[size_t(col)];
        c.cells[size_t(s)] = dt.isValid() ? quint64(wallClockMsecs(dt)) : c.nullRaw();
        d->touched(s);
        return;
    }
    setValue(col, dt);
}

void MemTable::setNull(int col)
{
    const int s = d->editableSlot(col);
    Column &c = d->cols[size_t(col)];
    c.setRaw(quint32(s), c.nullRaw());
    d->touched(s);
}

void MemTable::setValue(QStringView fieldName, const QVariant &v) { setValue(fieldIndexOrThrow(fieldName), v); }

bool MemTable::isNullAt(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    const Column &c = d->cols[size_t(col)];
    return c.isNullRaw(c.raw(d->slotOf(row)));
}

QVariant MemTable::valueAt(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    return d->valueOfSlot(d->slotOf(row), col);
}

QString MemTable::textAt(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    return d->textOfSlot(d->slotOf(row), col);
}

QStringView MemTable::textViewAt(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    Column &c = d->cols[size_t(col)];
    if (c.kind != FieldKind::Text)
        return {};
    return c.wideView(c.raw(d->slotOf(row)));
}

QStringView MemTable::textViewAt(int row, int col, QString &scratch) const
{
    d->checkRow(row);
    d->checkCol(col);
    const Column &c = d->cols[size_t(col)];
    if (c.kind != FieldKind::Text)
        return {};
    return c.viewInto(c.raw(d->slotOf(row)), scratch);
}

bool MemTable::isWideText(int col) const
{
    d->checkCol(col);
    return d->cols[size_t(col)].wide;
}

double MemTable::numberAt(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    const Column &c = d->cols[size_t(col)];
    const quint64 r = c.raw(d->slotOf(row));
    if (c.isNullRaw(r))
        return 0.0;
    switch (c.kind) {
    case FieldKind::Number: return bitsDouble(r);
    case FieldKind::Integer: return double(qint64(r));
    case FieldKind::Boolean: return qint8(qint64(r)) ? 1.0 : 0.0;
    case FieldKind::Text: {
        QString scratch;
        return parseNumber(c.viewInto(r, scratch)).value_or(0.0);
    }
    case FieldKind::DateTime: return double(qint64(r));
    }
    return 0.0;
}

qint64 MemTable::integerAt(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    const Column &c = d->cols[size_t(col)];
    const quint64 r = c.raw(d->slotOf(row));
    if (c.isNullRaw(r))
        return 0;
    switch (c.kind) {
    case FieldKind::Number: {
        const double v = bitsDouble(r);
        return std::isfinite(v) && std::fabs(v) < 9.2e18 ? qint64(std::llround(v)) : 0;
    }
    case FieldKind::Integer:
    case FieldKind::DateTime: return qint64(r);
    case FieldKind::Boolean: return qint8(qint64(r)) ? 1 : 0;
    case FieldKind::Text: {
        QString scratch;
        return c.viewInto(r, scratch).trimmed().toLongLong();
    }
    }
    return 0;
}

bool MemTable::booleanAt(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    const Column &c = d->cols[size_t(col)];
    const quint64 r = c.raw(d->slotOf(row));
    if (c.isNullRaw(r))
        return false;
    if (c.kind == FieldKind::Boolean)
        return qint8(qint64(r)) != 0;
    return d->valueOfSlot(d->slotOf(row), col).toBool();
}

QDateTime MemTable::dateTimeAt(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    const Column &c = d->cols[size_t(col)];
    const quint64 r = c.raw(d->slotOf(row));
    if (c.isNullRaw(r))
        return {};
    if (c.kind == FieldKind::DateTime)
        return QDateTime::fromMSecsSinceEpoch(qint64(r), Qt::UTC);
    if (c.kind == FieldKind::Text)
    {
        QString scratch;
        return parseDateTime(c.viewInto(r, scratch)).value_or(QDateTime());
    }
    return {};
}

QVariantList MemTable::rowValues(int row) const
{
    d->checkRow(row);
    return d->valuesOfSlot(d->slotOf(row));
}

void MemTable::setDisplayHook(int col, DisplayHook hook)
{
    d->checkCol(col);
    d->cols[size_t(col)].hook = std::move(hook);
}

QString MemTable::displayText(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    const auto &hook = d->cols[size_t(col)].hook;
    if (hook)
        return hook(*this, row, col);
    return d->textOfSlot(d->slotOf(row), col);
}

bool MemTable::logChanges() const { return d->logChanges; }
void MemTable::setLogChanges(bool on) { d->logChanges = on; }
int MemTable::changeCount() const { return d->changeCount; }

RowChange MemTable::rowChange(int row) const
{
    d->checkRow(row);
    const RowChange c = d->status[d->slotOf(row)];
    return c == RowChange::Deleted ? RowChange::None : c;
}

std::vector<DeltaRow> MemTable::delta() const
{
    std::vector<DeltaRow> out;
    if (d->changeCount == 0)
        return out;
    out.reserve(size_t(d->changeCount));
    const int n = int(d->order.size());
    for (int r = 0; r < n; ++r) {
        const quint32 s = d->slotOf(r);
        const RowChange c = d->status[s];
        if (c == RowChange::Inserted) {
            out.push_back({c, d->valuesOfSlot(s), {}});
        } else if (c == RowChange::Modified) {
            out.push_back({c, d->valuesOfSlot(s), d->valuesOfSlot(d->original.value(s, s))});
        }
    }
    for (quint32 s : d->deleted)
        out.push_back({RowChange::Deleted, {}, d->valuesOfSlot(d->original.value(s, s))});
    return out;
}

void MemTable::mergeChangeLog()
{
    if (d->changeCount == 0 && !d->saved && d->deleted.empty())
        return;
    const int n = int(d->order.size());
    for (int r = 0; r < n; ++r) {
        const quint32 s = d->slotOf(r);
        if (d->state == TableState::Insert && r == d->current)
            continue; // the pending row keeps its place in the next log
        d->status[s] = RowChange::None;
    }
    d->deadSlots += quint32(d->deleted.size() + size_t(d->original.size()));
    d->clearLog();
    // Long-lived tables edited many times shed their dead rows and superseded texts here.
    if (d->state == TableState::Browse && d->deadSlots > std::max<quint32>(4096, quint32(n)))
        d->compact();
}

void MemTable::cancelUpdates()
{
    if (d->editing())
        cancel();
    if (!d->saved) {
        d->clearLog();
        return;
    }
    d->notify([&](MemTableObserver *o) { o->aboutToReset(*this); });
    std::vector<quint32> v = std::move(*d->saved);
    for (quint32 &s : v) {
        const auto it = d->original.constFind(s);
        if (it != d->original.constEnd())
            s = it.value();
        d->status[s] = RowChange::None;
    }
    d->deadSlots += quint32(std::max<qsizetype>(0, d->order.size() - qsizetype(v.size())));
    d->order.assign(std::move(v));
    d->clearLog();
    const int n = int(d->order.size());
    d->current = n == 0 ? -1 : std::clamp(d->current, 0, n - 1);
    d->bof = d->current <= 0;
    d->eof = n == 0;
    d->notify([&](MemTableObserver *o) { o->reset(*this); });
    d->notify([&](MemTableObserver *o) { o->currentRowChanged(*this, d->current); });
}

void MemTable::beginBulkLoad(int expectedRows)
{
    if (d->editing())
        throw std::logic_error(QStringLiteral("Tabela %1 em edição: carga em bloco recusada.").arg(d->name).toStdString());
    d->notify([&](MemTableObserver *o) { o->aboutToReset(*this); });
    d->bulk = true;
    if (expectedRows > 0) {
        const size_t want = d->slotCount + size_t(expectedRows);
        for (Column &c : d->cols)
            c.reserve(want);
        d->status.reserve(want);
        d->order.reserve(size_t(d->order.size()) + size_t(expectedRows));
    }
}

int MemTable::bulkNewRow()
{
    if (!d->bulk)
        throw std::logic_error("bulkNewRow fora de uma carga em bloco.");
    if (d->order.size() >= std::numeric_limits<int>::max())
        throw std::length_error("Tabela em memória: número máximo de linhas excedido.");
    const quint32 s = d->newSlot();
    const qsizetype row = d->order.size();
    d->order.insert(row, s);
    if (d->saved)
        d->saved->push_back(s); // bulk rows are saved state
    return int(row);
}

void MemTable::bulkSetText(int row, int col, QStringView s)
{
    d->checkBulkCell(row, col, FieldKind::Text);
    d->storeText(d->slotOf(row), col, s);
}

void MemTable::bulkSetNumber(int row, int col, double v)
{
    d->checkBulkCell(row, col, FieldKind::Number);
    d->cols[size_t(col)].cells[d->slotOf(row)] = doubleBits(v);
}

void MemTable::bulkSetInteger(int row, int col, qint64 v)
{
    d->checkBulkCell(row, col, FieldKind::Integer);
    if (v == kNullInteger)
        badValue(d->fields[col], QVariant(v));
    d->cols[size_t(col)].cells[d->slotOf(row)] = quint64(v);
}

void MemTable::bulkSetBoolean(int row, int col, bool v)
{
    d->checkBulkCell(row, col, FieldKind::Boolean);
    d->cols[size_t(col)].flags[d->slotOf(row)] = v ? 1 : 0;
}

void MemTable::bulkAppendRow(const QVariantList &values)
{
    if (values.size() != d->fields.size())
        throw std::invalid_argument(QStringLiteral("Tabela %1: linha com %2 valores; esperados %3.")
                                        .arg(d->name).arg(values.size()).arg(d->fields.size()).toStdString());
    const int row = bulkNewRow();
    const quint32 s = d->slotOf(row);
    try {
        for (int c = 0; c < values.size(); ++c)
            d->storeValue(s, c, values[c]);
    } catch (...) {
        d->order.erase(row);
        ++d->deadSlots;
        throw;
    }
}

void MemTable::endBulkLoad()
{
    if (!d->bulk)
        return;
    d->bulk = false;
    if (d->state != TableState::Inactive && d->current < 0 && d->order.size() > 0)
        d->current = 0;
    d->eof = d->order.size() == 0;
    d->notify([&](MemTableObserver *o) { o->reset(*this); });
    if (d->state != TableState::Inactive)
        d->notify([&](MemTableObserver *o) { o->currentRowChanged(*this, d->current); });
}

void MemTable::addObserver(MemTableObserver *o)
{
    if (o && std::find(d->observers.begin(), d->observers.end(), o) == d->observers.end())
        d->observers.push_back(o);
}

void MemTable::removeObserver(MemTableObserver *o)
{
    d->observers.erase(std::remove(d->observers.begin(), d->observers.end(), o), d->observers.end());
}

std::size_t MemTable::memoryUsage() const
{
    std::size_t n = sizeof(Impl);
    for (const Column &c : d->cols)
        n += c.bytes();
    n += d->status.capacity() + d->order.bytes() + d->deleted.capacity() * sizeof(quint32);
    if (d->saved)
        n += d->saved->capacity() * sizeof(quint32);
    n += size_t(d->original.capacity()) * 2 * sizeof(quint32);
    return n;
}
