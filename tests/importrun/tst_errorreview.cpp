// The error review: the list of the current dish's errors in words, and the panel closing with
// the focus going back to the dish grid, never to the control after the list.
#include "dishfixture.h"
#include "dishgrid.h"
#include "dishtable.h"
#include "errorreview.h"
#include "memtablemodel.h"

#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Counts the focus events a control receives.
struct FocusCounter : QObject {
    int in = 0;
    int out = 0;
    int count() const { return in + out; }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::FocusIn)
            ++in;
        else if (e->type() == QEvent::FocusOut)
            ++out;
        return false;
    }
};

// A window laid out like the screen's data group: a field of the parameter panel, the dish grid,
// the error button and the floating error panel over the grid.
struct PanelFixture {
    QWidget window;
    MemTable table{QStringLiteral("PRATO")};
    MemTableModel model{&table};
    QLineEdit *medNmArquivo;
    TDishGrid *dbgPrato;
    QToolButton *sbtErros;
    QFrame *panErro;
    QListWidget *lsbErro;
    QToolButton *ButtonFlat1;
    QLineEdit *other;       // a control elsewhere on the screen
    FocusCounter filtroFocus;
    std::unique_ptr<ErrorReview> review;

    PanelFixture()
    {
        auto *layout = new QVBoxLayout(&window);
        medNmArquivo = new QLineEdit(&window);
        dbgPrato = new TDishGrid(&window);
        sbtErros = new QToolButton(&window);
        sbtErros->setFocusPolicy(Qt::NoFocus);
        sbtErros->setEnabled(false);
        other = new QLineEdit(&window);
        layout->addWidget(medNmArquivo);
        layout->addWidget(dbgPrato);
        layout->addWidget(sbtErros);
        layout->addWidget(other);
        panErro = new QFrame(&window);
        panErro->setGeometry(20, 40, 395, 126);
        lsbErro = new QListWidget(panErro);
        lsbErro->setGeometry(4, 22, 387, 100);
        ButtonFlat1 = new QToolButton(panErro);
        ButtonFlat1->setGeometry(373, 5, 17, 17);
        panErro->hide();
        // The list's next control in the chain is the parameter panel's field, whose entry would
        // discard the load.
        QWidget::setTabOrder(lsbErro, medNmArquivo);
        QWidget::setTabOrder(medNmArquivo, dbgPrato);
        medNmArquivo->installEventFilter(&filtroFocus);

        DishTable::install(
            table, [this](bool on) { sbtErros->setEnabled(on); }, [] { return QStringLiteral("999.999"); });
        openDishTable(table);
        dbgPrato->setModel(&model);
        dbgPrato->setDataSet(&table);
        review = std::make_unique<ErrorReview>(
            table, ErrorReview::Widgets{panErro, lsbErro, sbtErros, ButtonFlat1, dbgPrato});

        window.resize(520, 320);
        window.show();
        window.activateWindow();
    }

    // The dishes as the load pass stores them: a stored dish whose flags hold a "1" enables the
    // error button, after the new row's own after-scroll turned it off.
    void load(const QList<Dish> &dishes)
    {
        for (const Dish &d : dishes) {
            addDish(table, d);
            if (DishTable::hasErrors(d.flags))
                sbtErros->setEnabled(true);
        }
        QCoreApplication::processEvents();
    }

    QStringList lines() const
    {
        QStringList out;
        for (int i = 0; i < lsbErro->count(); ++i)
            out << lsbErro->item(i)->text();
        return out;
    }

    QPoint rowCentre(int row) const
    {
        const int col = dbgPrato->horizontalHeader()->logicalIndex(2);
        return dbgPrato->visualRect(dbgPrato->model()->index(row, col)).center();
    }

    // A double click as the window system delivers it: press, release, double click, release.
    void doubleClick(int row)
    {
        const QPoint at = rowCentre(row);
        QTest::mouseClick(dbgPrato->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(dbgPrato->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(dbgPrato->viewport(), Qt::LeftButton, {}, at);
    }

    // Opens the panel for a dish with errors, and checks it opened with the focus on the list.
    bool openOn(int row)
    {
        doubleClick(row);
        return !panErro->isHidden() && lsbErro->hasFocus();
    }
};

} // namespace

class TestErrorReview : public QObject {
    Q_OBJECT
private slots:
    void errorList_data();
    void errorList();
    void keysOutOfTheList_data();
    void keysOutOfTheList();
    void focusLeavingTheList();
    void closeButton_data();
    void closeButton();
};

void TestErrorReview::errorList_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("localName");
    QTest::addColumn<bool>("editing");
    QTest::addColumn<bool>("buttonEnabled");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QStringList>("lines");

    const QString unidade = QStringLiteral("Unidade de medida não existe no destino.");
    const QString produto = QStringLiteral("Produto não existe no destino.");
    const QString servico = QStringLiteral("Serviço não existe no destino.");
    QTest::newRow("no errors: the button is off, a double click opens nothing")
        << "0000000000" << "" << false << false << false << QStringList();
    QTest::newRow("units and services, in position order")
        << "1010000000" << "" << false << true << true << QStringList{unidade, servico};
    QTest::newRow("dish code taken: the local name in the text, the full stop after it")
        << "0001000000" << "PUDIM DE LEITE" << false << true << true
        << QStringList{QStringLiteral("Prato já existe no destino PUDIM DE LEITE.")};
    QTest::newRow("all four")
        << "1111000000" << "ARROZ" << false << true << true
        << QStringList{unidade, produto, servico, QStringLiteral("Prato já existe no destino ARROZ.")};
    QTest::newRow("only a flag beyond position 4: the panel opens empty")
        << "0000100000" << "" << false << true << true << QStringList();
    QTest::newRow("the dish in edit: the panel opens empty")
        << "1000000000" << "" << true << true << true << QStringList();
}

