// The in-memory table: row events and their order, insert position, cancel, change log, value
// conversion and lookup. Scenarios are written as small scripts so that one table covers many.
#include "memtable.h"

#include <QTest>

#include <stdexcept>

namespace {

struct Abandon : std::runtime_error {
    Abandon() : std::runtime_error("abandoned") {}
};

// A table CODE t4, NAME t10, QTY num with rows "a".."" given by their codes.
void makeTable(MemTable &t, const QStringList &codes)
{
    t.setFields({FieldDef::text("CODE", 4), FieldDef::text("NAME", 10), FieldDef::number("QTY")});
    t.createDataSet();
    for (const QString &c : codes) {
        t.append();
        t.setText(0, c);
        t.post();
    }
    t.mergeChangeLog();
    if (!codes.isEmpty())
        t.first();
}

QString codes(const MemTable &t)
{
    QStringList out;
    for (int r = 0; r < t.rowCount(); ++r)
        out << t.textAt(r, 0);
    return out.join(u',');
}

void recordEvents(MemTable &t, QStringList &log)
{
    auto rec = [&log](const char *name) { return [&log, name](MemTable &) { log << QString::fromLatin1(name); }; };
    auto &e = t.events;
    e.beforeInsert = rec("beforeInsert");
    e.afterInsert = rec("afterInsert");
    e.onNewRecord = rec("onNewRecord");
    e.beforeEdit = rec("beforeEdit");
    e.afterEdit = rec("afterEdit");
    e.beforePost = rec("beforePost");
    e.afterPost = rec("afterPost");
    e.beforeCancel = rec("beforeCancel");
    e.afterCancel = rec("afterCancel");
    e.beforeDelete = rec("beforeDelete");
    e.afterDelete = rec("afterDelete");
    e.afterScroll = rec("afterScroll");
    e.afterOpen = rec("afterOpen");
    e.beforeClose = rec("beforeClose");
    e.afterClose = rec("afterClose");
    // The state goes to observers, as the table's data source takes it.
    struct StateLog final : MemTableObserver {
        QStringList *log = nullptr;
        void stateChanged(MemTable &) override { *log << QStringLiteral("stateChange"); }
    };
    static std::vector<std::unique_ptr<StateLog>> observers; // one per recorded table, for the test's life
    observers.push_back(std::make_unique<StateLog>());
    observers.back()->log = &log;
    t.addObserver(observers.back().get());
}

// Runs "op op op": ins, app, edit, post, cancel, del, next, prior, first, last, mN (moveTo N),
// empty, close, open, merge, undo (cancelUpdates), =X (CODE := X), qN (QTY := N).
void run(MemTable &t, const QString &script)
{
    for (const QString &op : script.split(u' ', Qt::SkipEmptyParts)) {
        if (op == u"ins") t.insert();
        else if (op == u"app") t.append();
        else if (op == u"edit") t.edit();
        else if (op == u"post") t.post();
        else if (op == u"cancel") t.cancel();
        else if (op == u"del") t.deleteRow();
        else if (op == u"next") t.next();
        else if (op == u"prior") t.prior();
        else if (op == u"first") t.first();
        else if (op == u"last") t.last();
        else if (op == u"empty") t.emptyTable();
        else if (op == u"close") t.close();
        else if (op == u"open") t.open();
        else if (op == u"merge") t.mergeChangeLog();
        else if (op == u"undo") t.cancelUpdates();
        else if (op.startsWith(u'm')) t.moveTo(op.mid(1).toInt());
        else if (op.startsWith(u'=')) t.setText(0, op.mid(1));
        else if (op.startsWith(u'q')) t.setNumber(2, op.mid(1).toDouble());
        else QFAIL(qPrintable(QStringLiteral("unknown op ") + op));
    }
}

QString stateName(TableState s)
{
    switch (s) {
    case TableState::Inactive: return QStringLiteral("inactive");
    case TableState::Browse: return QStringLiteral("browse");
    case TableState::Edit: return QStringLiteral("edit");
    case TableState::Insert: return QStringLiteral("insert");
    }
    return {};
}

QString changeName(RowChange c)
{
    switch (c) {
    case RowChange::None: return QStringLiteral("-");
    case RowChange::Inserted: return QStringLiteral("I");
    case RowChange::Modified: return QStringLiteral("M");
    case RowChange::Deleted: return QStringLiteral("D");
    }
    return {};
}

} // namespace

