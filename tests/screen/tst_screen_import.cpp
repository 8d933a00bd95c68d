// The whole job on the screen: the sample file picked through the open dialog, branch 0001, the
// load, the review of a dish with errors, the service tab and the import, with the real module
// writing into a demo destination. Renders the documentation's pictures on the way.
#include "screenfixture.h"

#include "dbprobe.h"
#include "exportwriter.h"

#include "errorreview.h"
#include "memtable.h"
#include "memtablemodel.h"
#include "servicegrid.h"

#include <QCryptographicHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QSqlQuery>
#include <QTabWidget>
#include <QToolButton>

namespace {

struct DishRow {
    QString code;
    QString name;
    bool errors = false;
};

} // namespace

class ScreenImportTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sampleFromPickToImport();
    void errorPanelFromTheScreen();
    void serviceEditLocksDishTabAndImport();
    void nextLoadsAfterAnImport();
    void pairingOnTheGridReachesTheImport();
    void wholeJobByKeys();

private:
    TfrmImpoPrato *f() const { return frmImpoPrato; }
    // Picks the file (the sample by default) in the open dialog and leaves the panel by Tab: the
    // load runs.
    void loadSample(const QString &path = ScreenFixture::samplePath());
    QList<DishRow> dishes() const;
    int rowOf(const QString &code) const;
    void shoot(const QString &name);

    std::unique_ptr<ScreenFixture> m_fx;
};

void ScreenImportTest::init()
{
    OPEN_SCREEN(m_fx)
    settle();
}

void ScreenImportTest::cleanup()
{
    m_fx.reset();
}

void ScreenImportTest::loadSample(const QString &path)
{
    m_fx->dialogs->openFileAnswers = {path};
    QTest::mouseClick(f()->sbtArquivo, Qt::LeftButton);
    QCOMPARE(f()->medNmArquivo->text(), path);
    QCOMPARE(QApplication::focusWidget(), f()->medNmArquivo);
    QCOMPARE(f()->medCdFilial->text(), QStringLiteral("0001"));

    QTest::keyClick(f()->medNmArquivo, Qt::Key_Tab);
    settle();
    QCOMPARE(QApplication::focusWidget(), f()->medCdFilial);
    QTest::keyClick(f()->medCdFilial, Qt::Key_Tab);
    settle();
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QVERIFY(!f()->panFiltro->isAncestorOf(QApplication::focusWidget()));
    QVERIFY(f()->sbtImportExport->isEnabled());
}

QList<DishRow> ScreenImportTest::dishes() const
{
    const MemTable &t = f()->document().cdsPrato;
    const int code = t.fieldIndex(u"CDPRATO"), name = t.fieldIndex(u"NMPRATO"), flags = t.fieldIndex(u"IDERRO");
    QList<DishRow> out;
    for (int r = 0; r < t.rowCount(); ++r)
        out << DishRow{t.textAt(r, code), t.textAt(r, name), t.textAt(r, flags).contains(u'1')};
    return out;
}

int ScreenImportTest::rowOf(const QString &code) const
{
    const QList<DishRow> all = dishes();
    for (int r = 0; r < all.size(); ++r)
        if (all[r].code == code)
            return r;
    return -1;
}