void TestErrorReview::errorList()
{
    QFETCH(QString, flags);
    QFETCH(QString, localName);
    QFETCH(bool, editing);
    QFETCH(bool, buttonEnabled);
    QFETCH(bool, opens);
    QFETCH(QStringList, lines);

    PanelFixture f;
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    f.load({{QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("A"), QStringLiteral("0100000000")},
            {QStringLiteral("P"), QStringLiteral("100002"), QStringLiteral("B"), flags, localName},
            {QStringLiteral("P"), QStringLiteral("100003"), QStringLiteral("C")}});

    // A first opening on another dish: each opening starts from an empty list.
    QVERIFY(f.openOn(0));
    QCOMPARE(f.lines(), QStringList{QStringLiteral("Produto não existe no destino.")});
    f.ButtonFlat1->click();
    QVERIFY(f.panErro->isHidden());

    QTest::mouseClick(f.dbgPrato->viewport(), Qt::LeftButton, {}, f.rowCentre(1));
    QCOMPARE(f.table.currentRow(), 1);
    QCOMPARE(f.sbtErros->isEnabled(), buttonEnabled);
    if (editing) {
        f.table.edit();
        f.sbtErros->click();
    } else {
        f.doubleClick(1);
    }
    QCOMPARE(!f.panErro->isHidden(), opens);
    if (opens) {
        QCOMPARE(f.lines(), lines);
        QVERIFY(f.lsbErro->hasFocus());
    }
}

void TestErrorReview::keysOutOfTheList_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Tab") << int(Qt::Key_Tab);
    QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab);
}

void TestErrorReview::keysOutOfTheList()
{
    QFETCH(int, key);
    PanelFixture f;
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    f.load({{QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("A"), QStringLiteral("1000000000")}});
    QVERIFY(f.openOn(0));
    const int before = f.filtroFocus.count();

    QTest::keyClick(f.lsbErro, Qt::Key(key));
    QVERIFY(f.panErro->isHidden());
    QVERIFY(f.dbgPrato->hasFocus());
    QCOMPARE(f.filtroFocus.count(), before);
}

void TestErrorReview::focusLeavingTheList()
{
    PanelFixture f;
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    f.load({{QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("A"), QStringLiteral("1000000000")},
            {QStringLiteral("P"), QStringLiteral("100002"), QStringLiteral("B")}});

    // A click on another control: the panel closes and the grid has the focus, the control the
    // click was aimed at never got it.
    QVERIFY(f.openOn(0));
    FocusCounter otherFocus;
    f.other->installEventFilter(&otherFocus);
    QTest::mouseClick(f.other, Qt::LeftButton);
    QVERIFY(f.panErro->isHidden());
    QVERIFY(f.dbgPrato->hasFocus());
    QCOMPARE(otherFocus.in, 0);

    // A click on another dish: the panel closes and that dish becomes current.
    QVERIFY(f.openOn(0));
    QTest::mouseClick(f.dbgPrato->viewport(), Qt::LeftButton, {}, f.rowCentre(1));
    QVERIFY(f.panErro->isHidden());
    QVERIFY(f.dbgPrato->hasFocus());
    QCOMPARE(f.table.currentRow(), 1);
    QVERIFY(!f.sbtErros->isEnabled());

    // Closed already: the list's exit does nothing more.
    f.other->setFocus();
    f.review->lsbErroExit();
    QVERIFY(f.other->hasFocus());
}

void TestErrorReview::closeButton_data()
{
    QTest::addColumn<bool>("gridShown");
    QTest::addColumn<bool>("fallback");
    QTest::newRow("grid shown") << true << false;
    QTest::newRow("grid hidden (service tab in front), no fallback") << false << false;
    QTest::newRow("grid hidden, fallback control") << false << true;
}

void TestErrorReview::closeButton()
{
    QFETCH(bool, gridShown);
    QFETCH(bool, fallback);
    PanelFixture f;
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    f.load({{QStringLiteral("P"), QStringLiteral("100001"), QStringLiteral("A"), QStringLiteral("1000000000")}});
    if (fallback)
        f.review->setFallbackFocus([&f] { return static_cast<QWidget *>(f.other); });

    QVERIFY(f.openOn(0));
    if (!gridShown)
        f.dbgPrato->hide();
    const int before = f.filtroFocus.count();
    QTest::mouseClick(f.ButtonFlat1, Qt::LeftButton);
    QVERIFY(f.panErro->isHidden());
    QCOMPARE(f.dbgPrato->hasFocus(), gridShown);
    QCOMPARE(f.other->hasFocus(), fallback);
    QVERIFY(!f.lsbErro->hasFocus());
    QCOMPARE(f.filtroFocus.count(), before);
}

QTEST_MAIN(TestErrorReview)
#include "tst_errorreview.moc"
