#include "rowcursor.h"

#include "database.h"
#include "driverhandle.h"

#include <QSqlDriver>
#include <QVariant>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace ExportRead {

namespace {

using Database::pgHandle;
using Database::sqliteHandle;

// ---- SQLite -------------------------------------------------------------------------------------

class LiteCursor final : public Cursor {
public:
    LiteCursor(sqlite3 *db, const QString &sql, const QList<QByteArray> &params, int columns)
        : m_db(db), m_params(params), m_cells(size_t(columns))
    {
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_stmt, nullptr) != SQLITE_OK) {
            m_error = QString::fromUtf8(sqlite3_errmsg(db));
            return;
        }
        for (int i = 0; i < m_params.size(); ++i)
            sqlite3_bind_text(m_stmt, i + 1, m_params.at(i).constData(), int(m_params.at(i).size()), SQLITE_STATIC);
    }
    ~LiteCursor() override { sqlite3_finalize(m_stmt); }
    bool ok() const { return m_stmt != nullptr; }

    bool next() override
    {
        if (!m_stmt || m_done)
            return false;
        const int rc = sqlite3_step(m_stmt);
        if (rc != SQLITE_ROW) {
            if (rc != SQLITE_DONE)
                m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
            m_done = true;
            return false;
        }
        // Each value read through its sqlite3_value: one call a value takes the connection's lock,
        // where the column_* calls take it for the type, the text and the length each. The value is
        // "unprotected": safe here, where only this thread uses the connection, until the next step.
        for (int i = 0; i < int(m_cells.size()); ++i) {
            Cell &c = m_cells[size_t(i)];
            sqlite3_value *v = sqlite3_column_value(m_stmt, i);
            switch (sqlite3_value_type(v)) {
            case SQLITE_NULL:
                c.kind = Cell::Null;
                break;
            case SQLITE_INTEGER:
                c.kind = Cell::Integer;
                c.integer = sqlite3_value_int64(v);
                break;
            case SQLITE_FLOAT:
                c.kind = Cell::Real;
                c.real = sqlite3_value_double(v);
                break;
            default: {
                const auto *t = reinterpret_cast<const char *>(sqlite3_value_text(v));
                c.kind = Cell::Text;
                c.text = QByteArrayView(t ? t : "", sqlite3_value_bytes(v));
            }
            }
        }
        return true;
    }
    const Cell &at(int column) const override { return m_cells[size_t(column)]; }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    QList<QByteArray> m_params; // bound in place: kept for the statement's life
    std::vector<Cell> m_cells;
    bool m_done = false;
};

class LiteSnapshot final : public Snapshot {
public:
    explicit LiteSnapshot(sqlite3 *db) : m_db(db) {}
    ~LiteSnapshot() override
    {
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Status exec(const char *sql)
    {
        char *message = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
            return okStatus();
        const QString why = QString::fromUtf8(message ? message : sqlite3_errmsg(m_db));
        sqlite3_free(message);
        return Status::fail(why);
    }
    Status start()
    {
        const Status begun = exec("BEGIN");
        m_open = begun.ok();
        return begun;
    }
    Result<std::unique_ptr<Cursor>> open(const QString &sql, const QList<QByteArray> &params, int columns) override
    {
        auto c = std::make_unique<LiteCursor>(m_db, sql, params, columns);
        if (!c->ok())
            return Failure{c->error(), {}, {}};
        return std::unique_ptr<Cursor>(std::move(c));
    }
    Status finish() override
    {
        m_open = false;
        return exec("COMMIT");
    }
    bool postgres() const override { return false; }

private:
    sqlite3 *m_db;
    bool m_open = false;
};

// ---- PostgreSQL ---------------------------------------------------------------------------------

QString pgError(PGconn *conn, PGresult *res)
{
    const char *m = res ? PQresultErrorMessage(res) : nullptr;
    return QString::fromUtf8(m && *m ? m : PQerrorMessage(conn)).trimmed();
}

// `?` placeholders as PostgreSQL's numbered ones (the statements are the system's own text).
QByteArray numbered(const QString &sql)
{
    QByteArray out;
    int n = 0;
    for (const QChar c : sql) {
        if (c == u'?')
            out += '$' + QByteArray::number(++n);
        else
            out += QString(c).toUtf8();
    }
    return out;
}

class PgCursor final : public Cursor {
public:
    // A batch is a few thousand rows: enough that a fetch costs little per row, small enough that
    // seven cursors side by side hold a few MiB.
    static constexpr int kBatch = 4096;

