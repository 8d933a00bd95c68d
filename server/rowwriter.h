#pragma once
// How Importacao's rows reach the database: one row as the values written (`Cell`), and a writer
// per table fed through each database's own client interface on the connection Qt opened. Only
// Importacao's own sources include this (through importacao_p.h).
#include "database.h"
#include "dberror.h"
#include "driverhandle.h"
#include "rdmimpoprato.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSqlDriver>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <memory>
#include <vector>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace RdmMethods::Rows {

// One value of a row as written: null, text or number (date-times travel as text).
// Text is UTF-8, as both databases take it, and a view: into the packet's bytes where the value is
// taken as it stands, into `own` where it was made for the row (a date, a converted value), into
// `trimmed` where trimming needed more than a shorter view, so a row costs no copy of its texts.
struct Cell {
    enum Kind : std::uint8_t { Null, Text, Number };
    Kind kind = Null;
    QByteArrayView text;
    QByteArray own;
    QByteArray trimmed;
    double number = 0;
    void setOwn(QByteArray s)
    {
        own = std::move(s);
        text = own;
    }
};
using Cells = std::vector<Cell>;

// How the rows of one table reach the database. Both databases are fed through their own client
// interfaces on the connection Qt opened, inside the transaction Qt began: QSqlQuery's per-value
// conversions would cost several times what the database spends on the rows.
// - SQLite: one prepared single-row statement, bound and stepped per row, as its bulk loader does.
// - PostgreSQL: COPY FROM STDIN, straight into the table for plain inserts, or into a temporary
//   table that one INSERT ... ON CONFLICT then merges for rows inserted or updated by key.
// No value is ever part of a statement's text.
class RowWriter {
public:
    virtual ~RowWriter() = default;
    virtual Status add(const Cells &row) = 0;
    virtual Status finish() = 0;
    int written() const { return m_written; }
    // After a failure: which of the rows given to add() the database refused (0 for the first),
    // when it said; -1 otherwise.
    int failedRow() const { return m_failedRow; }

protected:
    int m_written = 0;
    int m_failedRow = -1;
};

inline QString joinNames(const Catalogue::TableDef &def, const QList<int> &columns)
{
    QStringList cols;
    for (int c : columns)
        cols << def.columns.at(c).name;
    return cols.join(QLatin1Char(','));
}

inline QString upsertClause(const Catalogue::TableDef &def, const QList<int> &columns)
{
    QStringList sets;
    for (int c : columns) {
        const QString &n = def.columns.at(c).name;
        if (!def.key.contains(n))
            sets << QStringLiteral("%1 = excluded.%1").arg(n);
    }
    return QStringLiteral(" ON CONFLICT (%1) ").arg(def.key.join(QLatin1Char(',')))
        + (sets.isEmpty() ? QStringLiteral("DO NOTHING") : QStringLiteral("DO UPDATE SET ") + sets.join(QLatin1Char(',')));
}

// The native connections under the drivers, for the writers below.
using Database::pgHandle;
using Database::sqliteHandle;

// One prepared statement of the SQLite interface, stepped and reset per row.
class SqliteStatement {
public:
    SqliteStatement(const QSqlDatabase &db, const QString &sql) : m_db(sqliteHandle(db))
    {
        if (m_db) {
            const QByteArray text = sql.toUtf8();
            if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &m_stmt, nullptr) != SQLITE_OK)
                m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        } else {
            m_error = QStringLiteral("conexão SQLite indisponível");
        }
    }
    ~SqliteStatement() { sqlite3_finalize(m_stmt); }
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool ok() const { return m_stmt != nullptr; }
    QString error() const { return m_error; }

    // The text must stay alive until step(): SQLite reads it in place.
    void bind(int pos, QStringView text)
    {
        sqlite3_bind_text16(m_stmt, pos, text.utf16(), int(text.size() * 2), SQLITE_STATIC);
    }
    void bindUtf8(int pos, QByteArrayView text)
    {
        // A null pointer would bind NULL: an empty text is bound as one.
        sqlite3_bind_text(m_stmt, pos, text.isNull() ? "" : text.data(), int(text.size()), SQLITE_STATIC);
    }
    void bindInt64(int pos, qint64 v) { sqlite3_bind_int64(m_stmt, pos, v); }
    void bindDouble(int pos, double v) { sqlite3_bind_double(m_stmt, pos, v); }
    void bindNull(int pos) { sqlite3_bind_null(m_stmt, pos); }
    void bind(int pos, const Cell &c)
    {
        switch (c.kind) {
        case Cell::Null:
            sqlite3_bind_null(m_stmt, pos);
            break;
        case Cell::Number:
            sqlite3_bind_double(m_stmt, pos, c.number);
            break;
        case Cell::Text:
            bindUtf8(pos, c.text);
            break;
        }
    }

    // Runs the statement once; `gotRow` tells whether it yielded a row.
    bool step(bool *gotRow = nullptr)
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW)
            m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        if (gotRow)
            *gotRow = rc == SQLITE_ROW;
        sqlite3_reset(m_stmt);
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    QString m_error;
};

