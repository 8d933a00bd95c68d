// The screen driven by seeded random sequences of operator actions (clicks on every control, the
// keys, typing in the grids, the lookups with scripted answers, window moves, the error panel, the
// reload, the import, server methods failing on request, Qt's file dialog opened on the
// destination's folder, another program importing into the destination), with the screen's rules
// checked after every action, and the destination's: no statement left open, the locks on the
// database kept, nothing imported lost.
// A broken rule prints the sequence's seed and its actions; IMP_MODEL_SEED=<seed> replays one
// sequence, IMP_MODEL_SEQUENCES and IMP_MODEL_LENGTH change how many and how long.
#include "dbprobe.h"
#include "exportwriter.h"
#include "screenfixture.h"
#include "serverprocess.h"
#include "screeninvariants.h"

#include "servicegrid.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSqlQuery>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <random>

namespace {

using State = TfrmImpoPrato::ScreenState;

void settleFully()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// What an action may do to a load the screen holds.
enum class Reach {
    Elsewhere,   // must keep it
    Panel,       // a click or typing on the parameter panel: may discard it
    Key,         // a key other than Tab: keeps it (typed in the panel, the operator is there already)
    Tab,         // Tab or Shift+Tab: may discard it when typed in the panel, or moving into it
    Reload,      // Recarregar: loads the same file and branch again, which may fail
};

struct Action {
    QString text;
    Reach reach = Reach::Elsewhere;
    bool import = false;
    std::function<void()> run;
    bool closeAnswer = true; // the answer to "Fechar a tela?" (the dialogs' default is Sim)
};

const QString kCloseQuestion = QStringLiteral("Fechar a tela? Os pareamentos informados serão perdidos.");

// The destinations of the service map, row by row.
QStringList destinations(const MemTable &map)
{
    QStringList out;
    for (int r = 0; map.isActive() && r < map.rowCount(); ++r)
        out << map.textAt(r, 1);
    return out;
}

// Sends a key to the control that has the focus, as the keyboard does.
void pressKey(Qt::Key key, Qt::KeyboardModifiers mods = {})
{
    QWidget *w = QApplication::focusWidget();
    if (!w)
        w = frmImpoPrato;
    QTest::keyClick(w, key, mods);
}

// A click where the operator can click: nothing happens on a control out of sight (a minimised
// window, a hidden tab).
void click(QWidget *w, QPoint at = QPoint(), bool dbl = false)
{
    if (!w->isVisible())
        return;
    if (dbl)
        QTest::mouseDClick(w, Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

QPoint cellCentre(QTableView *grid, int row, int col)
{
    return grid->visualRect(grid->model()->index(row, col)).center();
}

} // namespace

class ScreenModelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void randomSequencesKeepTheRules();

private:
    TfrmImpoPrato *f() const { return frmImpoPrato; }
    void writeFiles();
    // One fresh start for a sequence: nothing loaded, the panel entered, a good file and branch.
    void resetScreen();
    Action generate(std::mt19937 &rng);
    QStringList servicesOf(const QString &path) const { return m_services.value(path); }
    // Empty when the sequence kept every rule, else what broke, after which action.
    QString runSequence(quint32 seed, int length, QStringList &log);

    // The destination against what every import made of it; empty when it holds.
    QString destinationBroken(int okImportsBefore, bool screenImported);
    int okImports();

    std::unique_ptr<ScreenFixture> m_fx;
    QString m_dbPath;
    QStringList m_files;                  // what the file button may answer
    QHash<QString, QStringList> m_services; // origin service codes per file
    // Standard recipe lines per dish of each file that has any (a file without them has no entry).
    QHash<QString, QHash<QString, int>> m_recipes;
    QString m_otherFile;                  // what another program imports
    // What the imports wrote and the destination must keep: each dish's name, and the standard
    // recipe rows of the dishes whose count is known.
    QHash<QString, QString> m_names;
    QHash<QString, int> m_recipeRows;
    int m_reopened = 0;
    int m_closeQuestions = 0;
    int m_visits[6] = {};                 // actions that ended in each state
    QStringList m_lastLog;                // the last sequence, printed with IMP_MODEL_PRINT
    QStringList m_pairsAtRest;            // the map's destinations after the last load or import
};

void ScreenModelTest::initTestCase()
{
    OPEN_SCREEN(m_fx)
    m_dbPath = QFileInfo(DbUrl::parse(m_fx->db->url()).value().path).absoluteFilePath();
    writeFiles();
    // The demo's dish 100001 and its two standard recipe lines.
    m_names.insert(QStringLiteral("100001"), QStringLiteral("ARROZ BRANCO"));
    m_recipeRows.insert(QStringLiteral("100001"), 2);
    settleFully();
}

int ScreenModelTest::okImports()
{
    return m_fx->db->count(QStringLiteral("HISTIMPO"), QStringLiteral("IDRESULTADO = 'ok'"));
}

QString ScreenModelTest::destinationBroken(int okImportsBefore, bool screenImported)
{
    if (const QStringList busy = DbProbe::busyStatements(); !busy.isEmpty())
        return QStringLiteral("statements left open: ") + busy.join(QStringLiteral(" | "));
    if (DbProbe::locksHeld(m_dbPath + QStringLiteral("-shm")) == 0)
        return QStringLiteral("the process no longer holds its locks on the database");
    // After a load or an import, no connection of the process (the module's own included) holds
    // a read transaction: another connection checkpoints the WAL to its end.
    if (frmImpoPrato && (screenImported || f()->screenState() == TfrmImpoPrato::ScreenState::Loaded))
        if (QString held = DbProbe::checkpoint(m_dbPath); !held.isEmpty())
            return held;
    // An import the screen made in this action: its dishes without errors were written.
    if (okImports() != okImportsBefore && screenImported && frmImpoPrato) {
        const MemTable &p = f()->document().cdsPrato;
        const QString file = f()->medNmArquivo->text();
        const int code = p.fieldIndex(u"CDPRATO"), name = p.fieldIndex(u"NMPRATO"), flags = p.fieldIndex(u"IDERRO");
        for (int r = 0; p.isActive() && r < p.rowCount(); ++r) {
            if (p.textAt(r, flags).contains(u'1'))
                continue;
            m_names.insert(p.textAt(r, code), p.textAt(r, name));
            if (m_recipes.contains(file))
                m_recipeRows.insert(p.textAt(r, code), m_recipes[file].value(p.textAt(r, code)));
        }
    }
    QSqlQuery q(m_fx->db->db());
    for (auto it = m_names.cbegin(); it != m_names.cend(); ++it) {
        q.prepare(QStringLiteral("SELECT NMPRATO, (SELECT COUNT(*) FROM RECEPADR R WHERE R.CDPRATO = P.CDPRATO) "
                                 "FROM PRATO P WHERE CDPRATO = ?"));
        q.addBindValue(it.key());
        if (!q.exec() || !q.next())
            return QStringLiteral("dish %1, imported, is gone").arg(it.key());
        if (q.value(0).toString() != it.value())
            return QStringLiteral("dish %1 is named %2, imported as %3").arg(it.key(), q.value(0).toString(), it.value());
        if (m_recipeRows.contains(it.key()) && q.value(1).toInt() != m_recipeRows[it.key()])
            return QStringLiteral("dish %1 has %2 standard recipe rows, imported with %3")
                .arg(it.key()).arg(q.value(1).toInt()).arg(m_recipeRows[it.key()]);
        q.finish();
    }
    return {};
}

void ScreenModelTest::cleanupTestCase()
{
    m_fx.reset();
}

void ScreenModelTest::writeFiles()
{
    auto put = [this](const QString &name, const ExportWriter &w, const QStringList &services) {
        const QString path = m_fx->dir.filePath(name);
        QVERIFY(w.write(path));
        m_files << path;
        m_services.insert(path, services);
    };
    // Three services (two pair by name, one does not), three dishes, one of them with a unit the
    // destination lacks.
    ExportWriter three;
    three.service(QStringLiteral("10"), QStringLiteral("Almoco"))
        .service(QStringLiteral("20"), QStringLiteral("jantar"))
        .service(QStringLiteral("30"), QStringLiteral("LANCHE DA TARDE"));
    three.dish(QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ BRANCO"))
        .dish(QStringLiteral("P"), QStringLiteral("100002"), QStringLiteral("FEIJAO"), QStringLiteral("XX"))
        .dish(QStringLiteral("P"), QStringLiteral("100003"), QStringLiteral("SALADA"));
    put(QStringLiteral("tres-servicos.txt"), three, {"10", "20", "30"});

    // One service that pairs, two dishes, standard recipe lines: a file loaded after it without
    // them must not take the recipes of its dishes away.
    ExportWriter one;
    one.service(QStringLiteral("40"), QStringLiteral("CEIA"));
    one.dish(QStringLiteral("P"), QStringLiteral("100004"), QStringLiteral("SOPA"))
        .add({"RECEPADR", "P", "100004", "000101", "KG", "0,100"})
        .dish(QStringLiteral("P"), QStringLiteral("100005"), QStringLiteral("PUDIM"), QStringLiteral("XX"));
    put(QStringLiteral("um-servico.txt"), one, {"40"});
    m_recipes.insert(m_files.last(), {{QStringLiteral("100004"), 1}});

    // What another program imports meanwhile.
    ExportWriter other;
    other.dish(QStringLiteral("P"), QStringLiteral("200001"), QStringLiteral("PRATO DE OUTRO PROGRAMA"))
        .add({"RECEPADR", "P", "200001", "000101", "KG", "0,200"});
    m_otherFile = m_fx->dir.filePath(QStringLiteral("outro-programa.txt"));
    QVERIFY(other.write(m_otherFile));

    // No service line: the tab "Serviço" stays hidden.
    ExportWriter none;
    none.dish(QStringLiteral("P"), QStringLiteral("100006"), QStringLiteral("BOLO"));
    put(QStringLiteral("sem-servico.txt"), none, {});

    // The data marker on line 32, behind two services: the load fails after the map was built.
    ExportWriter late;
    const QByteArray marker = late.lines.takeLast();
    late.service(QStringLiteral("10"), QStringLiteral("Almoco")).service(QStringLiteral("20"), QStringLiteral("JANTAR"));
    while (late.lines.size() < 31)
        late.lines << ExportWriter::fields({"COMENTARIO"});
    late.lines << marker;
    late.dish(QStringLiteral("P"), QStringLiteral("100007"), QStringLiteral("TORTA"));
    put(QStringLiteral("marcador-32.txt"), late, {"10", "20"});

    // Refused by the file check.
    ExportWriter header;
    header.lines[0] = ExportWriter::fields({"RECEITA", "EXPORTAÇÃO"});
    put(QStringLiteral("outro-tipo.txt"), header, {});
}

void ScreenModelTest::resetScreen()
{
    if (!frmImpoPrato || !boIdCriado) {
        IniProc();
        settleFully();
        ++m_reopened;
    }
    m_fx->rdm->failMethod.clear();
    m_fx->dialogs->clear();
    m_fx->dialogs->lookupAnswers.clear();
    m_fx->dialogs->openFileAnswers.clear();
    QMdiSubWindow *sub = f()->subWindow();
    if (sub->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))
        sub->showNormal();
    m_fx->area->setActiveSubWindow(sub);
    settleFully();
    if (f()->panErro->isVisible())
        f()->errorReview->ButtonFlat1Click();
    // Into the panel as the operator goes there; the load, if any, goes with it.
    click(f()->medNmArquivo);
    settleFully();
    if (f()->screenState() != State::NoFile)
        f()->panFiltroEnter(f()->panFiltro);
    f()->medNmArquivo->setText(m_files.first());
    f()->medCdFilial->setText(QStringLiteral("0001"));
    settleFully();
}

Action ScreenModelTest::generate(std::mt19937 &rng)
{
    auto pick = [&rng](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
    ScriptedDialogs *dlg = m_fx->dialogs;
    Action a;
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
                 f()->medCdFilial->selectAll();
                 QTest::keyClick(f()->medCdFilial, Qt::Key_Delete);
                 QTest::keyClicks(f()->medCdFilial, t);
             }};
        break;
    }
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
    case 21: {
        const int k = pick(3);
        a = {QStringLiteral("type file %1").arg(k), Reach::Panel, false, [this, k] {
                 const QString text = k == 0 ? QString() : k == 1 ? m_files.first() : m_fx->dir.filePath(QStringLiteral("x/y.txt"));
                 if (!f()->medNmArquivo->isVisible())
                     return;
                 click(f()->medNmArquivo);
                 f()->medNmArquivo->selectAll();
                 QTest::keyClick(f()->medNmArquivo, Qt::Key_Delete);
                 QTest::keyClicks(f()->medNmArquivo, text);
             }};
        break;
    }
    case 22:
        // Leaves the panel the way most operators do: a click on the dish grid.
        a = {QStringLiteral("click dish grid"), Reach::Elsewhere, false, [this] {
                 click(f()->dbgPrato->viewport(), QPoint(40, 40));
             }};
        break;
    case 40:
        // Qt's own dialog on the destination's folder (it lists the database, its -wal and -shm),
        // cancelled once the folder is listed.
        a = {QStringLiteral("file dialog on the database's folder, cancelled"), Reach::Panel, false, [this] {
                 if (!f()->sbtArquivo->isVisible() || !f()->sbtArquivo->isEnabled())
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
        a = {QStringLiteral("key Tab"), Reach::Tab, false, [] { pressKey(Qt::Key_Tab); }};
        break;
    }
    return a;
}

