#include "cli_imp40500.h"
#include "actionguard.h"
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

#include <QApplication>
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

TfrmImpoPrato *frmImpoPrato = nullptr;
bool boIdCriado = false;

namespace {

const QString kCaption = QStringLiteral("Importação de Prato");

QLabel *boldLabel(QWidget *parent, const QString &objectName, const QString &caption)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(objectName);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

// The info-background colour of the fields the operator fills in (the desktop's tooltip colour).
void infoBackground(QWidget *w)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    w->setPalette(pal);
}

// A lowered panel holding a borderless scroll box that holds the grid, all filling their parent.
QFrame *gridNest(QWidget *tab, const QString &panelName, QScrollArea *&box, const QString &boxName,
                 QWidget *grid)
{
    auto *pan = new QFrame(tab);
    pan->setObjectName(panelName);
    pan->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pan->setLineWidth(1);
    auto *panLayout = new QVBoxLayout(pan);
    panLayout->setContentsMargins(3, 3, 3, 3);
    box = new QScrollArea(pan);
    box->setObjectName(boxName);
    box->setFrameShape(QFrame::NoFrame);
    // A borderless holder, never a stop of the focus: the grid inside is.
    box->setFocusPolicy(Qt::NoFocus);
    box->setWidgetResizable(true);
    box->setWidget(grid);
    panLayout->addWidget(box);
    auto *tabLayout = new QVBoxLayout(tab);
    tabLayout->setContentsMargins(0, 0, 0, 0);
    tabLayout->addWidget(pan);
    return pan;
}

// The directory part of a typed name, without its final separator ("\" or "/").
QString directoryPart(const QString &name)
{
    const qsizetype sep = qMax(name.lastIndexOf(u'\\'), name.lastIndexOf(u'/'));
    if (sep < 0)
        return QString();
    return sep == 0 ? name.left(1) : name.left(sep);
}

// "description|pattern|…" of the business system into Qt's "description (pattern);;…".
QString qtFilter(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &desc = parts[i];
        out << (desc.contains(u'(') ? desc : desc + QStringLiteral(" (") + parts[i + 1] + u')');
    }
    return out.join(QStringLiteral(";;"));
}

} // namespace

bool TOpenDialog::Execute()
{
    // The default extension is given as a pattern ("*.txt"); the dialog wants the bare suffix.
    QString suffix = DefaultExt;
    while (suffix.startsWith(u'*') || suffix.startsWith(u'.'))
        suffix.remove(0, 1);
    const QString chosen = dialogs()->getOpenFileName(Title, InitialDir, qtFilter(Filter), suffix);
    if (chosen.isEmpty())
        return false;
    FileName = chosen;
    return true;
}

