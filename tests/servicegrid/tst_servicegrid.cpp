// The grid of the tab "Serviço" over a service map built from three exported services against a
// small destination database: codes typed into the real in-place editor, the keys the grid
// refuses, the cell button's lookup, and what each leaves in the map and in the list of
// destinations in use.
#include "ambiente.h"
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
#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

namespace {

const QString kJaInformado = QStringLiteral("Serviço destino já informado.");
const QString kNaoCadastrado = QStringLiteral("Serviço destino não cadastrado.");

class CapturingSink : public MessageSink {
public:
    QStringList errors;
    void showError(const QString &text) override { errors << text; }
    void showInfo(const QString &) override {}
};

// Answers the lookup without a window: reads the list as the lookup would and picks a code.
struct ScriptedLookup {
    QString pick; // empty: the operator cancels
    int calls = 0;
    QString caption, branch;

    std::optional<ServiceChoice> operator()(ReadOnlyQuery &services, const QString &cap)
    {
        ++calls;
        caption = cap;
        branch = services.param(QStringLiteral("P_CDFILIAL")).toString();
        if (pick.isEmpty())
            return std::nullopt;
        for (services.open(); !services.eof(); services.next()) {
            if (services.value(0).toString() == pick)
                return ServiceChoice{services.value(0).toString(), services.value(1).toString()};
        }
        return std::nullopt;
    }
};

QString line(const QString &a, const QString &b, const QString &c)
{
    const QChar t(0x00F8);
    return QStringLiteral("SERVICO") + t + a + t + b + t + c + t;
}

} // namespace

class TestServiceGrid : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void typingStartsTheEdit();
    void leavingTheDestination_data();
    void leavingTheDestination();
    void escapeRestores_data();
    void escapeRestores();
    void keysThatDoNothing_data();
    void keysThatDoNothing();
    void originIsReadOnly_data();
    void originIsReadOnly();
    void downOnTheLastRow_data();
    void downOnTheLastRow();
    void lookup_data();
    void lookup();
    void drawnText_data();
    void drawnText();
    void screenshot();

private:
    QModelIndex cell(int row, QStringView field) const;
    ServiceCodeEditor *openEditor(int row);
    QString text(int row, int col) const { return m_map->cdsServico.textAt(row, col); }
    int inUse(const QString &code) const;
    QStringList snapshot() const;

    QTemporaryDir m_dir;
    CapturingSink m_sink;
    ScriptedLookup m_lookup;
    std::unique_ptr<ServiceMap> m_map;
    std::unique_ptr<TServiceGrid> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestServiceGrid::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(QStringLiteral("destino.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE SERVICO (CDFILIAL VARCHAR(4), CDSERVFILI VARCHAR(5), NMSERVICO VARCHAR(40))")));
        const char *rows[][3] = {{"0001", "00005", "ALMOCO"}, {"0001", "00007", "JANTAR"}, {"0001", "00012", "CEIA"},
                                 {"0001", "00020", "LANCHE"}, {"0002", "00099", "OUTRA FILIAL"}};
        for (const auto &r : rows) {
            q.prepare(QStringLiteral("INSERT INTO SERVICO VALUES (?, ?, ?)"));
            for (const char *v : r)
                q.addBindValue(QString::fromLatin1(v));
            QVERIFY(q.exec());
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
    Ambiente::instance().databaseUrl = QStringLiteral("sqlite:") + path;
    Database::closeShared();
}

