// Importacao: writes the dishes of an export file, with their recipes, into a destination branch.
//
// The call carries whole tables as the screen loaded them: dishes (with the screen's error flags),
// the standard, branch and service recipes, the destination services in use and the service map,
// three flags telling which recipe sections the file held, and the destination branch. Arguments
// are checked first and refused whole; then everything is written in one transaction, all or
// nothing:
// - a dish whose IDERRO holds a "1" is not written, nor is any row of its recipes;
// - every other dish is inserted, or updated by CDFILAUXPRAT+CDPRATO (a dish repeated in the
//   packet takes its last row);
// - for each written dish, its RECEPADR, RECEFILI and RECESERV rows at the destination are
//   replaced by the packet's rows when the file held that section, and left alone otherwise;
// - PRATPADR rows are inserted or updated by CDFILAUXPRAT+CDPRATO (one yield per dish), PRATFILI
//   rows by CDFILIAL+CDFILAUXPRAT+CDPRATO; of a dish's repeated rows only the last is written;
// - rows of the per-branch tables (RECEFILI, PRATFILI, RECESERV) are written for the destination
//   branch, whatever branch the packet row names (the screen has already put it there).
// PRATSERV rows do not travel with the call.
#include "interruption.h"
#include "rdmimpoprato.h"
#include "history.h"
#include "database.h"
#include "rowwriter.h"
#include "dberror.h"
#include "datapacket.h"
#include "memtable.h"
#include "messages.h"
#include "transactionguard.h"
#include "servicepairings.h"

#include <QHash>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace RdmMethods {

namespace {

using Payload = Result<QByteArray>;

struct Packet {
    QString label;
    MemTable table;
    const Catalogue::TableDef *def = nullptr;
    QList<int> source; // per catalogue column: its column in the packet, -1 when the packet lacks it
    // Per row, the written dish it belongs to (an index into Import's dish rows), -1 for a row of a
    // dish that is not written. Made once per packet (Import::mapRows) and read by every later step.
    std::vector<int> dish;

    int col(QStringView name) const { return table.isActive() ? table.fieldIndex(name) : -1; }
    int rows() const { return table.isActive() ? table.rowCount() : 0; }
    QString text(int row, int c) const { return c < 0 ? QString() : table.textAt(row, c).trimmed(); }
    // The same text without a copy when the packet holds the column as text; `scratch` holds it
    // otherwise.
    QStringView keyView(int row, int c, QString &scratch) const
    {
        if (c < 0)
            return {};
        if (table.field(c).kind == FieldKind::Text)
            return table.textViewAt(row, c).trimmed();
        scratch = text(row, c);
        return scratch;
    }
};

// Loads one packet argument and checks that it holds only the columns it may hold. An empty byte
// string is an empty table: the screen's service tables do not exist until their first row.
Status loadPacket(const QVariant &arg, Packet &p, const QStringList &allowed)
{
    if (!CallArg::isPacket(arg))
        return Status::fail(QStringLiteral("Importacao: o argumento de %1 não é um pacote de dados.").arg(p.label));
    const QByteArray bytes = arg.toByteArray();
    // Every catalogue column starts as missing, so an empty table is one without any column.
    p.source.clear();
    if (p.def)
        p.source.fill(-1, p.def->columns.size());
    if (bytes.isEmpty())
        return okStatus();
    if (Status s = DataPacket::load(p.table, bytes); !s)
        return Status::fail(QStringLiteral("Importacao: o pacote de %1 é inválido: %2").arg(p.label, s.error()));
    for (const FieldDef &f : p.table.fields()) {
        bool known = false;
        for (const QString &a : allowed)
            known = known || a.compare(f.name, Qt::CaseInsensitive) == 0;
        if (!known)
            return Status::fail(QStringLiteral("Importacao: o pacote de %1 tem a coluna %2, que não pertence a %1.")
                                    .arg(p.label, f.name));
    }
    if (p.def) {
        for (int c = 0; c < p.def->columns.size(); ++c)
            p.source[c] = p.table.fieldIndex(p.def->columns.at(c).name);
    }
    return okStatus();
}

QStringList names(const QList<FieldDef> &fields)
{
    QStringList out;
    for (const FieldDef &f : fields)
        out << f.name;
    return out;
}

Result<bool> flagArg(const QVariant &v, const char *name)
{
    // Automation booleans: -1 is true, 0 false; any other non-zero integer also counts as true.
    if (CallArg::isBool(v))
        return v.toBool();
    if (CallArg::isInteger(v))
        return v.toLongLong() != 0;
    return Result<bool>::fail(QStringLiteral("Importacao: o indicador %1 deve ser um inteiro (-1 ou 0).")
                                  .arg(QLatin1String(name)));
}

QString dishKey(const QString &aux, const QString &prato)
{
    return aux + QChar(0x1F) + prato;
}

using namespace Rows;

class Import {
public:
    Import(QSqlDatabase &db, ImportHistoryRecorder *history = nullptr) : m_db(db), m_history(history) {}

