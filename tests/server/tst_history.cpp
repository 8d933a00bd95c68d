// The import history: one row per Importacao through both transports on SQLite and PostgreSQL,
// with the client's origin (operator, file, size, SHA-256) carried beside the twelve arguments; the
// row of an import that fails halfway through its writes; a destination older than the history;
// and `imp40500 import` / `imp40500 history` end to end, embedded and against a server process.
#include "rig.h"
#include "serverprocess.h"

#include "importhistory.h"
#include "importorigin.h"
#include "messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <future>

namespace {

ImportOrigin origin(const QString &file, char fill)
{
    ImportOrigin o;
    o.operatorCode = QStringLiteral("MARIA");
    o.fileName = file;
    o.bytes = 4321;
    o.sha256 = QString(64, QLatin1Char(fill));
    return o;
}

// A refused dish's code as no database keeps it plainly: a NUL, a comma between codes, a "%".
const QString kRefusedCode = QStringLiteral("2,0%") + QChar(0) + QStringLiteral("02");

// One clean dish with its standard recipe and yield, and one refused for its flags.
ImportCall twoDishes(const QString &branch = QStringLiteral("0001"))
{
    const QString P = QStringLiteral("P");
    ImportCall call;
    call.branch = branch;
    call.prato = {dish(P, QStringLiteral("200001"), QStringLiteral("PRATO NOVO")),
                  dish(P, kRefusedCode, QStringLiteral("PRATO COM ERRO"), QStringLiteral("0100000000"))};
    call.recePadr = {{P, QStringLiteral("200001"), QStringLiteral("000101"), QStringLiteral("KG"), 0.5}};
    call.pratPadr = {{P, QStringLiteral("200001"), QStringLiteral("KG"), 1.0}};
    return call;
}

void backendsAndTransports()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("transport");
    for (const char *b : {"sqlite", "postgresql"})
        for (const char *t : {"inprocess", "http"})
            QTest::addRow("%s/%s", b, t) << QString::fromLatin1(b) << QString::fromLatin1(t);
}