TfrmImpoPrato::TfrmImpoPrato(QWidget *parent)
    : TfrmPadrImportExport(parent),
      m_session(netImpoPrato),
      cdsPrato(m_session.cdsPrato),
      cdsRecePadr(m_session.cdsRecePadr),
      cdsPratPadr(m_session.cdsPratPadr),
      cdsReceFili(m_session.cdsReceFili),
      cdsPratFili(m_session.cdsPratFili),
      cdsReceServ(m_session.cdsReceServ),
      cdsPratServ(m_session.cdsPratServ),
      cdsPesqPrato(m_session.cdsPesqPrato),
      cdsDiretorios(m_session.cdsDiretorios),
      cdsParamGeral(m_session.cdsParamGeral),
      cdsServico(m_session.cdsServico),
      cdsServDestino(m_session.cdsServDestino),
      lsbServico(m_session.lsbServico),
      lsbEstrutura(m_session.lsbEstrutura),
      qryFilial(m_session.qryFilial),
      qryPesqServico(m_session.serviceMap.qryPesqServico),
      dtsDiretorios(&m_session.cdsDiretorios),
      dtsFilial(&m_session.qryFilial,
                {FieldDef::text(QStringLiteral("CDFILIAL"), 4, QStringLiteral("Código")),
                 FieldDef::text(QStringLiteral("NMFILIAL"), 30, QStringLiteral("Nome")),
                 FieldDef::text(QStringLiteral("IDCNTRRESC"), 1)}),
      dtsPesqServico(&m_session.serviceMap.qryPesqServico,
                     {FieldDef::text(QStringLiteral("CDSERVFILI"), 5, QStringLiteral("Código")),
                      FieldDef::text(QStringLiteral("NMSERVICO"), 40, QStringLiteral("Nome"))}),
      Carregando(m_session.Carregando),
      TemRecePadr(m_session.TemRecePadr),
      TemReceFili(m_session.TemReceFili),
      TemReceServ(m_session.TemReceServ)
{
    setObjectName(QStringLiteral("frmImpoPrato"));
    setWindowTitle(kCaption);
    Left = 278;
    Top = 106;
    ClientSize = QSize(552, 337);
    HelpFile = QStringLiteral("AdmHelp.hlp");
    HelpContext = 13908000;
    lblCodTela->setText(QStringLiteral("IMP40500"));
    odgEfetivos.Title = QStringLiteral("Abrir");
    odgEfetivos.Filter = QStringLiteral("Documento texto (*.txt)|*.txt");
    odgEfetivos.DefaultExt = QStringLiteral("*.txt");

    dtsFilial.displayFields = {QStringLiteral("CDFILIAL"), QStringLiteral("NMFILIAL")};
    dtsPesqServico.displayFields = {QStringLiteral("CDSERVFILI"), QStringLiteral("NMSERVICO")};

    buildSide();
    buildFiltro();
    buildTabs();
    buildErro();

    netImpoPrato.ThrowException = false;
    netImpoPrato.BeforeConnect = [this](NetConnection &) { netImpoPratoBeforeConnect(this); };
    m_session.setObserver(this);
    m_session.serviceMap.CdFilialDestino = [this] { return medCdFilial->text(); };

    // The dish table's own events: the flags of a new dish, the error button following the current
    // dish, the dish-code mask.
    DishTable::install(cdsPrato, [this](bool errors) {
        m_dishErrors = errors;
        // The pass inserts a row per dish line; what the button shows is settled when it ends.
        if (m_state != ScreenState::Loading)
            applyState();
    });

    ImportRunHooks hooks;
    hooks.disableImportButton = [this] { applyState(); };
    hooks.errorPanelShowing = [this] { return errorReview->panelShowing(); };
    hooks.lsbErroExit = [this] { errorReview->lsbErroExit(); };
    hooks.setFiltroEnabled = [this](bool on) {
        m_importLock = !on;
        applyState();
    };
    hooks.setStatusText = [this](const QString &text) { setStatusText(text); };
    hooks.setProgress = [this](int position) { pgbProgresso->setValue(position); };
    hooks.repaint = [this] { repaint(); };
    hooks.cdFilial = [this] { return medCdFilial->text(); };
    m_importRun = std::make_unique<ImportRun>(m_session, std::move(hooks));
    connect(sbtImportExport, &QToolButton::clicked, this, [this] {
        runAction([this] { sbtImportExportClick(sbtImportExport); });
    });

    // The remembered directory's row events are the session's (they send the change to the
    // server); the screen runs them under its own names.
    m_diretoriosBeforePost = cdsDiretorios.events.beforePost;
    m_diretoriosAfterPost = cdsDiretorios.events.afterPost;
    cdsDiretorios.events.beforePost = [this](MemTable &t) { cdsDiretoriosBeforePost(t); };
    cdsDiretorios.events.afterPost = [this](MemTable &t) { cdsDiretoriosAfterPost(t); };

    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) { onFocusChanged(now); });
    // Any change of the map's rows (the build, the panel's entry) can show or hide the tab.
    connect(dtsServico, &QAbstractItemModel::modelReset, this, [this] {
        if (m_state != ScreenState::Loading)
            applyState();
    });

    resize(ClientSize);
    FormCreate(this);
    applyState();
}

