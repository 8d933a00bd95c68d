#pragma once
// The rules that hold on the screen whatever the operator did, checked between two of his
// actions: what can be imported, what the service map holds, what a failed load leaves.
#include "frmimpoprato.h"
#include "errorreview.h"
#include "memtable.h"
#include "memtablemodel.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMap>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>

namespace ScreenInvariants {

inline bool holdsLoad(TfrmImpoPrato::ScreenState s)
{
    using S = TfrmImpoPrato::ScreenState;
    return s == S::Loaded || s == S::Importing || s == S::Imported;
}

inline bool mapEditing(const MemTable &map)
{
    return map.isActive() && (map.state() == TableState::Edit || map.state() == TableState::Insert);
}

// Column `col` of every row, as a multiset (value → count).
inline QMap<QString, int> column(const MemTable &t, int col, bool skipEmpty = false)
{
    QMap<QString, int> out;
    if (!t.isActive())
        return out;
    for (int r = 0; r < t.rowCount(); ++r) {
        const QString v = t.textAt(r, col);
        if (!(skipEmpty && v.trimmed().isEmpty()))
            ++out[v];
    }
    return out;
}

// What the operator paired on the grid, in this load or an earlier one of the branch, is what the
// map of the load held has, unless a row he did not touch held that destination first.
inline QStringList typedPairsHeld(const ServiceMap &serviceMap)
{
    QStringList broken;
    const MemTable &map = serviceMap.cdsServico;
    const auto &typed = serviceMap.paresDigitados();
    const auto untouched = [&](const QString &origin) {
        return std::none_of(typed.begin(), typed.end(), [&](const auto &p) { return p.first == origin; });
    };
    for (const auto &[origin, dest] : typed) {
        const int row = map.find(0, origin);
        if (row < 0 || map.textAt(row, 1).trimmed() == dest.trimmed())
            continue;
        bool heldByUntouched = false;
        for (int r = 0; r < map.rowCount() && !dest.trimmed().isEmpty(); ++r)
            heldByUntouched |= map.textAt(r, 1) == dest && untouched(map.textAt(r, 0));
        if (!heldByUntouched)
            broken << QStringLiteral("service %1 holds \"%2\", typed \"%3\"").arg(origin, map.textAt(row, 1), dest);
    }
    return broken;
}

// With the screen in front, what the operator types goes to the control that shows the focus,
// and the screen counts him in the parameter panel exactly when that control is there. Empty when
// that holds (or the screen is not in front).
inline QString focusBroken(TfrmImpoPrato *f)
{
    QMdiSubWindow *sub = f->subWindow();
    if (!sub || !sub->mdiArea() || sub->mdiArea()->activeSubWindow() != sub || sub->isMinimized()
        || QApplication::activeWindow() != f->window())
        return {};
    QWidget *focus = QApplication::focusWidget();
    const QString name = focus ? focus->objectName() : QString();
    if (!focus || !f->isAncestorOf(focus))
        return QStringLiteral("the screen is in front without a control of it holding the focus");
    if (!focus->isVisible() || !focus->isEnabled())
        return QStringLiteral("the focus is on %1, hidden or locked").arg(name);
    if (f->operatorInPanel() != f->panFiltro->isAncestorOf(focus))
        return QStringLiteral("the operator counts as %1 the parameter panel with the focus on %2")
            .arg(f->operatorInPanel() ? QStringLiteral("in") : QStringLiteral("outside"), name);
    return {};
}

// An empty text when every rule holds; otherwise what broke. `fileServices` are the origin codes
// of the service lines of the file the screen loaded last (asked only while a load is held).
template <typename ServicesOf>
QString check(TfrmImpoPrato *f, ServicesOf fileServices)
{
    using S = TfrmImpoPrato::ScreenState;
    QStringList broken;
    const S state = f->screenState();
    const MemTable &map = f->document().cdsServico;
    const bool editing = mapEditing(map);
    const int mapRows = map.isActive() ? map.rowCount() : 0;
    QTabWidget *pgc = f->pgcPadrao;

    // Between two actions nothing runs.
    if (state == S::Loading || state == S::Importing || f->session().Carregando)
        broken << QStringLiteral("a load or an import is still marked as running");
    if (!f->medNmArquivo->isEnabled() || !f->sbtCancel->isEnabled())
        broken << QStringLiteral("the parameter panel or the side panel stayed locked");

    // Import only after a completed load, never with a map row in edit.
    if (f->sbtImportExport->isEnabled()) {
        if (state != S::Loaded)
            broken << QStringLiteral("import enabled in state %1").arg(TfrmImpoPrato::stateName(state));
        if (editing)
            broken << QStringLiteral("import enabled while a service row is in edit");
        if (!f->document().cdsPrato.isActive())
            broken << QStringLiteral("import enabled with the dish table closed");
    }

    // The map holds exactly the loaded file's services, once each; nothing without a load.
    if (holdsLoad(state)) {
        QMap<QString, int> expected;
        for (const QString &code : fileServices(f->medNmArquivo->text()))
            ++expected[code];
        const QMap<QString, int> held = column(map, 0);
        if (held != expected)
            broken << QStringLiteral("the map holds %1 for the file's %2")
                          .arg(QStringList(held.keys()).join(u','), QStringList(expected.keys()).join(u','))
                   << QStringLiteral("(%1 rows for %2 services)").arg(mapRows).arg(fileServices(f->medNmArquivo->text()).size());
        // With no row in edit, the destinations in use are those the rows hold.
        if (!editing && column(f->document().cdsServDestino, 0) != column(map, 1, true))
            broken << QStringLiteral("the destinations in use differ from the map's");
        if (!editing)
            broken << typedPairsHeld(f->document().serviceMap);
    } else {
        if (mapRows != 0 || (f->document().cdsServDestino.isActive() && f->document().cdsServDestino.rowCount() != 0))
            broken << QStringLiteral("the map holds rows in state %1").arg(TfrmImpoPrato::stateName(state));
        if (f->document().cdsPrato.isActive())
            broken << QStringLiteral("dish table open in state %1").arg(TfrmImpoPrato::stateName(state));
        if (f->sbtErros->isEnabled())
            broken << QStringLiteral("error button enabled without a load");
    }

    // The error report is offered for a load held and at rest, never while a pass runs.
    const bool reportOffered = f->actExportarErros->isEnabled() && f->actCopiarErros->isEnabled();
    if (reportOffered != (state == S::Loaded || state == S::Imported))
        broken << QStringLiteral("error report %1 in state %2")
                      .arg(reportOffered ? QStringLiteral("offered") : QStringLiteral("not offered"),
                           TfrmImpoPrato::stateName(state));

    // The load held is loaded again while it is at rest, never over a map row in edit.
    if (f->actRecarregar->isEnabled() != ((state == S::Loaded || state == S::Imported) && !editing))
        broken << QStringLiteral("Recarregar %1 in state %2%3")
                      .arg(f->actRecarregar->isEnabled() ? QStringLiteral("offered") : QStringLiteral("not offered"),
                           TfrmImpoPrato::stateName(state), editing ? QStringLiteral(" with a service row in edit") : QString());

    // The tabs follow the load held and the map's edit.
    const bool serviceTab = pgc->isTabVisible(pgc->indexOf(f->tshPadrao));
    if (serviceTab && (!holdsLoad(state) || mapRows == 0))
        broken << QStringLiteral("tab \"Serviço\" shown without map rows of a load");
    if (!serviceTab && pgc->currentWidget() == f->tshPadrao)
        broken << QStringLiteral("hidden tab \"Serviço\" in front");
    if (!pgc->isTabEnabled(pgc->indexOf(f->tshPrato)) && !editing)
        broken << QStringLiteral("tab \"Prato\" locked with no service row in edit");

    // A failed load leaves the panel ready for the next file.
    if (state == S::LoadFailed && !f->operatorInPanel())
        broken << QStringLiteral("after a failed load the operator is not in the panel");

    if (QString focus = focusBroken(f); !focus.isEmpty())
        broken << focus;

    return broken.join(QStringLiteral("; "));
}

} // namespace ScreenInvariants
