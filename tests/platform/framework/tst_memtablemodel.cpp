// The item model over an in-memory table: it follows every change of the table (the model tester
// checks each signal against the model's answers) and edits through the table's own states.
#include "datapacket.h"
#include "framework.h"
#include "memtablemodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QScopeGuard>
#include <QTest>

namespace {

void prato(MemTable &t)
{
    FieldDef ok = FieldDef::text("IDERRO", 10, QStringLiteral("Ok"));
    FieldDef code = FieldDef::text("CDPRATO", 10, QStringLiteral("Código"));
    code.editMask = QStringLiteral("999.999");
    FieldDef tree = FieldDef::text("CDFILAUXPRAT", 4);
    tree.readOnly = true;
    t.setFields({ok, code, FieldDef::text("NMPRATO", 40, QStringLiteral("Nome")), tree, FieldDef::number("VRARREDTRANS")});
    t.createDataSet();
    t.setDisplayHook(3, [](const MemTable &m, int row, int col) {
        const QString v = m.textAt(row, col);
        return v == u"P" ? QStringLiteral("Padrão") : v.isEmpty() ? QString() : QStringLiteral("Local");
    });
}

void addDish(MemTable &t, const QString &code, const QString &tree = QStringLiteral("P"))
{
    t.insert();
    t.setText(0, u"0000000000");
    t.setText(1, code);
    t.setText(3, tree);
    t.post();
}

} // namespace

class TestMemTableModel : public QObject {
    Q_OBJECT
private slots:
    void followsTheTable_data();
    void followsTheTable();
    void roles();
    void visibleFields();
    void setDataEditsThroughTheTable();
    void outlivesItsTable();
};

void TestMemTableModel::followsTheTable_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("expectedRows");
    QTest::newRow("insert, append, post") << "ins app post" << 5;
    QTest::newRow("cancel insert") << "ins cancel app cancel" << 3;
    QTest::newRow("delete all") << "del del del" << 0;
    QTest::newRow("edit and cancel") << "edit set cancel" << 3;
    QTest::newRow("empty then refill") << "empty ins post" << 1;
    QTest::newRow("close, reopen") << "close open ins" << 1;
    QTest::newRow("load a packet over it") << "load" << 2;
    QTest::newRow("failed load") << "badload" << 0;
    QTest::newRow("undo") << "del ins post undo" << 3;
    QTest::newRow("new columns") << "close fields" << 0;
    QTest::newRow("new row cancelled by its event") << "refuse ins" << 3;
    // Held: the views hear of the rows at each flush (the tester checks every signal).
    QTest::newRow("held inserts in one place") << "hold ins set post ins post flush ins post release" << 6;
    QTest::newRow("held inserts in two places") << "hold app post top ins post app post release" << 6;
    QTest::newRow("held insert, then a delete") << "hold ins post top del app post flush del release" << 3;
    QTest::newRow("held over a packet loaded") << "hold ins post load ins post release" << 3;
}

void TestMemTableModel::followsTheTable()
{
    QFETCH(QString, script);
    MemTable t(QStringLiteral("PRATO"));
    prato(t);
    addDish(t, QStringLiteral("1"));
    addDish(t, QStringLiteral("2"));
    addDish(t, QStringLiteral("3"));
    t.mergeChangeLog();

    MemTable other;
    prato(other);
    addDish(other, QStringLiteral("7"));
    addDish(other, QStringLiteral("8"));
    const QByteArray packet = DataPacket::save(other);

    MemTableModel model(&t);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy moved(&model, qOverload<int>(&MemTableModel::currentRowChanged));
    bool held = false;
    for (const QString &op : script.split(u' ')) {
        if (op == u"ins") t.insert();
        else if (op == u"app") t.append();
        else if (op == u"post") t.post();
        else if (op == u"cancel") t.cancel();
        else if (op == u"del") t.deleteRow();
        else if (op == u"edit") t.edit();
        else if (op == u"set") t.setText(2, u"Arroz");
        else if (op == u"empty") t.emptyTable();
        else if (op == u"close") t.close();
        else if (op == u"open") t.open();
        else if (op == u"undo") t.cancelUpdates();
        else if (op == u"load") QVERIFY(DataPacket::load(t, packet).ok());
        else if (op == u"badload") QVERIFY(!DataPacket::load(t, packet.left(packet.size() - 3)).ok());
        else if (op == u"fields") t.setFields({FieldDef::text("X", 1)});
        else if (op == u"refuse") t.events.onNewRecord = [](MemTable &m) { m.cancel(); };
        else if (op == u"top") t.moveTo(0);
        else if (op == u"hold") model.hold(held = true);
        else if (op == u"release") model.hold(held = false);
        else if (op == u"flush") model.flush();
        if (held && op != u"flush")
            continue;
        QCOMPARE(model.rowCount(), t.rowCount());
        QCOMPARE(model.columnCount(), t.fieldCount());
        if (!moved.isEmpty())
            QCOMPARE(moved.last().at(0).toInt(), t.currentRow());
    }
    QTEST(model.rowCount(), "expectedRows");
}

