// The parameter panel driven as the operator drives it: Tab, clicks and focus moves between the
// file field, the branch field and the grids, with the real module on a demo destination.
#include "exportwriter.h"
#include "screenfixture.h"

#include "consiste.h"
#include "memtable.h"
#include "messages.h"

#include <QLineEdit>
#include <QLabel>
#include <QProgressBar>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

namespace {

const QString kArquivoDeve = QStringLiteral("Arquivo origem deve ser informado.");
const QString kDiretorio = QStringLiteral("Diretório não existe.");
const QString kArquivoNExist = QStringLiteral("Arquivo não existe.");
const QString kInvalido = QStringLiteral("Arquivo origem não é do tipo esperado.");
const QString kMascara = QStringLiteral("Máscara de origem difere da máscara de destino.");
const QString kFilialDeve = QStringLiteral("Filial destino deve ser informada.");
const QString kFilialNCad = QStringLiteral("Filial não cadastrada.");
const QString kFilialResc = QStringLiteral("Filial destino com contrato rescindido.");

// Dialogs whose message boxes take the focus into a window of their own and give it back when
// they close, as a real modal box does.
class FocusTakingDialogs final : public ScriptedDialogs {
public:
    void showError(const QString &text) override
    {
        ScriptedDialogs::showError(text);
        QWidget box;
        auto *button = new QLineEdit(&box);
        box.show();
        box.activateWindow();
        (void)QTest::qWaitForWindowActive(&box);
        button->setFocus();
        QCoreApplication::processEvents();
        focusSeenInBox = focusSeenInBox || QApplication::focusWidget() == button;
        box.hide();
        if (previous) {
            previous->activateWindow();
            (void)QTest::qWaitForWindowActive(previous);
        }
        QCoreApplication::processEvents();
    }
    QWidget *previous = nullptr;
    bool focusSeenInBox = false;
};

void pressTab(QWidget *w, bool back = false)
{
    QTest::keyClick(w, back ? Qt::Key_Backtab : Qt::Key_Tab);
    settle();
}

} // namespace

class ImportParametersTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileChecks_data();
    void fileChecks();
    void acceptedFileRemembersItsDirectory();
    void failedSetDiretoriosIsToldOnceAndTheFileLoads();
    void branchChecks_data();
    void branchChecks();
    void pickedBranchIsCheckedOnExit();
    void messageBoxTakingFocusRunsNoExit();
    void loadShowsItselfAndRefusesClose();
    void loadWarningsStayOnTheStatusLine();
    void failedLoadLeavesImportOff();
    void reenteringPanelDiscardsLoad();

private:
    TfrmImpoPrato *f() const { return frmImpoPrato; }

    std::unique_ptr<ScreenFixture> m_fx;
};

void ImportParametersTest::init()
{
    OPEN_SCREEN(m_fx)
    settle();
    QCOMPARE(QApplication::focusWidget(), f()->medNmArquivo);
}

void ImportParametersTest::cleanup()
{
    m_fx.reset();
}

void ImportParametersTest::fileChecks_data()
{
    QTest::addColumn<QString>("file");          // "none": empty field; "dir": missing directory
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("leavePanel");       // false: Tab to the branch field
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("paramGeralCalls");

    ExportWriter good;
    ExportWriter lowerMask;
    lowerMask.lines[1] = ExportWriter::fields({"MASCARA", "999.aaa"});
    ExportWriter blankMask;
    blankMask.lines[1] = ExportWriter::fields({"MASCARA", "999.999 "});
    ExportWriter badHeader;
    badHeader.lines[0] = ExportWriter::fields({"PRATOS", "EXPORTAÇÃO"});

    QTest::newRow("empty field, Tab to the branch") << "none" << QByteArray() << false << QString() << 0;
    QTest::newRow("empty field, leaving the panel") << "none" << QByteArray() << true << kArquivoDeve << 0;
    QTest::newRow("directory missing (before the file)") << "dir" << QByteArray() << false << kDiretorio << 0;
    QTest::newRow("file missing") << "missing" << QByteArray() << false << kArquivoNExist << 0;
    QTest::newRow("header not PRATO: no server call") << "file" << badHeader.bytes() << false << kInvalido << 0;
    QTest::newRow("empty file") << "file" << QByteArray() << false << kInvalido << 0;
    QTest::newRow("mask differs by case") << "file" << lowerMask.bytes() << false << kMascara << 1;
    QTest::newRow("mask differs by a trailing blank") << "file" << blankMask.bytes() << false << kMascara << 1;
    QTest::newRow("good file") << "file" << good.bytes() << false << QString() << 1;
}

