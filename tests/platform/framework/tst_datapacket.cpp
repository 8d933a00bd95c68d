// Data packets: what goes out comes back, and what comes in malformed is refused with a message,
// leaving the table closed and empty.
#include "datapacket.h"

#include <QCborStreamWriter>
#include <QRandomGenerator>
#include <QTest>

#include <cstring>

namespace {

QList<FieldDef> allKinds()
{
    FieldDef code = FieldDef::text("CDPRATO", 10, QStringLiteral("Código"));
    code.readOnly = true;
    code.required = true;
    code.providerFlags = pfInKey | pfInWhere;
    code.editMask = QStringLiteral("999.999");
    return {code, FieldDef::text("NMPRATO", 40), FieldDef::number("VRARREDTRANS"), FieldDef::dateTime("DTULTATUPRAT"),
            FieldDef::integer("QTD"), FieldDef::boolean("ATIVO")};
}

void fill(MemTable &t)
{
    t.setFields(allKinds());
    t.createDataSet();
    const QDateTime when(QDate(2021, 3, 4), QTime(5, 6, 7, 890), Qt::UTC);
    t.append();
    t.setText(0, u"000001");
    t.setText(1, u"Feijoada à moda, pão e açúcar ☕ \U0001F600");
    t.setNumber(2, -0.125);
    t.setDateTime(3, when);
    t.setInteger(4, std::numeric_limits<qint64>::max());
    t.setBoolean(5, true);
    t.append();
    t.setText(0, u"000002"); // everything else null
    t.append();
    t.setText(0, u"000003");
    t.setText(1, u"");
    t.setNumber(2, 1e300);
    t.setInteger(4, std::numeric_limits<qint64>::min() + 1);
    t.setBoolean(5, false);
    t.post();
}

// A packet with one field "A" and the given raw CBOR for "rows", written by hand; a delta packet
// says so between the two.
QByteArray packetWithRows(const std::function<void(QCborStreamWriter &)> &rows, int fieldKind = 0, bool delta = false)
{
    QByteArray out;
    QCborStreamWriter w(&out);
    w.startMap(delta ? 3 : 2);
    w.append(QLatin1String("fields"));
    w.startArray(1);
    w.startMap(2);
    w.append(QLatin1String("name"));
    w.append(QLatin1String("A"));
    w.append(QLatin1String("kind"));
    w.append(qint64(fieldKind));
    w.endMap();
    w.endArray();
    if (delta) {
        w.append(QLatin1String("delta"));
        w.append(true);
    }
    w.append(QLatin1String("rows"));
    rows(w);
    w.endMap();
    return out;
}

QByteArray hex(const char *h) { return QByteArray::fromHex(h); }

} // namespace

class TestDataPacket : public QObject {
    Q_OBJECT
private slots:
    void roundTrip();
    void roundTripEmptyAndClosed();
    void deltaRoundTrip();
    void malformed_data();
    void malformed();
    void truncatedAtEveryLength();
    void rowsAsLoaded_data();
    void rowsAsLoaded();
    void rowsAsLoadedWhenMutated();
    void loadEvents();
    void deltaMessages_data();
    void deltaMessages();
};

void TestDataPacket::roundTrip()
{
    MemTable src(QStringLiteral("PRATO"));
    fill(src);
    const QByteArray packet = DataPacket::save(src);

    MemTable dst;
    const Status st = DataPacket::load(dst, packet);
    QVERIFY2(st.ok(), qPrintable(st.error()));
    QCOMPARE(dst.name(), QStringLiteral("PRATO"));
    QCOMPARE(dst.fields(), src.fields());
    QCOMPARE(dst.state(), TableState::Browse);
    QCOMPARE(dst.currentRow(), 0);
    QCOMPARE(dst.changeCount(), 0);
    QCOMPARE(dst.rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
        QCOMPARE(dst.rowValues(r), src.rowValues(r));
        for (int c = 0; c < src.fieldCount(); ++c)
            QCOMPARE(dst.isNullAt(r, c), src.isNullAt(r, c));
    }
    QCOMPARE(dst.dateTimeAt(0, 3).time().msec(), 890);
    QVERIFY(!dst.isNullAt(2, 1)); // empty text is not null

    const auto peek = DataPacket::peekFields(packet);
    QVERIFY(peek.ok());
    QCOMPARE(peek.value(), src.fields());
}

