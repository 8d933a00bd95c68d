#pragma once
// The destination schema, made from the table catalogue (Catalogue::tables) for SQLite and
// PostgreSQL, and the demonstration data that `imp40500 initdb --demo` puts in it.
#include "result.h"

#include <QSqlDatabase>
#include <QStringList>

namespace Schema {
// The DDL statements for the database's kind, tables then indexes; idempotent.
QStringList statements(const QSqlDatabase &db);
// Creates every table and index that is missing, in one transaction.
Status create(QSqlDatabase db);
// Drops every table of the catalogue (tests start from nothing).
Status dropAll(QSqlDatabase db);
// Demonstration data; rows already present are left as they are.
Status seedDemo(QSqlDatabase db);
} // namespace Schema
