#pragma once
// Database failures in words: what was being done, why it failed (locked, read-only, disk full,
// cannot open, repeated key, connection lost...) from the catalogue, and the driver's own text kept
// apart as the detail for the log and for --verbose.
#include "database_export.h"
#include "result.h"

class QSqlError;

namespace DbError {
enum class Cause {
    // Conflict: a deadlock, or a serialization failure, with another transaction; the same
    // transaction run again may succeed.
    Other, Locked, Conflict, ReadOnly, DiskFull, CannotOpen, RepeatedKey, MissingValue, BadCharacter, ConnectionLost,
    // Connecting to a database server: what a person does next differs for each.
    AuthRefused, NoPassword, NoServer, NoDatabase, TimedOut
};

// `code`: SQLite's result code (primary or extended, as a number) or PostgreSQL's SQLSTATE; either
// may be empty, the driver's text then decides alone.
IMP_DATABASE_EXPORT Cause classify(const QString &code, const QString &driverText);
// The catalogue key of a cause.
IMP_DATABASE_EXPORT QString keyOf(Cause cause);
// `what` is the action, as the catalogue's texts take it: "gravar RECEPADR", "abrir o banco de dados".
IMP_DATABASE_EXPORT Failure describe(const QString &what, const QString &code, const QString &driverText);
IMP_DATABASE_EXPORT Failure describe(const QString &what, const QSqlError &error);
} // namespace DbError