TfrmImpoPrato::~TfrmImpoPrato()
{
    m_session.setObserver(nullptr);
    // The grids' models watch the session's tables, which go with the members, before QWidget
    // deletes the children: the models must go first.
    dbgPrato->setDataSet(nullptr);
    dbgPrato->setModel(nullptr);
    dbgPadrao->setServiceMap(nullptr);
    delete dtsPrato;
    delete dtsServico;
    // A screen freed without an accepted close (the host tearing its main window down) must not
    // leave the next IniProc holding a dead instance.
    if (frmImpoPrato == this)
        boIdCriado = false;
}

void TfrmImpoPrato::buildSide()
{
    sbtImportExport->setToolTip(QStringLiteral("Importar"));

    sbtErros = new QToolButton(panBotoes);
    sbtErros->setObjectName(QStringLiteral("sbtErros"));
    sbtErros->setToolTip(QStringLiteral("Verificar Erros"));
    sbtErros->setAutoRaise(true);
    sbtErros->setFocusPolicy(Qt::NoFocus);
    sbtErros->setIcon(QIcon(Glyphs::transparent(Glyphs::erros())));
    sbtErros->setIconSize(QSize(16, 16));
    sbtErros->setGeometry(4, 26, 41, 22);
    sbtErros->setEnabled(false);

    imgCheck = Glyphs::hiddenPicture(panMenu, QStringLiteral("imgCheck"), QPixmap::fromImage(DishPictures::check()));
    imgUncheck = Glyphs::hiddenPicture(panMenu, QStringLiteral("imgUncheck"), QPixmap::fromImage(DishPictures::uncheck()));
    imgCerto = Glyphs::hiddenPicture(panMenu, QStringLiteral("imgCerto"), QPixmap::fromImage(DishPictures::certo()));
    imgErro = Glyphs::hiddenPicture(panMenu, QStringLiteral("imgErro"), QPixmap::fromImage(DishPictures::erro()));
}

void TfrmImpoPrato::buildFiltro()
{
    panFiltro = new QFrame(grbDadosRel);
    panFiltro->setObjectName(QStringLiteral("panFiltro"));
    panFiltro->setFrameShape(QFrame::NoFrame);
    panFiltro->setFixedHeight(52);

    lblArquivo = boldLabel(panFiltro, QStringLiteral("lblArquivo"), QStringLiteral("Arquivo Origem"));
    lblArquivo->setGeometry(6, 6, 200, 15);
    medNmArquivo = new QLineEdit(panFiltro);
    medNmArquivo->setObjectName(QStringLiteral("medNmArquivo"));
    medNmArquivo->setGeometry(6, 23, 232, 21);
    infoBackground(medNmArquivo);
    sbtArquivo = new TBtnPesquisa(panFiltro);
    sbtArquivo->setObjectName(QStringLiteral("sbtArquivo"));
    sbtArquivo->setGeometry(240, 23, 22, 21);
    sbtArquivo->Associate = medNmArquivo;
    sbtArquivo->DataSource = &dtsDiretorios;
    sbtArquivo->OnClick = [this](QObject *sender) { sbtArquivoClick(sender); };

    lblFilial = boldLabel(panFiltro, QStringLiteral("lblFilial"), QStringLiteral("Filial Destino"));
    lblFilial->setGeometry(268, 6, 120, 15);
    medCdFilial = new QLineEdit(panFiltro);
    medCdFilial->setObjectName(QStringLiteral("medCdFilial"));
    medCdFilial->setGeometry(268, 23, 40, 21);
    // Up to four digits; only the digits are kept.
    // Up to four digits, none required, a blank shown as a space (the business system's
    // "9999;0; "); text() gives the digits typed, without the blanks.
    medCdFilial->setInputMask(QStringLiteral("0000; "));
    medCdFilial->setMaxLength(4);
    infoBackground(medCdFilial);
    sbtFilial = new TBtnPesquisa(panFiltro);
    sbtFilial->setObjectName(QStringLiteral("sbtFilial"));
    sbtFilial->setGeometry(310, 23, 22, 21);
    sbtFilial->Associate = medCdFilial;
    sbtFilial->DataSource = &dtsFilial;
    sbtFilial->Title = QStringLiteral("Filial");
    sbtFilial->EmptyError = QStringLiteral("Não há filial cadastrada");
    sbtFilial->OnBeforePesq = [this](QObject *sender, bool &proceed) { sbtFilialBeforePesq(sender, proceed); };
    sbtFilial->OnAfterPesq = [this](QObject *sender) { sbtFilialAfterPesq(sender); };

    edtNmFilial = new QLineEdit(panFiltro);
    edtNmFilial->setObjectName(QStringLiteral("edtNmFilial"));
    edtNmFilial->setGeometry(334, 23, 149, 21);
    edtNmFilial->setEnabled(false);
    {
        QPalette pal = edtNmFilial->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            pal.setColor(group, QPalette::Base, pal.color(QPalette::Active, QPalette::Button));
        edtNmFilial->setPalette(pal);
    }
    // The name only shows the branch; re-enabling the panel after a load must not make it editable.
    setTag(edtNmFilial, kTagFixo);
    // Shown from its start: a long name would otherwise show only its end.
    connect(edtNmFilial, &QLineEdit::textChanged, edtNmFilial, [this] { edtNmFilial->setCursorPosition(0); });

    connect(medCdFilial, &QLineEdit::textChanged, this, [this] {
        runAction([this] { medCdFilialChange(medCdFilial); });
    });

    setTabOrder(medNmArquivo, medCdFilial);
}