void TestDataPacket::roundTripEmptyAndClosed()
{
    MemTable src(QStringLiteral("DIRETORIOS"));
    src.setFields({FieldDef::text("CDPROGRAMA", 8), FieldDef::text("DSDIRETORIO", 100)});
    for (bool open : {false, true}) {
        if (open)
            src.createDataSet();
        MemTable dst(QStringLiteral("cdsDiretorios"));
        QVERIFY(DataPacket::load(dst, DataPacket::save(src)).ok());
        QCOMPARE(dst.name(), QStringLiteral("cdsDiretorios")); // a named table keeps its name
        QCOMPARE(dst.fields(), src.fields());
        QCOMPARE(dst.rowCount(), 0);
        QCOMPARE(dst.currentRow(), -1);
        QVERIFY(dst.isActive());
    }
}

void TestDataPacket::deltaRoundTrip()
{
    MemTable t(QStringLiteral("PRATO"));
    fill(t);
    t.mergeChangeLog();
    t.first();
    t.edit();
    t.setText(1, u"Novo nome é");
    t.post();
    t.next();
    t.deleteRow();
    t.append();
    t.setText(0, u"000009");
    t.setDateTime(3, QDateTime(QDate(1999, 1, 1), QTime(0, 0), Qt::UTC));
    t.post();

    const auto d = DataPacket::loadDelta(DataPacket::saveDelta(t));
    QVERIFY2(d.ok(), qPrintable(d.error()));
    QCOMPARE(d->tableName, QStringLiteral("PRATO"));
    QCOMPARE(d->fields, t.fields());
    const std::vector<DeltaRow> want = t.delta();
    QCOMPARE(d->rows.size(), size_t(3));
    for (size_t i = 0; i < want.size(); ++i) {
        QCOMPARE(d->rows[i].change, want[i].change);
        QCOMPARE(d->rows[i].values, want[i].values);
        QCOMPARE(d->rows[i].original, want[i].original);
    }

    // Neither kind of packet passes for the other.
    MemTable other;
    const Status st = DataPacket::load(other, DataPacket::saveDelta(t));
    QVERIFY(!st.ok());
    QVERIFY(!DataPacket::loadDelta(DataPacket::save(t)).ok());
}

