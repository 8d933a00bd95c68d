// bench_load: the load pass (`imp40500 check`, no JSON) against `sqlite3 .import` of the same lines
// as CSV into a fresh database, measured in the same run; prints the ratio and the check's peak
// memory against the file's size.
//   bench_load [--dishes N] [--local PERCENT] [--locale NAME] [--runs R] [--dir DIR] [--imp PATH] [--sqlite3 PATH]
// PERCENT of the dishes are local (one server lookup each; 10 by default, 100 divided by it should be
// whole). Exit 0 when the medians' ratios, wall and CPU, are within 0.5 and the peak memory within 2.5
// times the file (2 from a million dishes); 1 otherwise.
#include "loadgen.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Run {
    double seconds = 0;
    double cpuSeconds = 0; // user + system, which a busy machine disturbs less than the wall clock
    long maxRssKb = 0;
    int status = -1;
};

// Runs a program with stdin from a file (or /dev/null) and stdout/stderr to /dev/null; wall time,
// the child's CPU time and its own peak resident size.
Run spawn(const QStringList &argv, const QString &stdinPath = {})
{
    std::vector<QByteArray> store;
    std::vector<char *> args;
    for (const QString &a : argv)
        store.push_back(a.toLocal8Bit());
    for (QByteArray &b : store)
        args.push_back(b.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const QByteArray in = stdinPath.isEmpty() ? QByteArray("/dev/null") : stdinPath.toLocal8Bit();
    posix_spawn_file_actions_addopen(&fa, 0, in.constData(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);

    Run r;
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&fa);
        return r;
    }
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    r.seconds = double(t.nsecsElapsed()) / 1e9;
    r.maxRssKb = ru.ru_maxrss;
    r.cpuSeconds = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&fa);
    return r;
}

