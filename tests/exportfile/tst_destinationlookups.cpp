// What the load pass asks the destination, seen through a DestinationLookups that counts or fails:
// each unit and product code crosses once per pass, each local dish once, and a lookup that fails
// ends the load as one failed load with one message.
#include "loadfixture.h"

#include "destinationlookups.h"
#include "loadpass.h"

#include <QHash>

namespace {

QByteArray f(const QStringList &v)
{
    return ExportWriter::fields(v);
}
QByteArray dishLine(const QString &tree, const QString &code, const QString &unit)
{
    return f({"PRATO", tree, code, "0009", "D", "1", unit, "0,5", "10/1/2024", "01", "EXP", "12/3/2024 08:15"});
}
QByteArray recipe(const QString &code, const QString &product, const QString &unit)
{
    return f({"RECEPADR", "P", code, product, unit, "0,25"});
}

// The session's own lookups, counted per code; the call named by `failAt` ("unit", "product",
// "dish", "services") fails from its `failAfter`-th on.
struct CountingLookups : DestinationLookups {
    explicit CountingLookups(DestinationLookups &real) : inner(real) {}
    DestinationLookups &inner;
    QHash<QString, int> asked; // "unit:KG" -> times
    QString failAt;
    int failAfter = 0;
    int failures = 0;

    bool fails(const QString &what)
    {
        if (what != failAt || asked[QStringLiteral("all:") + what]++ < failAfter)
            return false;
        ++failures;
        return true;
    }
    Failure failure(const QString &what) const
    {
        return Failure{QStringLiteral("Destino fora do ar (%1).").arg(what), {}, QStringLiteral("driver")};
    }
    Result<QString> unit(const QString &code) override
    {
        ++asked[QStringLiteral("unit:") + code];
        if (fails(QStringLiteral("unit")))
            return failure(QStringLiteral("unit"));
        return inner.unit(code);
    }
    Result<QString> product(const QString &code) override
    {
        ++asked[QStringLiteral("product:") + code];
        if (fails(QStringLiteral("product")))
            return failure(QStringLiteral("product"));
        return inner.product(code);
    }
    void services(ServiceMap &map) override
    {
        ++asked[QStringLiteral("services")];
        if (fails(QStringLiteral("services")))
            MensErro(failure(QStringLiteral("services")).message);
        inner.services(map);
    }
    Result<QByteArray> dish(const QString &code, const QString &branch) override
    {
        ++asked[QStringLiteral("dish:") + code];
        if (fails(QStringLiteral("dish")))
            return failure(QStringLiteral("dish"));
        return inner.dish(code, branch);
    }
};

} // namespace

class TstDestinationLookups : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void eachCodeOncePerPass();
    void failedLookupIsOneFailedLoad_data();
    void failedLookupIsOneFailedLoad();

private:
    std::unique_ptr<LoadFixture> m_f;
    std::unique_ptr<ImportSession> m_s;
    RecordingObserver m_obs;
    std::unique_ptr<QuietSink> m_sink;
    // A file of 40 standard dishes, 10 local ones, 3 units and 3 products repeated over 150 lines.
    QString writeFile();
    QString run(LoadPass &pass);
};

void TstDestinationLookups::init()
{
    QString why;
    m_f = LoadFixture::make(QStringLiteral("sqlite"), &why);
    QVERIFY2(m_f, qPrintable(why));
    m_s = std::make_unique<ImportSession>(m_f->net);
    m_obs = RecordingObserver{};
    m_s->setObserver(&m_obs);
    m_s->CdFilial = QStringLiteral("0001");
    m_sink = std::make_unique<QuietSink>();
}

void TstDestinationLookups::cleanup()
{
    m_s.reset();
    m_f.reset();
    m_sink.reset();
}

