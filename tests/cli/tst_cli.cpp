// `imp40500 check`, `imp40500 import` and `imp40500 export` end to end, as other tools run them: the
// exit codes, the JSON shape they rely on, the report, and what the import writes.
#include "database.h"
#include "exportwriter.h"
#include "serverprocess.h"
#include "loadfixture.h"
#include "messages.h"
#include "seeddb.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <filesystem>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Run = ProcessRun;

QByteArray dish(const QString &tree, const QString &code, const QString &name, const QString &unit)
{
    return ExportWriter::fields({"PRATO", tree, code, "0009", name, "1", unit, "1,25", "10/1/2024", "01", "EXP", "12/3/2024 08:15:30"});
}

} // namespace

class TstCli : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();
    void sampleFile();
    void everyFlag();
    void refusals_data();
    void refusals();
    void carelessFile();
    void writeRefusedNamesTheDishLine();
    void noLocaleReadsPtBR();
    void pairAndRemember();
    void exportCommand();
    void exportStoppedBySignal();

private:
    Run run(const QStringList &args);
    std::unique_ptr<SeededDb> m_db;
    QTemporaryDir m_dir;
};

void TstCli::initTestCase_data()
{
    bothDatabases();
}

void TstCli::init()
{
    const auto seeded = [](const QString &kind, QString *why) { return SeededDb::create(kind, true, why); };
    OPEN_FOR_DATABASE_ROW(m_db, seeded)
}

void TstCli::cleanup()
{
    m_db.reset();
}

Run TstCli::run(const QStringList &args)
{
    return ProcessRun::run(QStringLiteral(IMP40500_BIN), args + QStringList{"--db", m_db->url(), "--locale", "pt_BR"},
                           m_dir.path());
}

void TstCli::sampleFile()
{
    const QString sample = QStringLiteral(IMP_SAMPLE_FILE);
    const Run c = run({"check", sample, "--branch", "1", "--json"});
    QCOMPARE(c.exitCode, 0);
    const QJsonObject j = c.json();
    QCOMPARE(j.keys(), (QStringList{"flags", "preview", "servdestino", "servico", "tables"}));
    QCOMPARE(j["flags"].toObject().keys(), (QStringList{"TemReceFili", "TemRecePadr", "TemReceServ"}));
    QVERIFY(j["flags"].toObject()["TemRecePadr"].isBool());
    const QJsonObject tables = j["tables"].toObject();
    QCOMPARE(tables.keys(), (QStringList{"PRATFILI", "PRATO", "PRATPADR", "PRATSERV", "RECEFILI", "RECEPADR", "RECESERV"}));
    // ... and in the order other tools read them.
    qsizetype at = 0;
    for (const char *t : {"PRATO", "RECEPADR", "PRATPADR", "RECEFILI", "PRATFILI", "RECESERV", "PRATSERV"}) {
        const qsizetype next = c.out.indexOf(QByteArray("\"") + t + "\": [", at);
        QVERIFY2(next > at, t);
        at = next;
    }
    const QJsonArray pratos = tables["PRATO"].toArray();
    QVERIFY(!pratos.isEmpty());
    const QJsonObject first = pratos.first().toObject();
    QCOMPARE(first.keys().size(), 14); // eleven columns of the file, IDERRO, MNPRATOLOCAL and the error texts
    QVERIFY(first["IDERRO"].isString());
    // The texts come right after IDERRO, and a clean dish has none.
    QVERIFY(c.out.contains("\"IDERRO\": \"0000000000\", \"erros\": [], "));
    QVERIFY(first.contains("MNPRATOLOCAL"));
    QVERIFY(first["VRARREDTRANS"].isDouble() || first["VRARREDTRANS"].isNull());
    QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$").match(first["DTULTATUPRAT"].toString()).hasMatch());
    for (const QJsonValue &s : j["servico"].toArray())
        QCOMPARE(s.toObject().keys(), (QStringList{"CDSERVFILIDEST", "CDSERVFILIORIG", "NMSERVICODEST", "NMSERVICOORIG"}));
    // The file's code page 1252 comes out as Unicode.
    QVERIFY(c.out.contains("FEIJ\xC3\x83O"));

    const Run text = run({"check", sample, "--branch", "0001"});
    QCOMPARE(text.exitCode, 0);
    QVERIFY(text.out.contains("100.001")); // the dish code through the destination's mask
    QVERIFY(text.out.contains("Unidade de medida n\xC3\xA3o existe no destino."));

    const int before = m_db->count("PRATO");
    const Run imp = run({"import", sample, "--branch", "1"});
    QCOMPARE(imp.exitCode, 0);
    QVERIFY(imp.out.contains("Pratos gravados:"));
    QVERIFY(m_db->count("PRATO") > before);

    // The JSON of an import ends with its outcome, which names the history's row.
    const Run jsonImport = run({"import", sample, "--branch", "1", "--json"});
    QCOMPARE(jsonImport.exitCode, 0);
    const QJsonObject outcome = jsonImport.json()["import"].toObject();
    QCOMPARE(outcome.keys(), (QStringList{"dishes_refused", "dishes_written", "history_id", "outcome", "rows"}));
    QCOMPARE(outcome["outcome"].toString(), QStringLiteral("ok"));
    QVERIFY(outcome["dishes_written"].toInt() > 0);
    QCOMPARE(outcome["rows"].toObject()["PRATO"].toInt(), outcome["dishes_written"].toInt());
    QVERIFY(outcome["dishes_refused"].toArray().contains(QJsonValue("000900")));
    QCOMPARE(m_db->count("HISTIMPO", QStringLiteral("CDHISTIMPO = '%1'").arg(outcome["history_id"].toString())), 1);
    QVERIFY(!jsonImport.err.contains("Pratos gravados")); // the outcome is in the JSON alone
}

