// What a careless file or a failing destination does to the load pass: rows the destination could
// not store (no key, a repeated key, a NUL) are flagged on their dish before the import; values
// that do not convert and a cut last line are told; a lookup that cannot be made fails the pass
// once; the remembered directory never stops a file.
#include "loadfixture.h"

#include "checks.h"
#include "dishflags.h"
#include "messages.h"

#include <QDir>
#include <QFile>
#include <QSet>

using Lines = QList<QByteArray>;
Q_DECLARE_METATYPE(Lines)

namespace {

QByteArray f(const QStringList &v)
{
    return ExportWriter::fields(v);
}
QByteArray dishLine(const QString &tree, const QString &code, const QString &name = "D", const QString &unit = "KG",
                    const QString &amount = "0,5", const QString &date = "10/1/2024")
{
    return f({"PRATO", tree, code, "0009", name, "1", unit, amount, date, "01", "EXP", "12/3/2024 08:15"});
}
QByteArray recipe(const QString &code, const QString &product, const QString &amount = "0,25")
{
    return f({"RECEPADR", "P", code, product, "KG", amount});
}

// The module's answers, except for the methods named, which fail as a server that lost its
// database would.
struct FailingTransport : ServerTransport {
    std::unique_ptr<ServerTransport> inner;
    QSet<QString> failing;
    int failures = 0;
    Result<QByteArray> call(const QString &method, const CallArgs &args) override
    {
        if (failing.contains(method)) {
            ++failures;
            return Result<QByteArray>::fail(QStringLiteral("%1: o banco de dados não está disponível.").arg(method));
        }
        return inner->call(method, args);
    }
};

struct NoticeObserver : RecordingObserver {
    QStringList notices;
    void showNotice(const QString &t) override { notices << t; }
};

const QString kOk = QStringLiteral("0000000000");
const QString kKey = QStringLiteral("0000100000");

} // namespace

class TstLoadFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();
    void keys_data();
    void keys();
    void controlCharacters();
    void unparsedValues();
    void cutLastLine_data();
    void cutLastLine();
    void failedLookupEndsThePassOnce_data();
    void failedLookupEndsThePassOnce();
    void directoryNeverStopsTheFile();
    void localeOfAnEnvironmentWithoutOne_data();
    void localeOfAnEnvironmentWithoutOne();

private:
    std::unique_ptr<LoadFixture> m_f;
    std::unique_ptr<ImportSession> m_s;
    NoticeObserver m_obs;
    std::unique_ptr<QuietSink> m_sink;
    FailingTransport *m_transport = nullptr;
    QString load(const ExportWriter &w);
    QString loadBytes(const QByteArray &bytes);
    QStringList flags() const;
};

void TstLoadFaults::initTestCase_data()
{
    bothDatabases();
}

void TstLoadFaults::init()
{
    OPEN_FOR_DATABASE_ROW(m_f, LoadFixture::make)
    auto t = std::make_unique<FailingTransport>();
    t->inner = std::make_unique<InProcessTransport>(m_f->module);
    m_transport = t.get();
    m_f->net.setTransport(std::move(t));
    m_s = std::make_unique<ImportSession>(m_f->net);
    m_obs = NoticeObserver{};
    m_s->setObserver(&m_obs);
    m_s->CdFilial = QStringLiteral("0001");
    m_sink = std::make_unique<QuietSink>();
}

void TstLoadFaults::cleanup()
{
    m_s.reset();
    m_f.reset();
    m_sink.reset();
}

QString TstLoadFaults::load(const ExportWriter &w)
{
    m_s->NmArquivo = m_f->write(w);
    return runPass(*m_s);
}

QString TstLoadFaults::loadBytes(const QByteArray &bytes)
{
    m_s->NmArquivo = m_f->dir.filePath("raw.txt");
    QFile file(m_s->NmArquivo);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QStringLiteral("cannot write");
    file.close();
    return runPass(*m_s);
}

QStringList TstLoadFaults::flags() const
{
    QStringList got;
    for (int r = 0; r < m_s->cdsPrato.rowCount(); ++r)
        got << cell(m_s->cdsPrato, r, "IDERRO");
    return got;
}

