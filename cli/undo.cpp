// imp40500 undo ID [--db URL] [--server HOST:PORT] [--operator CODE] [--dry-run] [--json] [--verbose]:
// undoes one import of the history, through the application server (embedded, or the one named),
// in one transaction; --dry-run runs the same checks and writes nothing. Exit codes as every
// command's: 0 undone (or it would be), 3 refused (already undone, changed since, no longer kept,
// not an import), 5 the undo rolled back, 6 its answer lost.
#include "commands.h"
#include "destinationreader.h"
#include "checkreport.h"
#include "command.h"

#include "ambiente.h"
#include "framework.h"
#include "importorigin.h"
#include "messages.h"
#include "rdmcalls.h"
#include "transport.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {

const QString kProgram = QStringLiteral("imp40500 undo");

void addOptions(QCommandLineParser &cli)
{
    cli.setApplicationDescription(QStringLiteral("Desfaz uma importação do histórico: apaga o que ela gravou e põe de volta "
                                                 "o que ela substituiu."));
    Command::addCommonOptions(cli);
    cli.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("O código da importação (imp40500 history --json, campo id)."));
    cli.addOption({QStringLiteral("server"), QStringLiteral("Servidor de aplicação (padrão: IMP_SERVER, senão o embutido)."),
                   QStringLiteral("HOST:PORTA")});
    cli.addOption({QStringLiteral("operator"), QStringLiteral("Operador (padrão: IMP_OPERATOR, senão ADMIN)."),
                   QStringLiteral("CODIGO")});
    cli.addOption({QStringLiteral("dry-run"),
                   QStringLiteral("Só verifica se a importação ainda pode ser desfeita; não grava nada.")});
    cli.addOption({QStringLiteral("json"), QStringLiteral("Resultado em JSON.")});
    cli.addOption({QStringLiteral("verbose"),
                   QStringLiteral("Mostra em stderr o detalhe das falhas (o texto do banco de dados).")});
}

// The environment's settings, the options over them; an exit code when the command cannot run.
std::optional<int> applySettings(const QCommandLineParser &cli, const QStringList &environmentProblems)
{
    for (const QString &problem : environmentProblems)
        Command::fail(kProgram, problem, ExitCode::Usage);
    if (!environmentProblems.isEmpty())
        return ExitCode::Usage;
    if (cli.positionalArguments().size() != 1)
        return Command::fail(kProgram, QStringLiteral("informe o código de uma importação (imp40500 history --json, campo id)."),
                             ExitCode::Usage);
    if (const auto exit = Command::useDestination(cli, kProgram))
        return exit;
    return Command::useServer(cli, kProgram);
}

} // namespace

int runUndo(const QStringList &args, const QStringList &environmentProblems)
{
    QCommandLineParser cli;
    addOptions(cli);
    if (const auto exit = Command::parse(cli, args, kProgram))
        return *exit;
    if (cli.isSet(QStringLiteral("verbose")))
        setFailureDetailSink([](const QString &detail) { std::fprintf(stderr, "detalhe: %s\n", qPrintable(detail)); });
    if (const auto exit = applySettings(cli, environmentProblems))
        return *exit;
    const bool json = cli.isSet(QStringLiteral("json"));
    NetConnection net;
    net.BeforeConnect = [](NetConnection &c) { c.settingsFrom(Ambiente::instance()); };
    // The undo's history row names who undid it.
    ImportOrigin origin;
    origin.operatorCode = Ambiente::instance().Operador.left(10);
    const ImportOrigin::Scope scope(origin);
    const bool dryRun = cli.isSet(QStringLiteral("dry-run"));
    const Result<QByteArray> done = Rdm::Desfazer(net, cli.positionalArguments().first().trimmed(), dryRun);
    if (!done) {
        if (json)
            CheckReport::writeJsonError(done.failure(), done.failure().message, stdout);
        std::fflush(stdout);
        return Command::fail(kProgram, done.failure(), ExitCode::Phase::Write);
    }
    const Result<UndoSummary> summary = UndoSummary::decode(done.value());
    if (!summary)
        return Command::fail(kProgram, summary.failure());
    if (json) {
        QJsonObject o{{QStringLiteral("undo"), summary->undoId},
                      {QStringLiteral("import"), summary->importId},
                      {QStringLiteral("dishes_deleted"), summary->dishesDeleted},
                      {QStringLiteral("dishes_restored"), summary->dishesRestored}};
        if (dryRun) { // nothing was undone: no undo row to name
            o.remove(QStringLiteral("undo"));
            o.insert(QStringLiteral("dry_run"), true);
        }
        std::fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
    } else {
        std::printf("%s\n", qPrintable(Msg(QString::fromLatin1(dryRun ? "Desf_Possivel" : "Desf_Feita"))
                                           .arg(summary->dishesDeleted)
                                           .arg(summary->dishesRestored)));
    }
    std::fflush(stdout);
    return ExitCode::Ok;
}