void ImportParametersTest::fileChecks()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(bool, leavePanel);
    QFETCH(QString, error);
    QFETCH(int, paramGeralCalls);

    // The destination's mask in lower case makes the case row differ only by case.
    if (QTest::currentDataTag() == QByteArrayLiteral("mask differs by case"))
        QVERIFY(QSqlQuery(m_fx->db->db()).exec(QStringLiteral("UPDATE PARAMGERAL SET CDPICTPRAT = '999.AAA'")));

    QString name;
    if (file == u"dir")
        name = m_fx->dir.filePath(QStringLiteral("nao-existe/pratos.txt"));
    else if (file == u"missing")
        name = m_fx->dir.filePath(QStringLiteral("pratos.txt"));
    else if (file == u"file")
        name = m_fx->write(content);
    f()->medNmArquivo->setText(name);
    m_fx->dialogs->clear();

    if (leavePanel)
        ScreenFixture::clickDishGrid();
    else
        pressTab(f()->medNmArquivo);

    QCOMPARE(m_fx->dialogs->errors, error.isEmpty() ? QStringList() : QStringList{error});
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetParamGeral")), paramGeralCalls);
    QCOMPARE(QApplication::focusWidget(), error.isEmpty() ? f()->medCdFilial : f()->medNmArquivo);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("SetDiretorios")), error.isEmpty() && !name.isEmpty() ? 1 : 0);
    // Nothing was loaded and the panel is usable.
    QVERIFY(!f()->sbtImportExport->isEnabled());
    QVERIFY(f()->medNmArquivo->isEnabled());
    QVERIFY(!f()->document().cdsPrato.isActive());
    QVERIFY(!f()->document().cdsParamGeral.isActive());
}

void ImportParametersTest::acceptedFileRemembersItsDirectory()
{
    // A file in a directory two levels down, named with a doubled separator on the way.
    QVERIFY(QDir(m_fx->dir.path()).mkpath(QStringLiteral("exportacoes/marco")));
    const QString dir = m_fx->dir.filePath(QStringLiteral("exportacoes/marco"));
    QVERIFY(ExportWriter().write(dir + QStringLiteral("/pratos.txt")));
    f()->medNmArquivo->setText(m_fx->dir.filePath(QStringLiteral("exportacoes//marco/pratos.txt")));
    f()->medCdFilial->clear();

    // Straight out of the panel from the file field: the field's exit checks the file, then the
    // panel's exit checks it again (and then stops at the empty branch).
    ScreenFixture::clickDishGrid();
    QCOMPARE(m_fx->dialogs->errors, QStringList{kFilialDeve});
    QCOMPARE(QApplication::focusWidget(), f()->medCdFilial);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetParamGeral")), 2);
    QVERIFY(m_fx->rdm->calls.value(QStringLiteral("SetDiretorios")) >= 1);

    QSqlQuery q(m_fx->db->db());
    QVERIFY(q.exec(QStringLiteral("SELECT CDPROGRAMA, DSDIRETORIO FROM DIRETORIOS")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString().trimmed(), QStringLiteral("IMP40500"));
    QCOMPARE(q.value(1).toString(), QDir::cleanPath(dir) + u'/');
    QVERIFY(!q.next());
    QCOMPARE(f()->document().cdsDiretorios.changeCount(), 0);

    // The next screen offers that directory.
    m_fx->closeScreen();
    IniProc();
    QVERIFY(frmImpoPrato);
    QCOMPARE(f()->medNmArquivo->text(), QDir::cleanPath(dir) + u'/');
}

void ImportParametersTest::failedSetDiretoriosIsToldOnceAndTheFileLoads()
{
    const QString name = m_fx->write(ExportWriter().bytes());
    m_fx->rdm->failMethod = QStringLiteral("SetDiretorios");
    m_fx->rdm->failWith = QStringLiteral("Diretório não gravado.");
    f()->medNmArquivo->setText(name);

    pressTab(f()->medNmArquivo);
    // The file is good: no error, the operator is told (once, in words) that its directory is not
    // remembered, and goes on.
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QCOMPARE(m_fx->dialogs->infos.size(), 1);
    QVERIFY(m_fx->dialogs->infos.first().endsWith(QStringLiteral(": Diretório não gravado.")));
    QVERIFY(QApplication::focusWidget() != f()->medNmArquivo);
    // The unsent row is gone: the table is as the server last gave it (no row).
    QCOMPARE(f()->document().cdsDiretorios.changeCount(), 0);
    QCOMPARE(f()->document().cdsDiretorios.rowCount(), 0);

    // Leaving the panel checks the file again and loads it, without a second notice.
    ScreenFixture::clickDishGrid();
    QCOMPARE(m_fx->dialogs->infos.size(), 1);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("SetDiretorios")), 2);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), 1);
}

