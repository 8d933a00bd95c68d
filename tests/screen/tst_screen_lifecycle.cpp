// The screen's lifecycle as the host drives it: IniProc, activations, closes and keys, with the
// real MDI area on the offscreen platform and a stand-in application server.
#include "fakerdm.h"
#include "destinationreader.h"
#include "hostwindow.h"
#include "seeddb.h"

#include "ambiente.h"
#include "database.h"
#include "frmimpoprato.h"
#include "consiste.h"
#include "dialogs.h"
#include "scripteddialogs.h"
#include "screenhost.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

namespace {

class CountingBusy final : public BusyIndicator {
public:
    int shows = 0;
    int hides = 0;
    QList<int> kinds;
    void show(int kind) override
    {
        ++shows;
        kinds << kind;
    }
    void hide() override { ++hides; }
};

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

class ScreenLifecycleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstActivationPrefills_data();
    void firstActivationPrefills();
    void secondIniProcRestoresAndKeepsText_data();
    void secondIniProcRestoresAndKeepsText();
    void iniProcAfterCloseCreatesFreshScreen();
    void laterActivationDoesNotPrefill();
    void failedGetDiretoriosRetriesOnNextActivation_data();
    void failedGetDiretoriosRetriesOnNextActivation();
    void moduFiliLocksBranchControls_data();
    void moduFiliLocksBranchControls();
    void closeDuringLoadIsRefused_data();
    void closeDuringLoadIsRefused();
    void keysReachBaseScreenOnlyWhenImportEnabled_data();
    void keysReachBaseScreenOnlyWhenImportEnabled();
    void failedCreationLeavesFlagFalse();
    void branchLookup_data();
    void branchLookup();
    void fileButtonStartsInRememberedDirectory_data();
    void fileButtonStartsInRememberedDirectory();
    void rendersScreenshot();

private:
    QMdiSubWindow *screenWindow() const { return frmImpoPrato ? frmImpoPrato->subWindow() : nullptr; }
    QMdiSubWindow *openNotes();
    void activate(QMdiSubWindow *w);

    QMainWindow *m_main = nullptr;
    QMdiArea *m_area = nullptr;
    ScriptedDialogs *m_dialogs = nullptr;
    CountingBusy m_busy;
    std::shared_ptr<FakeRdm> m_rdm;
    bool m_serverDown = false;
};

void ScreenLifecycleTest::initTestCase()
{
    installMessageBoxes();
    // The embedded server of this process is the stand-in (or nothing, while "down").
    setEmbeddedServerFactory([this]() -> Result<std::shared_ptr<RemoteDataModule>> {
        if (m_serverDown)
            return Failure{QStringLiteral("Servidor de aplicação fora do ar."), {}, {}};
        return std::shared_ptr<RemoteDataModule>(m_rdm);
    });
}

void ScreenLifecycleTest::init()
{
    m_dialogs = new ScriptedDialogs;
    m_rdm = std::make_shared<FakeRdm>();
    m_rdm->directories = {QStringLiteral("C:\\Exportacoes\\")};
    m_serverDown = false;
    m_busy = CountingBusy();

    signInDemoOperator();
    QVERIFY(openHostWindow(m_main, m_area));
    setBusyIndicator(&m_busy);
}

void ScreenLifecycleTest::cleanup()
{
    closeScreenAndHost(m_main);
    delete m_dialogs;
    m_dialogs = nullptr;
}

QMdiSubWindow *ScreenLifecycleTest::openNotes()
{
    QMdiSubWindow *notes = m_area->addSubWindow(new QPlainTextEdit);
    notes->show();
    return notes;
}

void ScreenLifecycleTest::activate(QMdiSubWindow *w)
{
    m_area->setActiveSubWindow(w);
    QCOMPARE(m_area->activeSubWindow(), w);
}

