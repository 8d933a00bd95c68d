// The import: its steps in their order on success and on each kind of failure, with a fake
// server behind the connection, and the success message with the server's summary.
#include "ambiente.h"
#include "appserver.h"
#include "database.h"
#include "datapacket.h"
#include "dishfixture.h"
#include "framework.h"
#include "importrun.h"
#include "importsession.h"
#include "seeddb.h"

#include <QTest>

namespace {

// Everything the import does, in order.
QStringList g_log;

struct FakeServer : ServerTransport {
    Result<QByteArray> reply = QByteArray();
    QString method;
    QCborArray args;
    Result<QByteArray> call(const QString &m, const QCborArray &a) override
    {
        g_log << QStringLiteral("call ") + m;
        method = m;
        args = a;
        return reply;
    }
};

struct FakeBusy : BusyIndicator {
    void show(int kind) override { g_log << QStringLiteral("busy %1").arg(kind); }
    void hide() override { g_log << QStringLiteral("busy off"); }
};

struct FakeSink : MessageSink {
    void showError(const QString &text) override { g_log << QStringLiteral("error ") + text; }
    void showInfo(const QString &text) override { g_log << QStringLiteral("sink info ") + text; }
};

QByteArray summary(int written, const QStringList &refused)
{
    ImportSummary s;
    s.dishesWritten = written;
    s.dishesNotWritten = refused;
    return s.encode();
}

// A session with two dishes loaded (one flagged), its connection on the fake server, and the
// screen's hooks writing to the log.
struct ImportFixture {
    NetConnection net;
    FakeServer *server;
    ImportSession session{net};
    FakeBusy busy;
    FakeSink sink;
    BusyIndicator *oldBusy;
    MessageSink *oldSink;
    bool panelOpen = false;
    std::function<void(const QStringList &)> refresh = [](const QStringList &tables) {
        g_log << QStringLiteral("cache ") + tables.join(u',');
    };

    ImportFixture()
    {
        g_log.clear();
        auto s = std::make_unique<FakeServer>();
        server = s.get();
        net.setTransport(std::move(s));
        oldBusy = setBusyIndicator(&busy);
        oldSink = setMessageSink(&sink);
        openDishTable(session.cdsPrato);
        addDish(session.cdsPrato, {QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ")});
        addDish(session.cdsPrato, {QStringLiteral("P"), QStringLiteral("100002"), QStringLiteral("PUDIM"),
                                   QStringLiteral("0001000000"), QStringLiteral("PUDIM DA CASA")});
        session.TemRecePadr = true;
        session.TemReceServ = true;
    }
    ~ImportFixture()
    {
        setBusyIndicator(oldBusy);
        setMessageSink(oldSink);
    }

    ImportRun run()
    {
        ImportRunHooks h;
        h.disableImportButton = [] { g_log << QStringLiteral("button off"); };
        h.errorPanelShowing = [this] { return panelOpen; };
        h.lsbErroExit = [] { g_log << QStringLiteral("lsbErroExit"); };
        h.setFiltroEnabled = [](bool on) { g_log << (on ? QStringLiteral("filtro on") : QStringLiteral("filtro off")); };
        h.setStatusText = [](const QString &t) { g_log << QStringLiteral("status ") + t; };
        h.setProgress = [](int p) { g_log << QStringLiteral("progress %1").arg(p); };
        h.repaint = [] { g_log << QStringLiteral("repaint"); };
        h.cdFilial = [] { return QStringLiteral("0009"); };
        h.serveEvents = [] { g_log << QStringLiteral("serve"); };
        h.showInfo = [](const QString &t) { g_log << QStringLiteral("info ") + t; };
        h.refreshLocalCache = refresh;
        return ImportRun(session, h);
    }
};

} // namespace

class TestImportRun : public QObject {
    Q_OBJECT
private slots:
    void success_data();
    void success();
    void failure_data();
    void failure();
    void successText_data();
    void successText();
    void refreshesTheLocalCacheOfPrato();
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
    ImportFixture f;
    f.panelOpen = panelOpen;
    f.server->reply = summary(1, {QStringLiteral("100002")});
    QVERIFY(f.run().click());

    QStringList expected{QStringLiteral("button off")};
    if (panelOpen)
        expected << QStringLiteral("lsbErroExit");
    expected << QStringLiteral("filtro off") << QStringLiteral("busy 6") << QStringLiteral("status Importando pratos...")
             << QStringLiteral("call Importacao") << QStringLiteral("cache PRATO") << QStringLiteral("busy off")
             << QStringLiteral("progress 0") << QStringLiteral("status ") << QStringLiteral("serve")
             << QStringLiteral("filtro on") << QStringLiteral("repaint")
             << QStringLiteral("info ") + ImportRun::successText(summary(1, {QStringLiteral("100002")}));
    QCOMPARE(g_log, expected);

