#pragma once
// The dish grid (dbgPrato): a read-only, row-selecting grid over the dish table that draws a check
// mark or a page with a red cross over each dish's error flags, shows the dish code through its
// mask and the tree by name, and keeps the table's current row and its own in step.
#include <QImage>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTableView>

class MemTable;

// Draws the cells. The default drawing runs first; then, in the column bound to the field IDERRO,
// dbgPratoDrawColumnCell covers the flags' text with the picture. Everything is decided on the
// roles of the index (field name, stored value, edit mask), whatever model or proxy is behind.
class DishGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit DishGridDelegate(QObject *parent = nullptr);

    // Copies of the pictures of imgCerto and imgErro (olive background). The defaults are the
    // project's own.
    void setPictures(const QImage &certo, const QImage &erro);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

    // The picture part of the drawing, after the default drawing of the cell.
    void dbgPratoDrawColumnCell(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

private:
    QPixmap m_certo; // olive masked out
    QPixmap m_erro;
};

// The grid's columns as the screen lays them out: field, title, width in pixels.
struct DishGridColumn {
    const char16_t *field;
    const char16_t *title;
    int width;
};

class TDishGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDishGrid(QWidget *parent = nullptr);
    ~TDishGrid() override;

    // IDERRO "Ok" 30, CDPRATO "Código" 73, NMPRATO "Nome" 309, CDFILAUXPRAT "Árvore" 44; "Nome"
    // takes whatever room the grid has beyond them.
    static const QList<DishGridColumn> &columns();
    static QStringList fieldNames();

    // The model's rows are the table's rows, in order; its columns are found by field name.
    // Columns of other fields are hidden; the four are put in their order, with their titles and
    // widths, whenever the model's columns change (each opening of the table).
    void setModel(QAbstractItemModel *model) override;

    // The field a column of the model is bound to (the header's field-name role).
    static QString fieldOfColumn(const QAbstractItemModel *model, int column);
    // The title the grid heads that column with: its own for the four fields, the model's else.
    static QString columnTitle(const QAbstractItemModel *model, int column);

    // The table whose current row the grid follows and moves, as a data-aware grid does: a click
    // or a key that changes the row makes that dish current (its after-scroll event runs), and a
    // move of the table's row moves the grid's selection. Not owned; nullptr unbinds.
    void setDataSet(MemTable *table);
    MemTable *dataSet() const;

    DishGridDelegate *dishDelegate() const;

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    bool viewportEvent(QEvent *event) override;

private:
    void applyColumns();
    // "Nome" widened to the room the grid has beyond the other columns (never below its width).
    void stretchName();
    void scheduleFollow();
    void followCurrentRow();

    DishGridDelegate *m_delegate;
    QList<QMetaObject::Connection> m_modelConnections;
    MemTable *m_table = nullptr;
    bool m_followPending = false;
    bool m_following = false;
};