void TfrmImpoPrato::buildTabs()
{
    pgcPadrao = new QTabWidget(grbDadosRel);
    pgcPadrao->setObjectName(QStringLiteral("pgcPadrao"));

    tshPrato = new QWidget;
    tshPrato->setObjectName(QStringLiteral("tshPrato"));
    dbgPrato = new TDishGrid;
    dbgPrato->setObjectName(QStringLiteral("dbgPrato"));
    Panel1 = gridNest(tshPrato, QStringLiteral("Panel1"), ScrollBox1, QStringLiteral("ScrollBox1"), dbgPrato);
    pgcPadrao->addTab(tshPrato, QStringLiteral("Prato"));

    tshPadrao = new QWidget;
    tshPadrao->setObjectName(QStringLiteral("tshPadrao"));
    dbgPadrao = new TServiceGrid;
    dbgPadrao->setObjectName(QStringLiteral("dbgPadrao"));
    panGrid = gridNest(tshPadrao, QStringLiteral("panGrid"), sclGrid, QStringLiteral("sclGrid"), dbgPadrao);
    pgcPadrao->addTab(tshPadrao, QStringLiteral("Serviço"));

    dtsPrato = new MemTableModel(&cdsPrato, this);
    dtsPrato->setObjectName(QStringLiteral("dtsPrato"));
    dbgPrato->setModel(dtsPrato);
    dbgPrato->setDataSet(&cdsPrato);
    // The pictures are copies of the hidden images', as the drawing takes them.
    dbgPrato->dishDelegate()->setPictures(imgCerto->pixmap().toImage(), imgErro->pixmap().toImage());

    dtsServico = new MemTableModel(&cdsServico, this);
    dtsServico->setObjectName(QStringLiteral("dtsServico"));
    dbgPadrao->setServiceMap(&m_session.serviceMap, dtsServico);
    // The cell button lists the destination branch's services in the screen's lookup.
    dbgPadrao->setLookup([this](ReadOnlyQuery &, const QString &caption) -> std::optional<ServiceChoice> {
        if (!Pesquisar(dtsPesqServico, caption, false, true))
            return std::nullopt;
        const MemTable *picked = dtsPesqServico.table();
        return ServiceChoice{picked->text(QStringView(u"CDSERVFILI")), picked->text(QStringView(u"NMSERVICO"))};
    });
    connect(dbgPadrao, &TServiceGrid::stateChange, this, [this] {
        runAction([this] { dtsServicoStateChange(dtsServico); });
    });

    auto *layout = new QVBoxLayout(grbDadosRel);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(0);
    layout->addWidget(panFiltro);
    layout->addWidget(pgcPadrao, 1);
}

