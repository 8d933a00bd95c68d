#pragma once
// The client cache's read of a whole table on a SQLite destination, through SQLite's own interface
// on the connection Qt opened: each value goes straight into the packet, without Qt's per-value
// conversions or a table in between, which took most of the time of reading the dishes back after
// an import.
#include "catalogue.h"
#include "database_export.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <optional>

// The packet Catalogue::packRows makes of `SELECT * FROM <def's table>` read through QSqlQuery,
// byte for byte; nullopt when the connection is not SQLite's, when the read fails, or when a
// value is not in one of the forms read here (a text in a number column, a date-time other
// than "yyyy-MM-dd HH:mm:ss" from 1970 on, a flag): the caller then reads the table through
// QSqlQuery, which also says why a read fails.
IMP_DATABASE_EXPORT std::optional<QByteArray> sqliteTableRows(const QSqlDatabase &db, const Catalogue::TableDef &def);
