// Remembered service pairings from one import to the next load into the same branch: written by
// Importacao in its transaction (through both transports, on both databases) and read back by the
// service map, starting from a destination made before the pairings table.
#include "importrun.h"
#include "loadfixture.h"

#include <QSqlQuery>

class TstPairings : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup() { m_session.reset(), m_srv.reset(); }
    void rememberedByTheNextLoad();
    void failedImportRemembersNothing();

private:
    // A load of the file (10 Almoco pairs with 00001 by name, 30 LANCHE and 40 MERENDA with
    // nothing) with the pairs given; the map as "orig>dest" rows, "*" on a remembered one.
    QStringList load(const QList<QPair<QString, QString>> &given = {}, const QString &branch = QStringLiteral("0001"),
                     const QString &name40 = QStringLiteral("MERENDA"));
    QStringList stored(); // SERVPARE as "branch|orig|name|dest", sorted
    std::unique_ptr<SeededServer> m_srv;
    std::unique_ptr<ImportSession> m_session;
};

void TstPairings::initTestCase_data()
{
    QTest::addColumn<QString>("db");
    QTest::addColumn<QString>("transport");
    for (const char *db : {"sqlite", "postgresql"})
        for (const char *transport : {"inprocess", "http"})
            QTest::addRow("%s, %s", db, transport) << db << transport;
}

void TstPairings::init()
{
    QFETCH_GLOBAL(QString, transport);
    const auto make = [&](const QString &kind, QString *why) {
        return SeededServer::make(kind, SeededServer::transportOf(transport), why);
    };
    OPEN_FOR_DATABASE_ROW(m_srv, make)
    m_srv->useAsOperatorDatabase();
}

QStringList TstPairings::load(const QList<QPair<QString, QString>> &given, const QString &branch, const QString &name40)
{
    ExportWriter w;
    w.service("10", "Almoco").service("30", "LANCHE").service("40", name40).dish("P", "300001", "SOPA");
    m_session = std::make_unique<ImportSession>(m_srv->net);
    m_session->NmArquivo = m_srv->write(w);
    m_session->CdFilial = branch;
    m_session->serviceMap.paresInformados = given;
    const QString refused = runPass(*m_session);
    QStringList out{refused};
    for (int r = 0; r < m_session->cdsServico.rowCount(); ++r)
        out << m_session->cdsServico.textAt(r, 0) + u'>' + m_session->cdsServico.textAt(r, 1)
                   + (m_session->serviceMap.isRemembered(r) ? QStringLiteral("*") : QString());
    return out;
}

QStringList TstPairings::stored()
{
    QStringList out;
    QSqlQuery q(m_srv->db->db());
    if (!q.exec(QStringLiteral("SELECT CDFILIAL, CDSERVFILIORIG, NMSERVICOORIG, CDSERVFILIDEST FROM SERVPARE")))
        return {QStringLiteral("no table")};
    while (q.next())
        out << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()}.join(u'|');
    out.sort();
    return out;
}

void TstPairings::rememberedByTheNextLoad()
{
    QuietSink sink;
    const auto import = [&] { return ImportRun(*m_session, [](const QStringList &) { return okStatus(); }).run().ok(); };
    // A destination from before the table loads as always, and gets the table on its first import.
    QVERIFY(m_srv->exec(QStringLiteral("DROP TABLE SERVPARE")));
    QCOMPARE(load({{"30", "4"}}), (QStringList{"", "40>", "30>00004", "10>00001"}));
    QVERIFY(import());
    QCOMPARE(stored(), (QStringList{"0001|10|Almoco|00001", "0001|30|LANCHE|00004"}));

    // The next load into 0001 gives 30 its destination again, and the data lines see it; another
    // branch has nothing remembered.
    QCOMPARE(load(), (QStringList{"", "40>", "30>00004*", "10>00001"}));
    QCOMPARE(m_session->serviceMap.PesqServico(u"30"), QStringLiteral("00004"));
    QCOMPARE(load({}, QStringLiteral("0002")), (QStringList{"", "40>", "30>", "10>00001"}));

    // A changed pairing replaces the one remembered.
    QCOMPARE(load({{"30", "2"}, {"40", "4"}}), (QStringList{"", "40>00004", "30>00002", "10>00001"}));
    QVERIFY(import());
    QCOMPARE(stored(), (QStringList{"0001|10|Almoco|00001", "0001|30|LANCHE|00002", "0001|40|MERENDA|00004"}));

    // A name the destination cannot store (PostgreSQL takes no NUL) is not remembered; the import
    // goes through.
    QCOMPARE(load({{"40", "2"}}, QStringLiteral("0002"), QStringLiteral("MER") + QChar(0) + QStringLiteral("ENDA")),
             (QStringList{"", "40>00002", "30>", "10>00001"}));
    QVERIFY(import());
    QCOMPARE(stored().filter(QStringLiteral("0002|")), QStringList{"0002|10|Almoco|00001"});
    QVERIFY(sink.errors.isEmpty());
}

void TstPairings::failedImportRemembersNothing()
{
    QFETCH_GLOBAL(QString, db);
    QuietSink sink;
    // The destination refuses the pairing with 00004: the whole import goes back, dishes included.
    QVERIFY(m_srv->exec(db == u"postgresql"
                            ? QStringLiteral("ALTER TABLE SERVPARE ADD CONSTRAINT SEM_CEIA CHECK (CDSERVFILIDEST <> '00004')")
                            : QStringLiteral("CREATE TRIGGER SEM_CEIA BEFORE INSERT ON SERVPARE WHEN NEW.CDSERVFILIDEST = "
                                             "'00004' BEGIN SELECT RAISE(ABORT, 'sem ceia'); END")));
    const QString before = m_srv->db->snapshot();
    QCOMPARE(load({{"40", "2"}, {"30", "4"}}), (QStringList{"", "40>00002", "30>00004", "10>00001"}));
    QVERIFY(!ImportRun(*m_session, [](const QStringList &) { return okStatus(); }).run().ok());
    QCOMPARE(m_srv->db->snapshot(), before);
    QCOMPARE(stored(), QStringList{});
}

QTEST_GUILESS_MAIN(TstPairings)
#include "tst_pairings.moc"
