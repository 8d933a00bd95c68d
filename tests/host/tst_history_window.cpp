// The host's "Histórico de importações": the menu entry opens one child window listing the
// destination's import history newest first, sortable by any column; a destination without the
// history says it has none. Renders the documentation's picture of it. "Desfazer importação" is
// offered for the imports that can still be undone, asks first with Não as the default, and undoes
// through the application server; an undo is not offered.
#include "historywindow.h"
#include "destinationreader.h"
#include "mainwindow.h"
#include "../server/rig.h"

#include "embedded.h"
#include "importorigin.h"

#include "ambiente.h"
#include "database.h"
#include "dbprobe.h"
#include "importhistory.h"
#include "seeddb.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace {

ImportHistory::Entry entry(const QString &when, const QString &op, const QString &file, bool ok, int written,
                           const QStringList &refused = {})
{
    ImportHistory::Entry e;
    e.id = when + op;
    e.when = QDateTime::fromString(when, Qt::ISODate);
    e.when.setTimeSpec(Qt::UTC);
    e.operatorCode = op;
    e.branch = QStringLiteral("0001");
    e.fileName = file;
    e.bytes = 18230 + written;
    e.sha256 = QString(64, ok ? QLatin1Char('a') : QLatin1Char('b'));
    e.ok = ok;
    e.dishesWritten = written;
    e.dishesRefused = refused;
    if (ok)
        e.rows = {{QStringLiteral("PRATO"), written}, {QStringLiteral("RECEPADR"), written * 3}};
    e.durationMs = 240 + written * 10;
    if (!ok) {
        e.messageKey = QStringLiteral("BD_Bloqueado");
        e.message = QStringLiteral("A importação não foi gravada. Não foi possível gravar PRATO: o banco de dados está "
                                   "ocupado com outra gravação (bloqueado); tente de novo em instantes.");
    }
    return e;
}

} // namespace

class HistoryWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        Database::closeShared();
        Ambiente &amb = Ambiente::instance();
        amb.databaseUrl.clear();
        amb.Operador.clear();
        amb.FiliProc.clear();
        amb.NomeFiliProc.clear();
    }

    void listsNewestFirstAndSorts()
    {
        QString why;
        auto db = SeededDb::create(SeededDb::Kind::SQLite, true, &why);
        QVERIFY2(db, qPrintable(why));
        for (const auto &e : {entry(QStringLiteral("2024-05-02T09:15:00"), QStringLiteral("MARIA"),
                                    QStringLiteral("cardapio-maio.txt"), true, 42, {QStringLiteral("100020")}),
                              entry(QStringLiteral("2024-05-06T14:40:10"), QStringLiteral("ADMIN"),
                                    QStringLiteral("cardapio-maio.txt"), true, 42),
                              entry(QStringLiteral("2024-05-03T08:05:30"), QStringLiteral("JOANA"),
                                    QStringLiteral("sobremesas.txt"), false, 0)})
            QVERIFY(ImportHistory::insert(db->db(), e));
        Database::closeShared();
        Ambiente &amb = Ambiente::instance();
        Database::useDestination(amb, db->url());
        amb.Operador = QStringLiteral("ADMIN"); // for the picture's status bar
        amb.FiliProc = QStringLiteral("0001");
        amb.NomeFiliProc = QStringLiteral("RESTAURANTE MATRIZ");
        // A screen's query left positioned on the shared connection keeps its read snapshot open.
        QSqlQuery held(Database::shared().value());
        QVERIFY(held.exec(QStringLiteral("SELECT CDPRATO FROM PRATO")) && held.next());

        MainWindow window;
        // As wide as the help shows its pictures.
        window.resize(730, 480);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *action = window.findChild<QAction *>(QStringLiteral("actHistoricoImportacoes"));
        QVERIFY(action);
        QCOMPARE(action->text(), QStringLiteral("Histórico de importações"));
        action->trigger();
        action->trigger(); // the open window is brought forward, not opened twice
        QCOMPARE(window.mdiArea()->subWindowList().size(), 1);
        QMdiSubWindow *sub = window.mdiArea()->subWindowList().first();
        auto *history = qobject_cast<HistoryWindow *>(sub->widget());
        QVERIFY(history);
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(sub->windowIcon().cacheKey(), window.windowIcon().cacheKey());
        QAbstractItemModelTester tester(history->model());

        const auto column = [&](int c) {
            QStringList out;
            for (int r = 0; r < history->model()->rowCount(); ++r)
                out << history->model()->index(r, c).data().toString();
            return out;
        };
        QCOMPARE(column(HistoryWindow::Operator), (QStringList{"ADMIN", "JOANA", "MARIA"}));
        QCOMPARE(column(HistoryWindow::Outcome), (QStringList{"Gravada", "Falhou", "Gravada"}));
        QCOMPARE(history->model()->index(2, HistoryWindow::DishesRefused).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("100.020"));
        QVERIFY(history->statusText().startsWith(QStringLiteral("3 ")));

        // Any column sorts; numbers as numbers, times as times; the caption says the order.
        QVERIFY(history->statusText().contains(QStringLiteral("da mais recente à mais antiga")));
        history->view()->sortByColumn(HistoryWindow::DishesWritten, Qt::AscendingOrder);
        QCOMPARE(column(HistoryWindow::Operator).first(), QStringLiteral("JOANA"));
        QCOMPARE(history->statusText(), QStringLiteral("3 importação(ões), em ordem de \"Pratos gravados\"."));
        history->view()->sortByColumn(HistoryWindow::When, Qt::AscendingOrder);
        QCOMPARE(column(HistoryWindow::Operator), (QStringList{"MARIA", "JOANA", "ADMIN"}));
        QVERIFY(!history->statusText().contains(QStringLiteral("da mais recente")));
        history->view()->sortByColumn(HistoryWindow::When, Qt::DescendingOrder);
        QVERIFY(history->statusText().contains(QStringLiteral("da mais recente à mais antiga")));

        // An export made meanwhile shows on the next reading, as an export.
        ImportHistory::Entry exported = entry(QStringLiteral("2024-05-07T10:00:00"), QStringLiteral("PAULO"),
                                              QStringLiteral("pratos-0001-20240507.txt"), true, 7);
        exported.kind = ImportHistory::Entry::Kind::Export;
        QVERIFY(ImportHistory::insert(db->db(), exported));
        history->refresh();
        QCOMPARE(column(HistoryWindow::Operator), (QStringList{"PAULO", "ADMIN", "JOANA", "MARIA"}));
        // Read, the window holds nothing open: another connection checkpoints the WAL to its end.
        held.finish();
        QCOMPARE(DbProbe::busyStatements(), QStringList());
        QCOMPARE(DbProbe::checkpoint(DbUrl::parse(db->url()).value().path), QString());
        QCOMPARE(column(HistoryWindow::Kind), (QStringList{"exportação", "importação", "importação", "importação"}));

        window.mdiArea()->subWindowList().first()->move(0, 0);
        QCoreApplication::processEvents();
        const QImage shot = window.grab().toImage();
        QVERIFY(!shot.isNull());
        // Into the build folder; scripts/screenshots.sh points this at the documentation's pictures.
        const QString dir = qEnvironmentVariable("IMP_SCREENSHOT_DIR", QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(shot.save(dir + QStringLiteral("/history-window.png")));

        // In a small workspace it still opens whole inside it.
        delete sub;
        window.resize(700, 360);
        QCoreApplication::processEvents();
        action->trigger();
        sub = window.mdiArea()->subWindowList().first();
        QVERIFY2(window.mdiArea()->viewport()->rect().contains(sub->geometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(sub->x()).arg(sub->y()).arg(sub->width()).arg(sub->height())));
    }

    void undoesTheSelectedImport()
    {
        QString why;
        auto rig = Rig::make(QStringLiteral("sqlite"), Rig::Transport::InProcess, &why);
        QVERIFY2(rig, qPrintable(why));
        const QString before = rig->db->snapshot();
        const QString P = QStringLiteral("P");
        ImportCall call; // a new dish, and the demonstration's 100001 replaced
        call.prato = {dish(P, QStringLiteral("200001"), QStringLiteral("NOVO")),
                      dish(P, QStringLiteral("100001"), QStringLiteral("OUTRO"))};
        call.recePadr = {{P, QStringLiteral("100001"), QStringLiteral("000102"), QStringLiteral("KG"), 0.3}};
        ImportOrigin origin;
        origin.fileName = QStringLiteral("cardapio.txt");
        {
            const ImportOrigin::Scope scope(origin);
            QVERIFY(call.run(rig->net));
        }
        QVERIFY(ImportHistory::insert(rig->db->db(), entry(QStringLiteral("2024-05-03T08:05:30"), QStringLiteral("JOANA"),
                                                           QStringLiteral("sobremesas.txt"), false, 0)));
        const QString written = rig->db->snapshot();
        rig->useAsOperatorDatabase();
        if (!hasEmbeddedServerFactory())
            registerEmbeddedServer();
        HistoryWindow history;
        auto *undo = history.findChild<QPushButton *>(QStringLiteral("sbtDesfazer"));
        QVERIFY(undo && !undo->isEnabled());
        const auto cell = [&](int row, int column) { return history.model()->index(row, column).data().toString(); };
        QCOMPARE(cell(0, HistoryWindow::Undo), QStringLiteral("pode ser desfeita"));
        QCOMPARE(cell(1, HistoryWindow::Undo), QString()); // failed: nothing to undo
        history.view()->setCurrentIndex(history.model()->index(1, 0));
        QVERIFY(!undo->isEnabled());
        history.view()->setCurrentIndex(history.model()->index(0, 0));
        QVERIFY(undo->isEnabled());

        // The question, Não by default: Enter keeps the import.
        QString asked;
        bool noByDefault = false;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            asked = box->text();
            noByDefault = box->defaultButton() == box->button(QMessageBox::No);
            QTest::keyClick(box, Qt::Key_Return);
        });
        undo->click();
        QCOMPARE(asked, QStringLiteral("Desfazer a importação de cardapio.txt (2 pratos gravados, 1 substituídos)?"));
        QVERIFY(noByDefault);
        QCOMPARE(rig->db->snapshot(), written);

        // Sim: undone; the undo's row is newest, and neither it nor the import is offered.
        history.setQuestion([](QWidget *, const QString &) { return true; });
        undo->click();
        QCOMPARE(rig->db->snapshot(), before);
        QCOMPARE(history.statusText(), QStringLiteral("Importação desfeita: 2 prato(s) apagados, 1 restaurados."));
        QCOMPARE(cell(0, HistoryWindow::Kind), QStringLiteral("desfazer"));
        QCOMPARE(cell(1, HistoryWindow::Undo), QStringLiteral("desfeita"));
        for (int row : {0, 1}) {
            history.view()->setCurrentIndex(history.model()->index(row, 0));
            QVERIFY(!undo->isEnabled());
        }

        // Imported again, then 100001 changed by a later import: the earlier one is listed as
        // undoable until it is selected, when the server's checks say it no longer is, and why.
        for (const QString &name : {QStringLiteral("OUTRO"), QStringLiteral("OUTRO DE NOVO")}) {
            call.prato[1] = dish(P, QStringLiteral("100001"), name);
            const ImportOrigin::Scope scope(origin);
            QVERIFY(call.run(rig->net));
        }
        history.refresh();
        QCOMPARE(cell(1, HistoryWindow::Undo), QStringLiteral("pode ser desfeita"));
        history.view()->setCurrentIndex(history.model()->index(1, 0));
        QVERIFY(!undo->isEnabled());
        QCOMPARE(cell(1, HistoryWindow::Undo), QStringLiteral("não pode ser desfeita"));
        QVERIFY2(history.statusText().contains(QStringLiteral("1 prato(s) mudaram depois dela: 100.001")),
                 qPrintable(history.statusText()));
        history.view()->setCurrentIndex(history.model()->index(0, 0));
        QVERIFY(undo->isEnabled());
        QCOMPARE(cell(0, HistoryWindow::Undo), QStringLiteral("pode ser desfeita"));
    }

    void destinationWithoutHistory()
    {
        QString why;
        auto db = SeededDb::create(SeededDb::Kind::SQLite, false, &why);
        QVERIFY2(db, qPrintable(why));
        QVERIFY(QSqlQuery(db->db()).exec(QStringLiteral("DROP TABLE HISTIMPO")));
        Database::closeShared();
        Database::useDestination(Ambiente::instance(), db->url());
        HistoryWindow history;
        QCOMPARE(history.model()->rowCount(), 0);
        QCOMPARE(history.statusText(), QStringLiteral("Nenhuma importação registrada."));
    }
};

QTEST_MAIN(HistoryWindowTest)
#include "tst_history_window.moc"