void TfrmImpoPrato::buildErro()
{
    panErro = new QFrame(grbDadosRel);
    panErro->setObjectName(QStringLiteral("panErro"));
    panErro->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panErro->setLineWidth(2);
    panErro->setGeometry(59, 114, 395, 126);
    panErro->setAutoFillBackground(true);

    Panel3 = new QLabel(QStringLiteral("  Verificar Erros"), panErro);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Panel3->setAutoFillBackground(true);
    {
        QPalette pal = Panel3->palette();
        pal.setColor(QPalette::Window, pal.color(QPalette::Active, QPalette::Highlight));
        pal.setColor(QPalette::WindowText, pal.color(QPalette::Active, QPalette::HighlightedText));
        Panel3->setPalette(pal);
        QFont f(QStringLiteral("MS Sans Serif"));
        f.setPointSize(8);
        f.setBold(true);
        f.setStyleHint(QFont::SansSerif);
        Panel3->setFont(f);
    }
    Panel3->setGeometry(4, 4, 395 - 8, 18);

    ButtonFlat1 = new QToolButton(panErro);
    ButtonFlat1->setObjectName(QStringLiteral("ButtonFlat1"));
    ButtonFlat1->setToolTip(QStringLiteral("Fechar"));
    ButtonFlat1->setAutoRaise(true);
    ButtonFlat1->setIcon(QIcon(Glyphs::transparent(Glyphs::fechar())));
    ButtonFlat1->setGeometry(373, 5, 17, 17);

    Panel2 = new QFrame(panErro);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel2->setGeometry(4, 22, 395 - 8, 126 - 26);
    auto *l = new QVBoxLayout(Panel2);
    l->setContentsMargins(1, 1, 1, 1);
    lsbErro = new QListWidget(Panel2);
    lsbErro->setObjectName(QStringLiteral("lsbErro"));
    lsbErro->setFrameShape(QFrame::NoFrame);
    l->addWidget(lsbErro);

    panErro->hide();
    panErro->raise();

    errorReview = new ErrorReview(cdsPrato, {panErro, lsbErro, sbtErros, ButtonFlat1, dbgPrato}, this);
    // With the service tab in front the dish grid cannot take the focus back; its grid does.
    errorReview->setFallbackFocus([this]() -> QWidget * { return dbgPadrao; });
    errorReview->setControlCharLine([this](int row) { return m_session.controlCharLine(row); });
}

void TfrmImpoPrato::FormCreate(QObject *sender)
{
    TfrmPadrImportExport::FormCreate(sender);
    PrimeiraAtivacao = true;
    sbtImportExport->setIcon(QIcon(Glyphs::transparent(importPicture())));
    TemRecePadr = false;
    TemReceFili = false;
    TemReceServ = false;
    // The service tab shows once a load pass has built the service map.
    pgcPadrao->setTabVisible(pgcPadrao->indexOf(tshPadrao), false);
}

void TfrmImpoPrato::FormActivate(QObject *)
{
    repaint();
    netImpoPrato.setConnected(true);
    if (!PrimeiraAtivacao)
        return;

    ActiveShowAvi(6);
    try {
        const QByteArray packet = CheckResultServ(Rdm::GetDiretorios(netImpoPrato), true, 0);
        const Status loaded = DataPacket::load(cdsDiretorios, packet);
        if (!loaded.ok())
            MensErro(loaded.error());
    } catch (...) {
        DeactiveShowAvi();
        throw;
    }
    DeactiveShowAvi();

    medNmArquivo->setText(cdsDiretorios.isEmpty() ? QString()
                                                   : cdsDiretorios.text(QStringView(u"DSDIRETORIO")));
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
    const Ambiente &amb = Ambiente::instance();
    netImpoPrato.Port = amb.WebPort;
    netImpoPrato.Host = amb.WebURL;
}

void TfrmImpoPrato::FormClose(QObject *sender, CloseAction &action)
{
    netImpoPrato.setConnected(true);
    // The load pass lets the event loop run after each line; the screen must outlive it.
    if (Carregando) {
        action = CloseAction::None;
        return;
    }
    boIdCriado = false;
    TfrmPadrImportExport::FormClose(sender, action);
}

