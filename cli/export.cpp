// imp40500 export OUT --branch CODE [--db URL] [--tree padrao|local|todos] [--dishes CODE,...]
//                    [--operator CODE] [--json] [--verbose]
// Writes the export file of a branch's dishes, as the screen "Exportação de Prato" does: the branch
// checked as the import's branch field checks it, the file whole or not at all, the totals per
// table at the end.
#include "commands.h"
#include "checkreport.h"

#include "ambiente.h"
#include "checks.h"
#include "database.h"
#include "framework.h"
#include "menuexport.h"
#include "messages.h"
#include "stoprequest.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

constexpr int kStoppedExit = 130; // a run ended by SIGINT or SIGTERM, as a shell counts it

// A progress bar on stderr, on a terminal only, drawn when the export lets events through.
class CliProgress final : public MenuExport::Observer {
public:
    explicit CliProgress(bool draw) : m_draw(draw) {}
    ~CliProgress() override
    {
        if (m_drawn)
            std::fputs("\n", stderr);
    }
    void setProgressRange(qint64 dishes) override { m_max = dishes; }
    void setProgress(qint64 done) override { m_pos = done; }
    void serveEvents() override
    {
        if (!m_draw || m_max <= 0)
            return;
        const int width = 30;
        const int filled = int(qBound<qint64>(0, m_pos, m_max) * width / m_max);
        std::fprintf(stderr, "\r%s [%s%s] %lld/%lld", qPrintable(Msg(QStringLiteral("Exp_Exportando"))),
                     QByteArray(filled, '#').constData(), QByteArray(width - filled, '.').constData(),
                     static_cast<long long>(m_pos), static_cast<long long>(m_max));
        std::fflush(stderr);
        m_drawn = true;
    }

private:
    bool m_draw;
    bool m_drawn = false;
    qint64 m_max = 0;
    qint64 m_pos = 0;
};

