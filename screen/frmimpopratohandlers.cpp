// TfrmImpoPrato's handlers: the form's events, the parameter panel's checks, the screen's state,
// the load pass and the import.
#include "frmimpoprato.h"
#include "loadpass.h"
#include "handlerboundary.h"
#include "ambiente.h"
#include "consiste.h"
#include "datapacket.h"
#include "dialogs.h"
#include "dishgrid.h"
#include "dishpictures.h"
#include "dishtable.h"
#include "errorreview.h"
#include "framework.h"
#include "glyphs.h"
#include "importrun.h"
#include "memtablemodel.h"
#include "servicegrid.h"

#include <QAction>
#include <QApplication>
#include <QScopeGuard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QScrollArea>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The directory part of a typed name, without its final separator ("\" or "/").
QString directoryPart(const QString &name)
{
    const qsizetype sep = qMax(name.lastIndexOf(u'\\'), name.lastIndexOf(u'/'));
    if (sep < 0)
        return QString();
    return sep == 0 ? name.left(1) : name.left(sep);
}

} // namespace

void TfrmImpoPrato::FormCreate(QObject *sender)
{
    TfrmPadrImportExport::FormCreate(sender);
    PrimeiraAtivacao = true;
    sbtImportExport->setIcon(QIcon(Glyphs::transparent(importPicture())));
    m_session.TemRecePadr = false;
    m_session.TemReceFili = false;
    m_session.TemReceServ = false;
    // The service tab shows once a load pass has built the service map.
    pgcPadrao->setTabVisible(pgcPadrao->indexOf(tshPadrao), false);
}

void TfrmImpoPrato::FormActivate(QObject *)
{
    repaint();
    netImpoPrato.setConnected(true);
    if (!PrimeiraAtivacao)
        return;

    const Result<QString> directory = m_session.loadDiretorios();
    if (!directory)
        showFailure(directory.failure());
    medNmArquivo->setText(directory.value());
    const Ambiente &amb = Ambiente::instance();
    medCdFilial->setText(amb.FiliProc);
    // After the code: changing the code clears the name.
    edtNmFilial->setText(amb.NomeFiliProc);
    // A module that works per branch imports into the operator's own branch only.
    for (QWidget *w : {static_cast<QWidget *>(lblFilial), static_cast<QWidget *>(medCdFilial),
                       static_cast<QWidget *>(sbtFilial)}) {
        w->setEnabled(!amb.ModuFili);
        setTag(w, amb.ModuFili ? kTagFixo : 0);
    }
    PrimeiraAtivacao = false;
}

void TfrmImpoPrato::netImpoPratoBeforeConnect(QObject *)
{
    // Port, then host, from the operator environment; its token and limits with them.
    netImpoPrato.settingsFrom(Ambiente::instance());
}

void TfrmImpoPrato::FormClose(QObject *sender, CloseAction &action)
{
    netImpoPrato.setConnected(true);
    // The load pass lets the event loop run after each line; the screen must outlive it.
    if (m_session.Carregando) {
        action = CloseAction::None;
        return;
    }
    if (!confirmClose()) {
        action = CloseAction::None;
        return;
    }
    boIdCriado = false;
    TfrmPadrImportExport::FormClose(sender, action);
}

void TfrmImpoPrato::FormKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift)
{
    // Escape during the load pass offers to cancel it; the screen itself still cannot close.
    if (key == Qt::Key_Escape && m_session.Carregando) {
        key = 0;
        cancelLoadQuestion();
        return;
    }
    // Escape on the floating error panel closes the panel, not the screen.
    if (key == Qt::Key_Escape && errorReview->panelShowing()) {
        key = 0;
        errorReview->ButtonFlat1Click();
        return;
    }
    // F5 loads the file again, on either tab: the service grid, where pairings are made, has no
    // use of its own for it.
    if (key == Qt::Key_F5 && actRecarregar->isEnabled()) {
        key = 0;
        actRecarregarClick(actRecarregar);
        return;
    }
    // No file loaded yet, or the service grid in front (it has key handlers of its own): the
    // screen-wide keys are off.
    if (!sbtImportExport->isEnabled() || pgcPadrao->currentWidget() == tshPadrao)
        return;
    // Enter moves on to the next control, but never round from the grids into the parameter
    // panel: entering the panel throws the load away, which one key must not do. On the last
    // control before the panel (the dish grid) Enter does nothing.
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        QWidget *from = QApplication::focusWidget();
        const bool outside = !from || !panFiltro->isAncestorOf(from);
        QWidget *next = nextControl(from);
        if (outside && (!next || panFiltro->isAncestorOf(next))) {
            key = 0;
            return;
        }
    }
    TfrmPadrImportExport::FormKeyDown(sender, key, shift);
}

