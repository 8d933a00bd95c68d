#pragma once
// What every program of the project (imp40500, imp40500-server, imp40500-host, imp40500-gen) says
// about itself the same way: its name and version, its help and its parser's messages in
// Portuguese, and the exit code of a command line it cannot use.
#include "platform_export.h"

#include <QString>
#include <QStringList>
#include <optional>

class QCommandLineParser;

namespace ProgramInfo {

// Exit code of a command line the program cannot use (an unknown option, a missing value, a bad
// setting in the environment), the same in every program.
constexpr int kUsageExit = 2;

// The project's version, one for every program ("4.5.146").
IMP_PLATFORM_EXPORT QString version();

// Names the running program and gives it the version; installs Qt's own Portuguese texts, so that
// the parser's messages and help ("Uso:", "Opção desconhecida") read as the program's own.
IMP_PLATFORM_EXPORT void setUp(const QString &programName);

// -h, --help, --help-all and -v, --version.
IMP_PLATFORM_EXPORT void addStandardOptions(QCommandLineParser &parser);

// Parses `args` (the program, or "program command", first). Ends the command here with its exit
// code when it only asked for help (on stdout, `footer` after the options; 0) or the version
// ("<program> <version>", 0), or when the parser refused it (its message on stderr; kUsageExit).
// `program` is how the usage line and the messages name the command ("imp40500 check").
IMP_PLATFORM_EXPORT std::optional<int> parse(QCommandLineParser &parser, const QStringList &args,
                                             const QString &program, const QString &footer = {});

// The help as --help prints it.
IMP_PLATFORM_EXPORT QString helpText(const QCommandLineParser &parser, const QString &program,
                                     const QString &footer = {});

} // namespace ProgramInfo
