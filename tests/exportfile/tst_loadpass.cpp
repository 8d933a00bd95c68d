// The load pass and the row decoder on a real destination, through the application server module:
// the structure section, the decoding of values, the error flags and the checks of the parameters.
#include "loadfixture.h"

#include "loadpass.h"

#include "messages.h"

#include <QDir>

using Lines = QList<QByteArray>;
Q_DECLARE_METATYPE(Lines)

namespace {

QByteArray f(const QStringList &v)
{
    return ExportWriter::fields(v);
}
QByteArray dishLine(const QString &tree, const QString &code, const QString &name, const QString &unit = "KG")
{
    return f({"PRATO", tree, code, "0009", name, "1", unit, "0,5", "10/1/2024", "01", "EXP", "12/3/2024 08:15"});
}
QByteArray recipe(const QString &code, const QString &product, const QString &unit = "KG")
{
    return f({"RECEPADR", "P", code, product, unit, "0,25"});
}

} // namespace

class TstLoadPass : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();
    void structure_data();
    void structure();
    void values_data();
    void values();
    void flags_data();
    void flags();
    void lookupsAnswerAsTheirQueries();
    void passState();
    void fileCheck_data();
    void fileCheck();
    void branchCheck_data();
    void branchCheck();

private:
    std::unique_ptr<LoadFixture> m_f;
    std::unique_ptr<ImportSession> m_s;
    std::unique_ptr<LoadPass> m_pass; // the last pass, kept to look at its state
    RecordingObserver m_obs;
    std::unique_ptr<QuietSink> m_sink;
    QString load(const ExportWriter &w, const QByteArray &eol = "\r\n");
};

void TstLoadPass::initTestCase_data()
{
    bothDatabases();
}

void TstLoadPass::init()
{
    OPEN_FOR_DATABASE_ROW(m_f, LoadFixture::make)
    m_s = std::make_unique<ImportSession>(m_f->net);
    m_obs = RecordingObserver{};
    m_s->setObserver(&m_obs);
    m_s->CdFilial = QStringLiteral("0001");
    m_sink = std::make_unique<QuietSink>();
}

void TstLoadPass::cleanup()
{
    m_pass.reset();
    m_s.reset();
    m_f.reset();
    m_sink.reset();
}

QString TstLoadPass::load(const ExportWriter &w, const QByteArray &eol)
{
    m_s->NmArquivo = m_f->write(w, eol);
    m_pass = std::make_unique<LoadPass>(*m_s, m_s->lookups());
    return passOutcome(m_pass->Grava_Tabelas());
}

void TstLoadPass::structure_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QByteArray>("eol");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("total");   // LoadPass::TotalLinhas
    QTest::addColumn<int>("dishes");

    ExportWriter w;
    w.service("10", "almoco");
    for (int i = 0; i < 99; ++i)
        w.lines << dishLine("P", QString::number(200000 + i), "D");
    QTest::newRow("marker on line 13, 100 lines after it") << w.lines << QByteArray("\r\n") << "" << 100 << 99;
    QTest::newRow("bare line feeds") << w.lines << QByteArray("\n") << "" << 100 << 99;

    ExportWriter blanks = w;
    blanks.lines.insert(5, "   ");
    blanks.lines.insert(20, "");
    blanks.lines << "\t";
    QTest::newRow("blank lines count nowhere") << blanks.lines << QByteArray("\r\n") << "" << 100 << 99;

    ExportWriter at31 = w;
    for (int i = 0; i < 18; ++i)
        at31.lines.insert(11, f({"EXTRA"}));
    QTest::newRow("marker on line 31") << at31.lines << QByteArray("\r\n") << "" << 118 << 99;
    ExportWriter at32 = at31;
    at32.lines.insert(11, f({"EXTRA"}));
    QTest::newRow("marker on line 32") << at32.lines << QByteArray("\r\n") << "Arquivo_Invalido" << 119 << 0;

    ExportWriter blank = w;
    blank.lines[12] += ' ';
    QTest::newRow("marker with a trailing blank") << blank.lines << QByteArray("\r\n") << "Arquivo_Invalido" << 100 << 0;

    ExportWriter none;
    none.lines.removeLast();
    none.lines << f({"SEM MARCADOR"}) << dishLine("P", "300000", "D");
    QTest::newRow("no marker, 14 lines: nothing loaded") << none.lines << QByteArray("\r\n") << "" << 1 << 0;

    ExportWriter early = w;
    early.lines.removeAt(11);
    QTest::newRow("marker before line 13") << early.lines << QByteArray("\r\n") << "Arquivo_Invalido" << 99 << 0;
}