void TstLoadFaults::keys_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QStringList>("iderro"); // per dish row

    QTest::newRow("a repeated dish: every copy flagged")
        << Lines{dishLine("P", "1"), dishLine("P", "2"), dishLine("P", "1", "OUTRO")} << QStringList{kKey, kOk, kKey};
    QTest::newRow("a second export appended")
        << Lines{dishLine("P", "1"), recipe("1", "000101"), dishLine("P", "1"), recipe("1", "000101")}
        << QStringList{kKey, kKey};
    QTest::newRow("local dishes of two source branches meet at the destination")
        << Lines{dishLine("0009", "000777"), dishLine("0008", "000777")} << QStringList{kKey, kKey};
    QTest::newRow("a standard and a local dish of one code are two dishes")
        << Lines{dishLine("P", "000777"), dishLine("0009", "000777")} << QStringList{kOk, kOk};
    // Blanks at either end are cut by the import (U+00A0 too), so the codes are one dish there.
    QTest::newRow("codes compared as the destination keys them: blanks around, another case")
        << Lines{dishLine("P", "A1"), dishLine("P", "A1 "), dishLine("P", "a1"), dishLine("P", "\u00A0a1")}
        << QStringList{kKey, kKey, kKey, kKey};
    // Codes kept one byte a character until the euro sign widens the column: one key either way.
    QTest::newRow("accented codes, the column widening half-way")
        << Lines{dishLine("P", "Ç1"), dishLine("P", "€2"), dishLine("P", "Ç1"), dishLine("P", "€2"), dishLine("P", "€3")}
        << QStringList{kKey, kKey, kKey, kKey, kOk};
    QTest::newRow("a dish without a code") << Lines{dishLine("P", ""), dishLine("P", "  ")} << QStringList{kKey, kKey};
    QTest::newRow("a recipe line without its product flags its dish")
        << Lines{dishLine("P", "1"), dishLine("P", "2"), recipe("2", "")} << QStringList{kOk, kKey};
    // A recipe row's faults go to the dish the server would write the row with: the one of its key.
    QTest::newRow("a recipe key repeated after another dish: the dish of the key")
        << Lines{dishLine("P", "1"), recipe("1", "000101"), dishLine("P", "2"), recipe("1", "000101", "0,5")}
        << QStringList{kKey, kOk};
    QTest::newRow("a faulty recipe line before its dish")
        << Lines{recipe("1", ""), dishLine("P", "1")} << QStringList{kKey};
    QTest::newRow("a recipe line of no dish of the file: the dish loaded before it")
        << Lines{dishLine("P", "1"), recipe("9", "")} << QStringList{kKey};
    QTest::newRow("a NUL in a recipe line after another dish: its own dish (the product, not found, the last)")
        << Lines{dishLine("P", "1"), dishLine("P", "2"), recipe("1", "0001" + QString(QChar(0)) + "01")}
        << QStringList{"0000010000", "0100000000"};
    QTest::newRow("a number too large for its column, in the dish line")
        << Lines{dishLine("P", "1", "D", "KG", "1000000000000"), dishLine("P", "2", "D", "KG", "999999999999,9")}
        << QStringList{"0000001000", kOk};
    QTest::newRow("a number too large in a recipe line after another dish")
        << Lines{dishLine("P", "1"), dishLine("P", "2"), recipe("1", "000101", "12345678901234,5")}
        << QStringList{"0000001000", kOk};
    QTest::newRow("one key in two tables is no repeat")
        << Lines{dishLine("P", "1"), recipe("1", "000101"), f({"RECEFILI", "0009", "P", "1", "000101", "KG", "1"}),
                 f({"PRATPADR", "P", "1", "KG", "1"}), f({"PRATFILI", "0009", "P", "1", "4,9"})}
        << QStringList{kOk};
    QTest::newRow("an empty CDFILIAL is the destination branch")
        << Lines{dishLine("P", "1"), f({"RECEFILI", "", "P", "1", "000101", "KG", "1"}),
                 f({"RECEFILI", "0009", "P", "1", "000101", "KG", "2"})}
        << QStringList{kKey};
    QTest::newRow("branch and tree replaced before the comparison")
        << Lines{dishLine("P", "1"), f({"PRATFILI", "0009", "0009", "1", "1"}), f({"PRATFILI", "0008", "0008", "1", "2"})}
        << QStringList{kKey};
    QTest::newRow("RECESERV: an empty service, a repeat")
        << Lines{dishLine("P", "1"), f({"RECESERV", "0009", "10", "P", "1", "000101", "KG", "1"}),
                 f({"RECESERV", "0009", "10", "P", "1", "000102", "KG", "1"}), dishLine("P", "2"),
                 f({"RECESERV", "0009", "", "P", "2", "000101", "KG", "1"}), dishLine("P", "3"),
                 f({"RECESERV", "", "10", "P", "1", "000101", "KG", "2"})}
        << QStringList{kKey, kKey, kOk};
    QTest::newRow("PRATSERV is not checked")
        << Lines{dishLine("P", "1"), f({"PRATSERV", "0009", "10", "P", "1", "2"}), f({"PRATSERV", "0009", "10", "P", "1", "2"}),
                 f({"PRATSERV", "", "", "", "", ""})}
        << QStringList{kOk};
    Lines many{dishLine("P", "1"), recipe("1", "000101"), dishLine("P", "2")};
    for (int i = 0; i < 3000; ++i)
        many << recipe(i % 2 ? "2" : "1", "000101");
    many << dishLine("P", "3") << recipe("3", "000101");
    QTest::newRow("a recipe line repeated thousands of times")
        << many << QStringList{kKey, kKey, kOk};
    QTest::newRow("joins the other flags of the dish")
        << Lines{dishLine("P", "1", "D", "XX"), recipe("1", "999999"), recipe("1", "")} << QStringList{"1100100000"};
}

