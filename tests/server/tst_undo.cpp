// Undoing an import. Generated export files imported by the command line and undone, embedded and
// through a server process on both databases, give every table back row by row, two imports
// undone newest first too; an undo refuses, naming the dish, when another program changed what
// the import wrote, and refuses an import that failed, is unknown, was undone or pruned, and an
// undo; a server killed (-9) at any point of an undo leaves the destination exactly before or
// exactly after it.
#include "destinationreader.h"
#include "rig.h"
#include "serverprocess.h"

#include "ambiente.h"
#include "importhistory.h"
#include "loadgen.h"
#include "undostore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include <csignal>
#include <future>

namespace {

ProcessRun runCli(const QStringList &args, const QString &dir)
{
    return ProcessRun::run(QStringLiteral(IMP40500_BIN), args, dir);
}

// Two dishes with recipes and yields, one of them refused; its numbers are finer than the columns'
// scale (PostgreSQL rounds them, SQLite keeps them whole: both must hash alike).
ImportCall smallImport(const QString &branch = QStringLiteral("0001"))
{
    const QString P = QStringLiteral("P");
    ImportCall call;
    call.branch = branch;
    call.prato = {dish(P, QStringLiteral("200001"), QStringLiteral("PRATO NOVO")),
                  dish(P, QStringLiteral("100001"), QStringLiteral("TROCADO")),
                  dish(P, QStringLiteral("200009"), QStringLiteral("COM ERRO"), QStringLiteral("0100000000"))};
    call.recePadr = {{P, QStringLiteral("200001"), QStringLiteral("000101"), QStringLiteral("KG"), 1.0000005},
                     {P, QStringLiteral("200001"), QStringLiteral("000102"), QStringLiteral("KG"), 0.1234564},
                     {P, QStringLiteral("100001"), QStringLiteral("000103"), QStringLiteral("G"), -0.0000001}};
    call.receFili = {{branch, P, QStringLiteral("100001"), QStringLiteral("000104"), QStringLiteral("KG"), 2.5}};
    call.pratPadr = {{P, QStringLiteral("200001"), QStringLiteral("KG"), 0.9999995}};
    call.pratFili = {{branch, P, QStringLiteral("100001"), 12.5, QDateTime(QDate(2024, 3, 1), QTime(8, 0), Qt::UTC)}};
    return call;
}

// The seven dish and recipe tables, row by row, each row's values as text, sorted.
QString sevenTables(SeededDb &db)
{
    QStringList out;
    for (const char *table : {"PRATO", "RECEPADR", "RECEFILI", "RECESERV", "PRATPADR", "PRATFILI", "PRATSERV"}) {
        QSqlQuery q(db.db());
        q.exec(QStringLiteral("SELECT * FROM ") + QLatin1String(table));
        QStringList rows;
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < q.record().count(); ++i)
                cells << q.value(i).toString();
            rows << cells.join(u'|');
        }
        rows.sort();
        out << QLatin1String(table) + u'\n' + rows.join(u'\n');
    }
    return out.join(QStringLiteral("\n\n"));
}

QString historyId(const Result<QByteArray> &r)
{
    return r ? ImportSummary::decode(r.value())->historyId : QString();
}

} // namespace

