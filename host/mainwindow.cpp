#include "mainwindow.h"

#include "ambiente.h"
#include "historywindow.h"
#include "messages.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QUrl>
#include <QtGlobal>

QIcon MainWindow::hostIcon()
{
    // A white plate on the system's green, drawn at the sizes title bars and task bars ask for.
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal u = size / 16.0;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2e, 0x7d, 0x32));
        p.drawRoundedRect(QRectF(0.5 * u, 0.5 * u, 15 * u, 15 * u), 3 * u, 3 * u);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(2.5 * u, 2.5 * u, 11 * u, 11 * u));
        p.setPen(QPen(QColor(0x9e, 0x9e, 0x9e), 0.8 * u));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(4.5 * u, 4.5 * u, 7 * u, 7 * u));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), m_mdiArea(new QMdiArea(this))
{
    setWindowTitle(QStringLiteral("Sistema de Gestão - Alimentação"));
    setWindowIcon(hostIcon());
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdiArea);

    QMenu *arquivo = menuBar()->addMenu(QStringLiteral("&Arquivo"));
    arquivo->addAction(QStringLiteral("&Sair"), QKeySequence::Quit, this, &QWidget::close);

    QMenu *importacao = menuBar()->addMenu(QStringLiteral("&Importação"));
    QAction *prato = importacao->addAction(QStringLiteral("Importação de &Prato"), this,
                                           &MainWindow::openImportacaoPrato);
    prato->setObjectName(QStringLiteral("actImportacaoPrato"));
    QAction *historico = importacao->addAction(Msg(QStringLiteral("Hist_Titulo")), this, &MainWindow::openHistory);
    historico->setObjectName(QStringLiteral("actHistoricoImportacoes"));

    QMenu *exportacao = menuBar()->addMenu(QStringLiteral("&Exportação"));
    QAction *exportaPrato = exportacao->addAction(QStringLiteral("Exportação de P&rato"), this,
                                                  &MainWindow::openExportacaoPrato);
    exportaPrato->setObjectName(QStringLiteral("actExportacaoPrato"));

    QMenu *janela = menuBar()->addMenu(QStringLiteral("&Janela"));
    janela->addAction(QStringLiteral("&Nova anotação"), this, &MainWindow::newNotes);
    janela->addSeparator();
    // A window that cannot be as small as its place in the arrangement keeps its own size and is
    // moved back inside the workspace, its right and bottom edges in sight.
    janela->addAction(QStringLiteral("&Cascata"), this, [this] {
        m_mdiArea->cascadeSubWindows();
        keepInside();
    });
    QAction *tile = janela->addAction(QStringLiteral("&Lado a lado"), this, [this] {
        m_mdiArea->tileSubWindows();
        keepInside();
    });
    tile->setObjectName(QStringLiteral("actLadoALado"));

    // Alt+J is the window menu's.
    QMenu *ajuda = menuBar()->addMenu(QStringLiteral("Aj&uda"));
    // F1 anywhere in the host: the screens' own key handling may be off (no file loaded yet), the
    // help is always there.
    QAction *screenHelp = ajuda->addAction(QStringLiteral("Ajuda da &tela"), QKeySequence::HelpContents, this,
                                           [this] {
                                               if (!showScreenHelp())
                                                   QMessageBox::information(this, windowTitle(),
                                                                            Msg(QStringLiteral("Ajuda_Sem_Tela")));
                                           });
    screenHelp->setObjectName(QStringLiteral("actAjudaTela"));
    ajuda->addAction(QStringLiteral("&Pacotes carregados"), this, &MainWindow::showPackageInfo);
    ajuda->addSeparator();
    QAction *about = ajuda->addAction(QStringLiteral("&Sobre"), this, &MainWindow::showAbout);
    about->setObjectName(QStringLiteral("actSobre"));

    const Ambiente &amb = Ambiente::instance();
    const QString where = amb.WebURL.isEmpty() ? QStringLiteral("servidor embutido")
                                               : QStringLiteral("%1:%2").arg(amb.WebURL).arg(amb.WebPort);
    statusBar()->addPermanentWidget(new QLabel(
        QStringLiteral("Operador %1 · Filial %2 %3 · %4").arg(amb.Operador, amb.FiliProc, amb.NomeFiliProc, where)));
    resize(1024, 680);
}