void ScreenImportTest::shoot(const QString &name)
{
    settle();
    const QImage shot = f()->subWindow()->grab().toImage();
    QVERIFY(!shot.isNull());
    // Into the build folder; scripts/screenshots.sh points this at the documentation's pictures.
    const QString dir = qEnvironmentVariable("IMP_SCREENSHOT_DIR", QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(shot.save(dir + u'/' + name));
}

void ScreenImportTest::sampleFromPickToImport()
{
    loadSample();

    // The dish grid: the four columns in order under their titles, a row per dish of the file.
    const QList<DishRow> all = dishes();
    QVERIFY(all.size() >= 4);
    QCOMPARE(f()->dbgPrato->model()->rowCount(), all.size());
    QStringList titles;
    QHeaderView *header = f()->dbgPrato->horizontalHeader();
    for (int v = 0; v < header->count(); ++v) {
        const int logical = header->logicalIndex(v);
        if (!f()->dbgPrato->isColumnHidden(logical))
            titles << TDishGrid::columnTitle(f()->dbgPrato->model(), logical);
    }
    QCOMPARE(titles, (QStringList{"Ok", "Código", "Nome", "Árvore"}));
    const QModelIndex code = f()->dtsPrato->index(0, f()->dtsPrato->columnOfField(u"CDPRATO"));
    QCOMPARE(code.data(MemTableModel::EditMaskRole).toString(), QStringLiteral("999.999"));
    QCOMPARE(f()->dtsPrato->index(0, f()->dtsPrato->columnOfField(u"CDFILAUXPRAT")).data().toString(),
             QStringLiteral("Padrão"));

    int withErrors = 0;
    QStringList refused; // through the destination's mask, as the message names them
    for (const DishRow &d : all) {
        withErrors += d.errors;
        if (d.errors)
            refused << d.code.left(3) + u'.' + d.code.mid(3);
    }
    QVERIFY2(withErrors > 0 && withErrors < all.size(), "the sample has dishes with and without errors");

    f()->dbgPrato->setFocus();
    f()->dbgPrato->scrollToTop();
    shoot(QStringLiteral("dish-grid.png"));

    QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
    settle();
    QVERIFY(refused.size() <= 10);
    const QString summary = QStringLiteral("A importação foi realizada com sucesso.\n"
                                           "Pratos gravados: %1. Não gravados por conterem erros: %2 (%3).")
                                .arg(all.size() - withErrors)
                                .arg(withErrors)
                                .arg(refused.join(QStringLiteral(", ")));
    QCOMPARE(m_fx->dialogs->infos, QStringList{summary});
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("Importacao")), 1);

    // The screen after the import: quiet, the panel usable, the button off, the dishes still shown.
    QVERIFY(f()->statusText().isEmpty());
    QCOMPARE(f()->pgbProgresso->value(), 0);
    QVERIFY(f()->medNmArquivo->isEnabled());
    QVERIFY(!f()->sbtImportExport->isEnabled());
    QCOMPARE(f()->dbgPrato->model()->rowCount(), all.size());

    // The destination holds every dish without errors under the file's name, and none of those
    // with errors (a code the destination had under another name keeps that name).
    for (const DishRow &d : all) {
        const int stored = m_fx->db->count(QStringLiteral("PRATO"), QStringLiteral("CDPRATO = '%1' AND NMPRATO = '%2'")
                                                                       .arg(d.code, QString(d.name).replace(u'\'', QStringLiteral("''"))));
        QVERIFY2(stored == (d.errors ? 0 : 1), qPrintable(d.code + u' ' + d.name));
    }
}

