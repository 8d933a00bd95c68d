#include "memtablemodel.h"

#include "framework.h"

#include <exception>
#include <utility>

MemTableModel::MemTableModel(MemTable *table, QObject *parent) : QAbstractTableModel(parent), m_table(table)
{
    if (m_table) {
        m_table->addObserver(this);
        m_current = m_table->currentRow();
    }
}

MemTableModel::~MemTableModel()
{
    if (m_table)
        m_table->removeObserver(this);
}

void MemTableModel::setVisibleFields(const QStringList &names)
{
    beginResetModel();
    m_visibleNames = names;
    resolveColumns();
    endResetModel();
}

void MemTableModel::resolveColumns()
{
    m_columns.clear();
    if (!m_table)
        return;
    for (const QString &n : std::as_const(m_visibleNames)) {
        const int c = m_table->fieldIndex(n);
        if (c >= 0)
            m_columns.append(c); // a name the table lacks shows no column
    }
}

int MemTableModel::fieldOfColumn(int column) const
{
    if (!m_table || column < 0)
        return -1;
    if (m_visibleNames.isEmpty())
        return column < m_table->fieldCount() ? column : -1;
    return column < m_columns.size() ? m_columns[column] : -1;
}

int MemTableModel::columnOfField(QStringView name) const
{
    if (!m_table)
        return -1;
    const int c = m_table->fieldIndex(name);
    if (c < 0 || m_visibleNames.isEmpty())
        return c;
    return int(m_columns.indexOf(c));
}

MemTable *MemTableModel::table() const { return m_table; }

void MemTableModel::tableDestroyed(MemTable &)
{
    beginResetModel();
    m_table = nullptr;
    m_columns.clear();
    endResetModel();
}

int MemTableModel::rowCount(const QModelIndex &parent) const
{
    // Rows inserted while held are not there for the views until they are told.
    return parent.isValid() || !m_table ? 0 : m_table->rowCount() - m_pendingCount;
}

int MemTableModel::tableRow(int row) const
{
    return m_pendingCount > 0 && row >= m_pendingFirst ? row + m_pendingCount : row;
}

int MemTableModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_table)
        return 0;
    return m_visibleNames.isEmpty() ? m_table->fieldCount() : int(m_columns.size());
}

QVariant MemTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int col = fieldOfColumn(index.column());
    if (col < 0)
        return {};
    const FieldDef &f = m_table->field(col);
    // A display hook belongs to the screen; whatever it throws must not reach the view.
    try {
        switch (role) {
        case Qt::DisplayRole: return m_table->displayText(tableRow(index.row()), col);
        case Qt::EditRole:
        case RawValueRole: return m_table->valueAt(tableRow(index.row()), col);
        case Qt::TextAlignmentRole:
            if (f.kind == FieldKind::Number || f.kind == FieldKind::Integer)
                return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
            return {};
        case FieldNameRole: return f.name;
        case IsCurrentRowRole: return tableRow(index.row()) == m_table->currentRow();
        case EditMaskRole: return f.editMask;
        default: return {};
        }
    } catch (const std::exception &) {
        return {};
    }
}

QVariant MemTableModel::headerData(int section, Qt::Orientation o, int role) const
{
    if ((role != Qt::DisplayRole && role != FieldNameRole) || section < 0)
        return {};
    if (o == Qt::Vertical)
        return role == Qt::DisplayRole && section < rowCount() ? QVariant(section + 1) : QVariant();
    const int col = fieldOfColumn(section);
    if (col < 0)
        return {};
    const FieldDef &f = m_table->field(col);
    // Grids find a column by its field even while the table has no rows (IndiceCol).
    if (role == FieldNameRole)
        return f.name;
    return f.label.isEmpty() ? f.name : f.label;
}

Qt::ItemFlags MemTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return Qt::NoItemFlags;
    Qt::ItemFlags fl = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    const int col = fieldOfColumn(index.column());
    if (col >= 0 && !m_table->field(col).readOnly)
        fl |= Qt::ItemIsEditable;
    return fl;
}

