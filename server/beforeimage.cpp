#include "beforeimage.h"
#include "undosql.h"


using namespace RdmMethods::Rows;
using UndoStore::Written;

namespace {

const QString kWhat = QStringLiteral("guardar o que a importação substitui");

} // namespace

BeforeImage::BeforeImage(QSqlDatabase &db, QString keys, QString branch, std::vector<quint8> tables)
    : m_db(db), m_keys(std::move(keys)), m_branch(std::move(branch)), m_tables(std::move(tables)),
      m_hash(m_tables.size(), 0), m_scale(size_t(UndoStore::writtenTables().size())),
      m_kept(size_t(UndoStore::writtenTables().size()), -1)
{
    for (quint8 t : m_tables)
        m_used |= t;
}

void BeforeImage::setColumns(int table, const Catalogue::TableDef &def, const QList<int> &columns)
{
    if (!(m_used & UndoSql::bitOf(table)))
        return;
    QStringList names;
    std::vector<int> &scale = m_scale[size_t(table)];
    scale.clear();
    for (int c : columns) {
        const FieldDef &f = def.columns.at(c);
        names << f.name;
        scale.push_back(f.kind == FieldKind::Number && f.precision > 0 ? f.scale : -1);
    }
    m_columns << def.name + QLatin1Char('=') + names.join(QLatin1Char(','));
}

Status BeforeImage::begin()
{
    if (Status s = UndoStore::ensureTables(m_db); !s)
        return s;
    // Imports never keep at once: each holds its tables' lock (PostgreSQL) or the one writer's
    // place (SQLite) from before this to its commit.
    QSqlQuery next(m_db);
    const QString sql = QStringLiteral("SELECT COALESCE(MAX(NRDESFAZ), 0) + 1 FROM %1").arg(QLatin1String(UndoStore::kImports));
    if (Status s = UndoSql::run(m_db, sql, {}, kWhat, &next); !s)
        return s;
    m_number = next.next() ? next.value(0).toInt() : 1;
    return okStatus();
}

Status BeforeImage::keep(int table)
{
    if (!(m_used & UndoSql::bitOf(table)))
        return okStatus();
    const Written &w = UndoStore::writtenTables().at(table);
    const Catalogue::TableDef &t = UndoSql::table(w);
    const QStringList cols = UndoSql::allColumns(t);
    QVariantList binds{m_number, UndoSql::bitOf(table)};
    if (w.perBranch)
        binds << m_branch;
    // One statement on the database's side, the rows never travel; just before the table is
    // written, while its pages are at hand.
    QSqlQuery q(m_db);
    const QString sql = QStringLiteral("INSERT INTO %1 (NRDESFAZ, %2) SELECT ?, %3 FROM %4 T JOIN %5 K ON "
                                       "T.CDFILAUXPRAT = K.CDFILAUXPRAT AND T.CDPRATO = K.CDPRATO "
                                       "WHERE (K.IDTABELAS & ?) <> 0%6")
                            .arg(UndoStore::shadowOf(t.name), UndoSql::columnList(cols), UndoSql::columnList(cols, QStringLiteral("T")),
                                 t.name, m_keys, w.perBranch ? QStringLiteral(" AND T.CDFILIAL = ?") : QString());
    if (Status s = UndoSql::run(m_db, sql, binds, kWhat, &q); !s)
        return s;
    m_kept[size_t(table)] = qMax(0, q.numRowsAffected());
    if (table == 0)
        m_replaced = q.numRowsAffected();
    return okStatus();
}

void BeforeImage::add(int table, int dish, const Cells &row)
{
    const std::vector<int> &scale = m_scale[size_t(table)];
    RowHash h(table);
    for (size_t i = 0; i < row.size(); ++i) {
        const Cell &c = row[i];
        if (c.kind == Cell::Null)
            h.null();
        else if (c.kind == Cell::Number)
            h.number(c.number, i < scale.size() ? scale[i] : -1);
        else
            h.text(c.text);
    }
    m_hash[size_t(dish)] += h.value();
}