QString ScreenModelTest::runSequence(quint32 seed, int length, QStringList &log)
{
    std::mt19937 rng(seed);
    resetScreen();
    const auto services = [this](const QString &path) { return servicesOf(path); };
    if (QString broken = ScreenInvariants::check(f(), services); !broken.isEmpty())
        return QStringLiteral("at the start: ") + broken;

    for (int i = 0; i < length; ++i) {
        if (!frmImpoPrato || !boIdCriado) {
            // Escape closed the screen: the operator opens it again.
            IniProc();
            settleFully();
            ++m_reopened;
            log << QStringLiteral("   (screen opened again)");
        }
        Action a = generate(rng);
        const State before = f()->screenState();
        const int loads = m_fx->rdm->calls.value(QStringLiteral("GetPrato"));
        const int imports = m_fx->rdm->calls.value(QStringLiteral("Importacao"));
        const bool errorPanelOpen = f()->panErro->isVisible();
        const qsizetype errorsBefore = m_fx->dialogs->errors.size();
        const QString failing = m_fx->rdm->failMethod;
        const int failingCalls = m_fx->rdm->calls.value(failing);
        const int okBefore = okImports();
        // Pairings typed since the last load or import, which closing the screen would lose.
        const MemTable &map = f()->document().cdsServico;
        const QStringList pairsBefore = destinations(map);
        const bool typed = ScreenInvariants::holdsLoad(before)
                           && (ScreenInvariants::mapEditing(map) || pairsBefore != m_pairsAtRest);
        const qsizetype questionsBefore = m_fx->dialogs->questions.size();
        const qsizetype infosBefore = m_fx->dialogs->infos.size();

        a.run();
        settleFully();
        // A method fails once, on its next call.
        if (!failing.isEmpty() && m_fx->rdm->calls.value(failing) != failingCalls)
            m_fx->rdm->failMethod.clear();

        const bool screenImported = m_fx->rdm->calls.value(QStringLiteral("Importacao")) != imports;
        if (QString broken = destinationBroken(okBefore, screenImported); !broken.isEmpty()) {
            log << QStringLiteral("%1. %2").arg(i + 1, 2).arg(a.text);
            return broken;
        }
        const bool closed = !frmImpoPrato || !boIdCriado;
        const bool askedClose = m_fx->dialogs->questions.mid(questionsBefore).contains(kCloseQuestion);
        m_closeQuestions += askedClose ? 1 : 0;
        if (askedClose && !typed)
            return QStringLiteral("\"%1\" asked before closing with no pairing typed").arg(a.text);
        if (closed && typed && !askedClose)
            return QStringLiteral("\"%1\" closed the screen with typed pairings, without asking").arg(a.text);
        if (askedClose && closed != a.closeAnswer)
            return QStringLiteral("\"%1\": the screen %2 after the answer %3")
                .arg(a.text, closed ? QStringLiteral("closed") : QStringLiteral("stayed"),
                     a.closeAnswer ? QStringLiteral("Sim") : QStringLiteral("Não"));
        if (closed) {
            log << QStringLiteral("%1. %2 -> screen closed").arg(i + 1, 2).arg(a.text);
            m_pairsAtRest.clear();
            if (errorPanelOpen)
                return QStringLiteral("\"%1\" on the error panel closed the screen").arg(a.text);
            if (!ScreenInvariants::holdsLoad(before) && before != State::NoFile && before != State::LoadFailed)
                return QStringLiteral("the screen closed in state %1").arg(TfrmImpoPrato::stateName(before));
            continue;
        }
        // (A row in edit may take the editor's text on the way: the click moves the focus.)
        const bool rowInEdit = ScreenInvariants::mapEditing(map);
        if (askedClose && (f()->screenState() != before || (!rowInEdit && destinations(map) != pairsBefore)))
            return QStringLiteral("\"%1\", answered Não, changed the load (%2 -> %3)")
                .arg(a.text, pairsBefore.join(u','), destinations(map).join(u','));
        // A load, or an import that went through, leaves nothing typed.
        const bool imported = std::any_of(m_fx->dialogs->infos.cbegin() + infosBefore, m_fx->dialogs->infos.cend(),
                                          [](const QString &t) { return t.startsWith(QStringLiteral("A importação foi realizada")); });
        if ((m_fx->rdm->calls.value(QStringLiteral("GetPrato")) != loads && f()->screenState() == State::Loaded) || imported)
            m_pairsAtRest = destinations(map);
        const State after = f()->screenState();
        ++m_visits[int(after)];
        QWidget *focus = QApplication::focusWidget();
        const QString focusName = !focus ? QStringLiteral("-")
                                  : focus->objectName().isEmpty() ? QString::fromLatin1(focus->metaObject()->className())
                                                                  : focus->objectName();
        const QStringList told = m_fx->dialogs->errors.mid(errorsBefore);
        log << QStringLiteral("%1. %2 -> %3, focus %4%5")
                   .arg(i + 1, 2)
                   .arg(a.text, QString::fromLatin1(TfrmImpoPrato::stateName(after)), focusName,
                        told.isEmpty() ? QString() : QStringLiteral(", told \"%1\"").arg(told.join(QStringLiteral("\", \""))));

        if (QString broken = ScreenInvariants::check(f(), services); !broken.isEmpty())
            return broken;

        // A load goes only when the operator himself enters the panel: a click or Tab that leaves
        // him there with the focus. A click while the error panel is open only closes that panel.
        const bool loadLost = ScreenInvariants::holdsLoad(before)
                              && (!ScreenInvariants::holdsLoad(after)
                                  || m_fx->rdm->calls.value(QStringLiteral("GetPrato")) != loads);
        if (loadLost) {
            // With the screen's window not active (a dialog just closed), where its focus will be.
            QWidget *now = QApplication::focusWidget();
            if (!now || !f()->isAncestorOf(now))
                now = f()->focusWidget();
            const bool focusInPanel = now && f()->panFiltro->isAncestorOf(now);
            // Recarregar loads again on purpose; anything else only by the operator's own entry.
            const bool entered = (a.reach == Reach::Panel && !errorPanelOpen) || a.reach == Reach::Tab;
            if (a.reach != Reach::Reload && (!entered || !focusInPanel || !f()->operatorInPanel()))
                return QStringLiteral("the load was lost by \"%1\"").arg(a.text);
        }
        // Only a completed load is sent, and only by the import button.
        if (m_fx->rdm->calls.value(QStringLiteral("Importacao")) != imports && (!a.import || before != State::Loaded))
            return QStringLiteral("Importacao called by \"%1\" in state %2").arg(a.text, TfrmImpoPrato::stateName(before));
    }
    return {};
}

