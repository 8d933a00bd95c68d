// The import: its steps in their order on success and on each kind of failure, with a fake
// server behind the connection, and the success message with the server's summary.
#include "appserver.h"
#include "database.h"
#include "datapacket.h"
#include "dishfixture.h"
#include "framework.h"
#include "importrun.h"
#include "importsession.h"

#include <QTest>

namespace {

QStringList g_log; // everything the import does, in order

struct FakeServer : ServerTransport {
    Result<QByteArray> reply = QByteArray();
    QCborArray args;
    Result<QByteArray> call(const QString &method, const QCborArray &a) override
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
struct FakeSink : MessageSink {
    void showError(const QString &text) override { g_log << "error " + text; }
    void showInfo(const QString &text) override { g_log << "info " + text; }
};

QByteArray summary(int written, const QStringList &refused)
{
    ImportSummary s;
    s.dishesWritten = written;
    s.dishesNotWritten = refused;
    return s.encode();
}

// Two dishes loaded, one flagged; the connection on the fake server; the screen's hooks logging.
struct ImportFixture {
    NetConnection net;
    FakeServer *server = new FakeServer;
    ImportSession session{net};
    FakeBusy busy;
    FakeSink sink;
    BusyIndicator *oldBusy = setBusyIndicator(&busy);
    MessageSink *oldSink = setMessageSink(&sink);
    ImportRunHooks hooks;

    ImportFixture(bool panelOpen = false)
    {
        g_log.clear();
        net.setTransport(std::unique_ptr<ServerTransport>(server));
        openDishTable(session.cdsPrato);
        addDish(session.cdsPrato, {"P", "100001", "ARROZ"});
        addDish(session.cdsPrato, {"P", "100002", "PUDIM", "0001000000", "PUDIM DA CASA"});
        session.TemRecePadr = session.TemReceServ = true;
        hooks.disableImportButton = [] { g_log << "button off"; };
        hooks.errorPanelShowing = [panelOpen] { return panelOpen; };
        hooks.lsbErroExit = [] { g_log << "lsbErroExit"; };
        hooks.setFiltroEnabled = [](bool on) { g_log << (on ? "filtro on" : "filtro off"); };
        hooks.setStatusText = [](const QString &t) { g_log << "status " + t; };
        hooks.setProgress = [](int p) { g_log << QStringLiteral("progress %1").arg(p); };
        hooks.repaint = [] { g_log << "repaint"; };
        hooks.cdFilial = [] { return QStringLiteral("0009"); };
        hooks.serveEvents = [] { g_log << "serve"; };
        hooks.refreshLocalCache = [](const QStringList &tables) { g_log << "cache " + tables.join(u','); };
    }
    ~ImportFixture()
    {
        setBusyIndicator(oldBusy);
        setMessageSink(oldSink);
    }
};

const QStringList kCleanup{"busy off", "progress 0", "status ", "filtro on", "repaint"};

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
    QTest::addColumn<bool>("panelOpen");
    QTest::newRow("error panel closed") << false;
    QTest::newRow("error panel open: closed first") << true;
}

void TestImportRun::success()
{
    QFETCH(bool, panelOpen);
    ImportFixture f(panelOpen);
    f.server->reply = summary(4, {"100002", "100009"});
    QVERIFY(ImportRun(f.session, f.hooks).click());
    QStringList expected{"button off"};
    if (panelOpen)
        expected << "lsbErroExit";
    expected << "filtro off" << "busy 6" << "status Importando pratos..." << "call Importacao" << "cache PRATO"
             << "busy off" << "progress 0" << "status " << "serve" << "filtro on" << "repaint";
    QCOMPARE(g_log.mid(0, expected.size()), expected);
    // Then the message, with the server's summary on a second line: written first, then refused.
    QCOMPARE(g_log.size(), expected.size() + 1);
    const QStringList message = g_log.last().split(u'\n');
    QCOMPARE(message.value(0), QStringLiteral("info A importação foi realizada com sucesso."));
    QCOMPARE(message.size(), 2);
    QVERIFY(message[1].indexOf(u'4') >= 0 && message[1].indexOf(u'2') > message[1].indexOf(u'4'));

    // The flagged dish goes as it is; the flags as automation booleans; the branch of the field.
    const QCborArray &args = f.server->args;
    QCOMPARE(args.size(), 12);
    MemTable sent;
    QVERIFY(DataPacket::load(sent, args.at(0).toByteArray()).ok());
    QCOMPARE(sent.rowCount(), 2);
    QCOMPARE(sent.textAt(1, sent.fieldIndex(u"IDERRO")) + sent.textAt(1, sent.fieldIndex(u"MNPRATOLOCAL")),
             QStringLiteral("0001000000PUDIM DA CASA"));
    QCOMPARE(QList<qint64>({args.at(8).toInteger(), args.at(9).toInteger(), args.at(10).toInteger()}),
             QList<qint64>({-1, 0, -1}));
    QCOMPARE(args.at(11).toString(), QStringLiteral("0009"));
}

void TestImportRun::failure_data()
{
    QTest::addColumn<bool>("serverRefuses");
    QTest::addColumn<QStringList>("tail");
    // The server's refusal is shown by the result check before the cleanup; any other failure is
    // reported once the cleanup has run.
    QTest::newRow("server refuses") << true << QStringList{"call Importacao", "error Filial bloqueada."} + kCleanup;
    QTest::newRow("cache refresh fails") << false << QStringList{"call Importacao"} + kCleanup + QStringList{"error Sem banco."};
}

void TestImportRun::failure()
{
    QFETCH(bool, serverRefuses);
    QFETCH(QStringList, tail);
    ImportFixture f;
    if (serverRefuses)
        f.server->reply = Result<QByteArray>::fail(QStringLiteral("Filial bloqueada."));
    else
        f.hooks.refreshLocalCache = [](const QStringList &) { throw DatabaseError(QStringLiteral("Sem banco.")); };
    ImportRun run(f.session, f.hooks);
    QVERIFY_THROWS_EXCEPTION(AbandonedAction, run.sbtImportExportClick());
    QCOMPARE(g_log, QStringList({"button off", "filtro off", "busy 6", "status Importando pratos..."}) + tail);
    // At the handler's boundary it stops there: shown once, no success message.
    g_log.clear();
    QVERIFY(!run.click());
    QCOMPARE(g_log.filter("error ").size(), 1);
    QVERIFY(g_log.filter("info ").isEmpty());
}

QTEST_MAIN(TestImportRun)
#include "tst_importrun.moc"