MainWindow::~MainWindow() = default;

ImpPackageHost MainWindow::packageHost()
{
    ImpPackageHost host{};
    host.structSize = sizeof(ImpPackageHost);
    host.application = qobject_cast<QApplication *>(QCoreApplication::instance());
    host.mainWindow = this;
    host.mdiArea = m_mdiArea;
    host.ambiente = &Ambiente::instance();
    return host;
}

void MainWindow::openImportacaoPrato()
{
    if (!m_package.iniProc(packageHost()))
        QMessageBox::critical(this, windowTitle(), m_package.error());
}

void MainWindow::openExportacaoPrato()
{
    if (!m_package.iniProcExportacao(packageHost()))
        QMessageBox::critical(this, windowTitle(), m_package.error());
}

HistoryWindow *MainWindow::openHistory()
{
    for (QMdiSubWindow *sub : m_mdiArea->subWindowList()) {
        if (auto *open = qobject_cast<HistoryWindow *>(sub->widget())) {
            open->refresh();
            m_mdiArea->setActiveSubWindow(sub);
            return open;
        }
    }
    auto *history = new HistoryWindow;
    history->setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow *sub = m_mdiArea->addSubWindow(history);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(windowIcon());
    sub->show();
    placeInside(sub, QSize(980, 380));
    return history;
}

void MainWindow::newNotes()
{
    auto *notes = new QPlainTextEdit;
    notes->setAttribute(Qt::WA_DeleteOnClose);
    notes->setWindowTitle(QStringLiteral("Anotações %1").arg(++m_notes));
    QMdiSubWindow *sub = m_mdiArea->addSubWindow(notes);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(windowIcon());
    sub->show();
    placeInside(sub, QSize(320, 220));
}

void MainWindow::keepInside()
{
    const QRect room = m_mdiArea->viewport()->rect();
    QList<QMdiSubWindow *> shown;
    for (QMdiSubWindow *sub : m_mdiArea->subWindowList()) {
        if (!sub->isMinimized() && !sub->isMaximized())
            shown << sub;
    }
    for (QMdiSubWindow *moved : shown) {
        const QRect at = moved->geometry();
        const QPoint inside(qBound(0, at.x(), qMax(0, room.width() - at.width())),
                            qBound(0, at.y(), qMax(0, room.height() - at.height())));
        if (inside == at.topLeft())
            continue;
        moved->move(inside);
        // The neighbour it now covers gives way, as far as its own smallest size lets it.
        for (QMdiSubWindow *other : shown) {
            const QRect o = other->geometry();
            if (other == moved || !o.intersects(moved->geometry()))
                continue;
            const QSize least = other->minimumSizeHint();
            if (o.x() < inside.x() && inside.x() - o.x() >= least.width())
                other->resize(inside.x() - o.x(), o.height());
            else if (o.y() < inside.y() && inside.y() - o.y() >= least.height())
                other->resize(o.width(), inside.y() - o.y());
        }
    }
}

void MainWindow::placeInside(QMdiSubWindow *sub, QSize wanted)
{
    // The size it asks for, no larger than the workspace, and moved in from where the area put it
    // so that no edge (the bottom with the window's last rows) is out of sight.
    const QRect room = m_mdiArea->viewport()->rect();
    sub->resize(wanted.boundedTo(room.size()).expandedTo(sub->minimumSizeHint().boundedTo(room.size())));
    const QRect at = sub->geometry();
    sub->move(qBound(0, at.x(), qMax(0, room.width() - at.width())), qBound(0, at.y(), qMax(0, room.height() - at.height())));
}