    Payload run(const CallArgs &args);

private:
    Status checkArguments(const CallArgs &args);
    Status checkBranchAndServices();
    Status selectDishes();
    // Fills p.dish: the written dish of each row, looked up once by its CDFILAUXPRAT and CDPRATO.
    void mapRows(Packet &p) const;
    Status checkRecipeKeys();
    Status writeDishes();
    Status replaceRecipe(Packet &p, bool perBranch);
    Status upsertPerDish(Packet &p, bool perBranch);
    // Columns written for a packet: the catalogue's columns it carries, and CDFILIAL always on a
    // per-branch table.
    QList<int> writtenColumns(const Packet &p, bool perBranch) const;
    struct Column {
        QString name;
        int src = -1;          // column in the packet
        FieldKind kind = FieldKind::Text;
        int width = 0;
        bool key = false;
        bool branch = false;   // written as the destination branch
        bool sameKind = false; // the packet holds it in the catalogue's kind
    };
    QList<Column> plan(const Packet &p, const QList<int> &columns, bool perBranch) const;
    Status rowValues(const Packet &p, int row, const QList<Column> &plan, Cells &out) const;
    // Removes the recipe rows of every dish written, at the destination branch when `perBranch`.
    Status deleteRecipes(const QString &table, bool perBranch);
    // SQLite: the written dishes' keys in the temporary table IMP_KEYS, made on first use and
    // dropped before the commit (a rollback takes it away too).
    Status sqliteKeys();
    // PostgreSQL: locks the tables written and puts the written dishes' keys into IMP_KEYS.
    Status preparePg();
    // Whether a table already holds a row of a dish written (PostgreSQL; always true on SQLite).
    Result<bool> holdsWrittenDishes(const QString &table, bool perBranch);
    Status writeDishRows(Packet &p, bool perBranch);
    // The tables in the order they are written, each after the one before it, in one transaction.
    Status writeTables();
    // Called after each table is written, inside the transaction: the summary holds the rows
    // written so far. A failure here rolls the whole import back.
    Status afterTable(const QString &table);
    // Called once the import's outcome is known: committed, or not written with `failure` (the
    // summary then holds what would have been written up to the failure). The dishes written and
    // refused are in the summary either way.
    void finished(bool committed, const Failure &failure);

