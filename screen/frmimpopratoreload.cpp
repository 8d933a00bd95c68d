// The load held, loaded again (Recarregar, F5): a pairing made on the tab "Serviço" after a load
// changes neither the flags nor the rows of that load, which were worked out against the map as it
// stood then. The pairings typed on the grid are kept by the service map for its next builds, so
// the same file and branch loaded again come back with them.
#include "frmimpoprato.h"

#include "consiste.h"
#include "dishgrid.h"
#include "errorreview.h"
#include "framework.h"
#include "handlerboundary.h"
#include "messages.h"
#include "servicegrid.h"

#include <QAction>
#include <QApplication>
#include <QScopeGuard>
#include <QTabWidget>

void TfrmImpoPrato::buildReload()
{
    // "\tF5" shows the key beside the text in the menus; the key itself is the screen's
    // (FormKeyDown), so that it works on either grid and nowhere else in the host.
    actRecarregar = new QAction(Msg(QStringLiteral("Recarregar")) + QStringLiteral("\tF5"), this);
    actRecarregar->setObjectName(QStringLiteral("actRecarregar"));
    auto *separator = new QAction(dbgPrato);
    separator->setSeparator(true);
    dbgPrato->addAction(separator);
    dbgPrato->addAction(actRecarregar);
    dbgPadrao->addAction(actRecarregar);
    dbgPadrao->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(actRecarregar, &QAction::triggered, this, [this] {
        runAction([this] { actRecarregarClick(actRecarregar); });
    });
    m_session.serviceMap.pairedByOperator = [this](const QString &origem, const QString &destino) {
        servicePaired(origem, destino);
    };
}

void TfrmImpoPrato::actRecarregarClick(QObject *)
{
    if (!actRecarregar->isEnabled())
        return;
    // The fields still hold the file and the branch of the load held: entering the panel to change
    // them throws the load away. Leaving the panel is what loads, so the reload is its exit, with
    // the same checks; one that refuses leaves the load held as it was.
    QWidget *const tab = pgcPadrao->currentWidget();
    const QPointer<QWidget> back = QApplication::focusWidget();
    const auto focusBack = [&] {
        if (tab == tshPadrao && pgcPadrao->isTabVisible(pgcPadrao->indexOf(tshPadrao)))
            pgcPadrao->setCurrentWidget(tshPadrao);
        QWidget *to = pgcPadrao->currentWidget() == tshPadrao ? static_cast<QWidget *>(dbgPadrao) : dbgPrato;
        if (back && isAncestorOf(back) && back->isVisible() && back->isEnabled() && !panFiltro->isAncestorOf(back))
            to = back;
        to->setFocus(Qt::OtherFocusReason);
    };
    // The reload's own focus moves (the checks' refused field, the locked panel, a failed load's
    // way back to the file) are no visit of the operator's to the panel.
    m_inPanelHandler = true;
    const auto settle = qScopeGuard([this] {
        m_inPanelHandler = false;
        if (QWidget *f = QApplication::focusWidget(); f && isAncestorOf(f)) {
            m_lastFocus = f;
            m_inPanel = panFiltro->isAncestorOf(f);
        } else {
            m_inPanel = m_state == ScreenState::LoadFailed;
        }
    });
    if (errorReview->panelShowing())
        errorReview->lsbErroExit();
    try {
        panFiltroExit(panFiltro);
    } catch (...) {
        // A failed pass has left the panel ready for the next file, as any failed load does.
        if (m_state != ScreenState::LoadFailed)
            focusBack();
        throw;
    }
    focusBack();
}

void TfrmImpoPrato::servicePaired(const QString &origem, const QString &destino)
{
    const bool holdsLoad = m_state == ScreenState::Loaded || m_state == ScreenState::Imported;
    if (!holdsLoad || EmptyString(destino))
        return;
    const int flagged = m_session.dishesFlaggedForService(origem);
    if (flagged > 0)
        setStatusText(Msg(QStringLiteral("Serv_Recarregar")).arg(origem.trimmed(), QString::number(flagged)));
}
