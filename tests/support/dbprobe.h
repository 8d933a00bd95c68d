#pragma once
// What this process holds on a SQLite destination, seen from outside the code under test: the
// statements still running on its connections, the POSIX locks it holds on the database's files,
// and whether another connection can checkpoint the WAL to its end.
#include <QString>
#include <QStringList>

namespace DbProbe {

// The SQL of every statement stepped and not yet reset on this thread's SQLite connections: each
// one keeps a read transaction open.
QStringList busyStatements();

// How many POSIX locks this process holds on the file (/proc/locks); -1 when the file is absent.
int locksHeld(const QString &path);

// PRAGMA wal_checkpoint(TRUNCATE) on a connection of its own: empty when it ran to the end, else
// what stopped it (a reader holding the WAL).
QString checkpoint(const QString &dbPath);

// PRAGMA integrity_check on a connection of its own: "ok" when the file is sound.
QString integrity(const QString &dbPath);

} // namespace DbProbe
