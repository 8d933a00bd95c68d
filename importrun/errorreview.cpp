#include "errorreview.h"

#include "dishflags.h"
#include "handlerboundary.h"
#include "importsession.h"
#include "memtable.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QScopedValueRollback>


namespace {

// The screen a widget is on: its MDI child window, or its top-level window outside an MDI area.
const QWidget *formOf(const QWidget *w)
{
    for (const QWidget *p = w; p; p = p->parentWidget()) {
        if (qobject_cast<const QMdiSubWindow *>(p) || p->isWindow())
            return p;
    }
    return nullptr;
}

} // namespace

ErrorReview::ErrorReview(MemTable &cdsPrato, const Widgets &widgets, QObject *parent)
    : QObject(parent),
      m_cdsPrato(cdsPrato),
      m_panErro(widgets.panErro),
      m_lsbErro(widgets.lsbErro),
      m_sbtErros(widgets.sbtErros),
      m_buttonFlat1(widgets.ButtonFlat1),
      m_dbgPrato(widgets.dbgPrato)
{
    if (m_sbtErros)
        connect(m_sbtErros, &QAbstractButton::clicked, this, &ErrorReview::sbtErrosClick);
    if (m_buttonFlat1)
        connect(m_buttonFlat1, &QAbstractButton::clicked, this, &ErrorReview::ButtonFlat1Click);
    if (m_dbgPrato)
        connect(m_dbgPrato, &QAbstractItemView::doubleClicked, this, &ErrorReview::dbgPratoDblClick);
    if (m_lsbErro)
        m_lsbErro->installEventFilter(this);
}

ErrorReview::~ErrorReview()
{
    if (m_lsbErro)
        m_lsbErro->removeEventFilter(this);
}

void ErrorReview::setControlCharLine(std::function<int(int row)> lineOf)
{
    m_controlCharLine = std::move(lineOf);
}

void ErrorReview::setFallbackFocus(std::function<QWidget *()> fallback)
{
    m_fallback = std::move(fallback);
}

bool ErrorReview::panelShowing() const
{
    return m_panErro && !m_panErro->isHidden();
}

bool ErrorReview::canFocus(const QWidget *w) const
{
    return w && w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus;
}

void ErrorReview::sbtErrosClick()
{
    runAction([this] {
        if (!m_panErro || !m_lsbErro)
            return;
        m_lsbErro->clear();
        // Only a dish at rest is read: in the middle of an edit or an insert the row is not yet
        // what the checks flagged, and the panel opens empty.
        if (m_cdsPrato.isActive() && m_cdsPrato.state() == TableState::Browse && m_cdsPrato.currentRow() >= 0) {
            const int flagsCol = m_cdsPrato.fieldIndex(u"IDERRO");
            const QString flags = flagsCol >= 0 ? m_cdsPrato.text(flagsCol) : QString();
            if (DishFlags::hasErrors(flags)) {
                const int nameCol = m_cdsPrato.fieldIndex(u"MNPRATOLOCAL");
                const QString localName = nameCol >= 0 ? m_cdsPrato.text(nameCol) : QString();
                const int line = m_controlCharLine ? m_controlCharLine(m_cdsPrato.currentRow()) : 0;
                m_lsbErro->addItems(DishFlags::texts(flags, localName, line));
            }
        }
        m_panErro->show();
        m_panErro->raise();
        m_lsbErro->setFocus(Qt::OtherFocusReason);
    });
}

void ErrorReview::dbgPratoDblClick()
{
    if (m_sbtErros && m_sbtErros->isEnabled())
        sbtErrosClick();
}

void ErrorReview::ButtonFlat1Click()
{
    runAction([this] { closePanel(); });
}

void ErrorReview::lsbErroExit()
{
    runAction([this] {
        if (panelShowing())
            closePanel();
    });
}

void ErrorReview::closePanel()
{
    if (m_closing || !m_panErro)
        return;
    // Moving the focus makes the list lose it, which comes back here.
    const QScopedValueRollback<bool> closing(m_closing, true);
    // The focus moves before the panel hides: hiding the panel with the focus inside would pass
    // the focus to the next control in the chain, which may be the parameter panel, whose entry
    // discards the loaded tables.
    QWidget *target = canFocus(m_dbgPrato) ? static_cast<QWidget *>(m_dbgPrato.data()) : nullptr;
    if (!target && m_fallback) {
        QWidget *fallback = m_fallback();
        if (canFocus(fallback))
            target = fallback;
    }
    if (target) {
        target->setFocus(Qt::OtherFocusReason);
    } else if (QWidget *focused = QApplication::focusWidget(); focused && m_panErro->isAncestorOf(focused)) {
        focused->clearFocus();
    }
    m_panErro->hide();
}

bool ErrorReview::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_lsbErro)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress: {
        // Tab out of the list closes the panel and lands on the dish grid. The key is swallowed:
        // left to Qt it would first give the focus to the next control in the chain, which would
        // run that control's enter handling before the grid took the focus back.
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && panelShowing()) {
            lsbErroExit();
            return true;
        }
        break;
    }
    case QEvent::FocusOut: {
        // The focus leaving the list for another control of the screen (a click, a shortcut)
        // closes the panel at once, while the focus change is under way: the grid ends up with
        // the focus and the control aimed at never gets it, so no enter handling of its own runs.
        // The screen losing the activation (another window or child window in front, a popup
        // over it) is no exit: the list has the focus again when the screen comes back.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        const QWidget *next = QApplication::focusWidget();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason
            && reason != Qt::MenuBarFocusReason && next && formOf(next) == formOf(m_lsbErro))
            lsbErroExit();
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
