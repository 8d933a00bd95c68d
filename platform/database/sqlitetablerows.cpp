#include "sqlitetablerows.h"

#include "datapacket.h"
#include "driverhandle.h"
#include "sqlstamp.h"

#include <QDate>
#include <QSqlDriver>
#include <QVariant>

#include <limits>

#include <sqlite3.h>

namespace {

// "yyyy-MM-dd HH:mm:ss" as msecs of that wall clock read as UTC, as a table keeps a date-time;
// -1 for anything else.
qint64 stampMsecs(const char *s, int size)
{
    int n[6];
    if (size != 19 || !SqlStamp::parts(s, n))
        return -1;
    const QDate day(n[0], n[1], n[2]);
    if (n[0] == 0 || !day.isValid() || n[3] > 23 || n[4] > 59 || n[5] > 59)
        return -1;
    const qint64 days = day.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
    const qint64 msecs = (days * 86400 + n[3] * 3600 + n[4] * 60 + n[5]) * 1000;
    return msecs < 0 ? -1 : msecs; // before 1970: left to the general reading
}

bool ascii(const char *s, int size)
{
    for (int i = 0; i < size; ++i)
        if (quint8(s[i]) >= 0x80)
            return false;
    return true;
}

// One value into the packet; false when it is not in a form read here.
bool writeValue(DataPacket::PacketWriter &w, sqlite3_value *v, const FieldDef &f)
{
    const int type = sqlite3_value_type(v);
    if (type == SQLITE_NULL) {
        w.null();
        return true;
    }
    switch (f.kind) {
    case FieldKind::Text: {
        if (type != SQLITE_TEXT)
            return false;
        const auto *t = reinterpret_cast<const char *>(sqlite3_value_text(v));
        const int size = sqlite3_value_bytes(v);
        if (ascii(t, size) && (f.width <= 0 || size <= f.width)) {
            w.text(QByteArrayView(t, size));
            return true;
        }
        // As Qt's driver reads it, cut as a table cuts it.
        const auto *u = static_cast<const QChar *>(sqlite3_value_text16(v));
        const QString s(u, sqlite3_value_bytes16(v) / int(sizeof(QChar)));
        w.text(f.cut(s));
        return true;
    }
    case FieldKind::Number:
        if (type == SQLITE_INTEGER)
            w.number(double(sqlite3_value_int64(v)));
        else if (type == SQLITE_FLOAT)
            w.number(sqlite3_value_double(v));
        else
            return false;
        return true;
    case FieldKind::Integer: {
        if (type != SQLITE_INTEGER)
            return false;
        const qint64 i = sqlite3_value_int64(v);
        if (i == std::numeric_limits<qint64>::min())
            return false;
        w.integer(i);
        return true;
    }
    case FieldKind::DateTime: {
        if (type != SQLITE_TEXT)
            return false;
        const qint64 ms = stampMsecs(reinterpret_cast<const char *>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
        if (ms < 0)
            return false;
        w.integer(ms);
        return true;
    }
    case FieldKind::Boolean:
        return false;
    }
    return false;
}

} // namespace

std::optional<QByteArray> sqliteTableRows(const QSqlDatabase &db, const Catalogue::TableDef &def)
{
    sqlite3 *handle = Database::sqliteHandle(db);
    if (!handle)
        return std::nullopt;
    sqlite3_stmt *stmt = nullptr;
    const QByteArray sql = QByteArray("SELECT * FROM ") + def.name.toUtf8();
    if (sqlite3_prepare_v2(handle, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return std::nullopt;
    }
    const int columns = sqlite3_column_count(stmt);
    QList<FieldDef> fields;
    for (int i = 0; i < columns; ++i) {
        const QString name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        const int col = def.indexOf(name);
        fields << (col >= 0 ? def.columns.at(col) : FieldDef::text(name.toUpper(), 0));
    }
    DataPacket::PacketWriter w(def.name, fields);
    bool whole = true;
    int rc = SQLITE_ROW;
    while (whole && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        w.beginRow(columns);
        // Each value through its sqlite3_value: the column_* calls take the connection's lock.
        for (int i = 0; i < columns && whole; ++i)
            whole = writeValue(w, sqlite3_column_value(stmt, i), fields.at(i));
    }
    sqlite3_finalize(stmt);
    if (!whole || rc != SQLITE_DONE)
        return std::nullopt;
    return w.finish();
}
