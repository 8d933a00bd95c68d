#pragma once
// An import run inside a process that was asked to stop (SIGINT or SIGTERM to the command line,
// which runs the server in its own process) ends at its next safe point: between the tables it
// writes and before its commit. The failure goes back as any other, so the transaction guard
// rolls everything back and nothing of the import is written.
//
// The same process may want to show how the import goes: the table it begins, and the wait for
// another writer of an SQLite destination. A server process sets no hooks and shows nothing.
#include "result.h"

#include <QElapsedTimer>
#include <QString>
#include <functional>

class QSqlDatabase;
struct sqlite3;

namespace RdmMethods {
// Fault-injection points for the crash tests: with IMP_SERVER_PAUSE_AT naming a point, a write
// (an import, an undo) says so on stderr when it gets there and waits (IMP_SERVER_PAUSE_SECONDS,
// 60 by default), so that a test can kill the process, or its database connection, at that very
// point. Unset (always, outside those tests), a point costs one look at a cached flag.
void pausePoint(const char *name);
// A failure ("Imp_Interrompida") when the process's stop was requested; success otherwise.
Status stopPoint();

struct ImportProgress {
    std::function<void(const QString &table, int done, int count)> writing; // begins the done-th of count
    std::function<void(int seconds)> waiting;                               // waited so far for the lock
};
// Set once, before the imports it should hear of; an empty one hears nothing.
void setImportProgress(ImportProgress progress);
const ImportProgress &importProgress();

// For as long as it lives, a write on an SQLite destination waits for another writer at most
// 30 s, telling each second waited to importProgress().waiting. Every statement under it shares
// the deadline (an import's transaction and, had that failed, its history row), where the
// connection's busy timeout would give each its own 30 s. Nothing on PostgreSQL.
class WriterWait {
public:
    explicit WriterWait(QSqlDatabase &db);
    ~WriterWait();
    WriterWait(const WriterWait &) = delete;
    WriterWait &operator=(const WriterWait &) = delete;

private:
    static int busy(void *self, int count);
    sqlite3 *m_db;
    QElapsedTimer m_clock;
    int m_told = -1; // the seconds last told; -1 before any wait
};
// A process that makes several writes in one task (the command line: the remembered directory,
// then the import) lets them share one wait of `ms` in all; by default each has its own.
void shareWriterWait(int ms);
} // namespace RdmMethods
