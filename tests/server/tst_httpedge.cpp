// The HTTP edge with real sockets on 127.0.0.1: idle and slow clients do not hold the others up,
// the token and the size are judged on the headers before any body is read, a chunked body is
// refused; the health path answers without the token. Every wait is bounded. (A lost answer to an import: tst_twoservers kills the server.)
#include "database.h"
#include "rig.h"
#include "wire.h"

#include "messages.h"

#include <QElapsedTimer>
#include <QSqlQuery>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>


namespace {

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendAll(int fd, const QByteArray &bytes)
{
    qsizetype off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + off, size_t(bytes.size() - off), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += n;
    }
}

// What the server sends until it closes or `seconds` pass; *closed says whether it closed.
QByteArray readReply(int fd, int seconds, bool *closed = nullptr)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    char buf[4096];
    while (clock.elapsed() < seconds * 1000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (closed)
                *closed = true;
            break;
        }
        out.append(buf, n);
    }
    return out;
}

// Whether the server closed the connection within `seconds`.
bool closedWithin(int fd, int seconds)
{
    bool closed = false;
    readReply(fd, seconds, &closed);
    return closed;
}

QByteArray head(const QByteArray &path, const QList<QByteArray> &headers)
{
    QByteArray h = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const QByteArray &line : headers)
        h += line + "\r\n";
    return h + "\r\n";
}

const QByteArray kPath = QByteArray("/") + kServerName + "/GetParamGeral";

} // namespace

class TestHttpEdge : public QObject {
    Q_OBJECT

private slots:
    // Forty connections opened and left idle, then one real call: it is answered at once.
    void idleConnectionsDoNotStarveOthers()
    {
        MAKE_RIG(rig, QStringLiteral("sqlite"), QStringLiteral("http"));
        const int port = rig->http->port();
        QList<int> idle;
        for (int i = 0; i < 40; ++i) {
            const int fd = connectTo(port);
            QVERIFY(fd >= 0);
            idle << fd;
        }
        // A few of them send half a request line and stop.
        for (int i = 0; i < 8; ++i)
            sendAll(idle.at(i), "POST /IMP40500.rdmImpoPrato/Get");
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        auto r = Rdm::GetParamGeral(rig->net);
        QVERIFY2(r, qPrintable(r.error()));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        for (int fd : idle)
            ::close(fd);
    }

