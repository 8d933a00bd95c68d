// The operator environment's services that read the destination: the dish-code picture, the
// local cache (refreshed only for catalogue tables), and the picture helpers.
#include "ambiente.h"
#include "destinationreader.h"
#include "appserver.h"
#include "database.h"
#include "datapacket.h"
#include "memtable.h"
#include "query.h"
#include "seeddb.h"

#include <QtTest>

class TestAmbiente : public QObject {
    Q_OBJECT

private slots:
    void pictureHelpers_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("shown");
        QTest::newRow("dish code") << "999.999" << "123456" << "999.999" << "123.456";
        QTest::newRow("code too short") << "999.999" << "12345" << "999.999" << "12345";
        QTest::newRow("letters where digits go") << "999.999" << "12A456" << "999.999" << "12A456";
        QTest::newRow("already formatted") << "999.999" << "123.456" << "999.999" << "123.456";
        QTest::newRow("no picture") << "" << "123456" << "" << "123456";
        QTest::newRow("letters and any") << "AA-X9" << "BR#7" << "AA-X9" << "BR-#7";
        QTest::newRow("mask characters as literals") << "9>9" << "12" << "9\\>9" << "1>2";
    }

    void pictureHelpers()
    {
        QFETCH(QString, picture);
        QFETCH(QString, code);
        QFETCH(QString, mask);
        QFETCH(QString, shown);
        QCOMPARE(pictureToInputMask(picture), mask);
        QCOMPARE(formatThroughPicture(code, picture), shown);
    }

    void readsTheDestination()
    {
        QString why;
        auto db = SeededDb::create(SeededDb::Kind::SQLite, true, &why);
        QVERIFY2(db, qPrintable(why));
        Ambiente &env = Ambiente::instance();
        Database::useDestination(env, db->url());
        Database::closeShared();
        env.resetPictCache();

        QCOMPARE(env.DBPict(1), QStringLiteral("999.999"));
        QCOMPARE(env.DBPict(2), QString());

        env.FiliProc = QStringLiteral("0001");
        env.NomeFiliProc.clear();
        env.completeFromDatabase();
        QCOMPARE(env.NomeFiliProc, QStringLiteral("RESTAURANTE MATRIZ"));

        // A name from outside the catalogue is never read; the named table is.
        QVERIFY(env.AtualizaLocalCache({QStringLiteral("PRATO"), QStringLiteral("PRATO; DROP TABLE FILIAL")}));
        QCOMPARE(env.localCacheRefreshCount(QStringLiteral("PRATO")), 1);
        QCOMPARE(db->count(QStringLiteral("FILIAL")), 5);
        MemTable cached;
        QVERIFY(DataPacket::load(cached, env.localCache(QStringLiteral("PRATO"))));
        QCOMPARE(cached.rowCount(), 3);
        const int dt = cached.fieldIndex(u"DTULTATUPRAT");
        QCOMPARE(cached.field(dt).kind, FieldKind::DateTime);
        QCOMPARE(cached.dateTimeAt(0, dt).date(), QDate(2024, 1, 10));
        Database::closeShared();
    }

    // The shared connection the server ended (a restart of PostgreSQL between two reads) is opened
    // again for the next read, which a read can simply ask again.
    void sharedConnectionComesBack()
    {
        QString why;
        auto db = SeededDb::create(SeededDb::Kind::PostgreSQL, true, &why);
        if (!db && !SeededDb::available(SeededDb::Kind::PostgreSQL))
            QSKIP("PostgreSQL not configured (IMP_TEST_PG_URL)");
        QVERIFY2(db, qPrintable(why));
        Database::useDestination(Ambiente::instance(), db->url());
        Database::closeShared();
        ReadOnlyQuery q(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL"));
        q.setParam(QStringLiteral("P_CDFILIAL"), QStringLiteral("0001"));
        QVERIFY(q.open());
        QCOMPARE(q.text(QStringLiteral("NMFILIAL")), QStringLiteral("RESTAURANTE MATRIZ"));
        q.close();
        QVERIFY(db->dropOtherConnections());
        QVERIFY(q.open());
        QCOMPARE(q.text(QStringLiteral("NMFILIAL")), QStringLiteral("RESTAURANTE MATRIZ"));
        q.close();
        Database::closeShared();
    }

    void serverAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("host and port") << "srv01:8211" << true << "srv01" << 8211;
        QTest::newRow("ipv6") << "[::1]:8211" << true << "::1" << 8211;
        QTest::newRow("no port") << "srv01" << false << "" << 0;
        QTest::newRow("port out of range") << "srv01:70000" << false << "" << 0;
        QTest::newRow("url, not an address") << "http://srv01:80" << false << "" << 0;
    }

    void serverAddress()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, host);
        QFETCH(int, port);
        Ambiente &env = Ambiente::instance();
        env.WebURL.clear();
        env.WebPort = 0;
        QCOMPARE(env.setServer(text), ok);
        QCOMPARE(env.WebURL, host);
        QCOMPARE(env.WebPort, port);
    }

    // A database URL as messages show it: never its password.
    void shownUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("shown");
        QTest::newRow("sqlite") << "sqlite:/srv/a.db" << "sqlite:/srv/a.db";
        QTest::newRow("user and password") << "postgresql://eu:segr%40do@db:5433/imp" << "postgresql://eu@db:5433/imp";
        QTest::newRow("password in the query") << "postgres://db/imp?password=segredo&sslmode=require"
                                               << "postgres://db/imp?sslmode=require";
        QTest::newRow("not a URL Qt takes") << "postgresql://eu:se gr{do@db/imp" << "postgresql://eu@db/imp";
    }

    void shownUrl()
    {
        QFETCH(QString, url);
        QFETCH(QString, shown);
        QCOMPARE(DbUrl::display(url), shown);
    }
};

QTEST_GUILESS_MAIN(TestAmbiente)
#include "tst_ambiente.moc"
