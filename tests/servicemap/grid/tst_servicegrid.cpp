// The grid of the tab "Serviço" over a map of three exported services and a small destination
// database: codes typed into the real in-place editor, the keys the grid refuses, the cell
// button's lookup, and what each leaves in the map and in the list of destinations in use.
#include "ambiente.h"
#include "destinationreader.h"
#include "database.h"
#include "framework.h"
#include "memtablemodel.h"
#include "query.h"
#include "servicecodeeditor.h"
#include "servicegrid.h"
#include "servicegriddelegate.h"
#include "servicemap.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

const QString kJa = QStringLiteral("Serviço destino já informado.");
const QString kNao = QStringLiteral("Serviço destino não cadastrado.");

// Keeps the messages; while one is "shown", a window of its own holds the focus, as a message
// box does, and gives it back afterwards.
struct CapturingSink : MessageSink {
    QStringList errors;
    QWidget *box = nullptr;
    void showError(const QString &text) override
    {
        errors << text;
        if (!box)
            return;
        QWidget *back = QApplication::focusWidget();
        box->show();
        box->activateWindow();
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        box->hide();
        if (back) {
            back->activateWindow();
            back->setFocus();
            QTRY_VERIFY(back->hasFocus());
        }
    }
    void showInfo(const QString &) override {}
};

// Answers the lookup without a window: lists the services as the lookup would and picks one.
struct ScriptedLookup {
    QString pick; // empty: the operator cancels
    int calls = 0;
    QString caption, branch;
    std::optional<ServiceChoice> operator()(ReadOnlyQuery &services, const QString &cap)
    {
        ++calls;
        caption = cap;
        branch = services.param(QStringLiteral("P_CDFILIAL")).toString();
        for (services.openOrAbandon(); !pick.isEmpty() && !services.eof(); services.next()) {
            if (services.value(0).toString() == pick)
                return ServiceChoice{pick, services.value(1).toString()};
        }
        return std::nullopt;
    }
};

QString serviceLine(const QString &code, const QString &name)
{
    const QChar t(0x00F8);
    return QStringLiteral("SERVICO") + t + code + t + name + t;
}

QStringList serviceLines()
{
    return {serviceLine(QStringLiteral("CDSERVFILI"), QStringLiteral("NMSERVICO")),
            serviceLine(QStringLiteral("00001"), QStringLiteral("almoco")),
            serviceLine(QStringLiteral("00002"), QStringLiteral("Jantar")),
            serviceLine(QStringLiteral("00003"), QStringLiteral("Ceia especial"))};
}

} // namespace

class TestServiceGrid : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void typingOnTheCellStartsTheEdit();
    void leavingTheDestination_data();
    void leavingTheDestination();
    void escapeRestores_data();
    void escapeRestores();
    void keysThatChangeNothing_data();
    void keysThatChangeNothing();
    void lookup_data();
    void lookup();
    void drawnText_data();
    void drawnText();
    void screenshot();
    void rememberedShownApart();

private:
    QModelIndex cell(int row, QStringView field) const
    {
        return m_grid->dtsServico()->index(row, m_grid->dtsServico()->columnOfField(field));
    }
    QString text(int row, int col) const { return m_map->cdsServico.textAt(row, col); }
    ServiceCodeEditor *openEditor(int row);
    int inUse(const QString &code) const;
    QStringList snapshot() const;

    QTemporaryDir m_dir;
    CapturingSink m_sink;
    ScriptedLookup m_lookup;
    std::unique_ptr<ServiceMap> m_map;
    std::unique_ptr<TServiceGrid> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    QLineEdit m_box;
};

void TestServiceGrid::initTestCase()
{
    const QString path = m_dir.filePath(QStringLiteral("destino.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE SERVICO (CDFILIAL VARCHAR(4), CDSERVFILI VARCHAR(5), NMSERVICO VARCHAR(40))")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO SERVICO VALUES ('0001', '00005', 'ALMOCO'), ('0001', '00007', 'JANTAR'), "
                                      "('0001', '00012', 'CEIA'), ('0001', '00020', 'LANCHE'), ('0002', '00099', 'OUTRA')")));
        // Remembered pairings: none until rememberedShownApart puts one there.
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE SERVPARE (CDFILIAL VARCHAR(4), CDSERVFILIORIG VARCHAR(5), "
                                      "NMSERVICOORIG VARCHAR(40), CDSERVFILIDEST VARCHAR(5), DTULTATUPARE TIMESTAMP)")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
    Database::useDestination(Ambiente::instance(), QStringLiteral("sqlite:") + path);
    Database::closeShared();
}

