// The error report, the load pass's stop and the preview of an import, below the screen: the CSV
// rows of a loaded file, where a requested stop ends the pass, and GetPrevia through both
// transports on both databases, checked against what Importacao then really replaces.
#include "loadfixture.h"

#include "datapacket.h"
#include "errorcsv.h"
#include "importpreview.h"
#include "messages.h"
#include "stoprequest.h"

#include <QCborMap>

namespace {

// Requests a stop when the pass reports the given data line.
struct StoppingObserver : LoadObserver {
    StopRequest *stop = nullptr;
    int at = -1;
    void setProgress(int position) override
    {
        if (position == at && stop)
            stop->request();
    }
};

// The recipes' lines of the preview's file: a standard dish the destination holds, with its
// standard recipe; a local dish it holds under the same name, with its branch recipe.
void addKnownDishes(ExportWriter &w, bool recipes)
{
    w.dish("P", "100001", "ARROZ BRANCO");
    if (recipes)
        w.add({"RECEPADR", "P", "100001", "000101", "KG", "1"});
    w.dish("0009", "000901", "MOUSSE DE CHOCOLATE");
    if (recipes)
        w.add({"RECEFILI", "0009", "0009", "000901", "000113", "UN", "1"});
}

} // namespace

class TstErrPrev : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();
    void errorRows();
    void loadStops_data();
    void loadStops();
    void preview_data();
    void preview();
    void previewRefusals_data();
    void previewRefusals();
    void previewKeys_data();
    void previewKeys();

private:
    // The first global row alone runs the tests that do not depend on the database or transport.
    bool firstRowOnly();
    std::unique_ptr<SeededServer> m_srv;
    std::unique_ptr<ImportSession> m_session;
};

void TstErrPrev::initTestCase_data()
{
    QTest::addColumn<QString>("db");
    QTest::addColumn<QString>("transport");
    for (const char *db : {"sqlite", "postgresql"})
        for (const char *t : {"inprocess", "http"})
            QTest::addRow("%s/%s", db, t) << QString::fromLatin1(db) << QString::fromLatin1(t);
}

void TstErrPrev::init()
{
    QFETCH_GLOBAL(QString, db);
    QFETCH_GLOBAL(QString, transport);
    SKIP_UNLESS_AVAILABLE(db);
    if (QByteArray(QTest::currentTestFunction()) == "loadStops" && !firstRowOnly())
        QSKIP("the same pass on every database and transport");
    QString why;
    m_srv = SeededServer::make(db, SeededServer::transportOf(transport), &why);
    QVERIFY2(m_srv, qPrintable(why));
    m_srv->useAsOperatorDatabase();
    m_session = std::make_unique<ImportSession>(m_srv->net);
    m_session->CdFilial = QStringLiteral("0001");
}

void TstErrPrev::cleanup()
{
    m_session.reset();
    m_srv.reset();
}

bool TstErrPrev::firstRowOnly()
{
    QFETCH_GLOBAL(QString, db);
    QFETCH_GLOBAL(QString, transport);
    return db == u"sqlite" && transport == u"inprocess";
}

void TstErrPrev::errorRows()
{
    // A dish with two errors (a unit on its line, a product on its recipe's) gets two rows; a dish
    // the destination holds under another name one; a clean dish none.
    ExportWriter w;
    w.dish("P", "555001", "ARROZ; \"ESPECIAL\"", "XX")
        .add({"RECEPADR", "P", "555001", "999999", "KG", "1"})
        .dish("0009", "000900", "OUTRO NOME")
        .dish("P", "555002", "LIMPO");
    m_session->NmArquivo = m_srv->write(w);
    QCOMPARE(runPass(*m_session), QString());

    const QByteArray csv = ErrorCsv::text(*m_session, QStringLiteral("999.999"), true);
    QCOMPARE(csv,
             QByteArray("\xEF\xBB\xBF"
                        "linha;prato;nome;arvore;erro\r\n"
                        "14;555.001;\"ARROZ; \"\"ESPECIAL\"\"\";Padr\xC3\xA3o;Unidade de medida n\xC3\xA3o existe no destino.\r\n"
                        "14;555.001;\"ARROZ; \"\"ESPECIAL\"\"\";Padr\xC3\xA3o;Produto n\xC3\xA3o existe no destino.\r\n"
                        "16;000.900;OUTRO NOME;Local;Prato j\xC3\xA1 existe no destino PUDIM DE LEITE CONDENSADO.\r\n"));
    QVERIFY(ErrorCsv::anyErrors(*m_session));
    QCOMPARE(ErrorCsv::field(u"A\r\nB"), QByteArray("\"A\r\nB\""));
    // What a spreadsheet would evaluate stays text: export files come from other installations.
    for (const char *formula : {"=1+1", "+55 11", "-2", "@SOMA(A1)", "\t=1"})
        QCOMPARE(ErrorCsv::field(QString::fromLatin1(formula)), QByteArray("'") + formula);
    QCOMPARE(ErrorCsv::field(u"\r=1"), QByteArray("\"'\r=1\""));
    QCOMPARE(ErrorCsv::field(u"1-2"), QByteArray("1-2"));
    // Without its mark, for the clipboard, the same rows.
    QCOMPARE(ErrorCsv::text(*m_session, QStringLiteral("999.999"), false), csv.mid(3));

    // Written whole; a folder that does not exist is told and leaves nothing behind.
    const QString out = m_srv->dir.filePath(QStringLiteral("erros.csv"));
    QVERIFY(ErrorCsv::write(*m_session, QStringLiteral("999.999"), out));
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), csv);
    const Status refused = ErrorCsv::write(*m_session, QString(), m_srv->dir.filePath(QStringLiteral("nada/erros.csv")));
    QVERIFY(!refused);
    QCOMPARE(refused.failure().key, QStringLiteral("Erros_Gravar_Falha"));
    QVERIFY(!QFile::exists(m_srv->dir.filePath(QStringLiteral("nada/erros.csv"))));
}