    PgCursor(PGconn *conn, int serial, const QString &sql, const QList<QByteArray> &params, int columns)
        : m_conn(conn), m_name("imp_exportacao_" + QByteArray::number(serial)), m_cells(size_t(columns))
    {
        const QByteArray declare = "DECLARE " + m_name + " NO SCROLL CURSOR FOR " + numbered(sql);
        std::vector<const char *> values;
        std::vector<int> lengths;
        for (const QByteArray &p : params) {
            values.push_back(p.constData());
            lengths.push_back(int(p.size()));
        }
        PGresult *res = PQexecParams(conn, declare.constData(), int(values.size()), nullptr, values.data(),
                                     lengths.data(), nullptr, 0);
        if (PQresultStatus(res) != PGRES_COMMAND_OK)
            m_error = pgError(conn, res);
        else
            m_declared = true;
        PQclear(res);
        m_fetch = "FETCH FORWARD " + QByteArray::number(kBatch) + " FROM " + m_name;
    }
    ~PgCursor() override { PQclear(m_res); }
    bool ok() const { return m_declared; }

    bool next() override
    {
        if (!m_declared || m_done)
            return false;
        if (++m_row >= m_rows) {
            PQclear(m_res);
            m_res = PQexec(m_conn, m_fetch.constData());
            if (PQresultStatus(m_res) != PGRES_TUPLES_OK) {
                m_error = pgError(m_conn, m_res);
                m_done = true;
                return false;
            }
            m_rows = PQntuples(m_res);
            m_row = 0;
            if (m_rows == 0) {
                m_done = true;
                return false;
            }
        }
        for (int i = 0; i < int(m_cells.size()); ++i) {
            Cell &c = m_cells[size_t(i)];
            if (PQgetisnull(m_res, m_row, i)) {
                c.kind = Cell::Null;
            } else {
                c.kind = Cell::Text;
                c.text = QByteArrayView(PQgetvalue(m_res, m_row, i), PQgetlength(m_res, m_row, i));
            }
        }
        return true;
    }
    const Cell &at(int column) const override { return m_cells[size_t(column)]; }

private:
    PGconn *m_conn;
    QByteArray m_name;
    QByteArray m_fetch;
    std::vector<Cell> m_cells;
    PGresult *m_res = nullptr;
    int m_rows = 0;
    int m_row = -1;
    bool m_declared = false;
    bool m_done = false;
};

class PgSnapshot final : public Snapshot {
public:
    explicit PgSnapshot(PGconn *conn) : m_conn(conn) {}
    ~PgSnapshot() override
    {
        if (m_open)
            PQclear(PQexec(m_conn, "ROLLBACK"));
    }
    Status exec(const char *sql)
    {
        PGresult *res = PQexec(m_conn, sql);
        const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
        const QString why = ok ? QString() : pgError(m_conn, res);
        PQclear(res);
        return ok ? okStatus() : Status::fail(why);
    }
    Status start()
    {
        // Every table as of one moment, and nothing this connection could write by mistake.
        const Status begun = exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
        m_open = begun.ok();
        return begun;
    }
    Result<std::unique_ptr<Cursor>> open(const QString &sql, const QList<QByteArray> &params, int columns) override
    {
        auto c = std::make_unique<PgCursor>(m_conn, ++m_serial, sql, params, columns);
        if (!c->ok())
            return Failure{c->error(), {}, {}};
        return std::unique_ptr<Cursor>(std::move(c));
    }
    Status finish() override
    {
        m_open = false;
        return exec("COMMIT");
    }
    bool postgres() const override { return true; }

private:
    PGconn *m_conn;
    int m_serial = 0;
    bool m_open = false;
};

} // namespace

Result<std::unique_ptr<Snapshot>> Snapshot::begin(QSqlDatabase db)
{
    if (Database::kindOf(db) == DbKind::PostgreSQL) {
        PGconn *conn = pgHandle(db);
        if (!conn)
            return Failure{QStringLiteral("conexão PostgreSQL indisponível"), {}, {}};
        auto s = std::make_unique<PgSnapshot>(conn);
        if (Status begun = s->start(); !begun)
            return begun.failure();
        return std::unique_ptr<Snapshot>(std::move(s));
    }
    sqlite3 *h = sqliteHandle(db);
    if (!h)
        return Failure{QStringLiteral("conexão SQLite indisponível"), {}, {}};
    auto s = std::make_unique<LiteSnapshot>(h);
    if (Status begun = s->start(); !begun)
        return begun.failure();
    return std::unique_ptr<Snapshot>(std::move(s));
}

} // namespace ExportRead