    QSqlDatabase &m_db;
    TransactionGuard *m_tx = nullptr; // the import's transaction while it writes
    bool m_sqliteKeys = false;        // IMP_KEYS filled on SQLite
    Packet m_prato, m_recePadr, m_receFili, m_servDestino, m_receServ, m_pratPadr, m_pratFili, m_servico;
    bool m_temRecePadr = false, m_temReceFili = false, m_temReceServ = false;
    QString m_branch;
    QHash<QString, int> m_dishIndex; // key of each dish written: its index in m_dishRows
    QSet<QString> m_flagged;       // keys of the dishes refused for their flags
    QList<int> m_dishRows;         // packet rows of the dishes written (the last of each key), in order
    ImportSummary m_summary;
    ImportHistoryRecorder *m_history; // the call's history row (server/history.h)
};

Status Import::checkArguments(const CallArgs &args)
{
    const auto setup = [](Packet &p, const char *label, const char *table) {
        p.label = QString::fromLatin1(label);
        p.table.setName(p.label);
        p.def = table ? Catalogue::table(QString::fromLatin1(table)) : nullptr;
    };
    setup(m_prato, "PRATO", "PRATO");
    setup(m_recePadr, "RECEPADR", "RECEPADR");
    setup(m_receFili, "RECEFILI", "RECEFILI");
    setup(m_servDestino, "SERVDESTINO", nullptr);
    setup(m_receServ, "RECESERV", "RECESERV");
    setup(m_pratPadr, "PRATPADR", "PRATPADR");
    setup(m_pratFili, "PRATFILI", "PRATFILI");
    setup(m_servico, "SERVICO", nullptr);

    const QStringList servDestinoCols{QStringLiteral("CDSERVFILI"), QStringLiteral("NMSERVICO")};
    const QStringList servicoCols{QStringLiteral("CDSERVFILIORIG"), QStringLiteral("CDSERVFILIDEST"),
                                  QStringLiteral("NMSERVICOORIG"), QStringLiteral("NMSERVICODEST")};
    Packet *order[] = {&m_prato, &m_recePadr, &m_receFili, &m_servDestino,
                       &m_receServ, &m_pratPadr, &m_pratFili, &m_servico};
    // Decoding the packets is a good part of a large import; each goes into its own table, so
    // they are decoded side by side. The first failure in argument order is the one reported.
    std::vector<std::future<Status>> loads;
    for (int i = 0; i < 8; ++i) {
        Packet &p = *order[i];
        QStringList allowed;
        if (p.def)
            allowed = names(Catalogue::packetFields(*p.def));
        else
            allowed = &p == &m_servDestino ? servDestinoCols : servicoCols;
        const QVariant arg = args.at(i);
        loads.push_back(std::async(std::launch::async, [arg, &p, allowed] {
            try {
                return loadPacket(arg, p, allowed);
            } catch (const std::exception &e) {
                return Status::fail(QStringLiteral("Importacao: o pacote de %1 é inválido: %2")
                                        .arg(p.label, QString::fromUtf8(e.what())));
            }
        }));
    }
    Status first = okStatus();
    for (auto &f : loads) {
        Status s = f.get();
        if (first && !s)
            first = s;
    }
    if (!first)
        return first;

    auto f1 = flagArg(args.at(8), "TemRecePadr");
    auto f2 = flagArg(args.at(9), "TemReceFili");
    auto f3 = flagArg(args.at(10), "TemReceServ");
    for (const auto *f : {&f1, &f2, &f3}) {
        if (!*f)
            return Status::fail(f->error());
    }
    m_temRecePadr = f1.value();
    m_temReceFili = f2.value();
    m_temReceServ = f3.value();

    if (!CallArg::isText(args.at(11)))
        return Status::fail(QStringLiteral("Importacao: a filial destino deve ser um texto."));
    m_branch = args.at(11).toString().trimmed();
    if (m_branch.isEmpty())
        return Status::fail(QStringLiteral("Filial destino deve ser informada."));
    if (m_branch.size() > 4)
        return Status::fail(QStringLiteral("Filial destino inválida: %1.").arg(m_branch.left(20)));

    // Rows of the dish and recipe tables are tied to their dish by these two columns.
    // The rest of a table's key must travel too (the branch excepted: the destination's is written).
    for (Packet *p : {&m_prato, &m_recePadr, &m_receFili, &m_receServ, &m_pratPadr, &m_pratFili}) {
        if (p->rows() == 0)
            continue;
        QStringList required{QStringLiteral("CDFILAUXPRAT"), QStringLiteral("CDPRATO")};
        for (const QString &k : p->def->key) {
            if (!required.contains(k) && k != QLatin1String("CDFILIAL"))
                required << k;
        }
        for (const QString &c : std::as_const(required)) {
            if (p->col(c) < 0)
                return Status::fail(QStringLiteral("Importacao: o pacote de %1 não tem a coluna %2.").arg(p->label, c));
        }
    }
    return okStatus();
}

Status Import::checkBranchAndServices()
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT IDCNTRRESC FROM FILIAL WHERE CDFILIAL = ?"));
    q.bindValue(0, m_branch);
    if (!q.exec())
        return Status::fail(DbError::describe(QStringLiteral("ler a filial destino"), q.lastError()));
    if (!q.next())
        return Status::fail(QStringLiteral("Filial destino %1 não cadastrada.").arg(m_branch));
    if (q.value(0).toString().trimmed() == QLatin1String("S"))
        return Status::fail(QStringLiteral("Filial destino %1 com contrato rescindido.").arg(m_branch));
    q.finish();

