// imp40500-server --db URL --listen HOST:PORT [--token-file FILE | --token T] [--max-request-mb N] [--bodies-mb N]
#include "ambiente.h"
#include "framework.h"
#include "httpserver.h"
#include "messages.h"
#include "programinfo.h"
#include "rdmimpoprato.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <sys/resource.h>

namespace {
std::atomic<bool> g_quit{false};
extern "C" void onSignal(int) { g_quit = true; }

// The token as the file holds it: its first line, without the blanks around it. A file that cannot
// give one is a failure naming the file.
Result<QString> tokenFromFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Result<QString>::fail(Msg(QStringLiteral("Srv_TokenArquivoNaoExiste")).arg(path));
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return Result<QString>::fail(Msg(QStringLiteral("Srv_TokenArquivoIlegivel")).arg(path));
    const QString token = QString::fromUtf8(file.readLine(4096)).trimmed();
    if (token.isEmpty())
        return Result<QString>::fail(Msg(QStringLiteral("Srv_TokenArquivoVazio")).arg(path));
    return token;
}

// The token: --token or --token-file (not both), else IMP_TOKEN's.
Result<QString> tokenOf(const QCommandLineParser &cli, const QString &fromEnvironment)
{
    if (cli.isSet(QStringLiteral("token")) && cli.isSet(QStringLiteral("token-file")))
        return Result<QString>::fail(Msg(QStringLiteral("Srv_TokenDuplo")));
    if (cli.isSet(QStringLiteral("token-file")))
        return tokenFromFile(cli.value(QStringLiteral("token-file")));
    if (cli.isSet(QStringLiteral("token")))
        return cli.value(QStringLiteral("token"));
    return fromEnvironment;
}

void addOptions(QCommandLineParser &cli)
{
    cli.setApplicationDescription(QStringLiteral("Servidor de aplicação IMP40500.rdmImpoPrato (importação de pratos)."));
    ProgramInfo::addStandardOptions(cli);
    cli.addOption({QStringLiteral("db"), QStringLiteral("Banco de dados: sqlite:CAMINHO ou postgresql://... (ou IMP_DB)."),
                   QStringLiteral("URL")});
    cli.addOption({QStringLiteral("listen"), QStringLiteral("Endereço de escuta (padrão 127.0.0.1:8211)."),
                   QStringLiteral("HOST:PORTA"), QStringLiteral("127.0.0.1:8211")});
    cli.addOption({QStringLiteral("token-file"),
                   QStringLiteral("Arquivo cuja primeira linha é o token exigido em X-IMP-Token (ou IMP_TOKEN); "
                                  "ao contrário de --token, não aparece na lista de processos."),
                   QStringLiteral("ARQUIVO")});
    cli.addOption({QStringLiteral("token"), QStringLiteral("Token exigido em X-IMP-Token (visível em ps: prefira --token-file)."),
                   QStringLiteral("T")});
    cli.addOption({QStringLiteral("max-request-mb"), QStringLiteral("Maior requisição aceita, em MiB (padrão 512)."),
                   QStringLiteral("N"), QStringLiteral("512")});
    cli.addOption({QStringLiteral("bodies-mb"),
                   QStringLiteral("Memória para os corpos de todas as requisições em curso, em MiB (padrão: o dobro de "
                                  "--max-request-mb); além dela, o servidor responde 503 até que se libere."),
                   QStringLiteral("N")});
}

// --max-request-mb and --bodies-mb, in bytes; false, having said why, when either is out of range.
bool sizeLimits(const QCommandLineParser &cli, qint64 &maxBytes, qint64 &bodiesBytes)
{
    bool mbOk = false;
    const qint64 maxMb = cli.value(QStringLiteral("max-request-mb")).toLongLong(&mbOk);
    if (!mbOk || maxMb <= 0 || maxMb > 2047) {
        std::fprintf(stderr, "imp40500-server: --max-request-mb deve ser de 1 a 2047.\n");
        return false;
    }
    qint64 bodiesMb = 2 * maxMb;
    if (cli.isSet(QStringLiteral("bodies-mb"))) {
        bodiesMb = cli.value(QStringLiteral("bodies-mb")).toLongLong(&mbOk);
        if (!mbOk || bodiesMb < maxMb || bodiesMb > 65536) {
            std::fprintf(stderr, "imp40500-server: --bodies-mb deve ser de --max-request-mb (%lld) a 65536.\n",
                         static_cast<long long>(maxMb));
            return false;
        }
    }
    maxBytes = maxMb << 20;
    bodiesBytes = bodiesMb << 20;
    return true;
}