void ScreenImportTest::errorPanelFromTheScreen()
{
    loadSample();
    const QList<DishRow> all = dishes();
    int bad = -1, good = -1;
    for (int r = 0; r < all.size(); ++r) {
        if (all[r].errors && bad < 0)
            bad = r;
        if (!all[r].errors && good < 0)
            good = r;
    }
    QVERIFY(bad >= 0 && good >= 0);

    // A click on a dish without errors: nothing to review, and a double click opens nothing.
    auto rowPoint = [this](int row) {
        const QModelIndex i = f()->dtsPrato->index(row, f()->dtsPrato->columnOfField(u"NMPRATO"));
        return f()->dbgPrato->visualRect(i).center();
    };
    f()->dbgPrato->scrollTo(f()->dtsPrato->index(good, 0));
    QTest::mouseClick(f()->dbgPrato->viewport(), Qt::LeftButton, {}, rowPoint(good));
    settle();
    QCOMPARE(f()->document().cdsPrato.currentRow(), good);
    QVERIFY(!f()->sbtErros->isEnabled());
    QTest::mouseDClick(f()->dbgPrato->viewport(), Qt::LeftButton, {}, rowPoint(good));
    settle();
    QVERIFY(f()->panErro->isHidden());

    // The dish with errors: the side button lists them in the floating panel.
    f()->dbgPrato->scrollTo(f()->dtsPrato->index(bad, 0));
    QTest::mouseClick(f()->dbgPrato->viewport(), Qt::LeftButton, {}, rowPoint(bad));
    settle();
    QCOMPARE(f()->document().cdsPrato.currentRow(), bad);
    QVERIFY(f()->sbtErros->isEnabled());
    QTest::mouseClick(f()->sbtErros, Qt::LeftButton);
    settle();
    QVERIFY(f()->panErro->isVisible());
    QVERIFY(f()->lsbErro->count() > 0);
    QCOMPARE(QApplication::focusWidget(), f()->lsbErro);
    shoot(QStringLiteral("error-panel.png"));

    // Closing it gives the focus back to the grid, and the loaded dishes stay: the parameter
    // panel was not passed through on the way.
    QTest::mouseClick(f()->ButtonFlat1, Qt::LeftButton);
    settle();
    QVERIFY(f()->panErro->isHidden());
    QCOMPARE(QApplication::focusWidget(), f()->dbgPrato);
    QVERIFY(f()->sbtImportExport->isEnabled());
    QCOMPARE(f()->document().cdsPrato.rowCount(), all.size());

    // Import with the panel open closes it first.
    QTest::mouseClick(f()->sbtErros, Qt::LeftButton);
    QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
    settle();
    QVERIFY(f()->panErro->isHidden());
    QCOMPARE(m_fx->dialogs->infos.size(), 1);
    QCOMPARE(f()->document().cdsPrato.rowCount(), all.size());
}

void ScreenImportTest::serviceEditLocksDishTabAndImport()
{
    loadSample();
    QTabWidget *pgc = f()->pgcPadrao;
    QVERIFY(pgc->isTabVisible(pgc->indexOf(f()->tshPadrao)));
    // The tab shows without coming to the front.
    QCOMPARE(pgc->currentWidget(), f()->tshPrato);

    pgc->setCurrentWidget(f()->tshPadrao);
    settle();
    QVERIFY(f()->sbtImportExport->isEnabled());
    // Changing tabs is no visit to the parameter panel: nothing was discarded.
    QVERIFY(f()->document().cdsPrato.rowCount() > 0);

    TServiceGrid *grid = f()->dbgPadrao;
    const int dest = f()->dtsServico->columnOfField(u"CDSERVFILIDEST");
    grid->setFocus();
    grid->setCurrentIndex(f()->dtsServico->index(0, dest));
    shoot(QStringLiteral("service-tab.png"));

    // Typing a code starts an edit of the row: the dishes and the import wait for it.
    QTest::keyClick(grid, Qt::Key_2);
    QCOMPARE(f()->document().cdsServico.state(), TableState::Edit);
    QVERIFY(!pgc->isTabEnabled(pgc->indexOf(f()->tshPrato)));
    QVERIFY(!f()->sbtImportExport->isEnabled());

    // Escape gives the row back: both unlocked.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    settle();
    QCOMPARE(f()->document().cdsServico.state(), TableState::Browse);
    QVERIFY(pgc->isTabEnabled(pgc->indexOf(f()->tshPrato)));
    QVERIFY(f()->sbtImportExport->isEnabled());
    QVERIFY(m_fx->dialogs->errors.isEmpty());

    // A code typed and not confirmed, then a click into the file field: a refused one keeps the
    // operator on the map with the load; an accepted one is posted, and the next load keeps it.
    MemTable &map = f()->document().cdsServico;
    const int lanche = map.find(map.fieldIndex(u"CDSERVFILIORIG"), QStringLiteral("30"));
    const auto typeUnconfirmed = [&](Qt::Key key) {
        grid->setFocus();
        grid->setCurrentIndex(f()->dtsServico->index(lanche, dest));
        QTest::keyClick(grid, key);
        QTest::mouseClick(f()->medNmArquivo, Qt::LeftButton);
        settle();
    };
    typeUnconfirmed(Qt::Key_9);
    QCOMPARE(m_fx->dialogs->errors.size(), 1);
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QCOMPARE(map.state(), TableState::Edit);
    QVERIFY(!f()->operatorInPanel());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    settle();
    m_fx->dialogs->errors.clear();
    typeUnconfirmed(Qt::Key_4);
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QVERIFY(f()->operatorInPanel());
    ScreenFixture::clickDishGrid();
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QCOMPARE(map.textAt(map.find(map.fieldIndex(u"CDSERVFILIORIG"), QStringLiteral("30")), map.fieldIndex(u"CDSERVFILIDEST")),
             QStringLiteral("00004"));

    // The button follows the map on the dish tab too: a row in edit is never imported.
    pgc->setCurrentWidget(f()->tshPrato);
    f()->document().cdsServico.first();
    f()->document().cdsServico.edit();
    QVERIFY(!f()->sbtImportExport->isEnabled());
    f()->document().cdsServico.cancel();
    QVERIFY(f()->sbtImportExport->isEnabled());
}