void TestServiceGrid::init()
{
    m_sink.errors.clear();
    setMessageSink(&m_sink);
    m_lookup = ScriptedLookup{};

    // Rows come out in reverse file order: 0 "Ceia especial" (unpaired), 1 JANTAR -> 00007,
    // 2 ALMOCO -> 00005.
    m_map = std::make_unique<ServiceMap>();
    m_map->CdFilialDestino = [] { return QStringLiteral("0001"); };
    m_map->prepareDestinationServices();
    QCOMPARE(m_map->build({line(QStringLiteral("CDSERVFILI"), QStringLiteral("NMSERVICO"), {}),
                           line(QStringLiteral("00001"), QStringLiteral("almoco"), {}),
                           line(QStringLiteral("00002"), QStringLiteral("Jantar"), {}),
                           line(QStringLiteral("00003"), QStringLiteral("Ceia especial"), {})}),
             3);

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

QModelIndex TestServiceGrid::cell(int row, QStringView field) const
{
    MemTableModel *model = m_grid->dtsServico();
    return model->index(row, model->columnOfField(field));
}

ServiceCodeEditor *TestServiceGrid::openEditor(int row)
{
    const QModelIndex dest = cell(row, ServiceGridFields::Dest);
    m_grid->setCurrentIndex(dest);
    m_grid->edit(dest);
    return m_grid->inplaceEditor();
}

int TestServiceGrid::inUse(const QString &code) const
{
    const MemTable &t = m_map->cdsServDestino;
    int n = 0;
    for (int r = 0; r < t.rowCount(); ++r)
        n += t.textAt(r, ServiceMap::ColDestCodigo) == code;
    return n;
}

QStringList TestServiceGrid::snapshot() const
{
    QStringList rows;
    for (int r = 0; r < m_map->cdsServico.rowCount(); ++r)
        rows << m_map->cdsServico.rowValues(r).first().toString() + u'|' + text(r, ServiceMap::ColDest) + u'|'
                    + text(r, ServiceMap::ColNmDest);
    return rows;
}

void TestServiceGrid::typingStartsTheEdit()
{
    QSignalSpy stateChanges(m_grid.get(), &TServiceGrid::stateChange);
    ServiceCodeEditor *editor = openEditor(1);
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("00007"));
    QCOMPARE(m_map->cdsServico.state(), TableState::Browse); // opening alone edits nothing

    QTest::keyClick(editor->lineEdit(), Qt::Key_1);
    QCOMPARE(m_map->cdsServico.state(), TableState::Edit);
    QCOMPARE(inUse(QStringLiteral("00007")), 0); // released by the before-edit event
    QCOMPARE(stateChanges.count(), 1);
    QCOMPARE(editor->lineEdit()->maxLength(), 5);
    QTest::keyClicks(editor->lineEdit(), QStringLiteral("23456"));
    QCOMPARE(editor->text(), QStringLiteral("12345"));
    QTest::keyClick(editor->lineEdit(), Qt::Key_Escape);
    QCOMPARE(stateChanges.count(), 2);

    // A key typed on the cell itself opens the editor with that key in place of the code.
    m_grid->setCurrentIndex(cell(2, ServiceGridFields::Dest));
    QTest::keyClick(m_grid.get(), Qt::Key_2, Qt::NoModifier);
    QVERIFY(m_grid->inplaceEditor());
    QCOMPARE(m_grid->inplaceEditor()->text(), QStringLiteral("2"));
    QCOMPARE(m_map->cdsServico.state(), TableState::Edit);
    QCOMPARE(inUse(QStringLiteral("00005")), 0);
}

