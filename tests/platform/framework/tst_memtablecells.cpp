// The in-memory table's cells: value conversion, lookup, display text, required fields, the width
// of texts and what they cost, rows reserved ahead, and cell access that is refused.
#include "memtablescript.h"

using namespace MemTableScript;

class TestMemTableCells : public QObject {
    Q_OBJECT
private slots:
    void conversions_data();
    void conversions();
    void lookup_data();
    void lookup();
    void displayText();
    void requiredField();
    void textWidths_data();
    void textWidths();
    void narrowTextTakesLessMemory();
    void reservedLoad_data();
    void reservedLoad();
    void badCellAccess_data();
    void badCellAccess();
};

void TestMemTableCells::conversions_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<QVariant>("expected"); // invalid: null; "throws": std::invalid_argument

    const int text = int(FieldKind::Text), num = int(FieldKind::Number), integer = int(FieldKind::Integer),
              dt = int(FieldKind::DateTime), boolean = int(FieldKind::Boolean);
    const QVariant throws = QStringLiteral("throws");
    QTest::newRow("text cut to width") << text << 4 << QVariant("abcdefg") << QVariant("abcd");
    QTest::newRow("accented text cut by characters") << text << 3 << QVariant("ÇÃOxyz") << QVariant("ÇÃO");
    QTest::newRow("surrogate pair not split") << text << 2 << QVariant(QStringLiteral("a\U0001F600")) << QVariant("a");
    QTest::newRow("width 0: no limit") << text << 0 << QVariant(QString(300, u'x')) << QVariant(QString(300, u'x'));
    QTest::newRow("text from integer") << text << 10 << QVariant(42) << QVariant("42");
    QTest::newRow("empty text is not null") << text << 10 << QVariant(QString("")) << QVariant(QString(""));
    QTest::newRow("null") << text << 10 << QVariant() << QVariant();
    QTest::newRow("number from dot text") << num << 0 << QVariant("12.5") << QVariant(12.5);
    QTest::newRow("number from comma text") << num << 0 << QVariant("12,5") << QVariant(12.5);
    QTest::newRow("number from blank is null") << num << 0 << QVariant("  ") << QVariant();
    QTest::newRow("number from letters") << num << 0 << QVariant("abc") << throws;
    QTest::newRow("integer from text") << integer << 0 << QVariant("-17") << QVariant(qint64(-17));
    QTest::newRow("integer from fraction") << integer << 0 << QVariant(1.5) << throws;
    QTest::newRow("integer from whole double") << integer << 0 << QVariant(3.0) << QVariant(qint64(3));
    QTest::newRow("integer lowest is reserved") << integer << 0 << QVariant(std::numeric_limits<qint64>::min()) << throws;
    QTest::newRow("date from ISO text") << dt << 0 << QVariant("2024-02-29T13:45:10")
                                        << QVariant(QDateTime(QDate(2024, 2, 29), QTime(13, 45, 10), Qt::UTC));
    QTest::newRow("date from regional text") << dt << 0 << QVariant("31/12/1999")
                                             << QVariant(QDateTime(QDate(1999, 12, 31), QTime(0, 0), Qt::UTC));
    QTest::newRow("date keeps the wall clock") << dt << 0
        << QVariant(QDateTime(QDate(2020, 6, 1), QTime(8, 0), Qt::OffsetFromUTC, -3 * 3600))
        << QVariant(QDateTime(QDate(2020, 6, 1), QTime(8, 0), Qt::UTC));
    QTest::newRow("date from nonsense") << dt << 0 << QVariant("2024-13-45") << throws;
    QTest::newRow("boolean from S") << boolean << 0 << QVariant("S") << QVariant(true);
    QTest::newRow("boolean from 0") << boolean << 0 << QVariant(0) << QVariant(false);
    QTest::newRow("boolean from word") << boolean << 0 << QVariant("talvez") << throws;
}

