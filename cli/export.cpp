// imp40500 export OUT [--branch CODE] [--db URL] [--tree padrao|local|todos] [--dishes CODE,...]
//                    [--operator CODE] [--json] [--verbose]
// Writes the export file of a branch's dishes, as the screen "Exportação de Prato" does: the branch
// checked as the import's branch field checks it, the file whole or not at all, the totals per
// table at the end.
#include "commands.h"
#include "destinationreader.h"
#include "checkreport.h"
#include "command.h"
#include "progress.h"

#include "ambiente.h"
#include "checks.h"
#include "database.h"
#include "framework.h"
#include "menuexport.h"
#include "messages.h"
#include "stoprequest.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <climits>
#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

// The export's progress on the command line's one progress line (progress.h).
class ExportProgress final : public MenuExport::Observer {
public:
    explicit ExportProgress(CliProgress &line) : m_line(line) {}
    void setProgressRange(qint64 dishes) override { m_max = dishes; }
    void setProgress(qint64 done) override { m_pos = done; }
    void serveEvents() override
    {
        m_line.show(Msg(QStringLiteral("Exp_Exportando")), int(qMin<qint64>(m_pos, INT_MAX)), int(qMin<qint64>(m_max, INT_MAX)),
                    QStringLiteral("%1 pratos").arg(m_pos));
    }

private:
    CliProgress &m_line;
    qint64 m_max = 0;
    qint64 m_pos = 0;
};

void addOptions(QCommandLineParser &cli)
{
    cli.setApplicationDescription(QStringLiteral("Grava o arquivo de exportação dos pratos de uma filial."));
    Command::addCommonOptions(cli);
    cli.addPositionalArgument(QStringLiteral("SAIDA"), QStringLiteral("O arquivo de exportação a gravar."));
    cli.addOption({QStringLiteral("branch"), QStringLiteral("Filial cujos pratos são exportados (padrão: IMP_BRANCH)."),
                   QStringLiteral("CODIGO")});
    cli.addOption({QStringLiteral("tree"),
                   QStringLiteral("Pratos padrão, locais da filial ou todos (padrão: todos)."),
                   QStringLiteral("padrao|local|todos"), QStringLiteral("todos")});
    cli.addOption({QStringLiteral("dishes"), QStringLiteral("Só estes códigos de prato, separados por vírgula."),
                   QStringLiteral("CODIGO,...")});
    cli.addOption({QStringLiteral("operator"), QStringLiteral("Operador (padrão: IMP_OPERATOR, senão ADMIN)."),
                   QStringLiteral("CODIGO")});
    cli.addOption({QStringLiteral("json"), QStringLiteral("Totais em JSON.")});
    cli.addOption({QStringLiteral("verbose"),
                   QStringLiteral("Mostra em stderr o detalhe das falhas (o texto do banco de dados ou do sistema).")});
}

void writeTotals(const MenuExport::Totals &t, bool json)
{
    if (json) {
        QJsonObject rows;
        for (const auto &[table, n] : t.rows)
            rows.insert(table, n);
        QJsonObject o{{QStringLiteral("file"), t.path},
                      {QStringLiteral("bytes"), t.bytes},
                      {QStringLiteral("sha256"), t.sha256},
                      {QStringLiteral("rows"), rows}};
        if (!t.missing.isEmpty())
            o.insert(QStringLiteral("missing"), QJsonArray::fromStringList(t.missing));
        std::fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
        return;
    }
    for (const auto &[table, n] : t.rows)
        std::printf("%-9s %lld\n", qPrintable(table), static_cast<long long>(n));
    std::printf("%s\n", qPrintable(Msg(QStringLiteral("Exp_Concluida")).arg(t.count(QStringLiteral("PRATO"))).arg(t.path)));
}

const QString kProgram = QStringLiteral("imp40500 export");

// A failure on stderr (and as {"error": ...} with --json), ending with its kind's code: the file
// that could not be written, a value or a name the export refuses, the database out of reach.
int failed(const Failure &f, bool json, int code = -1)
{
    if (json)
        CheckReport::writeJsonError(f, f.message, stdout);
    // The database is only read here: what it refuses is no write that failed.
    if (code < 0)
        code = ExitCode::forFailure(f, ExitCode::Phase::Read);
    reportFailureDetail(f);
    return Command::fail(kProgram, f.message, code);
}