// Each connection, however slow, takes a descriptor: as many as the system lets this process have.
void raiseOpenFilesLimit()
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}

// Only this machine reaches a loopback address; "0.0.0.0", "::" or a network's address let others in.
bool isLoopback(const QString &host)
{
    return host == QLatin1String("localhost") || host.startsWith(QLatin1String("127.")) || host == QLatin1String("::1")
        || host == QLatin1String("[::1]");
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ProgramInfo::setUp(QStringLiteral("imp40500-server"));

    QCommandLineParser cli;
    addOptions(cli);
    if (const auto exit = ProgramInfo::parse(cli, app.arguments(), QStringLiteral("imp40500-server")))
        return *exit;

    Ambiente &env = Ambiente::instance();
    env.loadFromEnvironment();
    const QString db = cli.isSet(QStringLiteral("db")) ? cli.value(QStringLiteral("db")) : env.databaseUrl;
    const Result<QString> token = tokenOf(cli, env.token);
    if (!token) {
        std::fprintf(stderr, "imp40500-server: %s\n", qPrintable(token.error()));
        return 2;
    }
    if (db.isEmpty()) {
        std::fprintf(stderr, "imp40500-server: informe o banco de dados com --db ou IMP_DB.\n");
        return 2;
    }
    QString host;
    int port = 0;
    {
        const QString v = cli.value(QStringLiteral("listen"));
        const int colon = v.lastIndexOf(QLatin1Char(':'));
        bool ok = colon > 0;
        host = ok ? v.left(colon) : QString();
        port = ok ? v.mid(colon + 1).toInt(&ok) : 0;
        if (!ok || port < 0 || port > 65535 || host.isEmpty()) {
            std::fprintf(stderr, "imp40500-server: endereço de escuta inválido: %s\n", qPrintable(v));
            return 2;
        }
    }
    qint64 maxBytes = 0, bodiesBytes = 0;
    if (!sizeLimits(cli, maxBytes, bodiesBytes))
        return 2;
    raiseOpenFilesLimit();

    // The server's stderr is its log: the database's own words go there beside the message.
    setFailureDetailSink([](const QString &detail) { std::fprintf(stderr, "imp40500-server: detalhe: %s\n", qPrintable(detail)); });
    auto opened = RdmImpoPrato::open(db);
    if (!opened) {
        std::fprintf(stderr, "imp40500-server: %s\n", qPrintable(opened.error()));
        return 1;
    }
    const std::shared_ptr<RdmImpoPrato> module = opened.value();
    HttpServer server(module, token.value(), maxBytes);
    server.setBodyBudget(bodiesBytes);
    // The log: one line per request on stderr (server/requestlog.h).
    server.setRequestLog([](const QByteArray &line) {
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    });
    auto bound = server.start(host, port);
    if (!bound) {
        std::fprintf(stderr, "imp40500-server: %s\n", qPrintable(bound.error()));
        return 1;
    }
    std::printf("imp40500-server: %s em http://%s:%d/%s/ %s\n", "escutando", qPrintable(host), bound.value(),
                kServerName, token->isEmpty() ? "(sem token)" : "(token exigido)");
    std::fflush(stdout);
    if (token->isEmpty() && !isLoopback(host))
        std::fprintf(stderr, "imp40500-server: %s\n",
                     qPrintable(Msg(QStringLiteral("Srv_SemToken")).arg(QStringLiteral("%1:%2").arg(host).arg(bound.value()))));

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!g_quit && server.isRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    server.stop();
    return 0;
}