bool MemTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const int col = fieldOfColumn(index.column());
    if (col < 0 || m_table->field(col).readOnly)
        return false;
    // The view calls this from its event handling: this is where an abandoned action (a row event
    // calling MensErro) or a refused value ends, so nothing crosses the event loop. Both are
    // reported (editRefused, unless the action was abandoned without a message); whoever shows the
    // grid tells the operator.
    try {
        if (m_table->currentRow() != tableRow(index.row()))
            m_table->moveTo(tableRow(index.row())); // posts the row being left, as the grid does
        if (m_table->state() == TableState::Browse)
            m_table->edit();
        m_table->setValue(col, value);
        return true;
    } catch (const AbandonedAction &a) {
        if (a.toBeShown())
            emit editRefused(a.text(), a.field());
        return false;
    } catch (const std::exception &e) {
        emit editRefused(QString::fromUtf8(e.what()), QString());
        return false;
    }
}

void MemTableModel::hold(bool on)
{
    if (!on)
        flush();
    m_held = on;
}

void MemTableModel::flushInserts()
{
    if (m_pendingCount == 0)
        return;
    // rowCount() still leaves the run out while the views hear it is coming.
    beginInsertRows({}, m_pendingFirst, m_pendingFirst + m_pendingCount - 1);
    m_pendingCount = 0;
    endInsertRows();
}

void MemTableModel::flush()
{
    flushInserts();
    if (m_pendingChange && m_table) {
        m_pendingChange = false;
        const int rows = rowCount();
        const int cols = columnCount();
        if (rows > 0 && cols > 0)
            emit dataChanged(index(0, 0), index(rows - 1, cols - 1));
    }
    if (m_pendingMove && m_table) {
        m_pendingMove = false;
        const bool held = std::exchange(m_held, false);
        currentRowChanged(*m_table, m_table->currentRow());
        m_held = held;
    }
    if (m_pendingState) {
        m_pendingState = false;
        emit tableStateChanged();
    }
}

void MemTableModel::aboutToReset(MemTable &)
{
    // The reset tells everything held so far.
    m_pendingCount = 0;
    m_pendingChange = false;
    beginResetModel();
}

void MemTableModel::reset(MemTable &)
{
    resolveColumns();
    m_current = m_table->currentRow();
    endResetModel();
}

void MemTableModel::aboutToInsertRow(MemTable &, int row)
{
    if (!m_held) {
        beginInsertRows({}, row, row);
        return;
    }
    // A row that does not extend the run held so far: the run is told first, while the table
    // holds exactly the rows told and the run.
    if (m_pendingCount > 0 && (row < m_pendingFirst || row > m_pendingFirst + m_pendingCount))
        flushInserts();
    if (m_pendingCount == 0)
        m_pendingFirst = row;
}

void MemTableModel::rowInserted(MemTable &, int row)
{
    if (m_current >= row)
        ++m_current;
    if (m_held) {
        ++m_pendingCount;
        return;
    }
    endInsertRows();
}

void MemTableModel::aboutToRemoveRow(MemTable &, int row)
{
    if (m_held)
        flush();
    beginRemoveRows({}, row, row);
}

void MemTableModel::rowRemoved(MemTable &, int row)
{
    if (m_current == row)
        m_current = -1;
    else if (m_current > row)
        --m_current;
    endRemoveRows();
}

void MemTableModel::rowChanged(MemTable &, int row)
{
    if (m_held) {
        m_pendingChange = true;
        return;
    }
    const int cols = columnCount();
    if (row < 0 || row >= rowCount() || cols == 0)
        return;
    emit dataChanged(index(row, 0), index(row, cols - 1));
}

void MemTableModel::currentRowChanged(MemTable &, int row)
{
    if (m_held) {
        m_pendingMove = true;
        return;
    }
    const int cols = columnCount();
    const int n = rowCount();
    const QList<int> roles{IsCurrentRowRole};
    if (cols > 0 && m_current >= 0 && m_current < n && m_current != row)
        emit dataChanged(index(m_current, 0), index(m_current, cols - 1), roles);
    if (cols > 0 && row >= 0 && row < n)
        emit dataChanged(index(row, 0), index(row, cols - 1), roles);
    m_current = row;
    emit currentRowChanged(row);
}

void MemTableModel::stateChanged(MemTable &)
{
    if (m_held) {
        m_pendingState = true;
        return;
    }
    emit tableStateChanged();
}
