#include "destinationreader.h"
#include "catalogue.h"
#include "database.h"
#include "dberror.h"
#include "sqlitetablerows.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

std::optional<QString> DestinationReader::dishPicture()
{
    const Result<QSqlDatabase> db = Database::shared();
    if (!db)
        return std::nullopt;
    return readDishPicture(db.value());
}

Result<QString> DestinationReader::branchName(const QString &branch)
{
    const Result<QSqlDatabase> db = Database::shared();
    if (!db)
        return db.failure();
    QSqlQuery q(db.value());
    q.prepare(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = ?"));
    q.addBindValue(branch);
    if (!q.exec())
        return DbError::describe(QStringLiteral("ler o nome da filial %1").arg(branch), q.lastError());
    return q.next() ? q.value(0).toString().trimmed() : QString();
}

Result<QByteArray> DestinationReader::tableRows(const QString &table)
{
    // The statement names the catalogue's table, never the caller's text.
    const Catalogue::TableDef *def = Catalogue::table(table);
    if (!def)
        return Failure::unexpected(QStringLiteral("tabela fora do catálogo: %1").arg(table));
    const Result<QSqlDatabase> db = Database::shared();
    if (!db)
        return db.failure();
    if (std::optional<QByteArray> rows = sqliteTableRows(db.value(), *def))
        return std::move(*rows);
    QSqlQuery q(db.value());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT * FROM ") + def->name))
        return DbError::describe(QStringLiteral("atualizar o cache local de %1").arg(def->name), q.lastError());
    const QSqlRecord rec = q.record();
    QList<FieldDef> fields;
    for (int i = 0; i < rec.count(); ++i) {
        const int col = def->indexOf(rec.fieldName(i));
        fields << (col >= 0 ? def->columns.at(col) : FieldDef::text(rec.fieldName(i).toUpper(), 0));
    }
    return Catalogue::packRows(q, def->name, fields);
}

void Database::useDestination(Ambiente &env, const QString &url)
{
    env.databaseUrl = url;
    setSharedUrl(url);
    env.setDestination(url.isEmpty() ? nullptr : std::make_shared<DestinationReader>());
}

std::optional<QString> readDishPicture(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The first general-parameter row is the current one, as the server hands it out.
    if (!q.exec(QStringLiteral("SELECT CDPICTPRAT FROM PARAMGERAL ORDER BY CDFILIAL")))
        return std::nullopt;
    return q.next() ? q.value(0).toString().trimmed() : QString();
}
