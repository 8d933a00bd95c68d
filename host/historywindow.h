#pragma once
// The child window "Histórico de importações": the destination's import history (ImportHistory,
// destination/), newest first, in a table the operator can sort by any column. "Desfazer importação"
// undoes the selected import through the application server, once the operator says yes.
#include <QWidget>
#include <functional>

class QAbstractItemModel;
class QLabel;
class QModelIndex;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // Columns of the table, in order.
    enum Column { When, Kind, Undo, Operator, Branch, File, Bytes, Outcome, DishesWritten, DishesRefused, Rows, Duration,
                  Message, Sha256, ColumnCount };
    static constexpr int kLimit = 1000;

    explicit HistoryWindow(QWidget *parent = nullptr);
    // Reads the history again from the operator's database (Ambiente::databaseUrl).
    void refresh();

    QTableView *view() const { return m_view; }
    QAbstractItemModel *model() const;
    QString statusText() const;
    // The question asked before an undo; true for Sim. By default a message box whose default
    // button is Não; tests answer it themselves.
    using Question = std::function<bool(QWidget *parent, const QString &text)>;
    void setQuestion(Question ask) { m_ask = std::move(ask); }
    // Undoes the selected import, after asking (the button "Desfazer importação").
    void undoSelected();

private:
    // How many rows, and in which order (the caption above the table).
    void showCount();

    void selectionChanged();
    // Asks the server whether the selected import can still be undone; a refusal shows on its row.
    void checkUndoable(const QModelIndex &first);

    int m_count = 0;
    QStandardItemModel *m_rows;
    QSortFilterProxyModel *m_sorted;
    QTableView *m_view;
    QLabel *m_status;
    QPushButton *m_undo;
    Question m_ask;
};