void TestDataPacket::malformed_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("expected"); // part of the message

    auto rows = [](std::function<void(QCborStreamWriter &)> f, int kind = 0) { return packetWithRows(f, kind); };
    QTest::newRow("empty") << QByteArray() << "vazio";
    QTest::newRow("not a map") << hex("83010203") << "esperado mapa";
    QTest::newRow("garbage") << QByteArray("hello world") << "inválido";
    QTest::newRow("map without fields") << hex("a0") << "sem campos";
    QTest::newRow("fields not a list") << hex("a1666669656c647301") << "esperado lista";
    QTest::newRow("field without name") << hex("a166666965 6c647381a1646b696e6400") << "campo 1 sem nome";
    QTest::newRow("field kind unknown") << hex("a166666965 6c647381a2646e616d6561416 46b696e6409") << "campo 1.kind: tipo 9";
    QTest::newRow("field kind negative") << hex("a166666965 6c647381a2646e616d6561416 46b696e6420") << "tipo -1";
    QTest::newRow("duplicate field names")
        << hex("a166666965 6c647382a2646e616d6561416 46b696e6400a2646e616d6561616 46b696e6400") << "repetido";
    QTest::newRow("no fields at all") << hex("a166666965 6c647380") << "sem campos";
    QTest::newRow("duplicate top key") << hex("a2657461626c65615865746162 6c656159") << "repetida";
    QTest::newRow("rows before fields") << hex("a164726f777380") << "antes dos campos";
    QTest::newRow("absurd row count") << [&] {
        QByteArray p = rows([](QCborStreamWriter &w) { w.startArray(0); w.endArray(); });
        p.chop(1); // the empty list of rows, declared instead as a trillion rows
        return p + hex("9b000000ffffffffff");
    }() << "mais do que os dados";
    QTest::newRow("absurd field count") << hex("a166666965 6c64739b00000000ffffffff") << "mais do que os dados";
    QTest::newRow("absurd string length") << hex("a17b00000000ffffffff41") << "além do fim";
    QTest::newRow("row too short") << rows([](QCborStreamWriter &w) { w.startArray(1); w.startArray(0); w.endArray(); w.endArray(); })
                                   << "0 valores; esperados 1";
    QTest::newRow("row too long (indefinite)") << rows([](QCborStreamWriter &w) {
        w.startArray(1); w.startArray(); w.append(QLatin1String("x")); w.append(QLatin1String("y")); w.endArray(); w.endArray();
    }) << "mais de 1 valores";
    QTest::newRow("row not a list") << rows([](QCborStreamWriter &w) { w.startArray(1); w.append(5); w.endArray(); })
                                    << "esperado lista";
    QTest::newRow("integer in text column") << rows([](QCborStreamWriter &w) {
        w.startArray(1); w.startArray(1); w.append(5); w.endArray(); w.endArray();
    }) << "linha 1, campo A: esperado texto";
    QTest::newRow("text in integer column") << rows([](QCborStreamWriter &w) {
        w.startArray(1); w.startArray(1); w.append(QLatin1String("5")); w.endArray(); w.endArray();
    }, int(FieldKind::Integer)) << "linha 1, campo A: esperado inteiro";
    QTest::newRow("integer beyond qint64") << rows([](QCborStreamWriter &w) {
        w.startArray(1); w.startArray(1); w.append(std::numeric_limits<quint64>::max()); w.endArray(); w.endArray();
    }, int(FieldKind::Integer)) << "fora da faixa";
    QTest::newRow("negative beyond qint64") << rows([](QCborStreamWriter &w) {
        w.startArray(1); w.startArray(1); w.append(QCborNegativeInteger(0)); w.endArray(); w.endArray();
    }, int(FieldKind::DateTime)) << "fora da faixa";
    QTest::newRow("bytes in text column") << rows([](QCborStreamWriter &w) {
        w.startArray(1); w.startArray(1); w.appendByteString("ab", 2); w.endArray(); w.endArray();
    }) << "encontrado bytes";
    QTest::newRow("tagged value") << rows([](QCborStreamWriter &w) {
        w.startArray(1); w.startArray(1); w.append(QCborKnownTags::DateTimeString); w.append(QLatin1String("x")); w.endArray(); w.endArray();
    }) << "etiqueta";
    QTest::newRow("nested row") << rows([](QCborStreamWriter &w) {
        w.startArray(1); w.startArray(1); w.startArray(0); w.endArray(); w.endArray(); w.endArray();
    }) << "encontrado lista";
    QTest::newRow("deep nesting under an unknown key") << [] {
        QByteArray p = hex("a2646a756e6b");
        p += QByteArray(5000, char(0x81));
        p += char(0x00);
        return p;
    }() << "aninhamento";
    QTest::newRow("invalid UTF-8") << rows([](QCborStreamWriter &w) {
        w.startArray(1); w.startArray(1); w.appendTextString("\xff\xfe", 2); w.endArray(); w.endArray();
    }) << "inválido";
    QTest::newRow("trailing bytes") << packetWithRows([](QCborStreamWriter &w) { w.startArray(0); w.endArray(); }) + hex("00")
                                    << "após o fim";
    QTest::newRow("delta flag not a bool") << hex("a16564656c746101") << "delta: esperado lógico";
}

void TestDataPacket::malformed()
{
    QFETCH(QByteArray, packet);
    QFETCH(QString, expected);
    MemTable t(QStringLiteral("T"));
    fill(t); // a loaded table, to see it emptied
    const QList<FieldDef> before = t.fields();
    const Status st = DataPacket::load(t, packet);
    QVERIFY(!st.ok());
    QVERIFY2(st.error().startsWith(QStringLiteral("Pacote de dados inválido: ")), qPrintable(st.error()));
    QVERIFY2(st.error().contains(expected), qPrintable(st.error()));
    QVERIFY(!t.isActive());
    QCOMPARE(t.rowCount(), 0);
    QCOMPARE(t.fields(), before);
    QVERIFY(!DataPacket::loadDelta(packet).ok());
    // Rows read in place refuse the same packets with the same words.
    DataPacket::PacketRows rows;
    QVERIFY(rows.open(DataPacket::save(t)).ok());
    const Status inPlace = rows.open(packet);
    QCOMPARE(inPlace.error(), st.error());
    QVERIFY(!rows.isOpen());
    QCOMPARE(rows.rowCount(), 0);
    QVERIFY(rows.fields().isEmpty());
}

