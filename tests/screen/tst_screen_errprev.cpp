// The screen's part of the error report, the cancel and the preview: the preview's totals on the
// status line, the dish grid's context menu (a CSV file through the save dialog, the clipboard),
// and Escape during the load pass, over the sample file and a demo destination.
#include "screenfixture.h"

#include "errorcsv.h"
#include "memtablemodel.h"
#include "servicegrid.h"

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <QToolButton>

class ScreenErrPrevTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void errorMenu();
    void escapeDuringLoad_data();
    void escapeDuringLoad();

private:
    TfrmImpoPrato *f() const { return frmImpoPrato; }
    // Picks the sample and leaves the panel by Tab (the load runs); `duringLoad` runs on the
    // event loop once the pass has started.
    void loadSample(std::function<void()> duringLoad = {});
    // The documentation's picture: the menu open over a dish with errors.
    void shootErrorMenu();
    std::unique_ptr<ScreenFixture> m_fx;
};

void ScreenErrPrevTest::init()
{
    OPEN_SCREEN(m_fx)
    settle();
}

void ScreenErrPrevTest::cleanup()
{
    m_fx.reset();
}

void ScreenErrPrevTest::loadSample(std::function<void()> duringLoad)
{
    m_fx->dialogs->openFileAnswers = {ScreenFixture::samplePath()};
    QTest::mouseClick(f()->sbtArquivo, Qt::LeftButton);
    QTest::keyClick(f()->medNmArquivo, Qt::Key_Tab);
    settle();
    // The pass lets the event loop run; the timer fires there, once the pass has begun.
    QTimer probe;
    if (duringLoad) {
        probe.setInterval(0);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (!f()->session().Carregando)
                return;
            probe.stop();
            duringLoad();
        });
        probe.start();
    }
    QTest::keyClick(f()->medCdFilial, Qt::Key_Tab);
    settle();
}

void ScreenErrPrevTest::errorMenu()
{
    // Nothing loaded: nothing to report.
    QVERIFY(!f()->actExportarErros->isEnabled());
    QVERIFY(!f()->actCopiarErros->isEnabled());
    loadSample();
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    // The preview on the status line: the sample against the demo destination has three dishes
    // new there and two that replace one.
    QCOMPARE(f()->statusText(), QStringLiteral("novos 3, substituídos 2"));
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("GetPrevia")), 1);
    QCOMPARE(f()->dbgPrato->contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(f()->dbgPrato->actions().first(2), (QList<QAction *>{f()->actExportarErros, f()->actCopiarErros}));
    QCOMPARE(f()->dbgPrato->actions().last(), f()->actRecarregar);
    QCOMPARE(f()->actExportarErros->text(), QStringLiteral("Exportar erros..."));
    QCOMPARE(f()->actCopiarErros->text(), QStringLiteral("Copiar erros"));
    QVERIFY(f()->actExportarErros->isEnabled());
    const QByteArray expected = ErrorCsv::text(f()->session(), Ambiente::instance().DBPict(1), true);
    QVERIFY(expected.count("\r\n") > 1);

    // The save dialog offers the file's own name beside it; cancelled, nothing is written.
    const QString out = QDir(QDir::tempPath()).filePath(QStringLiteral("imp40500-errprev-%1.csv").arg(QCoreApplication::applicationPid()));
    QFile::remove(out);
    f()->actExportarErros->trigger();
    QCOMPARE(m_fx->dialogs->saveDialogs.size(), 1);
    QVERIFY(m_fx->dialogs->saveDialogs[0].directory.endsWith(QStringLiteral("/pratos-exemplo-erros.csv")));
    QCOMPARE(m_fx->dialogs->saveDialogs[0].filter, QStringLiteral("Planilha CSV (*.csv);;Pasta de trabalho do Excel (*.xlsx)"));
    QCOMPARE(m_fx->dialogs->saveDialogs[0].defaultSuffix, QStringLiteral("csv"));
    QVERIFY(!QFile::exists(out));

    m_fx->dialogs->saveFileAnswers = {out};
    f()->actExportarErros->trigger();
    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), expected);
    written.remove();
    // Said on the status line, with how many errors went where.
    const int errors = int(expected.count("\r\n")) - 1;
    QCOMPARE(f()->statusText(), QStringLiteral("%1 erro(s) exportado(s) para %2.").arg(errors).arg(out));
    // The workbook, the other type the dialog offers, by its name.
    const QString book = out.chopped(3) + QStringLiteral("xlsx");
    m_fx->dialogs->saveFileAnswers = {book};
    f()->actExportarErros->trigger();
    QFile workbook(book);
    QVERIFY(workbook.open(QIODevice::ReadOnly));
    QCOMPARE(workbook.read(2), QByteArray("PK")); // a zip, as every .xlsx is
    workbook.remove();

    // The clipboard takes the same rows, without the file's byte-order mark.
    f()->actCopiarErros->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromUtf8(expected.mid(3)));
    QCOMPARE(f()->statusText(), QStringLiteral("%1 erro(s) copiado(s) para a área de transferência.").arg(errors));

    // A folder that cannot take the file is told, and the screen goes on.
    m_fx->dialogs->saveFileAnswers = {QStringLiteral("/nonexistent-imp40500/erros.csv")};
    f()->actExportarErros->trigger();
    QCOMPARE(m_fx->dialogs->errors.size(), 1);
    QVERIFY(m_fx->dialogs->errors[0].startsWith(QStringLiteral("Não foi possível gravar o arquivo /nonexistent-imp40500/erros.csv")));
    // The destination's own files are never written over, nor opened: the database and its WAL.
    const QString dbPath = DbUrl::parse(m_fx->db->url()).value().path;
    for (const QString &own : {dbPath, dbPath + QStringLiteral("-wal")}) {
        m_fx->dialogs->clear();
        m_fx->dialogs->saveFileAnswers = {own};
        f()->actExportarErros->trigger();
        QCOMPARE(m_fx->dialogs->errors.size(), 1);
        QVERIFY2(m_fx->dialogs->errors[0].contains(QStringLiteral("arquivo do banco de dados de destino")),
                 qPrintable(m_fx->dialogs->errors[0]));
    }
    QVERIFY(m_fx->db->count(QStringLiteral("PRATO")) > 0);

    shootErrorMenu();

    // The operator going back to the file field discards the load, and its preview with it.
    QTest::mouseClick(f()->medNmArquivo, Qt::LeftButton);
    settle();
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::NoFile);
    QVERIFY2(f()->statusText().isEmpty(), qPrintable(f()->statusText()));
}