void TstLoadFaults::keys()
{
    QFETCH(Lines, lines);
    QFETCH(QStringList, iderro);
    ExportWriter w;
    w.service("10", "Almoco");
    w.lines << lines;
    QCOMPARE(load(w), QString());
    QCOMPARE(flags(), iderro);
    // Flagging an earlier dish leaves the table on the dish loaded last, for the recipe lines.
    QCOMPARE(m_s->lastDishRow(), m_s->cdsPrato.rowCount() - 1);
    QCOMPARE(m_s->cdsPrato.currentRow(), m_s->cdsPrato.rowCount() - 1);
}

void TstLoadFaults::controlCharacters()
{
    const QString nul(QChar(0));
    ExportWriter w;
    w.lines << dishLine("P", "1", "BOLO" + nul + "X")          // line 14: the dish itself
            << dishLine("P", "2") << recipe("2", "000101")        // 15, 16
            << f({"RECEFILI", "0009", "P", "2", "0001" + nul + "01", "KG", "1"}) // 17: its recipe
            << dishLine("P", "3", "D", "KG", "0" + nul + ",5");  // 18: in a number: no value
    QCOMPARE(load(w), QString());
    // The product with a NUL is not at the destination either.
    QCOMPARE(flags(), (QStringList{"0000010000", "0100010000", kOk}));
    QCOMPARE(m_s->controlCharLine(0), 14);
    QCOMPARE(m_s->controlCharLine(1), 17);
    QCOMPARE(m_s->controlCharLine(2), 0);
    QCOMPARE(m_s->loadNotes().nulLines, (QList<int>{14, 17}));
    // The value itself is kept as read: the flag holds the dish back, nothing is changed silently.
    QCOMPARE(cell(m_s->cdsPrato, 0, "NMPRATO"), "BOLO" + nul + "X");
    const QStringList texts = DishFlags::texts(cell(m_s->cdsPrato, 1, "IDERRO"), {}, m_s->controlCharLine(1));
    QCOMPARE(texts.size(), 2);
    QVERIFY2(texts.last().contains(u"linha 17 "), qPrintable(texts.last()));
    QCOMPARE(m_s->loadNotes().unparsed.size(), 1);
    QCOMPARE(m_s->loadNotes().unparsed.first().lines, QList<int>{18});
}

