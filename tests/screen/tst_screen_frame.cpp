// What the frame gives the screen around its own work: the open dialog as the screen describes
// it, the busy indicator (sized to its caption, gone before any message), the status text seen
// while the import blocks, a screen that cannot be shrunk over its fields, and the help: the page
// at the section of the focused field, its pictures, and every error text the review can show.
#include "screenfixture.h"

#include "dbprobe.h"
#include "exportwriter.h"
#include "serverprocess.h"

#include "busyoverlay.h"
#include "dishflags.h"
#include "helpviewer.h"
#include "importsession.h"
#include "memtablemodel.h"
#include "messages.h"

#include <QAbstractProxyModel>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>

namespace {

// Forwards to the real module; lets the test look at the screen while a method runs.
class SpyRdm final : public RemoteDataModule {
public:
    std::shared_ptr<RemoteDataModule> real;
    std::function<void(const QString &)> during;
    Result<QByteArray> call(const QString &method, const CallArgs &args) override
    {
        if (during)
            during(method);
        return real->call(method, args);
    }
};

// The text a label had when it was last painted.
class PaintWatch : public QObject {
public:
    QString lastPainted;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            lastPainted = static_cast<QLabel *>(o)->text();
        return false;
    }
};

// Answers the next modal dialog once it is up (reads it, then closes it).
void whenModal(std::function<void(QWidget *)> look)
{
    auto *timer = new QTimer;
    int tries = 0;
    QObject::connect(timer, &QTimer::timeout, [timer, look, tries]() mutable {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && ++tries < 100)
            return;
        timer->stop();
        timer->deleteLater();
        if (modal)
            look(modal);
    });
    timer->start(10);
}

QString helpPage()
{
    QFile f(HelpViewer::pageOf(13908000).toString().mid(3)); // "qrc:/..." -> ":/..."
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class ScreenFrameTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openDialogAsTheScreenDescribesIt();
    void fileDialogKeepsTheDatabaseLocks();
    void busyIndicatorFitsItsCaption();
    void busyIndicatorGoneBeforeTheMessage_data();
    void busyIndicatorGoneBeforeTheMessage();
    void importStatusPaintedBeforeTheCall();
    void screenNeverShrinksOverItsFields();
    void helpOpensAtTheFocusedField_data();
    void helpOpensAtTheFocusedField();
    void helpSearchAndHistory();
    void helpPicturesAreInTheResources();
    void helpExplainsEveryMessage();

private:
    TfrmImpoPrato *f() const { return frmImpoPrato; }
    void loadSample();
    std::unique_ptr<ScreenFixture> m_fx;
};

void ScreenFrameTest::init()
{
    OPEN_SCREEN(m_fx)
    settle();
}

void ScreenFrameTest::cleanup()
{
    delete HelpViewer::current();
    m_fx.reset();
}

void ScreenFrameTest::loadSample()
{
    m_fx->dialogs->openFileAnswers = {ScreenFixture::samplePath()};
    QTest::mouseClick(f()->sbtArquivo, Qt::LeftButton);
    QTest::keyClick(f()->medNmArquivo, Qt::Key_Tab);
    QTest::keyClick(f()->medCdFilial, Qt::Key_Tab);
    QCoreApplication::processEvents();
}

