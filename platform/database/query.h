#pragma once
// A read-only query (`qry` components): SQL text with named parameters :P_..., prepared once and
// re-executed, read row by row. open() reads the whole result and finishes the statement, so an
// open query holds no transaction between the operator's actions. A failure to open comes back
// as the value: the cause in words, the database's own text as its detail.
#include "database.h"
#include "memtable.h"

#include <QSqlQuery>
#include <QVariant>
#include <memory>
#include <optional>

class IMP_DATABASE_EXPORT ReadOnlyQuery {
public:
    explicit ReadOnlyQuery(const QString &sql, const QString &connectionName = {});
    ~ReadOnlyQuery();

    void setConnectionName(const QString &name); // empty: the shared connection
    QString sql() const;

    void setParam(const QString &name, const QVariant &value); // name with or without ':'
    QVariant param(const QString &name) const;

    // Executes with the current parameters; positions on the first row.
    [[nodiscard]] Status open();
    // open(), or the action abandoned with its failure (MensErro): for the screens' handlers and
    // validations, whose failures are told that way.
    void openOrAbandon();
    void close();
    bool isOpen() const;
    bool eof() const;      // no current row
    void next();
    QVariant value(int col) const;
    // By column name without regard to case; null for a name the query does not have.
    QVariant value(const QString &column) const;
    QString text(const QString &column) const;
    QStringList columnNames() const;

    // Reads the remaining rows into a table (columns as text), for lookup lists.
    void fillTable(MemTable &table, const QList<FieldDef> &fields);

private:
    Result<QSqlDatabase> database() const;
    std::optional<Failure> tryOpen();
    struct Impl;
    std::unique_ptr<Impl> d;
};