void TestServiceGrid::init()
{
    m_sink.errors.clear();
    m_sink.box = &m_box;
    setMessageSink(&m_sink);
    m_lookup = ScriptedLookup{};
    // Rows in reverse file order: 0 "Ceia especial" unpaired, 1 Jantar -> 00007, 2 almoco -> 00005.
    m_map = std::make_unique<ServiceMap>();
    m_map->CdFilialDestino = [] { return QStringLiteral("0001"); };
    m_map->prepareDestinationServices();
    QCOMPARE(m_map->build(serviceLines()), 3);
    m_grid = std::make_unique<TServiceGrid>();
    m_grid->setServiceMap(m_map.get());
    m_grid->setLookup([this](ReadOnlyQuery &q, const QString &c) { return m_lookup(q, c); });
    m_tester = std::make_unique<QAbstractItemModelTester>(m_grid->dtsServico(),
                                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_grid->resize(500, 160);
    m_grid->show();
    m_grid->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_grid.get()));
}

void TestServiceGrid::cleanup()
{
    m_tester.reset();
    m_grid.reset();
    m_map.reset();
    setMessageSink(nullptr);
}

ServiceCodeEditor *TestServiceGrid::openEditor(int row)
{
    m_grid->setCurrentIndex(cell(row, ServiceGridFields::Dest));
    m_grid->edit(cell(row, ServiceGridFields::Dest));
    return m_grid->inplaceEditor();
}

int TestServiceGrid::inUse(const QString &code) const
{
    int n = 0;
    for (int r = 0; r < m_map->cdsServDestino.rowCount(); ++r)
        n += m_map->cdsServDestino.textAt(r, ServiceMap::ColDestCodigo) == code;
    return n;
}

QStringList TestServiceGrid::snapshot() const
{
    QStringList rows;
    for (int r = 0; r < m_map->cdsServico.rowCount(); ++r)
        rows << QStringList{text(r, 0), text(r, 1), text(r, 2), text(r, 3)}.join(u'|');
    return rows;
}

void TestServiceGrid::typingOnTheCellStartsTheEdit()
{
    QSignalSpy stateChanges(m_grid.get(), &TServiceGrid::stateChange);
    m_grid->setCurrentIndex(cell(1, ServiceGridFields::Dest));
    QTest::keyClick(m_grid.get(), Qt::Key_1);
    // The key opened the editor in place of the code; the map's before-edit released 00007.
    QVERIFY(m_grid->inplaceEditor());
    QCOMPARE(m_grid->inplaceEditor()->text(), QStringLiteral("1"));
    QCOMPARE(m_map->cdsServico.state(), TableState::Edit);
    QCOMPARE(inUse(QStringLiteral("00007")), 0);
    QCOMPARE(stateChanges.count(), 1);
    QTest::keyClicks(m_grid->inplaceEditor()->lineEdit(), QStringLiteral("23456"));
    QCOMPARE(m_grid->inplaceEditor()->text(), QStringLiteral("12345")); // the code's width
}