void TstErrPrev::loadStops_data()
{
    QTest::addColumn<int>("stopAt");         // data line whose report asks for the stop; 0: before the pass
    QTest::addColumn<bool>("processRequest"); // the process's request (signals) instead of the session's
    QTest::addColumn<int>("linesRead");      // -1: the pass completes
    // The pass looks every 64 data lines: a stop costs at most 63 more lines.
    QTest::newRow("on a checked line") << 64 << false << 64;
    QTest::newRow("between two checks") << 100 << false << 128;
    QTest::newRow("signal before the pass") << 0 << true << 0;
    // A stop the screen asked for during the last pass does not stop the next one.
    QTest::newRow("own request left from before") << 0 << false << -1;
}

void TstErrPrev::loadStops()
{
    QFETCH(int, stopAt);
    QFETCH(bool, processRequest);
    QFETCH(int, linesRead);
    ExportWriter w;
    for (int i = 0; i < 300; ++i)
        w.dish("P", QStringLiteral("7%1").arg(i, 5, 10, QLatin1Char('0')), QStringLiteral("PRATO %1").arg(i));
    m_session->NmArquivo = m_srv->write(w);
    StopRequest &process = StopRequest::process();
    if (processRequest)
        m_session->setStopRequest(&process);
    StoppingObserver obs;
    obs.stop = &m_session->stopRequest();
    obs.at = stopAt > 0 ? stopAt : -1;
    m_session->setObserver(&obs);
    if (stopAt == 0)
        m_session->stopRequest().request(processRequest ? 2 : 0);

    const QString outcome = runPass(*m_session);
    process.reset();
    QCOMPARE(outcome, linesRead < 0 ? QString() : QStringLiteral("Carga_Cancelada"));
    QCOMPARE(m_session->stats().dataLines, linesRead < 0 ? 300 : linesRead);
    QVERIFY(!m_session->Carregando);
}

void TstErrPrev::preview_data()
{
    QTest::addColumn<bool>("recipes");
    QTest::addColumn<QList<qint64>>("rows"); // RECEPADR, RECEFILI, RECESERV
    QTest::newRow("sections in the file") << true << QList<qint64>{2, 1, 0};
    // A section the file does not hold is left alone at the destination: nothing replaced.
    QTest::newRow("no recipe sections") << false << QList<qint64>{0, 0, 0};
}

void TstErrPrev::preview()
{
    QFETCH(bool, recipes);
    QFETCH(QList<qint64>, rows);
    ExportWriter w;
    addKnownDishes(w, recipes);
    w.dish("P", "555001", "NOVO")
        .dish("0009", "000900", "OUTRO NOME") // flagged: the import leaves it out
        .dish("P", "555002", "OUTRO NOVO");
    m_session->NmArquivo = m_srv->write(w);
    QCOMPARE(runPass(*m_session), QString());

    const Result<ImportPreview> p = ImportPreview::ask(*m_session);
    QVERIFY2(p, qPrintable(p ? QString() : p.failure().message));
    QCOMPARE(p->newDishes, (QStringList{"555001", "555002"}));
    QCOMPARE(p->replacedDishes, (QStringList{"100001", "000901"}));
    using D = ImportPreview::Dish;
    QCOMPARE(p->perRow, (std::vector<D>{D::Replaces, D::Replaces, D::New, D::NotWritten, D::New}));
    QList<qint64> counts;
    for (const auto &[table, n] : p->rowsReplaced)
        counts << n;
    QCOMPARE(counts, rows);
    QCOMPARE(p->totalsText(), QStringLiteral("novos 2, substituídos 2"));

    // What the preview said is what the import does: the destination's recipe rows of the
    // replaced dishes go, the file's take their place, the new dishes are added.
    SeededDb &db = *m_srv->db;
    const int dishesBefore = db.count("PRATO");
    const int recePadrBefore = db.count("RECEPADR", "CDPRATO = '100001'");
    const int receFiliBefore = db.count("RECEFILI", "CDPRATO = '000901' AND CDFILIAL = '0001'");
    QCOMPARE(qint64(recePadrBefore), recipes ? rows[0] : 2);
    QVERIFY(m_session->callImportacao());
    QCOMPARE(db.count("PRATO"), dishesBefore + int(p->newDishes.size()));
    QCOMPARE(db.count("RECEPADR", "CDPRATO = '100001'"), recipes ? 1 : recePadrBefore);
    QCOMPARE(db.count("RECEFILI", "CDPRATO = '000901' AND CDFILIAL = '0001'"), recipes ? 1 : receFiliBefore);

    // Asked again, everything the import wrote now stands at the destination.
    const Result<ImportPreview> after = ImportPreview::ask(*m_session);
    QVERIFY(after);
    QCOMPARE(after->newDishes, QStringList());
    QCOMPARE(after->replacedDishes.size(), 4);
}