void TestMemTableModel::roles()
{
    MemTable t;
    prato(t);
    addDish(t, QStringLiteral("000123"));
    addDish(t, QStringLiteral("000456"), QStringLiteral("0001"));
    t.edit();
    t.setNumber(4, 2.5);
    t.post();
    MemTableModel model(&t);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Código"));
    QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("CDFILAUXPRAT")); // no label
    QCOMPARE(model.index(0, 3).data().toString(), QStringLiteral("Local"));
    QCOMPARE(model.index(1, 3).data().toString(), QStringLiteral("Padrão"));
    QCOMPARE(model.index(1, 3).data(Qt::EditRole).toString(), QStringLiteral("P"));
    QCOMPARE(model.index(0, 4).data(MemTableModel::RawValueRole), QVariant(2.5));
    QVERIFY(!model.index(1, 4).data(MemTableModel::RawValueRole).isValid());
    QCOMPARE(model.index(0, 1).data(MemTableModel::EditMaskRole).toString(), QStringLiteral("999.999"));
    QCOMPARE(model.index(0, 2).data(MemTableModel::FieldNameRole).toString(), QStringLiteral("NMPRATO"));
    QVERIFY(model.index(0, 0).data(MemTableModel::IsCurrentRowRole).toBool());
    QVERIFY(!model.flags(model.index(0, 3)).testFlag(Qt::ItemIsEditable));
    QVERIFY(model.flags(model.index(0, 2)).testFlag(Qt::ItemIsEditable));

    QSignalSpy current(&model, qOverload<int>(&MemTableModel::currentRowChanged));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    t.next();
    QCOMPARE(current.count(), 1);
    QCOMPARE(current.at(0).at(0).toInt(), 1);
    QVERIFY(changed.count() >= 2); // old and new current rows repaint
    QVERIFY(model.index(1, 0).data(MemTableModel::IsCurrentRowRole).toBool());
}

void TestMemTableModel::visibleFields()
{
    MemTable t;
    prato(t);
    addDish(t, QStringLiteral("1"));
    MemTableModel model(&t);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setVisibleFields({QStringLiteral("iderro"), QStringLiteral("NOPE"), QStringLiteral("nmprato")});
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.fieldOfColumn(1), 2);
    QCOMPARE(model.columnOfField(u"NMPrato"), 1);
    QCOMPARE(model.columnOfField(u"CDPRATO"), -1);
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Nome"));
    // New columns of the table keep the chosen names.
    t.close();
    t.setFields({FieldDef::text("NMPRATO", 5), FieldDef::text("IDERRO", 10)});
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.fieldOfColumn(0), 1);
}

void TestMemTableModel::setDataEditsThroughTheTable()
{
    MemTable t;
    prato(t);
    addDish(t, QStringLiteral("1"));
    addDish(t, QStringLiteral("2"));
    t.mergeChangeLog();
    MemTableModel model(&t);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy state(&model, &MemTableModel::tableStateChanged);

    QVERIFY(model.setData(model.index(1, 2), QStringLiteral("Um nome longo demais para quarenta caracteres, cortado")));
    QCOMPARE(t.currentRow(), 1);
    QCOMPARE(t.state(), TableState::Edit); // no post: the view posts when it leaves the row
    QCOMPARE(t.text(2).size(), 40);
    QCOMPARE(state.count(), 1);

    QVERIFY(!model.setData(model.index(0, 3), QStringLiteral("X"))); // read-only column
    QVERIFY(!model.setData(model.index(0, 4), QStringLiteral("abc"))); // refused value: no crash
    QCOMPARE(t.changeCount(), 1); // the move to row 0 posted row 1
    QCOMPARE(t.currentRow(), 0);
    QVERIFY(t.isNull(4));

    // A before-post that abandons keeps the table where it was; setData reports false and the
    // table's words, and shows nothing itself.
    QSignalSpy refused(&model, &MemTableModel::editRefused);
    struct CountingSink : MessageSink {
        int shown = 0;
        void showError(const QString &) override { ++shown; }
        void showInfo(const QString &) override { ++shown; }
    } sink;
    MessageSink *oldSink = setMessageSink(&sink);
    const auto restore = qScopeGuard([oldSink] { setMessageSink(oldSink); });
    t.events.beforePost = [](MemTable &) { throw std::runtime_error("Serviço destino já informado."); };
    QVERIFY(model.setData(model.index(0, 2), QStringLiteral("A")));
    QVERIFY(!model.setData(model.index(1, 2), QStringLiteral("B")));
    QCOMPARE(refused.count(), 1);
    QCOMPARE(refused.at(0).at(0).toString(), QStringLiteral("Serviço destino já informado."));
    QCOMPARE(sink.shown, 0);
    QCOMPARE(t.currentRow(), 0);
    QCOMPARE(t.state(), TableState::Edit);
    QCOMPARE(model.index(0, 2).data().toString(), QStringLiteral("A"));

    // MensErro in a row event: its message goes the same way, once; abandoned without one, nothing.
    t.events.beforePost = [](MemTable &) { MensErro(QStringLiteral("Serviço origem deve ser informado.")); };
    QVERIFY(!model.setData(model.index(1, 2), QStringLiteral("B")));
    t.events.beforePost = [](MemTable &) { MensErro(QStringLiteral("cancelado"), false); };
    QVERIFY(!model.setData(model.index(1, 2), QStringLiteral("B")));
    QCOMPARE(refused.count(), 2);
    QCOMPARE(refused.at(1).at(0).toString(), QStringLiteral("Serviço origem deve ser informado."));
    QCOMPARE(sink.shown, 0);
}

// Widgets are deleted after their owner's members: a model left behind by its table is empty and
// safe, and its destructor does not touch the table that is gone.
void TestMemTableModel::outlivesItsTable()
{
    auto t = std::make_unique<MemTable>();
    prato(*t);
    addDish(*t, QStringLiteral("1"));
    MemTableModel model(t.get());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 1);
    t.reset();
    QCOMPARE(model.table(), nullptr);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 0);
    QVERIFY(!model.setData(model.index(0, 0), QStringLiteral("x")));
}

QTEST_GUILESS_MAIN(TestMemTableModel)
#include "tst_memtablemodel.moc"