QString TstDestinationLookups::writeFile()
{
    const QStringList units{"KG", "XX", "kg"};
    const QStringList products{"000101", "999999", "000101 "};
    ExportWriter w;
    for (int i = 0; i < 50; ++i) {
        const QString code = QString::number(5000 + i);
        w.lines << dishLine(i % 5 == 4 ? "0009" : "P", code, units[i % 3]);
        w.lines << recipe(code, products[i % 3], units[(i + 1) % 3]) << recipe(code, products[(i + 2) % 3], "KG");
    }
    return m_f->write(w);
}

QString TstDestinationLookups::run(LoadPass &pass)
{
    return passOutcome(pass.Grava_Tabelas());
}

void TstDestinationLookups::eachCodeOncePerPass()
{
    m_s->NmArquivo = writeFile();
    CountingLookups counting(m_s->lookups());
    for (int pass = 0; pass < 2; ++pass) {
        counting.asked.clear();
        {
            LoadPass p(*m_s, counting);
            QCOMPARE(run(p), QString());
        }
        QCOMPARE(m_s->cdsPrato.rowCount(), 50);
        int units = 0, products = 0, dishes = 0;
        for (auto it = counting.asked.cbegin(); it != counting.asked.cend(); ++it) {
            if (it.key().startsWith(u"all:"))
                continue;
            QVERIFY2(it.value() == 1, qPrintable(it.key())); // a second pass asks again, once
            units += it.key().startsWith(u"unit:");
            products += it.key().startsWith(u"product:");
            dishes += it.key().startsWith(u"dish:");
        }
        QCOMPARE(units, 3);
        QCOMPARE(products, 3);
        QCOMPARE(dishes, 10);
        QCOMPARE(m_s->stats().unitQueries, 3);
        QCOMPARE(m_s->stats().productQueries, 3);
        QCOMPARE(m_s->stats().serverPesqPrato, 10);
        // The same answers as the session's own lookups: the unknown unit and product flag dishes.
        QVERIFY(m_obs.dishFlaggedCalls > 0);
    }
}

void TstDestinationLookups::failedLookupIsOneFailedLoad_data()
{
    QTest::addColumn<QString>("failAt");
    QTest::addColumn<int>("failAfter");
    QTest::newRow("first unit") << "unit" << 0;
    QTest::newRow("third unit") << "unit" << 2;
    QTest::newRow("first product") << "product" << 0;
    QTest::newRow("second product") << "product" << 1;
    QTest::newRow("first local dish") << "dish" << 0;
    QTest::newRow("fifth local dish") << "dish" << 4;
    QTest::newRow("destination services") << "services" << 0;
}

void TstDestinationLookups::failedLookupIsOneFailedLoad()
{
    QFETCH(QString, failAt);
    QFETCH(int, failAfter);
    m_s->NmArquivo = writeFile();
    CountingLookups failing(m_s->lookups());
    failing.failAt = failAt;
    failing.failAfter = failAfter;
    QString got;
    {
        LoadPass p(*m_s, failing);
        got = run(p);
    }
    QCOMPARE(got, QStringLiteral("!Destino fora do ar (%1).").arg(failAt));
    QCOMPARE(failing.failures, 1); // nothing more is asked once a lookup failed
    QCOMPARE(m_sink->errors, QStringList{got.mid(1)});
    QVERIFY(!m_s->Carregando);
    QCOMPARE(m_obs.serverCallsOpen, 0);
    QCOMPARE(m_obs.statuses.last(), QString());
    if (m_s->cdsPrato.isActive())
        QCOMPARE(m_s->cdsPrato.state(), TableState::Browse);

    // The next pass with the session's own lookups loads the whole file.
    m_sink->errors.clear();
    QCOMPARE(runPass(*m_s), QString());
    QCOMPARE(m_s->cdsPrato.rowCount(), 50);
    QVERIFY(m_sink->errors.isEmpty());
}

QTEST_GUILESS_MAIN(TstDestinationLookups)
#include "tst_destinationlookups.moc"