// SQLite: the rows go in statements of many rows each (`INSERT ... VALUES (...), (...)`), which
// spares the per-statement work (the transaction's checks, the cursors opened and closed) that one
// statement per row pays for every row; the last few rows go one statement each. A row's texts are
// copied as it is given (the caller's cells change from one row to the next) and bound where they
// lie when the statement runs. A statement of many rows that the database refuses was undone as a
// whole (its statement journal): its rows are then sent again one by one, so that the refusal
// names its row with the database's own words, as a row sent alone would be refused.
class SqliteWriter final : public RowWriter {
public:
    SqliteWriter(QSqlDatabase &db, const Catalogue::TableDef &def, const QList<int> &columns, bool upsert)
        : SqliteWriter(db, def.name, joinNames(def, columns), int(columns.size()),
                       upsert ? upsertClause(def, columns) : QString())
    {
    }
    // Plain inserts of `count` columns, named in `names` (comma-separated), into `table`.
    SqliteWriter(QSqlDatabase &db, const QString &table, const QString &names, int count, const QString &tail = {})
        : m_table(table), m_handle(sqliteHandle(db)), m_columns(size_t(count)),
          m_batch(std::clamp(kMaxParams / std::max(1, count), 1, kBatchRows)),
          m_one(db, statement(table, names, count, tail, 1)), m_many(db, statement(table, names, count, tail, m_batch))
    {
        m_cells.reserve(m_columns * size_t(m_batch));
    }

    Status add(const Cells &row) override
    {
        if (!m_one.ok() || !m_many.ok())
            return failed(m_one.ok() ? m_many : m_one);
        for (const Cell &c : row) {
            Held h{c.kind, c.number, 0, 0};
            if (c.kind == Cell::Text) {
                h.offset = m_texts.size();
                h.size = c.text.size();
                m_texts.append(c.text.data(), c.text.size());
            }
            m_cells.push_back(h);
        }
        return ++m_held == m_batch ? send() : okStatus();
    }
    Status finish() override
    {
        if (!m_one.ok() || !m_many.ok())
            return failed(m_one.ok() ? m_many : m_one);
        return send();
    }

private:
    static constexpr int kBatchRows = 64;
    static constexpr int kMaxParams = 999; // SQLite's least limit of parameters in one statement
    struct Held {
        Cell::Kind kind;
        double number;
        qsizetype offset; // text: where it starts in m_texts
        qsizetype size;
    };

    static QString statement(const QString &table, const QString &names, int count, const QString &tail, int rows)
    {
        const QString one = QLatin1Char('(') + QStringLiteral("?,").repeated(count).chopped(1) + QLatin1Char(')');
        return QStringLiteral("INSERT INTO %1 (%2) VALUES %3%4")
            .arg(table, names, (one + QLatin1Char(',')).repeated(rows).chopped(1), tail);
    }
    // Binds the held rows [first, first + rows) to `stmt` and runs it once.
    bool run(SqliteStatement &stmt, int first, int rows)
    {
        int pos = 1;
        for (size_t i = size_t(first) * m_columns; i < size_t(first + rows) * m_columns; ++i, ++pos) {
            const Held &h = m_cells[i];
            if (h.kind == Cell::Number)
                stmt.bindDouble(pos, h.number);
            else if (h.kind == Cell::Text)
                stmt.bindUtf8(pos, QByteArrayView(m_texts.constData() + h.offset, h.size));
            else
                stmt.bindNull(pos);
        }
        return stmt.step();
    }
    // Runs the rows held: the whole batch as one statement, or fewer rows one statement each.
    Status send()
    {
        const int held = std::exchange(m_held, 0);
        Status s = okStatus();
        if (held < m_batch) {
            s = sendOneByOne(held);
        } else if (!run(m_many, 0, held)) {
            // A refusal that ended the transaction itself leaves nothing to send again: it would
            // run outside of it. Otherwise a batch whose rows all go alone was refused as such.
            if (!sqlite3_get_autocommit(m_handle))
                s = sendOneByOne(held);
            if (s) {
                m_failedRow = m_written;
                s = failed(m_many);
            }
        }
        if (s)
            m_written += held;
        m_cells.clear();
        m_texts.truncate(0);
        return s;
    }
    Status sendOneByOne(int held)
    {
        for (int r = 0; r < held; ++r) {
            if (!run(m_one, r, 1)) {
                m_failedRow = m_written + r;
                return failed(m_one);
            }
        }
        return okStatus();
    }
    Status failed(const SqliteStatement &stmt) const
    {
        return Status::fail(DbError::describe(QStringLiteral("gravar %1").arg(m_table), {}, stmt.error()));
    }
    QString m_table;
    sqlite3 *m_handle;
    size_t m_columns;
    int m_batch;
    SqliteStatement m_one, m_many;
    std::vector<Held> m_cells; // the rows held, m_columns cells each
    QByteArray m_texts;        // their texts, one after the other
    int m_held = 0;
};