void TestMemTableCells::conversions()
{
    QFETCH(int, kind);
    QFETCH(int, width);
    QFETCH(QVariant, input);
    QFETCH(QVariant, expected);
    FieldDef f;
    f.name = QStringLiteral("F");
    f.kind = FieldKind(kind);
    f.width = width;
    MemTable t;
    t.setFields({f});
    t.createDataSet();
    t.append();
    if (expected == QVariant(QStringLiteral("throws")) && FieldKind(kind) != FieldKind::Text) {
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, t.setValue(0, input));
        QVERIFY(t.isNull(0));
        return;
    }
    t.setValue(0, input);
    t.post();
    QCOMPARE(t.value(0), expected);
    QCOMPARE(t.isNull(0), !expected.isValid());
}

void TestMemTableCells::lookup_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("row");
    QTest::newRow("text, other case of field name") << "code" << QVariant("b") << true << 1;
    QTest::newRow("text is case-sensitive") << "CODE" << QVariant("B") << false << 0;
    QTest::newRow("text is not trimmed") << "CODE" << QVariant("b ") << false << 0;
    QTest::newRow("number from text") << "Qty" << QVariant("3") << true << 2;
    QTest::newRow("number as integer") << "QTY" << QVariant(2) << true << 1;
    QTest::newRow("number not convertible") << "QTY" << QVariant("x") << false << 0;
    QTest::newRow("null") << "NAME" << QVariant() << true << 0;
}

void TestMemTableCells::lookup()
{
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    MemTable t;
    makeTable(t, {});
    run(t, "app =a app =b q2 app =c q3 post first");
    QCOMPARE(t.fieldIndex(u"qTy"), 2);
    QCOMPARE(t.fieldIndex(u"QT"), -1);
    QStringList log;
    recordEvents(t, log);
    QTEST(t.locate(field, value), "found");
    QTEST(t.currentRow(), "row");
    QCOMPARE(log.contains(QStringLiteral("afterScroll")), t.currentRow() != 0);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, t.locate(u"NOPE", 1));
    QCOMPARE(t.find(0, QStringLiteral("c")), 2);
    QCOMPARE(t.find(0, QStringLiteral("c"), 3), -1);
}

void TestMemTableCells::displayText()
{
    MemTable t;
    t.setFields({FieldDef::text("T", 4), FieldDef::number("N"), FieldDef::dateTime("D"), FieldDef::integer("I"),
                 FieldDef::boolean("B")});
    t.createDataSet();
    t.append();
    t.setText(0, u"P");
    t.setNumber(1, 1234567.25);
    t.setDateTime(2, QDateTime(QDate(2023, 1, 2), QTime(3, 4, 5, 600), Qt::UTC));
    t.setInteger(3, -5);
    t.setBoolean(4, true);
    t.post();
    QCOMPARE(t.displayText(0, 1), QStringLiteral("1234567.25"));
    QCOMPARE(t.displayText(0, 2), QStringLiteral("2023-01-02T03:04:05"));
    QCOMPARE(t.dateTime(2).time().msec(), 600);
    QCOMPARE(t.displayText(0, 3), QStringLiteral("-5"));
    t.setDisplayHook(0, [](const MemTable &m, int row, int col) {
        return m.textAt(row, col) == u"P" ? QStringLiteral("Padrão") : QStringLiteral("Local");
    });
    QCOMPARE(t.displayText(0, 0), QStringLiteral("Padrão"));
    QCOMPARE(t.text(0), QStringLiteral("P"));
    QVERIFY_THROWS_EXCEPTION(std::logic_error, t.setText(0, u"x")); // browse state
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, t.textAt(1, 0));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, t.value(9));
}

void TestMemTableCells::requiredField()
{
    MemTable t;
    FieldDef f = FieldDef::text("K", 4);
    f.required = true;
    t.setFields({f});
    t.createDataSet();
    t.append();
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, t.post());
    QCOMPARE(t.state(), TableState::Insert);
    t.setText(0, u"k");
    t.post();
    QCOMPARE(t.rowCount(), 1);
}