void TstCli::everyFlag()
{
    ExportWriter w;
    w.service("10", "Almoco").service("30", "Sem destino");
    // Local dishes whose codes the destination holds under another name, with a unit, a product and
    // a service the destination lacks; then one clean dish.
    w.lines << dish("0009", "000900", "OUTRO NOME", "XX")
            << ExportWriter::fields({"RECEPADR", "0009", "000900", "999999", "KG", "1"})
            << ExportWriter::fields({"RECESERV", "0009", "30", "0009", "000900", "000101", "KG", "1"})
            << dish("0009", "000901", "OUTRA MOUSSE", "YY")
            << ExportWriter::fields({"RECEFILI", "0009", "0009", "000901", "888888", "KG", "1"})
            << ExportWriter::fields({"PRATSERV", "0009", "30", "0009", "000901", "2"})
            << dish("P", "555555", "PRATO LIMPO", "KG")
            << ExportWriter::fields({"RECEPADR", "P", "555555", "000101", "KG", "0,5"});
    const QString path = m_dir.filePath("flags.txt");
    QVERIFY(w.write(path));

    const Run c = run({"check", path, "--branch", "0001", "--json"});
    QCOMPARE(c.exitCode, 0);
    const QJsonArray pratos = c.json()["tables"].toObject()["PRATO"].toArray();
    QCOMPARE(pratos.size(), 3);
    QCOMPARE(pratos[0]["IDERRO"].toString(), QStringLiteral("1111000000"));
    QCOMPARE(pratos[0]["MNPRATOLOCAL"].toString(), QStringLiteral("PUDIM DE LEITE CONDENSADO"));
    QCOMPARE(pratos[1]["IDERRO"].toString(), QStringLiteral("1111000000"));
    QCOMPARE(pratos[2]["IDERRO"].toString(), QStringLiteral("0000000000"));
    QCOMPARE(pratos[0]["CDFILAUXPRAT"].toString(), QStringLiteral("0001"));
    // What the raised positions stand for, in words, beside them.
    const QJsonArray texts = pratos[0]["erros"].toArray();
    QCOMPARE(texts.size(), 4);
    QVERIFY(texts.contains(QJsonValue(QStringLiteral("Unidade de medida não existe no destino."))));
    QCOMPARE(pratos[2]["erros"].toArray(), QJsonArray());

    // The server refuses the flagged dishes and writes the clean one.
    const Run imp = run({"import", path, "--branch", "0001"});
    QCOMPARE(imp.exitCode, 0);
    QVERIFY(imp.out.contains("Pratos gravados: 1."));
    QVERIFY2(imp.out.contains("Pratos n\xC3\xA3o gravados por erro: 2 (000.900, 000.901)."), imp.out.constData());
    QCOMPARE(m_db->count("PRATO", "CDPRATO = '555555'"), 1);
    QCOMPARE(m_db->count("PRATO", "NMPRATO = 'OUTRO NOME'"), 0);
}

