#pragma once
// What each import replaced, kept in the destination for its undo, tied to the import's history
// row (HISTIMPO):
// - DESFIMPO, one row per written import: its history id, a small number that the rows below carry
//   instead of the id, the branch, how many dishes it replaced, the columns it wrote in each table
//   ("PRATO=CDFILAUXPRAT,CDPRATO,...;RECEPADR=..."), what became of it (undoable, undone by which
//   history row, or pruned), and, while it can be undone, the dish keys it wrote packed in one
//   value (DSPRATOS, packDish()), each with the tables it wrote for that dish (a bit per table of
//   writtenTables()) and a hash of the rows it left for it there (so that an undo can tell a dish
//   another program changed since);
// - ANT<table> for PRATO, RECEPADR, RECEFILI, RECESERV, PRATPADR and PRATFILI: the rows of those
//   dishes as they were before the import (the destination branch's, in the per-branch tables),
//   column for column, under the import's number.
// The application server writes them (server/beforeimage.h); the history reads their state.
#include "database.h"
#include "result.h"

#include <QDateTime>
#include <QHash>
#include <QSqlDatabase>
#include <QStringList>

#include <optional>
#include <vector>

namespace UndoStore {

inline constexpr char kImports[] = "DESFIMPO";

// The tables an import writes, in the order it writes them, and whether each is kept per branch.
struct Written {
    const char *table;
    bool perBranch;
};
const QList<Written> &writtenTables();
// A table's place in writtenTables(), -1 for another table.
int indexOf(QStringView table);
// The table that keeps a written table's rows from before an import.
QString shadowOf(const QString &table);
// Every table of the store (for dropping them).
QStringList tableNames();

// A written dish as the import keeps it for its undo.
struct KeptDish {
    QByteArray aux, code; // CDFILAUXPRAT and CDPRATO, UTF-8
    quint64 hash = 0;     // the sum of the hashes of the rows the import wrote for it
    quint8 tables = 0;    // the tables it wrote for it, a bit per writtenTables()
};
// Appends a dish to the packed value of DSPRATOS (started empty); a key is at most 255 bytes.
void packDish(QByteArray &packed, QByteArrayView aux, QByteArrayView code, quint64 hash, quint8 tables);
// The dishes of a packed value; nullopt for a value this does not read whole.
std::optional<std::vector<KeptDish>> unpackDishes(const QByteArray &packed);

// The DDL for the database's kind; idempotent.
QStringList statements(DbKind kind);
// Makes the tables on a destination from before them. Safe inside a transaction on PostgreSQL.
Status ensureTables(QSqlDatabase &db);

// What can still be done with an import that kept its before-image.
struct State {
    enum Kind { Undoable, Undone, Pruned } kind = Undoable;
    int dishesReplaced = 0;
    QString undoneBy; // the undo's history id once undone
};
// The state of every import kept since `since` (all when invalid), by history id. A destination
// without the tables has none.
Result<QHash<QString, State>> states(QSqlDatabase db, const QDateTime &since = {});
// Drops the before-images of the imports made before `before` (UTC), in one transaction; their
// history rows stay, no longer undoable. Gives how many imports it pruned.
Result<int> prune(QSqlDatabase db, const QDateTime &before);

} // namespace UndoStore
