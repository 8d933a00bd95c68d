#pragma once
// The dish import screen "Importação de Prato" (IMP40500), the form TfrmImpoPrato of the business
// unit Cli_IMP40500: one instance at a time, a child window of the host's MDI area, opened and
// restored through IniProc. It owns the server connection and one import session, whose tables,
// flags and load pass it shows.
#include "btnpesquisa.h"
#include "datasource.h"
#include "frmpadrimport.h"
#include "importsession.h"

#include "appserver.h"

#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QLineEdit;
class QListWidget;
class QScrollArea;
class QTabWidget;
class ErrorReview;
struct ImportOutcome;
class MemTableModel;
class TDishGrid;
class TServiceGrid;

// The open-file dialog's settings (odgEfetivos); Execute runs it through the dialogs interface.
struct TOpenDialog {
    QString Title;
    QString Filter;       // in the business system's form: "description|pattern"
    QString DefaultExt;
    QString InitialDir;
    QString FileName;
    bool Execute();
};

class TfrmImpoPrato : public TfrmPadrImportExport, private LoadObserver {
    Q_OBJECT
public:
    explicit TfrmImpoPrato(QWidget *parent = nullptr);
    ~TfrmImpoPrato() override;

    // What the screen holds. Every enabled flag of the import button, the tabs, the panels and the
    // error button follows from it in applyState(), never from the handler that ran last.
    //  NoFile     nothing loaded (the panel was entered, or the screen is new)
    //  Loading    the load pass runs
    //  Loaded     a load pass completed: its tables, map and flags can be imported
    //  LoadFailed the last load pass failed: everything it read was thrown away
    //  Importing  the import call runs
    //  Imported   the import ran (accepted or refused); the tables stay as they were
    enum class ScreenState { NoFile, Loading, Loaded, LoadFailed, Importing, Imported };
    ScreenState screenState() const { return m_state; }
    static const char *stateName(ScreenState state);
    // Sets the import button, the tab "Prato" (locked while a map row is edited), the tab
    // "Serviço" (shown while a load holds map rows), the parameter and side panels (locked while
    // a load or an import holds them) and the error button from the state.
    void applyState();
    // The operator is in the parameter panel, as the screen counts it: entered by a click, Tab,
    // Shift+Tab or a key of the panel, not by a focus move that Qt or the window system made.
    bool operatorInPanel() const { return m_inPanel; }

    // The server connection and the import session (its load pass, checks and import call).
    NetConnection netImpoPrato;
    ImportSession &session() { return m_session; }
    // What the load holds: the tables the grids are bound to, the service map and the Tem… flags.
    ImportDocument &document() { return m_session; }

private:
    ImportSession m_session;

public:
    // The parameter panel.
    QFrame *panFiltro;
    QLabel *lblArquivo;
    QLineEdit *medNmArquivo;
    TBtnPesquisa *sbtArquivo;
    QLabel *lblFilial;
    QLineEdit *medCdFilial;
    TBtnPesquisa *sbtFilial;
    QLineEdit *edtNmFilial;

    // The tabs: dishes and services.
    QTabWidget *pgcPadrao;
    QWidget *tshPrato;
    QFrame *Panel1;
    QScrollArea *ScrollBox1;
    TDishGrid *dbgPrato;
    QWidget *tshPadrao;
    QFrame *panGrid;
    QScrollArea *sclGrid;
    TServiceGrid *dbgPadrao;

    // The floating error panel.
    QFrame *panErro;
    QLabel *Panel3;
    QToolButton *ButtonFlat1;
    QFrame *Panel2;
    QListWidget *lsbErro;
    // The review of the current dish's errors: sbtErros, a double click on dbgPrato, ButtonFlat1
    // and the list's exit (sbtErrosClick, dbgPratoDblClick, ButtonFlat1Click, lsbErroExit).
    ErrorReview *errorReview;

    // Side panel.
    QToolButton *sbtErros;
    QLabel *imgCheck;
    QLabel *imgUncheck;
    QLabel *imgCerto;
    QLabel *imgErro;

    TOpenDialog odgEfetivos;

    // Data sources of the lookups and models of the grids.
    TDataSource dtsDiretorios;
    TDataSource dtsFilial;
    TDataSource dtsPesqServico;
    MemTableModel *dtsPrato;
    MemTableModel *dtsServico;