void TfrmImpoPrato::sbtArquivoClick(QObject *)
{
    medNmArquivo->setFocus();
    // With the remembered directory still in the field (it ends in the separator) this is that
    // directory itself.
    odgEfetivos.InitialDir = directoryPart(medNmArquivo->text());
    if (odgEfetivos.Execute())
        medNmArquivo->setText(odgEfetivos.FileName);
}

void TfrmImpoPrato::sbtFilialBeforePesq(QObject *, bool &)
{
    ReadOnlyQuery &qryFilial = m_session.qryFilial;
    qryFilial.close();
    qryFilial.setParam(QStringLiteral("P_CDFILIAL"), QString());
    qryFilial.setParam(QStringLiteral("P_TCDFILIAL"), QStringLiteral("T"));
    qryFilial.setParam(QStringLiteral("P_CDOPERADOR"), Ambiente::instance().Operador);
    qryFilial.openOrAbandon();
}

void TfrmImpoPrato::sbtFilialAfterPesq(QObject *)
{
    MemTable *picked = dtsFilial.table();
    medCdFilial->setText(picked->text(QStringView(u"CDFILIAL")));
    edtNmFilial->setText(picked->text(QStringView(u"NMFILIAL")));
}

void TfrmImpoPrato::medCdFilialChange(QObject *)
{
    edtNmFilial->clear();
}

void TfrmImpoPrato::medNmArquivoExit(QObject *)
{
    Vd_Arquivo(false);
}

void TfrmImpoPrato::Vd_Arquivo(bool required)
{
    // A refusal puts the focus back on the field it names; a pass remembers the directory
    // (cdsDiretorios, posted through the handlers below).
    try {
        m_session.Vd_Arquivo(required);
    } catch (const AbandonedAction &a) {
        focusField(a.field());
        throw;
    }
}

void TfrmImpoPrato::medCdFilialExit(QObject *)
{
    Vd_CdFilial(false);
}

void TfrmImpoPrato::Vd_CdFilial(bool required)
{
    // The canonical code goes back into the field whatever the check says, before the focus goes
    // back to it on a failure.
    const auto writeBack = [this] {
        if (medCdFilial->text() != m_session.CdFilial)
            medCdFilial->setText(m_session.CdFilial);
    };
    QString nome;
    try {
        nome = m_session.Vd_CdFilial(required, Ambiente::instance().Operador);
    } catch (const AbandonedAction &a) {
        writeBack();
        focusField(a.field());
        throw;
    } catch (...) {
        writeBack();
        throw;
    }
    writeBack();
    // An empty field let pass has no name to show; a checked one shows the branch's name (after
    // the code, whose change clears the name).
    if (!EmptyString(m_session.CdFilial))
        edtNmFilial->setText(nome);
}

void TfrmImpoPrato::panFiltroEnter(QObject *)
{
    // A new file or branch starts from nothing: what the last load left is thrown away. The state
    // goes first, so that whatever the closing tables and the emptied map report on their way
    // (a map row that was in edit going back to browse) finds nothing to import.
    m_dishErrors = false;
    setState(ScreenState::NoFile);
    m_session.closeLoadedTables();
    setStatusText(QString()); // the last load's preview and notes go with it
    applyState();
}