void TestServiceGrid::leavingTheDestination_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("typed"); // "<clear>": the code erased
    QTest::addColumn<QString>("leaveBy");
    QTest::addColumn<QString>("error"); // empty: accepted
    QTest::addColumn<QString>("code");  // stored afterwards
    QTest::addColumn<QString>("name");
    QTest::newRow("short code, Tab") << 0 << "12" << "Tab" << "" << "00012" << "CEIA";
    QTest::newRow("short code, Enter") << 0 << "12" << "Enter" << "" << "00012" << "CEIA";
    QTest::newRow("the row's own code again") << 1 << "7" << "Enter" << "" << "00007" << "JANTAR";
    QTest::newRow("untouched editor, Enter") << 1 << "" << "Enter" << "" << "00007" << "JANTAR";
    QTest::newRow("cleared: no check, name kept") << 1 << "<clear>" << "Enter" << "" << "" << "JANTAR";
    QTest::newRow("another row's, Enter") << 0 << "7" << "Enter" << kJa << "00007" << "";
    QTest::newRow("another row's, Shift+Tab") << 1 << "00005" << "Backtab" << kJa << "00005" << "JANTAR";
    QTest::newRow("another row's, Down") << 0 << "5" << "Down" << kJa << "00005" << "";
    QTest::newRow("another row's, click on a row") << 0 << "5" << "Click" << kJa << "00005" << "";
    // The last row: the grid appends nothing below it, and the edit is posted as if it had.
    QTest::newRow("last row, Down, browsing") << 2 << "" << "Down" << "" << "00005" << "ALMOCO";
    QTest::newRow("last row, Down") << 2 << "20" << "Down" << "" << "00020" << "LANCHE";
    QTest::newRow("last row, Tab past the last cell") << 2 << "20" << "Tab" << "" << "00020" << "LANCHE";
    QTest::newRow("unknown, Tab") << 0 << "ab" << "Tab" << kNao << "ab" << "";
    QTest::newRow("other branch's code, Up") << 1 << "99" << "Up" << kNao << "00099" << "JANTAR";
}

void TestServiceGrid::leavingTheDestination()
{
    QFETCH(int, row);
    QFETCH(QString, typed);
    QFETCH(QString, leaveBy);
    QFETCH(QString, error);
    QFETCH(QString, code);
    QFETCH(QString, name);

    QVERIFY(openEditor(row));
    QLineEdit *le = m_grid->inplaceEditor()->lineEdit();
    if (typed == u"<clear>")
        QTest::keyClick(le, Qt::Key_Backspace);
    else
        QTest::keyClicks(le, typed);
    if (leaveBy == u"Click")
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, m_grid->visualRect(cell(2, ServiceGridFields::Orig)).center());
    else
        QTest::keyClick(le, leaveBy == u"Tab" ? Qt::Key_Tab : leaveBy == u"Backtab" ? Qt::Key_Backtab
                            : leaveBy == u"Down" ? Qt::Key_Down : leaveBy == u"Up" ? Qt::Key_Up : Qt::Key_Return,
                        leaveBy == u"Backtab" ? Qt::ShiftModifier : Qt::NoModifier);

    QCOMPARE(m_map->cdsServico.rowCount(), 3);
    QCOMPARE(text(row, ServiceMap::ColDest), code);
    QCOMPARE(text(row, ServiceMap::ColNmDest), name);
    QCOMPARE(m_sink.errors, error.isEmpty() ? QStringList() : QStringList{error});
    if (error.isEmpty()) {
        QCOMPARE(m_map->cdsServico.state(), TableState::Browse);
        QCOMPARE(inUse(code), code.isEmpty() ? 0 : 1);
        QCOMPARE(ServiceGridDelegate::overlayText(cell(row, ServiceGridFields::Dest), false, QStyle::State_Enabled),
                 code.isEmpty() ? QString() : name);
        if (leaveBy == u"Enter")
            QVERIFY(!m_grid->inplaceEditor());
        if (row == 2)
            QCOMPARE(m_grid->currentIndex(), cell(2, leaveBy == u"Tab" ? ServiceGridFields::Orig : ServiceGridFields::Dest));
    } else {
        // Still editing that row, on its destination cell, with the code as it was adjusted.
        QCOMPARE(m_map->cdsServico.state(), TableState::Edit);
        QCOMPARE(m_map->cdsServico.currentRow(), row);
        QCOMPARE(m_grid->currentIndex(), cell(row, ServiceGridFields::Dest));
        QVERIFY(m_grid->inplaceEditor());
        QCOMPARE(m_grid->inplaceEditor()->text(), code);
        QCOMPARE(inUse(code), error == kJa ? 1 : 0); // held by the other row only
    }
}

