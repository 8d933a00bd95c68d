#pragma once
// The dish codes one branch has at the destination, read with one query for a run of dish lookups:
// a load pass asks GetPesqPrato once for every local dish of its file, and nearly every answer is
// "no such dish". Once a connection has looked up kWarmAfter codes of a branch, it reads the codes
// of the whole branch, and a code the snapshot lacks is answered "no dish" without asking the
// database; a code it has is still looked up, so every row that goes out is read by the lookup's
// own query. The snapshot holds the codes' hashes only, never their rows.
//
// How current it stays: any write method this process runs (an import, an undo) drops every
// snapshot; on SQLite the database's data version is compared again every kRecheckMs, so a commit
// by another connection or process is seen within that time; on PostgreSQL, which has no such
// cheap question, a snapshot is read again once it is older than the longer of kMaxAgeMs and ten
// times what its reading took.
#include <QElapsedTimer>
#include <QString>

#include <vector>

class QSqlDatabase;

class DishSnapshot {
public:
    static constexpr int kWarmAfter = 32;
    static constexpr qint64 kRecheckMs = 100;
    static constexpr qint64 kMaxAgeMs = 2000;

    // True when the destination is known to have no dish of `code` in `branch`: the lookup can
    // answer without a query. False: ask the database (no snapshot yet, a code a snapshot cannot
    // answer for, or a code the branch has).
    bool knownFree(QSqlDatabase &db, const QString &code, const QString &branch);
    // Called after every method that may have written to the destination.
    static void destinationWritten();

private:
    void drop();
    bool stillCurrent(QSqlDatabase &db);
    bool warm(QSqlDatabase &db);
    bool contains(quint64 hash) const;
    void insert(quint64 hash);

    QString m_branch;
    int m_lookups = 0;              // of m_branch since the snapshot was dropped
    bool m_ready = false;
    std::vector<quint64> m_slots;   // open addressing; 0 is a free slot
    size_t m_count = 0;
    quint64 m_generation = 0;       // of the writes this process had made when it was read
    qint64 m_dataVersion = -1;      // SQLite's data_version when it was read; -1 on PostgreSQL
    qint64 m_readMs = 0;            // what reading it took
    QElapsedTimer m_age;            // since it was read
    QElapsedTimer m_checked;        // since its data version was last compared
};
