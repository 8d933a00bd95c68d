#include "frmexpoprato.h"

#include "ambiente.h"
#include "checks.h"
#include "database.h"
#include "dialogs.h"
#include "framework.h"
#include "glyphs.h"
#include "handlerboundary.h"
#include "messages.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <array>
#include <climits>

namespace {

QPointer<TfrmExpoPrato> g_screen;

QLabel *boldLabel(QWidget *parent, const QString &objectName, const QString &caption, QWidget *buddy)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(objectName);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    l->setBuddy(buddy);
    return l;
}

} // namespace

TfrmExpoPrato::TfrmExpoPrato(QWidget *parent)
    : TfrmPadrImportExport(parent),
      qryFilial(ImportChecks::qryFilialSql()),
      dtsFilial(&qryFilial, {FieldDef::text(QStringLiteral("CDFILIAL"), 4, QStringLiteral("Código")),
                             FieldDef::text(QStringLiteral("NMFILIAL"), 30, QStringLiteral("Nome")),
                             FieldDef::text(QStringLiteral("IDCNTRRESC"), 1)})
{
    setObjectName(QStringLiteral("frmExpoPrato"));
    setWindowTitle(QStringLiteral("Exportação de Prato"));
    Left = 300;
    Top = 120;
    HelpFile = QStringLiteral("AdmHelp.hlp");
    HelpContext = 13908100;
    lblCodTela->setText(QStringLiteral("EXP40500"));
    dtsFilial.displayFields = {QStringLiteral("CDFILIAL"), QStringLiteral("NMFILIAL")};
    sbtImportExport->setToolTip(QStringLiteral("Salvar como..."));
    sbtImportExport->setIcon(QIcon(Glyphs::transparent(Glyphs::exportar())));
    buildFiltro();
    const auto save = [this] { runAction([this] { sbtSalvarComoClick(sbtSalvarComo); }); };
    connect(sbtImportExport, &QToolButton::clicked, this, save);
    connect(sbtSalvarComo, &QPushButton::clicked, this, save);
    resize(ClientSize);
    FormCreate(this);
    applyState();
}

TfrmExpoPrato::~TfrmExpoPrato() = default;

void TfrmExpoPrato::buildFiltro()
{
    panFiltro = new QFrame(grbDadosRel);
    panFiltro->setObjectName(QStringLiteral("panFiltro"));
    panFiltro->setFrameShape(QFrame::NoFrame);

    medCdFilial = new QLineEdit(panFiltro);
    medCdFilial->setObjectName(QStringLiteral("medCdFilial"));
    medCdFilial->setInputMask(QStringLiteral("0000; "));
    medCdFilial->setGeometry(6, 23, 40, 21);
    lblFilial = boldLabel(panFiltro, QStringLiteral("lblFilial"), QStringLiteral("&Filial"), medCdFilial);
    lblFilial->setGeometry(6, 6, 200, 15);
    sbtFilial = new TBtnPesquisa(panFiltro);
    sbtFilial->setObjectName(QStringLiteral("sbtFilial"));
    sbtFilial->setGeometry(48, 23, 22, 21);
    sbtFilial->Associate = medCdFilial;
    sbtFilial->DataSource = &dtsFilial;
    sbtFilial->Title = QStringLiteral("Filial");
    sbtFilial->EmptyError = QStringLiteral("Não há filial cadastrada");
    sbtFilial->OnBeforePesq = [this](QObject *sender, bool &proceed) { sbtFilialBeforePesq(sender, proceed); };
    sbtFilial->OnAfterPesq = [this](QObject *sender) { sbtFilialAfterPesq(sender); };
    edtNmFilial = new QLineEdit(panFiltro);
    edtNmFilial->setObjectName(QStringLiteral("edtNmFilial"));
    edtNmFilial->setGeometry(72, 23, 250, 21);
    edtNmFilial->setEnabled(false);
    connect(medCdFilial, &QLineEdit::textEdited, edtNmFilial, &QLineEdit::clear);
    connect(medCdFilial, &QLineEdit::editingFinished, this, [this] {
        if (m_state == ScreenState::Idle)
            runAction([this] { medCdFilialExit(medCdFilial); });
    });

    cmbArvore = new QComboBox(panFiltro);
    cmbArvore->setObjectName(QStringLiteral("cmbArvore"));
    cmbArvore->addItems({Msg(QStringLiteral("PADRAO")), Msg(QStringLiteral("LOCAL")), QStringLiteral("Todos")});
    cmbArvore->setCurrentIndex(2);
    cmbArvore->setGeometry(6, 69, 120, 22);
    lblArvore = boldLabel(panFiltro, QStringLiteral("lblArvore"), QStringLiteral("Á&rvore"), cmbArvore);
    lblArvore->setGeometry(6, 52, 200, 15);

    edtPratos = new QLineEdit(panFiltro);
    edtPratos->setObjectName(QStringLiteral("edtPratos"));
    edtPratos->setPlaceholderText(QStringLiteral("todos os pratos da árvore"));
    edtPratos->setGeometry(6, 115, 316, 21);
    lblPratos = boldLabel(panFiltro, QStringLiteral("lblPratos"), QStringLiteral("&Pratos (códigos separados por vírgula)"),
                          edtPratos);
    lblPratos->setGeometry(6, 98, 316, 15);

    sbtSalvarComo = new QPushButton(QStringLiteral("&Salvar como..."), panFiltro);
    sbtSalvarComo->setObjectName(QStringLiteral("sbtSalvarComo"));
    sbtSalvarComo->setGeometry(6, 150, 120, 26);

    setTabOrder(medCdFilial, cmbArvore);
    setTabOrder(cmbArvore, edtPratos);
    setTabOrder(edtPratos, sbtSalvarComo);
    auto *layout = new QVBoxLayout(grbDadosRel);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->addWidget(panFiltro);
}

