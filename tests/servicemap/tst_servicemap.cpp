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
    void pairsAndMemory_data();
    void pairsAndMemory();

private:
    // Destination services of branch 0007, the map built from `origins` (in file order).
    void setUp(const Pairs &destinations, const Pairs &origins);
    QStringList rows() const;       // "orig|dest|nmdest" in map order
    QStringList destinos() const;   // codes of cdsServDestino in table order

    std::unique_ptr<LoadFixture> m_f;
    std::unique_ptr<ServiceMap> m_map;
    bool m_loading = false;
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
    QString got, field;
    try {
        t.post();
    } catch (const AbandonedAction &a) {
        got = a.key();
        field = a.field();
    }
    QCOMPARE(got, key);
    QCOMPARE(field, key.isEmpty() ? QString() : ServiceMap::kFieldDestino);
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

using Remembered = QList<QStringList>; // orig, name, dest[, branch]
Q_DECLARE_METATYPE(Remembered)

void TstServiceMap::pairsAndMemory_data()
{
    QTest::addColumn<Remembered>("memory");
    QTest::addColumn<Pairs>("given");          // --pair: origin, destination
    QTest::addColumn<QString>("key");          // a refusal's catalogue key
    QTest::addColumn<QStringList>("expected"); // "orig>dest", "*" when from memory, map order
    // Pairings typed on the grid after that load (origin, code as typed), then the branches of the
    // loads that follow it; `expected` is then the map of the last of them.
    QTest::addColumn<Pairs>("typed");
    QTest::addColumn<QStringList>("reloads");

    // Origins in file order 10 almoco (pairs by name with 00001), 30 lanche, 40 merenda; the
    // branch 0007 has 00001 ALMOCO, 00002 JANTAR, 00004 CEIA.
    const QStringList none{"40>", "30>", "10>00001"};
    QTest::newRow("memory fills an unpaired service") << Remembered{{"30", "lanche", "00004"}} << Pairs{} << ""
                                                      << QStringList{"40>", "30>00004*", "10>00001"} << Pairs{} << QStringList{};
    QTest::newRow("pairing by name first") << Remembered{{"10", "almoco", "00004"}} << Pairs{} << "" << none << Pairs{} << QStringList{};
    QTest::newRow("a service the branch no longer has") << Remembered{{"30", "lanche", "00009"}} << Pairs{} << "" << none << Pairs{} << QStringList{};
    QTest::newRow("held by a row paired by name") << Remembered{{"30", "lanche", "00001"}} << Pairs{} << "" << none << Pairs{} << QStringList{};
    QTest::newRow("two on one destination: the first in map order")
        << Remembered{{"30", "lanche", "00004"}, {"40", "merenda", "00004"}} << Pairs{} << ""
        << QStringList{"40>00004*", "30>", "10>00001"} << Pairs{} << QStringList{};
    QTest::newRow("the code under another name") << Remembered{{"30", "LANCHE", "00004"}} << Pairs{} << "" << none << Pairs{} << QStringList{};
    QTest::newRow("given, adjusted") << Remembered{} << Pairs{{"30", "2"}} << "" << QStringList{"40>", "30>00002", "10>00001"} << Pairs{} << QStringList{};
    QTest::newRow("given before memory") << Remembered{{"40", "merenda", "00004"}} << Pairs{{"30", "4"}} << ""
                                         << QStringList{"40>", "30>00004", "10>00001"} << Pairs{} << QStringList{};
    QTest::newRow("given over a pairing by name") << Remembered{} << Pairs{{"10", "2"}} << ""
                                                  << QStringList{"40>", "30>", "10>00002"} << Pairs{} << QStringList{};
    QTest::newRow("given one another row holds") << Remembered{} << Pairs{{"30", "1"}} << "Serv_Ja_Cad" << QStringList{} << Pairs{} << QStringList{};
    QTest::newRow("given twice") << Remembered{} << Pairs{{"30", "2"}, {"40", "2"}} << "Serv_Ja_Cad" << QStringList{} << Pairs{} << QStringList{};
    QTest::newRow("given an origin the file lacks") << Remembered{} << Pairs{{"99", "2"}} << "Serv_Nao_Cad" << QStringList{} << Pairs{} << QStringList{};
    QTest::newRow("given no destination") << Remembered{} << Pairs{{"30", ""}} << "Serv_Dest_Deve" << QStringList{} << Pairs{} << QStringList{};

    // The grid's pairings reach the next loads: after the pairing by name and the pairs given,
    // before memory; a swap made in steps comes back whole; another branch forgets them.
    const QStringList again{"0007"};
    QTest::newRow("typed, kept for the next load") << Remembered{} << Pairs{} << "" << QStringList{"40>", "30>00002", "10>00001"}
                                                    << Pairs{{"30", "2"}} << again;
    QTest::newRow("typed before memory") << Remembered{{"40", "merenda", "00004"}} << Pairs{} << ""
                                         << QStringList{"40>00002", "30>", "10>00001"} << Pairs{{"40", "2"}} << again;
    QTest::newRow("typed after a pair given") << Remembered{} << Pairs{{"30", "2"}} << ""
                                              << QStringList{"40>00004", "30>00002", "10>00001"} << Pairs{{"40", "4"}} << again;
    QTest::newRow("a swap with the pairing by name, in steps")
        << Remembered{} << Pairs{} << "" << QStringList{"40>", "30>00001", "10>00004"}
        << Pairs{{"10", ""}, {"30", "1"}, {"10", "4"}} << again;
    QTest::newRow("a row left without destination stays so")
        << Remembered{{"10", "almoco", "00002"}} << Pairs{} << "" << QStringList{"40>", "30>", "10>"} << Pairs{{"10", ""}} << again;
    QTest::newRow("another branch forgets them")
        << Remembered{} << Pairs{} << "" << none << Pairs{{"30", "2"}} << QStringList{"0008", "0007"};
}
void TstServiceMap::pairsAndMemory()
{
    QFETCH(Remembered, memory);
    QFETCH(Pairs, given);
    QFETCH(QString, key);
    QFETCH(QStringList, expected);
    QFETCH(Pairs, typed);
    QFETCH(QStringList, reloads);
    QuietSink sink;
    for (const QStringList &m : memory)
        QVERIFY(m_f->exec(QStringLiteral("INSERT INTO SERVPARE (CDFILIAL, CDSERVFILIORIG, NMSERVICOORIG, CDSERVFILIDEST) "
                                         "VALUES ('%1', '%2', '%3', '%4')")
                              .arg(m.value(3, QStringLiteral("0007")), m[0], m[1], m[2])));
    m_map->paresInformados = given;
    QString got, text;
    try {
        setUp({{"00001", "ALMOCO"}, {"00002", "JANTAR"}, {"00004", "CEIA"}}, {{"10", "almoco"}, {"30", "lanche"}, {"40", "merenda"}});
    } catch (const AbandonedAction &a) {
        got = a.key();
        text = a.text();
    }
    QCOMPARE(got, key);
    // The refusal carries its message to the handler boundary; nothing is shown on the way.
    QCOMPARE(text, key.isEmpty() ? QString() : Msg(key));
    QVERIFY(sink.errors.isEmpty());
    QCOMPARE(m_map->cdsServico.state(), TableState::Browse); // a refused pair leaves no row in edit
    if (!key.isEmpty())
        return;
    // Typed as on the grid: an edit of the row, the code, the post (which validates it).
    QStringList told;
    m_map->pairedByOperator = [&](const QString &o, const QString &d) { told << o + u'>' + d; };
    MemTable &map = m_map->cdsServico;
    for (const auto &[origin, code] : typed) {
        map.moveTo(map.find(0, origin));
        map.edit();
        map.setText(1, code);
        map.post();
    }
    QCOMPARE(told.size(), typed.size());
    QString branch = QStringLiteral("0007");
    m_map->CdFilialDestino = [&branch] { return branch; };
    const QStringList lines{QString::fromLatin1(ExportWriter::fields(ExportWriter::structure("SERVICO"))),
                            "SERVICO\u00F810\u00F8almoco\u00F8", "SERVICO\u00F830\u00F8lanche\u00F8",
                            "SERVICO\u00F840\u00F8merenda\u00F8"};
    for (const QString &b : reloads) {
        branch = b;
        m_map->clear();
        m_loading = true;
        m_map->prepareDestinationServices();
        m_map->build(lines);
        m_loading = false;
    }
    QStringList rows, held;
    const MemTable &t = m_map->cdsServico;
    for (int r = 0; r < t.rowCount(); ++r) {
        rows << t.textAt(r, 0) + u'>' + t.textAt(r, 1) + (m_map->isRemembered(r) ? QStringLiteral("*") : QString());
        if (!t.textAt(r, 1).isEmpty())
            held << t.textAt(r, 1);
    }
    QCOMPARE(rows, expected);
    // Whatever paired a row, its destination is in use, so no other row can take it.
    QStringList inUse = destinos();
    inUse.sort();
    held.sort();
    QCOMPARE(inUse, held);
}

QTEST_GUILESS_MAIN(TstServiceMap)
#include "tst_servicemap.moc"
