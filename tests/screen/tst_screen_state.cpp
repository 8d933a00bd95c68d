// One consistent screen state: moves that once imported a failed load, lost a load or doubled the
// service map, each replayed on the screen over the real module and a demo destination.
#include "exportwriter.h"
#include "screenfixture.h"
#include "screeninvariants.h"

#include "servicegrid.h"

#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

namespace {

const QString kInvalido = QStringLiteral("Arquivo origem não é do tipo esperado.");

} // namespace

class ScreenStateTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enteringPanelWithServiceRowInEditLeavesNothingToImport();
    void failedLoadCannotBeImported();
    void loadAfterFailedLoadListsEachServiceOnce();
    void focusMovesOfTheWindowSystemDiscardNothing_data();
    void focusMovesOfTheWindowSystemDiscardNothing();
    void fileButtonMovesTheOperatorToTheFileField();
    void keysOnTheGridsKeepTheLoad_data();
    void keysOnTheGridsKeepTheLoad();

private:
    TfrmImpoPrato *f() const { return frmImpoPrato; }
    // The sample in the file field, the panel left by a click on the dish grid.
    void loadSample();
    QString invariants() const;

    std::unique_ptr<ScreenFixture> m_fx;
};

void ScreenStateTest::init()
{
    OPEN_SCREEN(m_fx)
    settle(2);
    QCOMPARE(QApplication::focusWidget(), f()->medNmArquivo);
    QVERIFY(f()->operatorInPanel());
}

void ScreenStateTest::cleanup()
{
    m_fx.reset();
}

QString ScreenStateTest::invariants() const
{
    // The sample's services: 10 Almoco and 30 LANCHE DA TARDE.
    return ScreenInvariants::check(f(), [](const QString &) { return QStringList{"10", "30"}; });
}

void ScreenStateTest::loadSample()
{
    f()->medNmArquivo->setText(ScreenFixture::samplePath());
    ScreenFixture::clickDishGrid(2);
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QVERIFY(f()->sbtImportExport->isEnabled());
    QCOMPARE(f()->document().cdsServico.rowCount(), 2);
}

void ScreenStateTest::enteringPanelWithServiceRowInEditLeavesNothingToImport()
{
    loadSample();
    QTabWidget *pgc = f()->pgcPadrao;
    pgc->setCurrentWidget(f()->tshPadrao);
    settle(2);
    TServiceGrid *grid = f()->dbgPadrao;
    grid->setFocus(Qt::MouseFocusReason);
    grid->setCurrentIndex(f()->dtsServico->index(0, f()->dtsServico->columnOfField(u"CDSERVFILIDEST")));
    QTest::keyClick(grid, Qt::Key_2);
    QCOMPARE(f()->document().cdsServico.state(), TableState::Edit);
    QVERIFY(!f()->sbtImportExport->isEnabled());

    // A click on the file field with the row still in edit: the load goes, and with it anything to
    // import, whatever the map's edit reports on its way out.
    QTest::mouseClick(f()->medNmArquivo, Qt::LeftButton);
    settle(2);
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::NoFile);
    QVERIFY(!f()->document().cdsPrato.isActive());
    QCOMPARE(f()->document().cdsServico.rowCount(), 0);
    QVERIFY(!f()->sbtImportExport->isEnabled());
    QVERIFY2(invariants().isEmpty(), qPrintable(invariants()));

    // A click that reaches the import anyway sends nothing.
    f()->sbtImportExportClick(f()->sbtImportExport);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("Importacao")), 0);
}

void ScreenStateTest::failedLoadCannotBeImported()
{
    // GetPrato fails after the map was built from the file's services.
    m_fx->rdm->failMethod = QStringLiteral("GetPrato");
    m_fx->rdm->failWith = QStringLiteral("Tabela PRATO indisponível.");
    f()->medNmArquivo->setText(ScreenFixture::samplePath());
    ScreenFixture::clickDishGrid(2);
    QCOMPARE(m_fx->dialogs->errors, QStringList{QStringLiteral("Tabela PRATO indisponível.")});
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::LoadFailed);
    QCOMPARE(f()->document().cdsServico.rowCount(), 0);
    QVERIFY(!f()->pgcPadrao->isTabVisible(f()->pgcPadrao->indexOf(f()->tshPadrao)));
    QVERIFY(!f()->sbtImportExport->isEnabled());
    // The panel is ready for the next file.
    QCOMPARE(QApplication::focusWidget(), f()->medNmArquivo);
    QVERIFY(f()->operatorInPanel());
    QVERIFY2(invariants().isEmpty(), qPrintable(invariants()));

    // The map's state changes, as the service tab reports them, enable nothing.
    f()->pgcPadrao->setTabVisible(f()->pgcPadrao->indexOf(f()->tshPadrao), true);
    f()->pgcPadrao->setCurrentWidget(f()->tshPadrao);
    f()->dtsServicoStateChange(f()->dtsServico);
    QVERIFY(!f()->sbtImportExport->isEnabled());

    // With the server back, the same file loads.
    m_fx->rdm->failMethod.clear();
    m_fx->dialogs->clear();
    ScreenFixture::clickDishGrid(2);
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QVERIFY2(invariants().isEmpty(), qPrintable(invariants()));
}