class TestUndo : public QObject {
    Q_OBJECT

private slots:
    // Generated files: A, then B (which replaces some of A's dishes with other recipes and adds
    // dishes of its own). Undoing B gives back the tables as A left them, undoing A the tables as
    // they were; the undone import and the undo itself cannot be undone; a pruned import neither.
    void generatedFiles_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("serverProcess");
        for (const char *b : {"sqlite", "postgresql"}) {
            QTest::addRow("%s/embedded", b) << QString::fromLatin1(b) << false;
            QTest::addRow("%s/server", b) << QString::fromLatin1(b) << true;
        }
    }
    void generatedFiles()
    {
        QFETCH(QString, backend);
        QFETCH(bool, serverProcess);
        SKIP_UNLESS_AVAILABLE(backend)
        QString why;
        auto db = SeededDb::create(backend, false, &why);
        QVERIFY2(db, qPrintable(why));
        QTemporaryDir dir;
        const LoadGen::Options a{.dishes = 120, .localEvery = 3}, b{.dishes = 90, .localEvery = 4, .products = 397};
        QVERIFY(LoadGen::createDestination(db->url(), a));
        QVERIFY(LoadGen::writeExportFile(dir.filePath(QStringLiteral("a.txt")), a));
        QVERIFY(LoadGen::writeExportFile(dir.filePath(QStringLiteral("b.txt")), b));
        std::unique_ptr<ServerProcess> server;
        QStringList target{QStringLiteral("--db"), db->url()};
        if (serverProcess) {
            server = ServerProcess::start(db->url(), &why);
            QVERIFY2(server, qPrintable(why));
            target << QStringLiteral("--server") << server->address();
        }
        QByteArray said; // the last import's stderr
        const auto import = [&](const char *file) {
            const ProcessRun r = runCli(QStringList{QStringLiteral("import"), QString::fromLatin1(file), QStringLiteral("--branch"),
                                                    QStringLiteral("0001"), QStringLiteral("--json")} + target,
                                        dir.path());
            said = r.err;
            return r.exitCode == 0 ? r.json()[QStringLiteral("import")].toObject()[QStringLiteral("history_id")].toString() : QString();
        };
        const auto undo = [&](const QString &id) {
            return runCli(QStringList{QStringLiteral("undo"), id, QStringLiteral("--json")} + target, dir.path());
        };
        const QString seeded = sevenTables(*db);
        const QString idA = import("a.txt");
        QVERIFY(!idA.isEmpty());
        const QString afterA = sevenTables(*db);
        const QString idB = import("b.txt");
        QVERIFY(!idB.isEmpty());
        QVERIFY(sevenTables(*db) != afterA);

        const QString afterB = sevenTables(*db);
        ProcessRun r = runCli(QStringList{QStringLiteral("undo"), idB, QStringLiteral("--dry-run")} + target, dir.path());
        QVERIFY2(r.exitCode == 0 && r.out.startsWith("A importação pode ser desfeita: 90 prato(s)"), r.out + r.err);
        QCOMPARE(sevenTables(*db), afterB);
        r = undo(idB);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(r.json()[QStringLiteral("import")].toString(), idB);
        QCOMPARE(r.json()[QStringLiteral("dishes_deleted")].toInt(), 90);
        QCOMPARE(sevenTables(*db), afterA);
        const QString undoB = r.json()[QStringLiteral("undo")].toString();
        r = undo(idA);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(sevenTables(*db), seeded);

        // Neither again, nor the undo: exit 3, the reason in words, nothing touched.
        for (const auto &[id, key] : {std::pair{idB, "Desf_JaDesfeita"}, {undoB, "Desf_DeDesfazer"}}) {
            r = undo(id);
            QCOMPARE(r.exitCode, 3);
            QCOMPARE(r.json()[QStringLiteral("error")].toObject()[QStringLiteral("key")].toString(), QString::fromLatin1(key));
        }
        const ProcessRun list = runCli(QStringList{QStringLiteral("history"), QStringLiteral("--json"), QStringLiteral("--db"), db->url()},
                                       dir.path());
        QHash<QString, QJsonObject> rows;
        for (const QJsonValue &v : QJsonDocument::fromJson(list.out).array())
            rows.insert(v[QStringLiteral("id")].toString(), v.toObject());
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[undoB][QStringLiteral("kind")].toString(), QStringLiteral("undo"));
        QCOMPARE(rows[undoB][QStringLiteral("undoes")].toString(), idB);
        QVERIFY(!rows[undoB][QStringLiteral("undoable")].toBool() && !rows[idB][QStringLiteral("undoable")].toBool());
        QCOMPARE(rows[idB][QStringLiteral("undone_by")].toString(), undoB);
        QCOMPARE(sevenTables(*db), seeded);

        // What an import keeps goes with --prune-before; its history row stays.
        const QString idC = import("a.txt");
        QVERIFY2(!said.contains(QStringLiteral("já foi importado").toUtf8()), said.constData()); // A was undone
        r = runCli(QStringList{QStringLiteral("history"), QStringLiteral("--prune-before"),
                               QDate::currentDate().addDays(2).toString(Qt::ISODate), QStringLiteral("--db"), db->url()},
                   dir.path());
        QVERIFY2(r.exitCode == 0 && r.out.startsWith("1 "), r.out + r.err);
        r = undo(idC);
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.json()[QStringLiteral("error")].toObject()[QStringLiteral("key")].toString(), QStringLiteral("Desf_NaoGuardada"));
        QCOMPARE(db->count(UndoStore::shadowOf(QStringLiteral("RECEPADR"))), 0);
    }

    // Another program changes what the import wrote: a value, a row deleted, a row added. The undo
    // refuses naming the dish through the destination's picture and leaves everything as it is;
    // once the change is taken back, it goes through. Refused too: an unknown id, a failed import.
    void refusals_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("transport");
        for (const char *b : {"sqlite", "postgresql"})
            for (const char *t : {"inprocess", "http"})
                QTest::addRow("%s/%s", b, t) << QString::fromLatin1(b) << QString::fromLatin1(t);
    }
    void refusals()
    {
        QFETCH(QString, backend);
        QFETCH(QString, transport);
        MAKE_RIG(rig, backend, transport);
        const QString seeded = rig->db->snapshot();
        const auto r = smallImport().run(rig->net);
        QVERIFY2(r, qPrintable(r.error()));
        const QString id = historyId(r);
        const QString failed = historyId(smallImport(QStringLiteral("0003")).run(rig->net)); // contract rescinded
        QVERIFY(failed.isEmpty());
        const auto all = ImportHistory::list(rig->db->db());
        QVERIFY(all && all->size() == 2);
        const ImportHistory::Entry &failedRow = all->at(all->at(0).ok ? 1 : 0);
        QVERIFY(!failedRow.ok && !failedRow.undoable && all->at(failedRow.id == all->at(0).id ? 1 : 0).undoable);
        const auto refusedWith = [&](const QString &which) { return Rdm::Desfazer(rig->net, which).failure().key; };
        QCOMPARE(refusedWith(failedRow.id), QStringLiteral("Desf_Falhou"));
        QCOMPARE(refusedWith(QStringLiteral("nenhuma")), QStringLiteral("Desf_NaoEncontrada"));

        const QString written = rig->db->snapshot();
        const QString picture = readDishPicture(rig->db->db()).value_or(QString());
        const QList<std::pair<QString, QString>> changes{
            {QStringLiteral("UPDATE RECEPADR SET QTPRODUTO = 0.123457 WHERE CDPRATO = '200001' AND CDPRODUTO = '000102'"),
             QStringLiteral("UPDATE RECEPADR SET QTPRODUTO = 0.1234564 WHERE CDPRATO = '200001' AND CDPRODUTO = '000102'")},
            {QStringLiteral("DELETE FROM PRATFILI WHERE CDPRATO = '100001'"),
             QStringLiteral("INSERT INTO PRATFILI VALUES ('0001', 'P', '100001', 12.5, '2024-03-01 08:00:00')")},
            {QStringLiteral("INSERT INTO RECEPADR VALUES ('P', '200001', '000103', 'KG', 1)"),
             QStringLiteral("DELETE FROM RECEPADR WHERE CDPRATO = '200001' AND CDPRODUTO = '000103'")}};
        for (const auto &[change, back] : changes) {
            QVERIFY(rig->exec(change));
            const QString changedSnapshot = rig->db->snapshot();
            const auto refused = Rdm::Desfazer(rig->net, id);
            QVERIFY(!refused);
            QCOMPARE(refused.failure().key, QStringLiteral("Desf_Alterados"));
            const QString code = change.contains(QLatin1String("100001")) ? QStringLiteral("100001") : QStringLiteral("200001");
            const QString named = QStringLiteral(": ") + formatThroughPicture(code, picture) + u'.';
            QVERIFY2(refused.error().endsWith(named), qPrintable(refused.error()));
            // Only checking gives the same refusal, in the same words.
            QCOMPARE(Rdm::Desfazer(rig->net, id, true).error(), refused.error());
            QCOMPARE(rig->db->snapshot(), changedSnapshot);
            QVERIFY(rig->exec(back));
        }
        QCOMPARE(rig->db->snapshot(), written);
        const auto wouldUndo = Rdm::Desfazer(rig->net, id, true);
        QVERIFY2(wouldUndo, qPrintable(wouldUndo.error()));
        QCOMPARE(rig->db->snapshot(), written); // checked, nothing written, no history row
        const auto undone = Rdm::Desfazer(rig->net, id);
        QVERIFY2(undone, qPrintable(undone.error()));
        const auto summary = UndoSummary::decode(undone.value());
        QVERIFY(summary && summary->importId == id && summary->dishesDeleted == 2 && summary->dishesRestored == 1);
        QCOMPARE(rig->db->snapshot(), seeded);
    }

    // The server killed at each point of an undo: before it or after it, never between. Killed
    // before, the import can still be undone, and that undo gives the same tables.
    void killedDuringUndo_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QByteArray>("point");
        QTest::addColumn<bool>("undone");
        for (const char *b : {"sqlite", "postgresql"}) {
            const QString be = QString::fromLatin1(b);
            for (const char *point : {"inicio", "pratos", "antes-commit"})
                QTest::addRow("%s/%s", b, point) << be << QByteArray(point) << false;
            QTest::addRow("%s/depois-commit", b) << be << QByteArray("depois-commit") << true;
        }
    }
    void killedDuringUndo()
    {
        QFETCH(QString, backend);
        QFETCH(QByteArray, point);
        QFETCH(bool, undone);
        MAKE_SEEDED_DB(db, backend, why)
        const QString seeded = db->snapshot();
        QString id;
        {
            auto module = RdmImpoPrato::openDirect(db->url());
            QVERIFY2(module, qPrintable(module.error()));
            NetConnection net;
            net.setTransport(std::make_unique<InProcessTransport>(module.value()));
            id = historyId(smallImport().run(net));
            QVERIFY(!id.isEmpty());
        }
        const QString written = db->snapshot();
        auto server = ServerProcess::start(db->url(), &why, point);
        QVERIFY2(server, qPrintable(why));
        auto reply = std::async(std::launch::async, [&] { return Rdm::Desfazer(server->net(), id); });
        QVERIFY2(server->waitForPause(30000), server->err.constData());
        ::kill(pid_t(server->proc.processId()), SIGKILL);
        // The client cannot know which: it says so.
        QCOMPARE(reply.get().failure().key, QStringLiteral("Desf_ResultadoIncerto"));
        server.reset();
        QCOMPARE(db->snapshot(), undone ? seeded : written);
        auto again = ServerProcess::start(db->url(), &why);
        QVERIFY2(again, qPrintable(why));
        const auto r = Rdm::Desfazer(again->net(), id);
        QCOMPARE(bool(r), !undone);
        QCOMPARE(db->snapshot(), seeded);
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
