#pragma once
// The one skeleton of every `imp40500` command: the standard options and their handling (help
// with the exit-code table, version, the parser's refusals), the destination database by the same
// rule everywhere, and a failure told on stderr with its exit code.
#include "exitcodes.h"
#include "result.h"

#include <QCommandLineParser>
#include <QString>
#include <optional>

namespace Command {

// The help, version and --db options, as every command has them.
void addCommonOptions(QCommandLineParser &cli);

// Parses; an exit code when the command ends here (help, version, a refused command line).
std::optional<int> parse(QCommandLineParser &cli, const QStringList &args, const QString &program);

// "program: text" on stderr, then the exit code given.
int fail(const QString &program, const QString &text, int exitCode);
// A failure on stderr (its detail to the detail sink), ending with the code its kind has.
int fail(const QString &program, const Failure &failure, ExitCode::Phase phase = ExitCode::Phase::Read);

// The destination: --db, else IMP_DB; a command line without either cannot be used. With
// `mustExist`, an SQLite file that is not there is refused by name rather than made empty (only
// initdb makes one). An exit code when the command ends here.
std::optional<int> databaseUrl(const QCommandLineParser &cli, const QString &program, bool mustExist, QString &url);

// The destination (databaseUrl, must exist) made the process's, and the operator: --operator, else
// IMP_OPERATOR, else "ADMIN". An exit code when the command ends here.
std::optional<int> useDestination(const QCommandLineParser &cli, const QString &program);
// --server over IMP_SERVER; an exit code when it is no HOST:PORTA.
std::optional<int> useServer(const QCommandLineParser &cli, const QString &program);

} // namespace Command