void ScreenFrameTest::openDialogAsTheScreenDescribesIt()
{
    QTest::mouseClick(f()->sbtArquivo, Qt::LeftButton);
    QCOMPARE(m_fx->dialogs->openDialogs.size(), 1);
    const ScriptedDialogs::OpenDialog asked = m_fx->dialogs->openDialogs.first();
    QCOMPARE(asked.title, QStringLiteral("Abrir"));
    QCOMPARE(asked.filter, QStringLiteral("Documento texto (*.txt)"));
    QCOMPARE(asked.defaultSuffix, QStringLiteral("txt"));

    // Qt's dialog gets the same, with every file on offer after the export files; it lists sizes
    // and dates in the operator's locale, whatever the machine's is.
    const QString file = m_fx->write(QByteArray(2838, 'x'), QStringLiteral("cardapio.txt"));
    f()->medNmArquivo->setText(QFileInfo(file).absolutePath() + u'/');
    const QLocale machine;
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    Dialogs *scripted = setDialogs(nullptr);
    QString title, suffix;
    QStringList filters, listed;
    whenModal([&](QWidget *modal) {
        if (auto *d = qobject_cast<QFileDialog *>(modal)) {
            title = d->windowTitle();
            filters = d->nameFilters();
            suffix = d->defaultSuffix();
            // What the list shows: the dialog's model, through the screen's proxy when there is one.
            QAbstractProxyModel *list = d->proxyModel();
            const auto *files = qobject_cast<QFileSystemModel *>(list ? list->sourceModel() : nullptr);
            const QModelIndex folder = files ? list->mapFromSource(files->index(d->directory().absolutePath())) : QModelIndex();
            if (files && QTest::qWaitFor([&] { return list->rowCount(folder) > 0; }))
                listed << list->index(0, 1, folder).data().toString() << list->index(0, 3, folder).data().toString();
        }
        modal->close();
    });
    QTest::mouseClick(f()->sbtArquivo, Qt::LeftButton);
    setDialogs(scripted);
    QLocale::setDefault(machine);
    QCOMPARE(title, QStringLiteral("Abrir"));
    QCOMPARE(filters, (QStringList{QStringLiteral("Documento texto (*.txt)"), allFilesFilter()}));
    QCOMPARE(suffix, QStringLiteral("txt"));
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed[0], QStringLiteral("2,77 kB"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d$")).match(listed[1]).hasMatch(),
             qPrintable(listed[1]));
}

void ScreenFrameTest::fileDialogKeepsTheDatabaseLocks()
{
    // The destination's own folder in the file field, as an operator may type it, and Qt's dialog
    // opened there and cancelled: it lists the database, its -wal and its -shm.
    const QString dbPath = QFileInfo(DbUrl::parse(m_fx->db->url()).value().path).absoluteFilePath();
    const QString shm = dbPath + QStringLiteral("-shm");
    const int held = DbProbe::locksHeld(shm);
    QVERIFY2(held > 0, "the screen's connections hold the WAL index");
    f()->medNmArquivo->setText(QFileInfo(dbPath).absolutePath() + u'/');
    Dialogs *scripted = setDialogs(nullptr);
    QString dbType;
    whenModal([&](QWidget *modal) {
        if (auto *d = qobject_cast<QFileDialog *>(modal)) {
            // Every file on show, as the operator may ask; listed, then looked at by type.
            d->selectNameFilter(allFilesFilter());
            auto *model = d->findChild<QFileSystemModel *>();
            for (int i = 0; i < 250 && model->index(shm, 2).data().toString().isEmpty(); ++i)
                QTest::qWait(20);
            dbType = model->index(dbPath, 2).data().toString();
        }
        modal->close();
    });
    QTest::mouseClick(f()->sbtArquivo, Qt::LeftButton);
    setDialogs(scripted);
    QVERIFY(!dbType.isEmpty());
    QCOMPARE(DbProbe::locksHeld(shm), held);

    // Picked or typed, the database is no export file.
    m_fx->main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_fx->main));
    QTest::mouseClick(f()->medNmArquivo, Qt::LeftButton);
    f()->medNmArquivo->setText(dbPath);
    QTest::keyClick(f()->medNmArquivo, Qt::Key_Tab);
    settle();
    QCOMPARE(m_fx->dialogs->errors.size(), 1);
    QVERIFY2(m_fx->dialogs->errors[0].contains(QStringLiteral("arquivo do banco de dados de destino")),
             qPrintable(m_fx->dialogs->errors[0]));
    m_fx->dialogs->clear();

    // Other programs on the same file meanwhile: one reads the history, one checkpoints the WAL,
    // then the screen and a command line each import. Both imports stay, and the file is sound.
    const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    QCOMPARE(ProcessRun::run(QStringLiteral(IMP40500_BIN), {"history", "--db", "sqlite:" + dbPath}).exitCode, 0);
    if (!sqlite3.isEmpty())
        QCOMPARE(ProcessRun::run(sqlite3, {dbPath, "PRAGMA wal_checkpoint(TRUNCATE);"}).exitCode, 0);
    const int before = m_fx->db->count(QStringLiteral("PRATO"));
    f()->medNmArquivo->clear();
    loadSample();
    QCOMPARE(f()->screenState(), TfrmImpoPrato::ScreenState::Loaded);
    QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
    settle();
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    const int afterScreen = m_fx->db->count(QStringLiteral("PRATO"));
    QVERIFY(afterScreen > before);
    ExportWriter other;
    other.dish(QStringLiteral("P"), QStringLiteral("300001"), QStringLiteral("PRATO DE OUTRO PROGRAMA"));
    const QString otherFile = m_fx->dir.filePath(QStringLiteral("outro.txt"));
    QVERIFY(other.write(otherFile));
    const ProcessRun cli = ProcessRun::run(QStringLiteral(IMP40500_BIN), {"import", otherFile, "--branch", "0001",
                                                                           "--db", "sqlite:" + dbPath});
    QVERIFY2(cli.exitCode == 0, cli.err.constData());
    QCOMPARE(DbProbe::locksHeld(shm), held);
    QCOMPARE(DbProbe::busyStatements(), QStringList());
    // Seen from a process of its own: the screen's import went to the WAL the others use.
    if (!sqlite3.isEmpty()) {
        const ProcessRun seen = ProcessRun::run(sqlite3, {dbPath, "SELECT COUNT(*) FROM PRATO; PRAGMA integrity_check;"});
        QCOMPARE(seen.out.trimmed(), QByteArray::number(afterScreen + 1) + "\nok");
    } else {
        QCOMPARE(DbProbe::integrity(dbPath), QStringLiteral("ok"));
    }
}