void TstLoadPass::structure()
{
    QFETCH(Lines, lines);
    QFETCH(QByteArray, eol);
    QFETCH(QString, key);
    QFETCH(int, total);
    QFETCH(int, dishes);
    ExportWriter w;
    w.lines = lines;
    QCOMPARE(load(w, eol), key);
    QCOMPARE(m_pass->TotalLinhas, total);
    QCOMPARE(m_s->cdsPrato.isActive() ? m_s->cdsPrato.rowCount() : 0, dishes);
    QVERIFY(!m_s->Carregando);
    QCOMPARE(m_obs.serverCallsOpen, 0);
    QCOMPARE(m_obs.statuses.last(), QString());
    QCOMPARE(m_obs.positions.last(), 0);
    if (!key.isEmpty()) {
        QCOMPARE(lastPassField(), QStringLiteral("medNmArquivo"));
        // The refusal comes after the service pass: the map keeps what it built.
        QCOMPARE(m_s->cdsServico.rowCount(), 1);
    } else if (dishes) {
        QCOMPARE(m_obs.maximum, total);
        QCOMPARE(m_obs.positions.mid(1, 100), [] { QList<int> p; for (int i = 1; i <= 100; ++i) p << i; return p; }());
        QCOMPARE(m_obs.serviceTabShown, 1);
    }
}

void TstLoadPass::values_data()
{
    QTest::addColumn<QByteArray>("line");    // one data line after a dish line
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QVariant>("expected");  // of the table's last row; invalid: null
    QTest::addColumn<int>("rows");           // of the table

    const QByteArray sep(1, char(0xF8));
    QTest::newRow("text after the last terminator is not read")
        << f({"PRATPADR", "P", "1"}) + "KG" << "PRATPADR" << "SGUNIDADE" << QVariant() << 1;
    QTest::newRow("two terminators in a row: null")
        << f({"RECEPADR", "P", "1", "000101", "", "0,5"}) << "RECEPADR" << "SGUNIDADE" << QVariant() << 1;
    QTest::newRow("locale number") << recipe("1", "000101") << "RECEPADR" << "QTPRODUTO" << QVariant(0.25) << 1;
    QTest::newRow("a point is no number in pt_BR")
        << f({"RECEPADR", "P", "1", "000101", "KG", "1.5"}) << "RECEPADR" << "QTPRODUTO" << QVariant() << 1;
    QTest::newRow("letters in a number column: null, row loaded")
        << f({"RECEPADR", "P", "1", "000101", "KG", "abc"}) << "RECEPADR" << "CDPRODUTO" << QVariant("000101") << 1;
    QTest::newRow("date and time")
        << f({"PRATFILI", "0009", "P", "1", "4,9", "5/3/2024 14:30"}) << "PRATFILI" << "DTULTATU"
        << QVariant(QDateTime(QDate(2024, 3, 5), QTime(14, 30), Qt::UTC)) << 1;
    QTest::newRow("CDFILIAL takes the destination branch")
        << f({"PRATFILI", "0009", "P", "1", "4,9"}) << "PRATFILI" << "CDFILIAL" << QVariant("0001") << 1;
    QTest::newRow("an empty CDFILIAL stays empty")
        << f({"PRATFILI", "", "P", "1", "4,9"}) << "PRATFILI" << "CDFILIAL" << QVariant() << 1;
    QTest::newRow("CDFILAUXPRAT P is kept") << recipe("1", "000101") << "RECEPADR" << "CDFILAUXPRAT" << QVariant("P") << 1;
    QTest::newRow("any other CDFILAUXPRAT, empty too, takes the branch")
        << f({"RECEPADR", "", "1", "000101"}) << "RECEPADR" << "CDFILAUXPRAT" << QVariant("0001") << 1;
    QTest::newRow("RECESERV takes the paired destination service")
        << f({"RECESERV", "0009", "10", "P", "1", "000101", "KG", "1"}) << "RECESERV" << "CDSERVFILI" << QVariant("00001") << 1;
    QTest::newRow("PRATSERV keeps the origin's service")
        << f({"PRATSERV", "0009", "10", "P", "1", "2"}) << "PRATSERV" << "CDSERVFILI" << QVariant("10") << 1;
    QTest::newRow("values past the last column are dropped")
        << f({"PRATPADR", "P", "1", "KG", "2", "X", "Y"}) << "PRATPADR" << "QTRENDIMENTO" << QVariant(2.0) << 1;
    QTest::newRow("columns past the last value stay null")
        << f({"PRATPADR", "P", "1"}) << "PRATPADR" << "QTRENDIMENTO" << QVariant() << 1;
    QTest::newRow("code page 1252 decoded")
        << f({"PRATO", "P", "2", "0009", "FEIJÃO ÇÉ€"}) << "PRATO" << "NMPRATO" << QVariant("FEIJÃO ÇÉ€") << 2;
    QTest::newRow("text cut to its width")
        << f({"PRATO", "P", "2", "0009", QString(45, u'N')}) << "PRATO" << "NMPRATO" << QVariant(QString(40, u'N')) << 2;
    QTest::newRow("a table name in lower case loads nothing")
        << f({"pratpadr", "P", "1", "KG"}) << "PRATPADR" << "SGUNIDADE" << QVariant() << 0;
    QTest::newRow("a data line named SERVICO loads nothing")
        << f({"SERVICO", "99", "X"}) << "PRATO" << "CDPRATO" << QVariant("1") << 1;
    QTest::newRow("a line without a terminator loads nothing")
        << QByteArray("PRATPADR") << "PRATPADR" << "SGUNIDADE" << QVariant() << 0;
}

