// imp40500 initdb --db URL [--demo]: creates the destination tables that are missing and, with
// --demo, puts the demonstration branches, services, products and dishes in them.
#include "commands.h"
#include "ambiente.h"
#include "database.h"
#include "schema.h"

#include <QCommandLineParser>
#include <cstdio>

int runInitDb(const QStringList &args)
{
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Cria as tabelas do banco de destino."));
    cli.addHelpOption();
    cli.addOption({QStringLiteral("db"), QStringLiteral("Banco de dados: sqlite:CAMINHO ou postgresql://... (ou IMP_DB)."),
                   QStringLiteral("URL")});
    cli.addOption({QStringLiteral("demo"), QStringLiteral("Grava também os dados de demonstração.")});
    if (!cli.parse(args)) {
        std::fprintf(stderr, "imp40500 initdb: %s\n", qPrintable(cli.errorText()));
        return 2;
    }
    if (cli.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(cli.helpText()), stdout);
        return 0;
    }
    if (!cli.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "imp40500 initdb: argumento inesperado: %s\n", qPrintable(cli.positionalArguments().first()));
        return 2;
    }
    const QString url = cli.isSet(QStringLiteral("db")) ? cli.value(QStringLiteral("db")) : Ambiente::instance().databaseUrl;
    if (url.isEmpty()) {
        std::fprintf(stderr, "imp40500 initdb: informe o banco de dados com --db ou IMP_DB.\n");
        return 2;
    }
    const QString connection = QStringLiteral("imp40500_initdb");
    int rc = 0;
    {
        auto db = Database::open(url, connection);
        if (!db) {
            std::fprintf(stderr, "imp40500 initdb: %s\n", qPrintable(db.error()));
            return 1;
        }
        if (Status s = Schema::create(db.value()); !s) {
            std::fprintf(stderr, "imp40500 initdb: %s\n", qPrintable(s.error()));
            rc = 1;
        } else if (cli.isSet(QStringLiteral("demo"))) {
            if (Status d = Schema::seedDemo(db.value()); !d) {
                std::fprintf(stderr, "imp40500 initdb: %s\n", qPrintable(d.error()));
                rc = 1;
            }
        }
        db.value().close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (rc == 0)
        std::printf("Banco de destino pronto%s: %s\n", cli.isSet(QStringLiteral("demo")) ? " (com dados de demonstração)" : "",
                    qPrintable(url));
    return rc;
}