void TestServiceGrid::escapeRestores_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enterFirst");
    QTest::newRow("typed, not committed") << "12" << false;
    QTest::newRow("after a refused Enter") << "5" << true;
}

void TestServiceGrid::escapeRestores()
{
    QFETCH(QString, typed);
    QFETCH(bool, enterFirst);
    const QStringList before = snapshot();
    QVERIFY(openEditor(1));
    QTest::keyClicks(m_grid->inplaceEditor()->lineEdit(), typed);
    if (enterFirst)
        QTest::keyClick(m_grid->inplaceEditor()->lineEdit(), Qt::Key_Return);
    QCOMPARE(m_sink.errors.size(), int(enterFirst));
    QTest::keyClick(m_grid->inplaceEditor()->lineEdit(), Qt::Key_Escape);

    QCOMPARE(snapshot(), before);
    QCOMPARE(m_map->cdsServico.state(), TableState::Browse);
    QVERIFY(!m_grid->inplaceEditor());
    // The destination the edit released is held again, once: no other row can take it now.
    QCOMPARE(inUse(QStringLiteral("00007")), 1);
    QCOMPARE(m_map->cdsServDestino.rowCount(), 2);
}

void TestServiceGrid::keysThatChangeNothing_data()
{
    QTest::addColumn<QString>("where"); // origin, destination, editor
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("typed");
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("Ctrl+Delete, destination") << "destination" << int(Qt::Key_Delete) << ctrl << "";
    QTest::newRow("Ctrl+Delete, editor") << "editor" << int(Qt::Key_Delete) << ctrl << "";
    QTest::newRow("Insert, origin") << "origin" << int(Qt::Key_Insert) << 0 << "";
    QTest::newRow("Ctrl+Insert, destination") << "destination" << int(Qt::Key_Insert) << ctrl << "";
    QTest::newRow("Shift+Insert (paste), editor") << "editor" << int(Qt::Key_Insert) << int(Qt::ShiftModifier) << "";
    QTest::newRow("Delete, origin") << "origin" << int(Qt::Key_Delete) << 0 << "";
    QTest::newRow("letter, origin") << "origin" << int(Qt::Key_A) << 0 << "a";
    QTest::newRow("digit every code starts with, origin") << "origin" << int(Qt::Key_0) << 0 << "0";
    QTest::newRow("Backspace, origin") << "origin" << int(Qt::Key_Backspace) << 0 << "\b";
}

void TestServiceGrid::keysThatChangeNothing()
{
    QFETCH(QString, where);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, typed);
    const QStringList before = snapshot();
    QWidget *target = m_grid.get();
    if (where == u"editor") {
        QVERIFY(openEditor(1));
        target = m_grid->inplaceEditor()->lineEdit();
        if (key == Qt::Key_Delete)
            m_grid->inplaceEditor()->lineEdit()->setCursorPosition(2); // a word after the cursor
        QGuiApplication::clipboard()->setText(QStringLiteral("12")); // to paste over the code
    } else {
        m_grid->setCurrentIndex(cell(1, where == u"origin" ? ServiceGridFields::Orig : ServiceGridFields::Dest));
    }
    const QModelIndex current = m_grid->currentIndex();
    // Twice: a repeated character is where a keyboard search would move to the next row.
    for (int i = 0; i < 2; ++i) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), typed);
        QApplication::sendEvent(target, &press);
    }

    QCOMPARE(m_grid->dtsServico()->rowCount(), 3);
    QCOMPARE(snapshot(), before);
    QCOMPARE(m_map->cdsServico.state(), TableState::Browse);
    QCOMPARE(m_grid->currentIndex(), current);
    QCOMPARE(bool(m_grid->inplaceEditor()), where == u"editor");
    if (where == u"editor")
        QCOMPARE(m_grid->inplaceEditor()->text(), QStringLiteral("00007"));
    if (where == u"origin") {
        m_grid->dbgPadraoEditButtonClick(); // the origin carries no button
        QCOMPARE(m_lookup.calls, 0);
    }
    QVERIFY(m_sink.errors.isEmpty());
}

