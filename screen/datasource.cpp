#include "datasource.h"

TDataSource::TDataSource(MemTable *table) : m_table(table)
{
}

TDataSource::TDataSource(ReadOnlyQuery *query, QList<FieldDef> fields)
    : m_query(query), m_fields(std::move(fields)), m_own(std::make_unique<MemTable>())
{
    m_table = m_own.get();
    m_table->setFields(m_fields);
}

void TDataSource::refresh()
{
    if (!m_query)
        return;
    // Reopened so that the list starts at the first row even after someone read the query on.
    m_query->close();
    m_query->openOrAbandon();
    m_table->close();
    m_query->fillTable(*m_table, m_fields);
    m_table->first();
}