void TstLoadPass::values()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, table);
    QFETCH(QString, column);
    QFETCH(QVariant, expected);
    QFETCH(int, rows);
    ExportWriter w;
    w.service("10", "Almoco");
    w.lines << dishLine("P", "1", "D") << line;
    QCOMPARE(load(w), QString());
    MemTable *t = nullptr;
    for (const auto &[name, table2] : m_s->dataTables())
        if (name == table)
            t = table2;
    QVERIFY(t);
    QCOMPARE(t->rowCount(), rows);
    if (rows == 0)
        return;
    const int c = t->fieldIndex(column);
    QVERIFY(c >= 0);
    QCOMPARE(t->valueAt(rows - 1, c), expected);
}

void TstLoadPass::flags_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QStringList>("iderro");      // per dish row
    QTest::addColumn<QString>("local");           // MNPRATOLOCAL of the last dish
    QTest::addColumn<int>("serverCalls");         // GetPesqPrato
    QTest::addColumn<int>("errorButton");         // times sbtErros was enabled
    QTest::addColumn<int>("flaggedBy30");         // dishes the unpaired service 30 flagged

    const QString ok = "0000000000";
    QTest::newRow("standard dish: no server call") << Lines{dishLine("P", "100001", "X")} << QStringList{ok} << "" << 0 << 0 << 0;
    QTest::newRow("local dish, same name")
        << Lines{dishLine("0009", "000900", "PUDIM DE LEITE CONDENSADO")} << QStringList{ok} << "" << 1 << 0 << 0;
    QTest::newRow("local dish, name differs in case only")
        << Lines{dishLine("0009", "000900", "Pudim de leite condensado")} << QStringList{"0001000000"}
        << "PUDIM DE LEITE CONDENSADO" << 1 << 1 << 0;
    QTest::newRow("local dish, free code") << Lines{dishLine("0009", "000777", "NOVO")} << QStringList{ok} << "" << 1 << 0 << 0;
    // The import trims the code: " 000900" would replace 000900.
    QTest::newRow("local dish, a padded code of another dish")
        << Lines{dishLine("0009", "\u00A0000900 ", "OUTRO")} << QStringList{"0001000000"} << "PUDIM DE LEITE CONDENSADO" << 1
        << 1 << 0;
    // The destination holds 0123456789 (flags()): a longer code is written cut, so it is asked cut.
    QTest::newRow("a code longer than its column, cut to another dish's")
        << Lines{dishLine("0009", "0123456789X", "OUTRO")} << QStringList{"0001000000"} << "BOLO DE CODIGO LONGO" + QString(20, u'-') << 1 << 1
        << 0;
    QTest::newRow("a code and a name longer than their columns, cut to the same dish")
        << Lines{dishLine("0009", "0123456789XYZ", "BOLO DE CODIGO LONGO" + QString(30, u'-'))} << QStringList{ok} << ""
        << 1 << 0 << 0;
    QTest::newRow("a code asked twice is asked twice (and both copies are flagged)")
        << Lines{dishLine("0009", "000900", "A"), dishLine("0009", "000900", "B")}
        << QStringList{"0001100000", "0001100000"} << "PUDIM DE LEITE CONDENSADO" << 2 << 3 << 0;
    QTest::newRow("free, free, taken, free: each answer is its own")
        << Lines{dishLine("0009", "000777", "NOVO"), dishLine("0009", "000778", "NOVO 2"),
                 dishLine("0009", "000900", "OUTRO"), dishLine("0009", "000779", "OUTRO")}
        << QStringList{ok, ok, "0001000000", ok} << "" << 4 << 1 << 0;
    QTest::newRow("unit and product missing")
        << Lines{dishLine("P", "1", "X", "XX"), recipe("1", "999999")} << QStringList{"1100000000"} << "" << 0 << 1 << 0;
    QTest::newRow("empty unit, product and service: not looked up; the product is a key")
        << Lines{dishLine("P", "1", "X", ""), recipe("1", "", ""), f({"PRATSERV", "0009", "", "P", "1", "2"})}
        << QStringList{"0000100000"} << "" << 0 << 0 << 0;
    QTest::newRow("unpaired service flags the dish loaded last")
        << Lines{dishLine("P", "1", "X"), dishLine("P", "2", "Y"), f({"PRATSERV", "0009", "30", "P", "2", "2"})}
        << QStringList{ok, "0010000000"} << "" << 0 << 0 << 1;
    QTest::newRow("a recipe's flags join the dish's")
        << Lines{dishLine("0009", "000900", "OUTRO"), recipe("000900", "999999")} << QStringList{"0101000000"}
        << "PUDIM DE LEITE CONDENSADO" << 1 << 1 << 0;
    QTest::newRow("a recipe before any dish: loaded, flags dropped")
        << Lines{recipe("1", "999999"), dishLine("P", "1", "X")} << QStringList{ok} << "" << 0 << 0 << 0;
    QTest::newRow("every flag")
        << Lines{dishLine("0009", "000900", "OUTRO", "XX"), recipe("000900", "999999"),
                 f({"RECESERV", "0009", "30", "0009", "000900", "000101", "KG", "1"})}
        << QStringList{"1111000000"} << "PUDIM DE LEITE CONDENSADO" << 1 << 1 << 1;
    QTest::newRow("one unpaired service over two dishes: each counted once")
        << Lines{dishLine("P", "1", "X"), f({"PRATSERV", "0009", "30", "P", "1", "2"}),
                 f({"RECESERV", "0009", "30", "P", "1", "000101", "KG", "1"}), dishLine("P", "2", "Y"),
                 f({"PRATSERV", "0009", "30", "P", "2", "2"}), f({"PRATSERV", "0009", "10", "P", "2", "1"})}
        << QStringList{"0010000000", "0010000000"} << "" << 0 << 0 << 2;
}

