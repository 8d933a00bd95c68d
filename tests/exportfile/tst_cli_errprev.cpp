// `imp40500 check --errors-csv`, the preview in the check's report and JSON, and SIGINT/SIGTERM
// during a check and during an import, on real processes over both databases.
#include "exportwriter.h"
#include "serverprocess.h"
#include "seededserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

using Run = ProcessRun;

// Whether the process has its own handler for SIGINT yet (the mask of caught signals).
bool catchesSigint(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGINT - 1)) & 1;
    return false;
}

} // namespace

class TstCliErrPrev : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();
    void errorsCsv_data();
    void errorsCsv();
    void previewReport();
    void stopSignals_data();
    void stopSignals();

private:
    QProcess *start(const QStringList &args, const QStringList &env = {});
    Run run(const QStringList &args) { return ProcessRun::finish(*start(args)); }
    QString write(const ExportWriter &w, const QString &name = QStringLiteral("f.txt"));
    std::unique_ptr<SeededDb> m_db;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_proc;
};

void TstCliErrPrev::initTestCase_data()
{
    bothDatabases();
}

void TstCliErrPrev::init()
{
    const auto seeded = [](const QString &kind, QString *why) { return SeededDb::create(kind, true, why); };
    OPEN_FOR_DATABASE_ROW(m_db, seeded)
}

void TstCliErrPrev::cleanup()
{
    if (m_proc && m_proc->state() != QProcess::NotRunning) {
        m_proc->kill();
        m_proc->waitForFinished();
    }
    m_proc.reset();
    m_db.reset();
}

QProcess *TstCliErrPrev::start(const QStringList &args, const QStringList &env)
{
    m_proc = std::make_unique<QProcess>();
    m_proc->setWorkingDirectory(m_dir.path());
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString &kv : env)
        e.insert(kv.section(u'=', 0, 0), kv.section(u'=', 1));
    m_proc->setProcessEnvironment(e);
    m_proc->start(QStringLiteral(IMP40500_BIN), args + QStringList{"--db", m_db->url(), "--locale", "pt_BR"});
    m_proc->waitForStarted();
    return m_proc.get();
}

QString TstCliErrPrev::write(const ExportWriter &w, const QString &name)
{
    const QString path = m_dir.filePath(name);
    return w.write(path) ? path : QString();
}

void TstCliErrPrev::errorsCsv_data()
{
    QTest::addColumn<QString>("branch");
    QTest::addColumn<QByteArray>("file"); // empty: the dishes below
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("rows");        // -1: no CSV at all
    QTest::newRow("loaded") << "0001" << QByteArray() << 0 << 3;
    // Refused by a check of the parameters: exit 2 as ever, and no file.
    QTest::newRow("branch unknown") << "77" << QByteArray() << 2 << -1;
    QTest::newRow("not an export file") << "0001" << QByteArray("hello\r\n") << 2 << -1;
}

void TstCliErrPrev::errorsCsv()
{
    QFETCH(QString, branch);
    QFETCH(QByteArray, file);
    QFETCH(int, exitCode);
    QFETCH(int, rows);
    ExportWriter w;
    w.dish("P", "555001", "SEM UNIDADE", "XX")
        .add({"RECEPADR", "P", "555001", "999999", "KG", "1"})
        .dish("0009", "000900", "OUTRO NOME")
        .dish("P", "555002", "LIMPO");
    const QString path = write(w);
    if (!file.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(file);
    }
    const QString csv = m_dir.filePath(QStringLiteral("erros.csv"));
    QFile::remove(csv);
    const Run r = run({"check", path, "--branch", branch, "--errors-csv", csv});
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(QFile::exists(csv), rows >= 0);
    if (rows < 0)
        return;
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBFlinha;prato;nome;arvore;erro\r\n"));
    QCOMPARE(bytes.count("\r\n"), rows + 1);
    // The code as the grid shows it, through the destination's mask.
    QVERIFY(bytes.contains("\r\n14;555.001;SEM UNIDADE;Padr\xC3\xA3o;Unidade de medida n\xC3\xA3o existe no destino.\r\n"));
}

