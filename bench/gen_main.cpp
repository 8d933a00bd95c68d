// imp40500-gen: writes an export file of N dishes, eight recipe lines each over the six recipe
// tables, and (with --db) a destination that matches it.
//   imp40500-gen --dishes N --out FILE [--csv FILE] [--db URL] [--local-every K] [--locale NAME] [--first N]
#include "loadgen.h"
#include "programinfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ProgramInfo::setUp(QStringLiteral("imp40500-gen"));
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Gera um arquivo de exportação de pratos e um destino que o aceita."));
    ProgramInfo::addStandardOptions(cli);
    cli.addOption({QStringLiteral("dishes"), QStringLiteral("Número de pratos (padrão 100000)."), QStringLiteral("N"),
                   QStringLiteral("100000")});
    cli.addOption({QStringLiteral("out"), QStringLiteral("Arquivo de exportação a escrever."), QStringLiteral("ARQUIVO")});
    cli.addOption({QStringLiteral("csv"), QStringLiteral("As mesmas linhas em CSV."), QStringLiteral("ARQUIVO")});
    cli.addOption({QStringLiteral("db"), QStringLiteral("Cria o destino neste banco."), QStringLiteral("URL")});
    cli.addOption({QStringLiteral("local-every"), QStringLiteral("Um prato local a cada K (padrão 10; 0: nenhum)."),
                   QStringLiteral("K"), QStringLiteral("10")});
    cli.addOption({QStringLiteral("first"), QStringLiteral("Número do primeiro prato (padrão 0): arquivos que não se sobrepõem."),
                   QStringLiteral("N"), QStringLiteral("0")});
    cli.addOption({QStringLiteral("locale"), QStringLiteral("Formato de números e datas (padrão pt_BR)."),
                   QStringLiteral("NOME"), QStringLiteral("pt_BR")});
    if (const auto exit = ProgramInfo::parse(cli, app.arguments(), QStringLiteral("imp40500-gen")))
        return *exit;

    LoadGen::Options o;
    bool ok = false;
    o.dishes = cli.value(QStringLiteral("dishes")).toInt(&ok);
    if (!ok || o.dishes < 0 || o.dishes > 899'999) {
        std::fprintf(stderr, "imp40500-gen: --dishes de 0 a 899999\n");
        return 1;
    }
    o.firstDish = cli.value(QStringLiteral("first")).toInt(&ok);
    if (!ok || o.firstDish < 0 || o.firstDish + o.dishes > 899'999) {
        std::fprintf(stderr, "imp40500-gen: --first mais --dishes até 899999\n");
        return 1;
    }
    o.localEvery = cli.value(QStringLiteral("local-every")).toInt(&ok);
    if (!ok || o.localEvery < 0) {
        std::fprintf(stderr, "imp40500-gen: --local-every inválido\n");
        return 1;
    }
    o.locale = QLocale(cli.value(QStringLiteral("locale")));
    if (cli.isSet(QStringLiteral("db"))) {
        if (Status s = LoadGen::createDestination(cli.value(QStringLiteral("db")), o); !s) {
            std::fprintf(stderr, "imp40500-gen: %s\n", qPrintable(s.error()));
            return 1;
        }
    }
    if (cli.isSet(QStringLiteral("out"))) {
        const auto w = LoadGen::writeExportFile(cli.value(QStringLiteral("out")), o, cli.value(QStringLiteral("csv")));
        if (!w) {
            std::fprintf(stderr, "imp40500-gen: %s\n", qPrintable(w.error()));
            return 1;
        }
        std::printf("%lld bytes, %lld linhas, %lld linhas de dados\n", w->bytes, w->lines, w->dataLines);
    }
    return 0;
}