// Every prefix of a valid packet is refused, whichever reader gets it, with no crash.
void TestDataPacket::truncatedAtEveryLength()
{
    MemTable src(QStringLiteral("PRATO"));
    fill(src);
    const QByteArray whole = DataPacket::save(src);
    src.mergeChangeLog();
    src.first();
    src.edit();
    src.setText(1, u"ção");
    src.post();
    src.last();
    src.deleteRow();
    const QByteArray delta = DataPacket::saveDelta(src);
    QVERIFY(DataPacket::loadDelta(delta).ok());
    for (qsizetype n = 0; n < whole.size(); ++n) {
        MemTable t;
        const Status st = DataPacket::load(t, whole.left(n));
        QVERIFY2(!st.ok(), qPrintable(QString::number(n)));
        QVERIFY(!t.isActive());
        QCOMPARE(t.rowCount(), 0);
        DataPacket::PacketRows rows;
        QVERIFY2(!rows.open(whole.left(n)).ok(), qPrintable(QString::number(n)));
    }
    for (qsizetype n = 0; n < delta.size(); ++n)
        QVERIFY2(!DataPacket::loadDelta(delta.left(n)).ok(), qPrintable(QString::number(n)));
}

// A packet of two columns, T (text of `width`) and V (of kind `second`), its rows written by `rows`;
// the table's name after the rows when `nameAfterRows`.
static QByteArray handPacket(int width, FieldKind second, const std::function<void(QCborStreamWriter &)> &rows,
                             bool nameAfterRows = false)
{
    QByteArray out;
    QCborStreamWriter w(&out);
    w.startMap(nameAfterRows ? 3 : 2);
    w.append(QLatin1String("fields"));
    w.startArray(2);
    w.startMap(3);
    w.append(QLatin1String("name"));
    w.append(QLatin1String("T"));
    w.append(QLatin1String("kind"));
    w.append(qint64(FieldKind::Text));
    w.append(QLatin1String("width"));
    w.append(qint64(width));
    w.endMap();
    w.startMap(2);
    w.append(QLatin1String("name"));
    w.append(QLatin1String("V"));
    w.append(QLatin1String("kind"));
    w.append(qint64(second));
    w.endMap();
    w.endArray();
    w.append(QLatin1String("rows"));
    rows(w);
    if (nameAfterRows) {
        w.append(QLatin1String("table"));
        w.append(QLatin1String("X"));
    }
    w.endMap();
    return out;
}

// Every form of value a packet may hold, read in place, gives what the table load() fills holds:
// lists and texts of open length, texts in chunks, small floats, integers in a number column,
// text cut to its column's width (never half a character), empty text and null.
void TestDataPacket::rowsAsLoaded_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("rowCount");

    MemTable t(QStringLiteral("PRATO"));
    fill(t);
    QTest::newRow("saved table") << DataPacket::save(t) << 3;
    t.close();
    t.createDataSet();
    QTest::newRow("no rows") << DataPacket::save(t) << 0;

    // Raw CBOR: an open list of rows, each an open list; text in two chunks; a 16-bit float.
    QByteArray open = handPacket(0, FieldKind::Number, [](QCborStreamWriter &w) {
        w.startArray();
        w.endArray();
    });
    open.chop(1); // the open list's break: the packet ends with the rows
    open += QByteArray::fromHex("9f" "7f626162" "62c3a9ff" "f93e00" "ff"
                                "9f" "60" "1864" "ff"
                                "9f" "f6" "fa3fc00000" "ff"
                                "9f" "62787a" "39ffff" "ff"
                                "9f" "7f63efbbbf" "64efbbbf41" "ff" "00" "ff"
                                "9f" "66efbbbfefbbbf" "20" "ff"
                                "ff");
    QTest::newRow("open lists, chunks, small floats, integers as numbers, byte order marks") << open << 6;
    QByteArray openWhole = handPacket(0, FieldKind::Number, [](QCborStreamWriter &w) {
        w.startArray();
        w.endArray();
    });
    openWhole.chop(1);
    openWhole += QByteArray::fromHex("9f" "62c3a9" "3903e7" "ff" "82" "60" "fb3ff8000000000000" "ff");
    QTest::newRow("open lists of whole texts") << openWhole << 2;
    QTest::newRow("text cut to the width") << handPacket(3, FieldKind::Integer, [](QCborStreamWriter &w) {
        w.startArray(6);
        for (const char *s : {"abcdef", "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80x", "ab\xf0\x9f\x98\x80", "  x  ", "\xc3\xa9\xc3\xa9\xc3\xa9",
                              "\xef\xbb\xbf" "abcd"}) {
            w.startArray(2);
            w.appendTextString(s, qsizetype(std::strlen(s)));
            w.append(qint64(-7));
            w.endArray();
        }
        w.endArray();
    }) << 6;
    QTest::newRow("flags and dates") << handPacket(0, FieldKind::Boolean, [](QCborStreamWriter &w) {
        w.startArray(2);
        w.startArray(2); w.append(QLatin1String("s")); w.append(true); w.endArray();
        w.startArray(2); w.appendNull(); w.append(false); w.endArray();
        w.endArray();
    }) << 2;
    QTest::newRow("rows before the table's name") << handPacket(2, FieldKind::Integer, [](QCborStreamWriter &w) {
        w.startArray(2);
        w.startArray(2); w.append(QLatin1String("abc")); w.append(qint64(5)); w.endArray();
        w.startArray(2); w.append(QString(QChar(0xFEFF)) + QStringLiteral("xyz")); w.appendNull(); w.endArray();
        w.endArray();
    }, true) << 2;
    QTest::newRow("dates") << handPacket(0, FieldKind::DateTime, [](QCborStreamWriter &w) {
        w.startArray(2);
        w.startArray(2); w.append(QLatin1String("d")); w.append(qint64(1709296200123)); w.endArray();
        w.startArray(2); w.append(QLatin1String("e")); w.append(qint64(-86400000)); w.endArray();
        w.endArray();
    }) << 2;
}

