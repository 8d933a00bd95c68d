// imp40500 check FILE [--branch CODE] [--db URL] [--operator CODE] [--locale NAME] [--server HOST:PORT]
//                     [--json] [--quiet] [--strict] [--pair ORIGEM=DESTINO ...] [--errors-csv OUT]
//                     [--errors-xlsx OUT] [--verbose]
// imp40500 import FILE ... (the same options)
// The file and branch checks and the load pass, exactly as the screen runs them when the operator
// leaves the parameter panel; `import` then sends the tables as the import button does.
#include "commands.h"
#include "destinationreader.h"
#include "checkrun.h"
#include "command.h"

#include "ambiente.h"
#include "embedded.h"
#include "transport.h"
#include "framework.h"
#include "messages.h"

#include <cstdio>
#include <malloc.h>

namespace {

// The options of check and import, with their help texts.
void addOptions(QCommandLineParser &cli, bool import)
{
    cli.setApplicationDescription(import ? QStringLiteral("Verifica e importa um arquivo de exportação de pratos.")
                                         : QStringLiteral("Verifica um arquivo de exportação de pratos contra o destino."));
    Command::addCommonOptions(cli);
    cli.addPositionalArgument(QStringLiteral("ARQUIVO"), QStringLiteral("O arquivo de exportação."));
    cli.addOption({QStringLiteral("branch"), QStringLiteral("Filial destino (padrão: IMP_BRANCH)."), QStringLiteral("CODIGO")});
    cli.addOption({QStringLiteral("operator"), QStringLiteral("Operador (padrão: IMP_OPERATOR, senão ADMIN)."),
                   QStringLiteral("CODIGO")});
    cli.addOption({QStringLiteral("locale"),
                   QStringLiteral("Formato regional de números e datas do arquivo (padrão: IMP_LOCALE, senão o do "
                                  "sistema; pt_BR quando o ambiente não define nenhum)."),
                   QStringLiteral("NOME")});
    cli.addOption({QStringLiteral("server"),
                   QStringLiteral("Servidor de aplicação (padrão: IMP_SERVER, senão o embutido). As consultas de "
                                  "leitura vão direto ao banco de --db também com ele."),
                   QStringLiteral("HOST:PORTA")});
    cli.addOption({QStringLiteral("json"), QStringLiteral("Resultado em JSON.")});
    cli.addOption({QStringLiteral("quiet"), QStringLiteral("Só os totais, sem a linha de progresso.")});
    cli.addOption({QStringLiteral("strict"),
                   QStringLiteral("Termina com o código 4 quando algum prato tem erros (o import grava os demais).")});
    cli.addOption({QStringLiteral("pair"),
                   QStringLiteral("Pareia o serviço de origem com o serviço destino, como na aba Serviço "
                                  "(pode ser repetido)."),
                   QStringLiteral("ORIGEM=DESTINO")});
    cli.addOption({QStringLiteral("errors-csv"),
                   QStringLiteral("Grava os erros dos pratos em SAIDA (CSV em UTF-8, separado por \";\")."),
                   QStringLiteral("SAIDA")});
    cli.addOption({QStringLiteral("errors-xlsx"),
                   QStringLiteral("Grava os erros dos pratos em SAIDA (pasta de trabalho do Excel, o código do prato "
                                  "como texto)."),
                   QStringLiteral("SAIDA")});
    cli.addOption({QStringLiteral("verbose"),
                   QStringLiteral("Mostra em stderr o detalhe das falhas (o texto do banco de dados ou do sistema).")});
}

// The environment's settings first, the options over them, every one checked; the operator
// environment is set from what passes. An exit code when the command cannot run with them.
std::optional<int> applySettings(const QCommandLineParser &cli, const QStringList &environmentProblems,
                                 CheckOptions &opts)
{
    const QString &program = opts.program;
    for (const QString &problem : environmentProblems)
        Command::fail(program, problem, ExitCode::Usage);
    if (!environmentProblems.isEmpty())
        return ExitCode::Usage;
    Ambiente &amb = Ambiente::instance();
    opts.branch = cli.isSet(QStringLiteral("branch")) ? cli.value(QStringLiteral("branch")).trimmed() : amb.FiliProc;
    if (opts.branch.isEmpty())
        return Command::fail(program, QStringLiteral("informe a filial destino com --branch CODIGO ou IMP_BRANCH (--help "
                                                     "para as opções)."),
                             ExitCode::Usage);
    if (const auto exit = Command::useDestination(cli, program))
        return exit;
    if (cli.isSet(QStringLiteral("locale"))) {
        const QString name = cli.value(QStringLiteral("locale"));
        const std::optional<QLocale> locale = Ambiente::localeNamed(name);
        if (!locale)
            return Command::fail(program, QStringLiteral("formato regional desconhecido: %1").arg(name), ExitCode::Usage);
        amb.locale = *locale;
    }
    return Command::useServer(cli, program);
}

// Parses the options and sets the environment from them; an exit code when the command ends here
// (help, version, or options that cannot be used).
std::optional<int> setUp(const QStringList &args, const QStringList &environmentProblems, CheckOptions &opts)
{
    QCommandLineParser cli;
    addOptions(cli, opts.import);
    if (const auto exit = Command::parse(cli, args, opts.program))
        return exit;
    opts.json = cli.isSet(QStringLiteral("json"));
    opts.quiet = cli.isSet(QStringLiteral("quiet"));
    opts.strict = cli.isSet(QStringLiteral("strict"));
    opts.errorsCsv = cli.value(QStringLiteral("errors-csv"));
    opts.errorsXlsx = cli.value(QStringLiteral("errors-xlsx"));
    if (cli.isSet(QStringLiteral("verbose")))
        setFailureDetailSink([](const QString &detail) { std::fprintf(stderr, "detalhe: %s\n", qPrintable(detail)); });
    const QStringList positional = cli.positionalArguments();
    if (positional.size() != 1)
        return Command::fail(opts.program, QStringLiteral("informe um ARQUIVO (--help para as opções)."), ExitCode::Usage);
    opts.file = positional.first();
    if (const auto exit = applySettings(cli, environmentProblems, opts))
        return exit;
    for (const QString &pair : cli.values(QStringLiteral("pair"))) {
        const qsizetype eq = pair.indexOf(u'=');
        if (eq < 0)
            return Command::fail(opts.program, Msg(QStringLiteral("Par_Invalido")).arg(pair), ExitCode::Usage);
        opts.pairs.append({pair.left(eq).trimmed(), pair.mid(eq + 1).trimmed()});
    }
    if (!hasEmbeddedServerFactory())
        registerEmbeddedServer();
    // Large buffers (the tables' columns) come straight from the system and go back to it when
    // freed; glibc would otherwise raise the threshold after the first big free and keep every
    // outgrown column buffer in the heap for the life of the process.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    return std::nullopt;
}

} // namespace

int runCheck(const QStringList &args, bool import, const QStringList &environmentProblems)
{
    CheckOptions opts;
    opts.import = import;
    opts.program = import ? QStringLiteral("imp40500 import") : QStringLiteral("imp40500 check");
    if (const std::optional<int> exitCode = setUp(args, environmentProblems, opts))
        return *exitCode;
    return CheckRun(opts).run();
}
