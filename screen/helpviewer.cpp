#include "helpviewer.h"
#include "messages.h"
#include "screenhost.h"

#include <QAction>
#include <QFile>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QStyle>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

// Outside any namespace: the resource's initialiser is a global function. The help is linked in
// from a static library, and a resource that nothing names would be left out of the program.
static void initHelpResources()
{
    Q_INIT_RESOURCE(screenhelp);
}

namespace {

QPointer<HelpViewer> g_viewer;

QToolButton *toolButton(QWidget *parent, const QString &objectName, const QString &text,
                        QStyle::StandardPixmap icon, const QString &hint)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(objectName);
    b->setText(text);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    return b;
}

} // namespace

HelpViewer::HelpViewer(QWidget *parent) : QWidget(parent, Qt::Window)
{
    initHelpResources();
    setObjectName(QStringLiteral("HelpViewer"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_back = toolButton(this, QStringLiteral("btnVoltar"), QStringLiteral("Voltar"), QStyle::SP_ArrowBack,
                        QStringLiteral("Voltar (Alt+Esquerda)"));
    m_forward = toolButton(this, QStringLiteral("btnAvancar"), QStringLiteral("Avançar"), QStyle::SP_ArrowForward,
                           QStringLiteral("Avançar (Alt+Direita)"));
    m_home = toolButton(this, QStringLiteral("btnInicio"), QStringLiteral("Início"), QStyle::SP_DirHomeIcon,
                        QStringLiteral("Início da página"));
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("edtProcurar"));
    m_search->setPlaceholderText(QStringLiteral("Procurar na página (Ctrl+F)"));
    m_search->setClearButtonEnabled(true);
    auto *previous = toolButton(this, QStringLiteral("btnAnterior"), QString(), QStyle::SP_ArrowUp,
                                QStringLiteral("Ocorrência anterior (Shift+F3)"));
    auto *next = toolButton(this, QStringLiteral("btnProxima"), QString(), QStyle::SP_ArrowDown,
                            QStringLiteral("Próxima ocorrência (F3)"));
    m_found = new QLabel(this);
    m_found->setObjectName(QStringLiteral("lblProcura"));

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("txtAjuda"));
    // Links leave for nowhere: the help is read inside the program only.
    m_browser->setOpenExternalLinks(false);
    m_browser->setOpenLinks(true);

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(4, 4, 4, 0);
    bar->addWidget(m_back);
    bar->addWidget(m_forward);
    bar->addWidget(m_home);
    bar->addSpacing(12);
    bar->addWidget(m_search, 1);
    bar->addWidget(previous);
    bar->addWidget(next);
    bar->addWidget(m_found);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(m_browser, 1);

    connect(m_back, &QToolButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QToolButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_home, &QToolButton::clicked, this, [this] {
        m_browser->moveCursor(QTextCursor::Start);
        m_browser->ensureCursorVisible();
    });
    connect(m_browser, &QTextBrowser::historyChanged, this, &HelpViewer::updateButtons);
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this](const QUrl &url) {
        m_section = url.fragment();
        m_found->clear();
    });
    connect(m_search, &QLineEdit::returnPressed, this, [this] { findInPage(m_search->text()); });
    connect(m_search, &QLineEdit::textChanged, m_found, &QLabel::clear);
    connect(next, &QToolButton::clicked, this, [this] { findInPage(m_search->text()); });
    connect(previous, &QToolButton::clicked, this, [this] { findInPage(m_search->text(), true); });

    addShortcuts();

    // Wide enough for the pictures (the screen at its own size) without a sideways scroll.
    resize(760, 600);
    updateButtons();
}

HelpViewer *HelpViewer::current()
{
    return g_viewer;
}

HelpViewer *HelpViewer::open(const QString &helpFile, int helpContext, const QStringList &fields)
{
    if (!g_viewer)
        g_viewer = new HelpViewer(screenHost().mainWindow.data());
    g_viewer->show(helpFile, helpContext, fields);
    return g_viewer;
}