// Text kept one byte a character until a character beyond U+00FF comes (or a reader asks for a
// UTF-16 view): every cell must read back the same whichever width the column has at that moment.
void TestMemTableCells::textWidths_data()
{
    QTest::addColumn<QStringList>("texts");   // one row each, in order
    QTest::addColumn<bool>("viewWidens");     // read every cell with the plain textViewAt at the end
    QTest::addColumn<bool>("wide");           // the column keeps two bytes a character at the end

    const QString latin1 = QString::fromUtf8("Feijão à moda, 100% maçã ÿ");
    QTest::newRow("ASCII only") << QStringList{"PRATO", "", "PRATO", "A"} << false << false;
    QTest::newRow("Latin-1 accents") << QStringList{latin1, "ção", latin1} << false << false;
    QTest::newRow("euro sign widens, earlier rows intact") << QStringList{"abc", latin1, QString::fromUtf8("10 €"), "xyz"} << false << true;
    QTest::newRow("code page 1252 quotes") << QStringList{QString::fromUtf8("“aspas”"), "a"} << false << true;
    QTest::newRow("C1 controls stay narrow") << QStringList{QString(QChar(0x81)) + QChar(0x9D), "b"} << false << false;
    QTest::newRow("surrogate pair") << QStringList{"a", QString::fromUtf8("𝄞 clave")} << false << true;
    QTest::newRow("a UTF-16 view widens") << QStringList{"abc", latin1} << true << true;
}

void TestMemTableCells::textWidths()
{
    QFETCH(QStringList, texts);
    QFETCH(bool, viewWidens);
    QFETCH(bool, wide);
    MemTable t;
    t.setFields({FieldDef::text("A", 0), FieldDef::integer("N")});
    t.createDataSet();
    t.beginBulkLoad();
    for (int i = 0; i < texts.size(); ++i) {
        const int r = t.bulkNewRow();
        if (i % 2)
            t.bulkSetText(r, 0, texts[i]);
        t.bulkSetInteger(r, 1, i);
    }
    t.endBulkLoad();
    // The rows not filled in bulk are edited, so both ways of storing meet the same column.
    for (int i = 0; i < texts.size(); i += 2) {
        t.moveTo(i);
        t.edit();
        t.setText(0, texts[i]);
        t.post();
    }
    t.mergeChangeLog(); // rebuilds the storage: each cell copied in the column's width
    QString scratch;
    for (int i = 0; i < texts.size(); ++i) {
        QCOMPARE(t.textAt(i, 0), texts[i]);
        QCOMPARE(t.textViewAt(i, 0, scratch).toString(), texts[i]);
        QCOMPARE(t.find(0, texts[i]), texts.indexOf(texts[i]));
        // The view as the table keeps the characters: the same text, and no widening on the way.
        const bool wideBefore = t.isWideText(0);
        QCOMPARE(t.textAnyViewAt(i, 0).toString(), texts[i]);
        QVERIFY(QAnyStringView::equal(t.textAnyViewAt(i, 0), texts[i]));
        QCOMPARE(t.isWideText(0), wideBefore);
        QVERIFY(t.textAnyViewAt(i, 1).isEmpty()); // not a text column
    }
    if (viewWidens)
        for (int i = 0; i < texts.size(); ++i)
            QCOMPARE(t.textViewAt(i, 0).toString(), texts[i]);
    QCOMPARE(t.isWideText(0), wide);
    // An edit undone: the rows come back from either width.
    t.moveTo(0);
    t.edit();
    t.setText(0, QString::fromUtf8("novo ₢"));
    t.post();
    QVERIFY(t.isWideText(0));
    t.cancelUpdates();
    t.mergeChangeLog();
    for (int i = 0; i < texts.size(); ++i)
        QCOMPARE(t.textAt(i, 0), texts[i]);
}

void TestMemTableCells::narrowTextTakesLessMemory()
{
    // 1,000 rows of 40 Latin-1 characters: about 40 KB narrow, 80 KB wide.
    MemTable t;
    t.setFields({FieldDef::text("A", 0)});
    t.createDataSet();
    t.beginBulkLoad(1000);
    for (int i = 0; i < 1000; ++i)
        t.bulkSetText(t.bulkNewRow(), 0, QStringLiteral("PRATO DE TESTE NÚMERO %1 ÇÃÕ ------").arg(i, 5));
    t.endBulkLoad();
    const std::size_t narrow = t.memoryUsage();
    QVERIFY(!t.isWideText(0));
    (void)t.textViewAt(0, 0);
    QVERIFY(t.isWideText(0));
    QVERIFY2(t.memoryUsage() >= narrow + 35000, qPrintable(QString::number(t.memoryUsage()) + " vs " + QString::number(narrow)));
}

