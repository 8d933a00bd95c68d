// The import run: its steps in their order with a fake server behind the connection, the failures
// it returns instead of telling anyone, and the success text with the server's summary.
#include "appserver.h"
#include "database.h"
#include "datapacket.h"
#include "../importrun/dishfixture.h"
#include "framework.h"
#include "importrun.h"
#include "importsession.h"

#include <QTest>

namespace {

QStringList g_log; // everything the run does, in order

struct FakeServer : ServerTransport {
    Result<QByteArray> reply = QByteArray();
    CallArgs args;
    Result<QByteArray> call(const QString &method, const CallArgs &a) override
    {
        g_log << "call " + method;
        args = a;
        return reply;
    }
};
struct FakeBusy : BusyIndicator {
    void show(int kind) override { g_log << QStringLiteral("busy %1").arg(kind); }
    void hide() override { g_log << "busy off"; }
};
// The run must tell no one: anything arriving here is a fault.
struct FakeSink : MessageSink {
    void showError(const QString &text) override { g_log << "error " + text; }
    void showInfo(const QString &text) override { g_log << "info " + text; }
};
struct StatusLog : LoadObserver {
    void setStatusText(const QString &text) override { g_log << "status " + text; }
};

QByteArray summary(int written, const QStringList &refused)
{
    ImportSummary s;
    s.dishesWritten = written;
    s.dishesNotWritten = refused;
    return s.encode();
}

// Two dishes loaded, one flagged; the connection on the fake server.
struct ImportFixture {
    NetConnection net;
    FakeServer *server = new FakeServer;
    ImportSession session{net};
    StatusLog status;
    FakeBusy busy;
    FakeSink sink;
    BusyIndicator *oldBusy = setBusyIndicator(&busy);
    MessageSink *oldSink = setMessageSink(&sink);
    ImportRun::RefreshCache refresh = [](const QStringList &tables) { g_log << "cache " + tables.join(u','); };

    ImportFixture()
    {
        g_log.clear();
        net.setTransport(std::unique_ptr<ServerTransport>(server));
        session.setObserver(&status);
        openDishTable(session.cdsPrato);
        addDish(session.cdsPrato, {"P", "100001", "ARROZ"});
        addDish(session.cdsPrato, {"P", "100002", "PUDIM", "0001000000", "PUDIM DA CASA"});
        session.TemRecePadr = session.TemReceServ = true;
        session.CdFilial = QStringLiteral("0009");
    }
    ~ImportFixture()
    {
        session.setObserver(nullptr);
        setBusyIndicator(oldBusy);
        setMessageSink(oldSink);
    }
};

const QStringList kSteps{"busy 6", "status Importando pratos...", "call Importacao"};

} // namespace

class TestImportRun : public QObject {
    Q_OBJECT
private slots:
    void success_data();
    void success();
    void failure_data();
    void failure();
};

void TestImportRun::success_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("message");
    QTest::newRow("summary: written, then refused")
        << summary(4, {"100002", "100009"})
        << QStringList{"A importação foi realizada com sucesso.", "Pratos gravados: 4. Não gravados por conterem erros: 2."};
    QTest::newRow("no readable summary: the first line alone")
        << QByteArray("?") << QStringList{"A importação foi realizada com sucesso."};
}

void TestImportRun::success()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, message);
    ImportFixture f;
    f.server->reply = reply;
    const Result<ImportOutcome> outcome = ImportRun(f.session, f.refresh).run();
    QVERIFY(outcome.ok());
    const QStringList steps = kSteps + QStringList{"cache PRATO", "busy off"};
    QCOMPARE(g_log, steps);
    QCOMPARE(outcome->successText().split(u'\n'), message);
    QCOMPARE(outcome->summaryText().isEmpty(), !outcome->hasSummary);

    // The flagged dish goes as it is; the flags as automation booleans; the session's branch.
    const CallArgs &args = f.server->args;
    QCOMPARE(args.size(), 12);
    MemTable sent;
    QVERIFY(DataPacket::load(sent, args.at(0).toByteArray()).ok());
    QCOMPARE(sent.rowCount(), 2);
    QCOMPARE(sent.textAt(1, sent.fieldIndex(u"IDERRO")) + sent.textAt(1, sent.fieldIndex(u"MNPRATOLOCAL")),
             QStringLiteral("0001000000PUDIM DA CASA"));
    QCOMPARE(QList<qint64>({args.at(8).toLongLong(), args.at(9).toLongLong(), args.at(10).toLongLong()}),
             QList<qint64>({-1, 0, -1}));
    QCOMPARE(args.at(11).toString(), QStringLiteral("0009"));
}

void TestImportRun::failure_data()
{
    QTest::addColumn<bool>("serverRefuses");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("tail");
    // A refusal leaves the cache alone; either way the busy indicator goes.
    QTest::newRow("server refuses") << true << "Filial bloqueada." << "Filial_Bloqueada" << QStringList{"busy off"};
    QTest::newRow("cache refresh fails") << false << "Sem banco." << QString() << QStringList{"busy off"};
}

void TestImportRun::failure()
{
    QFETCH(bool, serverRefuses);
    QFETCH(QString, message);
    QFETCH(QString, key);
    QFETCH(QStringList, tail);
    ImportFixture f;
    if (serverRefuses)
        f.server->reply = Result<QByteArray>::fail(message, key, QStringLiteral("driver words"));
    else
        f.refresh = [](const QStringList &) { throw DatabaseError(QStringLiteral("Sem banco.")); };
    const Result<ImportOutcome> outcome = ImportRun(f.session, f.refresh).run();
    QVERIFY(!outcome.ok());
    QCOMPARE(outcome.failure().message, message);
    QCOMPARE(outcome.failure().key, key);
    QCOMPARE(outcome.failure().detail, serverRefuses ? QStringLiteral("driver words") : QString());
    // Returned, not told: nothing reached the message sink.
    QCOMPARE(g_log, kSteps + tail);
}

QTEST_MAIN(TestImportRun)
#include "tst_importrun.moc"
