// The load pass as the screen runs it: the export file of imp40500-gen loaded through
// panFiltroExit on the real screen (offscreen), with its grids, progress bar and repaints, beside
// the same pass without a screen, RUNS times each, alternating (wall and CPU time, minimum and
// median); then the same load cancelled by Escape halfway, timed from the operator's "yes" to the
// end of the failed load (target: 100 ms at most).
// With --import: one load on the screen and then its import (the import button, the operator
// answering yes), the process's peak resident size against the file's size after each (target:
// 4 times the file at most); with --bare as well, the same load and import without a screen. The
// destination is written: give it a copy.
// Usage: bench_screenload FILE DB_URL [BRANCH] [--runs N] [--import [--bare]]
#include "frmimpoprato.h"
#include "destinationreader.h"
#include "dialogs.h"
#include "embedded.h"
#include "scripteddialogs.h"
#include "screenhost.h"

#include "ambiente.h"
#include "database.h"
#include "importpreview.h"
#include "importrun.h"
#include "importsession.h"
#include "memtablemodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QTimer>
#include <QKeyEvent>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

// Wall and CPU (user + system, every thread of the process) seconds of one step.
struct Clock {
    QElapsedTimer wall;
    double cpu0 = 0;
    static double cpuNow()
    {
        struct rusage ru {};
        getrusage(RUSAGE_SELF, &ru);
        return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    }
    Clock()
    {
        cpu0 = cpuNow();
        wall.start();
    }
    double seconds() const { return double(wall.nsecsElapsed()) / 1e9; }
    double cpu() const { return cpuNow() - cpu0; }
};

double peakMiB()
{
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_maxrss) / 1024.0;
}

