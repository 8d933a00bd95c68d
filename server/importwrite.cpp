// Importacao's writes, inside the transaction: the dishes, then each recipe table's rows of the
// written dishes, replaced or upserted, through the row writers of both databases.
#include "importacao_p.h"
#include "undostore.h"

#include <cmath>
#include <cstring>
#include <numeric>

namespace RdmMethods::importacao_detail {

QList<int> Import::writtenColumns(const Packet &p, bool perBranch) const
{
    QList<int> cols;
    for (int c = 0; c < p.def->columns.size(); ++c) {
        if (p.source.at(c) >= 0 || (perBranch && p.def->columns.at(c).name == QLatin1String("CDFILIAL")))
            cols << c;
    }
    return cols;
}

QList<Import::Column> Import::plan(const Packet &p, const QList<int> &columns, bool perBranch) const
{
    QList<Column> out;
    for (int c : columns) {
        const FieldDef &f = p.def->columns.at(c);
        Column col;
        col.name = f.name;
        col.src = p.source.at(c);
        col.kind = f.kind;
        col.width = f.width;
        col.key = p.def->key.contains(f.name);
        col.branch = perBranch && f.name == QLatin1String("CDFILIAL");
        col.sameKind = col.src >= 0 && p.kind(col.src) == f.kind;
        if (f.kind == FieldKind::Number && f.precision > 0)
            col.limit = std::pow(10.0, f.precision - f.scale);
        out << col;
    }
    return out;
}

// "yyyy-MM-dd HH:mm:ss" without going through QDateTime::toString's format parser, which would
// cost more than the rest of the row together.
static QByteArray stamp(const QDateTime &d)
{
    const QDate day = d.date();
    const QTime t = d.time();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", day.year(), day.month(), day.day(), t.hour(),
                  t.minute(), t.second());
    return QByteArray(buf, 19);
}

// The same text of a date-time cell's milliseconds since 1970 (UTC), for the years 1 to 9999,
// without a QDateTime: the civil date from the days (Howard Hinnant's days_from_civil, inverted),
// which for those years is QDate's proleptic Gregorian calendar. False outside them.
static bool stamp(qint64 msecs, char (&out)[19])
{
    constexpr qint64 kDay = 86400000;
    qint64 days = msecs / kDay;
    qint64 inDay = msecs % kDay;
    if (inDay < 0) {
        inDay += kDay;
        --days;
    }
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 day = doy - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 1 || year > 9999)
        return false;
    const qint64 seconds = inDay / 1000;
    const auto two = [&](int at, qint64 v) {
        out[at] = char('0' + v / 10);
        out[at + 1] = char('0' + v % 10);
    };
    two(0, year / 100);
    two(2, year % 100);
    out[4] = '-';
    two(5, month);
    out[7] = '-';
    two(8, day);
    out[10] = ' ';
    two(11, seconds / 3600);
    out[13] = ':';
    two(14, seconds / 60 % 60);
    out[16] = ':';
    two(17, seconds % 60);
    return true;
}


int Import::dishRowOf(const Packet &p, int row) const
{
    if (&p == &m_prato)
        return row;
    if (row < 0 || size_t(row) >= p.dish.size() || p.dish[size_t(row)] < 0)
        return -1;
    return m_dishRows.value(p.dish[size_t(row)], -1);
}

Failure Import::refusedRow(const Packet &p, Failure f, int row) const
{
    if (row < 0)
        return f;
    f.message += u' ' + Msg(QStringLiteral("Imp_LinhaRecusada")).arg(p.text(row, p.col(u"CDPRATO")), p.label).arg(row + 1);
    f.dishRow = dishRowOf(p, row);
    return f;
}

// A value the destination cannot take refuses the import with the dish named, before the database
// would refuse it without naming anything.
Status Import::refusedValue(const Packet &p, int row, QString message, QString key) const
{
    Failure f{std::move(message), std::move(key), {}};
    f.dishRow = dishRowOf(p, row);
    return Status::fail(std::move(f));
}

