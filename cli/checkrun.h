#pragma once
// One run of `imp40500 check` or `import` once its options are taken: the destination opened, the
// file's checks and load pass as the screen runs them, the reports, and for `import` the call
// that writes; every way out ends with its code from the exit-code table (exitcodes.h).
#include "exitcodes.h"
#include "result.h"

#include <QList>
#include <QPair>
#include <QString>

class ImportSession;
class CliProgress;
class StopRequest;

// What the options leave for the run itself.
struct CheckOptions {
    QString program; // "imp40500 check" or "imp40500 import", as messages name the command
    bool import = false;
    QString file;
    QString branch;
    bool json = false;
    bool quiet = false;  // the report's totals only, no progress line
    bool strict = false; // a dish with errors ends the command with ExitCode::DishErrors
    QList<QPair<QString, QString>> pairs; // --pair ORIGEM=DESTINO, in the order given
    QString errorsCsv;  // --errors-csv: where the errors of the dishes go; empty: nowhere
    QString errorsXlsx; // --errors-xlsx: the same as a workbook
};

class CheckRun {
public:
    explicit CheckRun(const CheckOptions &options) : m_opts(options) {}
    int run();

private:
    int loadAndReport(ImportSession &session, CliProgress &progress, StopRequest &stop);
    int importTables(ImportSession &session, const QString &branchName, StopRequest &stop);
    int reportCheck(ImportSession &session, const QString &branchName, StopRequest &stop);
    int writeErrorReports(ImportSession &session);
    // A failure told on stderr (and as {"error": ...} with --json), ending with its kind's code.
    int failed(const Failure &failure, ExitCode::Phase phase = ExitCode::Phase::Read) const;
    // A run stopped by SIGINT or SIGTERM says so, on stderr and in the JSON, and exits 130.
    int stopped(const StopRequest &stop) const;
    // The file's own messages name the file.
    QString namingFile(const QString &key, const QString &text) const;

    const CheckOptions &m_opts;
};
