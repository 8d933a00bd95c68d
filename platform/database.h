#pragma once
// The destination database: opening a connection from a URL (sqlite:PATH or a PostgreSQL URI)
// and the process's shared connection through which the read-only queries run.
#include "platform_export.h"
#include "result.h"

#include <QSqlDatabase>
#include <QString>
#include <stdexcept>

enum class DbKind { SQLite, PostgreSQL };

struct IMP_PLATFORM_EXPORT DbUrl {
    DbKind kind = DbKind::SQLite;
    QString path;       // SQLite file
    QString host, user, password, dbName;
    int port = 5432;
    static Result<DbUrl> parse(const QString &url);
};

class IMP_PLATFORM_EXPORT DatabaseError : public std::runtime_error {
public:
    explicit DatabaseError(const QString &message);
    QString message() const;
};

namespace Database {
// Opens (or reuses, when already open with that name) a connection. SQLite gets
// a busy timeout and WAL; PostgreSQL gets client encoding UTF8.
IMP_PLATFORM_EXPORT Result<QSqlDatabase> open(const QString &url, const QString &connectionName);
// The shared read-only connection of this process, opened from Ambiente::databaseUrl on first use.
// Throws DatabaseError when it cannot be opened.
IMP_PLATFORM_EXPORT QSqlDatabase shared();
IMP_PLATFORM_EXPORT QString sharedConnectionName();
// Closes the shared connection (tests, a change of database URL).
IMP_PLATFORM_EXPORT void closeShared();
IMP_PLATFORM_EXPORT DbKind kindOf(const QSqlDatabase &db);

// Whether `path` names a file of a SQLite database this process uses: the database itself, its
// -wal, -shm or -journal, compared by device and inode (by directory and name for a file that does
// not exist yet). Such a file must never be opened any other way: the close() of any other
// descriptor on it drops every POSIX lock the process holds there, and another program then takes
// the database for unused and checkpoints or deletes the WAL under it. The databases are those
// opened through open() and the one the operator environment names.
IMP_PLATFORM_EXPORT bool isOwnFile(const QString &path);
// isOwnFile's refusal in the operator's words (catalogue "Arquivo_Do_Banco", naming the file), or
// success for any other file.
IMP_PLATFORM_EXPORT Status refuseOwnFile(const QString &path);
} // namespace Database