Status Import::checkedNumber(const Packet &p, int row, const Column &c, double v) const
{
    if (c.limit <= 0 || std::fabs(v) < c.limit)
        return okStatus();
    return refusedValue(p, row,
                        Msg(QStringLiteral("Imp_ValorGrande"))
                            .arg(p.text(row, p.col(u"CDPRATO")), p.label, QString::number(v, 'f', 6), c.name)
                            .arg(row + 1),
                        QStringLiteral("Imp_ValorGrande"));
}

Status Import::checkedText(const Packet &p, int row, const Column &c, Cell &cell) const
{
    // Codes are compared trimmed everywhere; keep them so in the database.
    if (c.key)
        cell.text = trimmedUtf8(cell.text, cell.trimmed);
    // A width counts characters, and UTF-8 never takes fewer bytes than UTF-16 units.
    if (c.width > 0 && cell.text.size() > c.width && DataPacket::utf16Length(cell.text) > c.width)
        return refusedValue(p, row,
                            QStringLiteral("O valor \"%1\" da coluna %2 de %3 passa de %4 caracteres "
                                           "(linha %5 do pacote).")
                                .arg(DataPacket::fromUtf8(cell.text).left(60), c.name, p.label)
                                .arg(c.width)
                                .arg(row + 1));
    // PostgreSQL cannot store a NUL in a text, and would refuse the whole copy without naming
    // the dish; SQLite would keep a value no other program reads back whole.
    if (cell.text.contains('\0'))
        return refusedValue(p, row,
                            Msg(QStringLiteral("Imp_CaractereNulo"))
                                .arg(p.text(row, p.col(u"CDPRATO")), p.label, c.name)
                                .arg(row + 1),
                            QStringLiteral("Imp_CaractereNulo"));
    cell.kind = cell.text.isEmpty() ? Cell::Null : Cell::Text;
    return okStatus();
}

Status Import::rowValues(const Packet &p, int row, const QList<Column> &plan, Cells &out) const
{
    const DataPacket::PacketRow &values = p.at(row);
    out.resize(size_t(plan.size()));
    for (qsizetype i = 0; i < plan.size(); ++i) {
        const Column &c = plan.at(i);
        Cell &cell = out[size_t(i)];
        cell.kind = Cell::Null;
        cell.text = QByteArrayView();
        if (c.branch) {
            cell.kind = Cell::Text;
            cell.text = m_branchUtf8;
            continue;
        }
        if (c.src < 0 || values.isNull(c.src))
            continue;
        if (c.sameKind && c.kind == FieldKind::Number) {
            cell.kind = Cell::Number;
            cell.number = values.number(c.src);
            if (Status s = checkedNumber(p, row, c, cell.number); !s)
                return s;
            continue;
        }
        if (c.sameKind && c.kind == FieldKind::DateTime) {
            // A cell that reads as 0 may be 1970's first millisecond or no date-time at all: the
            // packet's row tells.
            char text[19];
            if (const qint64 ms = values.integer(c.src); ms != 0 && stamp(ms, text)) {
                cell.kind = Cell::Text;
                cell.own.resize(19);
                std::memcpy(cell.own.data(), text, 19);
                cell.text = cell.own;
                continue;
            }
            const QDateTime d = values.dateTime(c.src);
            if (d.isValid()) {
                cell.kind = Cell::Text;
                cell.setOwn(stamp(d));
            }
            continue;
        }
        if (c.sameKind && c.kind == FieldKind::Text) {
            cell.text = values.utf8(c.src);
        } else {
            const Result<QVariant> converted = Catalogue::toSql(values.value(c.src), c.kind);
            if (!converted)
                return refusedValue(p, row, QStringLiteral("Valor inválido na coluna %1 de %2 (linha %3 do pacote).")
                                                .arg(c.name, p.label)
                                                .arg(row + 1));
            const QVariant &v = converted.value();
            if (v.isNull())
                continue;
            if (c.kind == FieldKind::Number || c.kind == FieldKind::Integer || c.kind == FieldKind::Boolean) {
                cell.kind = Cell::Number;
                cell.number = v.toDouble();
                if (Status s = checkedNumber(p, row, c, cell.number); !s)
                    return s;
                continue;
            }
            cell.setOwn(v.toString().toUtf8());
        }
        if (Status s = checkedText(p, row, c, cell); !s)
            return s;
    }
    return okStatus();
}

