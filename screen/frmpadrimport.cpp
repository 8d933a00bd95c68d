#include "frmpadrimport.h"
#include "actionguard.h"
#include "dialogs.h"
#include "glyphs.h"
#include "screenhost.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QToolButton>

namespace {

QToolButton *sideButton(QWidget *parent, const QString &objectName, const QString &hint,
                        const QPixmap &picture, int left, int top)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(objectName);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    // Speed buttons: a click leaves the focus where it was, so no field's exit check runs for it.
    b->setFocusPolicy(Qt::NoFocus);
    b->setIcon(QIcon(Glyphs::transparent(picture)));
    b->setIconSize(QSize(16, 16));
    b->setGeometry(left, top, 41, 22);
    return b;
}

QFrame *panel(QWidget *parent, const QString &objectName, QFrame::Shadow shadow = QFrame::Raised)
{
    auto *f = new QFrame(parent);
    f->setObjectName(objectName);
    f->setFrameStyle(QFrame::Panel | shadow);
    f->setLineWidth(1);
    return f;
}

} // namespace

TfrmPadrImportExport::TfrmPadrImportExport(QWidget *parent)
    : QWidget(parent), msgPadrao(TMessages::instance())
{
    setObjectName(QStringLiteral("frmPadrImportExport"));

    grbDadosRel = new QGroupBox(this);
    grbDadosRel->setObjectName(QStringLiteral("grbDadosRel"));
    Image1 = Glyphs::hiddenPicture(grbDadosRel, QStringLiteral("Image1"), Glyphs::importar());
    Image2 = Glyphs::hiddenPicture(grbDadosRel, QStringLiteral("Image2"), Glyphs::exportar());

    panMenu = panel(this, QStringLiteral("panMenu"));
    panBotoes = panel(panMenu, QStringLiteral("panBotoes"));
    panBotoes->setFrameStyle(QFrame::NoFrame);
    // The screen's own buttons go between these two (top 26).
    sbtImportExport = sideButton(panBotoes, QStringLiteral("sbtImportExport"), QString(), QPixmap(), 4, 2);
    sbtCancel = sideButton(panBotoes, QStringLiteral("sbtCancel"), QStringLiteral("Sair"),
                           Glyphs::cancelar(), 4, 50);
    panHelp = panel(panMenu, QStringLiteral("panHelp"), QFrame::Sunken);
    m_sbtAjuda = sideButton(panHelp, QStringLiteral("sbtAjuda"), QStringLiteral("Ajuda"),
                            Glyphs::ajuda(), 5, 4);

    panProgresso = panel(this, QStringLiteral("panProgresso"));
    lblCodTela = new QLabel(panProgresso);
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));
    // The code has to fit the label's 50 pixels whatever face the desktop substitutes.
    QFont code = lblCodTela->font();
    code.setBold(true);
    code.setPixelSize(11);
    code.setStretch(QFont::Condensed);
    lblCodTela->setFont(code);
    pgbProgresso = new QProgressBar(panProgresso);
    pgbProgresso->setObjectName(QStringLiteral("pgbProgresso"));
    pgbProgresso->setRange(0, 100);
    pgbProgresso->setValue(0);
    pgbProgresso->setTextVisible(false);
    m_lblStatus = new QLabel(panProgresso);
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));

    connect(sbtCancel, &QToolButton::clicked, this, [this] { closeScreen(); });
    connect(m_sbtAjuda, &QToolButton::clicked, this, [this] {
        runAction([this] { showScreenHelp(); });
    });

    // Keys pressed anywhere on the screen come here before the control that has the focus.
    qApp->installEventFilter(this);

    resize(ClientSize);
    arrange();
}

TfrmPadrImportExport::~TfrmPadrImportExport() = default;

QPixmap TfrmPadrImportExport::importPicture() const
{
    return Image1->pixmap().copy();
}

void TfrmPadrImportExport::setStatusText(const QString &text)
{
    m_lblStatus->setText(text);
    if (m_lblStatus->isVisible())
        m_lblStatus->repaint();
}

QString TfrmPadrImportExport::statusText() const
{
    return m_lblStatus->text();
}

void TfrmPadrImportExport::ProcessaMensagens()
{
    repaint();
    QCoreApplication::processEvents();
}

QMdiSubWindow *TfrmPadrImportExport::subWindow() const
{
    return m_subWindow;
}

QSize TfrmPadrImportExport::sizeHint() const
{
    return ClientSize;
}

QSize TfrmPadrImportExport::minimumSizeHint() const
{
    return ClientSize;
}

QStringList TfrmPadrImportExport::helpFields() const
{
    QStringList fields;
    QWidget *w = QApplication::focusWidget();
    if (!w || !isAncestorOf(w))
        return fields;
    for (; w && w != this; w = w->parentWidget()) {
        if (!w->objectName().isEmpty())
            fields << w->objectName();
    }
    return fields;
}

void TfrmPadrImportExport::showScreenHelp()
{
    dialogs()->showHelp(HelpFile, HelpContext, helpFields());
}

