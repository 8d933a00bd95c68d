// Real imp40500-server processes on one destination, SQLite file and PostgreSQL: two imports and
// two first directory writes at the same time both succeed; a server killed (-9) during Importacao
// at any point leaves the destination exactly as before or exactly as after; a deadlock with
// another transaction is retried inside the server.
#include "rig.h"
#include "database.h"
#include "serverprocess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QSqlQuery>
#include <QtTest>

#include <csignal>
#include <future>

namespace {

// An import large enough to take a while: `n` new dishes with recipes, and one existing dish changed.
ImportCall bigImport(int n, const QString &tag)
{
    ImportCall call;
    const QString P = QStringLiteral("P");
    for (int i = 0; i < n; ++i) {
        const QString code = QStringLiteral("%1").arg(700000 + i);
        call.prato << dish(P, code, tag + QString::number(i));
        call.recePadr << QVariantList{P, code, QStringLiteral("000101"), QStringLiteral("KG"), 0.1};
        call.receFili << QVariantList{QStringLiteral("0001"), P, code, QStringLiteral("000102"), QStringLiteral("KG"), 0.2};
        call.pratPadr << QVariantList{P, code, QStringLiteral("KG"), 1.0};
    }
    call.prato << dish(P, QStringLiteral("100001"), tag);
    return call;
}

} // namespace

class TestTwoServers : public QObject {
    Q_OBJECT

private slots:
    void concurrentImports_data() { bothBackends(); }
    void concurrentImports()
    {
        QFETCH(QString, backend);
        MAKE_SEEDED_DB(db, backend, why)
        auto a = ServerProcess::start(db->url(), &why);
        QVERIFY2(a, qPrintable(why));
        auto b = ServerProcess::start(db->url(), &why);
        QVERIFY2(b, qPrintable(why));
        const ImportCall first = bigImport(3000, QStringLiteral("A"));
        const ImportCall second = bigImport(3000, QStringLiteral("B"));
        for (int round = 0; round < 2; ++round) {
            auto fa = std::async(std::launch::async, [&] { return first.run(a->net()); });
            auto fb = std::async(std::launch::async, [&] { return second.run(b->net()); });
            const auto ra = fa.get();
            const auto rb = fb.get();
            QVERIFY2(ra, qPrintable(ra.error()));
            QVERIFY2(rb, qPrintable(rb.error()));
        }
        QCOMPARE(db->count(QStringLiteral("PRATO"), QStringLiteral("CDPRATO LIKE '7%'")), 3000);
        QCOMPARE(db->count(QStringLiteral("RECEPADR"), QStringLiteral("CDPRATO LIKE '7%'")), 3000);

        // Both find no remembered directory and both write theirs: the later one wins, neither fails.
        for (int round = 0; round < 3; ++round) {
            QSqlQuery(db->db()).exec(QStringLiteral("DELETE FROM DIRETORIOS"));
            const auto write = [](NetConnection &net, const QString &dir) {
                MemTable t(QStringLiteral("DIRETORIOS"));
                t.setFields(Catalogue::table(u"DIRETORIOS")->columns);
                t.createDataSet();
                t.append();
                t.setValue(u"CDPROGRAMA", QStringLiteral("IMP40500"));
                t.setValue(u"DSDIRETORIO", dir);
                t.post();
                return Rdm::SetDiretorios(net, DataPacket::saveDelta(t));
            };
            auto fa = std::async(std::launch::async, [&] { return write(a->net(), QStringLiteral("/a")); });
            auto fb = std::async(std::launch::async, [&] { return write(b->net(), QStringLiteral("/b")); });
            const auto ra = fa.get();
            const auto rb = fb.get();
            QVERIFY2(ra, qPrintable(ra.error()));
            QVERIFY2(rb, qPrintable(rb.error()));
            QCOMPARE(db->count(QStringLiteral("DIRETORIOS")), 1);
        }
    }

