#pragma once
// The export reads its rows through each database's own client interface on the connection Qt
// opened, as the import writes them: QSqlQuery's per-value conversions would cost more than the
// file itself. Several cursors run side by side inside one read-only snapshot (a deferred
// transaction on SQLite, a repeatable-read one on PostgreSQL, where each cursor is a server-side
// cursor fetched in batches, so no result is ever held whole).
#include "result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSqlDatabase>

#include <memory>
#include <vector>

namespace ExportRead {

// One value as the database gives it: SQLite's own types, PostgreSQL's text.
struct Cell {
    enum Kind : unsigned char { Null, Text, Integer, Real };
    Kind kind = Null;
    QByteArrayView text; // UTF-8, valid until the cursor moves
    qint64 integer = 0;
    double real = 0;
};

class Cursor {
public:
    virtual ~Cursor() = default;
    // The next row; false at the end or on a failure (error() then says which).
    virtual bool next() = 0;
    virtual const Cell &at(int column) const = 0;
    QString error() const { return m_error; }

protected:
    QString m_error;
};

// The snapshot every cursor of one export reads in. Ends (rolls back: nothing was written) when
// it goes, unless finish() ended it first.
class Snapshot {
public:
    // Begins the snapshot on the connection; a failure holds the database's own words.
    static Result<std::unique_ptr<Snapshot>> begin(QSqlDatabase db);
    virtual ~Snapshot() = default;
    // `sql` with `?` placeholders for the text `params`, `columns` values a row.
    virtual Result<std::unique_ptr<Cursor>> open(const QString &sql, const QList<QByteArray> &params, int columns) = 0;
    // Ends the snapshot; every cursor must be gone.
    virtual Status finish() = 0;
    virtual bool postgres() const = 0;
};

} // namespace ExportRead
