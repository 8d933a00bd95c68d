// The HTTP transport and server: the token, and every way a server can fail the client (down, too
// slow, malformed or oversized replies, oversized requests) ending in a clear message, not a hang.
#include "ambiente.h"
#include "rig.h"
#include "wire.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

// A stand-in server whose one route answers as the test says.
class FakeServer {
public:
    explicit FakeServer(httplib::Server::Handler handler)
    {
        m_server.Post(R"(/IMP40500\.rdmImpoPrato/(\w+))", std::move(handler));
        m_server.set_keep_alive_timeout(1);
        m_server.set_keep_alive_max_count(5);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~FakeServer()
    {
        m_server.stop();
        m_thread.join();
    }
    int port() const { return m_port; }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};

// A server of raw bytes: each connection gets `head` and then `each` every 200 ms, for as long
// as the client stays (nothing at all when both are empty: a server that has stopped answering).
class TrickleServer {
public:
    TrickleServer(QByteArray head, QByteArray each) : m_head(std::move(head)), m_each(std::move(each))
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_fd, 8);
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~TrickleServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    int port() const { return m_port; }

private:
    void serve()
    {
        std::vector<int> clients;
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 200) > 0) {
                clients.push_back(::accept(m_fd, nullptr, nullptr));
                ::send(clients.back(), m_head.constData(), size_t(m_head.size()), MSG_NOSIGNAL);
            }
            for (int c : clients)
                ::send(c, m_each.constData(), size_t(m_each.size()), MSG_NOSIGNAL);
        }
        for (int c : clients)
            ::close(c);
    }

    QByteArray m_head, m_each;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A port nobody listens on: bound for a moment by the test, then released.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

} // namespace

