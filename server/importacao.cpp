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
//   rows by CDFILIAL+CDFILAUXPRAT+CDPRATO;
// - rows of the per-branch tables (RECEFILI, PRATFILI, RECESERV) are written for the destination
//   branch, whatever branch the packet row names (the screen has already put it there).
// PRATSERV rows do not travel with the call.
#include "rdmimpoprato.h"
#include "database.h"
#include "datapacket.h"
#include "memtable.h"
#include "transactionguard.h"

#include <QCborValue>
#include <QHash>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

namespace RdmMethods {

namespace {

using Payload = Result<QByteArray>;

struct Packet {
    QString label;
    MemTable table;
    const Catalogue::TableDef *def = nullptr;
    QList<int> source; // per catalogue column: its column in the packet, -1 when the packet lacks it

    int col(QStringView name) const { return table.isActive() ? table.fieldIndex(name) : -1; }
    int rows() const { return table.isActive() ? table.rowCount() : 0; }
    QString text(int row, int c) const { return c < 0 ? QString() : table.textAt(row, c).trimmed(); }
};

// Loads one packet argument and checks that it holds only the columns it may hold. An empty byte
// string is an empty table: the screen's service tables do not exist until their first row.
Status loadPacket(const QCborValue &arg, Packet &p, const QStringList &allowed)
{
    if (!arg.isByteArray())
        return Status::fail(QStringLiteral("Importacao: o argumento de %1 não é um pacote de dados.").arg(p.label));
    const QByteArray bytes = arg.toByteArray();
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
        for (const FieldDef &f : p.def->columns)
            p.source << p.table.fieldIndex(f.name);
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

Result<bool> flagArg(const QCborValue &v, const char *name)
{
    // Automation booleans: -1 is true, 0 false; any other non-zero integer also counts as true.
    if (v.isBool())
        return v.toBool();
    if (v.isInteger())
        return v.toInteger() != 0;
    return Result<bool>::fail(QStringLiteral("Importacao: o indicador %1 deve ser um inteiro (-1 ou 0).")
                                  .arg(QLatin1String(name)));
}

QString dishKey(const QString &aux, const QString &prato)
{
    return aux + QChar(0x1F) + prato;
}

// Multi-row parameterised INSERT (or INSERT ... ON CONFLICT DO UPDATE) of one table, the full
// batch statement prepared once and re-executed, the last partial batch prepared on its own.
class BatchWriter {
public:
    BatchWriter(QSqlDatabase &db, TransactionGuard &tx, const Catalogue::TableDef &def, QList<int> columns, bool upsert)
        : m_db(db), m_tx(tx), m_def(def), m_columns(std::move(columns)), m_upsert(upsert)
    {
        const bool pg = Database::kindOf(db) == DbKind::PostgreSQL;
        // SQLite builds of old allow 999 parameters per statement; PostgreSQL takes far more, and
        // bigger batches pay for its round trips.
        const int maxParams = pg ? 30000 : 999;
        m_batchRows = qBound(1, maxParams / qMax(1, int(m_columns.size())), pg ? 2000 : 500);
        m_buffer.reserve(m_batchRows * m_columns.size());
    }

    int written() const { return m_written; }

    // `values` holds one value per column, already converted for binding.
    Status add(const QVariantList &values)
    {
        m_buffer.append(values);
        if (++m_pending == m_batchRows)
            return flush();
        return okStatus();
    }

    Status finish() { return m_pending ? flush() : okStatus(); }

private:
    QString sql(int rows) const
    {
        QStringList cols;
        for (int c : m_columns)
            cols << m_def.columns.at(c).name;
        const QString one = QLatin1Char('(') + QStringLiteral("?,").repeated(m_columns.size()).chopped(1) + QLatin1Char(')');
        QString s = QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(m_def.name, cols.join(QLatin1Char(',')));
        s.reserve(s.size() + rows * (one.size() + 1) + 256);
        for (int i = 0; i < rows; ++i) {
            if (i)
                s += QLatin1Char(',');
            s += one;
        }
        if (m_upsert) {
            QStringList sets;
            for (int c : m_columns) {
                const QString &n = m_def.columns.at(c).name;
                if (!m_def.key.contains(n))
                    sets << QStringLiteral("%1 = excluded.%1").arg(n);
            }
            s += QStringLiteral(" ON CONFLICT (%1) ").arg(m_def.key.join(QLatin1Char(',')));
            s += sets.isEmpty() ? QStringLiteral("DO NOTHING") : QStringLiteral("DO UPDATE SET ") + sets.join(QLatin1Char(','));
        }
        return s;
    }

    Status flush()
    {
        const bool full = m_pending == m_batchRows;
        QSqlQuery partial(m_db);
        QSqlQuery *q = &m_full;
        if (full && !m_fullPrepared) {
            m_full = QSqlQuery(m_db);
            if (!m_full.prepare(sql(m_batchRows)))
                return failed(m_full);
            m_fullPrepared = true;
        } else if (!full) {
            q = &partial;
            if (!partial.prepare(sql(m_pending)))
                return failed(partial);
        }
        for (int i = 0; i < m_buffer.size(); ++i)
            q->bindValue(i, m_buffer.at(i));
        if (!q->exec())
            return failed(*q);
        m_written += m_pending;
        m_pending = 0;
        m_buffer.clear();
        return okStatus();
    }

    Status failed(const QSqlQuery &q) const
    {
        const QString text = q.lastError().text();
        m_tx.rollback();
        return Status::fail(QStringLiteral("Falha ao gravar %1: %2").arg(m_def.name, text));
    }

    QSqlDatabase &m_db;
    TransactionGuard &m_tx;
    const Catalogue::TableDef &m_def;
    QList<int> m_columns;
    bool m_upsert;
    int m_batchRows = 1;
    int m_pending = 0;
    int m_written = 0;
    QVariantList m_buffer;
    QSqlQuery m_full;
    bool m_fullPrepared = false;
};

// Deletes the rows of a recipe table that belong to a list of dishes, at one branch when the table
// is kept per branch, many dishes per statement.
class BatchDeleter {
public:
    BatchDeleter(QSqlDatabase &db, TransactionGuard &tx, const QString &table, const QString &branch)
        : m_db(db), m_tx(tx), m_table(table), m_branch(branch)
    {
        m_batchRows = Database::kindOf(db) == DbKind::PostgreSQL ? 2000 : 400;
    }

    Status add(const QString &aux, const QString &prato)
    {
        m_keys << aux << prato;
        if (m_keys.size() / 2 == m_batchRows)
            return flush();
        return okStatus();
    }

    Status finish() { return m_keys.isEmpty() ? okStatus() : flush(); }

private:
    QString sql(int rows) const
    {
        QString s = QStringLiteral("DELETE FROM %1 WHERE ").arg(m_table);
        if (!m_branch.isEmpty())
            s += QStringLiteral("CDFILIAL = ? AND ");
        s += QStringLiteral("(CDFILAUXPRAT, CDPRATO) IN (VALUES ");
        for (int i = 0; i < rows; ++i)
            s += i ? QStringLiteral(",(?,?)") : QStringLiteral("(?,?)");
        return s + QLatin1Char(')');
    }

    Status flush()
    {
        const int rows = int(m_keys.size() / 2);
        QSqlQuery partial(m_db);
        QSqlQuery *q = &m_full;
        if (rows == m_batchRows) {
            if (!m_fullPrepared) {
                m_full = QSqlQuery(m_db);
                if (!m_full.prepare(sql(rows)))
                    return failed(m_full);
                m_fullPrepared = true;
            }
        } else {
            q = &partial;
            if (!partial.prepare(sql(rows)))
                return failed(partial);
        }
        int pos = 0;
        if (!m_branch.isEmpty())
            q->bindValue(pos++, m_branch);
        for (const QString &k : std::as_const(m_keys))
            q->bindValue(pos++, k);
        if (!q->exec())
            return failed(*q);
        m_keys.clear();
        return okStatus();
    }

    Status failed(const QSqlQuery &q) const
    {
        const QString text = q.lastError().text();
        m_tx.rollback();
        return Status::fail(QStringLiteral("Falha ao substituir as linhas de %1: %2").arg(m_table, text));
    }

    QSqlDatabase &m_db;
    TransactionGuard &m_tx;
    QString m_table;
    QString m_branch;
    int m_batchRows;
    QStringList m_keys;
    QSqlQuery m_full;
    bool m_fullPrepared = false;
};

class Import {
public:
    Import(QSqlDatabase &db) : m_db(db) {}

    Payload run(const QCborArray &args);

private:
    Status checkArguments(const QCborArray &args);
    Status checkBranchAndServices();
    Status selectDishes();
    Status writeDishes();
    Status replaceRecipe(Packet &p, bool perBranch);
    Status upsertPerDish(Packet &p, bool perBranch);
    // Columns written for a packet: the catalogue's columns it carries, and CDFILIAL always on a
    // per-branch table.
    QList<int> writtenColumns(const Packet &p, bool perBranch) const;
    Status rowValues(const Packet &p, int row, const QList<int> &columns, bool perBranch, QVariantList &out) const;
    bool belongsToWrittenDish(const Packet &p, int row, int auxCol, int pratoCol) const;

    QSqlDatabase &m_db;
    TransactionGuard *m_tx = nullptr; // the import's transaction while it writes
    Packet m_prato, m_recePadr, m_receFili, m_servDestino, m_receServ, m_pratPadr, m_pratFili, m_servico;
    bool m_temRecePadr = false, m_temReceFili = false, m_temReceServ = false;
    QString m_branch;
    QSet<QString> m_written;       // keys of the dishes written
    QList<int> m_dishRows;         // packet rows of the dishes written, in packet order
    ImportSummary m_summary;
};

Status Import::checkArguments(const QCborArray &args)
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
    for (int i = 0; i < 8; ++i) {
        Packet &p = *order[i];
        QStringList allowed;
        if (p.def)
            allowed = names(Catalogue::packetFields(*p.def));
        else
            allowed = &p == &m_servDestino ? servDestinoCols : servicoCols;
        if (Status s = loadPacket(args.at(i), p, allowed); !s)
            return s;
    }

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

    if (!args.at(11).isString())
        return Status::fail(QStringLiteral("Importacao: a filial destino deve ser um texto."));
    m_branch = args.at(11).toString().trimmed();
    if (m_branch.isEmpty())
        return Status::fail(QStringLiteral("Filial destino deve ser informada."));
    if (m_branch.size() > 4)
        return Status::fail(QStringLiteral("Filial destino inválida: %1.").arg(m_branch.left(20)));

    // Rows of the dish and recipe tables are tied to their dish by these two columns.
    for (Packet *p : {&m_prato, &m_recePadr, &m_receFili, &m_receServ, &m_pratPadr, &m_pratFili}) {
        if (p->rows() == 0)
            continue;
        for (const char *c : {"CDFILAUXPRAT", "CDPRATO"}) {
            if (p->col(QString::fromLatin1(c)) < 0)
                return Status::fail(QStringLiteral("Importacao: o pacote de %1 não tem a coluna %2.")
                                        .arg(p->label, QLatin1String(c)));
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
        return Status::fail(QStringLiteral("Falha ao ler a filial destino: %1").arg(q.lastError().text()));
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
            return Status::fail(QStringLiteral("Falha ao ler os serviços da filial destino: %1").arg(s.lastError().text()));
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
    QHash<QString, int> last;
    QStringList order;
    for (int r = 0; r < m_prato.rows(); ++r) {
        const QString a = m_prato.text(r, aux);
        const QString p = m_prato.text(r, prato);
        if (a.isEmpty() || p.isEmpty())
            return Status::fail(QStringLiteral("Importacao: o prato da linha %1 do pacote de PRATO não tem código.")
                                    .arg(r + 1));
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
        const int r = last.value(key);
        if (erro >= 0 && m_prato.table.textAt(r, erro).contains(QLatin1Char('1'))) {
            m_summary.dishesNotWritten << m_prato.text(r, prato);
            continue;
        }
        m_written.insert(key);
        m_dishRows << r;
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

Status Import::rowValues(const Packet &p, int row, const QList<int> &columns, bool perBranch,
                         QVariantList &out) const
{
    out.clear();
    for (int c : columns) {
        const FieldDef &f = p.def->columns.at(c);
        if (perBranch && f.name == QLatin1String("CDFILIAL")) {
            out << m_branch;
            continue;
        }
        const int src = p.source.at(c);
        bool ok = true;
        QVariant v = Catalogue::toSql(p.table.valueAt(row, src), f.kind, &ok);
        if (!ok)
            return Status::fail(QStringLiteral("Valor inválido na coluna %1 de %2 (linha %3 do pacote).")
                                    .arg(f.name, p.label)
                                    .arg(row + 1));
        if (f.kind == FieldKind::Text && !v.isNull()) {
            QString s = v.toString();
            // Codes are compared trimmed everywhere; keep them so in the database.
            if (p.def->key.contains(f.name))
                s = s.trimmed();
            if (f.width > 0 && s.size() > f.width)
                return Status::fail(QStringLiteral("O valor \"%1\" da coluna %2 de %3 passa de %4 caracteres "
                                                   "(linha %5 do pacote).")
                                        .arg(s.left(60), f.name, p.label)
                                        .arg(f.width)
                                        .arg(row + 1));
            if (s.isEmpty())
                v = QVariant(QMetaType::fromType<QString>());
            else
                v = s;
        }
        out << v;
    }
    return okStatus();
}

bool Import::belongsToWrittenDish(const Packet &p, int row, int auxCol, int pratoCol) const
{
    return m_written.contains(dishKey(p.text(row, auxCol), p.text(row, pratoCol)));
}

Status Import::writeDishes()
{
    const QList<int> cols = writtenColumns(m_prato, false);
    BatchWriter writer(m_db, *m_tx, *m_prato.def, cols, true);
    QVariantList values;
    for (int r : std::as_const(m_dishRows)) {
        if (Status s = rowValues(m_prato, r, cols, false, values); !s)
            return s;
        if (Status s = writer.add(values); !s)
            return s;
    }
    if (Status s = writer.finish(); !s)
        return s;
    m_summary.dishesWritten = writer.written();
    m_summary.rowsPerTable.append({m_prato.label, writer.written()});
    return okStatus();
}

Status Import::replaceRecipe(Packet &p, bool perBranch)
{
    // The dish's recipe at the destination gives way to the file's, even where the file's is empty.
    BatchDeleter deleter(m_db, *m_tx, p.def->name, perBranch ? m_branch : QString());
    const int dAux = m_prato.col(u"CDFILAUXPRAT");
    const int dPrato = m_prato.col(u"CDPRATO");
    for (int r : std::as_const(m_dishRows)) {
        if (Status s = deleter.add(m_prato.text(r, dAux), m_prato.text(r, dPrato)); !s)
            return s;
    }
    if (Status s = deleter.finish(); !s)
        return s;

    const QList<int> cols = writtenColumns(p, perBranch);
    BatchWriter writer(m_db, *m_tx, *p.def, cols, false);
    const int aux = p.col(u"CDFILAUXPRAT");
    const int prato = p.col(u"CDPRATO");
    QVariantList values;
    for (int r = 0; r < p.rows(); ++r) {
        if (!belongsToWrittenDish(p, r, aux, prato))
            continue;
        if (Status s = rowValues(p, r, cols, perBranch, values); !s)
            return s;
        if (Status s = writer.add(values); !s)
            return s;
    }
    if (Status s = writer.finish(); !s)
        return s;
    m_summary.rowsPerTable.append({p.label, writer.written()});
    return okStatus();
}

Status Import::upsertPerDish(Packet &p, bool perBranch)
{
    // One statement may not touch a key twice on PostgreSQL; a repeated row counts as its last.
    const int aux = p.col(u"CDFILAUXPRAT");
    const int prato = p.col(u"CDPRATO");
    QHash<QString, int> last;
    QList<QString> order;
    for (int r = 0; r < p.rows(); ++r) {
        if (!belongsToWrittenDish(p, r, aux, prato))
            continue;
        const QString key = dishKey(p.text(r, aux), p.text(r, prato));
        if (!last.contains(key))
            order << key;
        last.insert(key, r);
    }
    const QList<int> cols = writtenColumns(p, perBranch);
    BatchWriter writer(m_db, *m_tx, *p.def, cols, true);
    QVariantList values;
    for (const QString &key : std::as_const(order)) {
        if (Status s = rowValues(p, last.value(key), cols, perBranch, values); !s)
            return s;
        if (Status s = writer.add(values); !s)
            return s;
    }
    if (Status s = writer.finish(); !s)
        return s;
    m_summary.rowsPerTable.append({p.label, writer.written()});
    return okStatus();
}

Payload Import::run(const QCborArray &args)
{
    if (Status s = checkArguments(args); !s)
        return Payload::fail(s.error());
    if (Status s = checkBranchAndServices(); !s)
        return Payload::fail(s.error());
    if (Status s = selectDishes(); !s)
        return Payload::fail(s.error());

    TransactionGuard tx(m_db);
    if (!tx.begun())
        return Payload::fail(QStringLiteral("Não foi possível iniciar a transação: %1").arg(tx.error()));
    m_tx = &tx;
    Status s = writeDishes();
    if (s && m_temRecePadr)
        s = replaceRecipe(m_recePadr, false);
    if (s && m_temReceFili)
        s = replaceRecipe(m_receFili, true);
    if (s && m_temReceServ)
        s = replaceRecipe(m_receServ, true);
    if (s)
        s = upsertPerDish(m_pratPadr, false);
    if (s)
        s = upsertPerDish(m_pratFili, true);
    if (s)
        s = tx.commit();
    if (!s)
        return Payload::fail(QStringLiteral("A importação não foi gravada. %1").arg(s.error()));
    return m_summary.encode();
}

} // namespace

Result<QByteArray> importacao(QSqlDatabase &db, const QCborArray &args)
{
    Import import(db);
    return import.run(args);
}

} // namespace RdmMethods