void TstLoadFaults::unparsedValues()
{
    ExportWriter w;
    w.lines << dishLine("P", "1", "D", "KG", "abc")                   // 14
            << dishLine("P", "2", "D", "KG", "1.5", "31/2/2024")       // 15: pt_BR: no point, no 31 Feb
            << dishLine("P", "3")                                      // 16: clean
            << dishLine("P", "4", "D", "KG", "x") << dishLine("P", "5", "D", "KG", "y") // 17, 18
            << recipe("5", "000101", "0,5,5")                          // 19
            << dishLine("P", "12345678901") << dishLine("P", "2234567890 ")   // 20: a code cut; 21: blanks only
            << recipe("12345678901", "000101", "0,1234565");           // 22: cut, and rounded at the scale
    QCOMPARE(load(w), QString());
    // Still null, and the dishes carry no flag for it.
    QCOMPARE(flags(), QStringList(7, kOk));
    QVERIFY(m_s->cdsPrato.isNullAt(0, m_s->cdsPrato.fieldIndex(u"VRARREDTRANS")));
    const auto &u = m_s->loadNotes().unparsed;
    QCOMPARE(u.size(), 3);
    QCOMPARE(u[0].table + '.' + u[0].column, QStringLiteral("PRATO.VRARREDTRANS"));
    QCOMPARE(u[0].count, 4);
    QCOMPARE(u[0].lines, (QList<int>{14, 15, 17})); // the first ones only
    QCOMPARE(u[1].table + '.' + u[1].column + ' ' + QString::number(u[1].count), QStringLiteral("PRATO.DTULTATUPRAT 1"));
    QCOMPARE(u[2].table + '.' + u[2].column + ' ' + QString::number(u[2].lines.first()), QStringLiteral("RECEPADR.QTPRODUTO 19"));
    // Key values as the destination will hold them, counted where more than blanks was cut.
    const auto &cut = m_s->loadNotes().cut;
    QCOMPARE(cut.size(), 2);
    QCOMPARE(cut[0].table + '.' + cut[0].column + ' ' + QString::number(cut[0].count), QStringLiteral("PRATO.CDPRATO 1"));
    QCOMPARE(cut[0].lines, QList<int>{20});
    QCOMPARE(cut[1].table + '.' + cut[1].column + ' ' + QString::number(cut[1].lines.first()), QStringLiteral("RECEPADR.CDPRATO 22"));
    QCOMPARE(cell(m_s->cdsPrato, 5, "CDPRATO"), QStringLiteral("1234567890"));
    const auto &rounded = m_s->loadNotes().rounded;
    QCOMPARE(rounded.size(), 1);
    QCOMPARE(rounded[0].table + '.' + rounded[0].column + ' ' + QString::number(rounded[0].lines.first()),
             QStringLiteral("RECEPADR.QTPRODUTO 22"));
    QCOMPARE(m_s->cdsRecePadr.numberAt(1, m_s->cdsRecePadr.fieldIndex(u"QTPRODUTO")), 0.123457);
    // The status line keeps it once the pass is over.
    const QStringList warnings = m_s->loadWarnings();
    QCOMPARE(warnings.size(), 6);
    QVERIFY2(warnings[0].contains(u"PRATO.VRARREDTRANS: 4 ") && warnings[0].contains(u"14, 15, 17"), qPrintable(warnings[0]));
    QCOMPARE(m_obs.statuses.last(), warnings.join(u' '));

    // A clean file says nothing, and a later pass forgets what the last one found.
    ExportWriter clean;
    clean.lines << dishLine("P", "1");
    QCOMPARE(load(clean), QString());
    QVERIFY(m_s->loadNotes().isEmpty());
    QCOMPARE(m_obs.statuses.last(), QString());
}

void TstLoadFaults::cutLastLine_data()
{
    QTest::addColumn<QByteArray>("tail");  // after the file's dish lines 14 and 15
    QTest::addColumn<int>("cutLine");
    QTest::addColumn<int>("dishes");

    const QByteArray full = dishLine("P", "3");
    QTest::newRow("complete") << full + "\r\n" << 0 << 3;
    QTest::newRow("complete, no final line end") << full << 0 << 3;
    QTest::newRow("complete, blanks after the last terminator") << full + "  \r\n" << 0 << 3;
    QTest::newRow("cut in a value") << full.left(full.indexOf("D\xF8") + 1) << 16 << 3;
    QTest::newRow("cut in the table name") << QByteArray("PRA") << 16 << 2;
    QTest::newRow("cut, then blank lines") << full.left(20) + "\r\n\r\n  \r\n" << 16 << 3;
}