void ScreenStateTest::loadAfterFailedLoadListsEachServiceOnce()
{
    // The data marker on line 32, with the sample's services ahead of it: refused after the map
    // was built.
    ExportWriter w;
    const QByteArray marker = w.lines.takeLast();
    w.service(QStringLiteral("10"), QStringLiteral("Almoco"));
    w.service(QStringLiteral("30"), QStringLiteral("LANCHE DA TARDE"));
    while (w.lines.size() < 31)
        w.lines << ExportWriter::fields({"COMENTARIO"});
    w.lines << marker;
    const QString bad = m_fx->dir.filePath(QStringLiteral("marcador-32.txt"));
    QVERIFY(w.write(bad));
    f()->medNmArquivo->setText(bad);
    ScreenFixture::clickDishGrid(2);
    QCOMPARE(m_fx->dialogs->errors, QStringList{kInvalido});
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::LoadFailed);
    QCOMPARE(f()->document().cdsServico.rowCount(), 0);
    QCOMPARE(QApplication::focusWidget(), f()->medNmArquivo);

    // The sample typed into the field, the panel left: its two services, once each.
    m_fx->dialogs->clear();
    f()->medNmArquivo->selectAll();
    QTest::keyClick(f()->medNmArquivo, Qt::Key_Delete);
    QTest::keyClicks(f()->medNmArquivo, ScreenFixture::samplePath());
    ScreenFixture::clickDishGrid(2);
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QCOMPARE(f()->document().cdsServico.rowCount(), 2);
    QVERIFY2(invariants().isEmpty(), qPrintable(invariants()));

    // A paired row takes its own destination again.
    f()->pgcPadrao->setCurrentWidget(f()->tshPadrao);
    settle(2);
    TServiceGrid *grid = f()->dbgPadrao;
    const int dest = f()->dtsServico->columnOfField(u"CDSERVFILIDEST");
    int paired = -1;
    for (int r = 0; r < f()->document().cdsServico.rowCount() && paired < 0; ++r)
        if (!f()->document().cdsServico.textAt(r, 1).trimmed().isEmpty())
            paired = r;
    QVERIFY(paired >= 0);
    const QString own = f()->document().cdsServico.textAt(paired, 1);
    grid->setFocus(Qt::MouseFocusReason);
    grid->setCurrentIndex(f()->dtsServico->index(paired, dest));
    // Each key to where the focus is: the first one opens the cell's editor.
    for (QChar c : own.trimmed())
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle(2);
    QCOMPARE(m_fx->dialogs->errors.join(u'/'), QString());
    QCOMPARE(f()->document().cdsServico.state(), TableState::Browse);
    QVERIFY2(invariants().isEmpty(), qPrintable(invariants()));
}

void ScreenStateTest::focusMovesOfTheWindowSystemDiscardNothing_data()
{
    QTest::addColumn<QString>("move");
    QTest::addColumn<bool>("loaded");   // a load held before the move (else: focus in the branch)

    for (bool loaded : {false, true}) {
        const char *tail = loaded ? ", a load held" : ", in the branch field";
        QTest::newRow(qPrintable(QStringLiteral("maximise, restore") + tail)) << "maxrestore" << loaded;
        QTest::newRow(qPrintable(QStringLiteral("minimise, restore") + tail)) << "minrestore" << loaded;
        QTest::newRow(qPrintable(QStringLiteral("Qt hands the focus round") + tail)) << "qt" << loaded;
        QTest::newRow(qPrintable(QStringLiteral("main window deactivated, activated") + tail)) << "activation" << loaded;
        QTest::newRow(qPrintable(QStringLiteral("a popup closing") + tail)) << "popup" << loaded;
    }
}

