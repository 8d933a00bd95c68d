// TfrmImpoPrato's view of the focus and of the operator's input (which moves are his, when he
// enters and leaves the parameter panel), and what the load pass shows on the screen.
#include "frmimpoprato.h"
#include "handlerboundary.h"
#include "ambiente.h"
#include "consiste.h"
#include "datapacket.h"
#include "dialogs.h"
#include "dishgrid.h"
#include "dishpictures.h"
#include "dishtable.h"
#include "errorreview.h"
#include "framework.h"
#include "glyphs.h"
#include "importrun.h"
#include "memtablemodel.h"
#include "servicegrid.h"

#include <QApplication>
#include <QScopeGuard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QScrollArea>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

bool TfrmImpoPrato::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    // A key that a shortcut takes is announced (ShortcutOverride) but never delivered as a press.
    const bool input = type == QEvent::KeyPress || type == QEvent::ShortcutOverride || type == QEvent::MouseButtonPress
                       || type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick;
    if (type == QEvent::Resize && watched == panFiltro)
        arrangeFiltro();
    if (type == QEvent::WindowStateChange && watched == subWindow() && !subWindow()->isMinimized()) {
        // Maximised or restored, the child window hands the focus to a control of its own choice
        // (the file field, its text selected): the operator's next key would land there.
        QMetaObject::invokeMethod(this, [this] { restoreOperatorFocus(); }, Qt::QueuedConnection);
    }
    if (type == QEvent::FocusOut && watched == lsbErro && errorReview->panelShowing()) {
        // A click gives the focus before the press itself is delivered: the error panel is closed
        // by then, and the press must still count as the click that closed it.
        m_errorPanelLeft = true;
        QMetaObject::invokeMethod(this, [this] { m_errorPanelLeft = false; }, Qt::QueuedConnection);
    }
    if (!watched->isWidgetType() || (type != QEvent::FocusIn && !input))
        return TfrmPadrImportExport::eventFilter(watched, event);
    auto *w = static_cast<QWidget *>(watched);
    if (type == QEvent::FocusIn) {
        if (isAncestorOf(w)) {
            // Qt hands the focus on "by Tab" on its own too (a focused control hidden or disabled,
            // a child window maximised or restored): only a move made while the operator's key or
            // click is being delivered is his (a click moves it, a Tab, or the handler of what he
            // clicked: the file button puts it on the file field).
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            const bool handed = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason
                                || reason == Qt::ShortcutFocusReason || reason == Qt::OtherFocusReason;
            m_focusInWidget = w;
            m_focusInByOperator = reason == Qt::MouseFocusReason || (handed && m_inputBeingDelivered);
        }
        return TfrmPadrImportExport::eventFilter(watched, event);
    }
    if (!m_inputBeingDelivered && (w == this || isAncestorOf(w))) {
        // Cleared once the key or click has been delivered, with every focus move it made.
        m_inputBeingDelivered = true;
        QMetaObject::invokeMethod(this, [this] { m_inputBeingDelivered = false; }, Qt::QueuedConnection);
    }
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonPress)
        return TfrmPadrImportExport::eventFilter(watched, event);
    // A key reaches the control that has the focus; a click, the control under the mouse. A
    // modifier alone, a function key (the help) or Escape (the screen's close) does nothing to the
    // panel.
    if (!m_inPanel && panFiltro->isAncestorOf(w)) {
        bool touches = type == QEvent::MouseButtonPress;
        if (type == QEvent::KeyPress && w == QApplication::focusWidget()) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            touches = key != Qt::Key_Escape && !(key >= Qt::Key_Shift && key <= Qt::Key_ScrollLock)
                      && !(key >= Qt::Key_F1 && key <= Qt::Key_F35);
        }
        if (touches && !operatorTouchesPanel(w))
            return true;
    }
    return TfrmPadrImportExport::eventFilter(watched, event);
}

