// The service map: its build and automatic pairing, its row events and the validation of a typed
// destination, against the SERVICO rows of a destination branch.
#include "loadfixture.h"
#include "messages.h"
#include "servicemap.h"

using Pairs = QList<QPair<QString, QString>>; // code, name
Q_DECLARE_METATYPE(Pairs)

class TstServiceMap : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();
    void build_data();
    void build();
    void edit_data();
    void edit();
    void rowEvents();
    void pesqServico();
    void remembered_data();
    void remembered();
    void givenPairs_data();
    void givenPairs();

private:
    // Pairings remembered for branch 0007 (or the branch given): origin code, origin name, destination.
    void remember(const QString &orig, const QString &name, const QString &dest,
                  const QString &branch = QStringLiteral("0007"));
    QStringList rememberedOrigins() const; // CDSERVFILIORIG of the rows paired from memory
    // Destination services of branch 0007, the map built from `origins` (in file order).
    void setUp(const Pairs &destinations, const Pairs &origins);
    QStringList rows() const;       // "orig|dest|nmdest" in map order
    QStringList destinos() const;   // codes of cdsServDestino in table order

    std::unique_ptr<LoadFixture> m_f;
    std::unique_ptr<ServiceMap> m_map;
    bool m_loading = false;
    int m_focus = 0;
};

void TstServiceMap::initTestCase_data()
{
    bothDatabases();
}

void TstServiceMap::init()
{
    OPEN_FOR_DATABASE_ROW(m_f, LoadFixture::make)
    m_map = std::make_unique<ServiceMap>();
    m_map->CdFilialDestino = [] { return QStringLiteral("0007"); };
    m_map->setLoadingFlag(&m_loading);
    m_map->focusDestino = [this] { ++m_focus; };
    m_focus = 0;
}

void TstServiceMap::cleanup()
{
    m_map.reset();
    m_f.reset();
}

void TstServiceMap::setUp(const Pairs &destinations, const Pairs &origins)
{
    for (const auto &[code, name] : destinations)
        QVERIFY(m_f->exec(QStringLiteral("INSERT INTO SERVICO (CDFILIAL, CDSERVFILI, NMSERVICO) VALUES ('0007', '%1', '%2')")
                              .arg(code, name)));
    QStringList lines{QString::fromLatin1(ExportWriter::fields(ExportWriter::structure("SERVICO")))};
    for (const auto &[code, name] : origins)
        lines << QStringLiteral("SERVICO\u00F8%1\u00F8%2\u00F8").arg(code, name);
    m_loading = true;
    m_map->prepareDestinationServices();
    m_map->build(lines);
    m_loading = false;
}

QStringList TstServiceMap::rows() const
{
    QStringList out;
    const MemTable &t = m_map->cdsServico;
    for (int r = 0; t.isActive() && r < t.rowCount(); ++r)
        out << t.textAt(r, 0) + u'|' + t.textAt(r, 1) + u'|' + t.textAt(r, 3);
    return out;
}

QStringList TstServiceMap::destinos() const
{
    QStringList out;
    const MemTable &t = m_map->cdsServDestino;
    for (int r = 0; t.isActive() && r < t.rowCount(); ++r)
        out << t.textAt(r, 0);
    return out;
}

void TstServiceMap::build_data()
{
    QTest::addColumn<Pairs>("destinations");
    QTest::addColumn<Pairs>("origins");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("inUse");

    const Pairs dest{{"00001", "ALMOCO"}, {"00002", "JANTAR"}};
    QTest::newRow("only the structure line") << dest << Pairs{} << QStringList{} << QStringList{};
    QTest::newRow("listed in reverse file order")
        << dest << Pairs{{"A", "x"}, {"B", "y"}, {"C", "z"}} << QStringList{"C||", "B||", "A||"} << QStringList{};
    QTest::newRow("ascii upper-casing pairs")
        << dest << Pairs{{"10", "almoco"}} << QStringList{"10|00001|ALMOCO"} << QStringList{"00001"};
    QTest::newRow("accented letters are not upper-cased")
        << Pairs{{"00005", "ALMOÇO"}} << Pairs{{"10", "Almoço"}} << QStringList{"10||"} << QStringList{};
    QTest::newRow("the highest code among equal names wins")
        << Pairs{{"00003", "JANTAR"}, {"00007", "Jantar"}} << Pairs{{"20", "jantar"}}
        << QStringList{"20|00007|Jantar"} << QStringList{"00007"};
    QTest::newRow("codes take no part in the pairing")
        << Pairs{{"00003", "CEIA"}, {"00009", "JANTAR"}} << Pairs{{"00003", "JANTAR"}}
        << QStringList{"00003|00009|JANTAR"} << QStringList{"00009"};
    QTest::newRow("two origins on one destination")
        << dest << Pairs{{"10", "Almoco"}, {"11", "ALMOCO"}} << QStringList{"11|00001|ALMOCO", "10|00001|ALMOCO"}
        << QStringList{"00001", "00001"};
}