void ImportParametersTest::branchChecks_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("leavePanel");
    QTest::addColumn<QString>("codeAfter");
    QTest::addColumn<QString>("nameAfter");
    QTest::addColumn<QString>("error");

    QTest::newRow("one digit, canonical before the lookup") << "1" << false << "0001" << "RESTAURANTE MATRIZ" << QString();
    QTest::newRow("letters refused by the mask") << "x2y" << false << "0002" << "FILIAL CAMPINAS" << QString();
    QTest::newRow("empty, Tab back to the file") << "" << false << "" << "" << QString();
    QTest::newRow("empty, leaving the panel") << "" << true << "" << "" << kFilialDeve;
    QTest::newRow("exists, not the operator's") << "4" << false << "0004" << "" << kFilialNCad;
    QTest::newRow("does not exist") << "0099" << false << "0099" << "" << kFilialNCad;
    QTest::newRow("contract rescinded") << "3" << false << "0003" << "" << kFilialResc;
}

void ImportParametersTest::branchChecks()
{
    QFETCH(QString, typed);
    QFETCH(bool, leavePanel);
    QFETCH(QString, codeAfter);
    QFETCH(QString, nameAfter);
    QFETCH(QString, error);

    // A good file, so that leaving the panel gets as far as the branch.
    f()->medNmArquivo->setText(m_fx->write(ExportWriter().bytes()));
    pressTab(f()->medNmArquivo);
    QCOMPARE(QApplication::focusWidget(), f()->medCdFilial);
    QVERIFY(m_fx->dialogs->errors.isEmpty());

    QCOMPARE(f()->edtNmFilial->text(), QStringLiteral("RESTAURANTE MATRIZ"));
    f()->medCdFilial->selectAll();
    QTest::keyClick(f()->medCdFilial, Qt::Key_Delete);
    // Typing clears the name at once.
    QVERIFY(f()->edtNmFilial->text().isEmpty());
    f()->medCdFilial->setCursorPosition(0);
    QTest::keyClicks(f()->medCdFilial, typed);

    if (leavePanel)
        ScreenFixture::clickDishGrid();
    else
        pressTab(f()->medCdFilial, true);

    QCOMPARE(m_fx->dialogs->errors, error.isEmpty() ? QStringList() : QStringList{error});
    QCOMPARE(f()->medCdFilial->text(), codeAfter);
    QCOMPARE(f()->edtNmFilial->text(), nameAfter);
    QCOMPARE(QApplication::focusWidget(), error.isEmpty() ? f()->medNmArquivo : f()->medCdFilial);
    QVERIFY(!f()->sbtImportExport->isEnabled());
}

