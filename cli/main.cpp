// imp40500: the dish import without its screen.
//   imp40500 initdb --db URL [--demo]
//   imp40500 check ...   imp40500 import ...
//   imp40500 history [--db URL] [--branch CODE] [--limit N] [--json]
//   imp40500 history [--db URL] --prune-before DATE
//   imp40500 undo ID [--db URL] [--server HOST:PORT] [--json]
//   imp40500 export OUT --branch CODE [--db URL] [--tree padrao|local|todos] [--dishes CODE,...] [--json]
#include "commands.h"
#include "destinationreader.h"
#include "exitcodes.h"
#include "ambiente.h"
#include "embedded.h"
#include "framework.h"
#include "programinfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

// The commands, after the options in --help and after a command line that names none.
QString commands()
{
    return QStringLiteral("Comandos:\n"
                          "  initdb --db URL [--demo]   cria as tabelas do destino (e dados de demonstração)\n"
                          "  check  ARQUIVO ...         verifica um arquivo de exportação contra o destino\n"
                          "  import ARQUIVO ...         importa um arquivo de exportação no destino\n"
                          "  history [--db URL] [--branch CODIGO] [--limit N] [--json]   importações e exportações já feitas\n"
                          "  undo ID [--db URL] [--json]   desfaz uma importação do histórico\n"
                          "  export SAIDA --branch CODIGO ...   grava o arquivo de exportação dos pratos da filial\n"
                          "Use imp40500 <comando> --help para as opções de cada comando.\n\n")
        + ExitCode::table();
}

// Qt's own messages (the database drivers' notices, "Unable to free statement", libpq's lines
// after a server restart) are no words for the operator: they join the failures' detail, which
// --verbose shows.
void toDetail(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "imp40500: %s\n", qPrintable(text));
        return;
    }
    reportFailureDetail(Failure{{}, {}, text});
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ProgramInfo::setUp(QStringLiteral("imp40500"));
    qInstallMessageHandler(toDetail);
    // Settings from the environment; check and import refuse those that cannot be used.
    const QStringList environmentProblems = Ambiente::instance().loadFromEnvironment();
    Database::useDestination(Ambiente::instance(), Ambiente::instance().databaseUrl);
    registerEmbeddedServer();

    // The options before the command are the program's own (help, version); the command takes
    // everything from its name on.
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Importação de pratos sem a tela (IMP40500)."));
    ProgramInfo::addStandardOptions(cli);
    cli.addPositionalArgument(QStringLiteral("comando"), QStringLiteral("initdb, check, import, history, undo ou export."));
    cli.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QString program = QStringLiteral("imp40500");
    if (const auto exit = ProgramInfo::parse(cli, app.arguments(), program, commands()))
        return *exit;
    const QStringList args = cli.positionalArguments();
    if (args.isEmpty()) {
        std::fputs(qPrintable(ProgramInfo::helpText(cli, program, commands())), stderr);
        return ExitCode::Usage;
    }
    const QString command = args.first();
    // Sub-commands parse their own options; they see the program name and what follows the command.
    const QStringList rest = QStringList{program + QLatin1Char(' ') + command} + args.mid(1);
    if (command == QLatin1String("initdb"))
        return runInitDb(rest);
    if (command == QLatin1String("check"))
        return runCheck(rest, false, environmentProblems);
    if (command == QLatin1String("import"))
        return runCheck(rest, true, environmentProblems);
    if (command == QLatin1String("history"))
        return runHistory(rest);
    if (command == QLatin1String("export"))
        return runExport(rest);
    if (command == QLatin1String("undo"))
        return runUndo(rest, environmentProblems);
    if (command == QLatin1String("help")) {
        std::fputs(qPrintable(ProgramInfo::helpText(cli, program, commands())), stdout);
        return ExitCode::Ok;
    }
    std::fprintf(stderr, "imp40500: comando desconhecido: %s (use imp40500 --help)\n", qPrintable(command));
    return ExitCode::Usage;
}
