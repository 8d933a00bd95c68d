// Remembered service pairings from one import to the next load into the same branch: written by
// Importacao in its transaction (through both transports, on both databases), read back by the
// service map, and an existing destination made before the pairings table.
#include "importrun.h"
#include "loadfixture.h"
#include "messages.h"

#include <QSqlQuery>

namespace {

// 10 Almoco pairs with 00001 ALMOCO by name; 30 LANCHE and 40 MERENDA pair with nothing.
ExportWriter pairingFile()
{
    ExportWriter w;
    w.service("10", "Almoco").service("30", "LANCHE").service("40", "MERENDA");
    w.dish("P", "300001", "SOPA");
    return w;
}

} // namespace

class TstPairings : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();
    void rememberedByTheNextLoad();
    void failedImportRemembersNothing();
    void destinationWithoutTheTable();

private:
    // A new session on the destination loads the file; its map as "orig|dest" rows.
    QStringList load(ImportSession &session, const QString &branch = QStringLiteral("0001"));
    QString import(ImportSession &session); // "" or the failure's text
    QStringList stored();                   // SERVPARE as "branch|orig|name|dest", sorted
    std::unique_ptr<SeededServer> m_srv;
    QString m_file;
};

void TstPairings::initTestCase_data()
{
    QTest::addColumn<QString>("db");
    QTest::addColumn<QString>("transport");
    QTest::newRow("sqlite, in-process") << "sqlite" << "inprocess";
    QTest::newRow("sqlite, http") << "sqlite" << "http";
    QTest::newRow("postgresql, in-process") << "postgresql" << "inprocess";
    QTest::newRow("postgresql, http") << "postgresql" << "http";
}

void TstPairings::init()
{
    QFETCH_GLOBAL(QString, transport);
    const auto make = [&](const QString &kind, QString *why) {
        return SeededServer::make(kind, SeededServer::transportOf(transport), why);
    };
    OPEN_FOR_DATABASE_ROW(m_srv, make)
    m_srv->useAsOperatorDatabase();
    m_file = m_srv->write(pairingFile());
}

void TstPairings::cleanup()
{
    m_srv.reset();
}

QStringList TstPairings::load(ImportSession &s, const QString &branch)
{
    s.NmArquivo = m_file;
    s.CdFilial = branch;
    s.RememberDirectory = false;
    const QString refused = runPass(s);
    if (!refused.isEmpty())
        return {QStringLiteral("refused: ") + refused};
    QStringList out;
    for (int r = 0; r < s.cdsServico.rowCount(); ++r)
        out << s.cdsServico.textAt(r, ServiceMap::ColOrig) + u'|' + s.cdsServico.textAt(r, ServiceMap::ColDest)
                   + (s.serviceMap.isRemembered(r) ? QStringLiteral(" (lembrado)") : QString());
    return out;
}

QString TstPairings::import(ImportSession &s)
{
    const Result<ImportOutcome> r = ImportRun(s, [](const QStringList &) {}).run();
    return r ? QString() : r.failure().message;
}

QStringList TstPairings::stored()
{
    QStringList out;
    QSqlQuery q(m_srv->db->db());
    if (!q.exec(QStringLiteral("SELECT CDFILIAL, CDSERVFILIORIG, NMSERVICOORIG, CDSERVFILIDEST, DTULTATUPARE FROM SERVPARE")))
        return {QStringLiteral("no table")};
    while (q.next()) {
        out << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()}.join(u'|');
        if (q.value(4).isNull())
            out << QStringLiteral("no date");
    }
    out.sort();
    return out;
}

void TstPairings::rememberedByTheNextLoad()
{
    QuietSink sink;
    {
        ImportSession first(m_srv->net);
        QCOMPARE(load(first), (QStringList{"40|", "30|", "10|00001"}));
        // The operator pairs 30 on the grid; 40 stays without a destination.
        first.cdsServico.moveTo(1);
        first.cdsServico.edit();
        first.cdsServico.setText(ServiceMap::ColDest, QStringLiteral("4"));
        first.cdsServico.post();
        QCOMPARE(import(first), QString());
    }
    QCOMPARE(stored(), (QStringList{"0001|10|Almoco|00001", "0001|30|LANCHE|00004"}));

    {
        // The next load into 0001 gives 30 its destination again, apart from the pairing by name;
        // another branch has nothing remembered.
        ImportSession again(m_srv->net);
        QCOMPARE(load(again), (QStringList{"40|", "30|00004 (lembrado)", "10|00001"}));
        // Its data lines see the pairing: a remembered destination is a destination.
        QCOMPARE(again.PesqServico(u"30"), QStringLiteral("00004"));
        ImportSession elsewhere(m_srv->net);
        QCOMPARE(load(elsewhere, QStringLiteral("0002")), (QStringList{"40|", "30|", "10|00001"}));

        // A changed pairing replaces the one remembered; 40, paired now, joins it.
        again.closeLoadedTables();
        again.serviceMap.paresInformados = {{"30", "2"}, {"40", "4"}};
        QCOMPARE(load(again), (QStringList{"40|00004", "30|00002", "10|00001"}));
        QCOMPARE(import(again), QString());
    }
    QCOMPARE(stored(), (QStringList{"0001|10|Almoco|00001", "0001|30|LANCHE|00002", "0001|40|MERENDA|00004"}));
    QVERIFY(sink.errors.isEmpty());
}

void TstPairings::failedImportRemembersNothing()
{
    QFETCH_GLOBAL(QString, db);
    QuietSink sink;
    // The destination refuses the pairing of 30: the whole import goes back, dishes included.
    const bool pg = db == QLatin1String("postgresql");
    QVERIFY(m_srv->exec(pg ? QStringLiteral("ALTER TABLE SERVPARE ADD CONSTRAINT SEM_CEIA CHECK (CDSERVFILIDEST <> '00004')")
                           : QStringLiteral("CREATE TRIGGER SEM_CEIA BEFORE INSERT ON SERVPARE WHEN NEW.CDSERVFILIDEST = '00004' "
                                            "BEGIN SELECT RAISE(ABORT, 'sem ceia'); END")));
    const QString before = m_srv->db->snapshot();
    ImportSession s(m_srv->net);
    s.serviceMap.paresInformados = {{"30", "4"}, {"40", "2"}};
    QCOMPARE(load(s), (QStringList{"40|00002", "30|00004", "10|00001"}));
    const QString failure = import(s);
    QVERIFY2(failure.startsWith(Msg(QStringLiteral("Imp_NaoGravada")).section(u'%', 0, 0)), qPrintable(failure));
    QCOMPARE(m_srv->db->snapshot(), before);
    QCOMPARE(stored(), QStringList{});
}

void TstPairings::destinationWithoutTheTable()
{
    QuietSink sink;
    QVERIFY(m_srv->exec(QStringLiteral("DROP TABLE SERVPARE")));
    {
        // Nothing remembered and no failure: a destination from before the table loads as always.
        ImportSession s(m_srv->net);
        s.serviceMap.paresInformados = {{"30", "4"}};
        QCOMPARE(load(s), (QStringList{"40|", "30|00004", "10|00001"}));
        QCOMPARE(import(s), QString());
    }
    // The import made the table and kept what it had.
    QCOMPARE(stored(), (QStringList{"0001|10|Almoco|00001", "0001|30|LANCHE|00004"}));
    ImportSession next(m_srv->net);
    QCOMPARE(load(next), (QStringList{"40|", "30|00004 (lembrado)", "10|00001"}));
    QVERIFY(sink.errors.isEmpty());
}

QTEST_GUILESS_MAIN(TstPairings)
#include "tst_pairings.moc"