void ScreenFrameTest::busyIndicatorFitsItsCaption()
{
    auto *busy = m_fx->main->findChild<BusyOverlay *>();
    QVERIFY(busy);
    QCOMPARE(BusyOverlay::captionOf(6), QStringLiteral("Comunicando com o servidor..."));
    for (int kind : {1, 6}) {
        ActiveShowAvi(kind);
        QVERIFY(busy->isVisible());
        const int text = busy->fontMetrics().horizontalAdvance(BusyOverlay::captionOf(kind));
        // The spinner takes the first 60 pixels; the caption has to fit in the rest.
        QVERIFY2(busy->width() >= 60 + text, qPrintable(QString::number(busy->width())));
        QVERIFY(m_fx->main->rect().contains(busy->geometry()));
        DeactiveShowAvi();
        QVERIFY(!busy->isVisible());
    }
}

void ScreenFrameTest::busyIndicatorGoneBeforeTheMessage_data()
{
    QTest::addColumn<QString>("method");
    QTest::newRow("remembering the directory (kind 1)") << QStringLiteral("SetDiretorios");
    QTest::newRow("the load's tables (kind 6)") << QStringLiteral("GetReceFili");
    QTest::newRow("the import (kind 6)") << QStringLiteral("Importacao");
}

void ScreenFrameTest::busyIndicatorGoneBeforeTheMessage()
{
    QFETCH(QString, method);
    m_fx->rdm->failMethod = method;
    m_fx->rdm->failWith = QStringLiteral("Servidor fora do ar.");
    loadSample();
    if (method == QLatin1String("Importacao")) {
        QVERIFY(f()->sbtImportExport->isEnabled());
        QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
    }
    // A directory that cannot be remembered is a notice and the file still loads; the others fail
    // the action with the server's text.
    const QStringList shown = m_fx->dialogs->errors + m_fx->dialogs->infos;
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().contains(QStringLiteral("Servidor fora do ar.")), qPrintable(shown.first()));
    QCOMPARE(m_fx->dialogs->busyAtMessage, QList<bool>{false});
    QVERIFY(!busyIndicatorShowing());
    // The indicator still works afterwards.
    ActiveShowAvi(6);
    QVERIFY(busyIndicatorShowing());
    DeactiveShowAvi();
    QVERIFY(!busyIndicatorShowing());
}