void TestServiceGrid::lookup_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("typedFirst");
    QTest::addColumn<QString>("pick"); // empty: cancelled
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("state");
    const int browse = int(TableState::Browse), edit = int(TableState::Edit);
    QTest::newRow("cancelled") << 1 << "" << "" << "" << "00007" << "JANTAR" << browse;
    QTest::newRow("cancelled while typing") << 1 << "12" << "" << "" << "00007" << "JANTAR" << edit;
    QTest::newRow("the row's own service") << 1 << "" << "00007" << "" << "00007" << "JANTAR" << browse;
    QTest::newRow("over a typed code") << 0 << "99" << "00012" << "" << "00012" << "CEIA" << browse;
    QTest::newRow("another row's service") << 0 << "" << "00005" << kJa << "00005" << "ALMOCO" << edit;
}

void TestServiceGrid::lookup()
{
    QFETCH(int, row);
    QFETCH(QString, typedFirst);
    QFETCH(QString, pick);
    QFETCH(QString, error);
    QFETCH(QString, code);
    QFETCH(QString, name);
    QFETCH(int, state);

    QVERIFY(openEditor(row));
    ServiceCodeEditor *editor = m_grid->inplaceEditor();
    QTest::keyClicks(editor->lineEdit(), typedFirst);
    m_lookup.pick = pick;
    QTest::mouseClick(editor->button(), Qt::LeftButton);

    QCOMPARE(m_lookup.calls, 1);
    QCOMPARE(m_lookup.caption, QStringLiteral("Serviço|Não há serviço cadastrado para a filial destino informada."));
    QCOMPARE(m_lookup.branch, QStringLiteral("0001"));
    QCOMPARE(text(row, ServiceMap::ColDest), code);
    QCOMPARE(text(row, ServiceMap::ColNmDest), name);
    QCOMPARE(int(m_map->cdsServico.state()), state);
    QCOMPARE(m_sink.errors, error.isEmpty() ? QStringList() : QStringList{error});
    QCOMPARE(m_grid->currentIndex(), cell(row, ServiceGridFields::Dest));
    // The editor shows what the row holds, or what was typed when nothing was chosen.
    QVERIFY(m_grid->inplaceEditor());
    QCOMPARE(m_grid->inplaceEditor()->text(), pick.isEmpty() && !typedFirst.isEmpty() ? typedFirst : code);
    if (state == int(TableState::Browse))
        QCOMPARE(inUse(code), 1);
}

void TestServiceGrid::drawnText_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("origin");
    QTest::addColumn<bool>("gridEditing");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<QString>("expected");
    QTest::newRow("destination: name") << 1 << false << false << false << "JANTAR";
    QTest::newRow("destination, editing, lookup open: code") << 1 << false << true << false << "00007";
    QTest::newRow("destination, editing, focused: name") << 1 << false << true << true << "JANTAR";
    QTest::newRow("origin, editing, unfocused: code") << 0 << true << true << false << "00003";
}

void TestServiceGrid::drawnText()
{
    QFETCH(int, row);
    QFETCH(bool, origin);
    QFETCH(bool, gridEditing);
    QFETCH(bool, focused);
    QFETCH(QString, expected);
    QStyle::State state = QStyle::State_Enabled | QStyle::State_Selected;
    if (focused)
        state |= QStyle::State_HasFocus;
    const QModelIndex index = cell(row, origin ? ServiceGridFields::Orig : ServiceGridFields::Dest);
    QCOMPARE(ServiceGridDelegate::overlayText(index, gridEditing, state).value_or(QStringLiteral("<none>")), expected);

    // Emptied, the map resets the model; the grid still shows its two code columns, and only them.
    m_map->clear();
    QCOMPARE(m_grid->dtsServico()->rowCount(), 0);
    QVERIFY(m_grid->isColumnHidden(m_grid->dtsServico()->columnOfField(ServiceGridFields::NmOrig)));
    QCOMPARE(m_grid->columnWidth(m_grid->dtsServico()->columnOfField(ServiceGridFields::Dest)), TServiceGrid::ColumnWidth);
}