    // The server killed at each point of an import: before or after, never between.
    void killedDuringImport_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QByteArray>("point");
        QTest::addColumn<bool>("written");
        for (const char *b : {"sqlite", "postgresql"}) {
            const QString be = QString::fromLatin1(b);
            QTest::addRow("%s/inicio", b) << be << QByteArray("inicio") << false;
            QTest::addRow("%s/pratos", b) << be << QByteArray("pratos") << false;
            QTest::addRow("%s/antes-commit", b) << be << QByteArray("antes-commit") << false;
            QTest::addRow("%s/depois-commit", b) << be << QByteArray("depois-commit") << true;
        }
    }

    void killedDuringImport()
    {
        QFETCH(QString, backend);
        QFETCH(QByteArray, point);
        QFETCH(bool, written);
        MAKE_SEEDED_DB(db, backend, why)
        const QString before = db->snapshot();
        const ImportCall call = bigImport(2000, QStringLiteral("K"));

        auto server = ServerProcess::start(db->url(), &why, point);
        QVERIFY2(server, qPrintable(why));
        auto reply = std::async(std::launch::async, [&] { return call.run(server->net()); });
        QVERIFY2(server->waitForPause(30000), server->err.constData());
        ::kill(pid_t(server->proc.processId()), SIGKILL);
        const auto r = reply.get();
        QVERIFY(!r);
        // The client cannot know which: it says so.
        QCOMPARE(r.failure().key, QStringLiteral("Srv_ResultadoIncerto"));
        server.reset();

        if (!written) {
            QCOMPARE(db->snapshot(), before);
            return;
        }
        // Exactly after: the same import by a server that is not killed changes nothing more.
        const QString after = db->snapshot();
        QVERIFY(after != before);
        auto again = ServerProcess::start(db->url(), &why);
        QVERIFY2(again, qPrintable(why));
        const auto r2 = call.run(again->net());
        QVERIFY2(r2, qPrintable(r2.error()));
        QCOMPARE(db->snapshot(), after);
    }

    // PostgreSQL drops the server's connection in the middle of an import's transaction: the call is
    // not run again (it had begun writing), it fails as not written, and is exactly not written;
    // the next call finds a new connection.
    void connectionLostInsideTheTransaction()
    {
        MAKE_SEEDED_DB(db, SeededDb::Kind::PostgreSQL, why)
        const QString before = db->snapshot();
        auto server = ServerProcess::start(db->url(), &why, "pratos", 2);
        QVERIFY2(server, qPrintable(why));
        const ImportCall call = bigImport(200, QStringLiteral("R"));
        auto reply = std::async(std::launch::async, [&] { return call.run(server->net()); });
        QVERIFY2(server->waitForPause(30000), server->err.constData());
        QVERIFY(db->dropOtherConnections());
        const auto r = reply.get();
        QVERIFY(!r);
        QCOMPARE(r.failure().key, QStringLiteral("BD_ConexaoPerdida"));
        QVERIFY2(r.error().contains(QStringLiteral("não foi gravada")), qPrintable(r.error()));
        QCOMPARE(db->snapshot(), before);
        QVERIFY(Rdm::GetParamGeral(server->net()));
    }

    // Another transaction holds a table the import writes last, then waits for one the import
    // holds: PostgreSQL ends the deadlock by rolling the import back (the other one checked for a
    // deadlock before there was one, and waits on), and the server runs the import again, which
    // waits for the other to end and is then written once, with one history row and one undo.
    void deadlockRetriedInsideTheServer()
    {
        MAKE_SEEDED_DB(db, SeededDb::Kind::PostgreSQL, why)
        const int histories = db->count(QStringLiteral("HISTIMPO"));
        auto server = ServerProcess::start(db->url(), &why, "pratos", 2);
        QVERIFY2(server, qPrintable(why));
        const ImportCall call = bigImport(200, QStringLiteral("D"));
        auto reply = std::async(std::launch::async, [&] { return call.run(server->net()); });
        QVERIFY2(server->waitForPause(30000), server->err.constData());
        auto other = std::async(std::launch::async, [url = db->url()] {
            bool ok = false;
            {
                auto c = Database::open(url, QStringLiteral("deadlock"));
                if (c) {
                    QSqlQuery q(c.value());
                    ok = q.exec(QStringLiteral("BEGIN")) && q.exec(QStringLiteral("SET deadlock_timeout = '10ms'"))
                        && q.exec(QStringLiteral("LOCK TABLE HISTIMPO IN EXCLUSIVE MODE"))
                        && q.exec(QStringLiteral("LOCK TABLE PRATO IN SHARE MODE"));
                    q.exec(QStringLiteral("ROLLBACK"));
                    c.value().close();
                }
            }
            QSqlDatabase::removeDatabase(QStringLiteral("deadlock"));
            return ok;
        });
        QVERIFY(other.get());
        const auto r = reply.get();
        QVERIFY2(r, qPrintable(r.error()));
        // The server's log says so.
        for (int i = 0; i < 50 && !server->err.contains("tentativa 1"); ++i) {
            server->proc.waitForReadyRead(100);
            server->err += server->proc.readAllStandardError();
        }
        QVERIFY2(server->err.contains("tentativa 1"), server->err.constData());
        QCOMPARE(db->count(QStringLiteral("PRATO"), QStringLiteral("CDPRATO LIKE '7%'")), 200);
        QCOMPARE(db->count(QStringLiteral("HISTIMPO")), histories + 1);
        QCOMPARE(db->count(QStringLiteral("DESFIMPO")), 1);
    }

    // The command line tells why the destination cannot be used in words, and with --verbose also
    // in the database's own.
    void commandLineVerbose_data()
    {
        QTest::addColumn<bool>("verbose");
        QTest::newRow("plain") << false;
        QTest::newRow("verbose") << true;
    }

    void commandLineVerbose()
    {
        QFETCH(bool, verbose);
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("danificado.db")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, '\x5a'));
        f.close();
        QStringList args{QStringLiteral("check"), qEnvironmentVariable("IMP_SOURCE_DIR") + QStringLiteral("/samples/pratos-exemplo.txt"),
                         QStringLiteral("--branch"), QStringLiteral("0001"), QStringLiteral("--db"),
                         QStringLiteral("sqlite:") + f.fileName()};
        if (verbose)
            args << QStringLiteral("--verbose");
        const ProcessRun run = ProcessRun::run(QStringLiteral(IMP40500_BIN), args, {}, 30000);
        const QString err = QString::fromUtf8(run.err);
        QVERIFY(run.exitCode != 0);
        QVERIFY2(err.contains(QStringLiteral("não pode ser aberto")), qPrintable(err));
        QVERIFY2(!err.contains(QLatin1String("initdb")), qPrintable(err));
        QCOMPARE(err.contains(QLatin1String("not a database")), verbose);
    }
};

QTEST_GUILESS_MAIN(TestTwoServers)
#include "tst_twoservers.moc"
