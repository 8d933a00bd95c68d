#pragma once
// The destination schema, made from the table catalogue (Catalogue::tables) for SQLite and
// PostgreSQL, and the demonstration data that `imp40500 initdb --demo` puts in it.
#include "catalogue.h"
#include "database.h"
#include "result.h"

#include <QSqlDatabase>
#include <QStringList>

namespace Schema {
// The DDL statements for the database's kind, tables then indexes; idempotent.
QStringList statements(const QSqlDatabase &db);
// A catalogue column's SQL type on the database's kind.
QString columnType(const FieldDef &f, DbKind kind);
// Creates every table and index that is missing, in one transaction.
Status create(QSqlDatabase db);
// Drops every table of the catalogue (tests start from nothing).
Status dropAll(QSqlDatabase db);
// Demonstration data; rows already present are left as they are.
Status seedDemo(QSqlDatabase db);

// The remembered service pairings (SERVPARE): per destination branch, an origin service's code and
// name with the destination service it was paired with by the last successful import. Kept apart
// from the table catalogue: the screen never loads it as a packet.
inline constexpr char kPairingsTable[] = "SERVPARE";
// CREATE TABLE IF NOT EXISTS for the database's kind; part of statements().
QString pairingsStatement(const QSqlDatabase &db);
// Whether the destination has the table (a destination made before it existed has not); false on
// a failed look-up too. Safe inside a transaction on PostgreSQL: nothing here can fail a statement.
bool hasPairingsTable(const QSqlDatabase &db);
} // namespace Schema