void TestServiceGrid::screenshot()
{
    // The tab as the screen nests it: a lowered panel, a borderless scroll box, the grid.
    QTabWidget tabs;
    tabs.addTab(new QWidget, QStringLiteral("Prato"));
    auto *panGrid = new QFrame;
    panGrid->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto *sclGrid = new QScrollArea;
    sclGrid->setFrameShape(QFrame::NoFrame);
    sclGrid->setWidgetResizable(true);
    auto *grid = new TServiceGrid;
    grid->setServiceMap(m_map.get());
    sclGrid->setWidget(grid);
    (new QVBoxLayout(panGrid))->addWidget(sclGrid);
    tabs.setCurrentIndex(tabs.addTab(panGrid, QStringLiteral("Serviço")));
    tabs.resize(520, 150);
    m_grid->hide();
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));
    grid->setFocus();
    grid->setCurrentIndex(grid->dtsServico()->index(1, grid->dtsServico()->columnOfField(ServiceGridFields::Dest)));

    const QImage shot = tabs.grab().toImage();
    // A cell that is not selected is painted in the tooltip background.
    const QRect plainCell = grid->visualRect(grid->dtsServico()->index(2, 0));
    QCOMPARE(shot.pixelColor(grid->viewport()->mapTo(&tabs, plainCell.bottomRight() - QPoint(4, 2))),
             grid->palette().color(QPalette::Base));
    // The documentation's picture of the tab comes from the whole screen (tst_screen_import).
    QVERIFY(shot.save(m_dir.filePath(QStringLiteral("service-grid.png"))));
    grid->setServiceMap(nullptr);
}

void TestServiceGrid::rememberedShownApart()
{
    // The branch's last import paired "Ceia especial" (row 0) with 00012 CEIA; row 1 pairs by name.
    QSqlQuery(Database::shared().value()).exec(QStringLiteral("INSERT INTO SERVPARE VALUES ('0001', '00003', 'Ceia especial', '00012', NULL)"));
    m_map->clear();
    m_map->prepareDestinationServices();
    m_map->build(serviceLines());
    QSqlQuery(Database::shared().value()).exec(QStringLiteral("DELETE FROM SERVPARE"));
    m_grid->setCurrentIndex(cell(2, ServiceGridFields::Orig)); // no destination cell selected

    // A tooltip on the remembered destination only, and its name in a colour of its own.
    const auto shown = [this](int row) {
        QToolTip::hideText();
        (void)QTest::qWaitFor([] { return !QToolTip::isVisible(); }); // the last tip fades on a timer
        const QRect r = m_grid->visualRect(cell(row, ServiceGridFields::Dest));
        QHelpEvent help(QEvent::ToolTip, r.center(), m_grid->viewport()->mapToGlobal(r.center()));
        QApplication::sendEvent(m_grid->viewport(), &help);
        const QImage shot = m_grid->viewport()->grab(r).toImage();
        bool coloured = false;
        for (int y = 0; y < shot.height() && !coloured; ++y)
            for (int x = 0; x < shot.width() && !coloured; ++x)
                coloured = shot.pixelColor(x, y) == ServiceGridDelegate::rememberedColour();
        return (QToolTip::isVisible() ? QToolTip::text() : QStringLiteral("-")) + (coloured ? " coloured" : "");
    };
    QCOMPARE(shown(0), QStringLiteral("Pareado pela última importação coloured"));
    QCOMPARE(shown(1), QStringLiteral("-"));

    // Another destination typed over it is the operator's: no longer told apart.
    ServiceCodeEditor *editor = openEditor(0);
    QVERIFY(editor);
    QTest::keyClicks(editor->lineEdit(), QStringLiteral("20"));
    QTest::keyClick(editor->lineEdit(), Qt::Key_Return);
    QCOMPARE(text(0, ServiceMap::ColDest), QStringLiteral("00020"));
    m_grid->setCurrentIndex(cell(2, ServiceGridFields::Orig));
    QCOMPARE(shown(0), QStringLiteral("-"));
    QVERIFY(m_sink.errors.isEmpty());
}

QTEST_MAIN(TestServiceGrid)
#include "tst_servicegrid.moc"