void TfrmImpoPrato::FormKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift)
{
    // Escape on the floating error panel closes the panel, not the screen.
    if (key == Qt::Key_Escape && errorReview->panelShowing()) {
        key = 0;
        errorReview->ButtonFlat1Click();
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
    qryFilial.close();
    qryFilial.setParam(QStringLiteral("P_CDFILIAL"), QString());
    qryFilial.setParam(QStringLiteral("P_TCDFILIAL"), QStringLiteral("T"));
    qryFilial.setParam(QStringLiteral("P_CDOPERADOR"), Ambiente::instance().Operador);
    qryFilial.open();
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
    // The session puts the focus back on medNmArquivo when the check fails, and remembers the
    // directory (cdsDiretorios, posted through the handlers below) when it passes.
    m_session.NmArquivo = medNmArquivo->text();
    m_session.Vd_Arquivo(required);
}

void TfrmImpoPrato::medCdFilialExit(QObject *)
{
    Vd_CdFilial(false);
}

void TfrmImpoPrato::Vd_CdFilial(bool required)
{
    m_session.CdFilial = medCdFilial->text();
    // The canonical code goes back into the field whatever the check says, before the focus goes
    // back to it on a failure.
    const auto writeBack = [this] {
        if (medCdFilial->text() != m_session.CdFilial)
            medCdFilial->setText(m_session.CdFilial);
    };
    QString nome;
    try {
        nome = m_session.Vd_CdFilial(required, Ambiente::instance().Operador);
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
    // The pass unlocks both containers on every way out; a failure leaves the import button off.
    try {
        Grava_Tabelas();
    } catch (...) {
        discardFailedLoad();
        throw;
    }
    m_loadLock = false;
    setState(ScreenState::Loaded);
}

void TfrmImpoPrato::discardFailedLoad()
{
    // Nothing of a failed pass can be imported or reviewed: its tables and its map go as when the
    // panel is entered, and the focus waits in the panel for the next file.
    m_loadLock = false;
    m_dishErrors = false;
    setState(ScreenState::LoadFailed);
    m_session.closeLoadedTables();
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
    const TableState mapState = cdsServico.isActive() ? cdsServico.state() : TableState::Inactive;
    const bool mapEditing = mapState == TableState::Edit || mapState == TableState::Insert;
    const bool holdsLoad = m_state == ScreenState::Loading || m_state == ScreenState::Loaded
                           || m_state == ScreenState::Importing || m_state == ScreenState::Imported;

    // Only a completed load is imported, and never with a map row half edited.
    sbtImportExport->setEnabled(m_state == ScreenState::Loaded && !mapEditing);
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
    // Only what a completed load put into the tables goes to the server.
    if (m_state != ScreenState::Loaded)
        return;
    setState(ScreenState::Importing);
    // Focus moves the import makes (closing the error panel, locking the panel) are its own.
    m_inPanelHandler = true;
    try {
        m_importRun->sbtImportExportClick();
    } catch (...) {
        m_inPanelHandler = false;
        m_importLock = false;
        setState(ScreenState::Imported);
        throw;
    }
    m_inPanelHandler = false;
    m_importLock = false;
    setState(ScreenState::Imported);
}

void TfrmImpoPrato::dtsServicoStateChange(QObject *)
{
    // Every state of the map is reflected; a row half edited locks the dishes and the import
    // until it is posted or cancelled. On the map's own tab, a row settled after an import lets
    // the same tables be sent again: they are still the completed load's.
    const TableState state = cdsServico.state();
    const bool editing = state == TableState::Edit || state == TableState::Insert;
    if (m_state == ScreenState::Imported && !editing && pgcPadrao->currentWidget() == tshPadrao)
        m_state = ScreenState::Loaded;
    if (m_state != ScreenState::Loading)
        applyState();
}

void TfrmImpoPrato::Grava_Tabelas()
{
    m_session.NmArquivo = medNmArquivo->text();
    m_session.CdFilial = medCdFilial->text();
    m_session.Grava_Tabelas();
}

bool TfrmImpoPrato::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    const bool input = type == QEvent::KeyPress || type == QEvent::MouseButtonPress
                       || type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick;
    if (!watched->isWidgetType() || (type != QEvent::FocusIn && !input))
        return TfrmPadrImportExport::eventFilter(watched, event);
    auto *w = static_cast<QWidget *>(watched);
    if (type == QEvent::FocusIn) {
        if (isAncestorOf(w)) {
            // Qt hands the focus on "by Tab" on its own too (a focused control hidden or disabled,
            // a child window maximised or restored): only a move made while the operator's key or
            // click is being delivered is his (a click moves it, a Tab, or the handler of what he
            // clicked: the file button puts it on the file field).
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            const bool handed = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason
                                || reason == Qt::ShortcutFocusReason || reason == Qt::OtherFocusReason;
            m_focusInWidget = w;
            m_focusInByOperator = reason == Qt::MouseFocusReason || (handed && m_inputBeingDelivered);
        }
        return TfrmPadrImportExport::eventFilter(watched, event);
    }
    if (!m_inputBeingDelivered && (w == this || isAncestorOf(w))) {
        // Cleared once the key or click has been delivered, with every focus move it made.
        m_inputBeingDelivered = true;
        QMetaObject::invokeMethod(this, [this] { m_inputBeingDelivered = false; }, Qt::QueuedConnection);
    }
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonPress)
        return TfrmPadrImportExport::eventFilter(watched, event);
    // A key reaches the control that has the focus; a click, the control under the mouse. A
    // modifier alone, a function key (the help) or Escape (the screen's close) does nothing to the
    // panel.
    if (!m_inPanel && panFiltro->isAncestorOf(w)) {
        bool touches = type == QEvent::MouseButtonPress;
        if (type == QEvent::KeyPress && w == QApplication::focusWidget()) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            touches = key != Qt::Key_Escape && !(key >= Qt::Key_Shift && key <= Qt::Key_ScrollLock)
                      && !(key >= Qt::Key_F1 && key <= Qt::Key_F35);
        }
        if (touches)
            operatorTouchesPanel(w);
    }
    return TfrmPadrImportExport::eventFilter(watched, event);
}

