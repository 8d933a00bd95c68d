#pragma once
// The destination tables that the module reads and writes, in one catalogue: the server creates its
// schema from it and shapes its empty packets by it, and the client cache only refreshes tables
// named here. Columns are in table order; every key column is NOT NULL; each column's type, width,
// precision and scale is declared here once, for the schema of both databases, the packets and the
// load pass's checks. With it, how a value goes
// between the in-memory tables and SQL on either database.
#include "memtable.h"
#include "platform_export.h"
#include "result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class QSqlQuery;

namespace Catalogue {
struct IMP_PLATFORM_EXPORT TableDef {
    QString name;
    QList<FieldDef> columns;
    QStringList key;               // primary key
    QList<QStringList> indexes;    // secondary indexes
    int indexOf(QStringView column) const; // without regard to case; -1 when absent
};
IMP_PLATFORM_EXPORT const QList<TableDef> &tables();
// Exact upper-case name; nullptr for a table the catalogue does not hold.
IMP_PLATFORM_EXPORT const TableDef *table(QStringView name);
// Columns of the empty packet of a Get* method: the table's columns, and for PRATO the screen's
// IDERRO (text 10) and MNPRATOLOCAL (text 40), which take no part in updates.
IMP_PLATFORM_EXPORT QList<FieldDef> packetFields(const TableDef &table);
// Date-times are stored as timestamps without time zone; SQLite keeps them as this text.
inline constexpr const char *kDateTimeFormat = "yyyy-MM-dd HH:mm:ss";
// A value read from either database as the in-memory table holds it (dates: wall-clock time kept
// in a QDateTime marked Qt::UTC, with no time zone applied).
IMP_PLATFORM_EXPORT QVariant fromSql(const QVariant &v, FieldKind kind);
// A table value as bound to a statement of either database (dates as text in kDateTimeFormat).
// Null stays null; a value the kind cannot take is refused.
IMP_PLATFORM_EXPORT Result<QVariant> toSql(const QVariant &v, FieldKind kind);
// The remaining rows of an executed query as a data packet of `fields` (query column i feeds
// field i), values converted by fromSql; with `onRow`, the query already stands on the first.
IMP_PLATFORM_EXPORT QByteArray packRows(QSqlQuery &query, const QString &tableName, const QList<FieldDef> &fields,
                                        bool onRow = false);
} // namespace Catalogue