class TestMemTable : public QObject {
    Q_OBJECT
private slots:
    void events_data();
    void events();
    void abandonedBeforeEvent_data();
    void abandonedBeforeEvent();
    void throwingBeforePostKeepsTheEdit();
    void newRecordCancelOrAbandon();
    void insertAtTheFrontManyTimes();
    void changeLog_data();
    void changeLog();
    void logOffKeepsNothing();
    void bulkRowsAreSavedState();
    void manyMergesKeepTheRows();
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

void TestMemTable::events_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("expectedEvents");
    QTest::addColumn<QString>("expectedRows");
    QTest::addColumn<int>("expectedCurrent");
    QTest::addColumn<QString>("expectedState");

    const QStringList abc{"a", "b", "c"};
    QTest::newRow("append on empty")
        << QStringList() << "app"
        << QStringList{"beforeInsert", "stateChange", "onNewRecord", "afterInsert", "afterScroll"} << "" << 0 << "insert";
    QTest::newRow("insert goes ahead of current")
        << abc << "m1 ins =x"
        << QStringList{"afterScroll", "beforeInsert", "stateChange", "onNewRecord", "afterInsert", "afterScroll"}
        << "a,x,b,c" << 1 << "insert";
    QTest::newRow("append goes at the end") << abc << "app =x post"
        << QStringList{"beforeInsert", "stateChange", "onNewRecord", "afterInsert", "afterScroll",
                       "beforePost", "stateChange", "afterPost"}
        << "a,b,c,x" << 3 << "browse";
    QTest::newRow("insert posts a pending edit first") << abc << "edit =z ins"
        << QStringList{"beforeEdit", "stateChange", "afterEdit", "beforePost", "stateChange", "afterPost",
                       "beforeInsert", "stateChange", "onNewRecord", "afterInsert", "afterScroll"}
        << ",z,b,c" << 0 << "insert";
    QTest::newRow("edit in edit is a no-op") << abc << "edit edit"
        << QStringList{"beforeEdit", "stateChange", "afterEdit"} << "a,b,c" << 0 << "edit";
    QTest::newRow("edit of an empty table inserts") << QStringList() << "edit"
        << QStringList{"beforeInsert", "stateChange", "onNewRecord", "afterInsert", "afterScroll"} << "" << 0 << "insert";
    QTest::newRow("cancel insert: the follower becomes current") << abc << "m1 ins =x cancel"
        << QStringList{"afterScroll", "beforeInsert", "stateChange", "onNewRecord", "afterInsert",
                       "afterScroll", "beforeCancel", "stateChange", "afterCancel", "afterScroll"}
        << "a,b,c" << 1 << "browse";
    QTest::newRow("cancel append: the last becomes current") << abc << "app cancel"
        << QStringList{"beforeInsert", "stateChange", "onNewRecord", "afterInsert", "afterScroll",
                       "beforeCancel", "stateChange", "afterCancel", "afterScroll"}
        << "a,b,c" << 2 << "browse";
    QTest::newRow("cancel edit restores") << abc << "m2 edit =z cancel"
        << QStringList{"afterScroll", "beforeEdit", "stateChange", "afterEdit", "beforeCancel",
                       "stateChange", "afterCancel"}
        << "a,b,c" << 2 << "browse";
    QTest::newRow("cancel in browse does nothing") << abc << "cancel post" << QStringList() << "a,b,c" << 0 << "browse";
    QTest::newRow("delete middle") << abc << "m1 del"
        << QStringList{"afterScroll", "beforeDelete", "afterDelete", "afterScroll"} << "a,c" << 1 << "browse";
    QTest::newRow("delete last") << abc << "last del"
        << QStringList{"afterScroll", "beforeDelete", "afterDelete", "afterScroll"} << "a,b" << 1 << "browse";
    QTest::newRow("delete only row") << QStringList{"a"} << "del"
        << QStringList{"beforeDelete", "afterDelete", "afterScroll"} << "" << -1 << "browse";
    QTest::newRow("delete in insert cancels the insert") << abc << "ins del"
        << QStringList{"beforeInsert", "stateChange", "onNewRecord", "afterInsert", "afterScroll",
                       "beforeCancel", "stateChange", "afterCancel", "afterScroll"}
        << "a,b,c" << 0 << "browse";
    QTest::newRow("delete in edit drops the edit") << abc << "edit =z del"
        << QStringList{"beforeEdit", "stateChange", "afterEdit", "beforeDelete", "stateChange",
                       "afterDelete", "afterScroll"}
        << "b,c" << 0 << "browse";
    QTest::newRow("move posts a pending edit") << abc << "edit =z next"
        << QStringList{"beforeEdit", "stateChange", "afterEdit", "beforePost", "stateChange", "afterPost",
                       "afterScroll"}
        << "z,b,c" << 1 << "browse";
    QTest::newRow("move to the same row: no scroll") << abc << "m0 first prior" << QStringList() << "a,b,c" << 0 << "browse";
    QTest::newRow("next at the end: no scroll") << abc << "last next"
        << QStringList{"afterScroll"} << "a,b,c" << 2 << "browse";
    QTest::newRow("empty fires no row events") << abc << "m1 empty" << QStringList{"afterScroll"} << "" << -1 << "browse";
    QTest::newRow("empty drops a pending insert") << abc << "ins empty"
        << QStringList{"beforeInsert", "stateChange", "onNewRecord", "afterInsert", "afterScroll", "stateChange"}
        << "" << -1 << "browse";
    QTest::newRow("close") << abc << "close"
        << QStringList{"beforeClose", "stateChange", "afterClose"} << "" << -1 << "inactive";
    QTest::newRow("close then open") << abc << "close open"
        << QStringList{"beforeClose", "stateChange", "afterClose", "stateChange", "afterOpen", "afterScroll"} << "" << -1 << "browse";
}

