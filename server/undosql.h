#pragma once
// Small pieces the before-image of an import and its undo share: the statements they run through
// Qt on the import's own connection, and the column lists of the written tables.
#include "catalogue.h"
#include "database.h"
#include "dberror.h"
#include "result.h"
#include "undostore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace UndoSql {

inline bool onPg(const QSqlDatabase &db)
{
    return Database::kindOf(db) == DbKind::PostgreSQL;
}

// Runs `sql` with `binds` (prepared when it has any), into `out` when the caller reads its rows.
inline Status run(QSqlDatabase &db, const QString &sql, const QVariantList &binds, const QString &what,
                  QSqlQuery *out = nullptr)
{
    QSqlQuery own(db);
    QSqlQuery &q = out ? *out : own;
    q.setForwardOnly(true);
    bool ok = binds.isEmpty() ? q.exec(sql) : q.prepare(sql);
    if (ok && !binds.isEmpty()) {
        for (int i = 0; i < binds.size(); ++i)
            q.bindValue(i, binds.at(i));
        ok = q.exec();
    }
    return ok ? okStatus() : Status::fail(DbError::describe(what, q.lastError()));
}

inline const Catalogue::TableDef &table(const UndoStore::Written &w)
{
    return *Catalogue::table(QString::fromLatin1(w.table));
}

// The names, each after `alias.` when one is given, joined by commas.
inline QString columnList(const QStringList &names, const QString &alias = {})
{
    if (alias.isEmpty())
        return names.join(QStringLiteral(", "));
    QStringList out;
    for (const QString &n : names)
        out << alias + QLatin1Char('.') + n;
    return out.join(QStringLiteral(", "));
}

inline QStringList allColumns(const Catalogue::TableDef &t)
{
    QStringList out;
    for (const FieldDef &f : t.columns)
        out << f.name;
    return out;
}

// The bit of a table in IDTABELAS (the import's key table) and in a kept dish's tables.
inline int bitOf(int table)
{
    return 1 << table;
}

} // namespace UndoSql
