// MemTable's bulk load: rows written straight into the store, without states or events, for the
// load pass.
#include "memtable_p.h"

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