class TestTransport : public QObject {
    Q_OBJECT

private slots:
    void token_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right token") << QStringLiteral("s3gr3d0") << true;
        QTest::newRow("no token") << QString() << false;
        QTest::newRow("wrong token") << QStringLiteral("s3gr3d1") << false;
        QTest::newRow("token prefix") << QStringLiteral("s3gr3") << false;
    }

    void token()
    {
        QFETCH(QString, sent);
        QFETCH(bool, accepted);
        MAKE_RIG(rig, QStringLiteral("sqlite"), QStringLiteral("http"), QStringLiteral("s3gr3d0"));
        NetConnection net;
        net.setTransport(std::make_unique<HttpTransport>(QStringLiteral("127.0.0.1"), rig->http->port(), sent, 10));
        auto r = Rdm::GetParamGeral(net);
        QCOMPARE(r.ok(), accepted);
        if (!accepted)
            QVERIFY2(r.error().contains(QLatin1String("token")), qPrintable(r.error()));
        // A refused request reaches no method, even one that would write.
        auto w = Rdm::SetDiretorios(net, QByteArray("x"));
        QVERIFY(!w);
        QCOMPARE(w.error().contains(QLatin1String("token")), !accepted);
    }

    // The lookups share one kept connection: one the server closes, at its count of requests or
    // after a quiet second, costs no lookup.
    void keptConnectionClosedByTheServer()
    {
        std::atomic<int> answered{0};
        FakeServer server([&](const httplib::Request &, httplib::Response &res) {
            ++answered;
            const QByteArray body = Wire::encodeSuccess(QByteArray("ok"));
            res.set_content(body.constData(), size_t(body.size()), "application/cbor");
        });
        HttpTransport http(QStringLiteral("127.0.0.1"), server.port(), QString(), 5);
        for (int i = 0; i < 12; ++i) {
            if (i == 6)
                QTest::qWait(1500); // past the fake server's keep-alive limit of 1 s
            const auto r = http.call(QStringLiteral("GetPesqPrato"), {});
            QVERIFY2(r, qPrintable(r ? QString() : r.error()));
            QCOMPARE(r.value(), QByteArray("ok"));
        }
        QCOMPARE(answered.load(), 12);
    }

    void failingServer_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("down") << "down" << "fora do ar";
        QTest::newRow("no answer in time") << "slow" << "não respondeu";
        QTest::newRow("head a line at a time") << "tricklehead" << "não concluiu";
        QTest::newRow("body a byte at a time") << "tricklebody" << "não concluiu";
        QTest::newRow("garbage reply") << "garbage" << "Resposta inválida";
        QTest::newRow("empty reply") << "empty" << "resposta vazia";
        QTest::newRow("reply not a map") << "array" << "formato desconhecido";
        QTest::newRow("reply without ok") << "nook" << "sem indicação";
        QTest::newRow("reply too large") << "large" << "excede o limite";
        QTest::newRow("reply too large, no length") << "largechunked" << "excede o limite";
        QTest::newRow("server error status") << "status500" << "status HTTP 500";
    }

    void failingServer()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const std::string k = kind.toStdString();
        std::unique_ptr<FakeServer> fake;
        std::unique_ptr<TrickleServer> trickle;
        int port = 0;
        if (kind == QLatin1String("down")) {
            port = freePort();
        } else if (kind == QLatin1String("tricklehead")) {
            trickle = std::make_unique<TrickleServer>("HTTP/1.1 200 OK\r\n", "X-Lento: 1\r\n");
            port = trickle->port();
        } else if (kind == QLatin1String("tricklebody")) {
            trickle = std::make_unique<TrickleServer>("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", "x");
            port = trickle->port();
        } else {
            fake = std::make_unique<FakeServer>([k](const httplib::Request &, httplib::Response &res) {
                if (k == "slow") {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
                    res.set_content(Wire::encodeSuccess("late").toStdString(), "application/cbor");
                } else if (k == "garbage") {
                    res.set_content("<html>proxy error</html>", "text/html");
                } else if (k == "empty") {
                    res.set_content("", "application/cbor");
                } else if (k == "array") {
                    res.set_content(QCborValue(QCborArray{1, 2}).toCbor().toStdString(), "application/cbor");
                } else if (k == "nook") {
                    QCborMap m;
                    m.insert(QStringLiteral("payload"), QByteArray("x"));
                    res.set_content(QCborValue(m).toCbor().toStdString(), "application/cbor");
                } else if (k == "large") {
                    res.set_content(std::string(300 * 1024, 'x'), "application/cbor");
                } else if (k == "largechunked") {
                    res.set_chunked_content_provider("application/cbor", [](size_t offset, httplib::DataSink &sink) {
                        static const std::string block(64 * 1024, 'y');
                        if (offset >= 8u * 1024 * 1024) {
                            sink.done();
                            return true;
                        }
                        return sink.write(block.data(), block.size());
                    });
                } else if (k == "status500") {
                    res.status = 500;
                    res.set_content("oops", "text/plain");
                }
            });
            port = fake->port();
        }
        auto transport = std::make_unique<HttpTransport>(QStringLiteral("127.0.0.1"), port, QString(), 1);
        transport->setMaxReplyBytes(100 * 1024);
        transport->setConnectTimeout(2);
        NetConnection net;
        net.setTransport(std::move(transport));
        QElapsedTimer clock;
        clock.start();
        auto r = Rdm::GetPrato(net);
        QVERIFY(!r);
        QVERIFY2(r.error().contains(message), qPrintable(r.error()));
        QVERIFY2(clock.elapsed() < 5000, "the failure took too long");
    }

    // The limits the environment sets, as the command line and the screen hand them to their
    // connection, against a server that accepts and says nothing: a lookup gives up after its own,
    // the import and the undo wait for their longer one.
    void limitsFromTheEnvironment()
    {
        qputenv("IMP_CALL_TIMEOUT", "1");
        qputenv("IMP_IMPORT_TIMEOUT", "3");
        Ambiente &env = Ambiente::instance();
        const QStringList problems = env.loadFromEnvironment();
        qunsetenv("IMP_CALL_TIMEOUT");
        qunsetenv("IMP_IMPORT_TIMEOUT");
        const auto restore = qScopeGuard([&env] {
            env.callTimeout = kCallSeconds;
            env.importTimeout = kImportSeconds;
        });
        QVERIFY(problems.isEmpty());
        QCOMPARE(env.callTimeout, 1);
        QCOMPARE(env.importTimeout, 3);
        TrickleServer silent({}, {});
        NetConnection net;
        net.Host = QStringLiteral("127.0.0.1");
        net.Port = silent.port();
        net.CallTimeout = env.callTimeout;
        net.ImportTimeout = env.importTimeout;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!Rdm::GetPesqPrato(net, QStringLiteral("1"), QStringLiteral("0001")));
        const qint64 lookup = clock.restart();
        const auto r = ImportCall{}.run(net);
        const qint64 imported = clock.elapsed();
        QVERIFY(!r);
        QCOMPARE(r.failure().key, QStringLiteral("Srv_ResultadoIncerto"));
        QVERIFY2(lookup >= 800 && lookup < 2500, qPrintable(QString::number(lookup)));
        QVERIFY2(imported >= 2800 && imported < 5000, qPrintable(QString::number(imported)));
        // An undo writes as much as an import: its limit, and an outcome it cannot know.
        clock.restart();
        const auto undone = Rdm::Desfazer(net, QStringLiteral("a"));
        QVERIFY2(clock.elapsed() >= 2800 && undone.failure().key == u"Desf_ResultadoIncerto", qPrintable(undone.error()));
    }

    void requestTooLarge()
    {
        MAKE_RIG(rig, QStringLiteral("sqlite"), QStringLiteral("http"), QString(), 64 * 1024);
        auto r = Rdm::SetDiretorios(rig->net, QByteArray(256 * 1024, 'z'));
        QVERIFY(!r);
        QVERIFY2(r.error().contains(QLatin1String("excede o tamanho")), qPrintable(r.error()));
        // The server is still there for reasonable requests.
        QVERIFY(Rdm::GetParamGeral(rig->net));
    }

    // The embedded module answers on the thread that opened it and refuses any other, whose calls
    // would use a database connection that thread does not own.
    void embeddedModuleStaysOnItsThread()
    {
        QString why;
        auto db = SeededDb::create(SeededDb::Kind::SQLite, true, &why);
        QVERIFY2(db, qPrintable(why));
        auto opened = RdmImpoPrato::openDirect(db->url());
        QVERIFY2(opened, qPrintable(opened.error()));
        auto module = opened.value();
        const QByteArray request = Wire::encodeRequest(CallArgs{});
        QVERIFY(Wire::decodeResponse(module->handle(QStringLiteral("GetParamGeral"), request)));
        Result<QByteArray> fromOther = Result<QByteArray>::fail(QString());
        std::thread other([&] { fromOther = Wire::decodeResponse(module->handle(QStringLiteral("GetParamGeral"), request)); });
        other.join();
        QVERIFY(!fromOther);
        QVERIFY2(fromOther.error().contains(QLatin1String("thread")), qPrintable(fromOther.error()));
    }

    // In process, a packet reaches the module as the caller's own bytes, not a copy, and a
    // failure comes back as any server's would: with a text, and a key cut to 64 characters.
    void inProcessPassesValues()
    {
        struct Echo final : RemoteDataModule {
            const char *seen = nullptr;
            Result<QByteArray> call(const QString &method, const CallArgs &args) override
            {
                seen = args.value(0).toByteArray().constData();
                if (method == QLatin1String("Falha"))
                    return Result<QByteArray>::fail(QStringLiteral("  "), QString(100, QLatin1Char('K')));
                return args.value(0).toByteArray();
            }
        };
        auto echo = std::make_shared<Echo>();
        NetConnection net;
        net.setTransport(std::make_unique<InProcessTransport>(echo));
        const QByteArray packet(1 << 20, 'p');
        auto r = Rdm::SetDiretorios(net, packet);
        QVERIFY(r);
        QCOMPARE(echo->seen, packet.constData());
        QCOMPARE(r.value().constData(), packet.constData());
        auto failed = net.call(QStringLiteral("Falha"), CallArgs{packet});
        QVERIFY(!failed);
        QVERIFY(!failed.error().trimmed().isEmpty());
        QCOMPARE(failed.failure().key.size(), 64);
    }

    void connectionWithoutServer()
    {
        NetConnection net;
        net.Host = QStringLiteral("127.0.0.1");
        net.Port = 0;
        net.setConnected(true);
        QVERIFY(!net.connected());
        QVERIFY2(net.lastError().contains(QLatin1String("Porta")), qPrintable(net.lastError()));
        auto r = Rdm::GetPrato(net);
        QVERIFY(!r);
        QVERIFY2(r.error().contains(QStringLiteral("Sem conexão")), qPrintable(r.error()));
    }
};

QTEST_GUILESS_MAIN(TestTransport)
#include "tst_transport.moc"
