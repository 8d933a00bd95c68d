// The dish grid: the pictures over the error flags as they come out on screen, the columns, the
// dish table's events and the grid following the table's current row.
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

const QColor kLime(0, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);

// The dish table with its events, its model and the grid over it, shown.
struct GridFixture {
    MemTable table{QStringLiteral("PRATO")};
    MemTableModel model{&table};
    TDishGrid grid;
    bool errorsEnabled = false;
    int scrolls = 0;
    std::unique_ptr<QAbstractItemModelTester> tester;

    explicit GridFixture(int rowHeight = 18)
    {
        DishTable::install(
            table, [this](bool on) { errorsEnabled = on; ++scrolls; }, [] { return QStringLiteral("999.999"); });
        openDishTable(table);
        grid.setModel(&model);
        grid.setDataSet(&table);
        tester = std::make_unique<QAbstractItemModelTester>(grid.model(),
                                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
        grid.verticalHeader()->setDefaultSectionSize(rowHeight);
        grid.resize(520, 200);
        grid.show();
    }

    int column(const char16_t *field) const
    {
        const QAbstractItemModel *m = grid.model();
        for (int c = 0; c < m->columnCount(); ++c) {
            if (TDishGrid::fieldOfColumn(m, c) == QStringView(field))
                return c;
        }
        return -1;
    }

    QRect cell(int row, const char16_t *field) const { return grid.visualRect(grid.model()->index(row, column(field))); }

    QImage render()
    {
        QCoreApplication::processEvents();
        return grid.viewport()->grab().toImage();
    }
};

bool rectIs(const QImage &img, const QRect &r, const QColor &colour)
{
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (img.pixelColor(x, y) != colour)
                return false;
    return true;
}

bool rectHas(const QImage &img, const QRect &r, const QColor &colour)
{
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (img.pixelColor(x, y) == colour)
                return true;
    return false;
}

// Exposes the delegate's per-cell options (the text it will draw).
struct ProbeDelegate : DishGridDelegate {
    using DishGridDelegate::initStyleOption;
};

} // namespace

class TestDishGrid : public QObject {
    Q_OBJECT
private slots:
    void pictures_data();
    void pictures();
    void pictureInCell_data();
    void pictureInCell();
    void pictureCutAtRowHeight();
    void noPictureOutsideTheFlags();
    void columnsAndTexts();
    void tableEvents();
    void followsTheTable();
};

void TestDishGrid::pictures_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("olive");
    QTest::addColumn<QPoint>("ink");
    QTest::addColumn<QColor>("inkColour");
    QTest::newRow("imgCerto") << DishPictures::certo() << QSize(20, 20) << QPoint(0, 0) << QPoint(2, 10) << kLime;
    QTest::newRow("imgErro") << DishPictures::erro() << QSize(13, 17) << QPoint(12, 0) << QPoint(2, 6) << kRed;
    QTest::newRow("imgCheck") << DishPictures::check() << QSize(16, 16) << QPoint(0, 0) << QPoint(10, 4) << kBlack;
    QTest::newRow("imgUncheck") << DishPictures::uncheck() << QSize(16, 16) << QPoint(0, 0) << QPoint(10, 4) << kWhite;
}

void TestDishGrid::pictures()
{
    QFETCH(QImage, picture);
    QFETCH(QSize, size);
    QFETCH(QPoint, olive);
    QFETCH(QPoint, ink);
    QFETCH(QColor, inkColour);
    QCOMPARE(picture.size(), size);
    QCOMPARE(picture.format(), QImage::Format_Indexed8);
    QCOMPARE(picture.colorCount(), 16);
    QCOMPARE(picture.pixelColor(olive), DishPictures::kOlive);
    QCOMPARE(picture.pixelColor(ink), inkColour);
    // Masked, the olive pixels let the background through and the others do not.
    const QImage masked = DishPictures::withOliveTransparent(picture).toImage();
    QCOMPARE(qAlpha(masked.pixel(olive)), 0);
    QCOMPARE(qAlpha(masked.pixel(ink)), 255);
}

