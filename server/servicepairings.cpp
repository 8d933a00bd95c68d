#include "servicepairings.h"

#include "database.h"
#include "dberror.h"
#include "schema.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

namespace ServicePairings {

namespace {

const QString kWhat = QStringLiteral("gravar os pareamentos de serviço");

// A key column is NOT NULL, and Qt binds a null QString as NULL: an origin without a name is kept
// under the empty name, which is how the map holds it.
QString notNull(const QString &s)
{
    return s.isNull() ? QString(QLatin1String("")) : s;
}

// The upsert of every paired row, on a statement the caller owns.
Status write(QSqlQuery &q, const QString &branch, const MemTable &servico)
{
    const int orig = servico.fieldIndex(u"CDSERVFILIORIG");
    const int name = servico.fieldIndex(u"NMSERVICOORIG");
    const int dest = servico.fieldIndex(u"CDSERVFILIDEST");
    if (orig < 0 || dest < 0)
        return okStatus();
    if (!q.prepare(QStringLiteral("INSERT INTO %1 (CDFILIAL, CDSERVFILIORIG, NMSERVICOORIG, CDSERVFILIDEST, DTULTATUPARE) "
                                  "VALUES (?, ?, ?, ?, ?) "
                                  "ON CONFLICT (CDFILIAL, CDSERVFILIORIG, NMSERVICOORIG) DO UPDATE SET "
                                  "CDSERVFILIDEST = excluded.CDSERVFILIDEST, DTULTATUPARE = excluded.DTULTATUPARE")
                       .arg(QLatin1String(Schema::kPairingsTable))))
        return Status::fail(DbError::describe(kWhat, q.lastError()));
    const QString now = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    for (int r = 0; r < servico.rowCount(); ++r) {
        const QString code = servico.textAt(r, orig);
        const QString target = servico.textAt(r, dest).trimmed();
        const QString origName = notNull(name >= 0 ? servico.textAt(r, name) : QString());
        if (code.isEmpty() || target.isEmpty())
            continue;
        // The import must not fail for what is only a convenience of the next load: a service the
        // table cannot hold (a NUL, which PostgreSQL refuses; a value over its column's width,
        // which only a client other than the screen sends) is simply not remembered.
        if (code.contains(QChar(0)) || origName.contains(QChar(0)) || code.size() > 5 || origName.size() > 40
            || target.size() > 5)
            continue;
        // Codes and names as the map holds them: the next load compares them exactly.
        q.bindValue(0, branch);
        q.bindValue(1, code);
        q.bindValue(2, origName);
        q.bindValue(3, target);
        q.bindValue(4, now);
        if (!q.exec())
            return Status::fail(DbError::describe(kWhat, q.lastError()));
    }
    return okStatus();
}

} // namespace

Status remember(QSqlDatabase &db, const QString &branch, const MemTable &servico)
{
    if (!servico.isActive() || servico.rowCount() == 0)
        return okStatus();

    // Two imports never make the table at once: on PostgreSQL each import holds its tables' lock
    // (SHARE ROW EXCLUSIVE, which excludes another import) from its start to its commit, and SQLite
    // has one writer at a time.
    if (!Schema::hasPairingsTable(db)) {
        QSqlQuery create(db);
        if (!create.exec(Schema::pairingsStatement(db)))
            return Status::fail(DbError::describe(QStringLiteral("criar a tabela de pareamentos de serviço"), create.lastError()));
    }

    QSqlQuery q(db);
    if (Database::kindOf(db) != DbKind::PostgreSQL)
        return write(q, branch, servico);
    // On PostgreSQL a failed statement leaves the transaction unusable, and the statement prepared
    // for the rows could then not even be freed: the writes go under a savepoint that a failure
    // undoes while the statement still exists. The import fails and rolls back whole all the same.
    QSqlQuery mark(db);
    if (!mark.exec(QStringLiteral("SAVEPOINT SERVPARE_GRAVA")))
        return Status::fail(DbError::describe(kWhat, mark.lastError()));
    const Status written = write(q, branch, servico);
    mark.exec(written ? QStringLiteral("RELEASE SAVEPOINT SERVPARE_GRAVA")
                      : QStringLiteral("ROLLBACK TO SAVEPOINT SERVPARE_GRAVA"));
    return written;
}

} // namespace ServicePairings