void TestServiceGrid::leavingTheDestination_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("typed");  // "<clear>": the code erased
    QTest::addColumn<QString>("leaveBy");
    QTest::addColumn<QString>("error");  // empty: accepted
    QTest::addColumn<QString>("code");   // stored afterwards
    QTest::addColumn<QString>("name");

    QTest::newRow("short code, Tab") << 0 << "12" << "Tab" << QString() << "00012" << "CEIA";
    QTest::newRow("short code, Enter") << 0 << "12" << "Enter" << QString() << "00012" << "CEIA";
    QTest::newRow("the row's own code again") << 1 << "7" << "Enter" << QString() << "00007" << "JANTAR";
    QTest::newRow("untouched editor, Enter") << 1 << "" << "Enter" << QString() << "00007" << "JANTAR";
    QTest::newRow("cleared: no check, name kept") << 1 << "<clear>" << "Enter" << QString() << "" << "JANTAR";
    QTest::newRow("another row's, Enter") << 0 << "7" << "Enter" << kJaInformado << "00007" << "";
    QTest::newRow("another row's, Tab") << 0 << "5" << "Tab" << kJaInformado << "00005" << "";
    QTest::newRow("another row's, Shift+Tab") << 1 << "00005" << "Backtab" << kJaInformado << "00005" << "JANTAR";
    QTest::newRow("another row's, Down") << 0 << "5" << "Down" << kJaInformado << "00005" << "";
    QTest::newRow("another row's, click on a row") << 0 << "5" << "Click" << kJaInformado << "00005" << "";
    QTest::newRow("not at the destination, Enter") << 0 << "99" << "Enter" << kNaoCadastrado << "00099" << "";
    QTest::newRow("other branch's code, Up") << 1 << "99" << "Up" << kNaoCadastrado << "00099" << "JANTAR";
    QTest::newRow("letters stay as typed") << 0 << "ab" << "Tab" << kNaoCadastrado << "ab" << "";
}

void TestServiceGrid::leavingTheDestination()
{
    QFETCH(int, row);
    QFETCH(QString, typed);
    QFETCH(QString, leaveBy);
    QFETCH(QString, error);
    QFETCH(QString, code);
    QFETCH(QString, name);

    ServiceCodeEditor *editor = openEditor(row);
    QVERIFY(editor);
    QLineEdit *le = editor->lineEdit();
    if (typed == u"<clear>")
        QTest::keyClick(le, Qt::Key_Backspace);
    else
        QTest::keyClicks(le, typed);

    if (leaveBy == u"Tab")
        QTest::keyClick(le, Qt::Key_Tab);
    else if (leaveBy == u"Backtab")
        QTest::keyClick(le, Qt::Key_Backtab, Qt::ShiftModifier);
    else if (leaveBy == u"Enter")
        QTest::keyClick(le, Qt::Key_Return);
    else if (leaveBy == u"Down")
        QTest::keyClick(le, Qt::Key_Down);
    else if (leaveBy == u"Up")
        QTest::keyClick(le, Qt::Key_Up);
    else
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {},
                          m_grid->visualRect(cell(2, ServiceGridFields::Orig)).center());

    QCOMPARE(text(row, ServiceMap::ColDest), code);
    QCOMPARE(text(row, ServiceMap::ColNmDest), name);
    if (error.isEmpty()) {
        QVERIFY2(m_sink.errors.isEmpty(), qPrintable(m_sink.errors.join(u'\n')));
        QCOMPARE(m_map->cdsServico.state(), TableState::Browse);
        QCOMPARE(inUse(code), code.isEmpty() ? 0 : 1);
        const QModelIndex dest = cell(row, ServiceGridFields::Dest);
        QCOMPARE(ServiceGridDelegate::overlayText(dest, false, QStyle::State_Enabled), code.isEmpty() ? QString() : name);
        if (leaveBy == u"Enter")
            QVERIFY(!m_grid->inplaceEditor());
    } else {
        QCOMPARE(m_sink.errors, QStringList{error});
        // Still editing the same row, on its destination cell, with the code as it was adjusted.
        QCOMPARE(m_map->cdsServico.state(), TableState::Edit);
        QCOMPARE(m_map->cdsServico.currentRow(), row);
        QCOMPARE(m_grid->currentIndex(), cell(row, ServiceGridFields::Dest));
        QVERIFY(m_grid->inplaceEditor());
        QCOMPARE(m_grid->inplaceEditor()->text(), code);
        QCOMPARE(inUse(code), error == kJaInformado ? 1 : 0); // held by the other row, not this one
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

    ServiceCodeEditor *editor = openEditor(1);
    QVERIFY(editor);
    QTest::keyClicks(editor->lineEdit(), typed);
    if (enterFirst) {
        QTest::keyClick(editor->lineEdit(), Qt::Key_Return);
        QCOMPARE(m_sink.errors, QStringList{kJaInformado});
    }
    QCOMPARE(inUse(QStringLiteral("00007")), 0);
    QTest::keyClick(m_grid->inplaceEditor()->lineEdit(), Qt::Key_Escape);

    QCOMPARE(snapshot(), before);
    QCOMPARE(m_map->cdsServico.state(), TableState::Browse);
    QVERIFY(!m_grid->inplaceEditor());
    // The released destination is held again, once: no other row can take it now.
    QCOMPARE(inUse(QStringLiteral("00007")), 1);
    QCOMPARE(m_map->cdsServDestino.rowCount(), 2);
}