// Writes the given rows of a packet (a negative index is skipped) through a writer that updates the
// destination's row of a dish it already holds; returns how many rows were written.
Result<int> Import::writeRows(Packet &p, std::span<const int> rows, bool perBranch)
{
    const QList<int> cols = writtenColumns(p, perBranch);
    const QList<Column> columns = plan(p, cols, perBranch);
    auto existing = holdsWrittenDishes(p.def->name, perBranch);
    if (!existing)
        return Result<int>::fail(existing.failure());
    auto writer = makeWriter(m_db, *p.def, cols, true, existing.value());
    // The k-th of `rows` belongs to the k-th written dish; they are sent in dishOrder().
    const std::vector<int> order = dishOrder();
    // The packet row of the writer's k-th row, for a refusal that names it.
    const auto nth = [&](int k) {
        for (int dish : order)
            if (rows[size_t(dish)] >= 0 && k-- == 0)
                return rows[size_t(dish)];
        return -1;
    };
    const int kept = m_before ? UndoStore::indexOf(p.def->name) : -1;
    Cells values;
    for (int dish : order) {
        const int r = rows[size_t(dish)];
        if (r < 0)
            continue;
        if (Status s = rowValues(p, r, columns, values); !s)
            return Result<int>::fail(s.failure());
        if (kept >= 0)
            m_before->add(kept, int(dish), values);
        if (Status s = writer->add(values); !s)
            return Result<int>::fail(refusedRow(p, s.failure(), nth(writer->failedRow())));
    }
    if (Status s = writer->finish(); !s)
        return Result<int>::fail(refusedRow(p, s.failure(), nth(writer->failedRow())));
    return writer->written();
}

Status Import::writeDishes()
{
    if (m_dishRows.isEmpty()) {
        // Nothing to write, and a packet without rows may not even have columns to name.
        m_summary.rowsPerTable.append({m_prato.label, 0});
        return okStatus();
    }
    const auto written = writeRows(m_prato, std::span<const int>(m_dishRows.constData(), size_t(m_dishRows.size())), false);
    if (!written)
        return Status::fail(written.failure());
    m_summary.dishesWritten = written.value();
    m_summary.rowsPerTable.append({m_prato.label, written.value()});
    return okStatus();
}

Status Import::deleteRecipes(const QString &table, bool perBranch)
{
    const auto failed = [&](const QString &why, const QString &code = {}) {
        return Status::fail(DbError::describe(QStringLiteral("substituir as linhas de %1").arg(table), code, why));
    };
    if (Database::kindOf(m_db) != DbKind::PostgreSQL) {
        // One statement per table, as on PostgreSQL, rather than one per dish and table.
        if (Status s = sqliteKeys(); !s)
            return failed(s.error(), s.failure().key);
        SqliteStatement del(m_db, QStringLiteral("DELETE FROM %1 WHERE %2(CDFILAUXPRAT, CDPRATO) IN "
                                                 "(SELECT CDFILAUXPRAT, CDPRATO FROM temp.IMP_KEYS)")
                                      .arg(table, perBranch ? QStringLiteral("CDFILIAL = ? AND ") : QString()));
        if (!del.ok())
            return failed(del.error());
        if (perBranch)
            del.bind(1, m_branch);
        if (!del.step())
            return failed(del.error());
        return okStatus();
    }

    // PostgreSQL: one statement per table, joined to the written dishes' keys (preparePg).
    PGconn *conn = pgHandle(m_db);
    const QByteArray sql = QStringLiteral("DELETE FROM %1 USING IMP_KEYS K WHERE %1.CDFILAUXPRAT = K.CDFILAUXPRAT "
                                          "AND %1.CDPRATO = K.CDPRATO%2")
                               .arg(table, perBranch ? QStringLiteral(" AND %1.CDFILIAL = $1").arg(table) : QString())
                               .toUtf8();
    const QByteArray branch = m_branch.toUtf8();
    const char *params[1] = {branch.constData()};
    PGresult *res = PQexecParams(conn, sql.constData(), perBranch ? 1 : 0, nullptr, perBranch ? params : nullptr,
                                 nullptr, nullptr, 0);
    const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
    const QString error = QString::fromUtf8(PQresultErrorMessage(res)).trimmed();
    const QString code = QString::fromLatin1(PQresultErrorField(res, PG_DIAG_SQLSTATE));
    PQclear(res);
    return ok ? okStatus() : failed(error, code);
}