void TstCli::refusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("file");   // written as x.txt when not empty
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("key");
    const QByteArray good = ExportWriter().bytes();
    QTest::newRow("branch unknown") << QStringList{"check", "x.txt", "--branch", "77", "--json"} << good << 3 << "Filial_N_Cad";
    QTest::newRow("branch rescinded") << QStringList{"import", "x.txt", "--branch", "3", "--json"} << good << 3 << "Filial_Resc";
    QTest::newRow("file missing") << QStringList{"check", "y.txt", "--branch", "1", "--json"} << good << 3 << "Arquivo_N_Exist";
    QTest::newRow("a folder for the file") << QStringList{"check", ".", "--branch", "1", "--json"} << good << 3 << "Arquivo_EhPasta";
    QTest::newRow("not an export file") << QStringList{"check", "x.txt", "--branch", "1", "--json"}
                                        << QByteArray("hello\r\n") << 3 << "Arquivo_Invalido";
    QTest::newRow("binary garbage") << QStringList{"check", "x.txt", "--branch", "1", "--json"}
                                    << QByteArray("\0\xff\xf8\r\n\x01", 6) << 3 << "Arquivo_Invalido";
    QTest::newRow("no branch") << QStringList{"check", "x.txt"} << good << 2 << "";
    // --pair is checked as the service grid checks a typed destination (10 Almoco holds 00001).
    const QByteArray services = ExportWriter().service("10", "Almoco").service("30", "LANCHE").bytes();
    QTest::newRow("pair: destination held") << QStringList{"check", "x.txt", "--branch", "1", "--pair", "30=1", "--json"}
                                            << services << 3 << "Serv_Ja_Cad";
    QTest::newRow("pair: destination unknown") << QStringList{"import", "x.txt", "--branch", "1", "--pair", "30=00099", "--json"}
                                               << services << 3 << "Serv_Dest_Cad";
    QTest::newRow("pair: not a pair") << QStringList{"check", "x.txt", "--branch", "1", "--pair", "30"} << services << 2 << "";
    QTest::newRow("export: branch unknown") << QStringList{"export", "out.txt", "--branch", "77", "--json"} << good << 3
                                            << "Filial_N_Cad";
    QTest::newRow("export: tree unknown") << QStringList{"export", "out.txt", "--branch", "1", "--tree", "x", "--json"}
                                          << good << 2 << "Exp_ArvoreInvalida";
    QTest::newRow("export: no branch") << QStringList{"export", "out.txt"} << good << 2 << "";
    QTest::newRow("server unreachable") << QStringList{"check", "x.txt", "--branch", "1", "--server", "127.0.0.1:1", "--json"}
                                        << good << 1 << "";
    // "@db": the destination's SQLite file, which the process holds and never opens as a file.
    QTest::newRow("the destination's own file") << QStringList{"check", "@db", "--branch", "1", "--json"} << good << 3
                                                << "Arquivo_Do_Banco";
    // "@damaged": a destination that is no database at all, told by its key, out of reach.
    QTest::newRow("a damaged destination") << QStringList{"check", "x.txt", "--branch", "1", "--json", "@damaged"} << good
                                           << 1 << "BD_NaoAbre";
}