void ScreenLifecycleTest::firstActivationPrefills_data()
{
    QTest::addColumn<QStringList>("directories");
    QTest::addColumn<QString>("expectedFile");
    QTest::newRow("remembered directory") << QStringList{QStringLiteral("C:\\Exportacoes\\")}
                                          << QStringLiteral("C:\\Exportacoes\\");
    QTest::newRow("empty packet") << QStringList{} << QString();
}

void ScreenLifecycleTest::firstActivationPrefills()
{
    QFETCH(QStringList, directories);
    QFETCH(QString, expectedFile);
    m_rdm->directories = directories;

    IniProc();
    QVERIFY(boIdCriado);
    QVERIFY(frmImpoPrato);
    QCOMPARE(m_area->activeSubWindow(), screenWindow());
    QCOMPARE(frmImpoPrato->medNmArquivo->text(), expectedFile);
    QCOMPARE(frmImpoPrato->medCdFilial->text(), QStringLiteral("0001"));
    QCOMPARE(frmImpoPrato->edtNmFilial->text(), QStringLiteral("RESTAURANTE MATRIZ"));
    QVERIFY(!frmImpoPrato->PrimeiraAtivacao);
    QVERIFY(frmImpoPrato->netImpoPrato.connected());
    QCOMPARE(m_rdm->calls.value(QStringLiteral("GetDiretorios")), 1);
    QCOMPARE(m_busy.kinds, QList<int>{6});
    QCOMPARE(m_busy.hides, 1);
    // Created state: the service tab hidden, the import and error buttons off.
    QVERIFY(!frmImpoPrato->pgcPadrao->isTabVisible(frmImpoPrato->pgcPadrao->indexOf(frmImpoPrato->tshPadrao)));
    QVERIFY(!frmImpoPrato->sbtImportExport->isEnabled());
    QVERIFY(!frmImpoPrato->sbtErros->isEnabled());
    QCOMPARE(frmImpoPrato->size(), QSize(552, 337));
    QCOMPARE(frmImpoPrato->grbDadosRel->size(), QSize(497, 305));
    QVERIFY(m_dialogs->errors.isEmpty());
}

void ScreenLifecycleTest::secondIniProcRestoresAndKeepsText_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("minimised") << QStringLiteral("min");
    QTest::newRow("maximised") << QStringLiteral("max");
    QTest::newRow("behind another child window") << QStringLiteral("behind");
}

void ScreenLifecycleTest::secondIniProcRestoresAndKeepsText()
{
    QFETCH(QString, how);
    IniProc();
    QPointer<TfrmImpoPrato> first = frmImpoPrato;
    QMdiSubWindow *sub = screenWindow();
    QVERIFY(sub);
    frmImpoPrato->medNmArquivo->setFocus();
    frmImpoPrato->medNmArquivo->clear();
    QTest::keyClicks(frmImpoPrato->medNmArquivo, QStringLiteral("/tmp/pratos.txt"));

    QMdiSubWindow *notes = openNotes();
    if (how == QLatin1String("min"))
        sub->showMinimized();
    else if (how == QLatin1String("max"))
        sub->showMaximized();
    activate(notes);

    IniProc();
    QCOMPARE(frmImpoPrato, first.data());
    QVERIFY(first);
    QCOMPARE(m_area->subWindowList().size(), 2);
    QVERIFY(!(sub->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)));
    QCOMPARE(m_area->activeSubWindow(), sub);
    QCOMPARE(frmImpoPrato->medNmArquivo->text(), QStringLiteral("/tmp/pratos.txt"));
    QCOMPARE(m_rdm->calls.value(QStringLiteral("GetDiretorios")), 1);
}