void TestServiceGrid::keysThatDoNothing_data()
{
    QTest::addColumn<QString>("where"); // origin, destination, editor
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Ctrl+Delete on the origin") << "origin" << int(Qt::Key_Delete) << int(Qt::ControlModifier);
    QTest::newRow("Ctrl+Delete on the destination") << "destination" << int(Qt::Key_Delete) << int(Qt::ControlModifier);
    QTest::newRow("Ctrl+Delete in the editor") << "editor" << int(Qt::Key_Delete) << int(Qt::ControlModifier);
    QTest::newRow("Insert on the origin") << "origin" << int(Qt::Key_Insert) << int(Qt::NoModifier);
    QTest::newRow("Ctrl+Insert on the destination") << "destination" << int(Qt::Key_Insert) << int(Qt::ControlModifier);
    QTest::newRow("Shift+Insert in the editor") << "editor" << int(Qt::Key_Insert) << int(Qt::ShiftModifier);
    QTest::newRow("Delete on the origin") << "origin" << int(Qt::Key_Delete) << int(Qt::NoModifier);
}

void TestServiceGrid::keysThatDoNothing()
{
    QFETCH(QString, where);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    const QStringList before = snapshot();

    QWidget *target = m_grid.get();
    if (where == u"editor") {
        ServiceCodeEditor *editor = openEditor(1);
        QVERIFY(editor);
        if (key == Qt::Key_Delete)
            editor->lineEdit()->setCursorPosition(2); // a word to delete after the cursor
        QGuiApplication::clipboard()->setText(QStringLiteral("12")); // over the selected code
        target = editor->lineEdit();
    } else {
        m_grid->setCurrentIndex(cell(1, where == u"origin" ? ServiceGridFields::Orig : ServiceGridFields::Dest));
    }
    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    QCOMPARE(m_grid->dtsServico()->rowCount(), 3);
    QCOMPARE(snapshot(), before);
    QCOMPARE(m_map->cdsServico.state(), TableState::Browse);
    if (where == u"editor")
        QCOMPARE(m_grid->inplaceEditor()->text(), QStringLiteral("00007"));
    QVERIFY(m_sink.errors.isEmpty());
}

void TestServiceGrid::originIsReadOnly_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("typed");
    QTest::newRow("letter") << int(Qt::Key_A) << "a";
    QTest::newRow("digit that starts every code") << int(Qt::Key_0) << "0";
    QTest::newRow("space") << int(Qt::Key_Space) << " ";
    QTest::newRow("Backspace") << int(Qt::Key_Backspace) << "\b";
    QTest::newRow("F2") << int(Qt::Key_F2) << "";
}

void TestServiceGrid::originIsReadOnly()
{
    QFETCH(int, key);
    QFETCH(QString, typed);
    const QStringList before = snapshot();
    const QModelIndex origin = cell(1, ServiceGridFields::Orig);
    m_grid->setCurrentIndex(origin);

    // Twice: a second equal character is where a keyboard search would move to the next row.
    for (int i = 0; i < 2; ++i) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, typed);
        QApplication::sendEvent(m_grid.get(), &press);
    }

    QCOMPARE(snapshot(), before);
    QCOMPARE(m_map->cdsServico.state(), TableState::Browse);
    QCOMPARE(m_grid->currentIndex(), origin); // no search moved the cursor
    QVERIFY(!m_grid->inplaceEditor());
    // No editor, so no button either; the handler itself ignores the origin column.
    m_grid->dbgPadraoEditButtonClick();
    QCOMPARE(m_lookup.calls, 0);
}

