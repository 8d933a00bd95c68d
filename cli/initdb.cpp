// imp40500 initdb --db URL [--demo]: creates the destination tables that are missing and, with
// --demo, puts the demonstration branches, services, products and dishes in them.
#include "commands.h"
#include "command.h"

#include "ambiente.h"
#include "database.h"
#include "schema.h"

#include <QCommandLineParser>
#include <cstdio>

int runInitDb(const QStringList &args)
{
    const QString program = QStringLiteral("imp40500 initdb");
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Cria as tabelas do banco de destino (e um banco SQLite que não exista)."));
    Command::addCommonOptions(cli);
    cli.addOption({QStringLiteral("demo"), QStringLiteral("Grava também os dados de demonstração.")});
    if (const auto exit = Command::parse(cli, args, program))
        return *exit;
    if (!cli.positionalArguments().isEmpty())
        return Command::fail(program, QStringLiteral("argumento inesperado: %1").arg(cli.positionalArguments().first()),
                             ExitCode::Usage);
    QString url;
    if (const auto exit = Command::databaseUrl(cli, program, false, url))
        return *exit;
    const QString connection = QStringLiteral("imp40500_initdb");
    int rc = ExitCode::Ok;
    {
        auto db = Database::open(url, connection);
        if (!db)
            return Command::fail(program, db.failure());
        if (Status s = Schema::create(db.value()); !s) {
            rc = Command::fail(program, s.failure(), ExitCode::Phase::Write);
        } else if (cli.isSet(QStringLiteral("demo"))) {
            if (Status d = Schema::seedDemo(db.value()); !d)
                rc = Command::fail(program, d.failure(), ExitCode::Phase::Write);
        }
        db.value().close();
    }
    QSqlDatabase::removeDatabase(connection);
    // The URL as it may be shown: never a password.
    if (rc == ExitCode::Ok)
        std::printf("Banco de destino pronto%s: %s\n", cli.isSet(QStringLiteral("demo")) ? " (com dados de demonstração)" : "",
                    qPrintable(DbUrl::display(url)));
    return rc;
}
