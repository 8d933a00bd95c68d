#pragma once
// MemTable's private state and the steps its public calls share; included by memtable*.cpp only.
#include "memtablestorage_p.h"

#include <QHash>

// The table's sources are the only includers, so the storage names are brought in here once.
using namespace memtable_detail;

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

    // The checks of every cell access stay inline; their messages are built out of line, only
    // when one fails.
    void checkCol(int col) const
    {
        if (col < 0 || col >= int(cols.size())) [[unlikely]]
            throwNoColumn(col);
    }
    void checkRow(int row) const
    {
        if (row < 0 || row >= rowCount()) [[unlikely]]
            throwNoRow(row);
    }
    [[noreturn]] Q_DECL_COLD_FUNCTION Q_NEVER_INLINE void throwNoColumn(int col) const
    {
        throw std::out_of_range(QStringLiteral("Tabela %1: coluna %2 inexistente.").arg(name).arg(col).toStdString());
    }
    [[noreturn]] Q_DECL_COLD_FUNCTION Q_NEVER_INLINE void throwNoRow(int row) const
    {
        throw std::out_of_range(QStringLiteral("Tabela %1: linha %2 inexistente.").arg(name).arg(row).toStdString());
    }
    [[noreturn]] Q_DECL_COLD_FUNCTION Q_NEVER_INLINE void throwNotEditing() const
    {
        throw std::logic_error(QStringLiteral("Tabela %1 não está em edição ou inclusão.").arg(name).toStdString());
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
        if (state != TableState::Edit && state != TableState::Insert) [[unlikely]]
            throwNotEditing();
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
        const QList<FieldDef> &defs = fields; // read only: no detach check per column and row
        for (int c = 0; c < defs.size(); ++c) {
            if (defs[c].required && cols[size_t(c)].isNullRaw(cols[size_t(c)].raw(s)))
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
        c.cells[s] = c.storeText(fields[col].cut(t));
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
