// imp40500-server --db URL --listen HOST:PORT [--token T] [--max-request-mb N]
#include "ambiente.h"
#include "framework.h"
#include "httpserver.h"
#include "rdmimpoprato.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {
std::atomic<bool> g_quit{false};
extern "C" void onSignal(int) { g_quit = true; }
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("imp40500-server"));

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Servidor de aplicação IMP40500.rdmImpoPrato (importação de pratos)."));
    cli.addHelpOption();
    cli.addOption({QStringLiteral("db"), QStringLiteral("Banco de dados: sqlite:CAMINHO ou postgresql://... (ou IMP_DB)."),
                   QStringLiteral("URL")});
    cli.addOption({QStringLiteral("listen"), QStringLiteral("Endereço de escuta (padrão 127.0.0.1:8211)."),
                   QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:8211")});
    cli.addOption({QStringLiteral("token"), QStringLiteral("Token exigido em X-IMP-Token (ou IMP_TOKEN)."),
                   QStringLiteral("T")});
    cli.addOption({QStringLiteral("max-request-mb"), QStringLiteral("Maior requisição aceita, em MiB (padrão 512)."),
                   QStringLiteral("N"), QStringLiteral("512")});
    cli.process(app);

    Ambiente &env = Ambiente::instance();
    env.loadFromEnvironment();
    const QString db = cli.isSet(QStringLiteral("db")) ? cli.value(QStringLiteral("db")) : env.databaseUrl;
    const QString token = cli.isSet(QStringLiteral("token")) ? cli.value(QStringLiteral("token")) : env.token;
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
    bool mbOk = false;
    const qint64 maxMb = cli.value(QStringLiteral("max-request-mb")).toLongLong(&mbOk);
    if (!mbOk || maxMb <= 0 || maxMb > 2047) {
        std::fprintf(stderr, "imp40500-server: --max-request-mb deve ser de 1 a 2047.\n");
        return 2;
    }

    // The server's stderr is its log: the database's own words go there beside the message.
    setFailureDetailSink([](const QString &detail) { std::fprintf(stderr, "imp40500-server: detalhe: %s\n", qPrintable(detail)); });
    QString error;
    auto module = RdmImpoPrato::open(db, &error);
    if (!module) {
        std::fprintf(stderr, "imp40500-server: %s\n", qPrintable(error));
        return 1;
    }
    HttpServer server(module, token, maxMb * 1024 * 1024);
    auto bound = server.start(host, port);
    if (!bound) {
        std::fprintf(stderr, "imp40500-server: %s\n", qPrintable(bound.error()));
        return 1;
    }
    std::printf("imp40500-server: %s em http://%s:%d/%s/ %s\n", "escutando", qPrintable(host), bound.value(),
                kServerName, token.isEmpty() ? "(sem token)" : "(token exigido)");
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!g_quit && server.isRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    server.stop();
    return 0;
}