void TstErrPrev::previewRefusals_data()
{
    QTest::addColumn<QCborArray>("args");
    QTest::addColumn<QString>("key");
    MemTable noColumns(QStringLiteral("PRATO"));
    noColumns.setFields({FieldDef::text(QStringLiteral("NMPRATO"), 40)});
    noColumns.createDataSet();
    const QByteArray bad = DataPacket::save(noColumns);
    MemTable dishes(QStringLiteral("PRATO"));
    dishes.setFields({FieldDef::text(QStringLiteral("CDFILAUXPRAT"), 4), FieldDef::text(QStringLiteral("CDPRATO"), 10)});
    dishes.createDataSet();
    const QByteArray good = DataPacket::save(dishes);
    QTest::newRow("too few") << QCborArray{good, -1, -1} << "Srv_Argumentos";
    QTest::newRow("flag as text") << QCborArray{good, "sim", -1, -1, "0001"} << "Srv_Previa";
    QTest::newRow("not a packet") << QCborArray{QByteArray("xyz"), -1, -1, -1, "0001"} << "Srv_ArgumentoInvalido";
    QTest::newRow("without the dish's columns") << QCborArray{bad, -1, -1, -1, "0001"} << "Srv_ArgumentoInvalido";
    QTest::newRow("branch too long") << QCborArray{good, -1, -1, -1, "00001"} << "Srv_ArgumentoInvalido";
    // A quote in a code is a value like any other.
    QTest::newRow("quote in the branch") << QCborArray{good, -1, -1, -1, "0'1"} << "";
}

void TstErrPrev::previewRefusals()
{
    QFETCH(QCborArray, args);
    QFETCH(QString, key);
    const Result<QByteArray> r = m_srv->net.call(QStringLiteral("GetPrevia"), args.toVariantList());
    QCOMPARE(r.ok(), key.isEmpty());
    if (!r)
        QCOMPARE(r.failure().key, key);
    else
        QCOMPARE(QCborValue::fromCbor(r.value()).toMap().value(QStringLiteral("existing")).toArray().size(), 0);
}

// GetPrevia compares trees and codes trimmed (a local dish is held under the destination branch), counts every packet row of a dish it finds (one
// dish may come twice), leaves out rows whose tree or code cannot name a dish, and reads a code
// column of another kind by its text.
void TstErrPrev::previewKeys_data()
{
    QTest::addColumn<bool>("numericCodes");
    QTest::addColumn<QStringList>("trees");
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<QList<qint64>>("existing");
    QTest::newRow("trimmed, repeated, unusable")
        << false << QStringList{"P", "P", "0001", "P", " P ", "P", "00001", "0001"}
        << QStringList{" 100001 ", "555001", "000901", "100001", "100001", "", "000901", "000901"}
        << QList<qint64>{0, 2, 3, 4, 7};
    QTest::newRow("codes as numbers") << true << QStringList{"P", "0001"} << QStringList{"100001", "901"}
                                      << QList<qint64>{0};
}

void TstErrPrev::previewKeys()
{
    QFETCH(bool, numericCodes);
    QFETCH(QStringList, trees);
    QFETCH(QStringList, codes);
    QFETCH(QList<qint64>, existing);
    MemTable dishes(QStringLiteral("PRATO"));
    dishes.setFields({FieldDef::text(QStringLiteral("CDFILAUXPRAT"), 0),
                      numericCodes ? FieldDef::integer(QStringLiteral("CDPRATO")) : FieldDef::text(QStringLiteral("CDPRATO"), 0)});
    dishes.createDataSet();
    for (int i = 0; i < trees.size(); ++i) {
        dishes.append();
        dishes.setText(0, trees[i]);
        if (numericCodes)
            dishes.setInteger(1, codes[i].toLongLong());
        else
            dishes.setText(1, codes[i]);
        dishes.post();
    }
    const QCborArray args{DataPacket::save(dishes), -1, -1, -1, "0001"};
    const Result<QByteArray> r = m_srv->net.call(QStringLiteral("GetPrevia"), args.toVariantList());
    QVERIFY2(r, qPrintable(r ? QString() : r.error()));
    QList<qint64> got;
    for (const QCborValue &v : QCborValue::fromCbor(r.value()).toMap().value(QStringLiteral("existing")).toArray())
        got << v.toInteger();
    QCOMPARE(got, existing);
}

QTEST_MAIN(TstErrPrev)
#include "tst_errprev.moc"
