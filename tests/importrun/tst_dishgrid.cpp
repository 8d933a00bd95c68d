// The dish grid as it comes out on screen (the pictures over the error flags, the columns, the
// texts) and the dish table's events behind it.
#include "datapacket.h"
#include "dishfixture.h"
#include "dishgrid.h"
#include "dishpictures.h"
#include "dishtable.h"
#include "memtablemodel.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QTest>

namespace {

const QColor kLime(0, 255, 0), kRed(255, 0, 0), kGreen(0, 128, 0);

// The dish table with its events and the grid over it, shown, with three dishes.
struct GridFixture {
    MemTable table{QStringLiteral("PRATO")};
    MemTableModel model{&table};
    TDishGrid grid;
    bool errorsEnabled = false;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::QtTest};

    GridFixture(const QString &flags, int rowHeight = 18)
    {
        DishTable::install(table, [this](bool on) { errorsEnabled = on; }, [] { return QStringLiteral("999.999"); });
        openDishTable(table);
        grid.setModel(&model);
        grid.setDataSet(&table);
        grid.verticalHeader()->setDefaultSectionSize(rowHeight);
        grid.resize(520, 200);
        grid.show();
        addDish(table, {"P", "100001", "ARROZ"});
        addDish(table, {"P", "100002", "FEIJÃO", flags});
        addDish(table, {"", "12", "SALADA"});
    }
    QRect cell(int row, QStringView field) const
    {
        for (int c = 0; c < model.columnCount(); ++c)
            if (TDishGrid::fieldOfColumn(&model, c) == field)
                return grid.visualRect(model.index(row, c));
        return {};
    }
    QImage render()
    {
        QCoreApplication::processEvents();
        return grid.viewport()->grab().toImage();
    }
};

int countOf(const QImage &img, const QRect &r, const QColor &colour)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += img.pixelColor(x, y) == colour;
    return n;
}

struct ProbeDelegate : DishGridDelegate {
    using DishGridDelegate::initStyleOption;
};

} // namespace

class TestDishGrid : public QObject {
    Q_OBJECT
private slots:
    void pictures();
    void pictureInCell_data();
    void pictureInCell();
    void pictureCutAtRowHeight();
    void columnsAndTexts();
    void tableEvents();
};

void TestDishGrid::pictures()
{
    const struct { QImage img; QSize size; QPoint olive; } all[] = {
        {DishPictures::certo(), {20, 20}, {0, 0}}, {DishPictures::erro(), {13, 17}, {12, 0}},
        {DishPictures::check(), {16, 16}, {0, 0}}, {DishPictures::uncheck(), {16, 16}, {0, 0}}};
    for (const auto &p : all) {
        QCOMPARE(p.img.size(), p.size);
        QCOMPARE(p.img.format(), QImage::Format_Indexed8);
        QCOMPARE(p.img.colorCount(), 16);
        QCOMPARE(p.img.pixelColor(p.olive), DishPictures::kOlive);
    }
}

void TestDishGrid::pictureInCell_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<int>("pictureWidth");
    QTest::addColumn<QPoint>("olive");  // an olive pixel of the picture
    QTest::addColumn<QPoint>("ink");    // and one of its own colour
    QTest::addColumn<QColor>("inkColour");
    QTest::newRow("no errors") << "0000000000" << false << 20 << QPoint(0, 0) << QPoint(2, 10) << kLime;
    QTest::newRow("no errors, selected") << "0000000000" << true << 20 << QPoint(0, 0) << QPoint(2, 10) << kLime;
    QTest::newRow("errors") << "0100000000" << false << 13 << QPoint(12, 0) << QPoint(2, 6) << kRed;
    QTest::newRow("errors, selected") << "1011000000" << true << 13 << QPoint(12, 0) << QPoint(2, 6) << kRed;
    QTest::newRow("only position 10") << "0000000001" << false << 13 << QPoint(12, 0) << QPoint(2, 6) << kRed;
}

void TestDishGrid::pictureInCell()
{
    QFETCH(QString, flags);
    QFETCH(bool, selected);
    QFETCH(int, pictureWidth);
    QFETCH(QPoint, olive);
    QFETCH(QPoint, ink);
    QFETCH(QColor, inkColour);
    GridFixture f(flags);
    f.table.moveTo(selected ? 1 : 0);
    const QImage img = f.render();
    QCOMPARE(f.grid.selectionModel()->isRowSelected(1, {}), selected);

    // The cell takes the brush the grid chose, olive pixels included, and the flags' text is gone
    // on both sides of the picture; the picture stands unscaled 4 pixels in from the left.
    const QRect cell = f.cell(1, u"IDERRO");
    const QColor brush = f.grid.palette().color(selected ? QPalette::Highlight : QPalette::ToolTipBase);
    const QPoint origin = cell.topLeft() + QPoint(4, 0);
    QCOMPARE(img.pixelColor(origin + olive), brush);
    QCOMPARE(img.pixelColor(origin + ink), inkColour);
    const QRect left(cell.left(), cell.top(), 4, cell.height());
    const QRect right(origin.x() + pictureWidth, cell.top(), cell.right() - origin.x() - pictureWidth + 1, cell.height());
    QCOMPARE(countOf(img, left, brush), left.width() * left.height());
    QCOMPARE(countOf(img, right, brush), right.width() * right.height());
    // The other columns keep their text and nothing of the pictures.
    for (QStringView field : {u"CDPRATO", u"NMPRATO", u"CDFILAUXPRAT"}) {
        const QRect other = f.cell(1, field);
        QCOMPARE(countOf(img, other, kLime) + countOf(img, other, kRed) + countOf(img, other, DishPictures::kOlive), 0);
    }
}