void TstLoadPass::flags()
{
    QFETCH(Lines, lines);
    QFETCH(QStringList, iderro);
    QFETCH(QString, local);
    QFETCH(int, serverCalls);
    QFETCH(int, errorButton);
    QFETCH(int, flaggedBy30);
    QVERIFY(m_f->exec(QStringLiteral("INSERT INTO PRATO (CDFILAUXPRAT, CDPRATO, CDFILIAL, NMPRATO) "
                                     "VALUES ('0001', '0123456789', '0001', 'BOLO DE CODIGO LONGO%1')")
                          .arg(QString(20, u'-'))));
    ExportWriter w;
    w.service("10", "Almoco").service("30", "Sem par");
    w.lines << lines;
    QCOMPARE(load(w), QString());
    QStringList got;
    for (int r = 0; r < m_s->cdsPrato.rowCount(); ++r)
        got << cell(m_s->cdsPrato, r, "IDERRO");
    QCOMPARE(got, iderro);
    QCOMPARE(cell(m_s->cdsPrato, m_s->cdsPrato.rowCount() - 1, "MNPRATOLOCAL"), local);
    QCOMPARE(m_s->stats().serverPesqPrato, serverCalls);
    // A reply is loaded unless it repeats the one cdsPesqPrato holds; the first one always is.
    QVERIFY(m_s->stats().pesqPratoLoads <= serverCalls);
    QCOMPARE(m_s->stats().pesqPratoLoads > 0, serverCalls > 0);
    QCOMPARE(m_obs.dishFlaggedCalls, errorButton);
    QCOMPARE(m_s->dishesFlaggedForService(QStringLiteral("30")), flaggedBy30);
    QCOMPARE(m_s->dishesFlaggedForService(QStringLiteral("10")), 0);
    // A local dish's tree is the destination branch.
    for (int r = 0; r < m_s->cdsPrato.rowCount(); ++r)
        QVERIFY(QStringList({"P", "0001"}).contains(cell(m_s->cdsPrato, r, "CDFILAUXPRAT")));
}

