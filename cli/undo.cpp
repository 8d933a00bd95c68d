// imp40500 undo ID [--db URL] [--server HOST:PORT] [--json]: undoes one import of the history,
// through the application server (embedded, or the one named), in one transaction.
// Exit status: 0 undone, 2 refused (already undone, changed since, not kept, not an import) or
// wrong arguments, 1 when the destination or the server failed.
#include "commands.h"
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

int failed(const Failure &f, bool json)
{
    const bool refused = f.key.startsWith(QLatin1String("Desf_"));
    if (json) {
        QJsonObject o;
        o.insert(QStringLiteral("outcome"), refused ? QStringLiteral("refused") : QStringLiteral("failed"));
        o.insert(QStringLiteral("message"), f.message);
        o.insert(QStringLiteral("key"), f.key.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(f.key));
        std::fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
    }
    reportFailureDetail(f);
    std::fprintf(stderr, "imp40500 undo: %s\n", qPrintable(f.message));
    return refused ? 2 : 1;
}

} // namespace

int runUndo(const QStringList &args)
{
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Desfaz uma importação do histórico: apaga o que ela gravou e põe de volta "
                                                 "o que ela substituiu."));
    cli.addHelpOption();
    cli.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("O código da importação (imp40500 history --json, campo id)."));
    cli.addOption({QStringLiteral("db"), QStringLiteral("Banco de dados: sqlite:CAMINHO ou postgresql://... (ou IMP_DB)."),
                   QStringLiteral("URL")});
    cli.addOption({QStringLiteral("server"), QStringLiteral("Servidor de aplicação (padrão: embutido)."), QStringLiteral("HOST:PORTA")});
    cli.addOption({QStringLiteral("json"), QStringLiteral("Resultado em JSON.")});
    if (!cli.parse(args)) {
        std::fprintf(stderr, "imp40500 undo: %s\n", qPrintable(cli.errorText()));
        return 2;
    }
    if (cli.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(cli.helpText()), stdout);
        return 0;
    }
    if (cli.positionalArguments().size() != 1) {
        std::fprintf(stderr, "imp40500 undo: informe o código de uma importação (imp40500 history --json).\n");
        return 2;
    }
    Ambiente &amb = Ambiente::instance();
    if (cli.isSet(QStringLiteral("db")))
        amb.databaseUrl = cli.value(QStringLiteral("db"));
    if (cli.isSet(QStringLiteral("server")) && !amb.setServer(cli.value(QStringLiteral("server")))) {
        std::fprintf(stderr, "imp40500 undo: servidor inválido (use HOST:PORTA): %s\n", qPrintable(cli.value(QStringLiteral("server"))));
        return 2;
    }
    if (amb.WebURL.isEmpty() && amb.databaseUrl.isEmpty()) {
        std::fprintf(stderr, "imp40500 undo: informe o banco de dados com --db ou IMP_DB.\n");
        return 2;
    }
    const bool json = cli.isSet(QStringLiteral("json"));
    NetConnection net;
    net.BeforeConnect = [](NetConnection &c) {
        c.Host = Ambiente::instance().WebURL;
        c.Port = Ambiente::instance().WebPort;
    };
    // The undo's history row names who undid it.
    ImportOrigin origin;
    origin.operatorCode = amb.Operador.left(10);
    const ImportOrigin::Scope scope(origin);
    const Result<QByteArray> done = Rdm::Desfazer(net, cli.positionalArguments().first().trimmed());
    if (!done)
        return failed(done.failure(), json);
    const QJsonObject o = QJsonDocument::fromJson(done.value()).object();
    if (json) {
        QJsonObject out = o;
        out.insert(QStringLiteral("outcome"), QStringLiteral("ok"));
        std::fputs(QJsonDocument(out).toJson(QJsonDocument::Indented).constData(), stdout);
    } else {
        std::printf("%s\n", qPrintable(Msg(QStringLiteral("Desf_Feita"))
                                           .arg(o.value(QStringLiteral("dishes_deleted")).toInt())
                                           .arg(o.value(QStringLiteral("dishes_restored")).toInt())));
    }
    std::fflush(stdout);
    return 0;
}
