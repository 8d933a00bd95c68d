// bench_importacao [DISHES [RUNS [LOCAL [replace]]]]: Importacao of DISHES dishes (default 100,000) with
// eight recipe rows each, LOCAL percent of them (default 10) local dishes of the destination branch,
// into SQLite and PostgreSQL, beside the bulk loaders of the same rows: sqlite3's .import
// of CSV files into a fresh database and psql's \copy into a fresh PostgreSQL database. Each is
// run RUNS times (default 3) on a fresh database and the best time kept, as the machine is shared.
// PostgreSQL is measured when IMP_TEST_PG_URL (or IMP_BENCH_PG_URL) names a server: Importacao in
// this process and, when imp40500-server is built beside this program, through it over HTTP, each
// run printed beside psql's, then the least and the median of each (IMP_BENCH_ONLY=sqlite or
// =postgresql measures one database only). With "replace",
// the same call is made once before the timed one, untimed: the timed import replaces every dish
// (and keeps all of them for its undo).
#include "appserver.h"
#include "database.h"
#include "datapacket.h"
#include "memtable.h"
#include "rdmimpoprato.h"
#include "schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// CPU seconds (user and system) of this process, or of its waited-for children: on a machine that
// others share, the wall-clock figures vary with their load, these much less.
double cpuSeconds(int who)
{
    rusage ru{};
    getrusage(who, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}
double g_lastCpu = -1; // CPU seconds of the last timeImport or timeProcess
bool g_replace = false; // each timed import after an untimed one of the same rows

struct Table {
    const char *name;
    QList<QVariantList> rows;
};

// The rows of the import: per dish 3 RECEPADR, 2 RECEFILI, 1 RECESERV, 1 PRATPADR, 1 PRATFILI. Every
// localEvery-th dish (none when 0) is a local dish: its tree is the destination branch, not "P".
QList<Table> makeRows(int dishes, int localEvery)
{
    QList<Table> t{{"PRATO", {}}, {"RECEPADR", {}}, {"RECEFILI", {}}, {"RECESERV", {}}, {"PRATPADR", {}}, {"PRATFILI", {}}};
    const QString Standard = QStringLiteral("P"), B = QStringLiteral("0001"), KG = QStringLiteral("KG");
    const QDateTime when(QDate(2024, 3, 1), QTime(12, 30), Qt::UTC);
    for (auto &x : t)
        x.rows.reserve(dishes * (QByteArray(x.name) == "RECEPADR" ? 3 : 2));
    for (int i = 0; i < dishes; ++i) {
        const QString code = QString::number(1000000 + i);
        const QString &P = localEvery && i % localEvery == 0 ? B : Standard;
        t[0].rows << QVariantList{P, code, B, QStringLiteral("PRATO DE TESTE %1").arg(i), QStringLiteral("1"), KG, 0.05,
                                  when, QStringLiteral("01"), QStringLiteral("EXP") + code, when};
        for (int k = 1; k <= 3; ++k)
            t[1].rows << QVariantList{P, code, QStringLiteral("00010%1").arg(k), KG, 0.1 * k};
        for (int k = 4; k <= 5; ++k)
            t[2].rows << QVariantList{B, P, code, QStringLiteral("00010%1").arg(k), KG, 0.1 * k};
        t[3].rows << QVariantList{B, QStringLiteral("00001"), P, code, QStringLiteral("000106"), KG, 0.25};
        t[4].rows << QVariantList{P, code, KG, 1.0};
        t[5].rows << QVariantList{B, P, code, 12.5, when};
    }
    return t;
}

QByteArray packetOf(const Table &t, bool withFlags)
{
    const Catalogue::TableDef *def = Catalogue::table(QString::fromLatin1(t.name));
    const QList<FieldDef> fields = withFlags ? Catalogue::packetFields(*def) : def->columns;
    MemTable m(def->name);
    m.setFields(fields);
    m.createDataSet();
    m.beginBulkLoad(int(t.rows.size()));
    for (QVariantList row : t.rows) {
        while (row.size() < fields.size())
            row << (row.size() == def->columns.size() ? QVariant(QStringLiteral("0000000000")) : QVariant());
        m.bulkAppendRow(row);
    }
    m.endBulkLoad();
    return DataPacket::save(m);
}

QString csvCell(const QVariant &v)
{
    if (!v.isValid() || v.isNull())
        return {};
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (v.metaType().id() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

bool writeCsv(const Table &t, const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray out;
    out.reserve(1 << 20);
    for (const QVariantList &row : t.rows) {
        for (int i = 0; i < row.size(); ++i) {
            if (i)
                out += ',';
            out += csvCell(row.at(i)).toUtf8();
        }
        out += '\n';
        if (out.size() > (1 << 20)) {
            f.write(out);
            out.clear();
        }
    }
    f.write(out);
    return true;
}

bool prepare(const QString &url, bool demo)
{
    const QString name = QStringLiteral("bench_prepare");
    bool ok = false;
    {
        auto db = Database::open(url, name);
        if (db) {
            ok = bool(Schema::create(db.value())) && (!demo || bool(Schema::seedDemo(db.value())));
            db.value().close();
        } else {
            std::fprintf(stderr, "%s\n", qPrintable(db.error()));
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool adminExec(const QString &url, const QString &sql)
{
    const QString name = QStringLiteral("bench_admin");
    bool ok = false;
    {
        auto db = Database::open(url, name);
        if (db) {
            QSqlQuery q(db.value());
            ok = q.exec(sql);
            db.value().close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// Importacao in process, timed from the call to the reply. Returns seconds, or -1.
double timeImport(const QString &url, const CallArgs &args, bool show)
{
    auto opened = RdmImpoPrato::open(url);
    if (!opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error()));
        return -1;
    }
    const auto module = opened.value();
    NetConnection net;
    net.setTransport(std::make_unique<InProcessTransport>(module));
    if (g_replace) {
        if (auto first = net.call(QStringLiteral("Importacao"), args); !first) {
            std::fprintf(stderr, "Importacao: %s\n", qPrintable(first.error()));
            return -1;
        }
    }
    QElapsedTimer clock;
    const double cpu = cpuSeconds(RUSAGE_SELF);
    clock.start();
    auto r = net.call(QStringLiteral("Importacao"), args);
    const double s = clock.nsecsElapsed() / 1e9;
    g_lastCpu = cpuSeconds(RUSAGE_SELF) - cpu;
    if (!r) {
        std::fprintf(stderr, "Importacao: %s\n", qPrintable(r.error()));
        return -1;
    }
    auto summary = ImportSummary::decode(r.value());
    if (show)
        std::printf("  %s\n", qPrintable(summary->toText().replace(QLatin1Char('\n'), QStringLiteral("\n  "))));
    return s;
}

double timeProcess(const QString &program, const QStringList &args, const QByteArray &input)
{
    QProcess p;
    QElapsedTimer clock;
    const double cpu = cpuSeconds(RUSAGE_CHILDREN);
    clock.start();
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const double s = clock.nsecsElapsed() / 1e9;
    g_lastCpu = cpuSeconds(RUSAGE_CHILDREN) - cpu;
    const QByteArray err = p.readAllStandardError();
    if (p.exitCode() != 0 || !err.trimmed().isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(program), err.constData());
        if (p.exitCode() != 0)
            return -1;
    }
    return s;
}

void report(const char *what, double import, double bulk)
{
    std::printf("%-10s Importacao %7.2f s   bulk loader %7.2f s   ratio %.2f (best of each)\n", what, import, bulk,
                bulk > 0 ? import / bulk : 0.0);
}


QByteArray loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    f.open(QIODevice::ReadOnly);
    return f.readAll().left(14).trimmed();
}

// CPU seconds (user and system) of another process so far, from /proc.
double processCpu(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? (fields.at(11).toDouble() + fields.at(12).toDouble()) / double(sysconf(_SC_CLK_TCK)) : 0;
}

// Importacao through imp40500-server over HTTP on loopback, timed from the call to the reply; the
// CPU time is the client's and the server's together. Returns seconds, or -1.
double timeHttpImport(const QString &server, const QString &url, const CallArgs &args)
{
    QProcess p;
    p.start(server, {QStringLiteral("--db"), url, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    int port = 0;
    QByteArray out;
    while (port == 0 && p.waitForReadyRead(10000)) {
        out += p.readAllStandardOutput();
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)")).match(QString::fromUtf8(out));
        port = m.hasMatch() ? m.captured(1).toInt() : 0;
    }
    if (port == 0) {
        std::fprintf(stderr, "%s did not start: %s\n", qPrintable(server), p.readAllStandardError().constData());
        return -1;
    }
    NetConnection net;
    net.setTransport(std::make_unique<HttpTransport>(QStringLiteral("127.0.0.1"), port, QString()));
    if (g_replace && !net.call(QStringLiteral("Importacao"), args))
        return -1;
    QElapsedTimer clock;
    const double cpu = cpuSeconds(RUSAGE_SELF) + processCpu(p.processId());
    clock.start();
    auto r = net.call(QStringLiteral("Importacao"), args);
    const double s = clock.nsecsElapsed() / 1e9;
    g_lastCpu = cpuSeconds(RUSAGE_SELF) + processCpu(p.processId()) - cpu;
    p.terminate();
    p.waitForFinished(10000);
    if (!r) {
        std::fprintf(stderr, "Importacao over HTTP: %s\n", qPrintable(r.error()));
        return -1;
    }
    return s;
}

struct Series {
    QList<double> wall, cpu;
    void add(double w, double c)
    {
        wall << w;
        cpu << c;
    }
    static double median(QList<double> v)
    {
        std::sort(v.begin(), v.end());
        return v.isEmpty() ? 0 : (v.size() % 2 ? v.at(v.size() / 2) : (v.at(v.size() / 2 - 1) + v.at(v.size() / 2)) / 2);
    }
    static double least(const QList<double> &v) { return v.isEmpty() ? 0 : *std::min_element(v.begin(), v.end()); }
};

void summarise(const char *what, const Series &s, const Series &bulk)
{
    QList<double> ratios; // each run's against psql's in the same run
    for (qsizetype i = 0; i < s.wall.size() && i < bulk.wall.size(); ++i)
        ratios << s.wall.at(i) / bulk.wall.at(i);
    std::printf("PostgreSQL %-11s each run's ratio: least %.2f, median %.2f\n", what, Series::least(ratios),
                Series::median(ratios));
    std::printf("PostgreSQL %-11s wall min %6.2f s median %6.2f s (psql \\copy %6.2f / %6.2f): ratio min %.2f median %.2f\n",
                what, Series::least(s.wall), Series::median(s.wall), Series::least(bulk.wall), Series::median(bulk.wall),
                Series::least(s.wall) / Series::least(bulk.wall), Series::median(s.wall) / Series::median(bulk.wall));
    std::printf("PostgreSQL %-11s CPU  min %6.2f s median %6.2f s (client side; psql %6.2f / %6.2f)\n", what,
                Series::least(s.cpu), Series::median(s.cpu), Series::least(bulk.cpu), Series::median(bulk.cpu));
}

// SQLite: per run, Importacao and sqlite3's .import of the same rows, each into fresh files; the
// best of each is printed.
bool benchSqlite(const CallArgs &args, const QList<Table> &tables, const QTemporaryDir &dir, int runs)
{
    const auto best = [](double a, double b) { return a < 0 ? b : (b < 0 ? a : qMin(a, b)); };
    double imp = -1, bulk = -1, impCpu = -1, bulkCpu = -1;
    for (int run = 0; run < runs; ++run) {
        const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("import%1.db").arg(run));
        const QString bulkDb = dir.filePath(QStringLiteral("bulk%1.db").arg(run));
        if (!prepare(url, true) || !prepare(QStringLiteral("sqlite:") + bulkDb, false))
            return false;
        const double i = timeImport(url, args, run == 0);
        impCpu = best(impCpu, g_lastCpu);
        QByteArray script = ".mode csv\n";
        for (const Table &t : tables)
            script += QStringLiteral(".import %1 %2\n")
                          .arg(dir.filePath(QString::fromLatin1(t.name) + QStringLiteral(".csv")), QString::fromLatin1(t.name))
                          .toUtf8();
        const double b = timeProcess(QStringLiteral("sqlite3"), {bulkDb}, script);
        bulkCpu = best(bulkCpu, g_lastCpu);
        if (i < 0 || b < 0)
            return false;
        imp = best(imp, i);
        bulk = best(bulk, b);
        QFile::remove(url.mid(7));
        QFile::remove(bulkDb);
    }
    report("SQLite", imp, bulk);
    // Both sides run their whole work in the measured process here (the database is a library).
    std::printf("SQLite CPU Importacao %7.2f s   sqlite3    %7.2f s   ratio %.2f (best of each)\n", impCpu, bulkCpu,
                bulkCpu > 0 ? impCpu / bulkCpu : 0.0);
    return true;
}

// PostgreSQL: per run, Importacao in this process, Importacao through imp40500-server over HTTP
// (when the server is built beside this program) and psql's \copy, each into a fresh database.
// Prints every run and then the least and the median of each beside its baseline's.
bool benchPostgres(const QString &base, const CallArgs &args, const QList<Table> &tables, const QTemporaryDir &dir, int runs)
{
    const QString server = QCoreApplication::applicationDirPath() + QStringLiteral("/imp40500-server");
    const bool http = QFile::exists(server);
    Series inProcess, overHttp, bulk;
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QStringList names{QStringLiteral("bench_imp_") + pid, QStringLiteral("bench_http_") + pid,
                            QStringLiteral("bench_copy_") + pid};
    for (int run = 0; run < runs; ++run) {
        QStringList urls;
        for (const QString &name : names) {
            QUrl u(base);
            u.setPath(QLatin1Char('/') + name);
            urls << u.toString();
            if (!adminExec(base, QStringLiteral("CREATE DATABASE ") + name) || !prepare(urls.last(), name != names.last())) {
                std::fprintf(stderr, "cannot create the benchmark databases\n");
                return false;
            }
        }
        const QByteArray load = loadAverage();
        const double i = timeImport(urls.at(0), args, run == 0);
        const double iCpu = g_lastCpu;
        const double h = http ? timeHttpImport(server, urls.at(1), args) : 0;
        const double hCpu = g_lastCpu;
        QByteArray script;
        for (const Table &t : tables)
            script += QStringLiteral("\\copy %1 FROM '%2' WITH (FORMAT csv)\n")
                          .arg(QString::fromLatin1(t.name), dir.filePath(QString::fromLatin1(t.name) + QStringLiteral(".csv")))
                          .toUtf8();
        const double b = timeProcess(QStringLiteral("psql"),
                                     {QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                                      QStringLiteral("-1"), urls.at(2)},
                                     script);
        for (const QString &name : names)
            adminExec(base, QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
        if (i < 0 || h < 0 || b < 0)
            return false;
        inProcess.add(i, iCpu);
        overHttp.add(h, hCpu);
        bulk.add(b, g_lastCpu);
        std::printf("run %d (load %s): in process %.2f s (CPU %.2f), over HTTP %.2f s (CPU %.2f), psql \\copy %.2f s "
                    "(CPU %.2f): ratios %.2f, %.2f\n",
                    run + 1, load.constData(), i, iCpu, h, hCpu, b, g_lastCpu, i / b, h / b);
    }
    summarise("in process", inProcess, bulk);
    if (http)
        summarise("over HTTP", overHttp, bulk);
    return true;
}
} // namespace

// One long main on purpose: the runs are read top to bottom as the table of figures they print, each
// beside the setup it measures.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int dishes = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    const int localPercent = argc > 3 ? QByteArray(argv[3]).toInt() : 10;
    g_replace = argc > 4 && QByteArray(argv[4]) == "replace";
    if (dishes <= 0 || runs <= 0 || localPercent < 0 || localPercent > 100 || (argc > 4 && !g_replace)) {
        std::fprintf(stderr, "uso: bench_importacao [PRATOS [VEZES [PERCENTUAL_LOCAL [replace]]]]\n");
        return 2;
    }
    const int localEvery = localPercent == 0 ? 0 : qRound(100.0 / localPercent);
    QTemporaryDir dir;
    const QList<Table> tables = makeRows(dishes, localEvery);
    qint64 recipeRows = 0;
    for (const Table &t : tables)
        recipeRows += QByteArray(t.name) == "PRATO" ? 0 : t.rows.size();
    std::printf("%d dishes (%d%% local), %lld recipe rows%s; load average %s\n", dishes, localPercent, recipeRows,
                g_replace ? ", each replacing an import of the same rows" : "",
                loadAverage().constData());

    QElapsedTimer clock;
    clock.start();
    QMap<QByteArray, QByteArray> packets;
    for (const Table &t : tables)
        packets.insert(t.name, packetOf(t, QByteArray(t.name) == "PRATO"));
    const CallArgs args{packets["PRATO"], packets["RECEPADR"], packets["RECEFILI"], QByteArray(), packets["RECESERV"],
                        packets["PRATPADR"], packets["PRATFILI"], QByteArray(), qint64(-1), qint64(-1), qint64(-1),
                        QStringLiteral("0001")};
    qint64 bytes = 0;
    for (const QByteArray &p : packets)
        bytes += p.size();
    std::printf("packets built in %.2f s (%.1f MB, not counted)\n", clock.nsecsElapsed() / 1e9, bytes / 1e6);

    // CSV files of the same rows for the bulk loaders.
    for (const Table &t : tables) {
        if (!writeCsv(t, dir.filePath(QString::fromLatin1(t.name) + QStringLiteral(".csv")))) {
            std::fprintf(stderr, "cannot write CSV\n");
            return 1;
        }
    }

    bool failed = false;
    // IMP_BENCH_ONLY=sqlite or =postgresql measures one database only.
    const QByteArray onlyPg = qgetenv("IMP_BENCH_ONLY");

    // SQLite: each run on fresh files.
    if (onlyPg.isEmpty() || onlyPg == "sqlite")
        failed = !benchSqlite(args, tables, dir, runs);

    // PostgreSQL: each run on fresh databases.
    QString base = qEnvironmentVariable("IMP_BENCH_PG_URL");
    if (base.isEmpty())
        base = qEnvironmentVariable("IMP_TEST_PG_URL");
    if (!onlyPg.isEmpty() && onlyPg != "postgresql")
        return failed ? 1 : 0;
    if (base.isEmpty()) {
        std::printf("PostgreSQL: skipped (set IMP_TEST_PG_URL)\n");
        return failed ? 1 : 0;
    }
    if (!failed)
        failed = !benchPostgres(base, args, tables, dir, runs);
    return failed ? 1 : 0;
}