bool TfrmImpoPrato::operatorTouchesPanel(QWidget *target)
{
    if (m_inPanelHandler || m_state == ScreenState::Loading || m_state == ScreenState::Importing)
        return true;
    if (!target->isEnabled() || !target->isVisible())
        return true;
    // With the error panel open, a click anywhere else only closes that panel: the focus goes back
    // to the dish grid, and the operator stays where he was. A second click enters the panel.
    if (errorReview->panelShowing() || m_errorPanelLeft)
        return true;
    // A click on a label or on the panel's background is no visit; a lookup button serves its
    // field, where its click puts the focus.
    QWidget *field = target;
    if (auto *button = qobject_cast<TBtnPesquisa *>(target))
        field = button->Associate;
    else if (!(target->focusPolicy() & Qt::ClickFocus))
        return true;
    if (!field)
        return true;
    // A service pair typed on the map and not yet confirmed is posted first, as leaving its row
    // would post it: entering the panel starts over, and the pair is kept for the next load only
    // once posted. A refused code keeps the operator on the map, the load untouched.
    m_inPanelHandler = true;
    if (!dbgPadrao->postEdit()) {
        m_inPanelHandler = false;
        if (QWidget *f = QApplication::focusWidget(); f && isAncestorOf(f))
            m_lastFocus = f;
        return false;
    }
    runAction([this] { panFiltroEnter(panFiltro); });
    // Entered by a lookup button, the operator is in its field, as a click on the field puts him:
    // the focus must not stay on a control outside the panel.
    if (field != target && field->isEnabled() && field->isVisible())
        field->setFocus(Qt::MouseFocusReason);
    m_inPanelHandler = false;
    m_inPanel = true;
    m_focusSeen = true;
    m_lastFocus = field;
    return true;
}

void TfrmImpoPrato::onFocusChanged(QWidget *now)
{
    // The handlers' own focus moves are theirs; they are settled once the handler is done.
    if (m_inPanelHandler || m_focusMovePending)
        return;
    if (!now || !(isAncestorOf(now) || now == this || now == subWindow()))
        return;
    // Settled once Qt is done moving the focus: hiding the focused grid (a change of tab) or
    // closing the error panel passes the focus through other controls, the parameter panel's
    // among them, before it comes to rest. Only where it rests counts.
    m_focusMovePending = true;
    QMetaObject::invokeMethod(this, [this] {
        m_focusMovePending = false;
        settleFocusMove();
    }, Qt::QueuedConnection);
}

void TfrmImpoPrato::settleFocusMove()
{
    if (m_inPanelHandler)
        return;
    // Only a move between two controls of this screen counts. A message box or a lookup holding
    // the focus, another child window in front, the application without the focus: the control
    // stays this screen's focused control and gets the focus back later, which is no move either.
    QWidget *now = QApplication::focusWidget();
    if (now && m_focusSeen && (now == this || now == subWindow())) {
        // The focus rests on the window, on no control (the page that held it was switched or
        // hidden): keys would go nowhere.
        restoreOperatorFocus();
        return;
    }
    if (!now || !isAncestorOf(now))
        return;
    if (!m_focusSeen) {
        // The screen's first focus (IniProc puts it on the file field) is where the operator
        // starts, no move.
        m_focusSeen = true;
        m_lastFocus = now;
        m_inPanel = panFiltro->isAncestorOf(now);
        return;
    }
    // A move that Qt or the window system made (an activation, a restore or maximise, a message
    // box or lookup closing, a hidden control handing the focus on) leaves the operator where he
    // was: it neither checks a field nor enters or leaves the panel.
    // Taken across the edge of the parameter panel, the focus goes back to where the operator left
    // it: a key typed into a field he never entered would discard the load.
    const bool operatorMove = m_focusInWidget == now && m_focusInByOperator;
    if (!operatorMove) {
        if (panFiltro->isAncestorOf(now) != m_inPanel)
            restoreOperatorFocus();
        return;
    }
    QWidget *from = m_lastFocus;
    m_lastFocus = now;
    if (from == now)
        return;

    const bool wasIn = m_inPanel;
    const bool isIn = panFiltro->isAncestorOf(now);
    if (!wasIn && !isIn)
        return;

    m_inPanelHandler = true;
    runAction([&] {
        if (wasIn) {
            // The field's own exit first, then, leaving the panel, the panel's: the field is
            // checked twice on the way out. A refused field keeps the focus and nothing more runs.
            if (from && from == medNmArquivo)
                medNmArquivoExit(medNmArquivo);
            else if (from && from == medCdFilial)
                medCdFilialExit(medCdFilial);
            if (!isIn)
                panFiltroExit(panFiltro);
        } else if (dbgPadrao->postEdit()) {
            panFiltroEnter(panFiltro);
        }
    });
    m_inPanelHandler = false;
    // Where the handler left the focus (a refused field, or where the operator went) is where the
    // next move starts from.
    if (QWidget *f = QApplication::focusWidget(); f && isAncestorOf(f)) {
        m_lastFocus = f;
        m_inPanel = panFiltro->isAncestorOf(f);
    } else {
        m_inPanel = isIn;
    }
}

