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
} // namespace Database