void TstLoadPass::lookupsAnswerAsTheirQueries()
{
    // Answers kept for the pass must be the answers the queries give, whatever the database's
    // comparison rules (trailing blanks, case).
    const QStringList units{"KG", "kg", "KG ", " KG", "XX", "PORC", "KG"};
    ExportWriter w;
    w.lines << dishLine("P", "1", "X");
    for (const QString &u : units)
        w.lines << recipe("1", "000101", u);
    QCOMPARE(load(w), QString());
    QSqlQuery q(m_f->db->db());
    bool anyMissing = false;
    for (const QString &u : units) {
        q.prepare("SELECT SGUNIDADE FROM UNIDMEDIDA WHERE SGUNIDADE = ?");
        q.addBindValue(u);
        QVERIFY(q.exec());
        const QString direct = q.next() ? q.value(0).toString() : QString();
        QCOMPARE(m_pass->PesqUnidMedida(u), direct);
        anyMissing = anyMissing || direct.isEmpty();
    }
    QCOMPARE(m_s->stats().unitQueries, 6); // once per distinct value
    QCOMPARE(cell(m_s->cdsPrato, 0, "IDERRO").startsWith(u'1'), anyMissing);
}

void TstLoadPass::passState()
{
    ExportWriter w;
    w.lines << dishLine("P", "1", "X") << recipe("1", "000101") << f({"RECEFILI", "0009", "P", "1", "000101", "KG", "1"});
    QCOMPARE(load(w), QString());
    QVERIFY(m_s->TemRecePadr && m_s->TemReceFili && !m_s->TemReceServ);
    QCOMPARE(m_obs.statuses.first(), Msg("VERIFICANDO_PRATOS"));
    // State after the last line: what followed its last terminator, the names no value used.
    QCOMPARE(m_pass->LinhaAtual, QString());
    QCOMPARE(m_pass->NomeTabela, QStringLiteral("RECEFILI"));
    // A later pass over a file without those lines clears them: they describe the file imported,
    // and a flag kept from the earlier file would make its import delete the dish's recipes.
    ExportWriter plain;
    plain.lines << dishLine("P", "1", "X");
    QCOMPARE(load(plain), QString());
    QVERIFY(!m_s->TemRecePadr && !m_s->TemReceFili && !m_s->TemReceServ);
    QCOMPARE(m_s->cdsRecePadr.rowCount(), 0);

    // A file that cannot be opened ends the pass with the system's message, clean-up done.
    m_s->NmArquivo = m_f->dir.filePath("missing.txt");
    QVERIFY(runPass(*m_s).startsWith(u'!'));
    QVERIFY(!m_s->Carregando);
}