ProcessRun runCli(const QStringList &args, const QString &dir)
{
    return ProcessRun::run(QStringLiteral(IMP40500_BIN), args, dir);
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    // What a client may put in the header, and what the server keeps of it.
    void originHeader_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("operatorCode");
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("sha256");
        const QString sha(64, QLatin1Char('a'));
        QTest::newRow("round trip") << origin(QStringLiteral("cardápio ção.txt"), 'a').toHeader() << "MARIA"
                                    << "cardápio ção.txt" << qint64(4321) << sha;
        QTest::newRow("not base64") << QByteArray("@@@") << "" << "" << qint64(-1) << "";
        QTest::newRow("not a map") << QByteArray("9f") << "" << "" << qint64(-1) << "";
        ImportOrigin wild;
        wild.operatorCode = QStringLiteral("OPERADOR-COM-NOME-LONGO");
        wild.fileName = QString(300, QLatin1Char('x')) + QStringLiteral("\n");
        wild.bytes = 7;
        wild.sha256 = QStringLiteral("zz") + QString(62, QLatin1Char('0'));
        QTest::newRow("out of bounds") << wild.toHeader() << "OPERADOR-C" << QString(255, QLatin1Char('x')) << qint64(7)
                                       << "";
        ImportOrigin upper;
        upper.sha256 = QString(64, QLatin1Char('F'));
        upper.fileName = QStringLiteral("a\tb.txt");
        QTest::newRow("upper-case hash, control character") << upper.toHeader() << "" << "ab.txt" << qint64(-1)
                                                            << QString(64, QLatin1Char('f'));
    }
    void originHeader()
    {
        QFETCH(QByteArray, header);
        const ImportOrigin o = ImportOrigin::fromHeader(header);
        QTEST(o.operatorCode, "operatorCode");
        QTEST(o.fileName, "file");
        QTEST(o.bytes, "bytes");
        QTEST(o.sha256, "sha256");
    }

    // A written import and a refused one, each with its row, newest first; the refused one does not
    // count as the file having been imported.
    void recordsEachImport_data() { backendsAndTransports(); }
    void recordsEachImport()
    {
        QFETCH(QString, backend);
        QFETCH(QString, transport);
        MAKE_RIG(rig, backend, transport);
        const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-1);
        {
            const ImportOrigin::Scope scope(origin(QStringLiteral("cardápio.txt"), 'a'));
            auto r = twoDishes().run(rig->net);
            QVERIFY2(r, qPrintable(r.error()));
            QTest::qWait(5); // the rows are told apart by their time
            auto refused = twoDishes(QStringLiteral("0003")).run(rig->net); // contract rescinded
            QVERIFY(!refused);
        }
        // A call without an origin is recorded all the same.
        QTest::qWait(5);
        QVERIFY(twoDishes().run(rig->net));

        auto all = ImportHistory::list(rig->db->db());
        QVERIFY2(all, qPrintable(all.error()));
        QCOMPARE(all->size(), 3);
        const ImportHistory::Entry &bare = all->at(0), &failed = all->at(1), &ok = all->at(2);
        QVERIFY(bare.ok);
        QVERIFY(bare.fileName.isEmpty() && bare.sha256.isEmpty() && bare.operatorCode.isEmpty());
        QCOMPARE(bare.bytes, qint64(-1));

        QVERIFY(!failed.ok);
        QCOMPARE(failed.branch, QStringLiteral("0003"));
        QVERIFY2(failed.message.contains(QLatin1String("rescindido")), qPrintable(failed.message));
        QCOMPARE(failed.dishesWritten, 0);

        QVERIFY(ok.ok);
        QVERIFY(ok.when >= start && ok.when <= QDateTime::currentDateTimeUtc());
        QCOMPARE(ok.operatorCode, QStringLiteral("MARIA"));
        QCOMPARE(ok.branch, QStringLiteral("0001"));
        QCOMPARE(ok.fileName, QStringLiteral("cardápio.txt"));
        QCOMPARE(ok.bytes, qint64(4321));
        QCOMPARE(ok.sha256, QString(64, QLatin1Char('a')));
        QCOMPARE(ok.dishesWritten, 1);
        QCOMPARE(ok.dishesRefused, QStringList{kRefusedCode});
        const QList<QPair<QString, int>> rows{{QStringLiteral("PRATO"), 1},    {QStringLiteral("RECEPADR"), 1},
                                              {QStringLiteral("RECEFILI"), 0}, {QStringLiteral("RECESERV"), 0},
                                              {QStringLiteral("PRATPADR"), 1}, {QStringLiteral("PRATFILI"), 0}};
        QCOMPARE(ok.rows, rows);
        QVERIFY(ok.message.isEmpty() && ok.messageKey.isEmpty());

        QCOMPARE(ImportHistory::list(rig->db->db(), QStringLiteral("0003"))->size(), 1);
        auto last = ImportHistory::lastImportOf(rig->db->db(), QStringLiteral("0001"), ok.sha256);
        QVERIFY(last && last->has_value());
        QCOMPARE(last->value().id, ok.id);
        auto none = ImportHistory::lastImportOf(rig->db->db(), QStringLiteral("0003"), ok.sha256);
        QVERIFY(none && !none->has_value());
    }

    // The database refuses a write halfway through (the dishes are in, their yields are not): the
    // import is rolled back whole, and its row, written after the rollback, says why.
    void failedMidWrite_data() { backendsAndTransports(); }
    void failedMidWrite()
    {
        QFETCH(QString, backend);
        QFETCH(QString, transport);
        MAKE_RIG(rig, backend, transport);
        if (backend == QLatin1String("postgresql")) {
            QVERIFY(rig->exec(QStringLiteral("CREATE FUNCTION FALHA_SIMULADA() RETURNS trigger LANGUAGE plpgsql AS "
                                             "$$ BEGIN RAISE EXCEPTION 'falha simulada na gravação'; END $$")));
            QVERIFY(rig->exec(QStringLiteral("CREATE TRIGGER FALHA_PRATPADR BEFORE INSERT ON PRATPADR FOR EACH ROW "
                                             "EXECUTE FUNCTION FALHA_SIMULADA()")));
        } else {
            QVERIFY(rig->exec(QStringLiteral("CREATE TRIGGER FALHA_PRATPADR BEFORE INSERT ON PRATPADR BEGIN "
                                             "SELECT RAISE(ABORT, 'falha simulada na gravação'); END")));
        }
        const QString before = rig->db->snapshot();
        Result<QByteArray> r = QByteArray();
        {
            const ImportOrigin::Scope scope(origin(QStringLiteral("meio.txt"), 'b'));
            r = twoDishes().run(rig->net);
        }
        QVERIFY(!r);
        QCOMPARE(rig->db->snapshot(), before);

        auto all = ImportHistory::list(rig->db->db());
        QVERIFY2(all, qPrintable(all.error()));
        QCOMPARE(all->size(), 1);
        const ImportHistory::Entry &e = all->first();
        QVERIFY(!e.ok);
        QCOMPARE(e.fileName, QStringLiteral("meio.txt"));
        QCOMPARE(e.sha256, QString(64, QLatin1Char('b')));
        QCOMPARE(e.dishesWritten, 0);
        QVERIFY(e.rows.isEmpty());
        QCOMPARE(e.message, r.error());
        QCOMPARE(e.messageKey, r.failure().key);
        QVERIFY2(e.messageKey.startsWith(QLatin1String("BD_")), qPrintable(e.messageKey));
        QVERIFY2(e.message.startsWith(QStringLiteral("A importação não foi gravada.")), qPrintable(e.message));
    }

    // A server process paused in the middle of the import's writes (IMP_SERVER_PAUSE_AT=pratos)
    // loses its PostgreSQL connection there: the import fails as not written, and its row still
    // goes in, through a connection of its own, as soon as the database takes one again (a
    // restarting database refuses them for a while). A row that cannot be written in the time the
    // server waits (IMP_HISTORY_WAIT_SECONDS) is said after the import's failure.
    void connectionLostMidWrite_data()
    {
        QTest::addColumn<int>("refusedMs");   // how long new connections are refused; -1: to the end
        QTest::addColumn<QByteArray>("wait"); // the server's IMP_HISTORY_WAIT_SECONDS
        QTest::newRow("connection dropped") << 0 << QByteArray();
        QTest::newRow("database restarting") << 3500 << QByteArray(); // past the 2 s pause
        QTest::newRow("database not back in time") << -1 << QByteArray("1");
    }
    void connectionLostMidWrite()
    {
        QFETCH(int, refusedMs);
        QFETCH(QByteArray, wait);
        MAKE_SEEDED_DB(db, SeededDb::Kind::PostgreSQL, why)
        if (!wait.isEmpty())
            qputenv("IMP_HISTORY_WAIT_SECONDS", wait);
        auto server = ServerProcess::start(db->url(), &why, "pratos", 2);
        if (!wait.isEmpty())
            qunsetenv("IMP_HISTORY_WAIT_SECONDS");
        QVERIFY2(server, qPrintable(why));
        const int port = server->port;

        const QString before = db->snapshot();
        auto reply = std::async(std::launch::async, [port] {
            NetConnection net;
            net.setTransport(std::make_unique<HttpTransport>(QStringLiteral("127.0.0.1"), port, QString(), 60));
            const ImportOrigin::Scope scope(origin(QStringLiteral("queda.txt"), 'c'));
            return twoDishes().run(net);
        });
        QVERIFY2(server->waitForPause(30000), server->err.constData());
        if (refusedMs != 0)
            QVERIFY(db->allowConnections(false));
        QVERIFY(db->dropOtherConnections());
        if (refusedMs > 0) {
            QTest::qWait(refusedMs);
            QVERIFY(db->allowConnections(true));
        }
        const auto r = reply.get();
        if (refusedMs < 0)
            QVERIFY(db->allowConnections(true));
        QVERIFY(!r);
        QCOMPARE(r.failure().key, QStringLiteral("BD_ConexaoPerdida"));
        QCOMPARE(db->snapshot(), before);

        auto all = ImportHistory::list(db->db());
        QVERIFY2(all, qPrintable(all.error()));
        server->proc.waitForReadyRead(200);
        server->err += server->proc.readAllStandardError();
        const QString notRecorded = Msg(QStringLiteral("Hist_NaoGravado")).section(u'%', 0, 0);
        if (refusedMs < 0) {
            QVERIFY2(all->isEmpty(), server->err.constData());
            QVERIFY2(r.error().contains(u'\n' + notRecorded), qPrintable(r.error()));
            return;
        }
        QVERIFY2(all->size() == 1, server->err.constData());
        QVERIFY(!all->first().ok);
        QCOMPARE(all->first().fileName, QStringLiteral("queda.txt"));
        QCOMPARE(all->first().messageKey, QStringLiteral("BD_ConexaoPerdida"));
        QCOMPARE(all->first().message, r.error());
        QVERIFY(!r.error().contains(notRecorded));
    }

    // A destination made before the history: the server gives it the table and records into it.
    void olderDestinationGetsTheTable_data() { bothBackends(); }
    void olderDestinationGetsTheTable()
    {
        QFETCH(QString, backend);
        MAKE_SEEDED_DB(db, backend, why)
        QVERIFY(QSqlQuery(db->db()).exec(QStringLiteral("DROP TABLE HISTIMPO")));
        QVERIFY(ImportHistory::list(db->db())->isEmpty()); // no table: no history, no failure

        auto module = RdmImpoPrato::openDirect(db->url());
        QVERIFY2(module, qPrintable(module.error()));
        NetConnection net;
        net.setTransport(std::make_unique<InProcessTransport>(module.value()));
        auto r = twoDishes().run(net);
        QVERIFY2(r, qPrintable(r.error()));
        QCOMPARE(ImportHistory::list(db->db())->size(), 1);

        // A table from before exports were kept in it (no IDOPERACAO): read as imports, and given
        // the column by the next server that opens the destination.
        module = Failure{};
        net.setTransport(nullptr);
        QVERIFY(QSqlQuery(db->db()).exec(QStringLiteral("ALTER TABLE HISTIMPO DROP COLUMN IDOPERACAO")));
        auto old = ImportHistory::list(db->db());
        QVERIFY2(old && old->size() == 1, qPrintable(old.error()));
        QCOMPARE(old->first().kind, ImportHistory::Entry::Kind::Import);
        module = RdmImpoPrato::openDirect(db->url());
        QVERIFY2(module, qPrintable(module.error()));
        net.setTransport(std::make_unique<InProcessTransport>(module.value()));
        r = twoDishes().run(net);
        QVERIFY2(r, qPrintable(r.error()));
        QCOMPARE(ImportHistory::list(db->db())->size(), 2);
    }

    // The time is UTC and says so: text ending in "Z" on SQLite, a timestamptz on PostgreSQL. A
    // PostgreSQL destination from when it was a timestamp without time zone gets its column
    // converted, its rows kept at the UTC they were; a session in another time zone reads them so.
    void utcTime_data() { bothBackends(); }
    void utcTime()
    {
        QFETCH(QString, backend);
        MAKE_SEEDED_DB(db, backend, why)
        const bool pg = backend == QLatin1String("postgresql");
        const QDateTime old(QDate(2024, 1, 2), QTime(3, 4, 5, 678), Qt::UTC);
        if (pg) {
            QSqlQuery q(db->db());
            QVERIFY(q.exec(QStringLiteral("DROP TABLE HISTIMPO")));
            for (QString sql : ImportHistory::statements(DbKind::PostgreSQL))
                QVERIFY2(q.exec(sql.replace(QStringLiteral("WITH TIME ZONE"), QStringLiteral("WITHOUT TIME ZONE"))),
                         qPrintable(q.lastError().text()));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO HISTIMPO (CDHISTIMPO, DTIMPORTACAO, IDRESULTADO, QTPRATOGRAV, "
                                          "QTPRATOERRO) VALUES ('antiga', '2024-01-02 03:04:05.678', 'ok', 1, 0)")));
        }
        qputenv("PGTZ", "America/Sao_Paulo");
        auto module = RdmImpoPrato::openDirect(db->url());
        qunsetenv("PGTZ");
        QVERIFY2(module, qPrintable(module.error()));
        NetConnection net;
        net.setTransport(std::make_unique<InProcessTransport>(module.value()));
        const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-1);
        QVERIFY(twoDishes().run(net));
        QSqlQuery q(db->db());
        if (pg) {
            QVERIFY(q.exec(QStringLiteral("SELECT data_type FROM information_schema.columns WHERE table_schema = "
                                          "current_schema() AND table_name = 'histimpo' AND column_name = 'dtimportacao'")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("timestamp with time zone"));
        } else {
            QVERIFY(q.exec(QStringLiteral("SELECT DTIMPORTACAO FROM HISTIMPO")));
            QVERIFY(q.next());
            QVERIFY2(q.value(0).toString().endsWith(u'Z'), qPrintable(q.value(0).toString()));
        }
        q.finish();
        if (pg)
            QVERIFY(q.exec(QStringLiteral("SET TIME ZONE 'Asia/Kolkata'")));
        const auto all = ImportHistory::list(db->db());
        QVERIFY2(all, qPrintable(all.error()));
        QCOMPARE(all->size(), pg ? 2 : 1);
        QVERIFY(all->first().when >= start && all->first().when <= QDateTime::currentDateTimeUtc());
        if (pg)
            QCOMPARE(all->last().when, old);
    }

    // The command line, embedded and against a server process: the file's origin reaches the row,
    // a second import of the same file warns and goes on, and `history` lists both.
    void commandLine_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("serverProcess");
        for (const char *b : {"sqlite", "postgresql"}) {
            QTest::addRow("%s/embedded", b) << QString::fromLatin1(b) << false;
            QTest::addRow("%s/server", b) << QString::fromLatin1(b) << true;
        }
    }
    void commandLine()
    {
        QFETCH(QString, backend);
        QFETCH(bool, serverProcess);
        MAKE_SEEDED_DB(db, backend, why)
        QTemporaryDir dir;
        ExportWriter w;
        w.service(QStringLiteral("10"), QStringLiteral("ALMOCO"));
        w.dish(QStringLiteral("P"), QStringLiteral("555555"), QStringLiteral("PRATO LIMPO"));
        w.add({QStringLiteral("RECEPADR"), QStringLiteral("P"), QStringLiteral("555555"), QStringLiteral("000101"),
               QStringLiteral("KG"), QStringLiteral("0,5")});
        const QString file = dir.filePath(QStringLiteral("cardápio de março.txt"));
        QVERIFY(w.write(file));
        const QByteArray bytes = w.bytes();
        const QString sha = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());

        // JOANA may import into 0001.
        QVERIFY(QSqlQuery(db->db()).exec(QStringLiteral("INSERT INTO FILIOPER (CDFILIAL, CDOPERADOR) VALUES ('0001', 'JOANA')")));
        std::unique_ptr<ServerProcess> server;
        QStringList target{QStringLiteral("--db"), db->url()};
        if (serverProcess) {
            server = ServerProcess::start(db->url(), &why);
            QVERIFY2(server, qPrintable(why));
            target << QStringLiteral("--server") << server->address();
        }
        const QStringList import = QStringList{QStringLiteral("import"), file, QStringLiteral("--branch"), QStringLiteral("1"),
                                               QStringLiteral("--operator"), QStringLiteral("JOANA"),
                                               QStringLiteral("--locale"), QStringLiteral("pt_BR")}
            + target;
        const ProcessRun first = runCli(import, dir.path());
        QVERIFY2(first.exitCode == 0, first.err.constData());
        QVERIFY(!first.err.contains("importado"));
        QTest::qWait(5);
        const ProcessRun second = runCli(import + QStringList{QStringLiteral("--json")}, dir.path());
        QVERIFY2(second.exitCode == 0, second.err.constData());
        QVERIFY2(second.err.contains(QStringLiteral("já foi importado nesta filial").toUtf8()), second.err.constData());
        QVERIFY2(second.err.contains("por JOANA"), second.err.constData());

        const QStringList where{QStringLiteral("--db"), db->url()};
        const ProcessRun json = runCli(QStringList{QStringLiteral("history"), QStringLiteral("--json"), QStringLiteral("--branch"),
                                            QStringLiteral("1")} + where, dir.path());
        QVERIFY2(json.exitCode == 0, json.err.constData());
        const QJsonArray list = QJsonDocument::fromJson(json.out).array();
        QCOMPARE(list.size(), 2);
        const QJsonObject newest = list.first().toObject();
        QCOMPARE(newest.keys(), (QStringList{"branch", "bytes", "dishes_refused", "dishes_written", "duration_ms", "file", "id",
                                             "kind", "message", "message_key", "operator", "outcome", "rows", "sha256", "undoable",
                                             "when"}));
        // The import's JSON names its row; the time is UTC and says so.
        QCOMPARE(newest["id"].toString(), second.json()["import"].toObject()["history_id"].toString());
        QVERIFY(newest["kind"].toString() == u"import" && newest["when"].toString().endsWith(u'Z') && newest["duration_ms"].isDouble()
                && newest["message_key"].isNull() && newest["undoable"].toBool());
        QCOMPARE(newest["operator"].toString(), QStringLiteral("JOANA"));
        QCOMPARE(newest["branch"].toString(), QStringLiteral("0001"));
        QCOMPARE(newest["file"].toString(), QStringLiteral("cardápio de março.txt"));
        QCOMPARE(newest["bytes"].toInteger(), qint64(bytes.size()));
        QCOMPARE(newest["sha256"].toString(), sha);
        QCOMPARE(newest["outcome"].toString(), QStringLiteral("ok"));
        QVERIFY(newest["dishes_written"].toInt() == 1 && newest["dishes_refused"].toArray().isEmpty());
        QVERIFY(newest["rows"].toObject()["PRATO"].toInt() == 1 && newest["rows"].toObject()["RECEPADR"].toInt() == 1);
        QVERIFY(newest["message"].isNull());
        QVERIFY(QDateTime::fromString(newest["when"].toString(), Qt::ISODateWithMs)
                > QDateTime::fromString(list.last().toObject()["when"].toString(), Qt::ISODateWithMs));

        const ProcessRun limited = runCli(QStringList{QStringLiteral("history"), QStringLiteral("--limit"), QStringLiteral("1")} + where,
                                   dir.path());
        QVERIFY(limited.exitCode == 0 && limited.out.count("filial 0001") == 1 && limited.out.contains(sha.toLatin1()));
        const ProcessRun other = runCli(QStringList{QStringLiteral("history"), QStringLiteral("--branch"), QStringLiteral("2")} + where,
                                 dir.path());
        QVERIFY(other.exitCode == 0 && other.out.contains("Nenhuma importação registrada."));
        const ProcessRun missing = runCli({QStringLiteral("history"), QStringLiteral("--db"), QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("nenhum.db"))},
                                   dir.path());
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(missing.err.contains(QStringLiteral("não existe").toUtf8()));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("nenhum.db"))));
        for (const char *bad : {"0", "-3", "muitos"}) {
            const ProcessRun r = runCli(QStringList{QStringLiteral("history"), QStringLiteral("--limit"), QString::fromLatin1(bad)} + where,
                                 dir.path());
            QCOMPARE(r.exitCode, 2);
            QVERIFY(r.err.contains("limite"));
        }
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