void TestMemTable::events()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, script);
    QFETCH(QStringList, expectedEvents);
    MemTable t(QStringLiteral("T"));
    makeTable(t, rows);
    QStringList log;
    recordEvents(t, log);
    run(t, script);
    QCOMPARE(log, expectedEvents);
    QTEST(codes(t), "expectedRows");
    QTEST(t.currentRow(), "expectedCurrent");
    QTEST(stateName(t.state()), "expectedState");
}

void TestMemTable::abandonedBeforeEvent_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expectedState");
    QTest::newRow("beforeInsert") << "beforeInsert" << "ins" << "browse";
    QTest::newRow("beforeEdit") << "beforeEdit" << "edit" << "browse";
    QTest::newRow("beforeDelete") << "beforeDelete" << "del" << "browse";
    QTest::newRow("beforeCancel") << "beforeCancel" << "edit =z cancel" << "edit";
    QTest::newRow("beforeClose") << "beforeClose" << "close" << "browse";
    QTest::newRow("beforePost via a move") << "beforePost" << "edit =z next" << "edit";
}

void TestMemTable::abandonedBeforeEvent()
{
    QFETCH(QString, event);
    QFETCH(QString, script);
    MemTable t;
    makeTable(t, {"a", "b"});
    const auto thrower = [](MemTable &) { throw Abandon(); };
    if (event == u"beforeInsert") t.events.beforeInsert = thrower;
    if (event == u"beforeEdit") t.events.beforeEdit = thrower;
    if (event == u"beforeDelete") t.events.beforeDelete = thrower;
    if (event == u"beforeCancel") t.events.beforeCancel = thrower;
    if (event == u"beforeClose") t.events.beforeClose = thrower;
    if (event == u"beforePost") t.events.beforePost = thrower;
    QVERIFY_THROWS_EXCEPTION(Abandon, run(t, script));
    QTEST(stateName(t.state()), "expectedState");
    QCOMPARE(t.rowCount(), 2);
    QCOMPARE(t.currentRow(), 0);
    QCOMPARE(t.changeCount(), 0);
}

void TestMemTable::throwingBeforePostKeepsTheEdit()
{
    MemTable t;
    makeTable(t, {"a", "b"});
    bool refuse = true;
    t.events.beforePost = [&](MemTable &) {
        if (refuse)
            throw Abandon();
    };
    t.moveTo(1);
    t.edit();
    t.setText(0, u"zz");
    QVERIFY_THROWS_EXCEPTION(Abandon, t.post());
    QCOMPARE(t.state(), TableState::Edit);
    QCOMPARE(t.text(0), QStringLiteral("zz"));
    QVERIFY_THROWS_EXCEPTION(Abandon, t.first()); // a move cannot leave the row either
    QCOMPARE(t.currentRow(), 1);
    refuse = false;
    t.post();
    QCOMPARE(codes(t), QStringLiteral("a,zz"));
    QCOMPARE(t.changeCount(), 1);
}

