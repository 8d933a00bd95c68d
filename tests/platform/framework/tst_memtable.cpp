// The in-memory table: row events and their order, insert position, cancel and the change log
// (its cells, conversions and lookups: tst_memtablecells). Scenarios are written as small scripts
// so that one table covers many.
#include "memtable.h"

#include <QTest>

#include <stdexcept>

#include "memtablescript.h"

using namespace MemTableScript;

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

QTEST_GUILESS_MAIN(TestMemTable)
#include "tst_memtable.moc"
