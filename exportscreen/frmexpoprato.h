#pragma once
// The dish export screen "Exportação de Prato", the import screen's sibling: it writes the export
// file of a branch's dishes (MenuExport, exportwriter/) that another installation or branch then
// imports. One instance at a time, a child window of the host's MDI area, opened and restored
// through IniProcExportacao.
#include "btnpesquisa.h"
#include "datasource.h"
#include "frmpadrimport.h"
#include "menuexport.h"
#include "query.h"
#include "stoprequest.h"

class QComboBox;
class QLineEdit;
class QPushButton;

class TfrmExpoPrato : public TfrmPadrImportExport, private MenuExport::Observer {
    Q_OBJECT
public:
    explicit TfrmExpoPrato(QWidget *parent = nullptr);
    ~TfrmExpoPrato() override;

    // Idle: the parameters can be changed and the export started. Exporting: the file is being
    // written; only Escape (cancel) is taken. applyState() sets every enabled flag from it.
    enum class ScreenState { Idle, Exporting };
    ScreenState screenState() const { return m_state; }
    void applyState();

    QFrame *panFiltro;
    QLabel *lblFilial;
    QLineEdit *medCdFilial;
    TBtnPesquisa *sbtFilial;
    QLineEdit *edtNmFilial;
    QLabel *lblArvore;
    QComboBox *cmbArvore;        // Padrão, Local, Todos
    QLabel *lblPratos;
    QLineEdit *edtPratos;        // dish codes separated by commas; empty: every dish of the tree
    QPushButton *sbtSalvarComo;  // "Salvar como...": asks for the file, then exports

    ReadOnlyQuery qryFilial;
    TDataSource dtsFilial;

    // The branch as the import's branch field checks it; required false lets an empty one pass.
    // Fails through MensErro with the field's message.
    void Vd_CdFilial(bool required);
    void medCdFilialExit(QObject *sender);
    void sbtFilialBeforePesq(QObject *sender, bool &proceed);
    void sbtFilialAfterPesq(QObject *sender);
    // "Salvar como...": the branch checked, the file asked for (pratos-FILIAL-AAAAMMDD.txt by
    // default), the file written, the totals told.
    void sbtSalvarComoClick(QObject *sender);
    // The file name offered by "Salvar como..." for the branch, today.
    QString defaultFileName() const;
    // What the last export wrote (empty before one succeeded).
    const MenuExport::Totals &lastTotals() const { return m_lastTotals; }

    void FormCreate(QObject *sender) override;
    void FormActivate(QObject *sender) override;
    void FormClose(QObject *sender, CloseAction &action) override;
    void FormKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift) override;

private:
    // MenuExport::Observer: the progress bar, and the events (Escape) while the file is written.
    void setProgressRange(qint64 dishes) override;
    void setProgress(qint64 done) override;
    void serveEvents() override;

    void buildFiltro();
    ScreenState m_state = ScreenState::Idle;
    bool m_firstActivation = true;
    QString m_lastDirectory;
    StopRequest m_stop;
    MenuExport::Totals m_lastTotals;
};

#define IMP_PACKAGE_EXPORT_EXP extern "C" __attribute__((visibility("default")))
// Opens the export screen, or restores and fronts the one that exists. Never throws.
IMP_PACKAGE_EXPORT_EXP void IniProcExportacao();

namespace Cli_IMP40500 {
// The export screen of the package, nullptr when none is open.
TfrmExpoPrato *exportScreen();
// IniProcExportacao's work; a failure passes on.
void criaExpoPrat();
} // namespace Cli_IMP40500