Status Import::sqliteKeys()
{
    if (m_sqliteKeys)
        return okStatus();
    for (const char *sql : {"CREATE TEMP TABLE IF NOT EXISTS IMP_KEYS (CDFILAUXPRAT TEXT NOT NULL, CDPRATO TEXT NOT NULL, "
                            "IDTABELAS INTEGER NOT NULL, PRIMARY KEY (CDFILAUXPRAT, CDPRATO)) WITHOUT ROWID",
                            "DELETE FROM temp.IMP_KEYS"}) {
        SqliteStatement s(m_db, QString::fromLatin1(sql));
        if (!s.ok() || !s.step())
            return Status::fail(s.error());
    }
    SqliteWriter add(m_db, QStringLiteral("temp.IMP_KEYS"), QStringLiteral("CDFILAUXPRAT, CDPRATO, IDTABELAS"), 3);
    Cells key(3);
    key[0].kind = key[1].kind = Cell::Text;
    key[2].kind = Cell::Number;
    for (int d : dishOrder()) {
        key[0].text = dishAux(d);
        key[1].text = dishPrato(d);
        key[2].number = m_touched.at(size_t(d));
        if (Status s = add.add(key); !s)
            return Status::fail(s.error());
    }
    if (Status s = add.finish(); !s)
        return Status::fail(s.error());
    m_sqliteKeys = true;
    return okStatus();
}

Status Import::preparePg()
{
    PGconn *conn = pgHandle(m_db);
    const auto failed = [&](const QString &why, const QString &code = {}) {
        return Status::fail(DbError::describe(QStringLiteral("preparar a gravação"), code, why));
    };
    if (!conn)
        return failed(QStringLiteral("conexão PostgreSQL indisponível"));
    // Writers elsewhere wait for the import; readers do not. Without this, a dish another session
    // inserted between the check below and the copy would turn a copy into a key violation.
    if (Status s = pgExec(conn, QStringLiteral("LOCK TABLE PRATO, RECEPADR, RECEFILI, RECESERV, PRATPADR, PRATFILI "
                                               "IN SHARE ROW EXCLUSIVE MODE"));
        !s)
        return failed(s.error(), s.failure().key);
    if (Status s = pgExec(conn, QStringLiteral("CREATE TEMPORARY TABLE IMP_KEYS (CDFILAUXPRAT VARCHAR(4), "
                                               "CDPRATO VARCHAR(10), IDTABELAS SMALLINT) ON COMMIT DROP"));
        !s)
        return failed(s.error(), s.failure().key);
    PgCopy copy(conn, QStringLiteral("COPY IMP_KEYS (CDFILAUXPRAT, CDPRATO, IDTABELAS) FROM STDIN"));
    if (!copy.begin())
        return failed(copy.error(), copy.code());
    Cells key(3);
    key[0].kind = key[1].kind = Cell::Text;
    key[2].kind = Cell::Number;
    // Each dish's key, kept for the sort below, side by side in one buffer: a separator below any
    // character of a code.
    QByteArray keys;
    std::vector<qsizetype> at(size_t(m_dishRows.size()) + 1, 0);
    for (qsizetype d = 0; d < m_dishRows.size(); ++d) {
        key[0].text = dishAux(int(d));
        key[1].text = dishPrato(int(d));
        key[2].number = m_touched.at(size_t(d));
        keys.append(key[0].text).append('\0').append(key[1].text);
        at[size_t(d) + 1] = keys.size();
        if (!copy.add(key)) {
            copy.abort();
            return failed(copy.error(), copy.code());
        }
    }
    // Sorted here while the database takes the keys in and counts them.
    auto sorted = std::async(std::launch::async, [&] {
        const auto view = [&](int d) { return QByteArrayView(keys.constData() + at[size_t(d)], at[size_t(d) + 1] - at[size_t(d)]); };
        m_keyOrder.resize(size_t(m_dishRows.size()));
        std::iota(m_keyOrder.begin(), m_keyOrder.end(), 0);
        std::sort(m_keyOrder.begin(), m_keyOrder.end(), [&](int a, int b) { return view(a) < view(b); });
    });
    Status s = copy.end() ? okStatus() : failed(copy.error(), copy.code());
    if (s) {
        // The joins to the key table are planned on its size and its keys' spread, which a sample
        // of 3,000 rows tells as well as the default's 30,000, for a fraction of the time.
        s = pgExec(conn, QStringLiteral("ALTER TABLE IMP_KEYS ALTER CDFILAUXPRAT SET STATISTICS 10, ALTER CDPRATO SET "
                                        "STATISTICS 10, ALTER IDTABELAS SET STATISTICS 10; ANALYZE IMP_KEYS"));
        if (!s)
            s = failed(s.error(), s.failure().key);
    }
    sorted.get();
    if (!s)
        m_keyOrder.clear();
    return s;
}