void ScreenModelTest::randomSequencesKeepTheRules()
{
    const bool replay = qEnvironmentVariableIsSet("IMP_MODEL_SEED");
    const quint32 first = replay ? qEnvironmentVariable("IMP_MODEL_SEED").toUInt() : 20261208u;
    const int sequences = replay ? 1 : qEnvironmentVariableIntValue("IMP_MODEL_SEQUENCES") > 0
                                           ? qEnvironmentVariableIntValue("IMP_MODEL_SEQUENCES")
                                           : 1000;
    const int length = qEnvironmentVariableIntValue("IMP_MODEL_LENGTH") > 0 ? qEnvironmentVariableIntValue("IMP_MODEL_LENGTH") : 30;

    QElapsedTimer clock;
    clock.start();
    int actions = 0;
    for (int s = 0; s < sequences; ++s) {
        const quint32 seed = first + quint32(s);
        QStringList log;
        const QString broken = runSequence(seed, length, log);
        if (!broken.isEmpty()) {
            qWarning().noquote() << QStringLiteral("Sequence with seed %1 (replay: IMP_MODEL_SEED=%1):\n  %2\nbroke: %3")
                                        .arg(seed)
                                        .arg(log.join(QStringLiteral("\n  ")), broken);
            QFAIL(qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(broken)));
        }
        actions += length;
        m_lastLog = log;
    }
    qInfo("%d sequences, %d actions in %lld ms; %d loads, %d imports, %d reopenings, %d questions before "
          "closing; actions ending NoFile %d, Loaded %d, LoadFailed %d, Imported %d",
          sequences, actions, static_cast<long long>(clock.elapsed()),
          m_fx->rdm->calls.value(QStringLiteral("GetPrato")), m_fx->rdm->calls.value(QStringLiteral("Importacao")),
          m_reopened, m_closeQuestions, m_visits[int(State::NoFile)], m_visits[int(State::Loaded)], m_visits[int(State::LoadFailed)],
          m_visits[int(State::Imported)]);
    if (qEnvironmentVariableIsSet("IMP_MODEL_PRINT"))
        qInfo().noquote() << m_lastLog.join(u'\n');
}

QTEST_MAIN(ScreenModelTest)
#include "tst_screen_model.moc"