void TstServiceMap::build()
{
    QFETCH(Pairs, destinations);
    QFETCH(Pairs, origins);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, inUse);
    setUp(destinations, origins);
    QCOMPARE(rows(), expected);
    QCOMPARE(destinos(), inUse);
    QCOMPARE(m_map->cdsServico.isActive(), !origins.isEmpty());
}

void TstServiceMap::edit_data()
{
    QTest::addColumn<int>("row");             // in map order: 0 lanche (unpaired), 1 jantar, 2 almoco
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("key");         // empty: accepted
    QTest::addColumn<QString>("stored");      // the row's CDSERVFILIDEST|NMSERVICODEST afterwards
    QTest::addColumn<QStringList>("inUse");

    QTest::newRow("retyping its own code") << 2 << "00001" << "" << "00001|ALMOCO" << QStringList{"00002", "00001"};
    QTest::newRow("adjusted before the checks") << 2 << " 1" << "" << "00001|ALMOCO" << QStringList{"00002", "00001"};
    QTest::newRow("another row's code") << 2 << "2" << "Serv_Ja_Cad" << "00002|ALMOCO" << QStringList{"00002"};
    QTest::newRow("not at the destination") << 0 << "00099" << "Serv_Dest_Cad" << "00099|" << QStringList{"00002", "00001"};
    QTest::newRow("a free code") << 0 << "4" << "" << "00004|CEIA" << QStringList{"00002", "00001", "00004"};
    QTest::newRow("cleared: no check, old name kept") << 1 << "" << "" << "|JANTAR" << QStringList{"00001"};
}

void TstServiceMap::edit()
{
    QFETCH(int, row);
    QFETCH(QString, typed);
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QStringList, inUse);
    QuietSink sink;
    setUp({{"00001", "ALMOCO"}, {"00002", "JANTAR"}, {"00004", "CEIA"}},
          {{"10", "almoco"}, {"20", "jantar"}, {"30", "lanche"}});
    MemTable &t = m_map->cdsServico;
    t.moveTo(row);
    t.edit();
    t.setText(ServiceMap::ColDest, typed);
    QString got;
    try {
        t.post();
    } catch (const AbandonedAction &a) {
        got = a.key();
    }
    QCOMPARE(got, key);
    QCOMPARE(m_focus, key.isEmpty() ? 0 : 1);
    // A refused post leaves the row in edit with what was typed, already adjusted.
    QCOMPARE(t.state(), key.isEmpty() ? TableState::Browse : TableState::Edit);
    QCOMPARE(t.text(ServiceMap::ColDest) + u'|' + t.text(ServiceMap::ColNmDest), stored);
    inUse.sort();
    QStringList got2 = destinos();
    got2.sort();
    QCOMPARE(got2, inUse); // the list's order is incidental; its content is what the checks use
}

void TstServiceMap::rowEvents()
{
    QuietSink sink;
    setUp({{"00004", "CEIA"}}, {{"10", "ceia"}, {"11", "Ceia"}, {"12", "outro"}});
    MemTable &t = m_map->cdsServico;
    QCOMPARE(destinos(), (QStringList{"00004", "00004"}));

    // Only the build adds rows: the grid's new row goes away at once.
    t.insert();
    QCOMPARE(t.rowCount(), 3);

    // Editing one of two rows on one destination releases one entry only, so the row cannot take
    // it back while the other entry stands.
    t.moveTo(1); // rows: 12 outro, 11 Ceia, 10 ceia
    t.edit();
    QCOMPARE(destinos(), QStringList{"00004"});
    t.setText(ServiceMap::ColDest, QStringLiteral("00004"));
    QVERIFY_THROWS_EXCEPTION(AbandonedAction, t.post());
    // A cancelled edit keeps its destination, so the released entry comes back.
    t.cancel();
    QCOMPARE(destinos(), (QStringList{"00004", "00004"}));

    // Deleting a row releases its destination.
    t.moveTo(2);
    t.deleteRow();
    QCOMPARE(destinos(), QStringList{"00004"});

    // Emptying fires no row events and leaves both tables empty.
    m_map->clear();
    QCOMPARE(t.rowCount(), 0);
    QVERIFY(destinos().isEmpty());
}

