// imp40500 history [--db URL] [--branch CODE] [--limit N] [--json] [--verbose]: the destination's
// import history, newest first, the exports of its dishes and the undos of imports among the imports.
// With --prune-before DATE it drops what the imports before that day kept for their undo instead.
#include "destinationreader.h"
#include "commands.h"
#include "command.h"
#include "ambiente.h"
#include "database.h"
#include "framework.h"
#include "importhistory.h"
#include "undostore.h"
#include "messages.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <cstdio>

namespace {

QJsonValue textOrNull(const QString &s)
{
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

QString kindLabel(ImportHistory::Entry::Kind kind)
{
    switch (kind) {
    case ImportHistory::Entry::Kind::Export:
        return QStringLiteral("Hist_Exportacao");
    case ImportHistory::Entry::Kind::Undo:
        return QStringLiteral("Hist_Desfazer");
    case ImportHistory::Entry::Kind::Import:
        break;
    }
    return QStringLiteral("Hist_Importacao");
}

QJsonObject toJson(const ImportHistory::Entry &e)
{
    QJsonObject rows;
    for (const auto &[table, count] : e.rows)
        rows.insert(table, count);
    QJsonArray refused;
    for (const QString &code : e.dishesRefused)
        refused.append(code);
    QJsonObject o;
    o.insert(QStringLiteral("id"), e.id);
    // UTC with its "Z": a reader in another time zone takes it as it is.
    o.insert(QStringLiteral("when"), e.when.toUTC().toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("kind"), e.kind == ImportHistory::Entry::Kind::Export ? QStringLiteral("export")
                                     : e.kind == ImportHistory::Entry::Kind::Undo ? QStringLiteral("undo")
                                                                                   : QStringLiteral("import"));
    o.insert(QStringLiteral("operator"), textOrNull(e.operatorCode));
    o.insert(QStringLiteral("branch"), textOrNull(e.branch));
    o.insert(QStringLiteral("file"), textOrNull(e.fileName));
    o.insert(QStringLiteral("bytes"), e.bytes < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(e.bytes));
    o.insert(QStringLiteral("sha256"), textOrNull(e.sha256));
    o.insert(QStringLiteral("outcome"), e.ok ? QStringLiteral("ok") : QStringLiteral("failed"));
    o.insert(QStringLiteral("dishes_written"), e.dishesWritten);
    o.insert(QStringLiteral("dishes_refused"), refused);
    o.insert(QStringLiteral("rows"), rows);
    o.insert(QStringLiteral("message"), textOrNull(e.message));
    o.insert(QStringLiteral("message_key"), textOrNull(e.messageKey));
    o.insert(QStringLiteral("duration_ms"), e.durationMs);
    o.insert(QStringLiteral("undoable"), e.undoable);
    if (e.kind == ImportHistory::Entry::Kind::Undo)
        o.insert(QStringLiteral("undoes"), textOrNull(e.undoes));
    if (!e.undoneBy.isEmpty())
        o.insert(QStringLiteral("undone_by"), e.undoneBy);
    return o;
}

// One import per paragraph: the first line says when, who, where and what came of it. Refused
// dishes are named through the destination's dish-code picture, the first ten and how many more
// (the JSON keeps every code as stored).
void writeText(const QList<ImportHistory::Entry> &entries, const QString &dishPicture, FILE *out)
{
    if (entries.isEmpty()) {
        std::fprintf(out, "%s\n", qPrintable(Msg(QStringLiteral("Hist_Vazio"))));
        return;
    }
    for (const ImportHistory::Entry &e : entries) {
        const QString who = e.operatorCode.isEmpty() ? Msg(QStringLiteral("Hist_SemOperador")) : e.operatorCode;
        std::fprintf(out, "%s UTC  %s  filial %s  %s  %s\n", qPrintable(e.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
                     qPrintable(Msg(kindLabel(e.kind))),
                     qPrintable(e.branch), qPrintable(who), e.ok ? "ok" : "falhou");
        if (!e.fileName.isEmpty() || !e.sha256.isEmpty())
            std::fprintf(out, "  arquivo %s (%s bytes) sha256 %s\n", qPrintable(e.fileName),
                         e.bytes < 0 ? "?" : qPrintable(QString::number(e.bytes)),
                         e.sha256.isEmpty() ? "?" : qPrintable(e.sha256));
        // An export writes its dishes into the file and refuses none: a refused value stops it whole.
        QString dishes = e.kind == ImportHistory::Entry::Kind::Export
            ? QStringLiteral("  pratos exportados %1").arg(e.dishesWritten)
            : QStringLiteral("  pratos gravados %1, recusados %2").arg(e.dishesWritten).arg(e.dishesRefused.size());
        if (!e.dishesRefused.isEmpty())
            dishes += QStringLiteral(" (%1)").arg(dishCodeList(e.dishesRefused, dishPicture));
        dishes += QStringLiteral("; %1 ms").arg(e.durationMs);
        std::fprintf(out, "%s\n", qPrintable(dishes));
        if (!e.rows.isEmpty())
            std::fprintf(out, "  linhas: %s\n", qPrintable(ImportHistory::rowsToText(e.rows).replace(QLatin1Char('='), QLatin1Char(' ')).replace(QLatin1Char(';'), QStringLiteral(", "))));
        if (!e.message.isEmpty())
            std::fprintf(out, "  %s%s\n", qPrintable(e.message),
                         e.messageKey.isEmpty() ? "" : qPrintable(QStringLiteral(" [%1]").arg(e.messageKey)));
    }
}

// Drops the before-images of the imports made before the day (UTC midnight).
int prune(const QString &program, const QString &url, const QDate &before)
{
    const QString connection = QStringLiteral("imp40500_history");
    int rc = ExitCode::Ok;
    {
        auto db = Database::open(url, connection);
        const auto pruned = db ? UndoStore::prune(db.value(), QDateTime(before, QTime(0, 0), QTimeZone::utc()))
                               : Result<int>::fail(db.failure());
        if (!pruned)
            rc = Command::fail(program, pruned.failure(), ExitCode::Phase::Write);
        else
            std::printf("%s\n", qPrintable(Msg(QStringLiteral("Hist_Podadas")).arg(pruned.value()).arg(before.toString(Qt::ISODate))));
        if (db)
            db.value().close();
    }
    QSqlDatabase::removeDatabase(connection);
    std::fflush(stdout);
    return rc;
}

} // namespace

int runHistory(const QStringList &args)
{
    const QString program = QStringLiteral("imp40500 history");
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Lista o histórico de importações do destino, da mais recente à mais antiga."));
    Command::addCommonOptions(cli);
    cli.addOption({QStringLiteral("branch"), QStringLiteral("Só as importações nesta filial."), QStringLiteral("CODIGO")});
    cli.addOption({QStringLiteral("limit"), QStringLiteral("No máximo N importações (padrão 50)."), QStringLiteral("N"),
                   QStringLiteral("50")});
    cli.addOption({QStringLiteral("json"), QStringLiteral("Lista em JSON.")});
    cli.addOption({QStringLiteral("verbose"),
                   QStringLiteral("Mostra em stderr o detalhe das falhas (o texto do banco de dados).")});
    cli.addOption({QStringLiteral("prune-before"),
                   QStringLiteral("Apaga o que as importações anteriores a DATA guardam para ser desfeitas (o histórico fica)."),
                   QStringLiteral("AAAA-MM-DD")});
    if (const auto exit = Command::parse(cli, args, program))
        return *exit;
    if (cli.isSet(QStringLiteral("verbose")))
        setFailureDetailSink([](const QString &detail) { std::fprintf(stderr, "detalhe: %s\n", qPrintable(detail)); });
    if (!cli.positionalArguments().isEmpty())
        return Command::fail(program, QStringLiteral("argumento inesperado: %1").arg(cli.positionalArguments().first()),
                             ExitCode::Usage);
    bool ok = false;
    const int limit = cli.value(QStringLiteral("limit")).toInt(&ok);
    if (!ok || limit < 1 || limit > 100000)
        return Command::fail(program, Msg(QStringLiteral("Hist_LimiteInvalido")).arg(cli.value(QStringLiteral("limit"))),
                             ExitCode::Usage);
    const QString branch = cli.value(QStringLiteral("branch")).trimmed();
    if (branch.size() > 4 || (!branch.isEmpty() && !std::all_of(branch.begin(), branch.end(), [](QChar c) { return c.isDigit(); })))
        return Command::fail(program, Msg(QStringLiteral("Hist_FilialInvalida")).arg(branch), ExitCode::Usage);
    const QDate pruneBefore = QDate::fromString(cli.value(QStringLiteral("prune-before")), Qt::ISODate);
    if (cli.isSet(QStringLiteral("prune-before")) && !pruneBefore.isValid())
        return Command::fail(program, Msg(QStringLiteral("Hist_DataInvalida")).arg(cli.value(QStringLiteral("prune-before"))),
                             ExitCode::Usage);
    QString url;
    if (const auto exit = Command::databaseUrl(cli, program, true, url))
        return *exit;
    if (pruneBefore.isValid())
        return prune(program, url, pruneBefore);
    const QString connection = QStringLiteral("imp40500_history");
    int rc = ExitCode::Ok;
    {
        auto db = Database::open(url, connection);
        if (!db)
            return Command::fail(program, db.failure());
        // Branch codes are kept with their leading zeros, as the screen completes them.
        const QString code = branch.isEmpty() ? branch : branch.rightJustified(4, QLatin1Char('0'));
        const auto entries = ImportHistory::list(db.value(), code, limit);
        if (!entries) {
            rc = Command::fail(program, entries.failure());
        } else if (cli.isSet(QStringLiteral("json"))) {
            QJsonArray array;
            for (const ImportHistory::Entry &e : entries.value())
                array.append(toJson(e));
            std::fputs(QJsonDocument(array).toJson(QJsonDocument::Indented).constData(), stdout);
        } else {
            writeText(entries.value(), readDishPicture(db.value()).value_or(QString()), stdout);
        }
        db.value().close();
    }
    QSqlDatabase::removeDatabase(connection);
    std::fflush(stdout);
    return rc;
}