// The history's row of an import names the bytes that were loaded, not what the file holds since.
static void historyRecords(const QSqlDatabase &db, const QByteArray &loaded)
{
    QSqlQuery history(db);
    QVERIFY(history.exec(QStringLiteral("SELECT DSSHA256, QTBYTES FROM HISTIMPO")) && history.next());
    QCOMPARE(history.value(0).toString(), QString::fromLatin1(QCryptographicHash::hash(loaded, QCryptographicHash::Sha256).toHex()));
    QCOMPARE(history.value(1).toLongLong(), loaded.size());
}

void ScreenImportTest::nextLoadsAfterAnImport()
{
    // A copy of the sample that the test may change on disk.
    QFile sample(ScreenFixture::samplePath());
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray loaded = sample.readAll();
    const QString path = m_fx->write(loaded, QStringLiteral("pratos-exemplo.txt"));
    QVERIFY(!path.isEmpty());
    const QString dbPath = DbUrl::parse(m_fx->db->url()).value().path;
    // Between two actions no statement of the screen holds the WAL: another connection
    // checkpoints it to its end.
    const auto nothingHeld = [&] {
        QCOMPARE(DbProbe::busyStatements(), QStringList());
        QCOMPARE(DbProbe::checkpoint(dbPath), QString());
    };

    loadSample(path);
    nothingHeld();
    // "LANCHE DA TARDE" (30) has no service of that name at the destination: paired on the grid.
    MemTable &map = f()->document().cdsServico;
    const int origin = map.fieldIndex(u"CDSERVFILIORIG"), dest = map.fieldIndex(u"CDSERVFILIDEST");
    const int lanche = map.find(origin, QStringLiteral("30"));
    QVERIFY(lanche >= 0);
    QVERIFY(map.textAt(lanche, dest).trimmed().isEmpty());
    f()->pgcPadrao->setCurrentWidget(f()->tshPadrao);
    const auto pairLancheWith4 = [&] {
        f()->dbgPadrao->setFocus();
        f()->dbgPadrao->setCurrentIndex(f()->dtsServico->index(lanche, f()->dtsServico->columnOfField(u"CDSERVFILIDEST")));
        QTest::keyClick(f()->dbgPadrao, Qt::Key_4);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        settle();
    };
    pairLancheWith4();
    QCOMPARE(map.textAt(lanche, dest), QStringLiteral("00004"));

    // The file changes on disk after the load: the history records what was loaded and sent.
    QVERIFY(m_fx->write(loaded + "PRATO\xF8" "P\xF8" "999999\xF8", QStringLiteral("pratos-exemplo.txt")) == path);
    QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
    settle();
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    nothingHeld();
    historyRecords(m_fx->db->db(), loaded);
    const QString recipes = QStringLiteral("CDPRATO = '100001'");
    const int recipesOf100001 = m_fx->db->count(QStringLiteral("RECEPADR"), recipes);
    const int recipesFili = m_fx->db->count(QStringLiteral("RECEFILI"));
    QVERIFY(recipesOf100001 > 0);

    // A row of the map settled after the import lets the same load go again (the question says it
    // was imported; yes): its recipes are those the first import sent.
    pairLancheWith4();
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
    settle();
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("Importacao")), 2);
    QCOMPARE(m_fx->db->count(QStringLiteral("RECEPADR"), recipes), recipesOf100001);
    QCOMPARE(m_fx->db->count(QStringLiteral("RECEFILI")), recipesFili);

    // The next load in the same screen sees what the import committed: the pairing it remembered.
    QVERIFY(m_fx->write(loaded, QStringLiteral("pratos-exemplo.txt")) == path);
    QTest::mouseClick(f()->medNmArquivo, Qt::LeftButton);
    settle();
    ScreenFixture::clickDishGrid();
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QCOMPARE(map.textAt(map.find(origin, QStringLiteral("30")), dest), QStringLiteral("00004"));
    nothingHeld();

    // A file of the dish alone, loaded after the sample's recipes: its import keeps the recipes.
    ExportWriter alone;
    alone.dish(QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ BRANCO"));
    const QString alonePath = m_fx->dir.filePath(QStringLiteral("so-o-prato.txt"));
    QVERIFY(alone.write(alonePath));
    QTest::mouseClick(f()->medNmArquivo, Qt::LeftButton);
    settle();
    loadSample(alonePath);
    QVERIFY(!f()->session().TemRecePadr);
    QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
    settle();
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QCOMPARE(m_fx->db->count(QStringLiteral("RECEPADR"), recipes), recipesOf100001);
}