    // A client that sends its head or its body a little at a time is cut off, not served for ever:
    // the head within its 5 s, a body far below the least rate within a second or two.
    void slowClientsAreCutOff_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("each");
        QTest::addColumn<int>("withinMs");
        QTest::newRow("head") << "POST " + kPath + " HTTP/1.1\r\n" << QByteArray("X-Lento: 1\r\n") << 8000;
        QTest::newRow("body") << head(kPath, {"Content-Length: 60000"}) << QByteArray(100, 'b') << 3500;
    }

    void slowClientsAreCutOff()
    {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, each);
        QFETCH(int, withinMs);
        MAKE_RIG(rig, QStringLiteral("sqlite"), QStringLiteral("http"), QString(), 64 * 1024);
        const int fd = connectTo(rig->http->port());
        QVERIFY(fd >= 0);
        sendAll(fd, start);
        QElapsedTimer clock;
        clock.start();
        bool closed = false;
        for (int i = 0; i < 20 && !closed; ++i) {
            sendAll(fd, each);
            closed = closedWithin(fd, 1);
        }
        QVERIFY2(closed, "the connection was still open after 20 s");
        QVERIFY2(clock.elapsed() < withinMs, qPrintable(QString::number(clock.elapsed())));
        ::close(fd);
    }

    // Refusals judged on the head alone: the answer comes at once although no body was sent, and
    // the connection is closed so the body is never read. `raw` replaces the head made of
    // `headers`; each of `held` is sent first on a connection of its own, kept open meanwhile.
    // The server takes 64 KiB a request, 128 KiB of bodies at once.
    void refusedOnTheHeaders_data()
    {
        QTest::addColumn<QList<QByteArray>>("headers");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QList<QByteArray>>("held");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("key");
        const QByteArray token = "X-IMP-Token: s3gr3d0";
        const auto row = [](const char *name, const QList<QByteArray> &headers, int status, const char *key,
                            const QByteArray &raw = {}, const QList<QByteArray> &held = {}) {
            QTest::newRow(name) << headers << raw << held << status << QString::fromLatin1(key);
        };
        row("wrong token, 2 GB announced", {"X-IMP-Token: errado", "Content-Length: 2000000000"}, 401, "Srv_TokenInvalido");
        row("no token", {"Content-Length: 10"}, 401, "Srv_TokenInvalido");
        row("token twice", {token, "X-IMP-Token: outro", "Content-Length: 1"}, 401, "Srv_TokenInvalido");
        row("over the cap", {token, "Content-Length: 2000000000"}, 413, "Srv_TamanhoExcedido");
        row("chunked", {token, "Transfer-Encoding: chunked"}, 411, "Srv_TamanhoExigido");
        row("bad length", {token, "Content-Length: -5"}, 400, "Srv_TamanhoExigido");
        row("two lengths", {token, "Content-Length: 5", "Content-Length: 50"}, 400, "Srv_TamanhoAmbiguo");
        row("folded header", {token, "Content-Length: 5", " 0"}, 400, "Srv_CabecalhoInvalido");
        row("blank before the colon", {token, "Content-Length : 5"}, 400, "Srv_CabecalhoInvalido");
        row("bare LF", {}, 400, "Srv_CabecalhoInvalido", "POST " + kPath + " HTTP/1.1\r\nHost: x\n");
        // Refused at the first byte that cannot be HTTP, without waiting for the line to end.
        row("request line not HTTP", {}, 400, "Srv_LinhaInvalida", "POST " + kPath + " HTTP/2");
        row("control byte in the method", {}, 400, "Srv_LinhaInvalida", "PO\x01");
        const QByteArray large = head(kPath, {token, "Content-Length: 60000"});
        row("no room for the body", {token, "Content-Length: 60000"}, 503, "Srv_Ocupado", {}, {large, large});
    }

    void refusedOnTheHeaders()
    {
        QFETCH(QList<QByteArray>, headers);
        QFETCH(QByteArray, raw);
        QFETCH(QList<QByteArray>, held);
        QFETCH(int, status);
        QFETCH(QString, key);
        MAKE_RIG(rig, QStringLiteral("sqlite"), QStringLiteral("http"), QStringLiteral("s3gr3d0"), 64 * 1024);
        QList<int> holders;
        for (const QByteArray &h : held) {
            holders << connectTo(rig->http->port());
            sendAll(holders.last(), h);
        }
        if (!holders.isEmpty())
            QTest::qWait(300);
        const int fd = connectTo(rig->http->port());
        QVERIFY(fd >= 0);
        QElapsedTimer clock;
        clock.start();
        sendAll(fd, raw.isEmpty() ? head(kPath, headers) : raw);
        const QByteArray reply = readReply(fd, 5);
        ::close(fd);
        for (int h : holders)
            ::close(h);
        QVERIFY2(reply.startsWith("HTTP/1.1 " + QByteArray::number(status)), reply.left(80).constData());
        QVERIFY(clock.elapsed() < 4000); // answered and closed, not waiting for the body
        const qsizetype bodyAt = reply.indexOf("\r\n\r\n");
        QVERIFY(bodyAt > 0);
        const QCborMap m = QCborValue::fromCbor(reply.mid(bodyAt + 4)).toMap();
        QCOMPARE(m.value(QStringLiteral("key")).toString(), key);
        QCOMPARE(m.value(QStringLiteral("error")).toString(), Msg(key));
    }

    // GET /health needs no token and follows the database: a PostgreSQL that refuses connections
    // after the module's was dropped is "closed" (503); allowed again, the next question reopens it.
    void healthFollowsTheDatabase()
    {
        MAKE_RIG(rig, QStringLiteral("postgresql"), QStringLiteral("http"), QStringLiteral("s3gr3d0"));
        const QString name = rig->db->url().section(QLatin1Char('/'), -1).section(QLatin1Char('?'), 0, 0);
        const auto health = [&rig] {
            const int fd = connectTo(rig->http->port());
            sendAll(fd, "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
            const QByteArray reply = readReply(fd, 10);
            ::close(fd);
            return reply.left(12) + reply.mid(reply.indexOf("\r\n\r\n") + 4).trimmed();
        };
        QVERIFY2(health().startsWith("HTTP/1.1 200") && health().contains("\"database\":\"open\""), health().constData());
        // From the server's administration database: no connection may change its own database.
        auto admin = Database::open(qEnvironmentVariable("IMP_TEST_PG_URL"), QStringLiteral("health_admin"));
        QVERIFY2(admin, qPrintable(admin.error()));
        const auto allow = [&](bool on) {
            QSqlQuery q(admin.value());
            return q.exec(QStringLiteral("ALTER DATABASE %1 ALLOW_CONNECTIONS %2").arg(name, on ? u"true" : u"false"));
        };
        QVERIFY(allow(false));
        QVERIFY(rig->db->dropOtherConnections());
        const QByteArray closed = health();
        QVERIFY(allow(true));
        QVERIFY2(closed.startsWith("HTTP/1.1 503") && closed.contains("\"database\":\"closed\""), closed.constData());
        QVERIFY2(health().startsWith("HTTP/1.1 200"), health().constData());
        QVERIFY(Rdm::GetParamGeral(rig->net));
    }

    // A chunked body sent anyway, far over a small cap: refused, and the server's memory is not
    // filled (it stops reading at the headers).
    void chunkedBodyOverTheCap()
    {
        MAKE_RIG(rig, QStringLiteral("sqlite"), QStringLiteral("http"), QString(), 64 * 1024);
        const int fd = connectTo(rig->http->port());
        QVERIFY(fd >= 0);
        sendAll(fd, head(kPath, {"Transfer-Encoding: chunked"}));
        const QByteArray chunk = QByteArray("10000\r\n") + QByteArray(0x10000, 'a') + "\r\n";
        for (int i = 0; i < 4; ++i)
            sendAll(fd, chunk);
        const QByteArray reply = readReply(fd, 5);
        ::close(fd);
        QVERIFY2(reply.startsWith("HTTP/1.1 411"), reply.left(80).constData());
        // The server goes on serving.
        QVERIFY(Rdm::GetParamGeral(rig->net));
    }
};

QTEST_GUILESS_MAIN(TestHttpEdge)
#include "tst_httpedge.moc"