void ImportParametersTest::pickedBranchIsCheckedOnExit()
{
    f()->medNmArquivo->setText(QString());
    pressTab(f()->medNmArquivo);
    // The list holds 0001, 0002, 0003 (rescinded), 0005: pick the third.
    m_fx->dialogs->lookupAnswers = {2};
    QTest::mouseClick(f()->sbtFilial, Qt::LeftButton);
    QCOMPARE(f()->medCdFilial->text(), QStringLiteral("0003"));
    QCOMPARE(f()->edtNmFilial->text(), QStringLiteral("FILIAL SANTOS"));
    QCOMPARE(QApplication::focusWidget(), f()->medCdFilial);
    QVERIFY(m_fx->dialogs->errors.isEmpty());

    pressTab(f()->medCdFilial, true);
    QCOMPARE(m_fx->dialogs->errors, QStringList{kFilialResc});
    QCOMPARE(QApplication::focusWidget(), f()->medCdFilial);
    QCOMPARE(f()->edtNmFilial->text(), QStringLiteral("FILIAL SANTOS"));
}

void ImportParametersTest::messageBoxTakingFocusRunsNoExit()
{
    auto boxes = std::make_unique<FocusTakingDialogs>();
    boxes->previous = m_fx->main;
    f()->medNmArquivo->setText(m_fx->dir.filePath(QStringLiteral("nao-ha.txt")));

    // A box shown while the focus rests in a field that would be refused: the field's check does
    // not run for the box taking the focus, nor for the focus coming back.
    Ambiente::instance().Operador = QStringLiteral("NINGUEM");
    QTest::mouseClick(f()->sbtFilial, Qt::LeftButton);
    settle();
    QVERIFY(boxes->focusSeenInBox);
    QCOMPARE(boxes->errors, QStringList{QStringLiteral("Não há filial cadastrada")});
    QCOMPARE(QApplication::focusWidget(), f()->medNmArquivo);

    // The field's own refusal: one message, the focus back in the field, nothing loaded.
    boxes->clear();
    pressTab(f()->medNmArquivo);
    QCOMPARE(boxes->errors, QStringList{kArquivoNExist});
    QCOMPARE(QApplication::focusWidget(), f()->medNmArquivo);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), 0);
}

void ImportParametersTest::loadWarningsStayOnTheStatusLine()
{
    // A number that does not convert (line 14) and a file cut in its last line (15): loaded, and
    // told on the status line once the pass is over.
    ExportWriter w;
    w.lines << ExportWriter::fields({"PRATO", "P", "100001", "0009", "X", "1", "KG", "abc", "10/1/2024", "01", "EXP", ""});
    f()->medNmArquivo->setText(m_fx->write(w.bytes() + "PRATO\xF8P"));
    pressTab(f()->medNmArquivo);
    QTest::keyClick(f()->medCdFilial, Qt::Key_Tab);
    settle();
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QVERIFY(f()->sbtImportExport->isEnabled());
    QVERIFY2(f()->statusText().contains(QStringLiteral("PRATO.VRARREDTRANS: 1 ")), qPrintable(f()->statusText()));
    QVERIFY2(f()->statusText().contains(Msg(QStringLiteral("Linha_Incompleta")).arg(15)), qPrintable(f()->statusText()));
}

void ImportParametersTest::loadShowsItselfAndRefusesClose()
{
    f()->medNmArquivo->setText(ScreenFixture::samplePath());
    pressTab(f()->medNmArquivo);
    QVERIFY(m_fx->dialogs->errors.isEmpty());

    // Seen from inside the pass, the first time it lets events through.
    bool seen = false, closed = true, filtroLocked = false, sideLocked = false, carregando = false;
    QString status;
    QTest::keyClick(f()->medCdFilial, Qt::Key_Tab);
    QTimer::singleShot(0, f(), [&] {
        seen = true;
        carregando = f()->session().Carregando;
        status = f()->statusText();
        filtroLocked = !f()->medNmArquivo->isEnabled() && !f()->medCdFilial->isEnabled();
        sideLocked = !f()->sbtCancel->isEnabled();
        closed = f()->closeScreen();
    });
    settle();

    QVERIFY(seen);
    QVERIFY(carregando);
    QCOMPARE(status, QStringLiteral("Verificando pratos a serem importados ..."));
    QVERIFY(filtroLocked);
    QVERIFY(sideLocked);
    QVERIFY(!closed);
    QVERIFY(frmImpoPrato && boIdCriado);

    // After the pass: everything unlocked and quiet (the status line holds only what the import
    // would change), the import button on, the focus outside.
    QVERIFY(m_fx->dialogs->errors.isEmpty());
    QVERIFY(!f()->session().Carregando);
    QCOMPARE(f()->statusText(), QStringLiteral("novos 3, substituídos 2"));
    QCOMPARE(f()->pgbProgresso->value(), 0);
    QVERIFY(f()->medNmArquivo->isEnabled());
    QVERIFY(f()->sbtCancel->isEnabled());
    QVERIFY(f()->sbtImportExport->isEnabled());
    QVERIFY(!f()->panFiltro->isAncestorOf(QApplication::focusWidget()));
    QVERIFY(f()->document().cdsPrato.rowCount() > 0);
    QVERIFY(f()->pgcPadrao->isTabVisible(f()->pgcPadrao->indexOf(f()->tshPadrao)));
}