void TstCli::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, file);
    QFETCH(int, exitCode);
    QFETCH(QString, key);
    if (args.contains(QStringLiteral("@db"))) {
        if (m_db->kind() != SeededDb::Kind::SQLite)
            QSKIP("a file of the destination is SQLite's");
        args.replace(args.indexOf(QStringLiteral("@db")), DbUrl::parse(m_db->url()).value().path);
    }
    const bool damaged = args.removeOne(QStringLiteral("@damaged"));
    if (damaged) {
        if (m_db->kind() != SeededDb::Kind::SQLite)
            QSKIP("a damaged file is SQLite's");
        QFile bad(m_dir.filePath("damaged.db"));
        QVERIFY(bad.open(QIODevice::WriteOnly | QIODevice::Truncate));
        bad.write(QByteArray(4096, 'x'));
    }
    QFile f(m_dir.filePath("x.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(file);
    f.close();
    // The export writes its numbers and dates in one form only: it takes no locale.
    const Run r = args.first() == u"export"
        ? ProcessRun::run(QStringLiteral(IMP40500_BIN), args + QStringList{"--db", m_db->url()}, m_dir.path())
        : damaged ? ProcessRun::run(QStringLiteral(IMP40500_BIN), args + QStringList{"--db", "sqlite:damaged.db"}, m_dir.path())
                  : run(args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY(!r.err.isEmpty()); // the message on stderr
    QVERIFY(!QFile::exists(m_dir.filePath("out.txt")));
    if (!key.isEmpty()) {
        const QJsonObject e = r.json()["error"].toObject();
        QCOMPARE(e.keys(), (QStringList{"key", "kind", "text"}));
        QCOMPARE(e["key"].toString(), key);
        // The exit code follows from the kind.
        const QString kind = e["kind"].toString();
        QCOMPARE(kind, exitCode == 3 ? QStringLiteral("refused") : exitCode == 2 ? kind : QStringLiteral("unreachable"));
        QVERIFY(r.err.contains(e["text"].toString().toUtf8()));
    }
}

// A second export appended (dish 111111 twice), a NUL in a name, a number that does not convert,
// a clean dish, a local dish whose code is longer than its column, a quantity with more decimals
// than the destination keeps, a number larger than it holds, a NUL in a recipe line placed after
// another dish and one in a dish code, and the file cut in its last line.
static ExportWriter carelessExport()
{
    ExportWriter w;
    const QString nul(QChar(0));
    const QByteArray repeated = dish("P", "111111", "REPETIDO", "KG");
    w.lines << repeated << ExportWriter::fields({"RECEPADR", "P", "111111", "000101", "KG", "1"})
            << dish("P", "222222", "NUL" + nul + "NO NOME", "KG")
            << dish("P", "333333", "LIMPO", "KG") << ExportWriter::fields({"RECEPADR", "P", "333333", "000101", "KG", "um"})
            << dish("P", "555555", "RECEITA COM NUL", "KG")                                                     // 19
            << ExportWriter::fields({"PRATO", "0009", "1234567890123", "0009", "CODIGO LONGO", "1", "KG", "123456789012,123456"}) // 20
            << ExportWriter::fields({"RECEPADR", "P", "333333", "000102", "KG", "0,1234565"})                   // 21
            << ExportWriter::fields({"PRATO", "P", "444444", "0009", "GRANDE", "1", "KG", "12345678901234,5"})  // 22
            << ExportWriter::fields({"RECEPADR", "P", "555555", "0001" + nul + "03", "KG", "1"})                // 23
            << dish("P", "77" + nul + "7777", "CODIGO COM NUL", "KG")                                         // 24
            << repeated << ExportWriter::fields({"RECEPADR", "P", "111111", "000101", "KG", "1"})
            << ExportWriter::fields({"PRATPADR", "P", "333333"}) + "K";
    return w;
}

void TstCli::carelessFile()
{
    const ExportWriter w = carelessExport();
    const QString path = m_dir.filePath("careless.txt");
    QVERIFY(w.write(path));
    const int dishesBefore = m_db->count("PRATO");

    const Run c = run({"check", path, "--branch", "0001", "--json"});
    QCOMPARE(c.exitCode, 0);
    const QJsonObject j = c.json();
    QStringList flags;
    for (const QJsonValue &p : j["tables"].toObject()["PRATO"].toArray())
        flags << p["IDERRO"].toString();
    // The NUL of line 23 flags its own dish 555555; the product it names, not found, the dish loaded last.
    QCOMPARE(flags, (QStringList{"0000100000", "0000010000", "0000000000", "0000010000", "0000000000", "0100001000",
                                 "0000010000", "0000100000"}));
    const QJsonObject warnings = j["warnings"].toObject();
    QCOMPARE(warnings.keys(), (QStringList{"cut", "cutLastLine", "nulLines", "rounded", "unparsed"}));
    QCOMPARE(warnings["cutLastLine"].toInt(), 27);
    QCOMPARE(warnings["nulLines"].toArray(), (QJsonArray{16, 23, 24}));
    const auto only = [&](const char *key, const char *column, int line) {
        const QJsonArray list = warnings[QLatin1String(key)].toArray();
        QCOMPARE(list.size(), 1);
        const QJsonObject o = list.first().toObject();
        QCOMPARE(o["table"].toString() + '.' + o["column"].toString(), QLatin1String(column));
        QCOMPARE(o["count"].toInt(), 1);
        QCOMPARE(o["lines"].toArray(), QJsonArray{line});
    };
    only("unparsed", "RECEPADR.QTPRODUTO", 18);
    only("cut", "PRATO.CDPRATO", 20);
    only("rounded", "RECEPADR.QTPRODUTO", 21);
    // The preview names the dishes the import writes, the long one by its code as written.
    QCOMPARE(j["preview"].toObject()["new"].toArray(), (QJsonArray{"333333", "1234567890"}));
    // The dry run writes nothing into the destination, the remembered directory included.
    QCOMPARE(m_db->count("DIRETORIOS"), 0);
    QCOMPARE(m_db->count("PRATO"), dishesBefore);

    const Run text = run({"check", path, "--branch", "0001"});
    QCOMPARE(text.exitCode, 0);
    QVERIFY(text.out.contains("Prato com linha sem chave ou repetida no arquivo."));
    QVERIFY(text.out.contains("na linha 16 do arquivo"));
    QVERIFY(text.out.contains("Avisos:"));
    QVERIFY(text.out.contains("RECEPADR.QTPRODUTO: 1 "));
    QVERIFY(text.out.contains(Msg("Linha_Incompleta").arg(27).toUtf8()));
    QVERIFY(text.out.contains(Msg("Erro_Valor").toUtf8()));
    QVERIFY(text.out.contains("PRATO.CDPRATO: 1 "));

    // The import writes the clean dishes, the quantity at the column's scale on either database, and
    // holds back the flagged ones; its history row keeps the refused codes, a NUL among them.
    const Run imp = run({"import", path, "--branch", "0001"});
    QVERIFY2(imp.exitCode == 0, imp.err.constData());
    QCOMPARE(m_db->count("PRATO", "CDPRATO IN ('333333', '1234567890')"), 2);
    QCOMPARE(m_db->count("PRATO", "CDPRATO IN ('111111', '222222', '444444', '555555')"), 0);
    QCOMPARE(m_db->count("RECEPADR", "CDPRATO = '333333' AND QTPRODUTO = 0.123457"), 1);
    // Eighteen digits: each database holds the value the load read, PostgreSQL not cut to fifteen.
    QSqlQuery q(m_db->db());
    QVERIFY(q.exec("SELECT VRARREDTRANS FROM PRATO WHERE CDPRATO = '1234567890'") && q.next());
    QVERIFY2(q.value(0).toDouble() == 123456789012.123456, qPrintable(q.value(0).toString())); // not fuzzy
    const Run history = ProcessRun::run(QStringLiteral(IMP40500_BIN), {"history", "--json", "--db", m_db->url()}, m_dir.path());
    QCOMPARE(history.exitCode, 0);
    const QJsonObject row = QJsonDocument::fromJson(history.out).array().first().toObject();
    QCOMPARE(row["outcome"].toString(), QStringLiteral("ok"));
    QCOMPARE(row["dishes_refused"].toArray().size(), 6);
    QVERIFY(row["dishes_refused"].toArray().contains(QJsonValue("77" + QString(QChar(0)) + "7777")));
}

// A row the database refuses although every check passed (a rule of this destination's own): the
// import fails naming the table, the dish and the dish's line in the file, on either database (on
// PostgreSQL from the copy's own context).
void TstCli::writeRefusedNamesTheDishLine()
{
    const bool pg = m_db->kind() == SeededDb::Kind::PostgreSQL;
    const QStringList rule = pg ? QStringList{"CREATE FUNCTION RECUSA() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                                              "IF NEW.CDPRODUTO = '000102' THEN RAISE EXCEPTION 'regra do destino'; END IF; "
                                              "RETURN NEW; END $$",
                                              "CREATE TRIGGER RECUSA BEFORE INSERT ON RECEPADR FOR EACH ROW EXECUTE FUNCTION RECUSA()"}
                                : QStringList{"CREATE TRIGGER RECUSA BEFORE INSERT ON RECEPADR WHEN NEW.CDPRODUTO = '000102' "
                                              "BEGIN SELECT RAISE(ABORT, 'regra do destino'); END"};
    for (const QString &sql : rule)
        QVERIFY2(QSqlQuery(m_db->db()).exec(sql), qPrintable(sql));
    ExportWriter w;
    w.lines << dish("P", "333333", "CERTO", "KG") << ExportWriter::fields({"RECEPADR", "P", "333333", "000101", "KG", "1"})
            << dish("P", "444444", "RECUSADO", "KG") << ExportWriter::fields({"RECEPADR", "P", "444444", "000101", "KG", "1"})
            << ExportWriter::fields({"RECEPADR", "P", "444444", "000102", "KG", "1"});
    const QString path = m_dir.filePath("recusa.txt");
    QVERIFY(w.write(path));
    const Run imp = run({"import", path, "--branch", "0001"});
    QVERIFY(imp.exitCode != 0);
    QVERIFY2(imp.err.contains("RECEPADR") && imp.err.contains(Msg("Imp_PratoNaLinha").arg("444444").arg(16).toUtf8()),
             imp.err.constData());
    QCOMPARE(m_db->count("PRATO", "CDPRATO IN ('333333', '444444')"), 0);
}

void TstCli::noLocaleReadsPtBR()
{
    ExportWriter w;
    w.lines << dish("P", "444444", "DECIMAL", "KG") << ExportWriter::fields({"RECEPADR", "P", "444444", "000101", "KG", "0,05"});
    const QString path = m_dir.filePath("decimal.txt");
    QVERIFY(w.write(path));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LC_ALL"));
    env.remove(QStringLiteral("LC_NUMERIC"));
    env.remove(QStringLiteral("IMP_LOCALE"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(IMP40500_BIN), {"check", path, "--branch", "0001", "--json", "--db", m_db->url()});
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitCode(), 0);
    const QJsonObject j = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    QCOMPARE(j["tables"].toObject()["RECEPADR"].toArray().first()["QTPRODUTO"].toDouble(), 0.05);
    QVERIFY(!j.contains("warnings"));
}

void TstCli::pairAndRemember()
{
    ExportWriter w;
    w.service("10", "Almoco").service("30", "LANCHE");
    w.lines << dish("P", "666666", "CALDO", "KG") << ExportWriter::fields({"RECESERV", "0009", "30", "P", "666666", "000101", "KG", "1"});
    const QString path = m_dir.filePath("pairs.txt");
    QVERIFY(w.write(path));
    const auto recipeService = [](const Run &r) {
        return r.json()["tables"].toObject()["RECESERV"].toArray().first().toObject()["CDSERVFILI"].toString();
    };

    // Given on the command line, the data lines see it; it is no remembered pairing.
    const Run given = run({"check", path, "--branch", "1", "--pair", "30=4", "--json"});
    QCOMPARE(given.exitCode, 0);
    QCOMPARE(recipeService(given), QStringLiteral("00004"));
    QVERIFY(!given.json().contains("remembered"));
    QCOMPARE(run({"import", path, "--branch", "1", "--pair", "30=4"}).exitCode, 0);

    // The next check into 0001 pairs 30 from memory and says so.
    const Run next = run({"check", path, "--branch", "0001", "--json"});
    QCOMPARE(recipeService(next), QStringLiteral("00004"));
    const QJsonObject pair{{"CDSERVFILIORIG", "30"}, {"CDSERVFILIDEST", "00004"}};
    QCOMPARE(next.json()["remembered"].toArray(), QJsonArray{pair});
    const Run text = run({"check", path, "--branch", "0001"});
    QVERIFY(text.out.contains("-> 00004 CEIA (lembrado)\n"));
    QVERIFY(text.out.contains("-> 00001 ALMOCO\n")); // found by name: no mark
}

// The demo branch exported with its totals, the file read back by check, then a dish name the file
// cannot carry: exit 2 with its words, and the file of the export before left as it was. All are in
// the history as exports.
void TstCli::exportCommand()
{
    const auto exportRun = [&](const QStringList &more) {
        return ProcessRun::run(QStringLiteral(IMP40500_BIN),
                               QStringList{"export", "pratos.txt", "--branch", "1", "--db", m_db->url()} + more, m_dir.path());
    };
    // More dishes than one read of a PostgreSQL cursor brings, each with a standard recipe row.
    for (const char *table : {"PRATO (CDFILAUXPRAT, CDPRATO, NMPRATO, VRARREDTRANS)", "RECEPADR (CDFILAUXPRAT, CDPRATO, CDPRODUTO, QTPRODUTO)"})
        QVERIFY(QSqlQuery(m_db->db()).exec(
            QStringLiteral("WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 5000) INSERT INTO %1 "
                           "SELECT 'P', '2' || CAST(I + 100000 AS VARCHAR(10)), %2, I / 8.0 FROM N")
                .arg(QLatin1String(table), QLatin1String(qstrncmp(table, "PRATO", 5) == 0 ? "'PRATO ' || CAST(I AS VARCHAR(10))" : "'000101'"))));
    const Run ok = exportRun({"--json"});
    QVERIFY2(ok.exitCode == 0, ok.err.constData());
    const QJsonObject totals = ok.json();
    QCOMPARE(totals["rows"].toObject()["PRATO"].toInt(), 5003);
    QCOMPARE(totals["rows"].toObject()["RECEPADR"].toInt(), 5002);
    QCOMPARE(totals["rows"].toObject()["PRATSERV"].toInt(), 0);
    QFile file(m_dir.filePath("pratos.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    QCOMPARE(totals["bytes"].toInteger(), qint64(bytes.size()));
    QVERIFY(bytes.startsWith("PRATO\xF8"));
    const Run checked = run({"check", "pratos.txt", "--branch", "1", "--json"});
    QVERIFY2(checked.exitCode == 0, checked.err.constData());
    QCOMPARE(checked.json()["preview"].toObject()["replaced"].toArray().size(), 5003);

    // Only the standard tree, one code given and one that is none: warned, not refused.
    const Run some = exportRun({"--tree", "padrao", "--dishes", "100001,999"});
    QVERIFY2(some.exitCode == 0, some.err.constData());
    QVERIFY2(some.err.contains("999"), some.err.constData());
    QVERIFY(some.out.contains("PRATO     1"));

    QSqlQuery(m_db->db()).exec(QStringLiteral("UPDATE PRATO SET NMPRATO = 'SMØRREBRØD smørrebrød' WHERE CDPRATO = '000901'"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    const Run refused = exportRun({"--json"});
    QCOMPARE(refused.exitCode, 3);
    const QJsonObject e = refused.json()["error"].toObject();
    QCOMPARE(e["key"].toString(), QStringLiteral("Exp_ValorInvalido"));
    for (const char *word : {"000901", "PRATO", "NMPRATO", "ø"})
        QVERIFY2(e["text"].toString().contains(QString::fromUtf8(word)), qPrintable(e["text"].toString()));
    QVERIFY(QDir(m_dir.path()).entryList({"pratos.txt.*"}, QDir::Files).isEmpty());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);

    const Run history = ProcessRun::run(QStringLiteral(IMP40500_BIN), {"history", "--json", "--db", m_db->url()}, m_dir.path());
    const QJsonArray list = QJsonDocument::fromJson(history.out).array();
    QCOMPARE(list.size(), 3);
    for (const QJsonValue &row : list)
        QCOMPARE(row.toObject()["kind"].toString(), QStringLiteral("export"));
    QCOMPARE(list.at(0).toObject()["outcome"].toString(), QStringLiteral("failed"));
    QCOMPARE(list.at(2).toObject()["rows"].toObject()["PRATO"].toInt(), 5003);
}

// SIGTERM in the middle of an export: exit 130, and neither the file nor its temporary name left.
void TstCli::exportStoppedBySignal()
{
    QFETCH_GLOBAL(QString, db);
    if (db != u"sqlite")
        QSKIP("the signal's path is the same on either database");
    // Enough dishes that the export is still running when the signal comes.
    QVERIFY(QSqlQuery(m_db->db()).exec(QStringLiteral(
        "WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 300000) "
        "INSERT INTO PRATO (CDFILAUXPRAT, CDPRATO, CDFILIAL, NMPRATO) SELECT 'P', printf('%010d', I), '0001', "
        "'PRATO DE TESTE COM UM NOME LONGO ' || I FROM N")));
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(QStringLiteral(IMP40500_BIN), {"export", "grande.txt", "--branch", "1", "--db", m_db->url()});
    QVERIFY(p.waitForStarted());
    QDir dir(m_dir.path());
    // The file being written is open in the process (unnamed until it is whole, where the system
    // allows): the signal comes once it is.
    const auto writing = [&] {
        std::error_code ec;
        for (const auto &fd : std::filesystem::directory_iterator("/proc/" + std::to_string(p.processId()) + "/fd", ec)) {
            const auto target = std::filesystem::read_symlink(fd.path(), ec);
            if (!ec && QString::fromStdString(target.string()).startsWith(m_dir.path() + u'/'))
                return true;
        }
        return false;
    };
    QElapsedTimer clock;
    clock.start();
    while (!writing() && p.state() == QProcess::Running && clock.elapsed() < 30000)
        QTest::qWait(1);
    QCOMPARE(p.state(), QProcess::Running);
    p.terminate();
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 130);
    QVERIFY(p.readAllStandardError().contains("SIGTERM"));
    QVERIFY(dir.entryList({"grande.txt*"}, QDir::Files).isEmpty());
}

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
