#pragma once
// Importacao's import object, shared by its sources: the argument checks (importchecks.cpp), the
// writes (importwrite.cpp) and the run that orders them in one transaction (importacao.cpp).
#include "interruption.h"
#include "rdmimpoprato.h"
#include "history.h"
#include "beforeimage.h"
#include "dishindex.h"
#include "database.h"
#include "rowwriter.h"
#include "dberror.h"
#include "datapacket.h"
#include "memtable.h"
#include "messages.h"
#include "transactionguard.h"
#include "servicepairings.h"

#include <span>
#include <QHash>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace RdmMethods::importacao_detail {

using Payload = Result<QByteArray>;

// Text read as QString::trimmed reads it: ASCII blanks at either end go here, and a text that
// starts or ends beyond ASCII (U+00A0 and U+2003 are blanks too) is trimmed through QString into
// `scratch`.
inline QByteArrayView trimmedUtf8(QByteArrayView v, QByteArray &scratch)
{
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!v.isEmpty() && blank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && blank(v.back()))
        v.chop(1);
    if (!v.isEmpty() && (quint8(v.front()) >= 0x80 || quint8(v.back()) >= 0x80)) {
        scratch = DataPacket::fromUtf8(v).trimmed().toUtf8();
        return scratch;
    }
    return v;
}

// One packet argument. The dish and recipe tables are read where they lie in the packet (`rows`):
// Importacao holds no decoded copy of them. The two small service tables are decoded into
// `table`, which the service pairings read.
struct Packet {
    QString label;
    bool decoded = false; // held in `table` rather than read in place
    DataPacket::PacketRows rows;
    MemTable table;
    const Catalogue::TableDef *def = nullptr;
    QList<int> source; // per catalogue column: its column in the packet, -1 when the packet lacks it
    // Per row, the written dish it belongs to (an index into Import's dish rows), -1 for a row of a
    // dish that is not written. Made once per packet (Import::mapRows) and read by every later step.
    std::vector<int> dish;

    int col(QStringView name) const
    {
        if (decoded)
            return table.isActive() ? table.fieldIndex(name) : -1;
        return rows.isOpen() ? rows.fieldIndex(name) : -1;
    }
    int rowCount() const
    {
        if (decoded)
            return table.isActive() ? table.rowCount() : 0;
        return rows.isOpen() ? int(rows.rowCount()) : 0;
    }
    FieldKind kind(int c) const { return decoded ? table.field(c).kind : rows.fields().at(c).kind; }
    // Row `r` of a packet read in place, decoded once for as long as the same row is asked for.
    const DataPacket::PacketRow &at(int r) const
    {
        if (m_row.index() != r)
            rows.read(r, m_row);
        return m_row;
    }
    QString text(int row, int c) const
    {
        if (c < 0)
            return QString();
        return (decoded ? table.textAt(row, c) : at(row).text(c)).trimmed();
    }
    // The same text as UTF-8 of row `row` read into `from`, without a copy when the packet holds
    // the column as text; `scratch` holds it otherwise.
    QByteArrayView keyView(const DataPacket::PacketRow &from, int c, QByteArray &scratch) const
    {
        if (c < 0)
            return {};
        if (kind(c) == FieldKind::Text)
            return trimmedUtf8(from.utf8(c), scratch);
        scratch = from.text(c).trimmed().toUtf8();
        return scratch;
    }
    QByteArrayView keyView(int row, int c, QByteArray &scratch) const { return keyView(at(row), c, scratch); }

private:
    mutable DataPacket::PacketRow m_row;
};

using namespace Rows;

class Import {
public:
    Import(QSqlDatabase &db, ImportHistoryRecorder *history = nullptr) : m_db(db), m_history(history) {}