Result<bool> Import::holdsWrittenDishes(const QString &table, bool perBranch)
{
    if (Database::kindOf(m_db) != DbKind::PostgreSQL) {
        // SQLite has no key table to join: a table without any row of the destination (the usual
        // case of a first import) is told apart cheaply, anything else counts as holding them.
        SqliteStatement any(m_db, QStringLiteral("SELECT 1 FROM %1%2 LIMIT 1")
                                      .arg(table, perBranch ? QStringLiteral(" WHERE CDFILIAL = ?") : QString()));
        if (!any.ok())
            return Result<bool>::fail(DbError::describe(QStringLiteral("ler %1").arg(table), {}, any.error()));
        if (perBranch)
            any.bind(1, m_branch);
        bool found = false;
        if (!any.step(&found))
            return Result<bool>::fail(DbError::describe(QStringLiteral("ler %1").arg(table), {}, any.error()));
        return found;
    }
    // What the before-image kept of the table just now is the destination's rows of the dishes
    // written into it: the rows that the writes would meet.
    if (m_before) {
        if (const int kept = m_before->kept(UndoStore::indexOf(table)); kept >= 0)
            return kept > 0;
    }
    PGconn *conn = pgHandle(m_db);
    const QByteArray sql = QStringLiteral("SELECT 1 FROM %1 T JOIN IMP_KEYS K ON T.CDFILAUXPRAT = K.CDFILAUXPRAT "
                                          "AND T.CDPRATO = K.CDPRATO%2 LIMIT 1")
                               .arg(table, perBranch ? QStringLiteral(" AND T.CDFILIAL = $1") : QString())
                               .toUtf8();
    const QByteArray branch = m_branch.toUtf8();
    const char *params[1] = {branch.constData()};
    PGresult *res = PQexecParams(conn, sql.constData(), perBranch ? 1 : 0, nullptr, perBranch ? params : nullptr,
                                 nullptr, nullptr, 0);
    const bool ok = PQresultStatus(res) == PGRES_TUPLES_OK;
    const bool found = ok && PQntuples(res) > 0;
    const QString error = QString::fromUtf8(PQresultErrorMessage(res)).trimmed();
    const QString code = QString::fromLatin1(PQresultErrorField(res, PG_DIAG_SQLSTATE));
    PQclear(res);
    if (!ok)
        return Result<bool>::fail(DbError::describe(QStringLiteral("ler %1").arg(table), code, error));
    return found;
}