void TstLoadFaults::cutLastLine()
{
    QFETCH(QByteArray, tail);
    QFETCH(int, cutLine);
    QFETCH(int, dishes);
    ExportWriter w;
    w.lines << dishLine("P", "1") << dishLine("P", "2");
    QCOMPARE(loadBytes(w.bytes() + tail), QString());
    QCOMPARE(m_s->cdsPrato.rowCount(), dishes);
    QCOMPARE(m_s->loadNotes().cutLastLine, cutLine);
    if (cutLine) {
        QCOMPARE(m_s->loadWarnings(), QStringList{Msg("Linha_Incompleta").arg(cutLine)});
        QCOMPARE(m_obs.statuses.last(), m_s->loadWarnings().first());
    } else {
        QVERIFY(m_s->loadWarnings().isEmpty());
    }
}

void TstLoadFaults::failedLookupEndsThePassOnce_data()
{
    QTest::addColumn<QString>("failing"); // a server method, or "UNIDMEDIDA" for the unit query
    QTest::addColumn<int>("dishesLeft");  // rows of cdsPrato after the failure

    QTest::newRow("GetPesqPrato") << "GetPesqPrato" << 1;
    QTest::newRow("an empty table's packet") << "GetReceServ" << 0;
    QTest::newRow("unit lookup") << "UNIDMEDIDA" << 0;
}

void TstLoadFaults::failedLookupEndsThePassOnce()
{
    QFETCH(QString, failing);
    QFETCH(int, dishesLeft);
    ExportWriter w;
    w.lines << dishLine("P", "100") << recipe("100", "000101");
    for (int i = 0; i < 200; ++i)
        w.lines << dishLine("0009", QString::number(1000 + i));
    if (failing.startsWith(u"Get"))
        m_transport->failing.insert(failing);
    else
        QVERIFY(m_f->exec("ALTER TABLE UNIDMEDIDA RENAME TO UNIDMEDIDA_FORA"));
    // The message comes after the clean-up: every server call ended, the pass over.
    struct AtMessage : MessageSink {
        std::function<void(const QString &)> f;
        void showError(const QString &t) override { f(t); }
        void showInfo(const QString &) override {}
    } at;
    QStringList states;
    at.f = [&](const QString &t) {
        states << QStringLiteral("calls=%1 loading=%2").arg(m_obs.serverCallsOpen).arg(m_s->Carregando);
        m_sink->errors << t;
    };
    MessageSink *oldSink = setMessageSink(&at);
    const QString got = load(w);
    setMessageSink(oldSink);
    QCOMPARE(states, QStringList{QStringLiteral("calls=0 loading=0")});
    if (!failing.startsWith(u"Get"))
        QVERIFY(m_f->exec("ALTER TABLE UNIDMEDIDA_FORA RENAME TO UNIDMEDIDA"));
    // A failed load: one message, no refusal of the file. The database's failure keeps its key in
    // the catalogue; the transport's has none.
    const bool database = !failing.startsWith(u"Get");
    QVERIFY2(database ? got.startsWith(u"BD_") : got.startsWith(u'!'), qPrintable(got));
    QCOMPARE(m_sink->errors.size(), 1);
    if (!database)
        QCOMPARE(u'!' + m_sink->errors.first(), got);
    if (failing.startsWith(u"Get")) {
        QCOMPARE(m_transport->failures, 1);
        QVERIFY(got.contains(failing));
    }
    // What came before the failing line stays, as after any failure of the pass; the dish being
    // built does not.
    QCOMPARE(m_s->cdsPrato.isActive() ? m_s->cdsPrato.rowCount() : 0, dishesLeft);
    QCOMPARE(m_s->cdsPrato.state(), m_s->cdsPrato.isActive() ? TableState::Browse : TableState::Inactive);
    QVERIFY(!m_s->Carregando);
    QCOMPARE(m_obs.serverCallsOpen, 0);
    QCOMPARE(m_obs.statuses.last(), QString());

    // The same session loads again once the destination answers.
    m_transport->failing.clear();
    m_sink->errors.clear();
    QCOMPARE(load(w), QString());
    QCOMPARE(m_s->cdsPrato.rowCount(), 201);
    QVERIFY(m_sink->errors.isEmpty());
}

