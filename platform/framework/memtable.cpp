// MemTable: its columns, the open/close lifecycle, the current row and the states browse, edit and
// insert with their events, and searching.
#include "memtable_p.h"

#include <QDate>
#include <QTime>

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

FieldDef FieldDef::number(const QString &name, int precision, int scale)
{
    FieldDef f = plainField(name, FieldKind::Number);
    f.precision = std::uint8_t(qBound(0, precision, 255));
    f.scale = std::uint8_t(qBound(0, scale, int(f.precision)));
    return f;
}
FieldDef FieldDef::dateTime(const QString &name) { return plainField(name, FieldKind::DateTime); }
FieldDef FieldDef::integer(const QString &name) { return plainField(name, FieldKind::Integer); }
FieldDef FieldDef::boolean(const QString &name) { return plainField(name, FieldKind::Boolean); }

bool FieldDef::operator==(const FieldDef &o) const
{
    return name == o.name && kind == o.kind && width == o.width && precision == o.precision && scale == o.scale
        && providerFlags == o.providerFlags && readOnly == o.readOnly && required == o.required && label == o.label
        && editMask == o.editMask;
}


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
    if (wasEditing)
        d->notify([&](MemTableObserver *o) { o->stateChanged(*this); });
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