void TfrmImpoPrato::panFiltroExit(QObject *)
{
    Vd_Arquivo(true);
    Vd_CdFilial(true);
    // Whatever an earlier pass left (one that failed, or a panel left without being entered)
    // goes before the pass builds the map again: the map holds this file's services, once each.
    m_dishErrors = false;
    m_session.closeLoadedTables();
    m_loadLock = true;
    setState(ScreenState::Loading);
    // The pass unlocks both containers on every way out; a failure leaves the import button off,
    // and is told once the pass and the screen have cleaned up.
    if (const Status loaded = Grava_Tabelas(); !loaded) {
        discardFailedLoad();
        focusField(loaded.failure().field);
        // A pass the operator cancelled says so where the progress was.
        if (LoadPass::cancelled(loaded.failure())) {
            setStatusText(loaded.failure().message);
            MensErro(loaded.failure().message, false, loaded.failure().key);
        }
        showFailure(loaded.failure());
    }
    m_loadLock = false;
    setState(ScreenState::Loaded);
    showPreview();
}

void TfrmImpoPrato::discardFailedLoad()
{
    // Nothing of a failed pass can be imported or reviewed: its tables and its map go as when the
    // panel is entered, and the focus waits in the panel for the next file.
    m_loadLock = false;
    m_dishErrors = false;
    setState(ScreenState::LoadFailed);
    m_session.closeLoadedTables();
    setStatusText(QString());
    applyState();
    QWidget *f = QApplication::focusWidget();
    if (!f || !panFiltro->isAncestorOf(f))
        medNmArquivo->setFocus();
}

const char *TfrmImpoPrato::stateName(ScreenState state)
{
    switch (state) {
    case ScreenState::NoFile: return "NoFile";
    case ScreenState::Loading: return "Loading";
    case ScreenState::Loaded: return "Loaded";
    case ScreenState::LoadFailed: return "LoadFailed";
    case ScreenState::Importing: return "Importing";
    case ScreenState::Imported: return "Imported";
    }
    return "?";
}

void TfrmImpoPrato::setState(ScreenState state)
{
    m_state = state;
    applyState();
}

void TfrmImpoPrato::applyState()
{
    const MemTable &cdsServico = m_session.cdsServico;
    const TableState mapState = cdsServico.isActive() ? cdsServico.state() : TableState::Inactive;
    const bool mapEditing = mapState == TableState::Edit || mapState == TableState::Insert;
    const bool holdsLoad = m_state == ScreenState::Loading || m_state == ScreenState::Loaded
                           || m_state == ScreenState::Importing || m_state == ScreenState::Imported;

    // Only a completed load is imported, and never with a map row half edited.
    sbtImportExport->setEnabled(m_state == ScreenState::Loaded && !mapEditing);
    // While a pass builds the map and decodes the rows against it, the map is the pass's: a
    // destination typed there would skip the grid's checks, and the rows already decoded would not
    // follow it. The grid cannot hold the focus as a pass starts (the map was emptied with the
    // panel's entry), so locking it moves no focus.
    const bool mapOpen = m_state != ScreenState::Loading;
    if (dbgPadrao->isEnabled() != mapOpen)
        dbgPadrao->setEnabled(mapOpen);
    sbtErros->setEnabled(holdsLoad && m_dishErrors);

    // The tab "Serviço" shows the map of the load held, when it has rows; it is never left in
    // front while hidden.
    const int padrao = pgcPadrao->indexOf(tshPadrao);
    const bool serviceTab = holdsLoad && cdsServico.isActive() && cdsServico.rowCount() > 0;
    if (!serviceTab && pgcPadrao->currentWidget() == tshPadrao)
        pgcPadrao->setCurrentWidget(tshPrato);
    if (pgcPadrao->isTabVisible(padrao) != serviceTab)
        pgcPadrao->setTabVisible(padrao, serviceTab);
    // A map row half edited keeps the operator on the map until it is posted or cancelled.
    const bool pratoOpen = !(mapEditing && pgcPadrao->currentWidget() == tshPadrao);
    const int prato = pgcPadrao->indexOf(tshPrato);
    if (pgcPadrao->isTabEnabled(prato) != pratoOpen)
        pgcPadrao->setTabEnabled(prato, pratoOpen);

    // The panel while a pass or an import holds it; the side panel as a whole while a pass does
    // (each button keeps its own state underneath).
    SetChildEnabled(panFiltro, !(m_loadLock || m_importLock));
    SetChildEnabled(panMenu, !m_loadLock);
    const bool errorsOffered = m_state == ScreenState::Loaded || m_state == ScreenState::Imported;
    actExportarErros->setEnabled(errorsOffered);
    actCopiarErros->setEnabled(errorsOffered);
    actRecarregar->setEnabled(errorsOffered && !mapEditing);
}

