#include "servicegrid.h"

#include "framework.h"
#include "handlerboundary.h"
#include "memtablemodel.h"
#include "messages.h"
#include "servicecodeeditor.h"
#include "servicegriddelegate.h"
#include "servicemap.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

#include <exception>

namespace {

// The keys the grid gives a meaning to. A shortcut of the window holding the grid must not take
// them while the grid or its editor has the focus.
bool isGridKey(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Insert:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    default:
        return false;
    }
}

} // namespace

TServiceGrid::TServiceGrid(QWidget *parent) : QTableView(parent), m_delegate(new ServiceGridDelegate(this))
{
    setObjectName(QStringLiteral("dbgPadrao"));
    m_delegate->gridEditing = [this] { return editorMode(); };
    m_delegate->rememberedRow = [this](int row) { return m_map && m_map->isRemembered(row); };
    m_delegate->editorCreated = [this](ServiceCodeEditor *editor, const QModelIndex &index) { adoptEditor(editor, index); };
    setItemDelegate(m_delegate);

    setFrameShape(QFrame::NoFrame);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTabKeyNavigation(true);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked
                    | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);

    verticalHeader()->hide(); // no row indicator
    verticalHeader()->setDefaultSectionSize(18);
    QHeaderView *titles = horizontalHeader();
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setStretchLastSection(false);
    titles->setSectionsMovable(false);
    titles->setSectionsClickable(false);
    titles->setHighlightSections(false);
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont titleFont(QStringLiteral("MS Sans Serif"));
    titleFont.setPointSize(8);
    titleFont.setStyleHint(QFont::SansSerif);
    titles->setFont(titleFont);
    connect(titles, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (section == m_colOrig)
            m_widthOrig = size;
        else if (section == m_colDest)
            m_widthDest = size;
    });

    // The tooltip background of the business system's grids; the current cell keeps its highlight
    // when the focus is elsewhere (the lookup, a message), which is when it shows the code.
    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, pal.color(QPalette::Active, QPalette::ToolTipBase));
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);
}

TServiceGrid::~TServiceGrid() = default;

// ---- Binding ------------------------------------------------------------------------------------

void TServiceGrid::setServiceMap(ServiceMap *map, MemTableModel *dtsServico)
{
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    setModel(nullptr);
    delete m_ownModel;
    m_ownModel = nullptr;
    m_model = nullptr;
    m_map = map;
    if (!map)
        return;

    Q_ASSERT(!dtsServico || dtsServico->table() == &map->cdsServico);
    if (!dtsServico) {
        m_ownModel = new MemTableModel(&map->cdsServico, this);
        m_ownModel->setObjectName(QStringLiteral("dtsServico"));
        dtsServico = m_ownModel;
    }
    m_model = dtsServico;
    setModel(m_model);
    m_delegate->maxLength = map->cdsServico.field(ServiceMap::ColDest).width;

    connect(m_model, &MemTableModel::tableStateChanged, this, &TServiceGrid::stateChange);
    // The map's entry is made here: a value the map refuses is told where it was typed.
    connect(m_model, &MemTableModel::editRefused, this, [this](const QString &text, const QString &field) {
        messageSink()->showError(text);
        if (field == ServiceMap::kFieldDestino)
            requestFocusDestino();
    });
    connect(m_model, qOverload<int>(&MemTableModel::currentRowChanged), this, &TServiceGrid::followTableRow);
    connect(m_model, &QAbstractItemModel::modelReset, this, &TServiceGrid::applyColumns);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        followTableRow(m_map ? m_map->cdsServico.currentRow() : -1);
    });

    applyColumns();
    followTableRow(map->cdsServico.currentRow());
}

void TServiceGrid::setLookup(ServiceLookup lookup)
{
    m_lookup = std::move(lookup);
}

void TServiceGrid::applyColumns()
{
    if (!m_model)
        return;
    m_colOrig = m_model->columnOfField(ServiceGridFields::Orig);
    m_colDest = m_model->columnOfField(ServiceGridFields::Dest);
    // The grid shows the two code columns; the names stay in the model for the drawing.
    for (int c = 0; c < m_model->columnCount(); ++c)
        setColumnHidden(c, c != m_colOrig && c != m_colDest);
    if (m_colOrig >= 0)
        setColumnWidth(m_colOrig, m_widthOrig);
    if (m_colDest >= 0)
        setColumnWidth(m_colDest, m_widthDest);
}