void TfrmExpoPrato::applyState()
{
    const bool idle = m_state == ScreenState::Idle;
    panFiltro->setEnabled(idle);
    sbtImportExport->setEnabled(idle);
    sbtCancel->setEnabled(idle);
    const bool fixed = Ambiente::instance().ModuFili;
    medCdFilial->setEnabled(idle && !fixed);
    sbtFilial->setEnabled(idle && !fixed);
}

void TfrmExpoPrato::FormCreate(QObject *sender)
{
    TfrmPadrImportExport::FormCreate(sender);
    m_firstActivation = true;
}

void TfrmExpoPrato::FormActivate(QObject *)
{
    if (!m_firstActivation)
        return;
    m_firstActivation = false;
    // The operator's own branch to begin with; a module that works per branch exports it only.
    const Ambiente &amb = Ambiente::instance();
    medCdFilial->setText(amb.FiliProc);
    edtNmFilial->setText(amb.NomeFiliProc);
    applyState();
}

void TfrmExpoPrato::FormClose(QObject *sender, CloseAction &action)
{
    // The export lets the event loop run while it writes; the screen must outlive it.
    if (m_state == ScreenState::Exporting) {
        action = CloseAction::None;
        return;
    }
    TfrmPadrImportExport::FormClose(sender, action);
}

void TfrmExpoPrato::FormKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift)
{
    // Escape while the file is written offers to stop it; no half file is left.
    if (key == Qt::Key_Escape && m_state == ScreenState::Exporting) {
        key = 0;
        if (dialogs()->question(Msg(QStringLiteral("Exp_Cancelar"))))
            m_stop.request();
        return;
    }
    if (m_state == ScreenState::Exporting)
        return;
    TfrmPadrImportExport::FormKeyDown(sender, key, shift);
}

void TfrmExpoPrato::medCdFilialExit(QObject *)
{
    Vd_CdFilial(false);
}

void TfrmExpoPrato::Vd_CdFilial(bool required)
{
    QString adjusted;
    ImportChecks::BranchCheck b;
    try {
        b = ImportChecks::Vd_CdFilial(medCdFilial->text(), required, Ambiente::instance().Operador, qryFilial, &adjusted);
    } catch (...) {
        // No statement stays open between actions; the focus goes back to the field refused.
        qryFilial.close();
        medCdFilial->setFocus();
        throw;
    }
    qryFilial.close();
    if (b.checked) {
        medCdFilial->setText(adjusted);
        edtNmFilial->setText(b.name);
    }
}

void TfrmExpoPrato::sbtFilialBeforePesq(QObject *, bool &)
{
    qryFilial.close();
    qryFilial.setParam(QStringLiteral("P_CDFILIAL"), QString());
    qryFilial.setParam(QStringLiteral("P_TCDFILIAL"), QStringLiteral("T"));
    qryFilial.setParam(QStringLiteral("P_CDOPERADOR"), Ambiente::instance().Operador);
    qryFilial.openOrAbandon();
}