void TfrmImpoPrato::cdsDiretoriosBeforePost(MemTable &table)
{
    if (m_diretoriosBeforePost)
        m_diretoriosBeforePost(table);
}

void TfrmImpoPrato::cdsDiretoriosAfterPost(MemTable &table)
{
    // SetDiretorios with the change; a failure cancels the unsent change and fails the post, and
    // with it the file check that posted the row.
    if (m_diretoriosAfterPost)
        m_diretoriosAfterPost(table);
}

void TfrmImpoPrato::sbtImportExportClick(QObject *)
{
    // Only what a completed load put into the tables goes to the server. The button goes off first
    // and stays off (the state); a new import needs a new load.
    if (m_state != ScreenState::Loaded)
        return;
    if (!confirmReimport())
        return;
    setState(ScreenState::Importing);
    // Focus moves the import makes (closing the error panel, locking the panel) are its own.
    m_inPanelHandler = true;
    if (errorReview->panelShowing())
        errorReview->lsbErroExit();
    m_importLock = true;
    applyState();

    const Result<ImportOutcome> outcome = runImport();

    pgbProgresso->setValue(0);
    setStatusText(QString());
    if (outcome)
        QCoreApplication::processEvents();
    m_importLock = false;
    applyState();
    repaint();
    const auto settle = qScopeGuard([this] {
        m_inPanelHandler = false;
        m_importLock = false;
        setState(ScreenState::Imported);
        // Locking the panel and closing an editor may have left the focus on no control.
        restoreOperatorFocus();
    });
    if (!outcome)
        showFailure(outcome.failure());
    // The pairings went with the import: closing now loses nothing.
    rememberPairings();
    QString told = outcome->successText(Ambiente::instance().DBPict(1));
    if (outcome->cacheFailure) {
        reportFailureDetail(*outcome->cacheFailure);
        told += QStringLiteral("\n\n") + outcome->cacheFailure->message;
    }
    messageSink()->showInfo(told);
}

Result<ImportOutcome> TfrmImpoPrato::runImport()
{
    try {
        return ImportRun(m_session).run();
    } catch (...) {
        // Whatever went wrong inside, the panel is given back before the operator hears of it.
        pgbProgresso->setValue(0);
        setStatusText(QString());
        m_inPanelHandler = false;
        m_importLock = false;
        setState(ScreenState::Imported);
        restoreOperatorFocus();
        repaint();
        throw;
    }
}

void TfrmImpoPrato::showFailure(const Failure &failure)
{
    reportFailureDetail(failure);
    MensErro(failure);
}

void TfrmImpoPrato::dtsServicoStateChange(QObject *)
{
    // Every state of the map is reflected; a row half edited locks the dishes and the import
    // until it is posted or cancelled. On the map's own tab, a row settled after an import lets
    // the same tables be sent again: they are still the completed load's.
    const TableState state = m_session.cdsServico.state();
    const bool editing = state == TableState::Edit || state == TableState::Insert;
    if (m_state == ScreenState::Imported && !editing && pgcPadrao->currentWidget() == tshPadrao)
        m_state = ScreenState::Loaded;
    if (m_state != ScreenState::Loading)
        applyState();
}

Status TfrmImpoPrato::Grava_Tabelas()
{
    // The grids hear of the pass's rows when it lets the screen repaint (serveEvents), and at its
    // end, in one step each time rather than once per row and value.
    dtsPrato->hold(true);
    dtsServico->hold(true);
    const auto release = qScopeGuard([this] {
        dtsPrato->hold(false);
        dtsServico->hold(false);
    });
    return m_session.Grava_Tabelas();
}