void TServiceGrid::followTableRow(int row)
{
    if (!m_model || row < 0 || row >= m_model->rowCount())
        return;
    const QModelIndex current = currentIndex();
    if (current.isValid() && current.row() == row)
        return;
    const int column = current.isValid() ? current.column() : m_colOrig;
    ++m_syncing;
    selectionModel()->setCurrentIndex(m_model->index(row, column < 0 ? 0 : column),
                                      QItemSelectionModel::ClearAndSelect);
    --m_syncing;
}

// ---- State --------------------------------------------------------------------------------------

QString TServiceGrid::selectedFieldName() const
{
    return currentIndex().data(MemTableModel::FieldNameRole).toString();
}

bool TServiceGrid::editorMode() const
{
    return state() == QAbstractItemView::EditingState;
}

ServiceCodeEditor *TServiceGrid::inplaceEditor() const
{
    return editorMode() ? m_editor.data() : nullptr;
}

bool TServiceGrid::isEditing() const
{
    if (!m_map)
        return false;
    const TableState s = m_map->cdsServico.state();
    return s == TableState::Edit || s == TableState::Insert;
}

bool TServiceGrid::postEdit()
{
    if (!isEditing())
        return true;
    finishEditor();
    if (runHandler([this] { m_map->cdsServico.post(); }))
        return true;
    // The operator was on his way elsewhere (a click has already moved the focus): he is brought
    // back to the code to correct.
    if (ServiceCodeEditor *editor = inplaceEditor())
        editor->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
    return false;
}

// The grid's handlers end at the platform's boundary. Once the outermost one ends, a failed
// validation's request to return to the destination cell is carried out, outside the map's
// operations.
template <typename F>
bool TServiceGrid::runHandler(F &&handler)
{
    ++m_handlerDepth;
    // A refused destination puts the cursor back on the destination cell.
    const bool ok = runAction([&] {
        try {
            std::forward<F>(handler)();
        } catch (const AbandonedAction &a) {
            if (a.field() == ServiceMap::kFieldDestino)
                m_focusDestinoPending = true;
            throw;
        }
    });
    if (--m_handlerDepth == 0 && m_focusDestinoPending) {
        m_focusDestinoPending = false;
        placeOnDestination();
    }
    return ok;
}

void TServiceGrid::requestFocusDestino()
{
    if (m_handlerDepth > 0) {
        m_focusDestinoPending = true;
        return;
    }
    // Called from a post the grid did not start: wait until that operation is over.
    QMetaObject::invokeMethod(this, [this] { placeOnDestination(); }, Qt::QueuedConnection);
}

void TServiceGrid::placeOnDestination()
{
    if (!m_map || !m_model || m_colDest < 0)
        return;
    const int row = m_map->cdsServico.currentRow();
    if (row < 0 || row >= m_model->rowCount())
        return;
    const QModelIndex dest = m_model->index(row, m_colDest);
    if (currentIndex() != dest) {
        ++m_syncing;
        selectionModel()->setCurrentIndex(dest, QItemSelectionModel::ClearAndSelect);
        --m_syncing;
    }
    scrollTo(dest);
    // The operator corrects the code where it failed: the editor shows it as the row now holds it,
    // in its canonical form.
    if (inplaceEditor())
        refreshEditor();
    else
        edit(dest, QAbstractItemView::AllEditTriggers, nullptr);
}

void TServiceGrid::syncTableRow(int row)
{
    MemTable &t = m_map->cdsServico;
    if (row >= 0 && t.isActive() && t.currentRow() != row)
        t.moveTo(row); // posts the row being left
}

// ---- The in-place editor ------------------------------------------------------------------------

void TServiceGrid::adoptEditor(ServiceCodeEditor *editor, const QModelIndex &index)
{
    m_editor = editor;
    m_editorIndex = index;
    editor->lineEdit()->installEventFilter(this);
    connect(editor, &ServiceCodeEditor::textEdited, this, &TServiceGrid::startEditFromTyping);
    connect(editor, &ServiceCodeEditor::buttonClicked, this, &TServiceGrid::dbgPadraoEditButtonClick);
}

void TServiceGrid::startEditFromTyping()
{
    if (!m_map)
        return;
    // The first change in the editor starts the edit of the row: its before-edit event releases
    // the row's destination, so the row may take it again.
    runHandler([this] {
        syncTableRow(m_editorIndex.row());
        if (m_map->cdsServico.state() == TableState::Browse)
            m_map->cdsServico.edit();
    });
}