    Payload run(const CallArgs &args);

private:
    Status checkArguments(const CallArgs &args);
    Status loadPackets(const CallArgs &args);
    Status checkBranchAndServices();
    Status selectDishes();
    // Fills p.dish: the written dish of each row, looked up once by its CDFILAUXPRAT and CDPRATO.
    void mapRows(Packet &p) const;
    // Maps the recipe tables' rows to their dishes and checks their keys; `only`: that recipe
    // table alone.
    Status checkRecipeKeys(const Packet *only = nullptr);
    // PostgreSQL: checkRecipeKeys() of each recipe table, in the order they are written, on a
    // second thread (startRecipeKeys); recipeKeysChecked() waits for those up to `upTo` (all of
    // them when null) and answers the first refusal among them.
    void startRecipeKeys();
    Status recipeKeysChecked(const Packet *upTo = nullptr);
    Result<int> writeRows(Packet &p, std::span<const int> rows, bool perBranch);
    Status writeDishes();
    Status replaceRecipe(Packet &p, bool perBranch);
    Status upsertPerDish(Packet &p, bool perBranch);
    // Columns written for a packet: the catalogue's columns it carries, and CDFILIAL always on a
    // per-branch table.
    QList<int> writtenColumns(const Packet &p, bool perBranch) const;
    struct Column {
        QString name;
        int src = -1;          // column in the packet
        FieldKind kind = FieldKind::Text;
        int width = 0;
        bool key = false;
        bool branch = false;   // written as the destination branch
        bool sameKind = false; // the packet holds it in the catalogue's kind
        double limit = 0;      // numbers: the first magnitude the column cannot hold; 0: none
    };
    QList<Column> plan(const Packet &p, const QList<int> &columns, bool perBranch) const;
    Status rowValues(const Packet &p, int row, const QList<Column> &plan, Cells &out) const;
    // The row of the dish packet that a row of `p` belongs to (the row itself for PRATO); -1 when
    // it belongs to no dish written.
    int dishRowOf(const Packet &p, int row) const;
    // A write of row `row` of `p` that the database refused, said with the dish and the row.
    Failure refusedRow(const Packet &p, Failure f, int row) const;
    // A value of row `row` that the destination cannot take, refused with its dish; the checks of a
    // number against its column's limit, and of a text (codes trimmed, the width, no NUL).
    Status refusedValue(const Packet &p, int row, QString message, QString key = {}) const;
    Status checkedNumber(const Packet &p, int row, const Column &c, double v) const;
    Status checkedText(const Packet &p, int row, const Column &c, Cell &cell) const;
    // Removes the recipe rows of every dish written, at the destination branch when `perBranch`.
    Status deleteRecipes(const QString &table, bool perBranch);
    // SQLite: the written dishes' keys in the temporary table IMP_KEYS, made on first use and
    // dropped before the commit (a rollback takes it away too).
    Status sqliteKeys();
    // PostgreSQL: locks the tables written and puts the written dishes' keys into IMP_KEYS.
    Status preparePg();
    // Whether a table already holds a row of a dish written into it (PostgreSQL, from what the
    // before-image kept of it when it kept it; always true on SQLite).
    Result<bool> holdsWrittenDishes(const QString &table, bool perBranch);
    Status writeDishRows(Packet &p, bool perBranch);
    // The written dish numbers sorted by their keys.
    std::vector<int> keyOrder() const;
    // The written dish numbers in the order their rows are sent (m_keyOrder, or 0, 1, ...).
    std::vector<int> dishOrder() const;
    // Packet rows of written dishes, grouped by dish in dishOrder(), each dish's in packet order.
    std::vector<int> rowsInDishOrder(const Packet &p) const;
    // The tables in the order they are written, each after the one before it, in one transaction.
    Status writeTables();
    // Per written dish, the tables the import writes for it: a bit per UndoStore::writtenTables().
    std::vector<quint8> touchedTables() const;
    // The before-image of an import with a history row (beforeimage.h): begun before the first
    // write into the destination, each table's kept before it is written, sealed after the last;
    // a failure rolls the import back.
    Status beginBeforeImage(bool pg);
    Status keepBeforeImage(const Packet &p);
    Status sealBeforeImage();
    // Called after each table is written, inside the transaction: the summary holds the rows
    // written so far. A failure here rolls the whole import back.
    Status afterTable(const QString &table);
    // Called once the import's outcome is known: committed, or not written with `failure` (the
    // summary then holds what would have been written up to the failure). The dishes written and
    // refused are in the summary either way.
    void finished(bool committed, const Failure &failure);

    QSqlDatabase &m_db;
    bool m_sqliteKeys = false;        // IMP_KEYS filled on SQLite
    Packet m_prato, m_recePadr, m_receFili, m_servDestino, m_receServ, m_pratPadr, m_pratFili, m_servico;
    bool m_temRecePadr = false, m_temReceFili = false, m_temReceServ = false;
    QString m_branch;
    QByteArray m_branchUtf8;
    DishIndex m_dishIndex;         // key of each dish: its index in m_dishRows, -1 when not written
    QList<int> m_dishRows;         // packet rows of the dishes written (the last of each key), in order
    std::vector<int> m_dishEntry;  // per dish written: its key's entry in m_dishIndex
    // A written dish's key, trimmed, as the packet gives it.
    QByteArrayView dishAux(int dish) const { return m_dishIndex.aux(m_dishEntry[size_t(dish)]); }
    QByteArrayView dishPrato(int dish) const { return m_dishIndex.prato(m_dishEntry[size_t(dish)]); }
    ImportSummary m_summary;
    ImportHistoryRecorder *m_history; // the call's history row (server/history.h)
    std::vector<quint8> m_touched;    // touchedTables(), made before the keys are
    // The written dishes in the order of their keys (CDFILAUXPRAT, CDPRATO, as bytes; keyOrder()),
    // the order in which their rows are sent: each table's rows then reach its key's index in
    // ascending order, at the index's right edge, where the pages last written still lie in the
    // database's cache. Empty until the writes begin.
    std::vector<int> m_keyOrder;
    std::unique_ptr<BeforeImage> m_before; // while the import writes, when it keeps one
    // PostgreSQL: the recipe tables' key checks running beside the transaction's writes (run()).
    // Each reads only its own packet, which nothing else reads until its outcome is waited for.
    std::array<std::future<Status>, 3> m_keysChecked;
    std::array<Failure, 3> m_keysRefused; // the refusals among the outcomes taken
    std::future<void> m_keysThread;
};

} // namespace RdmMethods::importacao_detail