void TstServiceMap::pesqServico()
{
    QCOMPARE(m_map->PesqServico(u"10"), QString()); // the map does not exist yet
    setUp({{"00001", "ALMOCO"}}, {{"10", "sem par"}, {"20", "x"}, {"10", "outro"}});
    QVERIFY(!m_map->cdsServDestino.isActive());
    // Map order: 10 outro, 20 x, 10 sem par. The first of two rows sharing a code answers, and
    // becomes the current row; an unpaired row answers empty.
    QCOMPARE(m_map->PesqServico(u"20"), QString());
    QCOMPARE(m_map->cdsServico.currentRow(), 1);
    QCOMPARE(m_map->PesqServico(u"2"), QString()); // exact: no prefix match, and no move
    QCOMPARE(m_map->cdsServico.currentRow(), 1);

    // Nothing was paired: the first edit finds no list of destinations in use and goes on.
    m_map->cdsServico.moveTo(0);
    m_map->cdsServico.edit();
    m_map->cdsServico.setText(ServiceMap::ColDest, QStringLiteral("1"));
    m_map->cdsServico.post();
    QCOMPARE(destinos(), QStringList{"00001"});
    m_map->cdsServico.moveTo(2);
    QCOMPARE(m_map->PesqServico(u"10"), QStringLiteral("00001"));
    QCOMPARE(m_map->cdsServico.currentRow(), 0);
}

void TstServiceMap::remember(const QString &orig, const QString &name, const QString &dest, const QString &branch)
{
    QVERIFY(m_f->exec(QStringLiteral("INSERT INTO SERVPARE (CDFILIAL, CDSERVFILIORIG, NMSERVICOORIG, CDSERVFILIDEST) "
                                     "VALUES ('%1', '%2', '%3', '%4')")
                          .arg(branch, orig, name, dest)));
}

QStringList TstServiceMap::rememberedOrigins() const
{
    QStringList out;
    for (int r : m_map->rememberedRows())
        out << m_map->cdsServico.textAt(r, ServiceMap::ColOrig);
    return out;
}

using Remembered = QList<QStringList>; // orig, name, dest[, branch]
Q_DECLARE_METATYPE(Remembered)

void TstServiceMap::remembered_data()
{
    QTest::addColumn<Remembered>("memory");
    QTest::addColumn<Pairs>("origins");
    QTest::addColumn<QStringList>("expected");     // map rows, "orig|dest|nmdest"
    QTest::addColumn<QStringList>("fromMemory");   // origins paired from memory, map order

    // Destinations of 0007: 00001 ALMOCO, 00002 JANTAR, 00004 CEIA.
    QTest::newRow("an unpaired service takes its destination")
        << Remembered{{"30", "lanche", "00004"}} << Pairs{{"10", "almoco"}, {"30", "lanche"}}
        << QStringList{"30|00004|CEIA", "10|00001|ALMOCO"} << QStringList{"30"};
    QTest::newRow("pairing by name comes first")
        << Remembered{{"10", "almoco", "00004"}} << Pairs{{"10", "almoco"}}
        << QStringList{"10|00001|ALMOCO"} << QStringList{};
    QTest::newRow("a destination the branch no longer has")
        << Remembered{{"30", "lanche", "00009"}} << Pairs{{"30", "lanche"}} << QStringList{"30||"} << QStringList{};
    QTest::newRow("a destination another row holds by name")
        << Remembered{{"30", "lanche", "00001"}} << Pairs{{"10", "almoco"}, {"30", "lanche"}}
        << QStringList{"30||", "10|00001|ALMOCO"} << QStringList{};
    QTest::newRow("two services on one destination: the first in map order")
        << Remembered{{"30", "lanche", "00004"}, {"40", "merenda", "00004"}} << Pairs{{"30", "lanche"}, {"40", "merenda"}}
        << QStringList{"40|00004|CEIA", "30||"} << QStringList{"40"};
    QTest::newRow("another branch's memory")
        << Remembered{{"30", "lanche", "00004", "0001"}} << Pairs{{"30", "lanche"}} << QStringList{"30||"} << QStringList{};
    QTest::newRow("the same code under another name")
        << Remembered{{"30", "lanche", "00004"}} << Pairs{{"30", "LANCHE"}} << QStringList{"30||"} << QStringList{};
    QTest::newRow("a service without a name")
        << Remembered{{"30", "", "00002"}} << Pairs{{"30", ""}} << QStringList{"30|00002|JANTAR"} << QStringList{"30"};
}

