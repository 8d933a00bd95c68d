#pragma once
// The native connections under Qt's SQL drivers, for the few paths where QSqlQuery's cost per
// value would be most of the work (the import's writes, the cache read back, the export's reads).
// Each gives nullptr when the connection is of the other kind.
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

struct sqlite3;
struct pg_conn; // libpq's PGconn

namespace Database {

inline sqlite3 *sqliteHandle(const QSqlDatabase &db)
{
    const QVariant h = db.driver()->handle();
    if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3 *const *>(h.constData());
    return nullptr;
}

inline pg_conn *pgHandle(const QSqlDatabase &db)
{
    const QVariant h = db.driver()->handle();
    if (h.isValid() && (qstrcmp(h.typeName(), "PGconn*") == 0 || qstrcmp(h.typeName(), "pg_conn*") == 0))
        return *static_cast<pg_conn *const *>(h.constData());
    return nullptr;
}

} // namespace Database