    // Every destination service that the map names, and every one in the list in use, must exist
    // at the destination branch: the operator may have typed one that was removed meanwhile.
    QStringList codes;
    const int dest = m_servico.col(u"CDSERVFILIDEST");
    for (int r = 0; r < m_servico.rows(); ++r)
        codes << m_servico.text(r, dest);
    const int inUse = m_servDestino.col(u"CDSERVFILI");
    for (int r = 0; r < m_servDestino.rows(); ++r)
        codes << m_servDestino.text(r, inUse);
    codes.removeAll(QString());
    codes.removeDuplicates();
    QSqlQuery s(m_db);
    s.prepare(QStringLiteral("SELECT 1 FROM SERVICO WHERE CDFILIAL = ? AND CDSERVFILI = ?"));
    for (const QString &code : std::as_const(codes)) {
        s.bindValue(0, m_branch);
        s.bindValue(1, code);
        if (!s.exec())
            return Status::fail(DbError::describe(QStringLiteral("ler os serviços da filial destino"), s.lastError()));
        if (!s.next())
            return Status::fail(QStringLiteral("Serviço destino %1 não cadastrado na filial %2.").arg(code, m_branch));
        s.finish();
    }
    return okStatus();
}

Status Import::selectDishes()
{
    const int aux = m_prato.col(u"CDFILAUXPRAT");
    const int prato = m_prato.col(u"CDPRATO");
    const int erro = m_prato.col(u"IDERRO");
    // A flagged dish is not written, whatever its values: it is set aside before anything of it is
    // looked at, so a flagged row without a code, or repeating another, refuses nothing.
    QHash<QString, int> last;
    QStringList order;
    for (int r = 0; r < m_prato.rows(); ++r) {
        const QString a = m_prato.text(r, aux);
        const QString p = m_prato.text(r, prato);
        if (erro >= 0 && m_prato.table.textAt(r, erro).contains(QLatin1Char('1'))) {
            m_summary.dishesNotWritten << p;
            m_flagged.insert(dishKey(a, p));
            continue;
        }
        if (a.isEmpty() || p.isEmpty())
            return Status::fail(Msg(QStringLiteral("Imp_PratoSemCodigo")).arg(r + 1), QStringLiteral("Imp_PratoSemCodigo"));
        const QString key = dishKey(a, p);
        auto it = last.find(key);
        if (it == last.end()) {
            last.insert(key, r);
            order << key;
        } else {
            *it = r;
        }
    }
    for (const QString &key : std::as_const(order)) {
        // A clean copy of a flagged dish does not make it clean: no copy of it is written.
        if (m_flagged.contains(key))
            continue;
        m_dishIndex.insert(key, int(m_dishRows.size()));
        m_dishRows << last.value(key);
    }
    for (Packet *p : {&m_recePadr, &m_receFili, &m_receServ, &m_pratPadr, &m_pratFili})
        mapRows(*p);
    return okStatus();
}

void Import::mapRows(Packet &p) const
{
    const int rows = p.rows();
    p.dish.assign(size_t(rows), -1);
    if (rows == 0 || m_dishIndex.isEmpty())
        return;
    const int aux = p.col(u"CDFILAUXPRAT");
    const int prato = p.col(u"CDPRATO");
    QString key, a, b;
    for (int r = 0; r < rows; ++r) {
        key.clear();
        key += p.keyView(r, aux, a);
        key += QChar(0x1F);
        key += p.keyView(r, prato, b);
        p.dish[size_t(r)] = m_dishIndex.value(key, -1);
    }
}