QString minMedian(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return QStringLiteral("min %1 median %2").arg(v.front(), 0, 'f', 3).arg(v[v.size() / 2], 0, 'f', 3);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The load pass without a screen, into `session`.
bool bareLoad(ImportSession &session, const QString &file, const QString &branch)
{
    session.NmArquivo = file;
    session.CdFilial = branch;
    if (const Status loaded = session.Grava_Tabelas(); !loaded) {
        std::fprintf(stderr, "%s\n", qPrintable(loaded.error()));
        return false;
    }
    return true;
}

// --import --bare: the load and the import without a screen.
int importWithoutScreen(const QString &file, const QString &branch, double fileMiB)
{
    NetConnection net;
    ImportSession session(net);
    const Clock load;
    if (!bareLoad(session, file, branch))
        return 1;
    std::printf("load without a screen       %.2f s (CPU %.2f s), peak %.1f MiB = %.2f x the file\n", load.seconds(),
                load.cpu(), peakMiB(), peakMiB() / fileMiB);
    const Clock import;
    const Result<ImportOutcome> done = ImportRun(session).run();
    if (!done) {
        std::fprintf(stderr, "%s\n", qPrintable(done.error()));
        return 1;
    }
    std::printf("import without a screen     %.2f s (CPU %.2f s), peak %.1f MiB = %.2f x the file\n", import.seconds(),
                import.cpu(), peakMiB(), peakMiB() / fileMiB);
    return 0;
}

// --import: the screen's load, then its import button.
int importOnScreen(const ScriptedDialogs &dialogs, double fileMiB)
{
    const Clock screen;
    frmImpoPrato->panFiltroExit(nullptr);
    QCoreApplication::processEvents();
    std::printf("load on the screen          %.2f s (CPU %.2f s; %d dishes), peak %.1f MiB = %.2f x the file\n",
                screen.seconds(), screen.cpu(), frmImpoPrato->document().cdsPrato.rowCount(), peakMiB(),
                peakMiB() / fileMiB);
    const Clock import;
    frmImpoPrato->sbtImportExportClick(nullptr);
    QCoreApplication::processEvents();
    std::printf("import on the screen        %.2f s (CPU %.2f s), peak %.1f MiB = %.2f x the file\n", import.seconds(),
                import.cpu(), peakMiB(), peakMiB() / fileMiB);
    std::printf("after it: %d dishes shown, state %s; messages: %s\n", frmImpoPrato->dtsPrato->rowCount(),
                frmImpoPrato->screenState() == TfrmImpoPrato::ScreenState::Imported ? "imported" : "NOT imported",
                qPrintable((dialogs.errors + dialogs.infos).join(u'/').left(300)));
    return 0;
}

// Rounds of the load without a screen and on it, alternating on a shared machine. The screen's load
// ends with the preview of what the import would change (the status line), which `imp40500 check`
// makes too: timed apart on the side without a screen. Returns the screen's median, or -1.
double loadRounds(const ScriptedDialogs &dialogs, const QString &file, const QString &branch, int runs)
{
    std::vector<double> bareWall, bareCpu, previewWall, previewCpu, screenWall, screenCpu;
    for (int round = 0; round < runs; ++round) {
        {
            NetConnection net;
            ImportSession session(net);
            const Clock bare;
            if (!bareLoad(session, file, branch))
                return -1;
            bareWall.push_back(bare.seconds());
            bareCpu.push_back(bare.cpu());
            const Clock preview;
            if (!ImportPreview::ask(session))
                return -1;
            previewWall.push_back(bareWall.back() + preview.seconds());
            previewCpu.push_back(bareCpu.back() + preview.cpu());
        }
        if (round > 0)
            frmImpoPrato->panFiltroEnter(nullptr);
        const Clock screen;
        frmImpoPrato->panFiltroExit(nullptr);
        screenWall.push_back(screen.seconds());
        screenCpu.push_back(screen.cpu());
        QCoreApplication::processEvents();
        std::printf("round %d: without a screen %.3f s (CPU %.3f s), on the screen %.3f s (CPU %.3f s): %.2f, CPU %.2f\n",
                    round + 1, bareWall.back(), bareCpu.back(), screenWall.back(), screenCpu.back(),
                    screenWall.back() / bareWall.back(), screenCpu.back() / bareCpu.back());
    }
    std::printf("without a screen            wall %s, CPU %s\n", qPrintable(minMedian(bareWall)), qPrintable(minMedian(bareCpu)));
    std::printf("the same and the preview    wall %s, CPU %s\n", qPrintable(minMedian(previewWall)),
                qPrintable(minMedian(previewCpu)));
    std::printf("on the screen               wall %s, CPU %s (%d dishes; import button %s)\n",
                qPrintable(minMedian(screenWall)), qPrintable(minMedian(screenCpu)),
                frmImpoPrato->document().cdsPrato.rowCount(), frmImpoPrato->sbtImportExport->isEnabled() ? "on" : "off");
    std::printf("screen / without (medians)  wall %.2f, CPU %.2f; with the preview on both sides wall %.2f, CPU %.2f\n",
                median(screenWall) / median(bareWall), median(screenCpu) / median(bareCpu),
                median(screenWall) / median(previewWall), median(screenCpu) / median(previewCpu));
    if (!dialogs.errors.isEmpty())
        std::printf("messages: %s\n", qPrintable(dialogs.errors.join(u'/')));
    return median(screenWall);
}

// Escape halfway through the same load, answered yes.
void cancelHalfway(ScriptedDialogs &dialogs, double screen)
{
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
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    const bool importing = args.removeAll(QStringLiteral("--import")) > 0;
    const bool bareImport = args.removeAll(QStringLiteral("--bare")) > 0;
    int runs = 1;
    if (const qsizetype r = args.indexOf(QStringLiteral("--runs")); r > 0 && r + 1 < args.size()) {
        runs = qMax(1, args.at(r + 1).toInt());
        args.remove(r, 2);
    }
    if (args.size() < 3) {
        std::fprintf(stderr, "uso: bench_screenload ARQUIVO URL_DO_BANCO [FILIAL] [--runs N] [--import [--bare]]\n");
        return 1;
    }
    const QString file = args.at(1);
    const QString branch = args.size() > 3 ? args.at(3) : QStringLiteral("0001");
    const double fileMiB = double(QFileInfo(file).size()) / 1048576.0;
    Ambiente &amb = Ambiente::instance();
    Database::useDestination(amb, args.at(2));
    amb.Operador = QStringLiteral("ADMIN");
    amb.FiliProc = branch;
    amb.locale = QLocale(QLocale::Portuguese, QLocale::Brazil);
    registerEmbeddedServer();
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    const QByteArray load = loadavg.open(QIODevice::ReadOnly) ? loadavg.readLine(15).trimmed() : QByteArray();
    std::printf("file %.1f MiB; load average %s\n", fileMiB, load.constData());
    if (importing && bareImport)
        return importWithoutScreen(file, branch, fileMiB);

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
    if (importing)
        return importOnScreen(dialogs, fileMiB);
    const double screen = loadRounds(dialogs, file, branch, runs);
    if (screen < 0)
        return 1;
    cancelHalfway(dialogs, screen);
    return 0;
}