void TServiceGrid::commitEditor()
{
    if (ServiceCodeEditor *editor = inplaceEditor()) {
        QTableView::commitData(editor);
        refreshEditor();
    }
}

void TServiceGrid::finishEditor()
{
    if (ServiceCodeEditor *editor = inplaceEditor()) {
        QTableView::commitData(editor);
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void TServiceGrid::refreshEditor()
{
    if (ServiceCodeEditor *editor = inplaceEditor(); editor && m_editorIndex.isValid())
        m_delegate->setEditorData(editor, m_editorIndex);
}

void TServiceGrid::cancelEdit()
{
    if (ServiceCodeEditor *editor = inplaceEditor())
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint); // what was typed is dropped
    if (!isEditing())
        return;
    // The map gives the row its stored values back, and re-enters the destination its
    // before-edit released.
    runHandler([this] { m_map->cdsServico.cancel(); });
}

bool TServiceGrid::eventFilter(QObject *watched, QEvent *event)
{
    ServiceCodeEditor *editor = inplaceEditor();
    if (!editor || watched != editor->lineEdit())
        return QTableView::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride && isGridKey(static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (!editorKeyPress(key))
            return false;
        // Handled here: accepted, or the application would still offer it to the editor's parents.
        key->accept();
        return true;
    }
    if (event->type() == QEvent::FocusOut)
        editorFocusOut();
    return QTableView::eventFilter(watched, event);
}

// Keys typed into the in-place editor go through the grid's key handlers first, as those of the
// grid itself do; the keys that end the editing are the grid's, not the line edit's.
bool TServiceGrid::editorKeyPress(QKeyEvent *event)
{
    if (dbgPadraoKeyDown(event) || dbgPadraoKeyPress(event))
        return true; // swallowed: it reaches neither the grid nor the editor
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
        const bool back = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
        finishEditor();
        navigate(back ? MovePrevious : MoveNext);
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The key-down handler posted an edit in progress. The editor closes, unless that post
        // failed and left the operator on the destination cell to correct the code.
        if (!isEditing())
            finishEditor();
        return true;
    case Qt::Key_Escape:
        cancelEdit();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // Row moves: the grid's navigation, which commits the editor before it leaves the cell.
        QTableView::keyPressEvent(event);
        return true;
    default:
        return false;
    }
}

void TServiceGrid::editorFocusOut()
{
    // The grid's own lookup or message took the focus: the editor stays for the operator to come
    // back to, with what was typed.
    if (m_handlerDepth > 0)
        return;
    ServiceCodeEditor *editor = inplaceEditor();
    for (QWidget *w = QApplication::focusWidget(); w; w = w->parentWidget()) {
        if (w == editor)
            return; // the focus stays inside the editor
    }
    finishEditor();
}

// ---- Handlers -----------------------------------------------------------------------------------

void TServiceGrid::dbgPadraoEditButtonClick()
{
    if (!m_map || selectedFieldName() != ServiceGridFields::Dest)
        return; // only the destination carries the button
    bool chosen = false;
    runHandler([this, &chosen] {
        ReadOnlyQuery &services = m_map->qryPesqServico;
        services.close();
        services.setParam(QStringLiteral("P_CDFILIAL"), m_map->CdFilialDestino ? m_map->CdFilialDestino() : QString());
        const QString caption = Msg(QStringLiteral("Serv")) + u'|' + Msg(QStringLiteral("Serv_Cad_Fili"));
        const std::optional<ServiceChoice> choice =
            m_lookup ? m_lookup(services, caption) : ServiceLookups::pickList(services, caption, this);
        if (!choice)
            return; // nothing chosen: the row, and what is typed, stay as they were

        chosen = true;
        MemTable &t = m_map->cdsServico;
        syncTableRow(currentIndex().row());
        if (t.state() == TableState::Browse)
            t.edit(); // before-edit releases the row's destination
        t.setText(ServiceMap::ColDest, choice->code);
        t.setText(ServiceMap::ColNmDest, choice->name);
        if (isEditing())
            t.post(); // validated by the map: a service another row holds is refused
    });
    if (chosen)
        refreshEditor(); // the editor shows the chosen code, posted or not
}