void ScreenLifecycleTest::iniProcAfterCloseCreatesFreshScreen()
{
    IniProc();
    QPointer<TfrmImpoPrato> first = frmImpoPrato;
    frmImpoPrato->medNmArquivo->setText(QStringLiteral("/tmp/outro.txt"));
    frmImpoPrato->medCdFilial->setText(QStringLiteral("0002"));
    frmImpoPrato->document().TemRecePadr = true;

    QVERIFY(screenWindow()->close());
    QVERIFY(!boIdCriado);
    flushDeletes();
    QVERIFY(!first);
    QVERIFY(m_area->subWindowList().isEmpty());

    // The directory remembered meanwhile (by another screen, say) is what the new screen offers.
    m_rdm->directories = {QStringLiteral("D:\\Novos\\")};
    IniProc();
    QVERIFY(boIdCriado);
    QVERIFY(frmImpoPrato);
    QCOMPARE(m_area->subWindowList().size(), 1);
    QCOMPARE(frmImpoPrato->medNmArquivo->text(), QStringLiteral("D:\\Novos\\"));
    QCOMPARE(frmImpoPrato->medCdFilial->text(), QStringLiteral("0001"));
    QCOMPARE(frmImpoPrato->edtNmFilial->text(), QStringLiteral("RESTAURANTE MATRIZ"));
    QVERIFY(!frmImpoPrato->document().TemRecePadr);
    QCOMPARE(m_rdm->calls.value(QStringLiteral("GetDiretorios")), 2);
}

void ScreenLifecycleTest::laterActivationDoesNotPrefill()
{
    IniProc();
    QMdiSubWindow *sub = screenWindow();
    frmImpoPrato->medCdFilial->setText(QStringLiteral("0005"));
    frmImpoPrato->medNmArquivo->setText(QStringLiteral("/tmp/x.txt"));
    frmImpoPrato->netImpoPrato.setConnected(false);

    QMdiSubWindow *notes = openNotes();
    activate(notes);
    activate(sub);

    QCOMPARE(frmImpoPrato->medCdFilial->text(), QStringLiteral("0005"));
    QCOMPARE(frmImpoPrato->medNmArquivo->text(), QStringLiteral("/tmp/x.txt"));
    QCOMPARE(m_rdm->calls.value(QStringLiteral("GetDiretorios")), 1);
    QCOMPARE(m_busy.shows, 1);
    // The activation still asked for the connection.
    QVERIFY(frmImpoPrato->netImpoPrato.connected());
}

void ScreenLifecycleTest::failedGetDiretoriosRetriesOnNextActivation_data()
{
    QTest::addColumn<bool>("serverDown");
    QTest::newRow("server unreachable") << true;
    QTest::newRow("result rejected") << false;
}

void ScreenLifecycleTest::failedGetDiretoriosRetriesOnNextActivation()
{
    QFETCH(bool, serverDown);
    m_serverDown = serverDown;
    if (!serverDown)
        m_rdm->failWith = QStringLiteral("Diretórios indisponíveis.");
    Ambiente::instance().ModuFili = true;

    IniProc();
    QVERIFY(boIdCriado);
    QVERIFY(frmImpoPrato);
    QCOMPARE(m_dialogs->errors.size(), 1);
    if (!serverDown)
        QCOMPARE(m_dialogs->errors.first(), QStringLiteral("Diretórios indisponíveis."));
    QVERIFY(frmImpoPrato->PrimeiraAtivacao);
    QVERIFY(frmImpoPrato->medNmArquivo->text().isEmpty());
    QVERIFY(frmImpoPrato->medCdFilial->text().isEmpty());
    // The branch controls keep their state: not locked although the module works per branch.
    QVERIFY(frmImpoPrato->medCdFilial->isEnabled());
    QCOMPARE(m_busy.shows, 1);
    QCOMPARE(m_busy.hides, 1);

    // Still failing: the next activation tries again from the busy indicator on.
    auto down = std::make_unique<DownTransport>();
    DownTransport *downSeen = down.get();
    frmImpoPrato->netImpoPrato.setTransport(std::move(down));
    QMdiSubWindow *sub = screenWindow();
    QMdiSubWindow *notes = openNotes();
    activate(notes);
    activate(sub);
    QCOMPARE(downSeen->calls, 1);
    QCOMPARE(m_dialogs->errors.size(), 2);
    QVERIFY(frmImpoPrato->PrimeiraAtivacao);
    QCOMPARE(m_busy.shows, 2);
    QCOMPARE(m_busy.hides, 2);

    // Back up: the activation after that prefills and locks as the first one would have.
    m_rdm->failWith.clear();
    frmImpoPrato->netImpoPrato.setTransport(std::make_unique<InProcessTransport>(m_rdm));
    activate(notes);
    activate(sub);
    QVERIFY(!frmImpoPrato->PrimeiraAtivacao);
    QCOMPARE(frmImpoPrato->medNmArquivo->text(), QStringLiteral("C:\\Exportacoes\\"));
    QCOMPARE(frmImpoPrato->medCdFilial->text(), QStringLiteral("0001"));
    QVERIFY(!frmImpoPrato->medCdFilial->isEnabled());
    QCOMPARE(m_dialogs->errors.size(), 2);
    QCOMPARE(m_busy.shows, m_busy.hides);
}