QUrl HelpViewer::pageOf(int helpContext)
{
    initHelpResources();
    const QString path = QStringLiteral(":/help/%1.html").arg(helpContext);
    if (!QFile::exists(path))
        return QUrl();
    return QUrl(QStringLiteral("qrc") + path);
}

QStringList HelpViewer::anchors() const
{
    QStringList names;
    const QTextDocument *doc = m_browser->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            if (f.isAnchor())
                names += f.anchorNames();
        }
    }
    return names;
}

void HelpViewer::show(const QString &helpFile, int helpContext, const QStringList &fields)
{
    const QUrl page = pageOf(helpContext);
    if (page.isEmpty()) {
        // A screen whose help was not written yet: say which topic was asked for, so the help
        // desk can find it.
        m_browser->setHtml(QStringLiteral("<h2>%1</h2>")
                               .arg(Msg(QStringLiteral("Ajuda_Sem_Topico")).arg(helpFile).arg(helpContext)
                                        .toHtmlEscaped()));
        m_section.clear();
    } else {
        QUrl base = page;
        base.setFragment(QString());
        QUrl shown = m_browser->source();
        shown.setFragment(QString());
        if (shown != base)
            m_browser->setSource(base);
        const QStringList names = anchors();
        QString target;
        for (const QString &f : fields) {
            if (names.contains(f)) {
                target = f;
                break;
            }
        }
        QUrl at = base;
        if (!target.isEmpty())
            at.setFragment(target);
        if (at != m_browser->source())
            m_browser->setSource(at);
        m_section = target;
        if (target.isEmpty()) {
            m_browser->moveCursor(QTextCursor::Start);
            m_browser->ensureCursorVisible();
        }
    }
    setWindowTitle(QStringLiteral("Ajuda - %1").arg(m_browser->documentTitle()));
    QWidget::show();
    raise();
    activateWindow();
    // Shown now: the scroll to the section needs the laid-out page.
    if (!m_section.isEmpty())
        m_browser->scrollToAnchor(m_section);
}

bool HelpViewer::findInPage(const QString &text, bool backward)
{
    m_found->clear();
    if (text.isEmpty())
        return false;
    const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (m_browser->find(text, flags))
        return true;
    // Round once from the other end of the page.
    const QTextCursor keep = m_browser->textCursor();
    m_browser->moveCursor(backward ? QTextCursor::End : QTextCursor::Start);
    if (m_browser->find(text, flags))
        return true;
    m_browser->setTextCursor(keep);
    m_found->setText(Msg(QStringLiteral("Ajuda_N_Encontrado")));
    return false;
}

// Ctrl+F to the search field, F3 and Shift+F3 through the page, Escape closes the window.
void HelpViewer::addShortcuts()
{
    auto *focusSearch = new QAction(this);
    focusSearch->setShortcut(QKeySequence::Find);
    connect(focusSearch, &QAction::triggered, this, [this] {
        m_search->setFocus(Qt::ShortcutFocusReason);
        m_search->selectAll();
    });
    auto *findNext = new QAction(this);
    findNext->setShortcut(QKeySequence::FindNext);
    connect(findNext, &QAction::triggered, this, [this] { findInPage(m_search->text()); });
    auto *findPrevious = new QAction(this);
    findPrevious->setShortcut(QKeySequence::FindPrevious);
    connect(findPrevious, &QAction::triggered, this, [this] { findInPage(m_search->text(), true); });
    auto *closeHelp = new QAction(this);
    closeHelp->setShortcut(Qt::Key_Escape);
    connect(closeHelp, &QAction::triggered, this, &QWidget::close);
    addActions({focusSearch, findNext, findPrevious, closeHelp});
}

void HelpViewer::updateButtons()
{
    m_back->setEnabled(m_browser->isBackwardAvailable());
    m_forward->setEnabled(m_browser->isForwardAvailable());
}
