#pragma once
// The history row of one call of Importacao (ImportHistory, destination/): the call's start, the
// client's origin (operator, file name, size, SHA-256), and what became of it. A written import's
// row goes in with the import, inside its transaction; a failed one's after the rollback, so that
// a refused or broken import is on record too.
#include "appserver.h"
#include "importhistory.h"

#include "callargs.h"
#include <QElapsedTimer>
#include <QSqlDatabase>

class ImportHistoryRecorder {
public:
    // Begins the row of the call with these arguments, from the origin current on this thread.
    ImportHistoryRecorder(QSqlDatabase &db, const CallArgs &args);

    // The row of an import about to commit, written in its transaction: if the row cannot be
    // written, nothing is.
    Status written(const ImportSummary &summary);
    // The row's key (CDHISTIMPO), made when the call began.
    QString id() const { return m_entry.id; }
    // The call's result, as it is. A failure's row is written now, the transaction being over, when
    // need be through a new connection once the database takes one again; a row that still cannot
    // be written is said after the import's failure, which stays the one the client hears of.
    Result<QByteArray> finish(Result<QByteArray> result);

    // The row as begun: its id and start tie the import's before-image to it.
    const ImportHistory::Entry &entry() const { return m_entry; }

private:
    // The row through a connection of its own; `connected` tells whether one could be opened.
    Status insertOnNewConnection(bool *connected);
    Status insertWhenConnectionBack();

    QSqlDatabase &m_db;
    ImportHistory::Entry m_entry;
    QElapsedTimer m_clock;
};