void TstServiceMap::remembered()
{
    QFETCH(Remembered, memory);
    QFETCH(Pairs, origins);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, fromMemory);
    for (const QStringList &m : memory)
        remember(m[0], m[1], m[2], m.value(3, QStringLiteral("0007")));
    setUp({{"00001", "ALMOCO"}, {"00002", "JANTAR"}, {"00004", "CEIA"}}, origins);
    QCOMPARE(rows(), expected);
    QCOMPARE(rememberedOrigins(), fromMemory);
    // A destination from memory is in use like any other, so no other row can take it.
    QStringList inUse = destinos(), held;
    for (const QString &row : expected) {
        if (!row.section(u'|', 1, 1).isEmpty())
            held << row.section(u'|', 1, 1);
    }
    inUse.sort();
    held.sort();
    QCOMPARE(inUse, held);
    // The build leaves the map on the row it posted last, as without memory.
    QCOMPARE(m_map->cdsServico.currentRow(), 0);
    QCOMPARE(m_map->cdsServico.state(), TableState::Browse);

    if (fromMemory.isEmpty())
        return;
    // Another destination chosen on the grid ends the mark; the remembered one again brings it back.
    MemTable &t = m_map->cdsServico;
    const int row = m_map->rememberedRows().first();
    const QString was = t.textAt(row, ServiceMap::ColDest);
    t.moveTo(row);
    t.edit();
    t.setText(ServiceMap::ColDest, QString());
    t.post();
    QVERIFY(!m_map->isRemembered(row));
    t.edit();
    t.setText(ServiceMap::ColDest, was);
    t.post();
    QVERIFY(m_map->isRemembered(row));
    m_map->clear();
    QVERIFY(m_map->rememberedRows().isEmpty());
}

void TstServiceMap::givenPairs_data()
{
    QTest::addColumn<Pairs>("given");              // origin, destination
    QTest::addColumn<QString>("key");              // the refusal's catalogue key; empty: accepted
    QTest::addColumn<QStringList>("expected");     // map rows after an accepted build
    QTest::addColumn<QStringList>("fromMemory");

    // Origins: 10 almoco (pairs by name with 00001), 30 lanche and 40 merenda (unpaired);
    // memory: 40 -> 00004.
    QTest::newRow("an unpaired service") << Pairs{{"30", "00002"}} << ""
                                         << QStringList{"40|00004|CEIA", "30|00002|JANTAR", "10|00001|ALMOCO"}
                                         << QStringList{"40"};
    QTest::newRow("a short code, adjusted") << Pairs{{"30", "2"}} << ""
                                            << QStringList{"40|00004|CEIA", "30|00002|JANTAR", "10|00001|ALMOCO"}
                                            << QStringList{"40"};
    QTest::newRow("given before memory: memory finds it taken")
        << Pairs{{"30", "4"}} << "" << QStringList{"40||", "30|00004|CEIA", "10|00001|ALMOCO"} << QStringList{};
    QTest::newRow("over a pairing by name") << Pairs{{"10", "00002"}} << ""
                                            << QStringList{"40|00004|CEIA", "30||", "10|00002|JANTAR"}
                                            << QStringList{"40"};
    QTest::newRow("a row's own destination again") << Pairs{{"10", "1"}} << ""
                                                   << QStringList{"40|00004|CEIA", "30||", "10|00001|ALMOCO"}
                                                   << QStringList{"40"};
    QTest::newRow("a destination another row holds") << Pairs{{"30", "1"}} << "Serv_Ja_Cad" << QStringList{} << QStringList{};
    QTest::newRow("given twice") << Pairs{{"30", "2"}, {"40", "2"}} << "Serv_Ja_Cad" << QStringList{} << QStringList{};
    QTest::newRow("not at the destination") << Pairs{{"30", "00099"}} << "Serv_Dest_Cad" << QStringList{} << QStringList{};
    QTest::newRow("an origin the file lacks") << Pairs{{"99", "2"}} << "Serv_Nao_Cad" << QStringList{} << QStringList{};
    QTest::newRow("no origin") << Pairs{{"", "2"}} << "Serv_Orig_Deve" << QStringList{} << QStringList{};
    QTest::newRow("no destination") << Pairs{{"30", ""}} << "Serv_Dest_Deve" << QStringList{} << QStringList{};
}

void TstServiceMap::givenPairs()
{
    QFETCH(Pairs, given);
    QFETCH(QString, key);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, fromMemory);
    QuietSink sink;
    remember(QStringLiteral("40"), QStringLiteral("merenda"), QStringLiteral("00004"));
    m_map->paresInformados = given;
    QString got;
    try {
        setUp({{"00001", "ALMOCO"}, {"00002", "JANTAR"}, {"00004", "CEIA"}},
              {{"10", "almoco"}, {"30", "lanche"}, {"40", "merenda"}});
    } catch (const AbandonedAction &a) {
        got = a.key();
    }
    QCOMPARE(got, key);
    if (!key.isEmpty()) {
        // Refused: the row it was given to is not left in edit, and the refusal was told.
        QCOMPARE(m_map->cdsServico.state(), TableState::Browse);
        QCOMPARE(sink.errors, QStringList{Msg(key)});
        return;
    }
    QCOMPARE(rows(), expected);
    QCOMPARE(rememberedOrigins(), fromMemory);
    QVERIFY(sink.errors.isEmpty());
}

QTEST_GUILESS_MAIN(TstServiceMap)
#include "tst_servicemap.moc"