bool MainWindow::showScreenHelp()
{
    // The screens come from the package; the host knows them only by the help entry every base
    // screen offers.
    QMdiSubWindow *sub = m_mdiArea->activeSubWindow();
    QWidget *screen = sub ? sub->widget() : nullptr;
    if (!screen || screen->metaObject()->indexOfMethod("showScreenHelp()") < 0)
        return false;
    return QMetaObject::invokeMethod(screen, "showScreenHelp");
}

namespace {

// A database address without its password.
QString withoutPassword(const QString &url)
{
    if (!url.contains(QStringLiteral("://")))
        return url;
    QUrl u(url);
    if (!u.isValid())
        return url;
    if (!u.password().isEmpty())
        u.setPassword(QStringLiteral("***"));
    return u.toString();
}

// The day this program was built. The compiler gives it in English ("Dec  8 2026"); the operator
// reads it in his own locale.
QDate buildDate()
{
    return QLocale::c().toDate(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
}

} // namespace

QString MainWindow::aboutText() const
{
    const Ambiente &amb = Ambiente::instance();
    QString text = QStringLiteral("Sistema de Gestão - Alimentação\n\n");
    if (const ImpPackageInfo *info = m_package.info())
        text += QStringLiteral("Importação de Prato (%1), versão %2\n")
                    .arg(QString::fromLatin1(info->packageName), QString::fromLatin1(info->fileVersion));
    text += QStringLiteral("Aplicação imp40500-host, versão %1, de %2\n")
                .arg(QCoreApplication::applicationVersion(), QLocale().toString(buildDate(), QLocale::ShortFormat));
    text += QStringLiteral("Biblioteca Qt %1 (em uso %2)\n").arg(QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()));
    text += QStringLiteral("\nBanco de dados: %1\n")
                .arg(amb.databaseUrl.isEmpty() ? QStringLiteral("(nenhum)") : withoutPassword(amb.databaseUrl));
    text += QStringLiteral("Servidor de aplicação: %1\n")
                .arg(amb.WebURL.isEmpty() ? QStringLiteral("embutido, neste processo")
                                          : QStringLiteral("%1:%2").arg(amb.WebURL).arg(amb.WebPort));
    text += QStringLiteral("Operador %1, filial %2 %3").arg(amb.Operador, amb.FiliProc, amb.NomeFiliProc);
    return text.trimmed();
}

void MainWindow::showAbout()
{
    QMessageBox::about(this, QStringLiteral("Sobre"), aboutText());
}

void MainWindow::showPackageInfo()
{
    const ImpPackageInfo *info = m_package.info();
    if (!info) {
        QMessageBox::information(this, windowTitle(), QStringLiteral("Nenhum pacote carregado."));
        return;
    }
    QString text = QStringLiteral("%1 %2 (%3.%4.%5.%6), idioma 0x%7, página de código %8\n")
                       .arg(QString::fromLatin1(info->packageName), QString::fromLatin1(info->fileVersion))
                       .arg(info->versionNumbers[0]).arg(info->versionNumbers[1])
                       .arg(info->versionNumbers[2]).arg(info->versionNumbers[3])
                       .arg(info->language, 4, 16, QLatin1Char('0')).arg(info->codePage);
    text += QStringLiteral("\nUnidades:\n");
    for (int i = 0; i < info->unitCount; ++i)
        text += QStringLiteral("  %1\n").arg(QString::fromLatin1(info->units[i].name));
    text += QStringLiteral("\nPacotes requeridos:\n");
    for (int i = 0; i < info->requiresCount; ++i)
        text += QStringLiteral("  %1 — %2\n").arg(QString::fromLatin1(info->requiredPackages[i].name),
                                                 QString::fromUtf8(info->requiredPackages[i].providedBy));
    text += QStringLiteral("\n%1").arg(m_package.fileName());
    QMessageBox::information(this, windowTitle(), text);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Every screen has its say (a screen loading a file refuses); the host stays while one does.
    m_mdiArea->closeAllSubWindows();
    if (!m_mdiArea->subWindowList().isEmpty()) {
        event->ignore();
        return;
    }
    m_package.finalize();
    event->accept();
}