// The recipe rows of the dishes to be written must each have their whole key, once per table: a
// row without a key, or repeating one, would fail the write halfway. Checked before the
// transaction, so such a call is refused with the dish and the table named and nothing written.
Status Import::checkRecipeKeys()
{
    struct Table {
        Packet *p;
        bool replaced; // the file held the section: its rows are written
    };
    // The per-dish tables (PRATPADR, PRATFILI) have no key beyond the dish and the branch, and keep
    // the last of repeated rows.
    for (const Table &t : {Table{&m_recePadr, m_temRecePadr}, Table{&m_receFili, m_temReceFili},
                           Table{&m_receServ, m_temReceServ}}) {
        Packet &p = *t.p;
        if (!t.replaced || p.rows() == 0)
            continue;
        QList<int> keyCols;
        QStringList keyNames;
        for (const QString &k : p.def->key) {
            if (k == QLatin1String("CDFILIAL"))
                continue; // the destination branch, whatever the row says
            keyNames << k;
            keyCols << p.col(k);
        }
        const int prato = p.col(u"CDPRATO");
        const qsizetype n = keyCols.size();
        std::vector<QStringView> values(static_cast<size_t>(n)), other(static_cast<size_t>(n));
        std::vector<QString> scratch(static_cast<size_t>(n)), otherScratch(static_cast<size_t>(n));
        // Rows by a hash of their key; rows of equal hashes are compared value by value.
        QMultiHash<size_t, int> seen;
        seen.reserve(p.rows());
        for (int r = 0; r < p.rows(); ++r) {
            if (p.dish[size_t(r)] < 0)
                continue;
            size_t h = 0;
            for (qsizetype i = 0; i < n; ++i) {
                values[size_t(i)] = p.keyView(r, keyCols.at(i), scratch[size_t(i)]);
                if (values[size_t(i)].isEmpty())
                    return Status::fail(Msg(QStringLiteral("Imp_LinhaSemChave"))
                                            .arg(p.text(r, prato), p.label, keyNames.at(i))
                                            .arg(r + 1),
                                        QStringLiteral("Imp_LinhaSemChave"));
                h = qHash(values[size_t(i)], h * 31 + 7);
            }
            for (auto it = seen.constFind(h); it != seen.constEnd() && it.key() == h; ++it) {
                bool same = true;
                for (qsizetype i = 0; i < n && same; ++i) {
                    other[size_t(i)] = p.keyView(it.value(), keyCols.at(i), otherScratch[size_t(i)]);
                    same = other[size_t(i)] == values[size_t(i)];
                }
                if (same) {
                    QStringList key;
                    for (QStringView v : values)
                        key << v.toString();
                    return Status::fail(Msg(QStringLiteral("Imp_LinhaRepetida"))
                                            .arg(p.text(r, prato), p.label, key.join(QLatin1Char('/')))
                                            .arg(r + 1),
                                        QStringLiteral("Imp_LinhaRepetida"));
                }
            }
            seen.insert(h, r);
        }
    }
    return okStatus();
}

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
        col.sameKind = col.src >= 0 && p.table.field(col.src).kind == f.kind;
        out << col;
    }
    return out;
}

// "yyyy-MM-dd HH:mm:ss" without going through QDateTime::toString's format parser, which would
// cost more than the rest of the row together.
static QString stamp(const QDateTime &d)
{
    const QDate day = d.date();
    const QTime t = d.time();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", day.year(), day.month(), day.day(), t.hour(),
                  t.minute(), t.second());
    return QString::fromLatin1(buf, 19);
}

Status Import::rowValues(const Packet &p, int row, const QList<Column> &plan, Cells &out) const
{
    out.resize(size_t(plan.size()));
    for (qsizetype i = 0; i < plan.size(); ++i) {
        const Column &c = plan.at(i);
        Cell &cell = out[size_t(i)];
        cell.kind = Cell::Null;
        cell.text = QStringView();
        if (c.branch) {
            cell.kind = Cell::Text;
            cell.text = m_branch;
            continue;
        }
        if (c.src < 0 || p.table.isNullAt(row, c.src))
            continue;
        if (c.sameKind && c.kind == FieldKind::Number) {
            cell.kind = Cell::Number;
            cell.number = p.table.numberAt(row, c.src);
            continue;
        }
        if (c.sameKind && c.kind == FieldKind::DateTime) {
            const QDateTime d = p.table.dateTimeAt(row, c.src);
            if (d.isValid()) {
                cell.kind = Cell::Text;
                cell.setOwn(stamp(d));
            }
            continue;
        }
        if (c.sameKind && c.kind == FieldKind::Text) {
            cell.text = p.table.textViewAt(row, c.src);
        } else {
            bool ok = true;
            const QVariant v = Catalogue::toSql(p.table.valueAt(row, c.src), c.kind, &ok);
            if (!ok)
                return Status::fail(QStringLiteral("Valor inválido na coluna %1 de %2 (linha %3 do pacote).")
                                        .arg(c.name, p.label)
                                        .arg(row + 1));
            if (v.isNull())
                continue;
            if (c.kind == FieldKind::Number || c.kind == FieldKind::Integer || c.kind == FieldKind::Boolean) {
                cell.kind = Cell::Number;
                cell.number = v.toDouble();
                continue;
            }
            cell.setOwn(v.toString());
        }
        // Text. Codes are compared trimmed everywhere; keep them so in the database.
        if (c.key)
            cell.text = cell.text.trimmed();
        if (c.width > 0 && cell.text.size() > c.width)
            return Status::fail(QStringLiteral("O valor \"%1\" da coluna %2 de %3 passa de %4 caracteres "
                                               "(linha %5 do pacote).")
                                    .arg(cell.text.left(60), c.name, p.label)
                                    .arg(c.width)
                                    .arg(row + 1));
        // PostgreSQL cannot store a NUL in a text, and would refuse the whole copy without naming
        // the dish; SQLite would keep a value no other program reads back whole.
        if (cell.text.contains(QChar(0)))
            return Status::fail(Msg(QStringLiteral("Imp_CaractereNulo"))
                                    .arg(p.text(row, p.col(u"CDPRATO")), p.label, c.name)
                                    .arg(row + 1),
                                QStringLiteral("Imp_CaractereNulo"));
        cell.kind = cell.text.isEmpty() ? Cell::Null : Cell::Text;
    }
    return okStatus();
}