void TestServiceGrid::downOnTheLastRow_data()
{
    QTest::addColumn<QString>("typed"); // empty: no edit
    QTest::addColumn<int>("key");
    QTest::newRow("Down, browsing") << QString() << int(Qt::Key_Down);
    QTest::newRow("Down with an edit, which is posted") << "20" << int(Qt::Key_Down);
    QTest::newRow("Tab past the last cell, with an edit") << "20" << int(Qt::Key_Tab);
}

void TestServiceGrid::downOnTheLastRow()
{
    QFETCH(QString, typed);
    QFETCH(int, key);
    if (typed.isEmpty()) {
        m_grid->setCurrentIndex(cell(2, ServiceGridFields::Dest));
        QTest::keyClick(m_grid.get(), Qt::Key(key));
    } else {
        ServiceCodeEditor *editor = openEditor(2);
        QVERIFY(editor);
        QTest::keyClicks(editor->lineEdit(), typed);
        QTest::keyClick(editor->lineEdit(), Qt::Key(key));
    }
    QCOMPARE(m_grid->dtsServico()->rowCount(), 3);
    QCOMPARE(m_map->cdsServico.rowCount(), 3);
    QCOMPARE(m_grid->currentIndex(),
             cell(2, key == Qt::Key_Tab ? ServiceGridFields::Orig : ServiceGridFields::Dest));
    QCOMPARE(m_map->cdsServico.state(), TableState::Browse);
    QCOMPARE(text(2, ServiceMap::ColDest), typed.isEmpty() ? QStringLiteral("00005") : QStringLiteral("00020"));
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

    QTest::newRow("cancelled") << 1 << "" << "" << "" << "00007" << "JANTAR" << int(TableState::Browse);
    QTest::newRow("cancelled while typing") << 1 << "12" << "" << "" << "00007" << "JANTAR" << int(TableState::Edit);
    QTest::newRow("the row's own service") << 1 << "" << "00007" << "" << "00007" << "JANTAR" << int(TableState::Browse);
    QTest::newRow("a free service") << 0 << "" << "00020" << "" << "00020" << "LANCHE" << int(TableState::Browse);
    QTest::newRow("over a typed code") << 0 << "99" << "00012" << "" << "00012" << "CEIA" << int(TableState::Browse);
    QTest::newRow("another row's service") << 0 << "" << "00005" << kJaInformado << "00005" << "ALMOCO" << int(TableState::Edit);
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

    ServiceCodeEditor *editor = openEditor(row);
    QVERIFY(editor);
    QVERIFY(editor->button()->isVisible());
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
    QVERIFY(m_grid->inplaceEditor());
    // The editor shows what the row holds, or what was typed when nothing was chosen.
    QCOMPARE(m_grid->inplaceEditor()->text(), pick.isEmpty() && !typedFirst.isEmpty() ? typedFirst : code);
    if (error.isEmpty() && state == int(TableState::Browse))
        QCOMPARE(inUse(code), 1);
}

void TestServiceGrid::drawnText_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("gridEditing");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("expected");

    const int plain = QStyle::State_Enabled;
    const int selected = plain | QStyle::State_Selected;
    const int focused = selected | QStyle::State_HasFocus;
    const QString dest = QString(ServiceGridFields::Dest.toString());
    const QString orig = QString(ServiceGridFields::Orig.toString());
    QTest::newRow("destination: its name") << 1 << dest << false << selected << "JANTAR";
    QTest::newRow("destination, editing, lookup open: its code") << 1 << dest << true << selected << "00007";
    QTest::newRow("destination, editing, focused: its name") << 1 << dest << true << focused << "JANTAR";
    QTest::newRow("destination, editing, another cell") << 1 << dest << true << plain << "JANTAR";
    QTest::newRow("unpaired destination: nothing") << 0 << dest << false << plain << "";
    QTest::newRow("origin: its name") << 0 << orig << false << focused << "Ceia especial";
    QTest::newRow("origin, editing, unfocused: its code") << 0 << orig << true << selected << "00003";
}