void TServiceGrid::dbgPadraoColExit(const QModelIndex &leaving)
{
    if (m_map && leaving.data(MemTableModel::FieldNameRole).toString() == ServiceGridFields::Dest)
        m_map->Vd_CdServDestino(false);
}

bool TServiceGrid::dbgPadraoKeyDown(const QKeyEvent *event)
{
    const int key = event->key();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    // Ctrl+Delete is the data-aware grid's delete-row command: the map's rows come only from the
    // export file, so none is removed here.
    if (key == Qt::Key_Delete && ctrl)
        return true;
    // Insert, with any modifier, is its insert-row command; for the same reason nothing is added.
    if (key == Qt::Key_Insert)
        return true;
    // The origin code is the exported service: Delete must not erase it.
    if (key == Qt::Key_Delete && selectedFieldName() == ServiceGridFields::Orig)
        return true;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && isEditing()) {
        // Enter posts, with what is in the editor; a refused destination leaves the row in edit
        // and the cursor on its destination cell. The key itself goes on.
        commitEditor();
        runHandler([this] { m_map->cdsServico.post(); });
    }
    return false;
}

bool TServiceGrid::dbgPadraoKeyPress(const QKeyEvent *event)
{
    if (selectedFieldName() != ServiceGridFields::Orig)
        return false; // typing in the destination is free
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return false;
    default:
        // Keys that type nothing (arrows, Home, F2) keep working; every character is refused,
        // Backspace included, so the origin code stays as exported.
        return !event->text().isEmpty();
    }
}

// ---- The grid's own keys, mouse and cursor ------------------------------------------------------

bool TServiceGrid::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride && isGridKey(static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    return QTableView::event(event);
}

void TServiceGrid::keyPressEvent(QKeyEvent *event)
{
    if (dbgPadraoKeyDown(event)) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        // Escape belongs to the grid: it cancels the edit in progress. With none there is
        // nothing to do, and it must neither open an editor nor reach the screen.
        cancelEdit();
        event->accept();
        return;
    }
    if (dbgPadraoKeyPress(event)) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TServiceGrid::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex from = currentIndex();
    const QModelIndex to = indexAt(event->position().toPoint());
    if (m_map && from.isValid() && to.isValid() && to != from && !leaveCell(from, to, false)) {
        event->accept(); // refused: the cursor stays on the destination cell
        return;
    }
    QTableView::mousePressEvent(event);
}

QModelIndex TServiceGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex from = currentIndex();
    QModelIndex to = QTableView::moveCursor(action, modifiers);
    if (!m_map || !m_model || !from.isValid())
        return to;

    // Down, or Tab past the last cell, on the last row is where the data-aware grid appends a
    // row. The map cancels every new row at once; what remains is the post of the row left.
    bool append = false;
    if (from.row() == m_model->rowCount() - 1) {
        if (action == MoveDown || action == MovePageDown)
            append = true;
        else if (action == MoveNext && to.isValid() && to.row() < from.row()) {
            append = true;
            to = from.siblingAtColumn(m_colOrig);
        }
    }
    if (to == from && !append)
        return to;
    if (!leaveCell(from, to, append))
        return currentIndex(); // the destination cell that failed
    return to;
}

void TServiceGrid::navigate(CursorAction action)
{
    const QModelIndex to = moveCursor(action, Qt::NoModifier);
    if (to.isValid() && to != currentIndex())
        selectionModel()->setCurrentIndex(to, QItemSelectionModel::ClearAndSelect);
}

// Leaving a cell: what is typed goes into the row, leaving the destination column validates it,
// and leaving the row posts it. False when refused; the cursor is then on the destination cell.
bool TServiceGrid::leaveCell(const QModelIndex &from, const QModelIndex &to, bool postAnyway)
{
    finishEditor();
    return runHandler([&] {
        syncTableRow(from.row());
        if (!to.isValid() || to.column() != from.column())
            dbgPadraoColExit(from);
        if (to.isValid() && to.row() != from.row())
            m_map->cdsServico.moveTo(to.row());
        else if (postAnyway)
            m_map->cdsServico.post();
    });
}

void TServiceGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    if (m_syncing || !m_map || !current.isValid())
        return;
    // A move the grid's own navigation did not check (a program setting the cursor): the table
    // follows, posting the row left like any move.
    MemTable &t = m_map->cdsServico;
    if (t.isActive() && t.currentRow() != current.row())
        runHandler([&] { t.moveTo(current.row()); });
}
