#pragma once
// The before-image of one import, kept in its transaction (the tables are UndoStore's,
// destination/undostore.h; the undo that uses it is server/undoimport.h).
//
// Before the import writes a table, keep() copies the destination's rows that it is about to
// replace there: of the dishes in the import's key table that it writes into that table (the key
// table's IDTABELAS), under a number of the import's own. While the import writes, add() hashes
// each row as its writer sends it (rowhash.h); after the last write, seal() stores the import's row
// in DESFIMPO with the written dish keys and their hashes packed in one value. Nothing the import
// wrote is read back.
#include "rowhash.h"
#include "rowwriter.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <vector>

class BeforeImage {
public:
    // `keys`: the key table of the written dishes (CDFILAUXPRAT, CDPRATO, IDTABELAS); `branch`: the
    // destination branch (the per-branch tables keep only its rows); `tables`: per written dish,
    // in the import's order, the tables written for it, a bit per UndoStore::writtenTables().
    BeforeImage(QSqlDatabase &db, QString keys, QString branch, std::vector<quint8> tables);

    // The columns the import writes into the table at `table` of UndoStore::writtenTables(), in
    // the order its writer sends them. Told for every table before keep().
    void setColumns(int table, const Catalogue::TableDef &def, const QList<int> &columns);
    // Makes the tables on a destination from before them, and numbers the import.
    Status begin();
    // Keeps the rows the import is about to replace in the table at `table`.
    Status keep(int table);
    // How many rows keep(table) kept: the rows of the written dishes that the import replaces
    // there; -1 when that table was not kept (no dish is written into it).
    int kept(int table) const { return m_kept[size_t(table)]; }
    // A row the import writes into the table at `table` for its dish number `dish`.
    void add(int table, int dish, const RdmMethods::Rows::Cells &row);
    // Stores the written dishes with their hashes, and the import's row under the history row
    // `historyId`; `keyOf(dish, key)` puts the dish's CDFILAUXPRAT and CDPRATO into the two text
    // cells of `key`.
    Status seal(const QString &historyId, const QDateTime &when,
                const std::function<void(int, RdmMethods::Rows::Cells &)> &keyOf);

private:
    Status sealPg(PGconn *conn, const QString &historyId, const QString &stamp, const QString &columns,
                  const QByteArray &dishes);

    QSqlDatabase &m_db;
    QString m_keys;
    QString m_branch;
    std::vector<quint8> m_tables;
    std::vector<quint64> m_hash;       // per dish: the sum of its rows' hashes
    quint8 m_used = 0;                 // the tables written for any dish
    std::vector<std::vector<int>> m_scale; // per table, per written column: its decimals (-1: none)
    QStringList m_columns;             // per table: "TABLE=COL,COL,..."
    int m_number = 0;
    int m_replaced = 0;                // the dishes whose PRATO row was kept
    std::vector<int> m_kept;           // per table: kept(table)
};
