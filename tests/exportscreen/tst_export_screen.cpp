// The sibling screen "Exportação de Prato" in the host's MDI area over a demo destination: the
// branch checked as the import's, "Salvar como..." offering pratos-FILIAL-AAAAMMDD.txt, the file
// written with the totals told, a refused branch leaving no file, and the screen's entry
// (IniProcExportacao) bringing the one screen back.
#include "frmexpoprato.h"
#include "destinationreader.h"
#include "hostwindow.h"
#include "seeddb.h"

#include "ambiente.h"
#include "database.h"
#include "dialogs.h"
#include "screenhost.h"
#include "scripteddialogs.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QApplication>
#include <QTest>

class TstExportScreen : public QObject {
    Q_OBJECT
private slots:
    void savesTheBranchsDishes();

private:
    // Escape while the file is written, and yes to the question: no file, the screen ready again.
    void escapeStopsTheExport(TfrmExpoPrato *screen, SeededDb &db, ScriptedDialogs &dialogs, const QTemporaryDir &dir);
};

void TstExportScreen::escapeStopsTheExport(TfrmExpoPrato *screen, SeededDb &db, ScriptedDialogs &dialogs,
                                           const QTemporaryDir &dir)
{
    QVERIFY(QSqlQuery(db.db()).exec(QStringLiteral(
        "WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 100000) INSERT INTO PRATO "
        "(CDFILAUXPRAT, CDPRATO, NMPRATO) SELECT 'P', '2' || CAST(I + 100000 AS VARCHAR(10)), 'PRATO ' || I FROM N")));
    screen->cmbArvore->setCurrentIndex(0);
    const QString stopped = dir.filePath(QStringLiteral("parado.txt"));
    dialogs.saveFileAnswers << stopped;
    const qsizetype infos = dialogs.infos.size();
    QTimer escape;
    connect(&escape, &QTimer::timeout, screen, [&] {
        if (screen->screenState() == TfrmExpoPrato::ScreenState::Exporting && dialogs.questions.isEmpty())
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    escape.start(0);
    screen->sbtSalvarComo->click();
    escape.stop();
    QCOMPARE(dialogs.questions, QStringList{QStringLiteral("Cancelar a exportação?")});
    QVERIFY(!QFile::exists(stopped));
    QCOMPARE(screen->statusText(), QStringLiteral("Exportação cancelada: nenhum arquivo foi gravado."));
    QCOMPARE(screen->screenState(), TfrmExpoPrato::ScreenState::Idle);
    QCOMPARE(dialogs.infos.size(), infos);
}

void TstExportScreen::savesTheBranchsDishes()
{
    QString why;
    auto db = SeededDb::create(SeededDb::Kind::SQLite, true, &why);
    QVERIFY2(db, qPrintable(why));
    QTemporaryDir dir;
    Ambiente &amb = Ambiente::instance();
    Database::useDestination(amb, db->url());
    amb.Operador = QStringLiteral("ADMIN");
    amb.FiliProc = QStringLiteral("0001");
    amb.NomeFiliProc = QStringLiteral("RESTAURANTE MATRIZ");
    QMainWindow *main = nullptr;
    QMdiArea *area = nullptr;
    QVERIFY(openHostWindow(main, area));
    ScriptedDialogs dialogs;
    installMessageBoxes();

    IniProcExportacao();
    TfrmExpoPrato *screen = Cli_IMP40500::exportScreen();
    QVERIFY(screen);
    QCOMPARE(screen->subWindow()->windowTitle(), QStringLiteral("Exportação de Prato"));
    IniProcExportacao();
    QCOMPARE(Cli_IMP40500::exportScreen(), screen);
    QCOMPARE(area->subWindowList().size(), 1);
    QCOMPARE(screen->medCdFilial->text(), QStringLiteral("0001"));

    // A branch the operator may not use: the import's message, no dialog, no file.
    screen->medCdFilial->setText(QStringLiteral("4"));
    screen->sbtSalvarComo->click();
    QCOMPARE(dialogs.errors, QStringList{QStringLiteral("Filial não cadastrada.")});
    QVERIFY(dialogs.saveDialogs.isEmpty());

    // The standard and local dishes of 0001, saved where the dialog says.
    screen->medCdFilial->setText(QStringLiteral("1"));
    const QString path = dir.filePath(QStringLiteral("menu.txt"));
    dialogs.saveFileAnswers << path;
    screen->sbtSalvarComo->click();
    QCOMPARE(dialogs.errors.size(), 1);
    QCOMPARE(dialogs.saveDialogs.size(), 1);
    QVERIFY(dialogs.saveDialogs.first().directory.endsWith(
        QStringLiteral("pratos-0001-%1.txt").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")))));
    QVERIFY(QFile::exists(path));
    QCOMPARE(screen->lastTotals().count(QStringLiteral("PRATO")), 3);
    QCOMPARE(dialogs.infos.size(), 1);
    QVERIFY2(dialogs.infos.first().contains(QStringLiteral("3 prato(s) em ")), qPrintable(dialogs.infos.first()));
    QVERIFY(dialogs.infos.first().contains(QStringLiteral("RECEPADR 2")));
    QCOMPARE(screen->screenState(), TfrmExpoPrato::ScreenState::Idle);
    QVERIFY(screen->sbtSalvarComo->isEnabled());
    // The documentation's picture, into the build folder (scripts/screenshots.sh points it at docs/).
    const QString shots = qEnvironmentVariable("IMP_SCREENSHOT_DIR", QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    QVERIFY(QDir().mkpath(shots));
    QVERIFY(screen->subWindow()->grab().toImage().save(shots + QStringLiteral("/export-screen.png")));

    // The local tree only; a cancelled dialog writes nothing.
    screen->cmbArvore->setCurrentIndex(1);
    dialogs.saveFileAnswers << dir.filePath(QStringLiteral("locais.txt")) << QString();
    screen->sbtSalvarComo->click();
    QCOMPARE(screen->lastTotals().count(QStringLiteral("PRATO")), 2);
    screen->sbtSalvarComo->click();
    QCOMPARE(dialogs.infos.size(), 2);

    escapeStopsTheExport(screen, *db, dialogs, dir);

    screen->closeScreen();
    QTRY_VERIFY(!Cli_IMP40500::exportScreen());
    closeScreenAndHost(main);
    uninstallMessageBoxes();
    Database::closeShared();
}

QTEST_MAIN(TstExportScreen)
#include "tst_export_screen.moc"