void TfrmImpoPrato::operatorTouchesPanel(QWidget *target)
{
    if (m_inPanelHandler || m_state == ScreenState::Loading || m_state == ScreenState::Importing)
        return;
    if (!target->isEnabled() || !target->isVisible())
        return;
    // A click on a label or on the panel's background is no visit; a lookup button serves its
    // field, where its click puts the focus.
    QWidget *field = target;
    if (auto *button = qobject_cast<TBtnPesquisa *>(target))
        field = button->Associate;
    else if (!(target->focusPolicy() & Qt::ClickFocus))
        return;
    if (!field)
        return;
    m_inPanelHandler = true;
    runAction([this] { panFiltroEnter(panFiltro); });
    m_inPanelHandler = false;
    m_inPanel = true;
    m_focusSeen = true;
    m_lastFocus = field;
}

void TfrmImpoPrato::onFocusChanged(QWidget *now)
{
    // The handlers' own focus moves are theirs; they are settled once the handler is done.
    if (m_inPanelHandler || m_focusMovePending)
        return;
    if (!now || !isAncestorOf(now))
        return;
    // Settled once Qt is done moving the focus: hiding the focused grid (a change of tab) or
    // closing the error panel passes the focus through other controls, the parameter panel's
    // among them, before it comes to rest. Only where it rests counts.
    m_focusMovePending = true;
    QMetaObject::invokeMethod(this, [this] {
        m_focusMovePending = false;
        settleFocusMove();
    }, Qt::QueuedConnection);
}

