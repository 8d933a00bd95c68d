#include "frmimpoprato.h"
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
#include <QTabBar>
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
      dtsDiretorios(&m_session.cdsDiretorios),
      dtsFilial(&m_session.qryFilial,
                {FieldDef::text(QStringLiteral("CDFILIAL"), 4, QStringLiteral("Código")),
                 FieldDef::text(QStringLiteral("NMFILIAL"), 30, QStringLiteral("Nome")),
                 FieldDef::text(QStringLiteral("IDCNTRRESC"), 1)}),
      dtsPesqServico(&m_session.serviceMap.qryPesqServico,
                     {FieldDef::text(QStringLiteral("CDSERVFILI"), 5, QStringLiteral("Código")),
                      FieldDef::text(QStringLiteral("NMSERVICO"), 40, QStringLiteral("Nome"))})
{
    setObjectName(QStringLiteral("frmImpoPrato"));
    setWindowTitle(kCaption);
    // No grid shows a recipe table: an import turns them into the packets it sends, which the
    // screen keeps for sending the same load again, so the tables and the packets are not held
    // side by side.
    m_session.KeepRecipePackets = true;
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
    buildErrorMenu();
    buildReload();
    buildShortcuts();

    netImpoPrato.ThrowException = false;
    netImpoPrato.BeforeConnect = [this](NetConnection &) { netImpoPratoBeforeConnect(this); };
    m_session.setObserver(this);

    // The dish table's own events: the flags of a new dish, the error button following the current
    // dish, the dish-code mask.
    DishTable::install(m_session.cdsPrato, [this](bool errors) {
        m_dishErrors = errors;
        // The pass inserts a row per dish line; what the button shows is settled when it ends.
        if (m_state != ScreenState::Loading)
            applyState();
    });

    connect(sbtImportExport, &QToolButton::clicked, this, [this] {
        runAction([this] { sbtImportExportClick(sbtImportExport); });
    });

    // The remembered directory's row events are the session's (they send the change to the
    // server); the screen runs them under its own names.
    MemTable &cdsDiretorios = m_session.cdsDiretorios;
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
    // The grids outlive the session (QWidget deletes them after the members): they let go of its
    // tables here; the models go with their owners below, before the session.
    dbgPrato->setDataSet(nullptr);
    dbgPrato->setModel(nullptr);
    dbgPadrao->setServiceMap(nullptr);
    // A screen freed without an accepted close (the host tearing its main window down) must not
    // leave the next IniProc holding a dead instance.
    if (frmImpoPrato == this)
        boIdCriado = false;
}

void TfrmImpoPrato::buildSide()
{
    sbtErros = new QToolButton(panBotoes);
    sbtErros->setObjectName(QStringLiteral("sbtErros"));
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

    // The session's file and branch are the fields' texts, bound here and nowhere else (the
    // branch's destination services follow the session's branch). The session hears of a change
    // before the screen's own handler runs.
    connect(medNmArquivo, &QLineEdit::textChanged, this, [this](const QString &text) { m_session.NmArquivo = text; });
    connect(medCdFilial, &QLineEdit::textChanged, this, [this](const QString &text) { m_session.CdFilial = text; });
    connect(medCdFilial, &QLineEdit::textChanged, this, [this] {
        runAction([this] { medCdFilialChange(medCdFilial); });
    });

    setTabOrder(medNmArquivo, medCdFilial);
    // The whole path, whatever part of it the field has room for.
    connect(medNmArquivo, &QLineEdit::textChanged, medNmArquivo, &QWidget::setToolTip);
}

void TfrmImpoPrato::arrangeFiltro()
{
    // At the screen's own size the controls sit where buildFiltro put them. A wider screen gives
    // the room to the file field (a path is long) and some to the branch's name, and moves the
    // branch to the right with it.
    constexpr int ownWidth = 489;
    const int extra = qMax(0, panFiltro->width() - ownWidth);
    const int name = qMin(extra / 3, 120);
    const int file = extra - name;
    medNmArquivo->setGeometry(6, 23, 232 + file, 21);
    sbtArquivo->move(240 + file, 23);
    lblFilial->move(268 + file, 6);
    medCdFilial->move(268 + file, 23);
    sbtFilial->move(310 + file, 23);
    edtNmFilial->setGeometry(334 + file, 23, 149 + name, 21);
}

void TfrmImpoPrato::buildTabs()
{
    pgcPadrao = new QTabWidget(grbDadosRel);
    pgcPadrao->setObjectName(QStringLiteral("pgcPadrao"));
    // Tab out of the parameter panel lands on the dishes, not on the tabs' titles, where the arrows
    // would do nothing the operator expects; Ctrl+PgDown and Ctrl+PgUp change the tab.
    pgcPadrao->tabBar()->setFocusPolicy(Qt::NoFocus);

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

    // Both grids are bound to the document's tables: the models watch them, nothing copies them.
    m_dishModel = std::make_unique<MemTableModel>(&m_session.cdsPrato);
    dtsPrato = m_dishModel.get();
    // The service grid tells its own refusals; the dish grid's are told here.
    connect(dtsPrato, &MemTableModel::editRefused, this, [](const QString &text) { messageSink()->showError(text); });
    dtsPrato->setObjectName(QStringLiteral("dtsPrato"));
    dbgPrato->setModel(dtsPrato);
    dbgPrato->setDataSet(&m_session.cdsPrato);
    // The pictures are copies of the hidden images', as the drawing takes them.
    dbgPrato->dishDelegate()->setPictures(imgCerto->pixmap().toImage(), imgErro->pixmap().toImage());

    m_serviceModel = std::make_unique<MemTableModel>(&m_session.cdsServico);
    dtsServico = m_serviceModel.get();
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

    errorReview = new ErrorReview(m_session.cdsPrato, {panErro, lsbErro, sbtErros, ButtonFlat1, dbgPrato}, this);
    // With the service tab in front the dish grid cannot take the focus back; its grid does.
    errorReview->setFallbackFocus([this]() -> QWidget * { return dbgPadrao; });
    errorReview->setControlCharLine([this](int row) { return m_session.controlCharLine(row); });
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