void ScreenFrameTest::importStatusPaintedBeforeTheCall()
{
    auto spy = std::make_shared<SpyRdm>();
    spy->real = m_fx->rdm->real;
    m_fx->rdm->real = spy;
    loadSample();
    QVERIFY(f()->sbtImportExport->isEnabled());

    auto *status = f()->findChild<QLabel *>(QStringLiteral("lblStatus"));
    QVERIFY(status);
    PaintWatch watch;
    status->installEventFilter(&watch);
    QString shown, painted;
    spy->during = [&](const QString &method) {
        if (method == QLatin1String("Importacao")) {
            shown = f()->statusText();
            painted = watch.lastPainted;
        }
    };
    QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
    QCOMPARE(shown, Msg(QStringLiteral("Import")));
    QCOMPARE(painted, Msg(QStringLiteral("Import")));
    QVERIFY(f()->statusText().isEmpty());
}

void ScreenFrameTest::screenNeverShrinksOverItsFields()
{
    loadSample();
    const int field = f()->medNmArquivo->width();
    QHeaderView *titles = f()->dbgPrato->horizontalHeader();
    const int name = f()->dtsPrato->columnOfField(u"NMPRATO");
    const int nameWidth = titles->sectionSize(name);
    QVERIFY(nameWidth >= 309);

    QMdiSubWindow *sub = f()->subWindow();
    sub->resize(200, 120);
    QCoreApplication::processEvents();
    QVERIFY(f()->width() >= 552 && f()->height() >= 337);
    const auto fieldsInside = [this] {
        for (QWidget *w : {static_cast<QWidget *>(f()->medNmArquivo), static_cast<QWidget *>(f()->sbtArquivo),
                           static_cast<QWidget *>(f()->medCdFilial), static_cast<QWidget *>(f()->sbtFilial),
                           static_cast<QWidget *>(f()->edtNmFilial)}) {
            const QRect r(w->mapTo(f(), QPoint(0, 0)), w->size());
            QVERIFY2(f()->grbDadosRel->geometry().contains(r), qPrintable(w->objectName()));
        }
    };
    fieldsInside();

    // A wider window widens the file field, whose hint gives the whole path, and the dishes' names.
    sub->resize(1000, 600);
    QCoreApplication::processEvents();
    fieldsInside();
    QVERIFY(f()->medNmArquivo->width() - field > 300);
    QCOMPARE(f()->medNmArquivo->toolTip(), ScreenFixture::samplePath());
    QVERIFY(titles->sectionSize(name) - nameWidth > 300);
    QVERIFY(titles->length() <= f()->dbgPrato->viewport()->width());
}

void ScreenFrameTest::helpOpensAtTheFocusedField_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("heading");
    QTest::newRow("source file") << "medNmArquivo" << "Arquivo origem";
    QTest::newRow("branch") << "medCdFilial" << "Filial destino";
    QTest::newRow("dish grid") << "dbgPrato" << "A lista de pratos";
    QTest::newRow("no field: the top") << "" << "Importação de Prato (IMP40500)";
}

void ScreenFrameTest::helpOpensAtTheFocusedField()
{
    QFETCH(QString, field);
    QFETCH(QString, heading);
    if (field.isEmpty()) {
        // Asked from nowhere in particular: the page's top.
        HelpViewer::open(QStringLiteral("AdmHelp.hlp"), 13908000, {});
    } else {
        // The "?" button: context and fields go to the help.
        f()->findChild<QWidget *>(field)->setFocus();
        QTest::mouseClick(f()->findChild<QToolButton *>(QStringLiteral("sbtAjuda")), Qt::LeftButton);
        QCOMPARE(m_fx->dialogs->helps.size(), 1);
        QCOMPARE(m_fx->dialogs->helps.first().context, 13908000);
        QCOMPARE(m_fx->dialogs->helps.first().fields.value(0), field);

        // The program's help window at that field's section.
        Dialogs *scripted = setDialogs(nullptr);
        f()->showScreenHelp();
        setDialogs(scripted);
    }
    HelpViewer *viewer = HelpViewer::current();
    QVERIFY(viewer && viewer->isVisible());
    QCOMPARE(viewer->section(), field);
    QCoreApplication::processEvents();
    QTextBrowser *b = viewer->browser();
    const QString top = b->cursorForPosition(QPoint(8, 8)).block().text();
    QVERIFY2(top.contains(heading), qPrintable(top));
}