void TfrmImpoPrato::settleFocusMove()
{
    if (m_inPanelHandler)
        return;
    // Only a move between two controls of this screen counts. A message box or a lookup holding
    // the focus, another child window in front, the application without the focus: the control
    // stays this screen's focused control and gets the focus back later, which is no move either.
    QWidget *now = QApplication::focusWidget();
    if (!now || !isAncestorOf(now))
        return;
    if (!m_focusSeen) {
        // The screen's first focus (IniProc puts it on the file field) is where the operator
        // starts, no move.
        m_focusSeen = true;
        m_lastFocus = now;
        m_inPanel = panFiltro->isAncestorOf(now);
        return;
    }
    // A move that Qt or the window system made (an activation, a restore or maximise, a message
    // box or lookup closing, a hidden control handing the focus on) leaves the operator where he
    // was: it neither checks a field nor enters or leaves the panel.
    const bool operatorMove = m_focusInWidget == now && m_focusInByOperator;
    if (!operatorMove)
        return;
    QWidget *from = m_lastFocus;
    m_lastFocus = now;
    if (from == now)
        return;

    const bool wasIn = m_inPanel;
    const bool isIn = panFiltro->isAncestorOf(now);
    if (!wasIn && !isIn)
        return;

    m_inPanelHandler = true;
    runAction([&] {
        if (wasIn) {
            // The field's own exit first, then, leaving the panel, the panel's: the field is
            // checked twice on the way out. A refused field keeps the focus and nothing more runs.
            if (from && from == medNmArquivo)
                medNmArquivoExit(medNmArquivo);
            else if (from && from == medCdFilial)
                medCdFilialExit(medCdFilial);
            if (!isIn)
                panFiltroExit(panFiltro);
        } else {
            panFiltroEnter(panFiltro);
        }
    });
    m_inPanelHandler = false;
    // Where the handler left the focus (a refused field, or where the operator went) is where the
    // next move starts from.
    if (QWidget *f = QApplication::focusWidget(); f && isAncestorOf(f)) {
        m_lastFocus = f;
        m_inPanel = panFiltro->isAncestorOf(f);
    } else {
        m_inPanel = isIn;
    }
}

// What the load pass shows.

void TfrmImpoPrato::setProgressRange(int maximum)
{
    // A file too short to hold data lines gives a negative total; the bar then just stays empty
    // rather than turning into a "busy" bar (a zero range).
    m_progress = 0;
    pgbProgresso->setRange(0, qMax(1, maximum));
    pgbProgresso->setValue(0);
}

void TfrmImpoPrato::setProgress(int position)
{
    m_progress = position;
}

void TfrmImpoPrato::setStatusText(const QString &text)
{
    TfrmPadrImportExport::setStatusText(text);
}

void TfrmImpoPrato::serveEvents()
{
    pgbProgresso->setValue(qBound(pgbProgresso->minimum(), m_progress, pgbProgresso->maximum()));
    ProcessaMensagens();
}

void TfrmImpoPrato::setPanelsEnabled(bool enabled)
{
    // The pass locks both containers and unlocks them on every way out (before its own refusal's
    // message too, so that the file field can take the focus).
    m_loadLock = !enabled;
    applyState();
}

void TfrmImpoPrato::focusArquivo()
{
    medNmArquivo->setFocus();
}

void TfrmImpoPrato::focusFilial()
{
    // With a per-branch module the branch field is locked; the file field takes the focus then.
    if (medCdFilial->isEnabled())
        medCdFilial->setFocus();
    else
        medNmArquivo->setFocus();
}

void TfrmImpoPrato::enableErrors()
{
    m_dishErrors = true;
}

void TfrmImpoPrato::showServiceTab()
{
    // The map of this pass has rows now.
    applyState();
}

// The package's entry points.

void Cli_IMP40500::criaImpoPrat()
{
    if (!boIdCriado) {
        // Set first, as the business system does; a creation that fails puts it back so that the
        // next IniProc tries again instead of reaching for a screen that does not exist.
        boIdCriado = true;
        TfrmImpoPrato *screen = nullptr;
        try {
            screen = new TfrmImpoPrato;
            screen->showInHost();
        } catch (...) {
            delete screen;
            boIdCriado = false;
            throw;
        }
        frmImpoPrato = screen;
        frmImpoPrato->medNmArquivo->setFocus();
    }
    frmImpoPrato->restoreAndShow();
}

void CriaImpoPrat()
{
    runAction([] { Cli_IMP40500::criaImpoPrat(); });
}

void IniProc()
{
    runAction([] { Cli_IMP40500::criaImpoPrat(); });
}
