#pragma once
// The destination database: opening a connection from a URL (sqlite:PATH or a PostgreSQL URI)
// and the process's shared connection through which the read-only queries run.
#include "database_export.h"
#include "result.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

enum class DbKind { SQLite, PostgreSQL };

struct IMP_DATABASE_EXPORT DbUrl {
    DbKind kind = DbKind::SQLite;
    QString path;       // SQLite file
    QString host, user, password, dbName;
    int port = 5432;
    static Result<DbUrl> parse(const QString &url);
    // The URL as messages may show it: a PostgreSQL URL without its password (user@host:port/db).
    static QString display(const QString &url);
};

namespace Database {
// Opens (or reuses, when already open with that name) a connection. SQLite gets
// a busy timeout and WAL; PostgreSQL gets client encoding UTF8. A failure names the database
// (DbUrl::display) and says why in words.
IMP_DATABASE_EXPORT Result<QSqlDatabase> open(const QString &url, const QString &connectionName);
// The destination of the shared connection: a URL as open() takes it, empty for none. A different
// URL closes the connection open on the old one.
IMP_DATABASE_EXPORT void setSharedUrl(const QString &url);
IMP_DATABASE_EXPORT QString sharedUrl();
// The shared read-only connection of this process, opened from sharedUrl() on first use; the
// failure says why it cannot be opened.
IMP_DATABASE_EXPORT Result<QSqlDatabase> shared();
IMP_DATABASE_EXPORT QString sharedConnectionName();
// Closes the shared connection (tests, a change of database URL).
IMP_DATABASE_EXPORT void closeShared();
IMP_DATABASE_EXPORT DbKind kindOf(const QSqlDatabase &db);

// Whether `path` names a file of a SQLite database this process uses: the database itself, its
// -wal, -shm or -journal, compared by device and inode (by directory and name for a file that does
// not exist yet). Such a file must never be opened any other way: the close() of any other
// descriptor on it drops every POSIX lock the process holds there, and another program then takes
// the database for unused and checkpoints or deletes the WAL under it. The databases are those
// opened through open() and the one of the shared connection.
IMP_DATABASE_EXPORT bool isOwnFile(const QString &path);
// isOwnFile's refusal in the operator's words (catalogue "Arquivo_Do_Banco", naming the file), or
// success for any other file.
IMP_DATABASE_EXPORT Status refuseOwnFile(const QString &path);
// Whether this process opens SQLite destinations read-only (a dry run: it must work on one it may
// not write, where a writable connection to a WAL database could not even read without making its
// shared-memory file). Off by default; set once, before the first open.
IMP_DATABASE_EXPORT void setReadOnly(bool readOnly);
// A UTC time as a database writes it as text: "2024-05-01 12:00:00.250Z", "...+00" (PostgreSQL's
// timestamptz), "...-03:00", or without an offset, which is taken as UTC too (rows from before
// the time carried one). Invalid when it is none of these.
IMP_DATABASE_EXPORT QDateTime utcFromText(const QString &text);
} // namespace Database