void ImportParametersTest::failedLoadLeavesImportOff()
{
    // The data marker on line 32: the first pass and the server calls run, the structure loop
    // refuses the file.
    ExportWriter w;
    const QByteArray marker = w.lines.takeLast();
    while (w.lines.size() < 31)
        w.lines << ExportWriter::fields({"COMENTARIO"});
    w.lines << marker;
    w.dish(QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ BRANCO"));
    f()->medNmArquivo->setText(m_fx->write(w.bytes()));

    ScreenFixture::clickDishGrid();
    QCOMPARE(m_fx->dialogs->errors, QStringList{kInvalido});
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), 1);
    QCOMPARE(QApplication::focusWidget(), f()->medNmArquivo);
    QVERIFY(!f()->sbtImportExport->isEnabled());
    QVERIFY(f()->medNmArquivo->isEnabled());
    QVERIFY(f()->sbtCancel->isEnabled());
    QVERIFY(!f()->session().Carregando);
    QCOMPARE(f()->document().cdsPrato.rowCount(), 0);
}

void ImportParametersTest::reenteringPanelDiscardsLoad()
{
    f()->medNmArquivo->setText(ScreenFixture::samplePath());
    ScreenFixture::clickDishGrid();
    QVERIFY(m_fx->dialogs->errors.isEmpty());
    const int dishes = f()->document().cdsPrato.rowCount();
    QVERIFY(dishes > 0);
    QVERIFY(f()->document().cdsServico.rowCount() > 0);
    QVERIFY(f()->document().cdsServDestino.rowCount() > 0);
    QVERIFY(f()->sbtImportExport->isEnabled());
    f()->sbtErros->setEnabled(true);
    // The service tab in front: the grid that had the focus goes out of sight.
    f()->pgcPadrao->setCurrentWidget(f()->tshPadrao);
    settle();
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), 1);

    // Back into the panel with a click on the branch field.
    QTest::mouseClick(f()->medCdFilial, Qt::LeftButton);
    settle();
    QCOMPARE(QApplication::focusWidget(), f()->medCdFilial);
    ImportDocument &d = f()->document();
    for (MemTable *t : {&d.cdsPrato, &d.cdsRecePadr, &d.cdsPratPadr, &d.cdsReceFili, &d.cdsPratFili, &d.cdsReceServ,
                        &d.cdsPratServ})
        QVERIFY2(!t->isActive(), qPrintable(t->name()));
    QCOMPARE(f()->document().cdsServico.rowCount(), 0);
    QCOMPARE(f()->document().cdsServDestino.rowCount(), 0);
    QVERIFY(!f()->pgcPadrao->isTabVisible(f()->pgcPadrao->indexOf(f()->tshPadrao)));
    QCOMPARE(f()->pgcPadrao->currentWidget(), f()->tshPrato);
    QVERIFY(!f()->sbtImportExport->isEnabled());
    QVERIFY(!f()->sbtErros->isEnabled());

    // Moving inside the panel discards nothing more; leaving it loads the file from its start.
    pressTab(f()->medCdFilial, true);
    pressTab(f()->medNmArquivo);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), 1);
    ScreenFixture::clickDishGrid();
    QVERIFY(m_fx->dialogs->errors.isEmpty());
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrato")), 2);
    QCOMPARE(f()->document().cdsPrato.rowCount(), dishes);
    QVERIFY(f()->sbtImportExport->isEnabled());
}

QTEST_MAIN(ImportParametersTest)
#include "tst_import_parameters.moc"
