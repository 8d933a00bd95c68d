#pragma once
// dbgPadrao, the grid of the tab "Serviço": the service map shown by name, one row per exported
// service. The destination is corrected by typing a destination service code or by picking one of
// the destination branch's services; the origin is read-only and rows are neither added nor
// removed here. The grid keeps no data of its own: every change goes through the map, whose row
// events keep the list of destinations in use and validate each post.
#include "servicelookup.h"

#include <QPersistentModelIndex>
#include <QPointer>
#include <QTableView>

class MemTable;
class MemTableModel;
class ServiceCodeEditor;
class ServiceGridDelegate;
class ServiceMap;

class TServiceGrid : public QTableView {
    Q_OBJECT
public:
    static constexpr int ColumnWidth = 230;

    explicit TServiceGrid(QWidget *parent = nullptr);
    ~TServiceGrid() override;

    // Binds the grid to the map through `dtsServico`, a model over map->cdsServico showing all of
    // its columns (the names are read from the hidden ones); nullptr: the grid makes its own.
    // The map must outlive the grid, or be unbound first with setServiceMap(nullptr).
    void setServiceMap(ServiceMap *map, MemTableModel *dtsServico = nullptr);
    ServiceMap *serviceMap() const { return m_map; }
    MemTableModel *dtsServico() const { return m_model; }

    // The lookup of the cell button. Unset: a plain pick list of the grid's own.
    void setLookup(ServiceLookup lookup);

    // Field name of the current cell's column ("CDSERVFILIORIG", "CDSERVFILIDEST"); empty when none.
    QString selectedFieldName() const;
    // Cell-editing mode: the in-place editor is open.
    bool editorMode() const;
    ServiceCodeEditor *inplaceEditor() const;
    // Posts a row in edit, with what its editor holds, as leaving the row would: the operator is
    // leaving the grid for somewhere that starts over. False when the destination is refused; the
    // message was shown and the cursor is back on the destination cell, the row still in edit.
    bool postEdit();

    // The grid's handlers, as the screen knows them. Each is its own event-handler boundary except
    // dbgPadraoColExit, which lets a failed validation go on to the column change it abandons.
    void dbgPadraoEditButtonClick();
    void dbgPadraoColExit(const QModelIndex &leaving);
    bool dbgPadraoKeyDown(const QKeyEvent *event);  // true: the key is swallowed
    bool dbgPadraoKeyPress(const QKeyEvent *event); // true: the character is discarded

signals:
    // The state of cdsServico changed (dtsServico's state-change event): browse, edit or insert.
    void stateChange();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    template <typename F>
    bool runHandler(F &&handler);

    void applyColumns();
    void followTableRow(int row);
    void adoptEditor(ServiceCodeEditor *editor, const QModelIndex &index);
    bool editorKeyPress(QKeyEvent *event);
    void editorFocusOut();
    void startEditFromTyping();
    void commitEditor();
    void finishEditor();
    void refreshEditor();
    void cancelEdit();
    void navigate(CursorAction action);
    bool leaveCell(const QModelIndex &from, const QModelIndex &to, bool postAnyway);
    void syncTableRow(int row);
    void requestFocusDestino();
    void placeOnDestination();
    bool isEditing() const;

    ServiceMap *m_map = nullptr;
    MemTableModel *m_model = nullptr;
    MemTableModel *m_ownModel = nullptr;
    ServiceGridDelegate *m_delegate;
    ServiceLookup m_lookup;

    QPointer<ServiceCodeEditor> m_editor;
    QPersistentModelIndex m_editorIndex;

    int m_colOrig = -1;
    int m_colDest = -1;
    int m_widthOrig = ColumnWidth;
    int m_widthDest = ColumnWidth;

    int m_handlerDepth = 0;          // inside one of the grid's handlers
    int m_syncing = 0;               // the view follows the table: no move of the table back
    bool m_focusDestinoPending = false;
};