void ScreenLifecycleTest::moduFiliLocksBranchControls_data()
{
    QTest::addColumn<bool>("moduFili");
    QTest::newRow("module per branch") << true;
    QTest::newRow("any branch") << false;
}

void ScreenLifecycleTest::moduFiliLocksBranchControls()
{
    QFETCH(bool, moduFili);
    Ambiente::instance().ModuFili = moduFili;
    IniProc();
    TfrmImpoPrato *f = frmImpoPrato;
    const QList<QWidget *> branch{f->lblFilial, f->medCdFilial, f->sbtFilial};
    for (QWidget *w : branch) {
        QCOMPARE(w->isEnabled(), !moduFili);
        QCOMPARE(tagOf(w), moduFili ? kTagFixo : 0);
    }

    // What the load pass does to the panel on its way in and out.
    SetChildEnabled(f->panFiltro, false);
    QVERIFY(!f->medNmArquivo->isEnabled());
    QVERIFY(!f->medCdFilial->isEnabled());
    SetChildEnabled(f->panFiltro, true);
    QVERIFY(f->medNmArquivo->isEnabled());
    QVERIFY(f->sbtArquivo->isEnabled());
    for (QWidget *w : branch)
        QCOMPARE(w->isEnabled(), !moduFili);
    QVERIFY(!f->edtNmFilial->isEnabled());
}

void ScreenLifecycleTest::closeDuringLoadIsRefused_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("child window closed") << QStringLiteral("window");
    QTest::newRow("exit button") << QStringLiteral("button");
    QTest::newRow("Esc") << QStringLiteral("esc");
    QTest::newRow("host closes all") << QStringLiteral("host");
}

void ScreenLifecycleTest::closeDuringLoadIsRefused()
{
    QFETCH(QString, how);
    IniProc();
    // The focus has entered the parameter panel, whose entry turns the import button off.
    flushDeletes();
    QPointer<TfrmImpoPrato> screen = frmImpoPrato;
    QPointer<QMdiSubWindow> sub = screenWindow();
    // Esc reaches the base screen only with the import button on (a file loaded).
    frmImpoPrato->sbtImportExport->setEnabled(true);
    frmImpoPrato->medNmArquivo->setFocus();

    const auto tryClose = [&] {
        if (how == QLatin1String("window"))
            sub->close();
        else if (how == QLatin1String("button"))
            QTest::mouseClick(screen->sbtCancel, Qt::LeftButton);
        else if (how == QLatin1String("esc"))
            QTest::keyClick(screen->medNmArquivo, Qt::Key_Escape);
        else
            m_area->closeAllSubWindows();
        flushDeletes();
    };

    frmImpoPrato->session().Carregando = true;
    tryClose();
    QVERIFY(screen);
    QVERIFY(sub);
    QVERIFY(boIdCriado);
    QVERIFY(sub->isVisible());
    QVERIFY(m_dialogs->errors.isEmpty());

    screen->session().Carregando = false;
    tryClose();
    QVERIFY(!boIdCriado);
    QVERIFY(!screen);
    QVERIFY(!sub);
}