void TfrmPadrImportExport::showInHost()
{
    QMdiSubWindow *sub = addToHost(this);
    m_subWindow = sub;
    QMdiArea *area = screenHost().mdiArea;
    connect(area, &QMdiArea::subWindowActivated, this, &TfrmPadrImportExport::onSubWindowActivated);
    m_lastActive = area->activeSubWindow();
    sub->setWindowIcon(QIcon(Glyphs::transparent(Glyphs::importar())));
    resize(ClientSize);
    // The child window never gets smaller than the screen's layout: the fields of the parameter
    // panel and their buttons sit at fixed places and would be cut.
    setMinimumSize(minimumSizeHint());
    sub->resize(sub->sizeHint());
    sub->move(Left, Top);
}

void TfrmPadrImportExport::restoreAndShow()
{
    QMdiSubWindow *sub = m_subWindow;
    if (!sub) {
        show();
        raise();
        activateWindow();
        return;
    }
    sub->show();
    if (QMdiArea *area = sub->mdiArea())
        area->setActiveSubWindow(sub);
    // After the activation: an MDI area maximises a child that takes over from a maximised one,
    // and the screen is to come back in its normal state whatever the others are.
    if (sub->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))
        sub->showNormal();
    sub->raise();
}

bool TfrmPadrImportExport::closeScreen()
{
    if (m_subWindow)
        return m_subWindow->close();
    return close();
}

void TfrmPadrImportExport::onSubWindowActivated(QMdiSubWindow *window)
{
    // The area reports "none active" whenever the main window loses the focus (a message box, another
    // application) and the same child again when it comes back. Only a change of the active child
    // is an activation of the screen; otherwise a failing activation that shows a message would
    // run again each time the message closes.
    if (!window)
        return;
    const bool mine = window == m_subWindow;
    const bool changed = window != m_lastActive;
    m_lastActive = window;
    if (mine && changed)
        runAction([this] { FormActivate(this); });
}

void TfrmPadrImportExport::FormCreate(QObject *)
{
    pgbProgresso->setValue(0);
    setStatusText(QString());
    sbtImportExport->setEnabled(false);
}

void TfrmPadrImportExport::FormActivate(QObject *)
{
}

void TfrmPadrImportExport::FormClose(QObject *, CloseAction &action)
{
    action = CloseAction::Free;
}

void TfrmPadrImportExport::FormKeyDown(QObject *, int &key, Qt::KeyboardModifiers)
{
    switch (key) {
    case Qt::Key_Escape:
        key = 0;
        closeScreen();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        key = 0;
        if (QWidget *next = nextControl(QApplication::focusWidget()))
            next->setFocus(Qt::TabFocusReason);
        break;
    }
    case Qt::Key_F1:
        key = 0;
        showScreenHelp();
        break;
    default:
        break;
    }
}

QWidget *TfrmPadrImportExport::nextControl(QWidget *from) const
{
    // Round within the screen: the focus chain of the main window runs through every child window
    // and the host's own widgets.
    if (!from || !isAncestorOf(from))
        from = const_cast<TfrmPadrImportExport *>(this);
    for (QWidget *w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
        if (isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled())
            return w;
    }
    return nullptr;
}

void TfrmPadrImportExport::closeEvent(QCloseEvent *event)
{
    // As for any MDI child, a close without a handler's word minimises.
    CloseAction action = CloseAction::Minimize;
    if (!runAction([&] { FormClose(this, action); }))
        action = CloseAction::None;
    switch (action) {
    case CloseAction::None:
        event->ignore();
        break;
    case CloseAction::Minimize:
        event->ignore();
        if (m_subWindow)
            m_subWindow->showMinimized();
        break;
    case CloseAction::Hide:
        event->accept();
        break;
    case CloseAction::Free:
        event->accept();
        if (m_subWindow)
            m_subWindow->deleteLater();
        else
            deleteLater();
        break;
    }
}

bool TfrmPadrImportExport::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    // A key event travels from the focused control up through its parents and passes this filter
    // at every step; the screen looks at it once, when it reaches the focused control.
    auto *w = static_cast<QWidget *>(watched);
    if (w != QApplication::focusWidget() || (w != this && !isAncestorOf(w)))
        return false;
    auto *ke = static_cast<QKeyEvent *>(event);
    int key = ke->key();
    const bool done = runAction([&] { FormKeyDown(this, key, ke->modifiers()); });
    // A handled key (set to 0) goes no further; nor does one whose handling was abandoned.
    return !done || key == 0;
}

void TfrmPadrImportExport::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    arrange();
}

void TfrmPadrImportExport::arrange()
{
    // Side panel on the right, progress panel along the bottom, the data group in the rest: at
    // the screen's own size the group is 497 x 305.
    constexpr int menuWidth = 55;
    constexpr int progressHeight = 32;
    const int w = width();
    const int h = height();
    const int top = h - progressHeight;
    grbDadosRel->setGeometry(0, 0, w - menuWidth, top);
    panMenu->setGeometry(w - menuWidth, 0, menuWidth, top);
    panBotoes->setGeometry(1, 1, menuWidth - 2, 76);
    panHelp->setGeometry(1, top - 33, menuWidth - 2, 32);
    panProgresso->setGeometry(0, top, w, progressHeight);
    lblCodTela->setGeometry(6, 8, 50, 16);
    pgbProgresso->setGeometry(60, 8, 180, 16);
    m_lblStatus->setGeometry(248, 8, qMax(0, w - 254), 16);
}
