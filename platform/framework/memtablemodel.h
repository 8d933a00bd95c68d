#pragma once
// A Qt item model over an in-memory table, for the grids. Columns are the table's fields (or a
// chosen subset); the display role gives the field's display text, the edit role its value.
// Delegates ask the roles below instead of casting the model.
#include "memtable.h"

#include <QAbstractTableModel>

class IMP_PLATFORM_EXPORT MemTableModel : public QAbstractTableModel, private MemTableObserver {
    Q_OBJECT
public:
    enum Role {
        FieldNameRole = Qt::UserRole + 1, // QString: name of the column's field (cells and horizontal header)
        RawValueRole,                     // QVariant: the stored value (invalid for null)
        IsCurrentRowRole,                 // bool: the row is the table's current row
        EditMaskRole,                     // QString: the field's edit mask
    };

    explicit MemTableModel(MemTable *table, QObject *parent = nullptr);
    ~MemTableModel() override;

    // Shows only these fields, in this order (names matched without regard to case).
    void setVisibleFields(const QStringList &names);
    int fieldOfColumn(int column) const;   // table column index; -1
    int columnOfField(QStringView name) const; // -1
    MemTable *table() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Moves the table to the row, starts an edit when needed and sets the value; the row stays in
    // edit until the view posts it (Enter, leaving the row).
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // While held, the table's row inserts, value changes, current-row moves and state changes
    // reach the views only at flush(), gathered: one insert per run of adjacent rows, one change
    // for all rows, one move of the current row, one state change. A load pass that adds rows one
    // by one holds the models of the grids that show its tables and flushes them whenever it lets
    // the screen repaint, which is the only time anyone sees them. Releasing flushes.
    void hold(bool on);
    void flush();

signals:
    void currentRowChanged(int row);
    void tableStateChanged();
    // setData could not store the value (the table's or a row event's words, and the field an
    // abandoned action named, see AbandonedAction::field); nothing was shown.
    void editRefused(const QString &text, const QString &field);

private:
    void aboutToReset(MemTable &) override;
    void reset(MemTable &) override;
    void aboutToInsertRow(MemTable &, int row) override;
    void rowInserted(MemTable &, int row) override;
    void aboutToRemoveRow(MemTable &, int row) override;
    void rowRemoved(MemTable &, int row) override;
    void rowChanged(MemTable &, int row) override;
    void currentRowChanged(MemTable &, int row) override;
    void stateChanged(MemTable &) override;
    void tableDestroyed(MemTable &) override;

    void resolveColumns();

    MemTable *m_table;
    QList<int> m_columns; // table column per model column; empty: all
    QStringList m_visibleNames; // as asked; resolved again whenever the table's columns change
    int m_current = -1;   // current row as last announced, for the IsCurrentRowRole changes
    // Held (hold()): rows inserted and not yet told, as one run of adjacent rows from
    // m_pendingFirst; whether values, the current row or the state changed meanwhile.
    void flushInserts();
    // The table's row shown as the model's `row`: past the run held, the run is left out.
    int tableRow(int row) const;
    bool m_held = false;
    int m_pendingFirst = 0;
    int m_pendingCount = 0;
    bool m_pendingChange = false;
    bool m_pendingMove = false;
    bool m_pendingState = false;
};
