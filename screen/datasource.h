#pragma once
// A data source (`dts`): what a lookup or a grid lists. It stands over an in-memory table, or over
// a read-only query whose rows it reads into a table of its own when a lookup lists them; the row
// chosen in a lookup is then that table's current row.
#include "memtable.h"
#include "query.h"

#include <QStringList>
#include <memory>

class TDataSource {
public:
    explicit TDataSource(MemTable *table);
    TDataSource(ReadOnlyQuery *query, QList<FieldDef> fields);
    TDataSource(const TDataSource &) = delete;
    TDataSource &operator=(const TDataSource &) = delete;

    // The columns a lookup shows, in this order; empty: all of the table's columns.
    QStringList displayFields;

    ReadOnlyQuery *query() const { return m_query; }
    // The rows listed: the bound table, or the rows the query gave at the last refresh.
    MemTable *table() const { return m_table; }

    // For a query: (re)opens it with the parameters it holds and reads its rows into
    // table() from the start. For a table: nothing. Throws what the query throws.
    void refresh();

private:
    MemTable *m_table = nullptr;
    ReadOnlyQuery *m_query = nullptr;
    QList<FieldDef> m_fields;
    std::unique_ptr<MemTable> m_own;
};
