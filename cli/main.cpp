// imp40500: the dish import without its screen.
//   imp40500 initdb --db URL [--demo]
//   imp40500 check ...   imp40500 import ...
//   imp40500 history [--db URL] [--branch CODE] [--limit N] [--json]
//   imp40500 export OUT --branch CODE [--db URL] [--tree padrao|local|todos] [--dishes CODE,...] [--json]
#include "commands.h"
#include "ambiente.h"
#include "embedded.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
void usage()
{
    std::fprintf(stderr,
                 "uso: imp40500 <comando> [opções]\n"
                 "  initdb --db URL [--demo]   cria as tabelas do destino (e dados de demonstração)\n"
                 "  check  ...                 verifica um arquivo de exportação contra o destino\n"
                 "  import ...                 importa um arquivo de exportação no destino\n"
                 "  history [--db URL] [--branch CODIGO] [--limit N] [--json]   importações e exportações já feitas\n"
                 "  export SAIDA --branch CODIGO ...   grava o arquivo de exportação dos pratos da filial\n"
                 "Use imp40500 <comando> --help para as opções de cada comando.\n");
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("imp40500"));
    Ambiente::instance().loadFromEnvironment();
    registerEmbeddedServer();

    QStringList args = app.arguments();
    if (args.size() < 2) {
        usage();
        return 2;
    }
    const QString command = args.at(1);
    // Sub-commands parse their own options; they see the program name and what follows the command.
    QStringList rest{args.at(0) + QLatin1Char(' ') + command};
    rest += args.mid(2);
    if (command == QLatin1String("initdb"))
        return runInitDb(rest);
    if (command == QLatin1String("check"))
        return runCheck(rest, false);
    if (command == QLatin1String("import"))
        return runCheck(rest, true);
    if (command == QLatin1String("history"))
        return runHistory(rest);
    if (command == QLatin1String("--version")) {
        std::printf("imp40500 %s\n", IMP_VERSION);
        return 0;
    }
    if (command == QLatin1String("export"))
        return runExport(rest);
    if (command == QLatin1String("-h") || command == QLatin1String("--help") || command == QLatin1String("help")) {
        usage();
        return 0;
    }
    std::fprintf(stderr, "imp40500: comando desconhecido: %s\n", qPrintable(command));
    usage();
    return 2;
}