void ScreenStateTest::focusMovesOfTheWindowSystemDiscardNothing()
{
    QFETCH(QString, move);
    QFETCH(bool, loaded);

    if (loaded) {
        loadSample();
        f()->dbgPrato->setFocus(Qt::MouseFocusReason);
    } else {
        f()->medNmArquivo->setText(ScreenFixture::samplePath());
        QTest::keyClick(f()->medNmArquivo, Qt::Key_Tab);
        settle(2);
        QCOMPARE(QApplication::focusWidget(), f()->medCdFilial);
    }
    settle(2);
    const int getPrato = m_fx->rdm->calls.value(QStringLiteral("GetPrato"));
    const int paramGeral = m_fx->rdm->calls.value(QStringLiteral("GetParamGeral"));
    const TfrmImpoPrato::ScreenState before = f()->screenState();
    QMdiSubWindow *sub = f()->subWindow();

    if (move == u"maxrestore") {
        sub->showMaximized();
        settle(2);
        sub->showNormal();
    } else if (move == u"minrestore") {
        sub->showMinimized();
        settle(2);
        sub->showNormal();
        m_fx->area->setActiveSubWindow(sub);
    } else if (move == u"qt") {
        // What a restore does on a real desktop: the focus to another control and back.
        QWidget *other = loaded ? static_cast<QWidget *>(f()->medCdFilial) : f()->dbgPrato;
        QWidget *back = loaded ? static_cast<QWidget *>(f()->dbgPrato) : f()->medCdFilial;
        other->setFocus(Qt::OtherFocusReason);
        settle(2);
        back->setFocus(Qt::OtherFocusReason);
    } else if (move == u"activation") {
        QWidget *back = QApplication::focusWidget();
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        elsewhere.hide();
        m_fx->main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_fx->main));
        back->setFocus(Qt::ActiveWindowFocusReason);
    } else if (move == u"popup") {
        QWidget *back = QApplication::focusWidget();
        f()->medNmArquivo->setFocus(Qt::PopupFocusReason);
        settle(2);
        back->setFocus(Qt::PopupFocusReason);
    }
    settle(2);

    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), getPrato);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetParamGeral")), paramGeral);
    QCOMPARE(f()->screenState(), before);
    QVERIFY2(invariants().isEmpty(), qPrintable(invariants()));

    // The operator's own move still counts.
    if (loaded) {
        QTest::mouseClick(f()->medCdFilial, Qt::LeftButton);
        settle(2);
        QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::NoFile);
    } else {
        f()->medCdFilial->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(f()->medCdFilial, Qt::Key_Tab);
        settle(2);
        QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
        QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), getPrato + 1);
    }
    QVERIFY2(invariants().isEmpty(), qPrintable(invariants()));
}

void ScreenStateTest::fileButtonMovesTheOperatorToTheFileField()
{
    // A branch the operator may not use, typed; then the file button, whose click puts the focus on
    // the file field: the branch field is left, and checked, although no click or Tab reached it.
    QTest::mouseClick(f()->medCdFilial, Qt::LeftButton);
    settle(2);
    f()->medCdFilial->selectAll();
    QTest::keyClicks(f()->medCdFilial, QStringLiteral("4"));
    m_fx->dialogs->openFileAnswers = {QString()};
    QTest::mouseClick(f()->sbtArquivo, Qt::LeftButton);
    settle(2);
    QCOMPARE(m_fx->dialogs->errors, QStringList{QStringLiteral("Filial não cadastrada.")});
    QCOMPARE(QApplication::focusWidget(), f()->medCdFilial);
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::NoFile);
}

void ScreenStateTest::keysOnTheGridsKeepTheLoad_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("screenStays");
    QTest::addColumn<bool>("panelOpen");

    QTest::newRow("Enter on the dish grid") << "grid" << int(Qt::Key_Return) << true << false;
    QTest::newRow("keypad Enter on the dish grid") << "grid" << int(Qt::Key_Enter) << true << false;
    QTest::newRow("Escape on the error panel") << "panel" << int(Qt::Key_Escape) << true << false;
    // Enter moves on inside the panel (to its close button); the load stays either way.
    QTest::newRow("Enter on the error panel") << "panel" << int(Qt::Key_Return) << true << true;
    // Without the panel, Escape is the base screen's: it closes the screen.
    QTest::newRow("Escape on the dish grid") << "grid" << int(Qt::Key_Escape) << false << false;
}

void ScreenStateTest::keysOnTheGridsKeepTheLoad()
{
    QFETCH(QString, where);
    QFETCH(int, key);
    QFETCH(bool, screenStays);
    QFETCH(bool, panelOpen);

    loadSample();
    // A dish with errors, current, so that the error panel has something to list.
    int bad = -1;
    const int flags = f()->document().cdsPrato.fieldIndex(u"IDERRO");
    for (int r = 0; r < f()->document().cdsPrato.rowCount() && bad < 0; ++r)
        if (f()->document().cdsPrato.textAt(r, flags).contains(u'1'))
            bad = r;
    QVERIFY(bad >= 0);
    f()->dbgPrato->setFocus(Qt::MouseFocusReason);
    f()->dbgPrato->setCurrentIndex(f()->dtsPrato->index(bad, 1));
    settle(2);
    QVERIFY(f()->sbtErros->isEnabled());
    if (where == u"panel") {
        QTest::mouseClick(f()->sbtErros, Qt::LeftButton);
        settle(2);
        QVERIFY(f()->panErro->isVisible());
        QCOMPARE(QApplication::focusWidget(), f()->lsbErro);
    }
    const int rows = f()->document().cdsPrato.rowCount();

    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    settle(2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(bool(frmImpoPrato && boIdCriado), screenStays);
    if (!screenStays)
        return;
    QCOMPARE(f()->panErro->isVisible(), panelOpen);
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QCOMPARE(f()->document().cdsPrato.rowCount(), rows);
    QVERIFY(!f()->panFiltro->isAncestorOf(QApplication::focusWidget()));
    QVERIFY(f()->sbtImportExport->isEnabled());
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), 1);
    QVERIFY2(invariants().isEmpty(), qPrintable(invariants()));
}

QTEST_MAIN(ScreenStateTest)
#include "tst_screen_state.moc"