void ScreenLifecycleTest::keysReachBaseScreenOnlyWhenImportEnabled_data()
{
    QTest::addColumn<bool>("importEnabled");
    QTest::addColumn<bool>("serviceTab");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("handled");

    QTest::newRow("F1, import on") << true << false << int(Qt::Key_F1) << true;
    QTest::newRow("F1, import off") << false << false << int(Qt::Key_F1) << false;
    QTest::newRow("F1, service tab in front") << true << true << int(Qt::Key_F1) << false;
    QTest::newRow("Enter, import on") << true << false << int(Qt::Key_Return) << true;
    QTest::newRow("Enter, service tab in front") << true << true << int(Qt::Key_Return) << false;
    QTest::newRow("Esc, import on") << true << false << int(Qt::Key_Escape) << true;
    QTest::newRow("Esc, import off") << false << false << int(Qt::Key_Escape) << false;
    QTest::newRow("Esc, service tab in front") << true << true << int(Qt::Key_Escape) << false;
}

void ScreenLifecycleTest::keysReachBaseScreenOnlyWhenImportEnabled()
{
    QFETCH(bool, importEnabled);
    QFETCH(bool, serviceTab);
    QFETCH(int, key);
    QFETCH(bool, handled);

    IniProc();
    flushDeletes();
    QPointer<TfrmImpoPrato> f = frmImpoPrato;
    f->sbtImportExport->setEnabled(importEnabled);
    if (serviceTab) {
        f->pgcPadrao->setTabVisible(f->pgcPadrao->indexOf(f->tshPadrao), true);
        f->pgcPadrao->setCurrentWidget(f->tshPadrao);
    }
    // Empty, the file field lets the focus go without a check.
    f->medNmArquivo->clear();
    f->medNmArquivo->setFocus();
    QCOMPARE(QApplication::focusWidget(), f->medNmArquivo);

    QTest::keyClick(f->medNmArquivo, Qt::Key(key));
    flushDeletes();

    switch (key) {
    case Qt::Key_F1:
        QCOMPARE(m_dialogs->helps.size(), handled ? 1 : 0);
        if (handled) {
            QCOMPARE(m_dialogs->helps.first().file, QStringLiteral("AdmHelp.hlp"));
            QCOMPARE(m_dialogs->helps.first().context, 13908000);
        }
        break;
    case Qt::Key_Return:
        QCOMPARE(QApplication::focusWidget() == f->medCdFilial, handled);
        break;
    case Qt::Key_Escape:
        QCOMPARE(f.isNull(), handled);
        QCOMPARE(boIdCriado, !handled);
        break;
    }
}

void ScreenLifecycleTest::failedCreationLeavesFlagFalse()
{
    // A host that lent no MDI area: the screen cannot be created.
    clearScreenHost();
    IniProc();
    QVERIFY(!boIdCriado);
    QCOMPARE(m_dialogs->errors.size(), 1);
    QVERIFY(m_area->subWindowList().isEmpty());

    setScreenHost(m_main, m_area);
    setBusyIndicator(&m_busy);
    IniProc();
    QVERIFY(boIdCriado);
    QCOMPARE(m_area->subWindowList().size(), 1);
    QCOMPARE(frmImpoPrato->medCdFilial->text(), QStringLiteral("0001"));
}

void ScreenLifecycleTest::branchLookup_data()
{
    QTest::addColumn<QString>("operador");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");

    // ADMIN may use every demo branch but 0004, which belongs to GERENTE alone.
    const QStringList admin{QStringLiteral("0001 | RESTAURANTE MATRIZ"), QStringLiteral("0002 | FILIAL CAMPINAS"),
                            QStringLiteral("0003 | FILIAL SANTOS"), QStringLiteral("0005 | COZINHA CENTRAL")};
    QTest::newRow("pick the second") << "ADMIN" << 1 << admin << "0002" << "FILIAL CAMPINAS" << QString();
    QTest::newRow("pick the last") << "ADMIN" << 3 << admin << "0005" << "COZINHA CENTRAL" << QString();
    QTest::newRow("cancel") << "ADMIN" << -1 << admin << "0001" << "RESTAURANTE MATRIZ" << QString();
    QTest::newRow("operator without branches") << "NINGUEM" << 0 << QStringList() << "0001"
                                                << "RESTAURANTE MATRIZ" << "Não há filial cadastrada";
}