void TestDishGrid::pictureCutAtRowHeight()
{
    // In a row lower than the check mark its bottom rows are cut, not squeezed in, and nothing
    // runs over the bottom of the last row.
    GridFixture f(QStringLiteral("0000000000"), 14);
    const QImage img = f.render();
    const QRect cell = f.cell(2, u"IDERRO");
    QCOMPARE(cell.height(), 13);
    const QPoint origin = cell.topLeft() + QPoint(4, 0);
    QCOMPARE(img.pixelColor(origin + QPoint(4, 12)), kLime);
    QCOMPARE(img.pixelColor(origin + QPoint(6, 14)), f.grid.palette().color(QPalette::Base));
    QCOMPARE(countOf(img, QRect(cell.left(), cell.bottom() + 2, 30, 6), kGreen), 0);
}

void TestDishGrid::columnsAndTexts()
{
    GridFixture f(QStringLiteral("0000000000"));
    addDish(f.table, {"0001", "000901", "PUDIM"});
    addDish(f.table, {"  ", "100003", "BRANCOS"});
    // The packet's columns come in another order: the grid shows four, in its order, at their
    // widths when the grid is narrower than they are.
    f.grid.resize(400, 200);
    const QHeaderView *header = f.grid.horizontalHeader();
    QStringList shown;
    for (int v = 0; v < header->count(); ++v) {
        const int logical = header->logicalIndex(v);
        if (!header->isSectionHidden(logical))
            shown << QStringLiteral("%1 %2 %3").arg(TDishGrid::fieldOfColumn(&f.model, logical),
                                                    TDishGrid::columnTitle(&f.model, logical))
                         .arg(header->sectionSize(logical));
    }
    QCOMPARE(shown, QStringList({"IDERRO Ok 30", "CDPRATO Código 73", "NMPRATO Nome 309", "CDFILAUXPRAT Árvore 44"}));
    // A wider grid gives the room to the names: the columns fill it, no band left empty.
    f.grid.resize(900, 200);
    QCOMPARE(header->length(), f.grid.viewport()->width());
    QCOMPARE(header->sectionSize(f.model.columnOfField(u"CDFILAUXPRAT")), 44);

    // The tree by name; the dish code through the mask, as stored when it does not fit it.
    ProbeDelegate probe;
    const auto shownText = [&](int row, QStringView field) {
        QStyleOptionViewItem opt;
        probe.initStyleOption(&opt, f.grid.indexAt(f.cell(row, field).center()));
        return opt.text;
    };
    QCOMPARE(QStringList({shownText(0, u"CDFILAUXPRAT"), shownText(3, u"CDFILAUXPRAT"), shownText(2, u"CDFILAUXPRAT"),
                          shownText(4, u"CDFILAUXPRAT")}),
             QStringList({"Padrão", "Local", "", ""}));
    QCOMPARE(QStringList({shownText(0, u"CDPRATO"), shownText(3, u"CDPRATO"), shownText(2, u"CDPRATO")}),
             QStringList({"100.001", "000.901", "12"}));

    // A click makes its dish current; a move of the table moves the selection.
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, f.cell(1, u"NMPRATO").center());
    QCOMPARE(f.table.currentRow(), 1);
    f.table.moveTo(3);
    QTRY_VERIFY(f.grid.selectionModel()->isRowSelected(3, {}));
    QCOMPARE(f.grid.selectionModel()->selectedRows().size(), 1);
}

void TestDishGrid::tableEvents()
{
    MemTable t(QStringLiteral("PRATO"));
    bool enabled = true;
    DishTable::install(t, [&](bool on) { enabled = on; }, [] { return QStringLiteral("999.999"); });
    openDishTable(t);
    // Each new row starts without errors, so the button goes off for it even after a dish with
    // errors: right after a load it tells about the last dish loaded.
    addDish(t, {"P", "100001", "A", "0010000000"});
    t.append();
    QCOMPARE(t.text(u"IDERRO"), QStringLiteral("0000000000"));
    QVERIFY(!enabled);
    t.cancel();
    addDish(t, {"P", "100002", "B"});
    addDish(t, {"P", "100003", "C", "0000010000"});
    // From then on it follows the current dish, whatever the position of the flag.
    QList<bool> seen;
    for (int row : {0, 1, 2, 1}) {
        t.moveTo(row);
        seen << enabled;
    }
    QCOMPARE(seen, QList<bool>({true, false, true, false}));
    // Opened again from a packet: new columns, and the mask and the tree's text come back.
    QVERIFY(DataPacket::load(t, DataPacket::save(t)).ok());
    QCOMPARE(t.field(t.fieldIndex(u"CDPRATO")).editMask, QStringLiteral("999.999"));
    QCOMPARE(t.displayText(0, t.fieldIndex(u"CDFILAUXPRAT")), QStringLiteral("Padrão"));
}

QTEST_MAIN(TestDishGrid)
#include "tst_dishgrid.moc"