void ScreenFrameTest::helpSearchAndHistory()
{
    Dialogs *scripted = setDialogs(nullptr);
    f()->medNmArquivo->setFocus();
    f()->showScreenHelp();
    f()->medCdFilial->setFocus();
    f()->showScreenHelp();
    setDialogs(scripted);
    HelpViewer *viewer = HelpViewer::current();
    QCOMPARE(viewer->section(), QStringLiteral("medCdFilial"));
    QVERIFY(viewer->browser()->isBackwardAvailable());
    viewer->browser()->backward();
    QCOMPARE(viewer->section(), QStringLiteral("medNmArquivo"));

    // Whatever the case, from the cursor on.
    QVERIFY(viewer->findInPage(QStringLiteral("padrão")));
    QCOMPARE(viewer->browser()->textCursor().selectedText().toLower(), QStringLiteral("padrão"));
    const int first = viewer->browser()->textCursor().position();
    QVERIFY(viewer->findInPage(QStringLiteral("padrão")));
    QVERIFY(viewer->browser()->textCursor().position() != first);
    QVERIFY(!viewer->findInPage(QStringLiteral("nada disso existe")));
    QCOMPARE(viewer->findChild<QLabel *>(QStringLiteral("lblProcura"))->text(), Msg(QStringLiteral("Ajuda_N_Encontrado")));

    // At the size it opens with, the page is read top to bottom, never sideways.
    QCoreApplication::processEvents();
    QVERIFY2(viewer->browser()->document()->idealWidth() <= viewer->browser()->viewport()->width(),
             qPrintable(QString::number(viewer->browser()->document()->idealWidth())));
}

void ScreenFrameTest::helpPicturesAreInTheResources()
{
    const QString page = helpPage();
    QVERIFY(!page.isEmpty());
    QStringList pictures;
    const QRegularExpression img(QStringLiteral("<img[^>]*src=\"([^\"]+)\""));
    for (auto it = img.globalMatch(page); it.hasNext();)
        pictures << it.next().captured(1);
    QVERIFY(pictures.size() >= 4);
    for (const QString &p : pictures) {
        const QString path = QStringLiteral(":/help/") + p;
        QVERIFY2(QFile::exists(path), qPrintable(p));
        QVERIFY2(!QImage(path).isNull(), qPrintable(p));
    }
}

void ScreenFrameTest::helpExplainsEveryMessage()
{
    QTextDocument doc;
    doc.setHtml(helpPage());
    const QString help = doc.toPlainText();

    // Each position of the error flags the review reads, alone; the dish's name is a stand-in.
    const QString name = QStringLiteral("\x01");
    QStringList texts;
    for (int pos = 0; pos < 10; ++pos) {
        QString flags(10, u'0');
        flags[pos] = u'1';
        // A line number, where a text names one, reads as the page's stand-in "N".
        for (QString text : DishFlags::texts(flags, name, 7))
            texts += text.replace(QStringLiteral("linha 7"), QStringLiteral("linha N"));
    }
    QVERIFY(texts.size() >= 4);
    // The refusals of the parameter panel and of the service tab.
    for (const char *key : {"Arquivo_Deve", "Diretorio_N_Exist", "Arquivo_N_Exist", "Arquivo_Invalido", "Mascara_Dif",
                            "Filial_Deve", "Filial_N_Cad", "Filial_Resc", "Serv_Ja_Cad", "Serv_Dest_Cad",
                            "Serv_Cad_Fili", "Import", "ImportaOk"})
        texts << Msg(QString::fromLatin1(key));

    QStringList missing;
    for (const QString &text : texts) {
        for (const QString &part : text.split(name, Qt::SkipEmptyParts)) {
            if (part.trimmed().size() > 1 && !help.contains(part.trimmed()))
                missing << part.trimmed();
        }
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(" / "))));
}

QTEST_MAIN(ScreenFrameTest)
#include "tst_screen_frame.moc"