// The packet's rows of the dishes being written, in packet order, inserted after the dishes'
// recipes at the destination are gone.
Status Import::writeDishRows(Packet &p, bool perBranch)
{
    if (p.rowCount() == 0 || m_dishRows.isEmpty()) {
        m_summary.rowsPerTable.append({p.label, 0});
        return okStatus();
    }
    const QList<int> cols = writtenColumns(p, perBranch);
    const QList<Column> columns = plan(p, cols, perBranch);
    auto writer = makeWriter(m_db, *p.def, cols, false);
    // A row of a dish that is not written is not looked at any further.
    const std::vector<int> sent = rowsInDishOrder(p);
    // The packet row of the writer's k-th row, for a refusal that names it.
    const auto nth = [&](int k) { return k >= 0 && size_t(k) < sent.size() ? sent[size_t(k)] : -1; };
    const int kept = m_before ? UndoStore::indexOf(p.def->name) : -1;
    Cells values;
    for (int r : sent) {
        if (Status s = rowValues(p, r, columns, values); !s)
            return s;
        if (kept >= 0)
            m_before->add(kept, p.dish[size_t(r)], values);
        if (Status s = writer->add(values); !s)
            return Status::fail(refusedRow(p, s.failure(), nth(writer->failedRow())));
    }
    if (Status s = writer->finish(); !s)
        return Status::fail(refusedRow(p, s.failure(), nth(writer->failedRow())));
    m_summary.rowsPerTable.append({p.label, writer->written()});
    return okStatus();
}

std::vector<int> Import::keyOrder() const
{
    // Each dish's key compares as the databases order (CDFILAUXPRAT, CDPRATO), byte by byte.
    std::vector<int> order(size_t(m_dishRows.size()));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const QByteArrayView aa = dishAux(a), ab = dishAux(b);
        return aa != ab ? aa < ab : dishPrato(a) < dishPrato(b);
    });
    return order;
}

std::vector<int> Import::dishOrder() const
{
    if (!m_keyOrder.empty())
        return m_keyOrder;
    std::vector<int> order(size_t(m_dishRows.size()));
    std::iota(order.begin(), order.end(), 0);
    return order;
}

std::vector<int> Import::rowsInDishOrder(const Packet &p) const
{
    const int rows = p.rowCount();
    if (m_keyOrder.empty()) {
        std::vector<int> out;
        for (int r = 0; r < rows; ++r)
            if (p.dish[size_t(r)] >= 0)
                out.push_back(r);
        return out;
    }
    // Counted per dish, then each dish's rows placed after those of the dishes sent before it.
    std::vector<int> start(size_t(m_dishRows.size()) + 1, 0);
    for (int r = 0; r < rows; ++r)
        if (const int d = p.dish[size_t(r)]; d >= 0)
            ++start[size_t(d) + 1];
    std::vector<int> first(size_t(m_dishRows.size()), 0);
    int at = 0;
    for (int d : m_keyOrder) {
        first[size_t(d)] = at;
        at += start[size_t(d) + 1];
    }
    std::vector<int> out(static_cast<size_t>(at));
    for (int r = 0; r < rows; ++r)
        if (const int d = p.dish[size_t(r)]; d >= 0)
            out[size_t(first[size_t(d)]++)] = r;
    return out;
}

Status Import::replaceRecipe(Packet &p, bool perBranch)
{
    // The dish's recipe at the destination gives way to the file's, even where the file's is empty.
    auto holds = holdsWrittenDishes(p.def->name, perBranch);
    if (!holds)
        return Status::fail(holds.failure());
    if (holds.value()) {
        if (Status s = deleteRecipes(p.def->name, perBranch); !s)
            return s;
    }
    return writeDishRows(p, perBranch);
}

Status Import::upsertPerDish(Packet &p, bool perBranch)
{
    // One row per dish (the branch is the destination's whatever the row says): a dish repeated
    // in the packet is written once, with its last row, on either database.
    std::vector<int> last(size_t(m_dishRows.size()), -1);
    for (int r = 0; r < p.rowCount(); ++r) {
        if (const int d = p.dish[size_t(r)]; d >= 0)
            last[size_t(d)] = r;
    }
    if (p.rowCount() == 0 || m_dishRows.isEmpty()) {
        m_summary.rowsPerTable.append({p.label, 0});
        return okStatus();
    }
    const auto written = writeRows(p, last, perBranch);
    if (!written)
        return Status::fail(written.failure());
    m_summary.rowsPerTable.append({p.label, written.value()});
    return okStatus();
}

} // namespace RdmMethods::importacao_detail