// COPY FROM STDIN in the text format: tab between values, \N for null, backslash escapes.
class PgCopy {
public:
    PgCopy(PGconn *conn, const QString &statement) : m_conn(conn), m_statement(statement.toUtf8()) {}
    ~PgCopy() { abort(); }

    // A copy left open (a value refused on this side) must be ended before anything else can run
    // on the connection, even the rollback.
    void abort()
    {
        if (m_open) {
            m_open = false;
            PQputCopyEnd(m_conn, "importação interrompida");
            drain();
        }
    }
    PgCopy(const PgCopy &) = delete;
    PgCopy &operator=(const PgCopy &) = delete;

    QString error() const { return m_error; }
    QString code() const { return m_code; } // the SQLSTATE of the server's refusal, when it gave one
    // The row of the copy (0 for the first) that the server named in the context of its refusal
    // ("COPY prato, line 3"); -1 when it named none.
    int failedLine() const
    {
        static const QRegularExpression copyLine(QStringLiteral("COPY [^,\\n]+, [^\\d\\n]*(\\d+)"));
        const QRegularExpressionMatch m = copyLine.match(m_context);
        bool ok = false;
        const int line = m.hasMatch() ? m.captured(1).toInt(&ok) : 0;
        return ok && line > 0 ? line - 1 : -1;
    }

    bool begin()
    {
        if (!m_conn) {
            m_error = QStringLiteral("conexão PostgreSQL indisponível");
            return false;
        }
        PGresult *res = PQexec(m_conn, m_statement.constData());
        const bool ok = PQresultStatus(res) == PGRES_COPY_IN;
        if (!ok)
            refused(res);
        PQclear(res);
        if (!ok)
            drain();
        m_open = ok;
        if (m_buffer.size() < kChunk + 4096)
            m_buffer.resize(kChunk + 4096);
        m_used = 0;
        return ok;
    }

    bool add(const Cells &row)
    {
        for (size_t i = 0; i < row.size(); ++i) {
            if (i)
                put('\t');
            const Cell &c = row[i];
            if (c.kind == Cell::Null) {
                put("\\N", 2);
            } else if (c.kind == Cell::Number) {
                appendNumber(c.number);
            } else {
                appendText(c.text);
            }
        }
        put('\n');
        return m_used < size_t(kChunk) || flush();
    }

    bool end()
    {
        if (!flush())
            return false;
        m_open = false;
        if (PQputCopyEnd(m_conn, nullptr) != 1) {
            m_error = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
            drain();
            return false;
        }
        PGresult *res = PQgetResult(m_conn);
        const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
        if (!ok)
            refused(res);
        PQclear(res);
        drain();
        return ok;
    }

private:
    static constexpr qsizetype kChunk = 1 << 20;

    void refused(const PGresult *res)
    {
        m_error = QString::fromUtf8(PQresultErrorMessage(res)).trimmed();
        m_code = QString::fromLatin1(PQresultErrorField(res, PG_DIAG_SQLSTATE));
        m_context = QString::fromUtf8(PQresultErrorField(res, PG_DIAG_CONTEXT));
    }

    // The rows go into a buffer of their own, written in place: QByteArray's appends cost more
    // than the values' bytes, a dozen times per row.
    void put(char ch)
    {
        if (m_used == m_buffer.size())
            m_buffer.resize(m_buffer.size() * 2 + 64);
        m_buffer[m_used++] = ch;
    }
    void put(const char *p, size_t n)
    {
        if (m_used + n > m_buffer.size())
            m_buffer.resize(std::max(m_buffer.size() * 2, m_used + n));
        std::memcpy(m_buffer.data() + m_used, p, n);
        m_used += n;
    }

    void appendNumber(double v)
    {
        // A whole number under 100,000 is its digits (which Qt's shortest form also gives below
        // 1e+05), without a text made for it.
        if (v == std::trunc(v) && std::fabs(v) < 1e5 && !(v == 0 && std::signbit(v))) {
            char digits[8];
            const auto end = std::to_chars(digits, digits + sizeof digits, qint64(v)).ptr;
            put(digits, size_t(end - digits));
            return;
        }
        // The shortest text that reads back as the same double: PostgreSQL then holds what SQLite
        // holds (15 digits would cut a quantity of 16 to 18 digits short).
        const QByteArray text = QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
        put(text.constData(), size_t(text.size()));
    }