    // The screen's own flag; Carregando and the three Tem… are the session's and its document's.
    bool PrimeiraAtivacao = false;

    // Handlers.
    void FormCreate(QObject *sender) override;
    void FormActivate(QObject *sender) override;
    void FormClose(QObject *sender, CloseAction &action) override;
    void FormKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift) override;
    void netImpoPratoBeforeConnect(QObject *sender);

    // The parameter panel. The exits and the panel's enter and exit run from the focus changes
    // (see onFocusChanged); each lets an abandoned action go on to that boundary.
    void sbtArquivoClick(QObject *sender);
    void medNmArquivoExit(QObject *sender);
    void Vd_Arquivo(bool required);
    void sbtFilialBeforePesq(QObject *sender, bool &proceed);
    void sbtFilialAfterPesq(QObject *sender);
    void medCdFilialChange(QObject *sender);
    void medCdFilialExit(QObject *sender);
    void Vd_CdFilial(bool required);
    void panFiltroEnter(QObject *sender);
    void panFiltroExit(QObject *sender);
    void cdsDiretoriosBeforePost(MemTable &table);
    void cdsDiretoriosAfterPost(MemTable &table);
    // The load pass over the file and branch of the panel (the session's, shown on this screen).
    Status Grava_Tabelas();

    // The import of what the load pass put into the tables (one call of Importacao).
    void sbtImportExportClick(QObject *sender);
    // While the service tab is in front, a map row being edited or inserted locks the tab "Prato"
    // and the import button; any other state of the map unlocks both.
    void dtsServicoStateChange(QObject *sender);

    // The dish grid's context menu: the errors of the load held, one row per error, saved as a
    // CSV file (through the dialogs' save dialog) or copied to the clipboard. Offered while a load
    // is held and no import runs.
    QAction *actExportarErros;
    QAction *actCopiarErros;
    void actExportarErrosClick(QObject *sender);
    void actCopiarErrosClick(QObject *sender);
    // Recarregar (F5, and the grids' context menus): the load held, run again over the same file and
    // branch, the pairings typed on the service grid applied (frmimpopratoreload.cpp). Offered while
    // a load is held at rest and no map row is being edited.
    QAction *actRecarregar;
    void actRecarregarClick(QObject *sender);
    // Escape while the load pass runs: asks "Cancelar a carga do arquivo?" and, on yes, has the
    // pass stop at its next safe point, where it ends as a failed load.
    void cancelLoadQuestion();

    // The keys of the side buttons and the lookups, shown in their hints and listed in the help.
    static const QKeySequence kKeyImportar;
    static const QKeySequence kKeyErros;
    static const QKeySequence kKeySair;
    static const QKeySequence kKeyPesquisar;
    // Service pairings the operator typed and no import took: a row in edit, or a pairing made on
    // the grid (kept for the next loads until the screen closes) since the last import.
    bool pairingsTyped() const;

    // LoadObserver: what the load pass shows on this screen.
    void setProgressRange(int maximum) override;
    void setProgress(int position) override;
    void setStatusText(const QString &text) override;
    void serveEvents() override;
    void serverCallStarted(int animation) override;
    void serverCallEnded() override;
    void dishFlagged() override;
    void showServiceTab() override;
    void showNotice(const QString &text) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Puts the focus on the field a failure is about (Failure::field); false when it names none
    // this screen has.
    bool focusField(const QString &field);
    // Where the focus moved inside the screen: runs the field's exit, the panel's exit or enter.
    void onFocusChanged(QWidget *now);
    void settleFocusMove();
    // Puts the focus back where the operator left it (m_lastFocus), after a move of Qt or the
    // window system took it elsewhere; nothing while the screen is not in front.
    void restoreOperatorFocus();
    // A click or a key of the operator on a control of the panel while the screen counts him
    // outside it: he enters the panel (the focus may already rest there, put by Qt).
    // False when the touch is refused (a map row in edit that could not be posted): the key or
    // click goes no further.
    bool operatorTouchesPanel(QWidget *target);
    // The state changes; applyState follows.
    void setState(ScreenState state);
    // A load pass failed: what it read goes, and the panel is ready for the next file.
    void discardFailedLoad();

    void buildFiltro();
    // The parameter panel's controls to its width: the file field stretches.
    void arrangeFiltro();
    void buildTabs();
    void buildErro();
    void buildSide();
    void buildErrorMenu();
    void buildReload();
    // The operator paired a service on the grid: the status line says how many dishes the load
    // held flagged for it, which stay flagged until the next load.
    void servicePaired(const QString &origem, const QString &destino);
    void buildShortcuts();
    // The next (1) or previous (-1) tab the operator may open, its grid taking the focus.
    void stepTab(int step);
    // The operator's pairings as they are now, taken by an import: closing would not lose them.
    void rememberPairings();
    // Whether the close may go on: asks first when typed pairings would be lost (Não by default).
    bool confirmClose();
    // After a load: what its import would change ("novos N, substituídos M") on the status line,
    // after what the pass left there. A server that cannot tell leaves the line as it was.
    void showPreview();

    // The import run under the screen: a failure inside gives the panel back and goes on.
    Result<ImportOutcome> runImport();
    // Whether to go on with the import: asks first when the destination's history already has this
    // file imported into the branch (frmimpopratohistory.cpp).
    bool confirmReimport();
    // Shows a failure the core returned and abandons the handler.
    [[noreturn]] void showFailure(const Failure &failure);

    int m_progress = 0;
    // The control of this screen where the focus rested last, as this screen saw it: Qt's "old"
    // widget is only the step before, which may be a control the focus merely passed through.
    QPointer<QWidget> m_lastFocus;
    // A handler of the panel, or the import, is running: its own focus moves (back to a refused
    // field, into a message box and back, off a panel it locks) are not the operator's.
    bool m_inPanelHandler = false;
    bool m_focusMovePending = false;
    bool m_focusSeen = false;
    bool m_inPanel = false;
    // The last control that received the focus, and whether the operator moved it there (a click,
    // or a move made while his key or click is delivered). Qt's own moves (window activation, a
    // popup or box closing, restore and maximise) never run the panel's handlers.
    QPointer<QWidget> m_focusInWidget;
    bool m_focusInByOperator = false;
    bool m_inputBeingDelivered = false;
    // The focus has just left the open error panel, which closed: the click that took it away
    // does nothing more.
    bool m_errorPanelLeft = false;

    ScreenState m_state = ScreenState::NoFile;
    bool m_loadLock = false;   // the load pass holds panFiltro and the side panel
    bool m_importLock = false; // the import holds panFiltro
    // The error button's own flag: the dish table's row change (current dish has errors) and the
    // load pass (a dish stored with errors) set it; shown only while a load is held.
    bool m_dishErrors = false;
    // The operator's pairings as the last import that went through took them (rememberPairings).
    QList<QPair<QString, QString>> m_pairingsImported;
    // The grids' models (dtsPrato, dtsServico). They watch the session's tables, so they are no
    // QObject children (QWidget deletes those after the members): declared after m_session, they
    // go before it.
    std::unique_ptr<MemTableModel> m_dishModel;
    std::unique_ptr<MemTableModel> m_serviceModel;
    // The events the session installed on cdsDiretorios, run by the screen's handlers.
    std::function<void(MemTable &)> m_diretoriosBeforePost;
    std::function<void(MemTable &)> m_diretoriosAfterPost;
};

// Exports of the package, with C linkage. frmImpoPrato is written only by the creation in
// CriaImpoPrat; after an accepted close it points at a freed screen and boIdCriado is false.
#define IMP_PACKAGE_EXPORT extern "C" __attribute__((visibility("default")))
IMP_PACKAGE_EXPORT TfrmImpoPrato *frmImpoPrato;
IMP_PACKAGE_EXPORT bool boIdCriado;
// Opens the screen, or restores and fronts the one that exists. Never throws: a failure was shown
// to the operator when it happened.
IMP_PACKAGE_EXPORT void IniProc();
IMP_PACKAGE_EXPORT void CriaImpoPrat();

namespace Cli_IMP40500 {
// CriaImpoPrat's work; a failure passes on (boIdCriado is false again when creation failed).
void criaImpoPrat();
} // namespace Cli_IMP40500