// The database, the operator and the branch, checked as the import's branch field checks it; the
// exit code when the command ends here.
std::optional<int> prepare(const QCommandLineParser &cli, MenuExport::Request &request, bool json)
{
    Ambiente &amb = Ambiente::instance();
    const QString branch = cli.isSet(QStringLiteral("branch")) ? cli.value(QStringLiteral("branch")) : amb.FiliProc;
    if (branch.trimmed().isEmpty())
        return Command::fail(kProgram, QStringLiteral("informe a filial com --branch CODIGO ou IMP_BRANCH (--help para as opções)."),
                             ExitCode::Usage);
    if (const auto exit = Command::useDestination(cli, kProgram))
        return exit;

    request.databaseUrl = amb.databaseUrl;
    request.path = cli.positionalArguments().first();
    request.operatorCode = amb.Operador;
    for (const QString &code : cli.value(QStringLiteral("dishes")).split(u',', Qt::SkipEmptyParts))
        request.dishes << code.trimmed();

    try {
        // The branch as the import's branch field checks it: registered, the operator's, not rescinded.
        ReadOnlyQuery qryFilial(ImportChecks::qryFilialSql());
        ImportChecks::Vd_CdFilial(branch, true, amb.Operador, qryFilial, &request.branch);
        qryFilial.close();
    } catch (const AbandonedAction &a) {
        Database::closeShared();
        return failed(a.failure(), json);
    }
    // The export reads on a connection of its own; the lookup's is not held beside it.
    Database::closeShared();

    return std::nullopt;
}

} // namespace

int runExport(const QStringList &args)
{
    QCommandLineParser cli;
    addOptions(cli);
    if (const auto exit = Command::parse(cli, args, kProgram))
        return *exit;
    const bool json = cli.isSet(QStringLiteral("json"));
    if (cli.isSet(QStringLiteral("verbose")))
        setFailureDetailSink([](const QString &detail) { std::fprintf(stderr, "detalhe: %s\n", qPrintable(detail)); });
    if (cli.positionalArguments().size() != 1)
        return Command::fail(kProgram, QStringLiteral("informe a SAIDA (--help para as opções)."), ExitCode::Usage);
    const auto tree = MenuExport::treeFromName(cli.value(QStringLiteral("tree")));
    if (!tree)
        return failed(Failure{Msg(QStringLiteral("Exp_ArvoreInvalida")).arg(cli.value(QStringLiteral("tree"))),
                              QStringLiteral("Exp_ArvoreInvalida"), {}},
                      json, ExitCode::Usage);

    MenuExport::Request request;
    request.tree = *tree;
    if (const std::optional<int> refused = prepare(cli, request, json))
        return *refused;

    // SIGINT and SIGTERM stop the export at its next dishes; the temporary file goes with it.
    StopRequest &stop = StopRequest::process();
    StopRequest::installSignalHandlers();
    Result<MenuExport::Totals> result = Result<MenuExport::Totals>::fail(QString());
    {
        CliProgress line(!json && isatty(fileno(stderr)));
        ExportProgress progress(line);
        result = MenuExport::run(request, &stop, &progress);
    }
    if (!result) {
        if (MenuExport::cancelled(result.failure()) && stop.signal()) {
            const QString sig = stop.signal() == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
            return failed(Failure{Msg(QStringLiteral("Sinal_Exportacao")).arg(sig), QStringLiteral("Sinal_Exportacao"), {}},
                          json, ExitCode::Interrupted);
        }
        return failed(result.failure(), json);
    }
    if (!result->missing.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(Msg(QStringLiteral("Exp_NaoEncontrados")).arg(result->missing.join(QStringLiteral(", ")))));
    if (!result->historyFailure.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(Msg(QStringLiteral("Exp_SemHistorico")).arg(result->historyFailure)));
    writeTotals(result.value(), json);
    std::fflush(stdout);
    return ExitCode::Ok;
}
