// The error review: the current dish's errors in words, and the panel closing with the focus
// going back to the dish grid, never through the control after the list.
#include "dishfixture.h"
#include "dishgrid.h"
#include "dishtable.h"
#include "errorreview.h"
#include "memtablemodel.h"

#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

struct FocusCounter : QObject {
    int in = 0, out = 0;
    int events() const { return in + out; }
    bool eventFilter(QObject *, QEvent *e) override
    {
        in += e->type() == QEvent::FocusIn;
        out += e->type() == QEvent::FocusOut;
        return false;
    }
};

// Laid out like the screen's data group: a field of the parameter panel (next after the list in
// the focus chain: entering it would discard the load), the dish grid, the error button, another
// control, and the floating error panel.
struct PanelFixture {
    QWidget window;
    MemTable table{QStringLiteral("PRATO")};
    MemTableModel model{&table};
    QLineEdit *medNmArquivo = new QLineEdit(&window);
    TDishGrid *dbgPrato = new TDishGrid(&window);
    QToolButton *sbtErros = new QToolButton(&window);
    QLineEdit *other = new QLineEdit(&window);
    QFrame *panErro = new QFrame(&window);
    QListWidget *lsbErro = new QListWidget(panErro);
    QToolButton *ButtonFlat1 = new QToolButton(panErro);
    FocusCounter filtroFocus;
    std::unique_ptr<ErrorReview> review;
    QMdiSubWindow *child = nullptr;

    explicit PanelFixture(QMdiArea *area = nullptr)
    {
        auto *layout = new QVBoxLayout(&window);
        for (QWidget *w : {static_cast<QWidget *>(medNmArquivo), static_cast<QWidget *>(dbgPrato),
                           static_cast<QWidget *>(sbtErros), static_cast<QWidget *>(other)})
            layout->addWidget(w);
        sbtErros->setFocusPolicy(Qt::NoFocus);
        sbtErros->setEnabled(false);
        panErro->setGeometry(20, 40, 395, 126);
        lsbErro->setGeometry(4, 22, 387, 100);
        ButtonFlat1->setGeometry(373, 5, 17, 17);
        panErro->hide();
        QWidget::setTabOrder(lsbErro, medNmArquivo);
        QWidget::setTabOrder(medNmArquivo, dbgPrato);
        medNmArquivo->installEventFilter(&filtroFocus);

        DishTable::install(table, [this](bool on) { sbtErros->setEnabled(on); }, [] { return QStringLiteral("999.999"); });
        openDishTable(table);
        dbgPrato->setModel(&model);
        dbgPrato->setDataSet(&table);
        review = std::make_unique<ErrorReview>(table, ErrorReview::Widgets{panErro, lsbErro, sbtErros, ButtonFlat1, dbgPrato});
        window.resize(520, 320);
        if (area) {
            child = area->addSubWindow(&window);
            child->show();
        } else {
            window.show();
        }
    }
    // The dishes as the load pass stores them: a stored dish with a raised flag enables the error
    // button after the new row's own after-scroll turned it off.
    void load(const QList<Dish> &dishes)
    {
        for (const Dish &d : dishes) {
            addDish(table, d);
            if (DishFlags::hasErrors(d.flags))
                sbtErros->setEnabled(true);
        }
        QCoreApplication::processEvents();
    }
    QPoint rowCentre(int row) const
    {
        return dbgPrato->visualRect(model.index(row, model.columnOfField(u"NMPRATO"))).center();
    }
    // As the window system delivers it: press, release, double click, release.
    void doubleClick(int row)
    {
        QTest::mouseClick(dbgPrato->viewport(), Qt::LeftButton, {}, rowCentre(row));
        QTest::mouseDClick(dbgPrato->viewport(), Qt::LeftButton, {}, rowCentre(row));
        QTest::mouseRelease(dbgPrato->viewport(), Qt::LeftButton, {}, rowCentre(row));
    }
    bool openOn(int row)
    {
        doubleClick(row);
        return !panErro->isHidden() && lsbErro->hasFocus();
    }
    QStringList lines() const
    {
        QStringList out;
        for (int i = 0; i < lsbErro->count(); ++i)
            out << lsbErro->item(i)->text();
        return out;
    }
};

} // namespace

class TestErrorReview : public QObject {
    Q_OBJECT
private slots:
    void errorList_data();
    void errorList();
    void closing_data();
    void closing();
    void anotherChildWindowInFront();
};