void ScreenImportTest::pairingOnTheGridReachesTheImport()
{
    // The sample's 30 "LANCHE DA TARDE" pairs with nothing, and flags 100006 (its PRATSERV and
    // RECESERV lines).
    loadSample();
    const int flags = f()->document().cdsPrato.fieldIndex(u"IDERRO");
    const auto flagsOf100006 = [&] {
        const int dish = rowOf(QStringLiteral("100006"));
        return dish < 0 ? QStringLiteral("no dish") : f()->document().cdsPrato.textAt(dish, flags);
    };
    QCOMPARE(flagsOf100006(), QStringLiteral("0010000000"));
    QTabWidget *pgc = f()->pgcPadrao;
    pgc->setCurrentWidget(f()->tshPadrao);
    TServiceGrid *grid = f()->dbgPadrao;
    const int row = f()->document().cdsServico.find(0, QStringLiteral("30"));
    grid->setFocus();
    grid->setCurrentIndex(f()->dtsServico->index(row, f()->dtsServico->columnOfField(u"CDSERVFILIDEST")));
    QTest::keyClick(grid, Qt::Key_4);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    QCOMPARE(f()->document().cdsServico.textAt(row, 1), QStringLiteral("00004"));
    // This load's flags stay as the load left them; the status line says so and how to reload.
    QCOMPARE(f()->statusText(), QStringLiteral("Serviço 30: 1 prato(s) com erro até recarregar (F5)."));
    QCOMPARE(flagsOf100006(), QStringLiteral("0010000000"));

    // F5 on the grid loads the same file and branch again, the pairing applied; the tab stays.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
    settle();
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), 2);
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QCOMPARE(pgc->currentWidget(), f()->tshPadrao);
    QVERIFY(!f()->operatorInPanel());
    QCOMPARE(f()->document().cdsServico.textAt(f()->document().cdsServico.find(0, QStringLiteral("30")), 1),
             QStringLiteral("00004"));
    QCOMPARE(flagsOf100006(), QStringLiteral("0000000000"));

    // Into the panel and out again keeps it too (the branch is the same), and the dish is written
    // with its service recipe under the destination's service.
    QTest::mouseClick(f()->medNmArquivo, Qt::LeftButton);
    settle();
    ScreenFixture::clickDishGrid(2);
    QCOMPARE(flagsOf100006(), QStringLiteral("0000000000"));
    QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
    settle();
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QCOMPARE(m_fx->db->count(QStringLiteral("RECESERV"), QStringLiteral("CDPRATO = '100006' AND CDSERVFILI = '00004'")), 1);
}