void addOptions(QCommandLineParser &cli)
{
    cli.setApplicationDescription(QStringLiteral("Grava o arquivo de exportação dos pratos de uma filial."));
    cli.addHelpOption();
    cli.addPositionalArgument(QStringLiteral("SAIDA"), QStringLiteral("O arquivo de exportação a gravar."));
    cli.addOption({QStringLiteral("branch"), QStringLiteral("Filial cujos pratos são exportados."), QStringLiteral("CODIGO")});
    cli.addOption({QStringLiteral("db"),
                   QStringLiteral("Banco de dados: sqlite:CAMINHO ou postgresql://... (padrão: IMP_DB, senão "
                                  "sqlite:imp40500-demo.db)."),
                   QStringLiteral("URL")});
    cli.addOption({QStringLiteral("tree"),
                   QStringLiteral("Pratos padrão, locais da filial ou todos (padrão: todos)."),
                   QStringLiteral("padrao|local|todos"), QStringLiteral("todos")});
    cli.addOption({QStringLiteral("dishes"), QStringLiteral("Só estes códigos de prato, separados por vírgula."),
                   QStringLiteral("CODIGO,...")});
    cli.addOption({QStringLiteral("operator"), QStringLiteral("Operador (padrão: ADMIN)."), QStringLiteral("CODIGO")});
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

int failed(const Failure &f, bool json, int code)
{
    reportFailureDetail(f);
    std::fprintf(stderr, "imp40500: %s\n", qPrintable(f.message));
    if (json)
        CheckReport::writeJsonError(f.key, f.message, stdout);
    return code;
}

// The database, the operator and the branch, checked as the import's branch field checks it; the
// exit code when the command ends here.
std::optional<int> prepare(const QCommandLineParser &cli, MenuExport::Request &request, bool json)
{
    Ambiente &amb = Ambiente::instance();
    if (cli.isSet(QStringLiteral("db")))
        amb.databaseUrl = cli.value(QStringLiteral("db"));
    else if (!qEnvironmentVariableIsSet("IMP_DB"))
        amb.databaseUrl = QStringLiteral("sqlite:imp40500-demo.db");
    amb.Operador = cli.isSet(QStringLiteral("operator")) ? cli.value(QStringLiteral("operator")) : QStringLiteral("ADMIN");
    // The branch lookup below would make an empty SQLite database where there is none.
    if (const auto parsed = DbUrl::parse(amb.databaseUrl); parsed && parsed->kind == DbKind::SQLite
                                                           && !QFileInfo::exists(parsed->path))
        return failed(Failure{Msg(QStringLiteral("Hist_BancoInexistente")).arg(amb.databaseUrl), {}, {}}, json, 1);

    request.databaseUrl = amb.databaseUrl;
    request.path = cli.positionalArguments().first();
    request.operatorCode = amb.Operador;
    for (const QString &code : cli.value(QStringLiteral("dishes")).split(u',', Qt::SkipEmptyParts))
        request.dishes << code.trimmed();

    try {
        // The branch as the import's branch field checks it: registered, the operator's, not rescinded.
        ReadOnlyQuery qryFilial(ImportChecks::qryFilialSql());
        ImportChecks::Vd_CdFilial(cli.value(QStringLiteral("branch")), true, amb.Operador, qryFilial, &request.branch);
        qryFilial.close();
    } catch (const AbandonedAction &a) {
        Database::closeShared();
        return failed(Failure{a.text(), a.key(), {}}, json, a.key().isEmpty() ? 1 : 2);
    } catch (const DatabaseError &e) {
        Database::closeShared();
        return failed(Failure{e.message(), {}, {}}, json, 1);
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
    if (!cli.parse(args)) {
        std::fprintf(stderr, "imp40500 export: %s\n", qPrintable(cli.errorText()));
        return 1;
    }
    if (cli.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(cli.helpText()), stdout);
        return 0;
    }
    const bool json = cli.isSet(QStringLiteral("json"));
    if (cli.isSet(QStringLiteral("verbose")))
        setFailureDetailSink([](const QString &detail) { std::fprintf(stderr, "detalhe: %s\n", qPrintable(detail)); });
    if (cli.positionalArguments().size() != 1 || !cli.isSet(QStringLiteral("branch"))) {
        std::fprintf(stderr, "imp40500 export: informe a SAIDA e --branch CODIGO (--help para as opções).\n");
        return 1;
    }
    const auto tree = MenuExport::treeFromName(cli.value(QStringLiteral("tree")));
    if (!tree)
        return failed(Failure{Msg(QStringLiteral("Exp_ArvoreInvalida")).arg(cli.value(QStringLiteral("tree"))),
                              QStringLiteral("Exp_ArvoreInvalida"), {}},
                      json, 2);

    MenuExport::Request request;
    request.tree = *tree;
    if (const std::optional<int> refused = prepare(cli, request, json))
        return *refused;

    // SIGINT and SIGTERM stop the export at its next dishes; the temporary file goes with it.
    StopRequest &stop = StopRequest::process();
    StopRequest::installSignalHandlers();
    Result<MenuExport::Totals> result = Result<MenuExport::Totals>::fail(QString());
    {
        CliProgress progress(!json && isatty(fileno(stderr)));
        result = MenuExport::run(request, &stop, &progress);
    }
    if (!result) {
        if (MenuExport::cancelled(result.failure()) && stop.signal()) {
            const QString sig = stop.signal() == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
            return failed(Failure{Msg(QStringLiteral("Sinal_Exportacao")).arg(sig), QStringLiteral("Sinal_Exportacao"), {}},
                          json, kStoppedExit);
        }
        return failed(result.failure(), json, MenuExport::refused(result.failure()) ? 2 : 1);
    }
    if (!result->missing.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(Msg(QStringLiteral("Exp_NaoEncontrados")).arg(result->missing.join(QStringLiteral(", ")))));
    if (!result->historyFailure.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(Msg(QStringLiteral("Exp_SemHistorico")).arg(result->historyFailure)));
    writeTotals(result.value(), json);
    std::fflush(stdout);
    return 0;
}
