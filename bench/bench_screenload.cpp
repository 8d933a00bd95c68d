// The load pass as the screen runs it: the export file of imp40500-gen loaded through
// panFiltroExit on the real screen (offscreen), with its grids, progress bar and repaints, beside
// the same pass without a screen; then the same load cancelled by Escape halfway, timed from the
// operator's "yes" to the end of the failed load (target: 100 ms at most).
// Usage: bench_screenload FILE DB_URL [BRANCH]
#include "frmimpoprato.h"
#include "destinationreader.h"
#include "dialogs.h"
#include "embedded.h"
#include "scripteddialogs.h"
#include "screenhost.h"

#include "ambiente.h"
#include "database.h"
#include "importsession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QTimer>
#include <QKeyEvent>
#include <cstdio>

// One long main on purpose: the screen is driven step by step as an operator would, each step timed
// where it stands.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "uso: bench_screenload ARQUIVO URL_DO_BANCO [FILIAL]\n");
        return 1;
    }
    const QString file = args.at(1);
    const QString branch = args.size() > 3 ? args.at(3) : QStringLiteral("0001");
    Ambiente &amb = Ambiente::instance();
    Database::useDestination(amb, args.at(2));
    amb.Operador = QStringLiteral("ADMIN");
    amb.FiliProc = branch;
    amb.locale = QLocale(QLocale::Portuguese, QLocale::Brazil);
    registerEmbeddedServer();

    // Without a screen.
    double bare = 0;
    {
        NetConnection net;
        ImportSession session(net);
        session.NmArquivo = file;
        session.CdFilial = branch;
        QElapsedTimer t;
        t.start();
        if (const Status loaded = session.Grava_Tabelas(); !loaded) {
            std::fprintf(stderr, "%s\n", qPrintable(loaded.error()));
            return 1;
        }
        bare = t.nsecsElapsed() / 1e9;
        std::printf("load pass without a screen  %.2f s (%d dishes)\n", bare, session.cdsPrato.rowCount());
    }

    ScriptedDialogs dialogs;
    setDialogs(&dialogs);
    installMessageBoxes();
    QMainWindow main;
    auto *area = new QMdiArea(&main);
    main.setCentralWidget(area);
    main.resize(1000, 640);
    main.show();
    setScreenHost(&main, area);
    IniProc();
    if (!frmImpoPrato) {
        std::fprintf(stderr, "a tela não abriu: %s\n", qPrintable(dialogs.errors.join(u'/')));
        return 1;
    }
    app.processEvents();
    frmImpoPrato->medNmArquivo->setText(file);
    frmImpoPrato->medCdFilial->setText(branch);
    QElapsedTimer t;
    t.start();
    frmImpoPrato->panFiltroExit(nullptr);
    const double screen = t.nsecsElapsed() / 1e9;
    app.processEvents();
    std::printf("load pass on the screen     %.2f s (%d dishes; import button %s)\n", screen,
                frmImpoPrato->document().cdsPrato.rowCount(), frmImpoPrato->sbtImportExport->isEnabled() ? "on" : "off");
    std::printf("screen / without            %.2f\n", bare > 0 ? screen / bare : 0.0);
    if (!dialogs.errors.isEmpty())
        std::printf("messages: %s\n", qPrintable(dialogs.errors.join(u'/')));

    // Escape halfway through the same load, answered yes.
    QElapsedTimer sinceKey, sinceYes;
    qint64 keyToQuestion = -1;
    dialogs.questionAnswers = {true};
    dialogs.afterQuestion = [&](bool) {
        keyToQuestion = sinceKey.nsecsElapsed();
        sinceYes.start();
    };
    QTimer::singleShot(int(screen * 500), frmImpoPrato, [&] {
        // Delivered as the operator's key: it waits in the queue until the pass lets events in.
        sinceKey.start();
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : frmImpoPrato;
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    });
    frmImpoPrato->panFiltroEnter(nullptr);
    try {
        frmImpoPrato->panFiltroExit(nullptr);
    } catch (const std::exception &) {
    }
    const qint64 yesToEnd = sinceYes.isValid() ? sinceYes.nsecsElapsed() : -1;
    std::printf("cancelled halfway           %s after %d data lines; Escape to question %.1f ms, yes to "
                "failed load %.1f ms (target <= 100 ms)\n",
                frmImpoPrato->screenState() == TfrmImpoPrato::ScreenState::LoadFailed ? "ended" : "NOT ended",
                frmImpoPrato->session().stats().dataLines, keyToQuestion / 1e6, yesToEnd / 1e6);
    return 0;
}