void TestMemTable::newRecordCancelOrAbandon()
{
    MemTable t;
    makeTable(t, {"a", "b"});
    QStringList log;
    recordEvents(t, log);
    t.events.onNewRecord = [](MemTable &m) { m.cancel(); };
    t.moveTo(1);
    log.clear();
    t.insert();
    QVERIFY(!log.contains(QStringLiteral("afterInsert")));
    QCOMPARE(codes(t), QStringLiteral("a,b"));
    QCOMPARE(t.currentRow(), 1);
    QCOMPARE(t.state(), TableState::Browse);

    t.events.onNewRecord = [](MemTable &) { throw Abandon(); };
    QVERIFY_THROWS_EXCEPTION(Abandon, t.insert());
    QCOMPARE(codes(t), QStringLiteral("a,b"));
    QCOMPARE(t.currentRow(), 1);
    QCOMPARE(t.state(), TableState::Browse);
    QCOMPARE(t.changeCount(), 0);
}

// The load pass inserts every row ahead of the one it posted last: the table ends up in reverse
// order, and the insert must not cost a move of every row.
void TestMemTable::insertAtTheFrontManyTimes()
{
    MemTable t;
    makeTable(t, {});
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        t.insert();
        t.setText(1, QString::number(i));
        t.post();
    }
    QCOMPARE(t.rowCount(), n);
    QCOMPARE(t.textAt(0, 1), QString::number(n - 1));
    QCOMPARE(t.textAt(n - 1, 1), QStringLiteral("0"));
    t.moveTo(n / 2);
    t.insert();
    t.setText(1, u"mid");
    t.post();
    QCOMPARE(t.textAt(n / 2, 1), QStringLiteral("mid"));
    QCOMPARE(t.textAt(n / 2 + 1, 1), QString::number(n / 2 - 1));
    QCOMPARE(t.changeCount(), n + 1);
}

void TestMemTable::changeLog_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("expectedCount");
    QTest::addColumn<QString>("expectedKinds");   // per visible row
    QTest::addColumn<QString>("expectedDelta");   // kind:value/original per delta row
    QTest::addColumn<QString>("rowsAfterUndo");

    QTest::newRow("nothing") << "" << 0 << "-,-,-" << "" << "a,b,c";
    QTest::newRow("modify") << "m1 edit =B post" << 1 << "-,M,-" << "M:B/b" << "a,b,c";
    QTest::newRow("modify twice is one change, original kept") << "m1 edit =B post edit =C post" << 1 << "-,M,-" << "M:C/b" << "a,b,c";
    QTest::newRow("edit without a change logs nothing") << "m1 edit post" << 0 << "-,-,-" << "" << "a,b,c";
    QTest::newRow("cancelled edit logs nothing") << "m1 edit =B cancel" << 0 << "-,-,-" << "" << "a,b,c";
    QTest::newRow("insert then modify stays inserted") << "app =x post edit =y post" << 1 << "-,-,-,I" << "I:y/" << "a,b,c";
    QTest::newRow("insert then delete is gone") << "app =x post del" << 0 << "-,-,-" << "" << "a,b,c";
    QTest::newRow("delete keeps the saved original") << "m1 edit =B post del" << 1 << "-,-" << "D:/b" << "a,b,c";
    QTest::newRow("delete first, insert ahead") << "del ins =x post" << 2 << "I,-,-" << "I:x/,D:/a" << "a,b,c";
    QTest::newRow("merge then change") << "m1 edit =B post merge m2 del" << 1 << "-,-" << "D:/c" << "a,B,c";
    QTest::newRow("merge clears") << "del app =q post merge" << 0 << "-,-,-" << "" << "b,c,q";
    QTest::newRow("pending insert not logged yet") << "app =x" << 0 << "-,-,-,-" << "" << "a,b,c";
}