void TstLoadPass::fileCheck_data()
{
    QTest::addColumn<QString>("name");      // relative to the test's directory; "" empty
    QTest::addColumn<Lines>("head");        // the file's first lines
    QTest::addColumn<bool>("required");
    QTest::addColumn<QString>("key");

    const Lines good{f({"PRATO", "X"}), f({"MASCARA", "999.999"})};
    QTest::newRow("empty, not required") << "" << good << false << "";
    QTest::newRow("empty, required") << " " << good << true << "Arquivo_Deve";
    QTest::newRow("directory missing") << "nodir/f.txt" << good << true << "Diretorio_N_Exist";
    QTest::newRow("file missing") << "other.txt" << good << true << "Arquivo_N_Exist";
    QTest::newRow("name with a trailing blank") << "f.txt " << good << true << "Arquivo_N_Exist";
    QTest::newRow("accepted") << "f.txt" << good << true << "";
    QTest::newRow("PRATO without a terminator") << "f.txt" << Lines{"PRATO", good[1]} << true << "Arquivo_Invalido";
    QTest::newRow("PRATO with text after it") << "f.txt" << Lines{QByteArray("PRATO\xF8tail"), good[1]} << true << "";
    QTest::newRow("a blank line ahead of the header") << "f.txt" << Lines{"", good[0], good[1]} << true << "Arquivo_Invalido";
    QTest::newRow("mask differs") << "f.txt" << Lines{good[0], f({"MASCARA", "99.9999"})} << true << "Mascara_Dif";
    QTest::newRow("mask without its terminator") << "f.txt" << Lines{good[0], "MASCARA\xF8" "999.999"} << true << "Mascara_Dif";
    QTest::newRow("no mask line") << "f.txt" << Lines{good[0]} << true << "Mascara_Dif";
}

void TstLoadPass::fileCheck()
{
    QFETCH(QString, name);
    QFETCH(Lines, head);
    QFETCH(bool, required);
    QFETCH(QString, key);
    ExportWriter w;
    w.lines = head;
    m_f->write(w);
    const QString before = QDir::currentPath();
    QDir::setCurrent(m_f->dir.path());
    m_s->NmArquivo = name;
    QString got, field;
    try {
        m_s->Vd_Arquivo(required);
    } catch (const AbandonedAction &a) {
        got = a.key();
        field = a.field();
    }
    // The process's current directory is the host's: the check leaves it alone.
    QCOMPARE(QDir::currentPath(), m_f->dir.path());
    QDir::setCurrent(before);
    QCOMPARE(got, key);
    QCOMPARE(field, key.isEmpty() ? QString() : QStringLiteral("medNmArquivo"));
    QVERIFY(!m_s->cdsParamGeral.isActive());
    if (key.isEmpty() && !name.trimmed().isEmpty()) {
        // The directory is remembered on the server, as an absolute name ending in the separator.
        QCOMPARE(m_s->rememberedDirectory(), QDir(m_f->dir.path()).absolutePath() + u'/');
        QCOMPARE(m_f->db->count("DIRETORIOS", "CDPROGRAMA = 'IMP40500'"), 1);
    }
}

void TstLoadPass::branchCheck_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("required");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("adjusted");
    QTest::addColumn<QString>("name");
    QTest::newRow("short code adjusted") << "1" << true << "" << "0001" << "RESTAURANTE MATRIZ";
    QTest::newRow("empty, not required") << " " << false << "" << "" << "";
    QTest::newRow("empty, required") << "" << true << "Filial_Deve" << "" << "";
    QTest::newRow("unknown") << "9999" << true << "Filial_N_Cad" << "9999" << "";
    QTest::newRow("not the operator's") << "4" << true << "Filial_N_Cad" << "0004" << "";
    QTest::newRow("contract rescinded") << "3" << false << "Filial_Resc" << "0003" << "";
}

void TstLoadPass::branchCheck()
{
    QFETCH(QString, typed);
    QFETCH(bool, required);
    QFETCH(QString, key);
    QFETCH(QString, adjusted);
    QFETCH(QString, name);
    m_s->CdFilial = typed;
    QString got, gotName;
    try {
        gotName = m_s->Vd_CdFilial(required, "ADMIN");
    } catch (const AbandonedAction &a) {
        got = a.key();
    }
    QCOMPARE(got, key);
    QCOMPARE(m_s->CdFilial, adjusted); // written back in every case
    QCOMPARE(gotName, name);
}

QTEST_GUILESS_MAIN(TstLoadPass)
#include "tst_loadpass.moc"