    void appendText(QByteArrayView u)
    {
        bool plain = true;
        for (char ch : u)
            plain = plain && ch != '\\' && ch != '\t' && ch != '\n' && ch != '\r';
        if (plain) {
            put(u.data(), size_t(u.size()));
            return;
        }
        for (char ch : u) {
            switch (ch) {
            case '\\': put("\\\\", 2); break;
            case '\t': put("\\t", 2); break;
            case '\n': put("\\n", 2); break;
            case '\r': put("\\r", 2); break;
            default: put(ch);
            }
        }
    }

    bool flush()
    {
        if (m_used == 0)
            return true;
        if (PQputCopyData(m_conn, m_buffer.data(), int(m_used)) != 1) {
            m_error = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
            return false;
        }
        m_used = 0;
        return true;
    }

    void drain()
    {
        while (PGresult *r = PQgetResult(m_conn))
            PQclear(r);
    }

    PGconn *m_conn;
    QByteArray m_statement;
    std::vector<char> m_buffer;
    size_t m_used = 0; // bytes of m_buffer not sent yet
    QString m_error;
    QString m_code;
    QString m_context;
    bool m_open = false;
};

// Runs a statement without parameters on the PostgreSQL connection. A refusal is the server's
// words with its SQLSTATE as the key, for the caller to describe (DbError::describe).
inline Status pgExec(PGconn *conn, const QString &sql)
{
    PGresult *res = PQexec(conn, sql.toUtf8().constData());
    const ExecStatusType st = PQresultStatus(res);
    const QString error = QString::fromUtf8(PQresultErrorMessage(res)).trimmed();
    const QString code = QString::fromLatin1(PQresultErrorField(res, PG_DIAG_SQLSTATE));
    PQclear(res);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
        return Status::fail(error, code);
    return okStatus();
}

class PgWriter final : public RowWriter {
public:
    PgWriter(QSqlDatabase &db, const Catalogue::TableDef &def, const QList<int> &columns, bool upsert)
        : m_conn(pgHandle(db)), m_def(def), m_columns(columns), m_upsert(upsert),
          m_stage(QStringLiteral("IMP_STAGE_") + def.name),
          m_copy(m_conn, QStringLiteral("COPY %1 (%2) FROM STDIN").arg(upsert ? m_stage : def.name, joinNames(def, columns)))
    {
    }

    Status add(const Cells &row) override
    {
        if (!m_started) {
            m_started = true;
            if (m_upsert && m_conn) {
                // Dropped with the transaction, whichever way it ends.
                if (Status s = pgExec(m_conn, QStringLiteral("CREATE TEMPORARY TABLE %1 (LIKE %2) ON COMMIT DROP")
                                                  .arg(m_stage, m_def.name));
                    !s)
                    return failed(s.error(), s.failure().key);
            }
            if (!m_copy.begin())
                return failed(m_copy.error(), m_copy.code());
        }
        if (!m_copy.add(row))
            return failed(m_copy.error(), m_copy.code());
        ++m_written;
        return okStatus();
    }

    Status finish() override
    {
        if (!m_started)
            return okStatus();
        if (!m_copy.end()) {
            m_failedRow = m_copy.failedLine();
            return failed(m_copy.error(), m_copy.code());
        }
        if (m_upsert) {
            const QString cols = joinNames(m_def, m_columns);
            if (Status s = pgExec(m_conn, QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3%4")
                                              .arg(m_def.name, cols, m_stage, upsertClause(m_def, m_columns)));
                !s)
                return failed(s.error(), s.failure().key);
        }
        return okStatus();
    }

private:
    Status failed(const QString &why, const QString &code)
    {
        m_copy.abort();
        return Status::fail(DbError::describe(QStringLiteral("gravar %1").arg(m_def.name), code, why));
    }

    PGconn *m_conn;
    const Catalogue::TableDef &m_def;
    QList<int> m_columns;
    bool m_upsert;
    QString m_stage;
    PgCopy m_copy;
    bool m_started = false;
};

// `upsert`: rows are inserted or update the row with their key. On PostgreSQL, when the caller has
// found that no key of the rows exists yet (`mayConflict` false), they are copied straight in.
inline std::unique_ptr<RowWriter> makeWriter(QSqlDatabase &db, const Catalogue::TableDef &def, const QList<int> &columns,
                                             bool upsert, bool mayConflict = true)
{
    if (Database::kindOf(db) == DbKind::PostgreSQL)
        return std::make_unique<PgWriter>(db, def, columns, upsert && mayConflict);
    return std::make_unique<SqliteWriter>(db, def, columns, upsert && mayConflict);
}

} // namespace RdmMethods::Rows
