#pragma once
// The before-image of an import and its undo (the tables are UndoStore's, destination/undostore.h).
//
// In the import's transaction, before its first write, `keep` copies the destination's rows of the
// dishes about to be written (the keys in the import's key table) from the six written tables, and
// after its last write `seal` records the written dish keys, each with a hash of the rows the import
// left for it. `RdmMethods::desfazer` undoes one import in one transaction: it refuses when a
// written dish's rows no longer hash to what was sealed (whoever changed them), deletes the dishes'
// rows, puts the kept rows back and records an undo row in the history naming the import.
#include "callargs.h"
#include "result.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

class BeforeImage {
public:
    // `keys`: the table holding the written dishes' CDFILAUXPRAT and CDPRATO; `branch`: the
    // destination branch (the per-branch tables keep only its rows).
    BeforeImage(QSqlDatabase &db, QString keys, QString branch);

    // Keeps the rows the import is about to replace, under the history row `historyId`.
    Status keep(const QString &historyId, const QDateTime &when);
    // Records the dishes written, with the hash of what the import wrote for each.
    Status seal();

private:
    QSqlDatabase &m_db;
    QString m_keys;
    QString m_branch;
    int m_number = 0;
};

namespace RdmMethods {
// "Desfazer" (history id): the undo of one import; the payload is a JSON object with the undo's
// history id ("undo"), the import's ("import"), the dishes deleted and the dishes restored.
Result<QByteArray> desfazer(QSqlDatabase &db, const CallArgs &args);
} // namespace RdmMethods