void TstLoadFaults::directoryNeverStopsTheFile()
{
    ExportWriter w;
    w.lines = {f({"PRATO", "X"}), f({"MASCARA", "999.999"})};
    const auto check = [&](const QString &path) {
        m_s->NmArquivo = path;
        try {
            m_s->Vd_Arquivo(true);
            return QString();
        } catch (const AbandonedAction &a) {
            return a.key().isEmpty() ? a.text() : a.key();
        }
    };

    // Too long for the column (as the server's packet gives it): the file passes, nothing is
    // written or cut, the operator is told once however often the file is checked.
    QCOMPARE(m_s->loadDiretorios().value(), QString());
    QString deep = m_f->dir.path();
    while (deep.size() <= 110)
        deep += QStringLiteral("/pasta-de-exportacao");
    QVERIFY(QDir().mkpath(deep));
    w.write(deep + "/f.txt");
    QCOMPARE(check(deep + "/f.txt"), QString());
    QCOMPARE(check(deep + "/f.txt"), QString());
    QCOMPARE(m_f->db->count("DIRETORIOS"), 0);
    QCOMPARE(m_s->rememberedDirectory(), QString());
    QCOMPARE(m_obs.notices, QStringList{Msg("Diretorio_Longo").arg(100)});

    // A destination that refuses the write: the same.
    const QString shortPath = m_f->write(w);
    m_transport->failing.insert(QStringLiteral("SetDiretorios"));
    QCOMPARE(check(shortPath), QString());
    QCOMPARE(check(shortPath), QString());
    QCOMPARE(m_obs.notices.size(), 2);
    QVERIFY(m_obs.notices.last().startsWith(Msg("Diretorio_N_Lembrado").arg(QString())));
    QVERIFY(m_obs.notices.last().contains(u"SetDiretorios"));
    QVERIFY(m_sink->errors.isEmpty());
    QCOMPARE(m_s->cdsDiretorios.state(), TableState::Browse);
    QCOMPARE(m_s->cdsDiretorios.changeCount(), 0);
    QCOMPARE(m_f->db->count("DIRETORIOS"), 0);

    // Once it answers again, the directory is remembered; a dry run writes nothing.
    m_transport->failing.clear();
    QCOMPARE(check(shortPath), QString());
    QCOMPARE(m_f->db->count("DIRETORIOS"), 1);
    QVERIFY(QDir().mkpath(m_f->dir.filePath("outra")));
    w.write(m_f->dir.filePath("outra/f.txt"));
    m_s->RememberDirectory = false;
    QCOMPARE(check(m_f->dir.filePath("outra/f.txt")), QString());
    QCOMPARE(m_f->db->count("DIRETORIOS", "DSDIRETORIO LIKE '%outra%'"), 0);
}

void TstLoadFaults::localeOfAnEnvironmentWithoutOne_data()
{
    QTest::addColumn<QStringList>("env"); // LC_ALL, LC_NUMERIC, LANG ("" unset)
    QTest::addColumn<bool>("ptBR");       // false: the system's
    QTest::newRow("nothing set") << QStringList{"", "", ""} << true;
    QTest::newRow("LANG=C.UTF-8") << QStringList{"", "", "C.UTF-8"} << true;
    QTest::newRow("LC_ALL=POSIX over LANG") << QStringList{"POSIX", "", "de_DE.UTF-8"} << true;
    QTest::newRow("LC_NUMERIC=C over LANG") << QStringList{"", "C", "en_US.UTF-8"} << true;
    QTest::newRow("LC_NUMERIC names one") << QStringList{"", "de_DE.UTF-8", "C"} << false;
}

void TstLoadFaults::localeOfAnEnvironmentWithoutOne()
{
    QFETCH(QStringList, env);
    QFETCH(bool, ptBR);
    const char *names[3] = {"LC_ALL", "LC_NUMERIC", "LANG"};
    QByteArray saved[3];
    for (int i = 0; i < 3; ++i) {
        saved[i] = qgetenv(names[i]);
        env[i].isEmpty() ? qunsetenv(names[i]) : qputenv(names[i], env[i].toLatin1());
    }
    const QLocale got = Ambiente::exportFileLocale();
    for (int i = 0; i < 3; ++i)
        saved[i].isNull() ? qunsetenv(names[i]) : qputenv(names[i], saved[i]);
    QCOMPARE(got, ptBR ? QLocale(QLocale::Portuguese, QLocale::Brazil) : QLocale::system());
}

QTEST_GUILESS_MAIN(TstLoadFaults)
#include "tst_loadfaults.moc"