void warm(const QString &path)
{
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        while (!f.read(1 << 20).isEmpty()) {
        }
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double minimum(const std::vector<double> &v)
{
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

// One measure of both sides: minimum and median of each, and the ratio of the two.
void printPair(const char *what, const std::vector<double> &import, const std::vector<double> &check)
{
    std::printf("%-22s import min %.3f s, median %.3f s; check min %.3f s, median %.3f s; ratio min %.2f, median %.2f\n",
                what, minimum(import), median(import), minimum(check), median(check),
                minimum(check) / std::max(1e-9, minimum(import)), median(check) / std::max(1e-9, median(import)));
}

} // namespace

// One long main on purpose: the runs are read top to bottom as the table of figures they print, each
// beside the setup it measures.
// Both sides' wall and CPU times, run after run, and the check's highest peak.
struct Series {
    std::vector<double> sqliteTimes, checkTimes, sqliteCpu, checkCpu;
    long peakKb = 0;
};

// `runs` rounds of sqlite3 .import into a fresh database and of the check; false when one failed.
static bool runBoth(int runs, const QStringList &sqliteCommand, const QString &script, const QStringList &checkCommand,
                    Series &out)
{
    const QString fresh = sqliteCommand.at(1);
    for (int i = 0; i < runs; ++i) {
        QFile::remove(fresh);
        const Run s = spawn(sqliteCommand, script);
        if (s.status != 0) {
            std::fprintf(stderr, "bench_load: sqlite3 .import failed (%d)\n", s.status);
            return false;
        }
        out.sqliteTimes.push_back(s.seconds);
        out.sqliteCpu.push_back(s.cpuSeconds);
        const Run c = spawn(checkCommand, {});
        if (c.status != 0) {
            std::fprintf(stderr, "bench_load: imp40500 check failed (%d)\n", c.status);
            return false;
        }
        out.checkTimes.push_back(c.seconds);
        out.checkCpu.push_back(c.cpuSeconds);
        out.peakKb = std::max(out.peakKb, c.maxRssKb);
    }
    return true;
}

// The figures against their targets; true when all are met.
static bool report(const Series &r, const LoadGen::Options &o, const QString &localeName,
                   const LoadGen::Written &written, int runs)
{
    const double ts = median(r.sqliteTimes), tc = median(r.checkTimes);
    const double ratio = tc / ts;
    const double cpuRatio = median(r.checkCpu) / std::max(1e-9, median(r.sqliteCpu));
    const double rssRatio = double(r.peakKb) * 1024.0 / double(written.bytes);
    std::printf("dishes                 %d (%s local, locale %s)\n", o.dishes,
                o.localEvery ? qPrintable(QStringLiteral("1 in %1").arg(o.localEvery)) : "none", qPrintable(localeName));
    std::printf("data lines             %lld\n", written.dataLines);
    std::printf("file size              %.1f MiB\n", double(written.bytes) / 1048576.0);
    std::printf("sqlite3 .import        %.3f s (median of %d)\n", ts, runs);
    std::printf("imp40500 check         %.3f s (median of %d)\n", tc, runs);
    std::printf("ratio check/import     %.2f (target <= 0.5)\n", ratio);
    std::printf("CPU time (user+sys)    import %.3f s, check %.3f s: %.2f (medians; target <= 0.5)\n", median(r.sqliteCpu),
                median(r.checkCpu), cpuRatio);
    printPair("wall", r.sqliteTimes, r.checkTimes);
    printPair("CPU", r.sqliteCpu, r.checkCpu);
    const double rssLimit = o.dishes >= 1000000 ? 2.0 : 2.5;
    std::printf("check peak RSS         %.1f MiB = %.2f x file size (target <= %.1f)\n", double(r.peakKb) / 1024.0, rssRatio,
                rssLimit);
    const bool ok = ratio <= 0.5 && cpuRatio <= 0.5 && rssRatio <= rssLimit;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({QStringLiteral("dishes"), QStringLiteral("Dishes in the file."), QStringLiteral("N"), QStringLiteral("100000")});
    cli.addOption({QStringLiteral("local"), QStringLiteral("Share of local dishes, in percent."), QStringLiteral("PERCENT"), QStringLiteral("10")});
    cli.addOption({QStringLiteral("locale"), QStringLiteral("Locale of the file and of the check."), QStringLiteral("NAME"), QStringLiteral("pt_BR")});
    cli.addOption({QStringLiteral("runs"), QStringLiteral("Runs of each side."), QStringLiteral("R"), QStringLiteral("3")});
    cli.addOption({QStringLiteral("dir"), QStringLiteral("Working directory (default: a temporary one)."), QStringLiteral("DIR")});
    cli.addOption({QStringLiteral("imp"), QStringLiteral("The imp40500 program."), QStringLiteral("PATH")});
    cli.addOption({QStringLiteral("sqlite3"), QStringLiteral("The sqlite3 shell."), QStringLiteral("PATH")});
    cli.process(app);

    const QString imp = cli.isSet(QStringLiteral("imp")) ? cli.value(QStringLiteral("imp"))
                                                         : QCoreApplication::applicationDirPath() + QStringLiteral("/imp40500");
    const QString sqlite = cli.isSet(QStringLiteral("sqlite3")) ? cli.value(QStringLiteral("sqlite3"))
                                                                : QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (!QFileInfo(imp).isExecutable() || sqlite.isEmpty()) {
        std::fprintf(stderr, "bench_load: needs %s and sqlite3\n", qPrintable(imp));
        return 2;
    }
    QTemporaryDir tmp;
    const QString dir = cli.isSet(QStringLiteral("dir")) ? cli.value(QStringLiteral("dir")) : tmp.path();
    QDir().mkpath(dir);
    const QString file = dir + QStringLiteral("/export.txt");
    const QString csv = dir + QStringLiteral("/export.csv");
    const QString dest = dir + QStringLiteral("/dest.db");
    const QString fresh = dir + QStringLiteral("/fresh.db");
    const QString script = dir + QStringLiteral("/import.sql");

    LoadGen::Options o;
    o.dishes = cli.value(QStringLiteral("dishes")).toInt();
    const int localPercent = cli.value(QStringLiteral("local")).toInt();
    if (localPercent < 0 || localPercent > 100) {
        std::fprintf(stderr, "bench_load: --local takes 0 to 100\n");
        return 2;
    }
    o.localEvery = localPercent == 0 ? 0 : qRound(100.0 / localPercent);
    const QString localeName = cli.value(QStringLiteral("locale"));
    o.locale = localeName == u"C" ? QLocale::c() : QLocale(localeName);
    QFile::remove(dest);
    if (Status s = LoadGen::createDestination(QStringLiteral("sqlite:") + dest, o); !s) {
        std::fprintf(stderr, "bench_load: %s\n", qPrintable(s.error()));
        return 2;
    }
    const auto written = LoadGen::writeExportFile(file, o, csv);
    if (!written) {
        std::fprintf(stderr, "bench_load: %s\n", qPrintable(written.error()));
        return 2;
    }
    {
        QFile f(script);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QStringList cols;
        for (int i = 1; i <= LoadGen::csvColumns(); ++i)
            cols << QStringLiteral("c%1").arg(i);
        f.write(QStringLiteral("CREATE TABLE t(%1);\n.import --csv %2 t\n").arg(cols.join(u','), csv).toUtf8());
    }
    warm(file);
    warm(csv);

    const int runs = qMax(1, cli.value(QStringLiteral("runs")).toInt());
    Series series;
    if (!runBoth(runs, {sqlite, fresh}, script,
                 {imp, QStringLiteral("check"), file, QStringLiteral("--branch"), o.destinationBranch, QStringLiteral("--db"),
                  QStringLiteral("sqlite:") + dest, QStringLiteral("--locale"), localeName},
                 series))
        return 2;
    return report(series, o, localeName, written.value(), runs) ? 0 : 1;
}
