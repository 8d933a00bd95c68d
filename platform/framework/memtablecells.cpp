// MemTable's cell access: reading and writing values of the current row or of any row, and the
// text a grid shows.
#include "memtable_p.h"

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

QAnyStringView MemTable::textAnyViewAt(int row, int col) const
{
    d->checkRow(row);
    d->checkCol(col);
    const Column &c = d->cols[size_t(col)];
    if (c.kind != FieldKind::Text)
        return {};
    return c.view(c.raw(d->slotOf(row)));
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