void TfrmImpoPrato::restoreOperatorFocus()
{
    if (m_inPanelHandler || !m_focusSeen)
        return;
    const QWidget *now = QApplication::focusWidget();
    if (!now || !(now == this || now == subWindow() || isAncestorOf(now)))
        return; // the screen is not in front: the focus comes back with the activation
    const auto canTake = [](QWidget *w) {
        return w && w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus;
    };
    // Where the operator left it; when that control is gone (an editor closed, a page hidden), the
    // first control on his side of the panel's edge.
    QWidget *target = m_lastFocus;
    if (!canTake(target) || panFiltro->isAncestorOf(target) != m_inPanel) {
        target = nullptr;
        QWidget *grid = pgcPadrao->currentWidget() == tshPadrao ? static_cast<QWidget *>(dbgPadrao) : dbgPrato;
        const QList<QWidget *> side = m_inPanel ? QList<QWidget *>{medNmArquivo, medCdFilial} : QList<QWidget *>{grid};
        for (QWidget *w : side) {
            if (canTake(w)) {
                target = w;
                break;
            }
        }
    }
    if (!target || target == now)
        return;
    // The screen's own move: nothing to settle.
    m_inPanelHandler = true;
    target->setFocus(Qt::OtherFocusReason);
    m_inPanelHandler = false;
    m_lastFocus = target;
}

// What the load pass shows.

void TfrmImpoPrato::setProgressRange(int maximum)
{
    // A file too short to hold data lines gives a negative total; the bar then just stays empty
    // rather than turning into a "busy" bar (a zero range).
    m_progress = 0;
    pgbProgresso->setRange(0, qMax(1, maximum));
    pgbProgresso->setValue(0);
}

void TfrmImpoPrato::setProgress(int position)
{
    m_progress = position;
}

void TfrmImpoPrato::setStatusText(const QString &text)
{
    TfrmPadrImportExport::setStatusText(text);
}

void TfrmImpoPrato::serveEvents()
{
    // What the pass did to the grids' tables since the last time, told before they repaint.
    dtsPrato->flush();
    dtsServico->flush();
    pgbProgresso->setValue(qBound(pgbProgresso->minimum(), m_progress, pgbProgresso->maximum()));
    // Only what changed is painted (the bar, the grids that got rows, the status line): a whole
    // repaint of the screen every 50 ms was most of what the screen added to the pass.
    QCoreApplication::processEvents();
}

void TfrmImpoPrato::serverCallStarted(int animation)
{
    ActiveShowAvi(animation);
}

void TfrmImpoPrato::serverCallEnded()
{
    DeactiveShowAvi();
}

void TfrmImpoPrato::showNotice(const QString &text)
{
    messageSink()->showInfo(text);
}

bool TfrmImpoPrato::focusField(const QString &field)
{
    if (field == u"medCdFilial" && medCdFilial->isEnabled()) {
        medCdFilial->setFocus();
        return true;
    }
    // With a per-branch module the branch field is locked; the file field takes the focus then.
    if (field == u"medNmArquivo" || field == u"medCdFilial") {
        medNmArquivo->setFocus();
        return true;
    }
    return false;
}

void TfrmImpoPrato::dishFlagged()
{
    // A dish with errors was stored: its errors can be reviewed.
    m_dishErrors = true;
}

void TfrmImpoPrato::showServiceTab()
{
    // The map of this pass has rows now.
    applyState();
}
