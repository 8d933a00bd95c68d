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
// The run must tell no one: anything arriving here is a fault.
struct FakeSink : MessageSink {
    void showError(const QString &text) override { g_log << "error " + text; }
    void showInfo(const QString &text) override { g_log << "info " + text; }
};
struct StatusLog : LoadObserver {
    void setStatusText(const QString &text) override { g_log << "status " + text; }
    void serverCallStarted(int animation) override { g_log << QStringLiteral("busy %1").arg(animation); }
    void serverCallEnded() override { g_log << "busy off"; }
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
    FakeSink sink;
    MessageSink *oldSink = setMessageSink(&sink);
    ImportRun::RefreshCache refresh = [](const QStringList &tables) {
        g_log << "cache " + tables.join(u',');
        return okStatus();
    };

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
    QTest::addColumn<QString>("named"); // the refused dishes as the command line's summary names them
    const QString ok = QStringLiteral("A importação foi realizada com sucesso.");
    QTest::newRow("summary: written, then refused through the dish-code mask")
        << summary(4, {"100002", "100009"})
        << QStringList{ok, "Pratos gravados: 4. Não gravados por conterem erros: 2 (100.002, 100.009)."}
        << "(100.002, 100.009)";
    QStringList many;
    for (int i = 1; i <= 7058; ++i)
        many << QStringLiteral("1%1").arg(i, 5, 10, QLatin1Char('0'));
    const QString firstTen = QStringLiteral("100.001, 100.002, 100.003, 100.004, 100.005, 100.006, 100.007, "
                                            "100.008, 100.009, 100.010 e mais 7048");
    QTest::newRow("thousands refused: the first ten named, then how many more")
        << summary(0, many) << QStringList{ok, "Pratos gravados: 0. Não gravados por conterem erros: 7058 (" + firstTen + ")."}
        << "(" + firstTen + ")";
    QTest::newRow("a code the mask does not fit is named as stored")
        << summary(1, {"ABC"}) << QStringList{ok, "Pratos gravados: 1. Não gravados por conterem erros: 1 (ABC)."} << "(ABC)";
    QTest::newRow("nothing refused")
        << summary(3, {}) << QStringList{ok, "Pratos gravados: 3. Não gravados por conterem erros: 0."} << "nenhum";
    QTest::newRow("no readable summary: the first line alone")
        << QByteArray("?") << QStringList{ok} << QString();
}

void TestImportRun::success()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, message);
    QFETCH(QString, named);
    ImportFixture f;
    f.server->reply = reply;
    const Result<ImportOutcome> outcome = ImportRun(f.session, f.refresh).run();
    QVERIFY(outcome.ok());
    const QStringList steps = kSteps + QStringList{"cache PRATO", "busy off"};
    QCOMPARE(g_log, steps);
    const QString mask = QStringLiteral("999.999");
    QCOMPARE(outcome->successText(mask).split(u'\n'), message);
    QCOMPARE(outcome->summaryText(mask).isEmpty(), !outcome->hasSummary);
    QVERIFY(outcome->summaryText(mask).split(u'\n').value(1).contains(named));

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
    // A refusal leaves the cache alone; either way the server call ends. A cache that cannot be
    // refreshed after the import went through is no failure of the import: it comes with it.
    QTest::newRow("server refuses") << true << "Filial bloqueada." << "Filial_Bloqueada" << QStringList{"busy off"};
    QTest::newRow("cache refresh fails") << false << "Sem banco." << "BD_NaoAbre" << QStringList{"busy off"};
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
        f.refresh = [](const QStringList &) { return Status::fail(QStringLiteral("Sem banco."), QStringLiteral("BD_NaoAbre")); };
    const Result<ImportOutcome> outcome = ImportRun(f.session, f.refresh).run();
    QCOMPARE(outcome.ok(), !serverRefuses);
    const Failure failure = serverRefuses ? outcome.failure() : outcome->cacheFailure.value_or(Failure{});
    QCOMPARE(failure.message, message);
    QCOMPARE(failure.key, key);
    QCOMPARE(failure.detail, serverRefuses ? QStringLiteral("driver words") : QString());
    // Returned, not told: nothing reached the message sink.
    QCOMPARE(g_log, kSteps + tail);
}

QTEST_MAIN(TestImportRun)
#include "tst_importrun.moc"