void TestDataPacket::rowsAsLoaded()
{
    QFETCH(QByteArray, packet);
    QFETCH(int, rowCount);
    MemTable t;
    const Status loaded = DataPacket::load(t, packet);
    QVERIFY2(loaded.ok(), qPrintable(loaded.error()));
    DataPacket::PacketRows rows;
    const Status opened = rows.open(packet);
    QVERIFY2(opened.ok(), qPrintable(opened.error()));
    QCOMPARE(rows.rowCount(), rowCount);
    QCOMPARE(t.rowCount(), rowCount);
    QCOMPARE(rows.fields(), t.fields());
    QCOMPARE(rows.fieldIndex(u"t"), t.fieldIndex(u"t"));
    DataPacket::PacketRow row;
    // Backwards, then forwards: a row read does not depend on the one before it.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < rowCount; ++i) {
            const int r = pass ? i : rowCount - 1 - i;
            rows.read(r, row);
            QCOMPARE(row.index(), r);
            for (int c = 0; c < t.fieldCount(); ++c) {
                const QString at = QStringLiteral("row %1, column %2").arg(r).arg(c);
                QVERIFY2(row.isNull(c) == t.isNullAt(r, c), qPrintable(at));
                QVERIFY2(row.text(c) == t.textAt(r, c), qPrintable(at + QStringLiteral(": ") + row.text(c) + QStringLiteral(" / ") + t.textAt(r, c)));
                QVERIFY2(row.value(c) == t.valueAt(r, c), qPrintable(at));
                switch (t.field(c).kind) {
                case FieldKind::Text: QCOMPARE(DataPacket::fromUtf8(row.utf8(c)), t.textAt(r, c)); break;
                case FieldKind::Number: QCOMPARE(row.number(c), t.isNullAt(r, c) ? 0.0 : t.numberAt(r, c)); break;
                case FieldKind::Integer: QCOMPARE(row.integer(c), t.isNullAt(r, c) ? 0 : t.integerAt(r, c)); break;
                case FieldKind::DateTime: QCOMPARE(row.dateTime(c), t.dateTimeAt(r, c)); break;
                case FieldKind::Boolean: QCOMPARE(row.boolean(c), !t.isNullAt(r, c) && t.booleanAt(r, c)); break;
                }
            }
        }
    }
}