void TfrmExpoPrato::sbtFilialAfterPesq(QObject *)
{
    MemTable *picked = dtsFilial.table();
    medCdFilial->setText(picked->text(QStringView(u"CDFILIAL")));
    edtNmFilial->setText(picked->text(QStringView(u"NMFILIAL")));
    qryFilial.close();
}

QString TfrmExpoPrato::defaultFileName() const
{
    return QStringLiteral("pratos-%1-%2.txt").arg(medCdFilial->text(), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
}

void TfrmExpoPrato::sbtSalvarComoClick(QObject *)
{
    Vd_CdFilial(true);
    const QString directory = m_lastDirectory.isEmpty() ? QDir::currentPath() : m_lastDirectory;
    const QString path = dialogs()->getSaveFileName(QStringLiteral("Salvar como"), QDir(directory).filePath(defaultFileName()),
                                                    QStringLiteral("Documento texto (*.txt)"), QStringLiteral("txt"));
    if (path.isEmpty())
        return;
    m_lastDirectory = QFileInfo(path).absolutePath();

    const Ambiente &amb = Ambiente::instance();
    MenuExport::Request request;
    request.databaseUrl = amb.databaseUrl;
    request.branch = medCdFilial->text();
    request.tree = std::array{MenuExport::Tree::Padrao, MenuExport::Tree::Local, MenuExport::Tree::Todos}[size_t(qBound(0, cmbArvore->currentIndex(), 2))];
    request.dishes = edtPratos->text().split(u',', Qt::SkipEmptyParts);
    request.path = path;
    request.operatorCode = amb.Operador;

    m_stop.reset();
    m_state = ScreenState::Exporting;
    applyState();
    // Every control is locked while the file is written: the screen itself holds the focus, so
    // that Escape reaches it.
    setFocus(Qt::OtherFocusReason);
    setStatusText(Msg(QStringLiteral("Exp_Exportando")));
    const Result<MenuExport::Totals> result = MenuExport::run(request, &m_stop, this);
    m_state = ScreenState::Idle;
    applyState();
    sbtSalvarComo->setFocus(Qt::OtherFocusReason);
    pgbProgresso->setValue(0);
    if (!result) {
        if (MenuExport::cancelled(result.failure())) {
            setStatusText(result.failure().message);
            return;
        }
        setStatusText(QString());
        reportFailureDetail(result.failure());
        MensErro(result.failure().message, true, result.failure().key);
    }
    m_lastTotals = result.value();
    const QString done = Msg(QStringLiteral("Exp_Concluida")).arg(result->count(QStringLiteral("PRATO"))).arg(result->path);
    setStatusText(done);
    QStringList lines{done, Msg(QStringLiteral("Exp_Totais")).arg(result->rowsText())};
    if (!result->missing.isEmpty())
        lines << Msg(QStringLiteral("Exp_NaoEncontrados")).arg(result->missing.join(QStringLiteral(", ")));
    if (!result->historyFailure.isEmpty())
        lines << Msg(QStringLiteral("Exp_SemHistorico")).arg(result->historyFailure);
    dialogs()->showInfo(lines.join(u'\n'));
}

void TfrmExpoPrato::setProgressRange(qint64 dishes)
{
    pgbProgresso->setRange(0, int(qMin<qint64>(dishes, INT_MAX)));
}

void TfrmExpoPrato::setProgress(qint64 done)
{
    pgbProgresso->setValue(int(qMin<qint64>(done, INT_MAX)));
}

void TfrmExpoPrato::serveEvents()
{
    QCoreApplication::processEvents();
}

// The package's entry point of the export screen.

TfrmExpoPrato *Cli_IMP40500::exportScreen()
{
    return g_screen.data();
}

void Cli_IMP40500::criaExpoPrat()
{
    if (!g_screen) {
        auto *screen = new TfrmExpoPrato;
        try {
            screen->showInHost();
        } catch (...) {
            delete screen;
            throw;
        }
        g_screen = screen;
        screen->medCdFilial->setFocus();
    }
    g_screen->restoreAndShow();
}

void IniProcExportacao()
{
    runAction([] { Cli_IMP40500::criaExpoPrat(); });
}
