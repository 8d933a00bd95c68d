// The operator's actions of tst_screen_model, each made at random by the sequence's generator.
#include "screenmodel.h"

#include "serverprocess.h"
#include "servicegrid.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

Action ScreenModelTest::generate(std::mt19937 &rng)
{
    const Pick pick = [&rng](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
    // Leaving the panel for the grids weighs more than the rest, so that sequences spend their
    // actions on loads rather than in the panel.
    // With the error panel open the operator mostly acts on it: a key, its close button, or a click
    // elsewhere (a field of the parameter panel, the dish grid), which closes it.
    int kind = pick(39);
    if (f()->panErro->isVisible()) {
        static const int onPanel[] = {10, 10, 10, 15, 0, 1, 5};
        kind = onPanel[pick(7)];
    } else if (pick(100) == 0)
        kind = 40; // Qt's file dialog, slow to list a folder: seldom
    else if (pick(150) == 0)
        kind = 41; // another program's import, a process of its own: seldom
    else if (kind >= 36)
        kind = kind == 36 ? 24 : kind == 37 ? 25 : 10; // Recarregar, closing, the keys
    else if (kind >= 24)
        kind = kind < 28 ? 22 : kind < 30 ? 8 : kind == 30 ? 6 : kind == 31 ? 7 : 13;
    if (kind <= 4 || kind == 21)
        return panelAction(kind, pick);
    if (kind <= 9)
        return gridAction(kind, pick);
    if ((kind >= 12 && kind <= 15) || kind == 22)
        return reviewAction(kind, pick);
    if (kind <= 11 || kind == 24 || kind == 25)
        return keyAction(kind, pick);
    if (kind >= 16 && kind <= 20)
        return windowAction(kind, pick);
    return outsideAction(kind);
}

// The parameter panel: its fields and lookup buttons, typed into or clicked.
Action ScreenModelTest::panelAction(int kind, const Pick &pick)
{
    ScriptedDialogs *dlg = m_fx->dialogs;
    Action a;
    switch (kind) {
    case 0:
        a = {QStringLiteral("click file field"), Reach::Panel, false,
             [this] { click(f()->medNmArquivo); }};
        break;
    case 1:
        a = {QStringLiteral("click branch field"), Reach::Panel, false,
             [this] { click(f()->medCdFilial); }};
        break;
    case 2: {
        const int k = pick(m_files.size() + 2);
        const QString answer = k < m_files.size() ? m_files[k]
                               : k == m_files.size() ? m_fx->dir.filePath(QStringLiteral("nao-existe.txt"))
                                                     : QString();
        a = {QStringLiteral("file button, answer %1").arg(answer.isEmpty() ? QStringLiteral("cancel") : QFileInfo(answer).fileName()),
             Reach::Panel, false, [this, dlg, answer] {
                 dlg->openFileAnswers = {answer};
                 click(f()->sbtArquivo);
             }};
        break;
    }
    case 3: {
        // The list holds 0001, 0002, 0003 (rescinded), 0005.
        const int row = pick(5) - 1;
        a = {QStringLiteral("branch button, answer %1").arg(row), Reach::Panel, false, [this, dlg, row] {
                 dlg->lookupAnswers = {row};
                 click(f()->sbtFilial);
             }};
        break;
    }
    case 4: {
        static const char *const texts[] = {"", "2", "0004", "12"};
        const QString t = QString::fromLatin1(texts[pick(4)]);
        a = {QStringLiteral("type branch \"%1\"").arg(t), Reach::Panel, false, [this, t] {
                 if (!f()->medCdFilial->isVisible())
                     return;
                 click(f()->medCdFilial);
                 // A click the screen refused (a map row it could not post) left the focus away.
                 if (QApplication::focusWidget() != f()->medCdFilial)
                     return;
                 f()->medCdFilial->selectAll();
                 QTest::keyClick(f()->medCdFilial, Qt::Key_Delete);
                 QTest::keyClicks(f()->medCdFilial, t);
             }};
        break;
    }
    case 21: {
        const int k = pick(3);
        a = {QStringLiteral("type file %1").arg(k), Reach::Panel, false, [this, k] {
                 const QString text = k == 0 ? QString() : k == 1 ? m_files.first() : m_fx->dir.filePath(QStringLiteral("x/y.txt"));
                 if (!f()->medNmArquivo->isVisible())
                     return;
                 click(f()->medNmArquivo);
                 if (QApplication::focusWidget() != f()->medNmArquivo)
                     return;
                 f()->medNmArquivo->selectAll();
                 QTest::keyClick(f()->medNmArquivo, Qt::Key_Delete);
                 QTest::keyClicks(f()->medNmArquivo, text);
             }};
        break;
    }
    default:
        break;
    }
    return a;
}

// The grids: clicks on the dishes, the tabs and the map's cells, typing in them.
Action ScreenModelTest::gridAction(int kind, const Pick &pick)
{
    Action a;
    switch (kind) {
    case 5: {
        const int row = pick(4);
        a = {QStringLiteral("click dish grid row %1").arg(row), Reach::Elsewhere, false, [this, row] {
                 QTableView *g = f()->dbgPrato;
                 const QPoint at = g->model()->rowCount() > row ? cellCentre(g, row, 1) : QPoint(40, 40);
                 click(g->viewport(), at);
             }};
        break;
    }
    case 6: {
        const int tab = pick(2);
        a = {QStringLiteral("click tab %1").arg(tab ? "Serviço" : "Prato"), Reach::Elsewhere, false, [this, tab] {
                 QTabBar *bar = f()->pgcPadrao->tabBar();
                 const int index = f()->pgcPadrao->indexOf(tab ? f()->tshPadrao : f()->tshPrato);
                 if (bar->isTabVisible(index))
                     click(bar, bar->tabRect(index).center());
             }};
        break;
    }
    case 7: {
        const int row = pick(3), col = pick(2);
        a = {QStringLiteral("click service cell %1,%2").arg(row).arg(col), Reach::Elsewhere, false, [this, row, col] {
                 TServiceGrid *g = f()->dbgPadrao;
                 if (!g->isVisible() || g->model()->rowCount() <= row)
                     return;
                 const int c = f()->dtsServico->columnOfField(col ? u"CDSERVFILIDEST" : u"CDSERVFILIORIG");
                 click(g->viewport(), cellCentre(g, row, c));
             }};
        break;
    }
    case 8: {
        // A destination typed into a row of the map, as the operator does it: the tab, the cell,
        // the code; the row stays in edit for the next action to settle.
        static const char *const codes[] = {"1", "2", "3", "4", "99"};
        const int row = pick(3);
        const QString code = QString::fromLatin1(codes[pick(5)]);
        a = {QStringLiteral("edit service row %1 with \"%2\"").arg(row).arg(code), Reach::Elsewhere, false, [this, row, code] {
                 QTabBar *bar = f()->pgcPadrao->tabBar();
                 const int index = f()->pgcPadrao->indexOf(f()->tshPadrao);
                 TServiceGrid *g = f()->dbgPadrao;
                 if (!bar->isVisible() || !bar->isTabVisible(index))
                     return;
                 click(bar, bar->tabRect(index).center());
                 if (!g->isVisible() || g->model()->rowCount() <= row)
                     return;
                 click(g->viewport(), cellCentre(g, row, f()->dtsServico->columnOfField(u"CDSERVFILIDEST")));
                 for (QChar c : code)
                     QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
             }};
        break;
    }
    case 9: {
        // Codes of the destination branch (00001 to 00004), one it lacks, and a blank.
        static const char *const codes[] = {"1", "2", "00003", "4", "99", " "};
        const QString code = QString::fromLatin1(codes[pick(6)]);
        a = {QStringLiteral("type \"%1\"").arg(code), Reach::Key, false, [code] {
                 // Each key to where the focus is then: the first one may open a cell's editor.
                 for (QChar c : code) {
                     QWidget *w = QApplication::focusWidget();
                     QTest::keyClick(w ? w : frmImpoPrato, c.toLatin1());
                 }
             }};
        break;
    }
    default:
        break;
    }
    return a;
}

// The review of the dishes: the error panel, the map's lookup, leaving the panel by a click.
Action ScreenModelTest::reviewAction(int kind, const Pick &pick)
{
    ScriptedDialogs *dlg = m_fx->dialogs;
    Action a;
    switch (kind) {
    case 12: {
        const int row = pick(6) - 1;
        a = {QStringLiteral("service cell button, answer %1").arg(row), Reach::Elsewhere, false, [this, dlg, row] {
                 if (!f()->dbgPadrao->isVisible())
                     return;
                 dlg->lookupAnswers = {row};
                 f()->dbgPadrao->dbgPadraoEditButtonClick();
             }};
        break;
    }
    case 13:
    case 14: {
        // The review of one dish: a click on its row, then the error button or a double click.
        const int row = pick(3);
        const bool dbl = kind == 14;
        a = {QStringLiteral("review dish row %1 by %2").arg(row).arg(dbl ? "double click" : "error button"),
             Reach::Elsewhere, false, [this, row, dbl] {
                 QTableView *g = f()->dbgPrato;
                 if (g->model()->rowCount() <= row)
                     return;
                 click(g->viewport(), cellCentre(g, row, 1));
                 if (dbl)
                     click(g->viewport(), cellCentre(g, row, 1), true);
                 else
                     click(f()->sbtErros);
             }};
        break;
    }
    case 15:
        a = {QStringLiteral("click error panel's close"), Reach::Elsewhere, false, [this] {
                 if (f()->ButtonFlat1->isVisible())
                     click(f()->ButtonFlat1);
             }};
        break;
    case 22:
        // Leaves the panel the way most operators do: a click on the dish grid.
        a = {QStringLiteral("click dish grid"), Reach::Elsewhere, false, [this] {
                 click(f()->dbgPrato->viewport(), QPoint(40, 40));
             }};
        break;
    default:
        break;
    }
    return a;
}

// The keys, the screen's own among them, Recarregar and closing the screen.
Action ScreenModelTest::keyAction(int kind, const Pick &pick)
{
    ScriptedDialogs *dlg = m_fx->dialogs;
    Action a;
    switch (kind) {
    case 10:
    case 11: {
        // The screen's own keys among them: F9 imports, F8 opens the error panel, F4 the lookup of
        // the field or cell (answered at random), Ctrl+PgDown and Ctrl+PgUp change the tab.
        static const Qt::Key keys[] = {Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Return, Qt::Key_Escape,
                                       Qt::Key_Insert, Qt::Key_Delete, Qt::Key_Down, Qt::Key_Up,
                                       Qt::Key_F9, Qt::Key_F8, Qt::Key_F4, Qt::Key_PageDown, Qt::Key_PageUp};
        static const char *const names[] = {"Tab", "Shift+Tab", "Enter", "Escape", "Insert", "Delete", "Down", "Up",
                                            "F9", "F8", "F4", "PgDown", "PgUp"};
        const int k = pick(13);
        const bool ctrl = (keys[k] == Qt::Key_Delete && pick(2)) || k >= 11;
        const Reach reach = k < 2 ? Reach::Tab : Reach::Key;
        const int lookupRow = pick(5) - 1;
        const QString file = m_files[pick(m_files.size())];
        a = {QStringLiteral("key %1%2").arg(ctrl ? "Ctrl+" : "", names[k]), reach, keys[k] == Qt::Key_F9,
             [k, ctrl, dlg, lookupRow, file] {
                 if (keys[k] == Qt::Key_F4) {
                     dlg->lookupAnswers = {lookupRow};
                     dlg->openFileAnswers = {file};
                 }
                 pressKey(keys[k], ctrl ? Qt::ControlModifier : Qt::NoModifier);
             }};
        break;
    }
    case 24: {
        // F5 where the focus is, or the grids' menu entry.
        const bool key = pick(2);
        a = {QStringLiteral("reload by %1").arg(key ? "F5" : "menu"), Reach::Reload, false, [this, key] {
                 if (key)
                     pressKey(Qt::Key_F5);
                 else
                     f()->actRecarregar->trigger();
             }};
        break;
    }
    case 25: {
        // Closing the screen four ways, the question about typed pairings answered either way.
        static const char *const ways[] = {"Sair", "the close box", "Escape", "Ctrl+F4"};
        const int way = pick(4);
        const bool yes = pick(2);
        a = {QStringLiteral("close by %1, answer %2").arg(ways[way], yes ? "Sim" : "Não"), Reach::Elsewhere, false,
             [this, dlg, way, yes] {
                 dlg->questionAnswers = {yes};
                 switch (way) {
                 case 0: click(f()->sbtCancel); break;
                 case 1: f()->subWindow()->close(); break;
                 case 2: pressKey(Qt::Key_Escape); break;
                 default: pressKey(Qt::Key_F4, Qt::ControlModifier); break;
                 }
                 dlg->questionAnswers.clear();
             }};
        a.closeAnswer = yes;
        break;
    }
    default:
        break;
    }
    return a;
}

// The import, the window's moves, Qt moving the focus, the server failing.
Action ScreenModelTest::windowAction(int kind, const Pick &pick)
{
    Action a;
    switch (kind) {
    case 16:
    case 17:
        a = {QStringLiteral("click import"), Reach::Elsewhere, true,
             [this] { click(f()->sbtImportExport); }};
        break;
    case 18: {
        static const char *const moves[] = {"maximise", "restore", "minimise", "activate"};
        const int m = pick(4);
        a = {QStringLiteral("window %1").arg(moves[m]), Reach::Elsewhere, false, [this, m] {
                 QMdiSubWindow *sub = f()->subWindow();
                 switch (m) {
                 case 0: sub->showMaximized(); break;
                 case 1: sub->showNormal(); break;
                 case 2: sub->showMinimized(); break;
                 default: m_fx->area->setActiveSubWindow(sub); break;
                 }
             }};
        break;
    }
    case 19: {
        // The focus put somewhere by Qt or the window system, as a restore or a box closing does.
        static const Qt::FocusReason reasons[] = {Qt::OtherFocusReason, Qt::ActiveWindowFocusReason, Qt::PopupFocusReason};
        const int r = pick(3), target = pick(4);
        a = {QStringLiteral("Qt focuses control %1 (reason %2)").arg(target).arg(int(reasons[r])), Reach::Elsewhere, false,
             [this, r, target] {
                 QWidget *const targets[] = {f()->medNmArquivo, f()->medCdFilial, f()->dbgPrato, f()->dbgPadrao};
                 if (targets[target]->isVisible() && targets[target]->isEnabled())
                     targets[target]->setFocus(reasons[r]);
             }};
        break;
    }
    case 20: {
        static const char *const methods[] = {"GetPrato", "GetReceFili", "GetPratServ", "GetPesqPrato",
                                              "GetParamGeral", "SetDiretorios", "Importacao", ""};
        const QString m = QString::fromLatin1(methods[pick(8)]);
        a = {m.isEmpty() ? QStringLiteral("server answers everything") : QStringLiteral("server fails next %1").arg(m),
             Reach::Elsewhere, false, [this, m] {
                 m_fx->rdm->failMethod = m;
                 m_fx->rdm->failWith = QStringLiteral("Falha pedida: %1").arg(m);
             }};
        break;
    }
    default:
        break;
    }
    return a;
}

// What comes from outside the screen: Qt's real file dialog, another program importing.
Action ScreenModelTest::outsideAction(int kind)
{
    Action a;
    switch (kind) {
    case 40:
        // Qt's own dialog on the destination's folder (it lists the database, its -wal and -shm),
        // cancelled once the folder is listed.
        a = {QStringLiteral("file dialog on the database's folder, cancelled"), Reach::Panel, false, [this] {
                 if (!f()->sbtArquivo->isVisible() || !f()->sbtArquivo->isEnabled())
                     return;
                 // Typed into the field first, which the operator enters by clicking it.
                 click(f()->medNmArquivo);
                 if (QApplication::focusWidget() != f()->medNmArquivo)
                     return;
                 f()->medNmArquivo->setText(QFileInfo(m_dbPath).absolutePath() + u'/');
                 Dialogs *scripted = setDialogs(nullptr);
                 // Cancelled once it is up and has listed the folder.
                 QTimer poll;
                 int tries = 0;
                 QObject::connect(&poll, &QTimer::timeout, [this, &poll, &tries] {
                     QWidget *modal = QApplication::activeModalWidget();
                     auto *d = qobject_cast<QFileDialog *>(modal);
                     if (modal && !d) {
                         // A message the click raised on the way (a field it left): answered.
                         modal->close();
                         return;
                     }
                     if (!d && ++tries < 200)
                         return;
                     poll.stop();
                     if (!d)
                         return;
                     d->selectNameFilter(allFilesFilter());
                     auto *model = d->findChild<QFileSystemModel *>();
                     for (int i = 0; i < 250 && model->index(m_dbPath, 2).data().toString().isEmpty(); ++i)
                         QTest::qWait(20);
                     d->reject();
                 });
                 poll.start(10);
                 click(f()->sbtArquivo);
                 setDialogs(scripted);
             }};
        break;
    case 41:
        a = {QStringLiteral("another program imports"), Reach::Elsewhere, false, [this] {
                 const ProcessRun run = ProcessRun::run(QStringLiteral(IMP40500_BIN),
                                                        {"import", m_otherFile, "--branch", "0001", "--db", "sqlite:" + m_dbPath});
                 if (run.exitCode == 0) {
                     m_names.insert(QStringLiteral("200001"), QStringLiteral("PRATO DE OUTRO PROGRAMA"));
                     m_recipeRows.insert(QStringLiteral("200001"), 1);
                 } else {
                     qWarning() << "the other program's import failed:" << run.err;
                 }
             }};
        break;
    default:
        a = {QStringLiteral("key Tab"), Reach::Tab, false, [] { pressKey(Qt::Key_Tab); }};
        break;
    }
    return a;
}