void ScreenErrPrevTest::shootErrorMenu()
{
    int errorRow = -1;
    const int flags = f()->document().cdsPrato.fieldIndex(u"IDERRO");
    for (int r = 0; r < f()->document().cdsPrato.rowCount() && errorRow < 0; ++r)
        if (f()->document().cdsPrato.textAt(r, flags).contains(u'1'))
            errorRow = r;
    QVERIFY(errorRow >= 0);
    f()->dbgPrato->setFocus();
    f()->dbgPrato->selectRow(errorRow);
    settle();
    QWidget *window = f()->subWindow();
    QImage shot = window->grab().toImage();
    QMenu menu;
    menu.addActions(f()->dbgPrato->actions());
    const QRect row = f()->dbgPrato->visualRect(f()->dtsPrato->index(errorRow, f()->dtsPrato->columnOfField(u"NMPRATO")));
    const QPoint at = f()->dbgPrato->viewport()->mapTo(window, row.center());
    menu.popup(f()->dbgPrato->viewport()->mapToGlobal(row.center()));
    settle();
    {
        QPainter p(&shot);
        p.drawImage(at * (shot.width() / qreal(window->width())), menu.grab().toImage());
    }
    menu.hide();
    const QString dir = qEnvironmentVariable("IMP_SCREENSHOT_DIR", QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(shot.save(dir + QStringLiteral("/error-menu.png")));
}

void ScreenErrPrevTest::escapeDuringLoad_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes: the load ends as a failed one") << true;
    QTest::newRow("no: the load goes on") << false;
}

void ScreenErrPrevTest::escapeDuringLoad()
{
    QFETCH(bool, yes);
    m_fx->dialogs->questionAnswers = {yes};
    int linesAtAnswer = -1;
    m_fx->dialogs->afterQuestion = [&](bool) { linesAtAnswer = f()->session().stats().dataLines; };
    bool closedDuringLoad = true;
    bool mapTookInput = false;
    loadSample([&] {
        // The service map is the pass's while it runs: its grid takes no input.
        mapTookInput = f()->dbgPadrao->isEnabled();
        // The close is still refused while the pass runs; Escape asks instead.
        f()->subWindow()->close();
        closedDuringLoad = !boIdCriado;
        QWidget *target = QApplication::focusWidget();
        QVERIFY(target && f()->isAncestorOf(target));
        QTest::keyClick(target, Qt::Key_Escape);
    });
    QVERIFY(!closedDuringLoad);
    QVERIFY(!mapTookInput);
    QVERIFY(boIdCriado);
    QCOMPARE(m_fx->dialogs->questions, QStringList{QStringLiteral("Cancelar a carga do arquivo?")});
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QVERIFY(!f()->session().Carregando);
    if (yes) {
        // As a failed load: nothing to import or review, the panel ready for the next file, and
        // not one line read after the answer.
        QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::LoadFailed);
        QCOMPARE(f()->session().stats().dataLines, linesAtAnswer);
        QVERIFY(!f()->document().cdsPrato.isActive());
        QVERIFY(!f()->sbtImportExport->isEnabled());
        QVERIFY(!f()->actExportarErros->isEnabled());
        QVERIFY(f()->medNmArquivo->isEnabled());
        QVERIFY(f()->panFiltro->isAncestorOf(QApplication::focusWidget()));
        QCOMPARE(f()->statusText(), QStringLiteral("Carga do arquivo cancelada."));
        QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("Importacao")), 0);
    } else {
        QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
        QVERIFY(f()->document().cdsPrato.rowCount() > 0);
        QVERIFY(f()->sbtImportExport->isEnabled());
    }
}

QTEST_MAIN(ScreenErrPrevTest)
#include "tst_screen_errprev.moc"