// A load reserved for the rows it counted, as the load pass reserves them: every text stays as
// stored whether the count was right or short, the column turning wide half-way or not, read back
// through one scratch from the longest text to the shortest; with the count right the text takes
// little more room than its characters.
void TestMemTableCells::reservedLoad_data()
{
    QTest::addColumn<int>("reserved");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("wideHalfWay");
    QTest::newRow("as counted") << 3000 << 3000 << false;
    QTest::newRow("more rows than counted") << 1500 << 4000 << false;
    QTest::newRow("wide half-way") << 3000 << 3000 << true;
}

void TestMemTableCells::reservedLoad()
{
    QFETCH(int, reserved);
    QFETCH(int, rows);
    QFETCH(bool, wideHalfWay);
    MemTable t;
    t.setFields({FieldDef::text("A", 0), FieldDef::integer("N")});
    t.createDataSet();
    t.beginBulkLoad(reserved);
    t.endBulkLoad();
    const std::size_t empty = t.memoryUsage();
    QStringList texts;
    qsizetype chars = 0;
    for (int i = 0; i < rows; ++i) {
        // Longer towards the end, so that the first rows' average falls short of the last ones'.
        QString text(1 + i % 7 + i / 500, QChar(u'a' + i % 26));
        if (wideHalfWay && i == rows / 2)
            text += QChar(0x20AC);
        texts << text;
        chars += text.size();
        t.append();
        t.setText(0, text);
        t.setInteger(1, i);
        t.post();
    }
    QCOMPARE(t.isWideText(0), wideHalfWay);
    QString scratch;
    for (int i = rows - 1; i >= 0; --i)
        QCOMPARE(t.textViewAt(i, 0, scratch).toString(), texts[i]);
    if (reserved == rows && !wideHalfWay)
        QVERIFY2(t.memoryUsage() - empty < std::size_t(chars) * 5 / 4,
                 qPrintable(QString::number(t.memoryUsage() - empty) + " bytes for " + QString::number(chars)));
}

// A cell that is not there, or a write outside an edit, fails with the table's name in the message
// and leaves the table as it was, whichever accessor met it.
void TestMemTableCells::badCellAccess_data()
{
    QTest::addColumn<int>("access");   // 0 textAnyViewAt, 1 textViewAt, 2 textAt, 3 setText (browse)
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("words"); // in the message
    QTest::newRow("view, column -1") << 0 << 0 << -1 << "coluna -1 inexistente";
    QTest::newRow("view, column past the last") << 0 << 0 << 2 << "coluna 2 inexistente";
    QTest::newRow("view, row past the last") << 0 << 3 << 0 << "linha 3 inexistente";
    QTest::newRow("UTF-16 view, row -1") << 1 << -1 << 0 << "linha -1 inexistente";
    QTest::newRow("text, column past the last") << 2 << 0 << 5 << "coluna 5 inexistente";
    QTest::newRow("write in browse state") << 3 << 0 << 0 << "não está em edição";
}

void TestMemTableCells::badCellAccess()
{
    QFETCH(int, access);
    QFETCH(int, row);
    QFETCH(int, col);
    QFETCH(QString, words);
    MemTable t(QStringLiteral("PRATO"));
    t.setFields({FieldDef::text("A", 0), FieldDef::integer("N")});
    t.createDataSet();
    t.beginBulkLoad();
    for (int i = 0; i < 3; ++i)
        t.bulkSetText(t.bulkNewRow(), 0, QStringLiteral("R%1").arg(i));
    t.endBulkLoad();
    QString message;
    try {
        QString scratch;
        switch (access) {
        case 0: (void)t.textAnyViewAt(row, col); break;
        case 1: (void)t.textViewAt(row, col, scratch); break;
        case 2: (void)t.textAt(row, col); break;
        default: t.setText(col, u"x"); break;
        }
    } catch (const std::exception &e) {
        message = QString::fromUtf8(e.what());
    }
    QVERIFY2(message.contains(u"PRATO") && message.contains(words), qPrintable(message));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(t.textAt(i, 0), QStringLiteral("R%1").arg(i));
    QCOMPARE(t.state(), TableState::Browse);
}

QTEST_GUILESS_MAIN(TestMemTableCells)
#include "tst_memtablecells.moc"