    // The dishes go as they are, the flagged one with its flags and its local name; the flags as
    // automation booleans; the branch as the field shows it.
    const QCborArray &args = f.server->args;
    QCOMPARE(args.size(), 12);
    MemTable sent;
    QVERIFY(DataPacket::load(sent, args.at(0).toByteArray()).ok());
    QCOMPARE(sent.rowCount(), 2);
    QCOMPARE(sent.textAt(1, sent.fieldIndex(u"IDERRO")), QStringLiteral("0001000000"));
    QCOMPARE(sent.textAt(1, sent.fieldIndex(u"MNPRATOLOCAL")), QStringLiteral("PUDIM DA CASA"));
    QCOMPARE(args.at(8).toInteger(), -1);
    QCOMPARE(args.at(9).toInteger(), 0);
    QCOMPARE(args.at(10).toInteger(), -1);
    QCOMPARE(args.at(11).toString(), QStringLiteral("0009"));
    // Everything stays loaded for another look.
    QCOMPARE(f.session.cdsPrato.rowCount(), 2);
}

void TestImportRun::failure_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("tail");
    const QStringList cleanup{QStringLiteral("busy off"), QStringLiteral("progress 0"), QStringLiteral("status "),
                              QStringLiteral("filtro on"), QStringLiteral("repaint")};
    // The server's refusal is shown by the result check, before the cleanup; any other failure
    // is reported once the cleanup has run.
    QTest::newRow("server refuses") << "server"
                                    << (QStringList{QStringLiteral("call Importacao"),
                                                    QStringLiteral("error Filial destino bloqueada.")}
                                        + cleanup);
    QTest::newRow("local cache refresh fails") << "cache"
                                               << (QStringList{QStringLiteral("call Importacao")} + cleanup
                                                   + QStringList{QStringLiteral("error Falha no cache.")});
}

void TestImportRun::failure()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, tail);
    ImportFixture f;
    if (kind == u"server")
        f.server->reply = Result<QByteArray>::fail(QStringLiteral("Filial destino bloqueada."));
    else
        f.refresh = [](const QStringList &) { throw DatabaseError(QStringLiteral("Falha no cache.")); };
    ImportRun run = f.run();
    QVERIFY_THROWS_EXCEPTION(AbandonedAction, run.sbtImportExportClick());

    const QStringList head{QStringLiteral("button off"), QStringLiteral("filtro off"), QStringLiteral("busy 6"),
                           QStringLiteral("status Importando pratos...")};
    QCOMPARE(g_log, head + tail);

    // At the handler's boundary the failure stops, shown once, no success message.
    g_log.clear();
    QVERIFY(!run.click());
    QCOMPARE(g_log.filter(QStringLiteral("error ")).size(), 1);
    QVERIFY(g_log.filter(QStringLiteral("info ")).isEmpty());
    QCOMPARE(g_log.last(), tail.last());
}

void TestImportRun::successText_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("numbers");
    QTest::newRow("some dishes refused") << summary(5, {QStringLiteral("100002"), QStringLiteral("100007")})
                                         << QStringList{QStringLiteral("5"), QStringLiteral("2")};
    QTest::newRow("none refused") << summary(3, {}) << QStringList{QStringLiteral("3"), QStringLiteral("0")};
    QTest::newRow("no summary") << QByteArray() << QStringList();
    QTest::newRow("unreadable summary") << QByteArray("\xff\x01") << QStringList();
}

void TestImportRun::successText()
{
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, numbers);
    const QStringList lines = ImportRun::successText(payload).split(u'\n');
    QCOMPARE(lines.first(), QStringLiteral("A importação foi realizada com sucesso."));
    QCOMPARE(lines.size(), numbers.isEmpty() ? 1 : 2);
    if (numbers.isEmpty())
        return;
    // Written first, then refused.
    const qsizetype written = lines[1].indexOf(numbers[0]);
    QVERIFY(written >= 0);
    QVERIFY(lines[1].indexOf(numbers[1], written + numbers[0].size()) > written);
}

void TestImportRun::refreshesTheLocalCacheOfPrato()
{
    QString why;
    auto db = SeededDb::create(SeededDb::Kind::SQLite, true, &why);
    if (!db)
        QSKIP(qPrintable(why));
    Ambiente &amb = Ambiente::instance();
    const QString oldUrl = amb.databaseUrl;
    amb.databaseUrl = db->url();
    Database::closeShared();

    ImportFixture f;
    f.server->reply = summary(1, {});
    ImportRunHooks hooks;
    hooks.showInfo = [](const QString &t) { g_log << QStringLiteral("info ") + t; };
    ImportRun run(f.session, hooks);
    const int before = amb.localCacheRefreshCount(QStringLiteral("PRATO"));
    QVERIFY(run.click());
    QCOMPARE(amb.localCacheRefreshCount(QStringLiteral("PRATO")), before + 1);
    QVERIFY(!amb.localCache(QStringLiteral("PRATO")).isEmpty());

    Database::closeShared();
    amb.databaseUrl = oldUrl;
}

QTEST_MAIN(TestImportRun)
#include "tst_importrun.moc"