void TestServiceGrid::drawnText()
{
    QFETCH(int, row);
    QFETCH(QString, field);
    QFETCH(bool, gridEditing);
    QFETCH(int, state);
    QFETCH(QString, expected);
    const std::optional<QString> drawn =
        ServiceGridDelegate::overlayText(cell(row, field), gridEditing, QStyle::State(state));
    QVERIFY(drawn);
    QCOMPARE(*drawn, expected);

    // A hidden column draws nothing of its own, and an empty map nothing at all.
    QVERIFY(!ServiceGridDelegate::overlayText(cell(row, ServiceGridFields::NmDest), false, QStyle::State_Enabled));
    m_map->clear();
    QCOMPARE(m_grid->dtsServico()->rowCount(), 0);
    // The emptied map resets the model; the grid still shows its two code columns only.
    const int nameColumn = m_grid->dtsServico()->columnOfField(ServiceGridFields::NmOrig);
    QVERIFY(m_grid->isColumnHidden(nameColumn));
    QCOMPARE(m_grid->columnWidth(m_grid->dtsServico()->columnOfField(ServiceGridFields::Dest)), TServiceGrid::ColumnWidth);
}

void TestServiceGrid::screenshot()
{
    // The tab as the screen nests it: a lowered panel, a borderless scroll box, the grid.
    QTabWidget tabs;
    tabs.addTab(new QWidget, QStringLiteral("Prato"));
    auto *tab = new QWidget;
    auto *panGrid = new QFrame(tab);
    panGrid->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto *sclGrid = new QScrollArea(panGrid);
    sclGrid->setFrameShape(QFrame::NoFrame);
    sclGrid->setWidgetResizable(true);
    auto *grid = new TServiceGrid;
    grid->setServiceMap(m_map.get());
    sclGrid->setWidget(grid);
    (new QVBoxLayout(panGrid))->addWidget(sclGrid);
    (new QVBoxLayout(tab))->addWidget(panGrid);
    tabs.addTab(tab, QStringLiteral("Serviço"));
    tabs.setCurrentIndex(1);
    tabs.resize(520, 150);
    m_grid->hide();
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));
    grid->setFocus();
    grid->setCurrentIndex(grid->dtsServico()->index(1, grid->dtsServico()->columnOfField(ServiceGridFields::Dest)));

    QCOMPARE(grid->horizontalHeader()->count() - grid->horizontalHeader()->hiddenSectionCount(), 2);
    QCOMPARE(grid->columnWidth(0), TServiceGrid::ColumnWidth);
    const QImage shot = tabs.grab().toImage();
    // An unselected data cell is painted in the tooltip background.
    const QRect plainCell = grid->visualRect(grid->dtsServico()->index(2, 0));
    const QPoint inTabs = grid->viewport()->mapTo(&tabs, plainCell.bottomRight() - QPoint(4, 2));
    QCOMPARE(shot.pixelColor(inTabs), grid->palette().color(QPalette::Base));

    const QString source = qEnvironmentVariable("IMP_SOURCE_DIR");
    const QString path = source.isEmpty() ? m_dir.filePath(QStringLiteral("service-tab.png"))
                                          : source + QStringLiteral("/docs/screenshots/service-tab.png");
    QDir().mkpath(QFileInfo(path).absolutePath());
    QVERIFY(shot.save(path));
    grid->setServiceMap(nullptr);
}

QTEST_MAIN(TestServiceGrid)
#include "tst_servicegrid.moc"