void ScreenLifecycleTest::branchLookup()
{
    QFETCH(QString, operador);
    QFETCH(int, answer);
    QFETCH(QStringList, listed);
    QFETCH(QString, code);
    QFETCH(QString, name);
    QFETCH(QString, error);

    QString why;
    std::unique_ptr<SeededDb> db = SeededDb::create(SeededDb::Kind::SQLite, true, &why);
    QVERIFY2(db, qPrintable(why));
    Database::closeShared();
    Database::useDestination(Ambiente::instance(), db->url());
    Ambiente::instance().Operador = operador;

    IniProc();
    m_dialogs->lookupAnswers = {answer};
    QVERIFY(frmImpoPrato->sbtFilial->execute());

    if (listed.isEmpty()) {
        QVERIFY(m_dialogs->lookups.isEmpty());
    } else {
        QCOMPARE(m_dialogs->lookups.size(), 1);
        QCOMPARE(m_dialogs->lookups.first().title, QStringLiteral("Filial"));
        QCOMPARE(m_dialogs->lookups.first().rows, listed);
    }
    QCOMPARE(m_dialogs->errors, error.isEmpty() ? QStringList() : QStringList{error});
    QCOMPARE(frmImpoPrato->medCdFilial->text(), code);
    QCOMPARE(frmImpoPrato->edtNmFilial->text(), name);

    // Close the screen before the database goes.
    delete frmImpoPrato->subWindow();
    boIdCriado = false;
    Database::closeShared();
    Ambiente::instance().databaseUrl.clear();
}

void ScreenLifecycleTest::fileButtonStartsInRememberedDirectory_data()
{
    QTest::addColumn<QString>("remembered");
    QTest::addColumn<QString>("startsIn");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("fieldAfter");

    QTest::newRow("chosen") << "/dados/exportacoes/" << "/dados/exportacoes" << "/dados/exportacoes/p.txt"
                            << "/dados/exportacoes/p.txt";
    QTest::newRow("cancelled") << "/dados/exportacoes/" << "/dados/exportacoes" << QString()
                               << "/dados/exportacoes/";
    QTest::newRow("kept with the business system's separator") << "C:\\Exportacoes\\" << "C:\\Exportacoes"
                                                                << QString() << "C:\\Exportacoes\\";
}

void ScreenLifecycleTest::fileButtonStartsInRememberedDirectory()
{
    QFETCH(QString, remembered);
    QFETCH(QString, startsIn);
    QFETCH(QString, chosen);
    QFETCH(QString, fieldAfter);
    m_rdm->directories = {remembered};

    IniProc();
    if (!chosen.isEmpty())
        m_dialogs->openFileAnswers = {chosen};
    QVERIFY(frmImpoPrato->sbtArquivo->execute());
    QCOMPARE(m_dialogs->openDialogDirectories, QStringList{startsIn});
    QCOMPARE(frmImpoPrato->medNmArquivo->text(), fieldAfter);
    QCOMPARE(QApplication::focusWidget(), frmImpoPrato->medNmArquivo);
}

void ScreenLifecycleTest::rendersScreenshot()
{
    IniProc();
    QMdiSubWindow *sub = screenWindow();
    QVERIFY(sub);
    QCoreApplication::processEvents();
    const QImage shot = sub->grab().toImage();
    QVERIFY(!shot.isNull());
    QVERIFY(shot.width() >= 552);
    // Into the build folder; scripts/screenshots.sh points this at the documentation's pictures.
    const QString dir = qEnvironmentVariable("IMP_SCREENSHOT_DIR", QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(shot.save(dir + QStringLiteral("/screen-shell.png")));
}

QTEST_MAIN(ScreenLifecycleTest)
#include "tst_screen_lifecycle.moc"