Status Import::writeDishes()
{
    if (m_dishRows.isEmpty()) {
        // Nothing to write, and a packet without rows may not even have columns to name.
        m_summary.rowsPerTable.append({m_prato.label, 0});
        return okStatus();
    }
    const QList<int> cols = writtenColumns(m_prato, false);
    const QList<Column> columns = plan(m_prato, cols, false);
    auto existing = holdsWrittenDishes(m_prato.def->name, false);
    if (!existing)
        return Status::fail(existing.failure());
    auto writer = makeWriter(m_db, *m_tx, *m_prato.def, cols, true, existing.value());
    Cells values;
    for (int r : std::as_const(m_dishRows)) {
        if (Status s = rowValues(m_prato, r, columns, values); !s)
            return s;
        if (Status s = writer->add(values); !s)
            return s;
    }
    if (Status s = writer->finish(); !s)
        return s;
    m_summary.dishesWritten = writer->written();
    m_summary.rowsPerTable.append({m_prato.label, writer->written()});
    return okStatus();
}

Status Import::deleteRecipes(const QString &table, bool perBranch)
{
    const auto failed = [&](const QString &why) {
        m_tx->rollback();
        return Status::fail(DbError::describe(QStringLiteral("substituir as linhas de %1").arg(table), {}, why));
    };
    if (Database::kindOf(m_db) != DbKind::PostgreSQL) {
        // One statement per table, as on PostgreSQL, rather than one per dish and table.
        if (Status s = sqliteKeys(); !s)
            return failed(s.error());
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
    PQclear(res);
    return ok ? okStatus() : failed(error);
}

Status Import::sqliteKeys()
{
    if (m_sqliteKeys)
        return okStatus();
    for (const char *sql : {"CREATE TEMP TABLE IF NOT EXISTS IMP_KEYS (CDFILAUXPRAT TEXT NOT NULL, CDPRATO TEXT NOT NULL, "
                            "PRIMARY KEY (CDFILAUXPRAT, CDPRATO)) WITHOUT ROWID",
                            "DELETE FROM temp.IMP_KEYS"}) {
        SqliteStatement s(m_db, QString::fromLatin1(sql));
        if (!s.ok() || !s.step())
            return Status::fail(s.error());
    }
    SqliteStatement add(m_db, QStringLiteral("INSERT INTO temp.IMP_KEYS (CDFILAUXPRAT, CDPRATO) VALUES (?, ?)"));
    if (!add.ok())
        return Status::fail(add.error());
    const int dAux = m_prato.col(u"CDFILAUXPRAT");
    const int dPrato = m_prato.col(u"CDPRATO");
    for (int r : std::as_const(m_dishRows)) {
        const QString aux = m_prato.text(r, dAux);
        const QString prato = m_prato.text(r, dPrato);
        add.bind(1, aux);
        add.bind(2, prato);
        if (!add.step())
            return Status::fail(add.error());
    }
    m_sqliteKeys = true;
    return okStatus();
}

Status Import::preparePg()
{
    PGconn *conn = pgHandle(m_db);
    const auto failed = [&](const QString &why) {
        m_tx->rollback();
        return Status::fail(DbError::describe(QStringLiteral("preparar a gravação"), {}, why));
    };
    if (!conn)
        return failed(QStringLiteral("conexão PostgreSQL indisponível"));
    // Writers elsewhere wait for the import; readers do not. Without this, a dish another session
    // inserted between the check below and the copy would turn a copy into a key violation.
    if (Status s = pgExec(conn, QStringLiteral("LOCK TABLE PRATO, RECEPADR, RECEFILI, RECESERV, PRATPADR, PRATFILI "
                                               "IN SHARE ROW EXCLUSIVE MODE"));
        !s)
        return failed(s.error());
    if (Status s = pgExec(conn, QStringLiteral("CREATE TEMPORARY TABLE IMP_KEYS (CDFILAUXPRAT VARCHAR(4), "
                                               "CDPRATO VARCHAR(10)) ON COMMIT DROP"));
        !s)
        return failed(s.error());
    const int dAux = m_prato.col(u"CDFILAUXPRAT");
    const int dPrato = m_prato.col(u"CDPRATO");
    PgCopy copy(conn, QStringLiteral("COPY IMP_KEYS (CDFILAUXPRAT, CDPRATO) FROM STDIN"));
    if (!copy.begin())
        return failed(copy.error());
    Cells key(2);
    key[0].kind = key[1].kind = Cell::Text;
    for (int r : std::as_const(m_dishRows)) {
        key[0].setOwn(m_prato.text(r, dAux));
        key[1].setOwn(m_prato.text(r, dPrato));
        if (!copy.add(key)) {
            copy.abort();
            return failed(copy.error());
        }
    }
    if (!copy.end())
        return failed(copy.error());
    if (Status s = pgExec(conn, QStringLiteral("ANALYZE IMP_KEYS")); !s)
        return failed(s.error());
    return okStatus();
}

Result<bool> Import::holdsWrittenDishes(const QString &table, bool perBranch)
{
    if (Database::kindOf(m_db) != DbKind::PostgreSQL) {
        // SQLite has no key table to join: a table without any row of the destination (the usual
        // case of a first import) is told apart cheaply, anything else counts as holding them.
        SqliteStatement any(m_db, QStringLiteral("SELECT 1 FROM %1%2 LIMIT 1")
                                      .arg(table, perBranch ? QStringLiteral(" WHERE CDFILIAL = ?") : QString()));
        if (!any.ok()) {
            m_tx->rollback();
            return Result<bool>::fail(DbError::describe(QStringLiteral("ler %1").arg(table), {}, any.error()));
        }
        if (perBranch)
            any.bind(1, m_branch);
        bool found = false;
        if (!any.step(&found)) {
            m_tx->rollback();
            return Result<bool>::fail(DbError::describe(QStringLiteral("ler %1").arg(table), {}, any.error()));
        }
        return found;
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
    PQclear(res);
    if (!ok) {
        m_tx->rollback();
        return Result<bool>::fail(DbError::describe(QStringLiteral("ler %1").arg(table), {}, error));
    }
    return found;
}

// The packet's rows of the dishes being written, in packet order, inserted after the dishes'
// recipes at the destination are gone.
Status Import::writeDishRows(Packet &p, bool perBranch)
{
    if (p.rows() == 0 || m_dishRows.isEmpty()) {
        m_summary.rowsPerTable.append({p.label, 0});
        return okStatus();
    }
    const QList<int> cols = writtenColumns(p, perBranch);
    const QList<Column> columns = plan(p, cols, perBranch);
    auto writer = makeWriter(m_db, *m_tx, *p.def, cols, false);
    Cells values;
    for (int r = 0; r < p.rows(); ++r) {
        // A row of a dish that is not written is not looked at any further.
        if (p.dish[size_t(r)] < 0)
            continue;
        if (Status s = rowValues(p, r, columns, values); !s)
            return s;
        if (Status s = writer->add(values); !s)
            return s;
    }
    if (Status s = writer->finish(); !s)
        return s;
    m_summary.rowsPerTable.append({p.label, writer->written()});
    return okStatus();
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
    for (int r = 0; r < p.rows(); ++r) {
        if (const int d = p.dish[size_t(r)]; d >= 0)
            last[size_t(d)] = r;
    }
    if (p.rows() == 0 || m_dishRows.isEmpty()) {
        m_summary.rowsPerTable.append({p.label, 0});
        return okStatus();
    }
    const QList<int> cols = writtenColumns(p, perBranch);
    const QList<Column> columns = plan(p, cols, perBranch);
    auto existing = holdsWrittenDishes(p.def->name, perBranch);
    if (!existing)
        return Status::fail(existing.failure());
    auto writer = makeWriter(m_db, *m_tx, *p.def, cols, true, existing.value());
    Cells values;
    for (int r : last) {
        if (r < 0)
            continue;
        if (Status s = rowValues(p, r, columns, values); !s)
            return s;
        if (Status s = writer->add(values); !s)
            return s;
    }
    if (Status s = writer->finish(); !s)
        return s;
    m_summary.rowsPerTable.append({p.label, writer->written()});
    return okStatus();
}

// Fault-injection points for the crash tests: with IMP_SERVER_PAUSE_AT naming a point, the import
// says so on stderr when it gets there and waits (IMP_SERVER_PAUSE_SECONDS, 60 by default), so
// that a test can kill the process, or its database connection, at that very point. Unset (always, outside those tests), a point costs one look at a cached flag.
static void pausePoint(const char *name)
{
    static const QByteArray at = qgetenv("IMP_SERVER_PAUSE_AT");
    if (at.isEmpty() || at != name)
        return;
    static const int seconds = qEnvironmentVariableIsSet("IMP_SERVER_PAUSE_SECONDS")
        ? qBound(0, qEnvironmentVariableIntValue("IMP_SERVER_PAUSE_SECONDS"), 600)
        : 60;
    std::fprintf(stderr, "imp40500-server: pausa em %s\n", name);
    std::fflush(stderr);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

// A failure of the write, or of the checks just before it, says first that nothing was written.
static Payload notWritten(Failure f)
{
    f.message = Msg(QStringLiteral("Imp_NaoGravada")).arg(f.message);
    return Payload::fail(std::move(f));
}

// After each table, inside the transaction: an import asked to stop (SIGINT, SIGTERM) ends here
// as an ordinary failure, so the rollback is the usual one.
Status Import::afterTable(const QString &)
{
    return stopPoint();
}

void Import::finished(bool, const Failure &)
{
}

Status Import::writeTables()
{
    if (Database::kindOf(m_db) == DbKind::PostgreSQL) {
        if (Status s = preparePg(); !s)
            return s;
    }
    if (Status s = writeDishes(); !s)
        return s;
    pausePoint("pratos");
    if (Status s = afterTable(m_prato.label); !s)
        return s;
    struct Step {
        Packet *p;
        bool run;
        bool perBranch;
        bool replace; // the dish's rows at the destination give way to the packet's
    };
    for (const Step &step : {Step{&m_recePadr, m_temRecePadr, false, true}, Step{&m_receFili, m_temReceFili, true, true},
                             Step{&m_receServ, m_temReceServ, true, true}, Step{&m_pratPadr, true, false, false},
                             Step{&m_pratFili, true, true, false}}) {
        if (!step.run)
            continue;
        Status s = step.replace ? replaceRecipe(*step.p, step.perBranch) : upsertPerDish(*step.p, step.perBranch);
        if (s)
            s = afterTable(step.p->label);
        if (!s)
            return s;
    }
    if (m_sqliteKeys) {
        SqliteStatement drop(m_db, QStringLiteral("DROP TABLE temp.IMP_KEYS"));
        if (!drop.ok() || !drop.step()) {
            m_tx->rollback();
            return Status::fail(DbError::describe(QStringLiteral("preparar a gravação"), {}, drop.error()));
        }
    }
    return okStatus();
}

Payload Import::run(const CallArgs &args)
{
    const auto refused = [this](Failure f) {
        finished(false, f);
        return Payload::fail(std::move(f));
    };
    if (Status s = checkArguments(args); !s)
        return refused(s.failure());
    if (Status s = checkBranchAndServices(); !s)
        return refused(s.failure());
    if (Status s = selectDishes(); !s)
        return refused(s.failure());
    if (Status s = checkRecipeKeys(); !s)
        return refused(notWritten(s.failure()).failure());

    TransactionGuard tx(m_db);
    if (!tx.begun())
        return refused(tx.failure());
    m_tx = &tx;
    pausePoint("inicio");
    Status s = writeTables();
    if (s)
        s = ServicePairings::remember(m_db, m_branch, m_servico.table);
    if (s && m_history)
        s = m_history->written(m_summary); // the history row, in the import's transaction
    if (s) {
        pausePoint("antes-commit");
        s = stopPoint();
    }
    if (s) {
        s = tx.commit();
        if (s)
            pausePoint("depois-commit");
        // A connection lost on the commit leaves the outcome with the database: it may have
        // committed before the connection went.
        if (!s && s.failure().key == QLatin1String("BD_ConexaoPerdida"))
            return refused(Failure{Msg(QStringLiteral("BD_ConfirmacaoIncerta")), QStringLiteral("BD_ConfirmacaoIncerta"),
                                   s.failure().detail});
    }
    if (!s)
        return refused(notWritten(s.failure()).failure());
    finished(true, Failure());
    return m_summary.encode();
}

} // namespace

Result<QByteArray> importacao(QSqlDatabase &db, const CallArgs &args)
{
    // One history row per call: in the transaction when it commits, after the rollback otherwise.
    ImportHistoryRecorder history(db, args);
    Import import(db, &history);
    return history.finish(import.run(args));
}

} // namespace RdmMethods