void TestErrorReview::errorList_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<bool>("editing");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QStringList>("lines");
    const QString unidade = "Unidade de medida não existe no destino.", produto = "Produto não existe no destino.",
                  servico = "Serviço não existe no destino.", prato = "Prato já existe no destino PUDIM DE LEITE.";
    QTest::newRow("no errors: button off, nothing opens") << "0000000000" << false << false << QStringList();
    QTest::newRow("positions 1 and 3, in order") << "1010000000" << false << true << QStringList{unidade, servico};
    QTest::newRow("position 4: local name, full stop after it") << "0001000000" << false << true << QStringList{prato};
    QTest::newRow("all four") << "1111000000" << false << true << QStringList{unidade, produto, servico, prato};
    QTest::newRow("position 5: after position 4")
        << "0001100000" << false << true << QStringList{prato, "Prato com linha sem chave ou repetida no arquivo."};
    QTest::newRow("position 7: a value too large") << "0000001000" << false << true
                                                   << QStringList{"Prato com valor numérico maior que o destino aceita."};
    QTest::newRow("only position 8: opens empty") << "0000000100" << false << true << QStringList();
    QTest::newRow("dish in edit: opens empty") << "1000000000" << true << true << QStringList();
}

void TestErrorReview::errorList()
{
    QFETCH(QString, flags);
    QFETCH(bool, editing);
    QFETCH(bool, opens);
    QFETCH(QStringList, lines);
    PanelFixture f;
    f.load({{"P", "100001", "A", "0100000000"}, {"P", "100002", "B", flags, "PUDIM DE LEITE"}, {"P", "100003", "C"}});
    // A first opening on another dish: every opening starts from an empty list.
    QVERIFY(f.openOn(0));
    QCOMPARE(f.lines(), QStringList{"Produto não existe no destino."});
    f.ButtonFlat1->click();

    QTest::mouseClick(f.dbgPrato->viewport(), Qt::LeftButton, {}, f.rowCentre(1));
    QCOMPARE(f.sbtErros->isEnabled(), DishFlags::hasErrors(flags));
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

void TestErrorReview::closing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("gridShown");
    QTest::addColumn<bool>("fallback");
    QTest::newRow("Tab") << "tab" << true << false;
    QTest::newRow("Shift+Tab") << "backtab" << true << false;
    QTest::newRow("click on another control") << "click" << true << false;
    QTest::newRow("click on another dish") << "dish" << true << false;
    QTest::newRow("close button") << "button" << true << false;
    QTest::newRow("close button, grid hidden") << "button" << false << false;
    QTest::newRow("close button, grid hidden, fallback") << "button" << false << true;
}

void TestErrorReview::closing()
{
    QFETCH(QString, how);
    QFETCH(bool, gridShown);
    QFETCH(bool, fallback);
    PanelFixture f;
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    f.load({{"P", "100001", "A", "1000000000"}, {"P", "100002", "B"}});
    if (fallback)
        f.review->setFallbackFocus([&f] { return static_cast<QWidget *>(f.other); });
    QVERIFY(f.openOn(0));
    if (!gridShown)
        f.dbgPrato->hide();
    const int filtroBefore = f.filtroFocus.events();
    FocusCounter otherFocus;
    f.other->installEventFilter(&otherFocus);

    if (how == u"tab" || how == u"backtab")
        QTest::keyClick(f.lsbErro, how == u"tab" ? Qt::Key_Tab : Qt::Key_Backtab);
    else if (how == u"click")
        QTest::mouseClick(f.other, Qt::LeftButton);
    else if (how == u"dish")
        QTest::mouseClick(f.dbgPrato->viewport(), Qt::LeftButton, {}, f.rowCentre(1));
    else
        QTest::mouseClick(f.ButtonFlat1, Qt::LeftButton);

    QVERIFY(f.panErro->isHidden());
    QCOMPARE(f.dbgPrato->hasFocus(), gridShown);
    QCOMPARE(f.other->hasFocus(), fallback);
    QVERIFY(!f.lsbErro->hasFocus());
    // The control after the list is not touched; the control a click aimed at never gets the
    // focus (the focus change under way is turned to the grid).
    QCOMPARE(f.filtroFocus.events(), filtroBefore);
    QCOMPARE(otherFocus.in, fallback ? 1 : 0);
    if (how == u"dish")
        QCOMPARE(f.table.currentRow(), 1);
}

void TestErrorReview::anotherChildWindowInFront()
{
    // Another screen of the host in front is no exit from the list: the panel stays, and the list
    // has the focus again when the operator comes back.
    QMdiArea area;
    PanelFixture f(&area);
    auto *otherEdit = new QLineEdit;
    QMdiSubWindow *otherScreen = area.addSubWindow(otherEdit);
    otherScreen->show();
    area.resize(900, 600);
    area.show();
    QVERIFY(QTest::qWaitForWindowActive(&area));
    area.setActiveSubWindow(f.child);
    f.load({{"P", "100001", "A", "1000000000"}});
    QVERIFY(f.openOn(0));
    area.setActiveSubWindow(otherScreen);
    QTRY_VERIFY(otherEdit->hasFocus());
    QVERIFY(!f.panErro->isHidden());
    area.setActiveSubWindow(f.child);
    QTRY_VERIFY(f.lsbErro->hasFocus());
}

QTEST_MAIN(TestErrorReview)
#include "tst_errorreview.moc"