Status BeforeImage::seal(const QString &historyId, const QDateTime &when, const std::function<void(int, Cells &)> &keyOf)
{
    if (m_number == 0)
        return okStatus();
    // One value, whatever the number of dishes: a row per dish would cost the import a tree's
    // worth of writes.
    QByteArray dishes;
    dishes.reserve(qsizetype(m_hash.size()) * 24);
    Cells key(2);
    for (size_t d = 0; d < m_hash.size(); ++d) {
        keyOf(int(d), key);
        UndoStore::packDish(dishes, key[0].text, key[1].text, m_hash[d], m_tables[d]);
    }
    const QString columns = m_columns.isEmpty() ? QStringLiteral("") : m_columns.join(QLatin1Char(';'));
    const QString stamp = when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    if (PGconn *conn = pgHandle(m_db); conn && !dishes.isEmpty())
        return sealPg(conn, historyId, stamp, columns, dishes);
    return UndoSql::run(m_db,
                        QStringLiteral("INSERT INTO %1 (CDHISTIMPO, NRDESFAZ, DTIMPORTACAO, CDFILIAL, QTPRATOSUBS, IDSITUACAO, "
                                       "DSCOLUNAS, DSPRATOS) VALUES (?, ?, ?, ?, ?, 'A', ?, ?)")
                            .arg(QLatin1String(UndoStore::kImports)),
                        {historyId, m_number, stamp, m_branch, m_replaced, columns, dishes}, kWhat);
}

// PostgreSQL: the same row through the client interface, the packed dishes as a binary parameter.
// Through Qt they would travel as an escaped literal inside the statement's text, twice their size,
// escaped here and parsed back there: a tenth of a second for 100,000 dishes.
Status BeforeImage::sealPg(PGconn *conn, const QString &historyId, const QString &stamp, const QString &columns,
                           const QByteArray &dishes)
{
    // The value is stored compressed, as before; with LZ4 where the server has it, which takes a
    // fraction of the default's time over these megabytes (PostgreSQL 14 and later, built with it).
    // It reads back the same.
    PGresult *lz4 = PQexec(conn, "SELECT 1 FROM pg_settings WHERE name = 'default_toast_compression' "
                                 "AND 'lz4' = ANY(enumvals)");
    const bool hasLz4 = PQresultStatus(lz4) == PGRES_TUPLES_OK && PQntuples(lz4) > 0;
    PQclear(lz4);
    if (hasLz4) {
        if (Status s = pgExec(conn, QStringLiteral("SET LOCAL default_toast_compression = lz4")); !s)
            return Status::fail(DbError::describe(kWhat, s.failure().key, s.error()));
    }
    const QByteArray sql = QStringLiteral("INSERT INTO %1 (CDHISTIMPO, NRDESFAZ, DTIMPORTACAO, CDFILIAL, QTPRATOSUBS, "
                                          "IDSITUACAO, DSCOLUNAS, DSPRATOS) VALUES ($1, $2, $3, $4, $5, 'A', $6, $7)")
                               .arg(QLatin1String(UndoStore::kImports))
                               .toUtf8();
    const QByteArray texts[] = {historyId.toUtf8(), QByteArray::number(m_number), stamp.toUtf8(), m_branch.toUtf8(),
                                QByteArray::number(m_replaced), columns.toUtf8()};
    const char *values[7];
    int lengths[7] = {};
    int formats[7] = {};
    for (int i = 0; i < 6; ++i)
        values[i] = texts[i].constData();
    values[6] = dishes.constData();
    lengths[6] = int(dishes.size());
    formats[6] = 1;
    PGresult *res = PQexecParams(conn, sql.constData(), 7, nullptr, values, lengths, formats, 0);
    const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
    const QString error = QString::fromUtf8(PQresultErrorMessage(res)).trimmed();
    const QString code = QString::fromLatin1(PQresultErrorField(res, PG_DIAG_SQLSTATE));
    PQclear(res);
    return ok ? okStatus() : Status::fail(DbError::describe(kWhat, code, error));
}
