// The screen and the import history: the sample imported once goes without a question; loaded and
// imported again into the same branch, the operator is asked first, "Não" sends nothing, and
// "Sim" leaves no trace of the question's box on the screen.
#include "screenfixture.h"

#include "importhistory.h"
#include "messages.h"

#include <QCryptographicHash>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPaintEvent>
#include <QSqlQuery>
#include <QToolButton>

namespace {

// Calls back on every paint of the whole widget it watches.
class PaintSeen : public QObject {
public:
    explicit PaintSeen(std::function<void()> seen) : m_seen(std::move(seen)) {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint
            && static_cast<QPaintEvent *>(event)->rect().contains(static_cast<QWidget *>(watched)->rect()))
            m_seen();
        return false;
    }

private:
    std::function<void()> m_seen;
};

} // namespace

class ScreenHistoryTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        OPEN_SCREEN(m_fx)
        settle();
    }
    void cleanup() { m_fx.reset(); }
    void sameFileAgainAsksFirst();

private:
    TfrmImpoPrato *f() const { return frmImpoPrato; }
    // Picks the sample in the open dialog and leaves the panel: the load runs.
    void loadSample();
    void clickImport()
    {
        QTest::mouseClick(f()->sbtImportExport, Qt::LeftButton);
        QCoreApplication::processEvents();
    }

    std::unique_ptr<ScreenFixture> m_fx;
};

void ScreenHistoryTest::loadSample()
{
    m_fx->dialogs->openFileAnswers = {ScreenFixture::samplePath()};
    QTest::mouseClick(f()->sbtArquivo, Qt::LeftButton);
    QTest::keyClick(f()->medNmArquivo, Qt::Key_Tab);
    QCoreApplication::processEvents();
    QTest::keyClick(f()->medCdFilial, Qt::Key_Tab);
    QCoreApplication::processEvents();
    QCOMPARE(m_fx->dialogs->errors, QStringList());
    QVERIFY(f()->sbtImportExport->isEnabled());
}

void ScreenHistoryTest::sameFileAgainAsksFirst()
{
    ScriptedDialogs &dialogs = *m_fx->dialogs;
    // A query left positioned on the shared connection keeps a read snapshot from before the
    // first import; the check must see past it.
    QSqlQuery held(Database::shared().value());
    QVERIFY(held.exec(QStringLiteral("SELECT CDPRATO FROM PRATO")) && held.next());
    // An export that wrote these same bytes yesterday is no import of them: nothing is asked.
    QFile sample(ScreenFixture::samplePath());
    QVERIFY(sample.open(QIODevice::ReadOnly));
    ImportHistory::Entry exported;
    exported.kind = ImportHistory::Entry::Kind::Export;
    exported.id = QStringLiteral("exportacao-anterior");
    exported.when = QDateTime::currentDateTimeUtc().addDays(-1);
    exported.branch = QStringLiteral("0001");
    exported.sha256 = QString::fromLatin1(QCryptographicHash::hash(sample.readAll(), QCryptographicHash::Sha256).toHex());
    exported.ok = true;
    QVERIFY(ImportHistory::insert(m_fx->db->db(), exported));
    loadSample();
    clickImport();
    QCOMPARE(dialogs.questions, QStringList());
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("Importacao")), 1);
    auto history = ImportHistory::list(m_fx->db->db());
    QVERIFY2(history && history->size() == 2, qPrintable(history.error()));
    const ImportHistory::Entry first = history->first();
    QCOMPARE(first.operatorCode, QStringLiteral("ADMIN"));
    QCOMPARE(first.fileName, QStringLiteral("pratos-exemplo.txt"));
    QCOMPARE(first.sha256.size(), 64);

    // The same file again: the question names the first import; "Não" leaves everything as loaded.
    loadSample();
    dialogs.questionAnswers = {false};
    const int infos = int(dialogs.infos.size());
    clickImport();
    const QString question = Msg(QStringLiteral("Hist_JaImportado"))
                                 .arg(first.when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")),
                                      QStringLiteral("ADMIN"));
    QCOMPARE(dialogs.questions, QStringList{question});
    QVERIFY(question.startsWith(QStringLiteral("Este arquivo já foi importado em ")));
    QVERIFY(question.endsWith(QStringLiteral(" por ADMIN. Importar novamente?")));
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("Importacao")), 1);
    QCOMPARE(dialogs.infos.size(), infos);
    QVERIFY(f()->sbtImportExport->isEnabled());
    QVERIFY(f()->medNmArquivo->isEnabled());

    // "Sim": imported again, and on record twice. What the question's box covered is painted
    // again before the import blocks the screen, not left under the busy indicator.
    dialogs.questionAnswers = {true};
    bool answered = false, repainted = false, repaintedBeforeImport = false;
    dialogs.afterQuestion = [&](bool) { answered = true; };
    PaintSeen paints([&] { repainted = repainted || answered; });
    f()->grbDadosRel->installEventFilter(&paints);
    m_fx->rdm->onCall = [&](const QString &method) {
        if (method == u"Importacao")
            repaintedBeforeImport = repainted;
    };
    clickImport();
    m_fx->rdm->onCall = {};
    QVERIFY(repaintedBeforeImport);
    QCOMPARE(dialogs.questions.size(), 2);
    QCOMPARE(m_fx->rdm->calls.value(QStringLiteral("Importacao")), 2);
    QCOMPARE(dialogs.errors, QStringList());
    QCOMPARE(ImportHistory::list(m_fx->db->db())->size(), 3);
}

QTEST_MAIN(ScreenHistoryTest)
#include "tst_screen_history.moc"