void TstCliErrPrev::previewReport()
{
    ExportWriter w;
    w.dish("P", "100001", "ARROZ BRANCO")
        .add({"RECEPADR", "P", "100001", "000101", "KG", "1"})
        .dish("P", "555001", "NOVO")
        .dish("P", "555002", "SEM UNIDADE", "XX");
    const QString path = write(w);

    const Run j = run({"check", path, "--branch", "0001", "--json"});
    QCOMPARE(j.exitCode, 0);
    // The one key added to the check's JSON, and last, so what came before reads as it did.
    QVERIFY(j.out.contains("\n \"preview\": {\"new\": [\"555001\"], \"replaced\": [\"100001\"], "
                           "\"rows_replaced\": {\"RECEPADR\": 2, \"RECEFILI\": 0, \"RECESERV\": 0}}}\n"));
    QVERIFY(j.out.endsWith("}}}\n"));
    QVERIFY(!QJsonDocument::fromJson(j.out).isNull());

    const Run t = run({"check", path, "--branch", "0001"});
    QCOMPARE(t.exitCode, 0);
    QVERIFY(t.out.contains("ARROZ BRANCO                              Padr\xC3\xA3o  (substitui)\n"));
    QVERIFY(t.out.contains("NOVO                                      Padr\xC3\xA3o  (novo)\n"));
    QVERIFY(t.out.endsWith("novos 1, substitu\xC3\xAD" "dos 1; linhas do destino substitu\xC3\xAD" "das: RECEPADR 2, RECEFILI 0, RECESERV 0.\n"));
}

void TstCliErrPrev::stopSignals_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("pauseAt"); // the import's pause point the signal is sent at
    QTest::addColumn<int>("signal");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("check, SIGINT") << "check" << "" << int(SIGINT)
                                   << QByteArray("Verifica\xC3\xA7\xC3\xA3o interrompida pelo sinal SIGINT.");
    QTest::newRow("import, SIGTERM after the dishes") << "import" << "pratos" << int(SIGTERM)
                                                      << QByteArray("nada foi gravado");
    QTest::newRow("import, SIGINT before the commit") << "import" << "antes-commit" << int(SIGINT)
                                                      << QByteArray("nada foi gravado");
}

void TstCliErrPrev::stopSignals()
{
    QFETCH(QString, command);
    QFETCH(QString, pauseAt);
    QFETCH(int, signal);
    QFETCH(QByteArray, line);
    // Enough lines that the check is still loading when the signal comes; an import pauses.
    ExportWriter w;
    const int dishes = pauseAt.isEmpty() ? 60000 : 20;
    for (int i = 0; i < dishes; ++i)
        w.dish("P", QStringLiteral("7%1").arg(i, 5, 10, QLatin1Char('0')), QStringLiteral("PRATO %1").arg(i))
            .add({"RECEPADR", "P", QStringLiteral("7%1").arg(i, 5, 10, QLatin1Char('0')), "000101", "KG", "1"});
    const QString path = write(w);
    // The import remembers the file's directory before it loads the file: already remembered, its
    // write changes nothing, and the destination must end as it began.
    QSqlQuery remember(m_db->db());
    remember.prepare(QStringLiteral("INSERT INTO DIRETORIOS (CDPROGRAMA, DSDIRETORIO) VALUES ('IMP40500', ?)"));
    remember.addBindValue(QDir::toNativeSeparators(m_dir.path() + u'/'));
    QVERIFY(remember.exec());
    const QString before = m_db->snapshot();

    QProcess *p = start({command, path, "--branch", "0001"},
                        pauseAt.isEmpty() ? QStringList{}
                                          : QStringList{"IMP_SERVER_PAUSE_AT=" + pauseAt, "IMP_SERVER_PAUSE_SECONDS=1"});
    QByteArray err;
    bool ready = false;
    for (int i = 0; i < 3000 && !ready && p->state() == QProcess::Running; ++i) {
        p->waitForReadyRead(10);
        err += p->readAllStandardError();
        ready = pauseAt.isEmpty() ? catchesSigint(p->processId()) : err.contains("pausa em " + pauseAt.toUtf8());
    }
    QVERIFY2(ready, err.constData());
    ::kill(pid_t(p->processId()), signal);
    Run r = ProcessRun::finish(*p);
    r.err.prepend(err);
    QCOMPARE(r.exitCode, 130);
    QVERIFY2(r.err.contains(line), r.err.constData());
    QVERIFY(r.out.isEmpty());
    // Nothing of the import reached the destination.
    QCOMPARE(m_db->snapshot(), before);
}

QTEST_MAIN(TstCliErrPrev)
#include "tst_cli_errprev.moc"
