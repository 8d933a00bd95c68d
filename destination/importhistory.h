#pragma once
// The import history of a destination: one row per call of Importacao (when, who, into which
// branch, which file, what was written or why nothing was), in the table HISTIMPO. The application
// server writes it (server/history.h); the command line and the host list it. An export of the
// branch's dishes into a file is kept there too, as a row of its own kind.
#include "database.h"
#include "result.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QStringList>
#include <optional>

namespace ImportHistory {

struct Entry {
    // IDOPERACAO: "I" an import, "E" an export, "D" the undo of an import; a row from before
    // exports were kept is an import.
    enum class Kind { Import, Export, Undo };
    Kind kind = Kind::Import;
    QString id;                 // unique per call
    QDateTime when;             // the call's start, UTC (millisecond precision)
    QString operatorCode;       // empty when the client did not say
    QString branch;             // the destination branch as the call named it
    QString fileName;           // without its directory; empty when unknown (an export: the file written)
    qint64 bytes = -1;          // -1: unknown
    QString sha256;             // empty: unknown
    bool ok = false;            // written (committed), or failed and rolled back
    int dishesWritten = 0;
    QStringList dishesRefused;  // CDPRATO of the dishes refused for their error flags
    QList<QPair<QString, int>> rows; // rows written per table, in the order written
    qint64 durationMs = 0;
    QString messageKey;         // a failure's catalogue key (empty when it has none)
    QString message;            // a failure's text for the operator (an undo: the import it undid)
    // Read with list() from what the destination keeps for undoing imports (UndoStore):
    bool undoable = false;      // a written import whose before-image is still kept, not undone
    int dishesReplaced = -1;    // of a kept import: the dishes it replaced (-1: not kept)
    QString undoes;             // an undo: the history id of the import it undid
    QString undoneBy;           // an undone import: the history id of its undo
};

// The table's DDL for the database's kind, table then indexes; idempotent.
QStringList statements(DbKind kind);
// Creates the table when the destination does not have it yet (a destination older than the
// history), so that no caller has to.
Status ensureTable(QSqlDatabase db);
// Writes one row. With `unlessPresent`, a row with the same id already there is kept (a commit whose
// outcome was lost may have written the call's row already).
Status insert(QSqlDatabase db, const Entry &entry, bool unlessPresent = false);
// The newest `limit` rows, newest first; of one branch when `branch` is not empty. A destination
// without the table has no history yet: an empty list.
Result<QList<Entry>> list(QSqlDatabase db, const QString &branch = {}, int limit = 100);
// The row with this id, if any.
Result<std::optional<Entry>> find(QSqlDatabase db, const QString &id);
// The newest successful import (not export) of the file (its SHA-256) into the branch that was not
// undone since, if any.
Result<std::optional<Entry>> lastImportOf(QSqlDatabase db, const QString &branch, const QString &sha256);

// "PRATO=3;RECEPADR=5" and back, as the rows per table are kept in the table.
QString rowsToText(const QList<QPair<QString, int>> &rows);
QList<QPair<QString, int>> rowsFromText(const QString &text);

} // namespace ImportHistory