void ScreenImportTest::wholeJobByKeys()
{
    // Every key goes to the control that has the focus, as the keyboard sends it; no click.
    const auto key = [](int k, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(k), mods);
        settle(2);
    };
    ScriptedDialogs &dlg = *m_fx->dialogs;
    QCOMPARE(QApplication::focusWidget(), f()->medNmArquivo);

    // The file from the open dialog (F4), the branch from its list (F4), Tab out: the load.
    dlg.openFileAnswers = {ScreenFixture::samplePath()};
    key(Qt::Key_F4);
    QCOMPARE(f()->medNmArquivo->text(), ScreenFixture::samplePath());
    key(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f()->medCdFilial);
    dlg.lookupAnswers = {0};
    key(Qt::Key_F4);
    QCOMPARE(dlg.lookups.size(), 1);
    QCOMPARE(f()->medCdFilial->text(), QStringLiteral("0001"));
    key(Qt::Key_Tab);
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QCOMPARE(QApplication::focusWidget(), f()->dbgPrato);

    // Up from the last dish loaded to one with errors; F8 lists them, Escape closes the list,
    // back on the dishes.
    for (int r = 0; r < dishes().size() && !f()->sbtErros->isEnabled(); ++r)
        key(Qt::Key_Up);
    QVERIFY(f()->sbtErros->isEnabled());
    key(Qt::Key_F8);
    QVERIFY(f()->panErro->isVisible());
    QVERIFY(f()->lsbErro->count() > 0);
    key(Qt::Key_Escape);
    QVERIFY(f()->panErro->isHidden());
    QCOMPARE(QApplication::focusWidget(), f()->dbgPrato);

    // The service tab (Ctrl+PgDown); the unpaired service takes one from the branch's list (F4).
    key(Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(f()->pgcPadrao->currentWidget(), f()->tshPadrao);
    QCOMPARE(QApplication::focusWidget(), f()->dbgPadrao);
    const MemTable &map = f()->document().cdsServico;
    int unpaired = -1;
    for (int r = 0; r < map.rowCount() && unpaired < 0; ++r)
        if (map.textAt(r, 1).trimmed().isEmpty())
            unpaired = r;
    QVERIFY(unpaired >= 0);
    while (f()->dbgPadrao->currentIndex().row() < unpaired)
        key(Qt::Key_Down);
    key(Qt::Key_Right);
    dlg.lookupAnswers = {3};
    key(Qt::Key_F4);
    QCOMPARE(map.textAt(unpaired, 1), QStringLiteral("00004"));
    QCOMPARE(map.state(), TableState::Browse);

    // Leaving now would lose that pairing, also once a reload (F5) has applied it: asked first, and
    // Não keeps everything.
    const QString question = QStringLiteral("Fechar a tela? Os pareamentos informados serão perdidos.");
    dlg.questionAnswers = {false};
    key(Qt::Key_F4, Qt::ControlModifier);
    QCOMPARE(dlg.questions, QStringList{question});
    key(Qt::Key_F5);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), 2);
    QCOMPARE(map.textAt(unpaired, 1), QStringLiteral("00004"));
    dlg.questionAnswers = {false};
    key(Qt::Key_F4, Qt::ControlModifier);
    QCOMPARE(dlg.questions, (QStringList{question, question}));
    QVERIFY(frmImpoPrato && boIdCriado);

    // F9 imports; then Ctrl+F4 leaves without a question, nothing being lost.
    key(Qt::Key_F9);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("Importacao")), 1);
    QCOMPARE(dlg.infos.size(), 1);
    QVERIFY(dlg.infos.first().startsWith(QStringLiteral("A importação foi realizada com sucesso.")));
    key(Qt::Key_F4, Qt::ControlModifier);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(dlg.questions.size(), 2);
    QVERIFY(!boIdCriado);
    QCOMPARE(dlg.errors, QStringList());
}

QTEST_MAIN(ScreenImportTest)
#include "tst_screen_import.moc"
