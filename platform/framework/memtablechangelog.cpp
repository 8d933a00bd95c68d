// MemTable's change log: each row's change since the last merge, the delta the server applies,
// merging and cancelling.
#include "memtable_p.h"

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
