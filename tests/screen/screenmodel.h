#pragma once
// The model-based test of the screen (tst_screen_model.cpp, its actions in
// tst_screen_model_actions.cpp): what an action is, and the test that makes and runs them.
#include "screenfixture.h"
#include "screeninvariants.h"

#include <QTableView>

#include <functional>
#include <random>

namespace ScreenModel {

using State = TfrmImpoPrato::ScreenState;

inline void settleFully()
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

// Picks a number from 0 to n - 1 (the sequence's generator).
using Pick = std::function<int(int)>;

struct Action {
    QString text;
    Reach reach = Reach::Elsewhere;
    bool import = false;
    std::function<void()> run;
    bool closeAnswer = true; // the answer to "Fechar a tela?" (the dialogs' default is Sim)
};

inline const QString kCloseQuestion = QStringLiteral("Fechar a tela? Os pareamentos informados serão perdidos.");

// The destinations of the service map, row by row.
inline QStringList destinations(const MemTable &map)
{
    QStringList out;
    for (int r = 0; map.isActive() && r < map.rowCount(); ++r)
        out << map.textAt(r, 1);
    return out;
}

// Sends a key to the control that has the focus, as the keyboard does.
inline void pressKey(Qt::Key key, Qt::KeyboardModifiers mods = {})
{
    QWidget *w = QApplication::focusWidget();
    if (!w)
        w = frmImpoPrato;
    QTest::keyClick(w, key, mods);
}

// A click where the operator can click: nothing happens on a control out of sight (a minimised
// window, a hidden tab).
inline void click(QWidget *w, QPoint at = QPoint(), bool dbl = false)
{
    if (!w->isVisible())
        return;
    if (dbl)
        QTest::mouseDClick(w, Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

inline QPoint cellCentre(QTableView *grid, int row, int col)
{
    return grid->visualRect(grid->model()->index(row, col)).center();
}

} // namespace ScreenModel


using namespace ScreenModel;

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
    // The actions by kind (tst_screen_model_actions.cpp).
    Action panelAction(int kind, const Pick &pick);
    Action gridAction(int kind, const Pick &pick);
    Action reviewAction(int kind, const Pick &pick);
    Action keyAction(int kind, const Pick &pick);
    Action windowAction(int kind, const Pick &pick);
    Action outsideAction(int kind);
    QStringList servicesOf(const QString &path) const { return m_services.value(path); }
    // Empty when the sequence kept every rule, else what broke, after which action.
    QString runSequence(quint32 seed, int length, QStringList &log);
    // What an action's checks compare with: the screen and its counters just before it.
    struct Before {
        State state = State::NoFile;
        int loads = 0;
        int imports = 0;
        bool errorPanelOpen = false;
        qsizetype errors = 0, questions = 0, infos = 0;
        QString failing;
        int failingCalls = 0;
        int okImports = 0;
        QStringList pairs;  // the map's destinations
        bool typed = false; // pairings typed and not imported, or a row in edit
    };
    Before snapshot();
    // The question before closing: asked exactly when typed pairings would be lost, and obeyed.
    QString closeBroken(const Action &a, const Before &b, bool closed);
    // The load lost only by the operator's own entry into the panel (or Recarregar); only a load
    // imported.
    QString loadBroken(const Action &a, const Before &b);
    // The log's line for one action: the state and the focus after it, what was told.
    QString describe(int step, const Action &a, const Before &b) const;

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
    // The operator's pairings as the last import that went through took them.
    QList<QPair<QString, QString>> m_pairsImported;
};