// Packets a byte or two away from a valid one: read in place, each is refused with load()'s words
// or read into the same values, whichever way the quick reading goes. Seeded, so a failure repeats.
void TestDataPacket::rowsAsLoadedWhenMutated()
{
    MemTable src(QStringLiteral("PRATO"));
    fill(src);
    const QByteArray whole = DataPacket::save(src);
    QRandomGenerator rng(20261208);
    const char interesting[] = {'\x00', '\x17', '\x18', '\x1f', '\x3f', '\x5f', '\x60', '\x7f', '\x80', '\x9f',
                                '\xbf', '\xc3', '\xef', '\xf4', '\xf5', '\xf6', '\xf7', '\xf9', '\xfb', '\xff'};
    int accepted = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray p = whole;
        for (int k = 0, n = 1 + int(rng.bounded(2)); k < n; ++k) {
            const qsizetype at = qsizetype(rng.bounded(quint32(p.size())));
            p[at] = rng.bounded(2) ? interesting[rng.bounded(quint32(sizeof interesting))] : char(rng.bounded(256));
        }
        MemTable t;
        const Status loaded = DataPacket::load(t, p);
        DataPacket::PacketRows rows;
        const Status opened = rows.open(p);
        QVERIFY2(opened.ok() == loaded.ok(), qPrintable(QString::number(i) + u' ' + opened.error() + u'/' + loaded.error()));
        QCOMPARE(opened.error(), loaded.error());
        if (!loaded.ok())
            continue;
        ++accepted;
        QCOMPARE(rows.rowCount(), t.rowCount());
        DataPacket::PacketRow row;
        for (int r = 0; r < t.rowCount(); ++r) {
            rows.read(r, row);
            for (int c = 0; c < t.fieldCount(); ++c) {
                QCOMPARE(row.isNull(c), t.isNullAt(r, c));
                QCOMPARE(row.value(c), t.valueAt(r, c));
            }
        }
    }
    QVERIFY(accepted > 0); // some changes leave a valid packet (a letter for another)
}

void TestDataPacket::loadEvents()
{
    MemTable src;
    fill(src);
    MemTable t;
    fill(t);
    QStringList log;
    t.events.beforeClose = [&](MemTable &) { log << QStringLiteral("beforeClose"); };
    t.events.afterClose = [&](MemTable &) { log << QStringLiteral("afterClose"); };
    t.events.afterOpen = [&](MemTable &m) { log << QStringLiteral("afterOpen %1").arg(m.rowCount()); };
    QVERIFY(DataPacket::load(t, DataPacket::save(src)).ok());
    QCOMPARE(log, (QStringList{"beforeClose", "afterClose", "afterOpen 3"}));

    // A small limit refuses what the default takes.
    DataPacket::Limits tight;
    tight.maxRows = 2;
    QVERIFY(DataPacket::load(t, DataPacket::save(src), tight).error().contains(QStringLiteral("linhas")));
    tight = {};
    tight.maxFields = 3;
    QVERIFY(DataPacket::load(t, DataPacket::save(src), tight).error().contains(QStringLiteral("campos")));
    tight = {};
    tight.maxTextLength = 20; // below NMPRATO's width
    QVERIFY(!DataPacket::load(t, DataPacket::save(src), tight).ok());
}


void TestDataPacket::deltaMessages_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("expected"); // the message names the change and the column

    // A first change that is right, then the one under test.
    auto delta = [](std::function<void(QCborStreamWriter &)> row) {
        return packetWithRows([&row](QCborStreamWriter &w) {
            w.startArray(2);
            w.startArray(3); w.append(1); w.startArray(1); w.append(QLatin1String("ok")); w.endArray(); w.startArray(0); w.endArray(); w.endArray();
            row(w);
            w.endArray();
        }, 0, true);
    };
    QTest::newRow("value of another kind") << delta([](QCborStreamWriter &w) {
        w.startArray(3); w.append(1); w.startArray(1); w.append(5); w.endArray(); w.startArray(0); w.endArray(); w.endArray();
    }) << "alteração 2 (valores), campo A: esperado texto";
    QTest::newRow("original of another kind") << delta([](QCborStreamWriter &w) {
        w.startArray(3); w.append(2); w.startArray(1); w.append(QLatin1String("x")); w.endArray();
        w.startArray(1); w.append(true); w.endArray(); w.endArray();
    }) << "alteração 2 (originais), campo A: esperado texto";
    QTest::newRow("change kind not an integer") << delta([](QCborStreamWriter &w) {
        w.startArray(3); w.append(QLatin1String("x")); w.endArray();
    }) << "alteração 2: esperado inteiro";
    QTest::newRow("too many values") << delta([](QCborStreamWriter &w) {
        w.startArray(3); w.append(1); w.startArray(2); w.append(QLatin1String("x")); w.append(QLatin1String("y")); w.endArray();
        w.startArray(0); w.endArray(); w.endArray();
    }) << "alteração 2 (valores) tem 2 valores; esperados 1";
}

void TestDataPacket::deltaMessages()
{
    QFETCH(QByteArray, packet);
    QFETCH(QString, expected);
    const auto d = DataPacket::loadDelta(packet);
    QVERIFY(!d.ok());
    QVERIFY2(d.error().contains(expected), qPrintable(d.error()));
}

QTEST_GUILESS_MAIN(TestDataPacket)
#include "tst_datapacket.moc"