void TestDishGrid::pictureInCell_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<int>("pictureWidth");
    QTest::addColumn<QPoint>("olive");
    QTest::addColumn<QPoint>("ink");
    QTest::addColumn<QColor>("inkColour");
    const QPoint certoOlive(0, 0), certoInk(2, 10), erroOlive(12, 0), erroInk(2, 6);
    QTest::newRow("no errors") << "0000000000" << false << 20 << certoOlive << certoInk << kLime;
    QTest::newRow("no errors, selected row") << "0000000000" << true << 20 << certoOlive << certoInk << kLime;
    QTest::newRow("errors") << "0100000000" << false << 13 << erroOlive << erroInk << kRed;
    QTest::newRow("errors, selected row") << "1011000000" << true << 13 << erroOlive << erroInk << kRed;
    QTest::newRow("only a flag never shown in words") << "0000000001" << false << 13 << erroOlive << erroInk << kRed;
}

void TestDishGrid::pictureInCell()
{
    QFETCH(QString, flags);
    QFETCH(bool, selected);
    QFETCH(int, pictureWidth);
    QFETCH(QPoint, olive);
    QFETCH(QPoint, ink);
    QFETCH(QColor, inkColour);

    GridFixture f;
    addDish(f.table, {QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ"), QStringLiteral("0000000000")});
    addDish(f.table, {QStringLiteral("P"), QStringLiteral("100002"), QStringLiteral("FEIJÃO"), flags});
    addDish(f.table, {QStringLiteral("P"), QStringLiteral("100003"), QStringLiteral("SALADA"), QStringLiteral("0000000000")});
    f.table.moveTo(selected ? 1 : 2);
    const QImage img = f.render();
    QCOMPARE(f.grid.selectionModel()->isRowSelected(1, {}), selected);

    const QRect cell = f.cell(1, u"IDERRO");
    QVERIFY(cell.height() < 20);
    const QColor brush = selected ? f.grid.palette().color(QPalette::Highlight)
                                  : f.grid.palette().color(QPalette::ToolTipBase);
    const QPoint origin = cell.topLeft() + QPoint(4, 0);
    QCOMPARE(img.pixelColor(origin + olive), brush);
    QCOMPARE(img.pixelColor(origin + ink), inkColour);
    // Left of the picture and right of it the flags' text is gone under the brush.
    QVERIFY(rectIs(img, QRect(cell.left(), cell.top(), 4, cell.height()), brush));
    QVERIFY(rectIs(img, QRect(origin.x() + pictureWidth, cell.top(), cell.right() - origin.x() - pictureWidth + 1,
                              cell.height()),
                   brush));
}

void TestDishGrid::pictureCutAtRowHeight()
{
    // Rows lower than the check mark: its lower rows are cut, not squeezed in, and nothing runs
    // over the bottom of the last row.
    GridFixture f(14);
    addDish(f.table, {QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ")});
    addDish(f.table, {QStringLiteral("P"), QStringLiteral("100002"), QStringLiteral("FEIJÃO")});
    f.table.moveTo(0);
    const QImage img = f.render();
    const QRect cell = f.cell(1, u"IDERRO");
    QCOMPARE(cell.height(), 13);
    const QPoint origin = cell.topLeft() + QPoint(4, 0);
    QCOMPARE(img.pixelColor(origin + QPoint(4, 12)), kLime);   // row 12 of the picture: drawn
    QCOMPARE(img.pixelColor(origin + QPoint(2, 10)), kLime);   // unscaled: where the picture has it
    const QColor base = f.grid.palette().color(QPalette::Base);
    QCOMPARE(img.pixelColor(origin + QPoint(6, 14)), base);    // row 14 of the picture: cut
    QVERIFY(!rectHas(img, QRect(cell.left(), cell.bottom() + 2, 30, 6), kGreen));
}

void TestDishGrid::noPictureOutsideTheFlags()
{
    // Only the field named exactly IDERRO gets the picture: other columns, and a flags column
    // spelt otherwise, show their text.
    {
        GridFixture f;
        addDish(f.table, {QStringLiteral("P"), QStringLiteral("100001"), QString(), QStringLiteral("0100000000")});
        addDish(f.table, {QString(), QStringLiteral("100002"), QString()});
        const QImage img = f.render();
        for (int row = 0; row < 2; ++row) {
            for (const char16_t *field : {u"CDPRATO", u"NMPRATO", u"CDFILAUXPRAT"}) {
                const QRect cell = f.cell(row, field);
                QVERIFY(!rectHas(img, cell, kLime) && !rectHas(img, cell, kRed));
                QVERIFY(!rectHas(img, cell, DishPictures::kOlive));
            }
        }
    }
    MemTable table(QStringLiteral("PRATO"));
    table.setFields({FieldDef::text(QStringLiteral("IdErro"), 10), FieldDef::text(QStringLiteral("CDPRATO"), 10),
                     FieldDef::text(QStringLiteral("NMPRATO"), 40), FieldDef::text(QStringLiteral("CDFILAUXPRAT"), 4)});
    table.createDataSet();
    table.append();
    table.setText(0, u"0100000000");
    table.post();
    MemTableModel model(&table);
    TDishGrid grid;
    grid.setModel(&model);
    grid.resize(520, 100);
    grid.show();
    QCoreApplication::processEvents();
    const QImage img = grid.viewport()->grab().toImage();
    const QRect cell = grid.visualRect(grid.model()->index(0, 0));
    QVERIFY(cell.width() > 0);
    QVERIFY(!rectHas(img, cell, kRed));
    QVERIFY(!rectHas(img, cell, DishPictures::kOlive));
}

void TestDishGrid::columnsAndTexts()
{
    GridFixture f;
    addDish(f.table, {QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ")});
    addDish(f.table, {QStringLiteral("0001"), QStringLiteral("000901"), QStringLiteral("PUDIM")});
    addDish(f.table, {QString(), QStringLiteral("12"), QStringLiteral("SEM ÁRVORE")});
    addDish(f.table, {QStringLiteral("  "), QStringLiteral("100003"), QStringLiteral("BRANCOS")});

    // The packet's column order is not the grid's: the four are shown in the grid's order with
    // their titles and widths, the rest hidden.
    const QHeaderView *header = f.grid.horizontalHeader();
    QStringList shown, titles;
    QList<int> widths;
    for (int v = 0; v < header->count(); ++v) {
        const int logical = header->logicalIndex(v);
        if (header->isSectionHidden(logical))
            continue;
        shown << TDishGrid::fieldOfColumn(f.grid.model(), logical);
        titles << TDishGrid::columnTitle(f.grid.model(), logical);
        widths << header->sectionSize(logical);
    }
    QCOMPARE(shown, QStringList({"IDERRO", "CDPRATO", "NMPRATO", "CDFILAUXPRAT"}));
    QCOMPARE(titles, QStringList({"Ok", "Código", "Nome", "Árvore"}));
    QCOMPARE(widths, QList<int>({30, 73, 309, 44}));

    // The tree by name; the dish code through the dish-code mask, as stored when it does not fit.
    const QAbstractItemModel *m = f.grid.model();
    const int tree = f.column(u"CDFILAUXPRAT");
    const int code = f.column(u"CDPRATO");
    QCOMPARE(m->index(0, tree).data().toString(), QStringLiteral("Padrão"));
    QCOMPARE(m->index(1, tree).data().toString(), QStringLiteral("Local"));
    QCOMPARE(m->index(2, tree).data().toString(), QString());
    QCOMPARE(m->index(3, tree).data().toString(), QString());
    ProbeDelegate probe;
    const auto shownText = [&](int row) {
        QStyleOptionViewItem opt;
        probe.initStyleOption(&opt, m->index(row, code));
        return opt.text;
    };
    QCOMPARE(shownText(0), QStringLiteral("100.001"));
    QCOMPARE(shownText(1), QStringLiteral("000.901"));
    QCOMPARE(shownText(2), QStringLiteral("12"));
}

void TestDishGrid::tableEvents()
{
    MemTable t(QStringLiteral("PRATO"));
    bool enabled = true;
    int calls = 0;
    DishTable::install(t, [&](bool on) { enabled = on; ++calls; }, [] { return QStringLiteral("999.999"); });
    openDishTable(t);
    const int code = t.fieldIndex(u"CDPRATO");
    QCOMPARE(t.field(code).editMask, QStringLiteral("999.999"));

    // Each new row starts without errors, and the button goes off for it even after a dish with
    // errors: right after a load it tells about the last dish loaded only.
    addDish(t, {QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("A"), QStringLiteral("0010000000")});
    t.append();
    QCOMPARE(t.text(u"IDERRO"), QStringLiteral("0000000000"));
    QVERIFY(!enabled);
    t.cancel();
    addDish(t, {QStringLiteral("P"), QStringLiteral("100002"), QStringLiteral("B")});
    addDish(t, {QStringLiteral("P"), QStringLiteral("100003"), QStringLiteral("C"), QStringLiteral("0000010000")});

    // From then on the button follows the current dish, whatever the position of the flag.
    const QList<QPair<int, bool>> moves = {{0, true}, {1, false}, {2, true}, {1, false}};
    for (const auto &[row, expected] : moves) {
        calls = 0;
        t.moveTo(row);
        QCOMPARE(calls, 1);
        QCOMPARE(enabled, expected);
    }

    // Opened again from a packet: the columns are new, the mask and the tree's text come back.
    const QByteArray packet = DataPacket::save(t);
    QVERIFY(DataPacket::load(t, packet).ok());
    QCOMPARE(t.field(t.fieldIndex(u"CDPRATO")).editMask, QStringLiteral("999.999"));
    QCOMPARE(t.displayText(0, t.fieldIndex(u"CDFILAUXPRAT")), QStringLiteral("Padrão"));
    t.moveTo(2);
    QVERIFY(enabled);
}

void TestDishGrid::followsTheTable()
{
    GridFixture f;
    addDish(f.table, {QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("ARROZ")});
    addDish(f.table, {QStringLiteral("P"), QStringLiteral("100002"), QStringLiteral("FEIJÃO"), QStringLiteral("1000000000")});
    addDish(f.table, {QStringLiteral("P"), QStringLiteral("100003"), QStringLiteral("SALADA")});
    QTRY_COMPARE(f.grid.currentIndex().row(), 2);

    // A click on a dish makes it the table's current row, and its events run.
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, f.cell(1, u"NMPRATO").center());
    QCOMPARE(f.table.currentRow(), 1);
    QVERIFY(f.errorsEnabled);
    QTest::keyClick(&f.grid, Qt::Key_Up);
    QCOMPARE(f.table.currentRow(), 0);
    QVERIFY(!f.errorsEnabled);

    // A move of the table moves the grid's selection.
    f.table.moveTo(2);
    QTRY_COMPARE(f.grid.currentIndex().row(), 2);
    QVERIFY(f.grid.selectionModel()->isRowSelected(2, {}));
    QCOMPARE(f.grid.selectionModel()->selectedRows().size(), 1);

    // Rows added as the load pass adds them: the grid catches up once events are served. (The
    // model tester re-reads the whole model on every insert; it has seen the inserts above.)
    f.tester.reset();
    for (int i = 0; i < 500; ++i)
        addDish(f.table, {QStringLiteral("P"), QString::number(200000 + i), QStringLiteral("PRATO")});
    QCOMPARE(f.table.currentRow(), 502);
    QTRY_COMPARE(f.grid.currentIndex().row(), 502);
}

QTEST_MAIN(TestDishGrid)
#include "tst_dishgrid.moc"
