#pragma once
// The child window "Histórico de importações": the destination's import history (ImportHistory,
// destination/), newest first, in a table the operator can sort by any column.
#include <QWidget>

class QAbstractItemModel;
class QLabel;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // Columns of the table, in order.
    enum Column { When, Kind, Operator, Branch, File, Bytes, Outcome, DishesWritten, DishesRefused, Rows, Duration,
                  Message, Sha256, ColumnCount };
    static constexpr int kLimit = 1000;

    explicit HistoryWindow(QWidget *parent = nullptr);
    // Reads the history again from the operator's database (Ambiente::databaseUrl).
    void refresh();

    QTableView *view() const { return m_view; }
    QAbstractItemModel *model() const;
    QString statusText() const;

private:
    // How many rows, and in which order (the caption above the table).
    void showCount();

    int m_count = 0;
    QStandardItemModel *m_rows;
    QSortFilterProxyModel *m_sorted;
    QTableView *m_view;
    QLabel *m_status;
};