void TestMemTable::changeLog()
{
    QFETCH(QString, script);
    MemTable t;
    makeTable(t, {"a", "b", "c"});
    run(t, script);
    QTEST(t.changeCount(), "expectedCount");
    QStringList kinds;
    for (int r = 0; r < t.rowCount(); ++r)
        kinds << changeName(t.rowChange(r));
    QTEST(kinds.join(u','), "expectedKinds");
    QStringList delta;
    for (const DeltaRow &d : t.delta())
        delta << changeName(d.change) + u':' + (d.values.isEmpty() ? QString() : d.values[0].toString()) + u'/'
                 + (d.original.isEmpty() ? QString() : d.original[0].toString());
    QTEST(delta.join(u','), "expectedDelta");
    QCOMPARE(int(t.delta().size()), t.changeCount());
    t.cancelUpdates();
    QTEST(codes(t), "rowsAfterUndo");
    QCOMPARE(t.changeCount(), 0);
    QCOMPARE(t.state(), TableState::Browse);
}

void TestMemTable::logOffKeepsNothing()
{
    MemTable t;
    makeTable(t, {"a", "b"});
    t.setLogChanges(false);
    run(t, "edit =A post app =c post m1 del");
    QCOMPARE(t.changeCount(), 0);
    QVERIFY(t.delta().empty());
    t.cancelUpdates();
    QCOMPARE(codes(t), QStringLiteral("A,c"));

    // Changes made while the log is off survive an undo of the logged ones around them.
    t.setLogChanges(true);
    run(t, "first del");
    t.setLogChanges(false);
    run(t, "app =u post");
    QCOMPARE(t.changeCount(), 1);
    t.cancelUpdates();
    QCOMPARE(codes(t), QStringLiteral("A,c,u"));
}

void TestMemTable::bulkRowsAreSavedState()
{
    MemTable t;
    makeTable(t, {"a"});
    t.beginBulkLoad(2);
    t.bulkAppendRow({QStringLiteral("b"), QStringLiteral("bee"), 2.5});
    t.bulkAppendRow({QVariant(), QVariant(), QVariant()});
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, t.bulkAppendRow({QStringLiteral("c")}));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, t.bulkAppendRow({QStringLiteral("c"), QString(), QStringLiteral("x")}));
    t.endBulkLoad();
    QCOMPARE(t.rowCount(), 3);
    QCOMPARE(t.changeCount(), 0);
    QCOMPARE(t.numberAt(1, 2), 2.5);
    QVERIFY(t.isNullAt(2, 0));
    QVERIFY_THROWS_EXCEPTION(std::logic_error, t.bulkNewRow());
}

// A table edited and merged over and over sheds its superseded rows and texts now and then; the
// rows, their order and the current row must come through that untouched.
void TestMemTable::manyMergesKeepTheRows()
{
    MemTable t;
    makeTable(t, {"a", "b", "c"});
    t.moveTo(1);
    const std::size_t start = t.memoryUsage();
    for (int i = 0; i < 20000; ++i) {
        t.edit();
        t.setText(1, QStringLiteral("n%1").arg(i));
        t.post();
        t.mergeChangeLog();
    }
    QCOMPARE(codes(t), QStringLiteral("a,b,c"));
    QCOMPARE(t.currentRow(), 1);
    QCOMPARE(t.text(1), QStringLiteral("n19999"));
    QVERIFY(t.isNullAt(0, 1));
    QVERIFY2(t.memoryUsage() < start + 256 * 1024, qPrintable(QString::number(t.memoryUsage())));
    t.edit();
    t.setText(0, u"B");
    t.post();
    t.cancelUpdates();
    QCOMPARE(codes(t), QStringLiteral("a,b,c"));
}

void TestMemTable::conversions_data()
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

void TestMemTable::conversions()
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

void TestMemTable::lookup_data()
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

void TestMemTable::lookup()
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

void TestMemTable::displayText()
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

void TestMemTable::requiredField()
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
void TestMemTable::textWidths_data()
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

void TestMemTable::textWidths()
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

void TestMemTable::narrowTextTakesLessMemory()
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
void TestMemTable::reservedLoad_data()
{
    QTest::addColumn<int>("reserved");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("wideHalfWay");
    QTest::newRow("as counted") << 3000 << 3000 << false;
    QTest::newRow("more rows than counted") << 1500 << 4000 << false;
    QTest::newRow("wide half-way") << 3000 << 3000 << true;
}

void TestMemTable::reservedLoad()
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
void TestMemTable::badCellAccess_data()
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

void TestMemTable::badCellAccess()
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

QTEST_GUILESS_MAIN(TestMemTable)
#include "tst_memtable.moc"
