#include "destinationreader.h"
#include "undoimport.h"
#include "interruption.h"
#include "rowhash.h"
#include "rowwriter.h"
#include "undosql.h"

#include "ambiente.h"
#include "importhistory.h"
#include "importorigin.h"
#include "messages.h"
#include "rdmcalls.h"
#include "transactionguard.h"

#include <QHash>
#include <QUuid>

namespace RdmMethods {

namespace {

using Payload = Result<QByteArray>;
using UndoStore::Written;

Failure refusal(const QString &key, const QString &text)
{
    return Failure{text, key, {}};
}

// A written table as the import kept it: its place, and the columns it wrote.
struct Touched {
    int table = -1;
    QStringList columns;
};

// "PRATO=A,B;RECEPADR=C" as DESFIMPO keeps it.
QList<Touched> touchedTables(const QString &text)
{
    QList<Touched> out;
    for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        Touched t;
        t.table = UndoStore::indexOf(QStringView(part).left(eq));
        if (eq < 0 || t.table < 0)
            continue;
        t.columns = part.mid(eq + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
        out << t;
    }
    return out;
}

// A value read back, as the import hashed what it sent (rowhash.h): PostgreSQL's decimals and
// times come as text of a fixed form, SQLite's numbers as the doubles or integers it keeps.
void hashValue(RowHash &h, const QVariant &v, const FieldDef &f, bool pg)
{
    if (v.isNull())
        h.null();
    else if (pg && f.kind == FieldKind::DateTime)
        h.timestamp(v.toString().toUtf8());
    else if (pg && f.kind != FieldKind::Text)
        h.decimal(v.toString().toUtf8());
    else if (f.kind == FieldKind::Text || v.typeId() == QMetaType::QString)
        h.text(v.toString().toUtf8());
    else
        h.number(v.toDouble(), f.kind == FieldKind::Number && f.precision > 0 ? f.scale : -1);
}

// A dish's key as the hashes of its rows are gathered under it.
QByteArray dishKey(const QVariant &aux, const QVariant &prato)
{
    return aux.toString().toUtf8() + char(0x1F) + prato.toString().toUtf8();
}

// One undo, inside its transaction.
class Undo {
public:
    Undo(QSqlDatabase &db, QString id) : m_db(db), m_id(std::move(id)) {}

    // Whether the import can be undone at all: a written import, kept, not undone.
    Status check();
    // The written dishes whose rows changed since the import, by CDPRATO.
    Result<QStringList> changed();
    // Deletes what the import wrote and puts back what it replaced.
    Status restore();
    // The undo's history row, and the import marked as undone by it.
    Status record();
    QByteArray payload() const;

private:
    Status keys();
    Status keysPg();
    Status keysSqlite();
    // Adds the hashes of the rows the dishes hold now in one written table to `now`.
    Status hashTable(const Touched &t, QHash<QByteArray, quint64> &now);
    QString tableFilter(const Written &w, int table) const;

    QSqlDatabase &m_db;
    QString m_id;
    ImportHistory::Entry m_import;
    ImportHistory::Entry m_undo;
    int m_number = 0;
    QString m_branch;
    int m_replaced = 0;
    int m_written = 0;
    QList<Touched> m_tables;
    std::vector<UndoStore::KeptDish> m_dishes;
    QString m_keys;
    const QString m_what = QStringLiteral("desfazer a importação");
};

Status Undo::check()
{
    auto found = ImportHistory::find(m_db, m_id);
    if (!found)
        return Status::fail(found.failure());
    if (!found->has_value())
        return Status::fail(refusal(QStringLiteral("Desf_NaoEncontrada"), Msg(QStringLiteral("Desf_NaoEncontrada")).arg(m_id)));
    m_import = **found;
    if (m_import.kind == ImportHistory::Entry::Kind::Undo)
        return Status::fail(refusal(QStringLiteral("Desf_DeDesfazer"), Msg(QStringLiteral("Desf_DeDesfazer"))));
    if (m_import.kind != ImportHistory::Entry::Kind::Import)
        return Status::fail(refusal(QStringLiteral("Desf_NaoImportacao"), Msg(QStringLiteral("Desf_NaoImportacao")).arg(m_id)));
    if (!m_import.ok)
        return Status::fail(refusal(QStringLiteral("Desf_Falhou"), Msg(QStringLiteral("Desf_Falhou")).arg(m_id)));
    if (Status s = UndoStore::ensureTables(m_db); !s)
        return s;
    // The import's row stays locked to this undo: a prune waits for it, and finds it undone.
    QSqlQuery q(m_db);
    const QString sql = QStringLiteral("SELECT NRDESFAZ, CDFILIAL, QTPRATOSUBS, IDSITUACAO, DSCOLUNAS, DSPRATOS FROM %1 "
                                       "WHERE CDHISTIMPO = ?%2")
                            .arg(QLatin1String(UndoStore::kImports), UndoSql::onPg(m_db) ? QStringLiteral(" FOR UPDATE") : QString());
    if (Status s = UndoSql::run(m_db, sql, {m_id}, m_what, &q); !s)
        return s;
    const QString state = q.next() ? q.value(3).toString().trimmed() : QStringLiteral("P");
    if (state == QLatin1String("D"))
        return Status::fail(refusal(QStringLiteral("Desf_JaDesfeita"), Msg(QStringLiteral("Desf_JaDesfeita")).arg(m_id)));
    if (state != QLatin1String("A"))
        return Status::fail(refusal(QStringLiteral("Desf_NaoGuardada"), Msg(QStringLiteral("Desf_NaoGuardada")).arg(m_id)));
    m_number = q.value(0).toInt();
    m_branch = q.value(1).toString().trimmed();
    m_replaced = q.value(2).toInt();
    m_tables = touchedTables(q.value(4).toString());
    auto dishes = UndoStore::unpackDishes(q.value(5).toByteArray());
    q.finish();
    if (!dishes)
        return Status::fail(DbError::describe(m_what, {}, QStringLiteral("DSPRATOS ilegível")));
    m_dishes = std::move(*dishes);
    return keys();
}

// The written dishes' keys and tables, in a temporary table of the transaction.
Status Undo::keys()
{
    const bool pg = UndoSql::onPg(m_db);
    m_keys = pg ? QStringLiteral("IMP_DESF") : QStringLiteral("temp.IMP_DESF");
    const QStringList make = pg ? QStringList{QStringLiteral("CREATE TEMPORARY TABLE IMP_DESF (CDFILAUXPRAT VARCHAR(4), "
                                                             "CDPRATO VARCHAR(10), IDTABELAS SMALLINT) ON COMMIT DROP")}
                                : QStringList{QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS IMP_DESF (CDFILAUXPRAT TEXT NOT NULL, "
                                                             "CDPRATO TEXT NOT NULL, IDTABELAS INTEGER NOT NULL, "
                                                             "PRIMARY KEY (CDFILAUXPRAT, CDPRATO)) WITHOUT ROWID"),
                                              QStringLiteral("DELETE FROM temp.IMP_DESF")};
    for (const QString &sql : make) {
        if (Status s = UndoSql::run(m_db, sql, {}, m_what); !s)
            return s;
    }
    if (Status s = pg ? keysPg() : keysSqlite(); !s)
        return s;
    m_written = int(m_dishes.size());
    if (pg)
        return UndoSql::run(m_db, QStringLiteral("ANALYZE IMP_DESF"), {}, m_what);
    return okStatus();
}

Status Undo::keysPg()
{
    PGconn *conn = RdmMethods::Rows::pgHandle(m_db);
    RdmMethods::Rows::PgCopy copy(conn, QStringLiteral("COPY IMP_DESF (CDFILAUXPRAT, CDPRATO, IDTABELAS) FROM STDIN"));
    RdmMethods::Rows::Cells row(3);
    for (RdmMethods::Rows::Cell &c : row)
        c.kind = RdmMethods::Rows::Cell::Text;
    bool ok = copy.begin();
    for (size_t i = 0; ok && i < m_dishes.size(); ++i) {
        row[0].text = m_dishes[i].aux;
        row[1].text = m_dishes[i].code;
        row[2].setOwn(QByteArray::number(m_dishes[i].tables));
        ok = copy.add(row);
    }
    if (ok && copy.end())
        return okStatus();
    copy.abort();
    return Status::fail(DbError::describe(m_what, {}, copy.error()));
}

Status Undo::keysSqlite()
{
    RdmMethods::Rows::SqliteStatement add(m_db, QStringLiteral("INSERT INTO temp.IMP_DESF (CDFILAUXPRAT, CDPRATO, IDTABELAS) "
                                                               "VALUES (?, ?, ?)"));
    bool ok = add.ok();
    for (size_t i = 0; ok && i < m_dishes.size(); ++i) {
        add.bindUtf8(1, m_dishes[i].aux);
        add.bindUtf8(2, m_dishes[i].code);
        add.bindInt64(3, m_dishes[i].tables);
        ok = add.step();
    }
    return ok ? okStatus() : Status::fail(DbError::describe(m_what, {}, add.error()));
}

// The join condition of a written table's rows to the dishes the import wrote into it.
QString Undo::tableFilter(const Written &w, int table) const
{
    return QStringLiteral("(K.IDTABELAS & %1) <> 0%2")
        .arg(UndoSql::bitOf(table))
        .arg(w.perBranch ? QStringLiteral(" AND T.CDFILIAL = ?") : QString());
}

Status Undo::hashTable(const Touched &t, QHash<QByteArray, quint64> &now)
{
    const Written &w = UndoStore::writtenTables().at(t.table);
    const Catalogue::TableDef &def = UndoSql::table(w);
    const bool pg = UndoSql::onPg(m_db);
    // What each value is read as: PostgreSQL gives its decimals and times as text of a fixed form.
    QStringList exprs{QStringLiteral("T.CDFILAUXPRAT"), QStringLiteral("T.CDPRATO")};
    std::vector<const FieldDef *> fields;
    for (const QString &name : t.columns) {
        const int c = def.indexOf(name);
        if (c < 0)
            return Status::fail(DbError::describe(m_what, {}, QStringLiteral("coluna desconhecida: %1").arg(name)));
        const FieldDef &f = def.columns.at(c);
        fields.push_back(&f);
        QString e = QStringLiteral("T.") + f.name;
        if (pg && f.kind == FieldKind::DateTime)
            e = QStringLiteral("to_char(%1, 'YYYY-MM-DD HH24:MI:SS.US')").arg(e);
        else if (pg && f.kind != FieldKind::Text)
            e = QStringLiteral("CAST(%1 AS TEXT)").arg(e);
        exprs << e;
    }
    QSqlQuery q(m_db);
    const QString sql = QStringLiteral("SELECT %1 FROM %2 T JOIN %3 K ON T.CDFILAUXPRAT = K.CDFILAUXPRAT AND T.CDPRATO = K.CDPRATO "
                                       "WHERE %4")
                            .arg(exprs.join(QStringLiteral(", ")), def.name, m_keys, tableFilter(w, t.table));
    if (Status s = UndoSql::run(m_db, sql, w.perBranch ? QVariantList{m_branch} : QVariantList{}, m_what, &q); !s)
        return s;
    while (q.next()) {
        RowHash h(t.table);
        for (size_t i = 0; i < fields.size(); ++i)
            hashValue(h, q.value(int(i) + 2), *fields[i], pg);
        now[dishKey(q.value(0), q.value(1))] += h.value();
    }
    return okStatus();
}

Result<QStringList> Undo::changed()
{
    using R = Result<QStringList>;
    QHash<QByteArray, quint64> now;
    for (const Touched &t : std::as_const(m_tables)) {
        if (Status s = hashTable(t, now); !s)
            return R::fail(s.failure());
    }
    QStringList out;
    for (const UndoStore::KeptDish &d : m_dishes) {
        if (now.value(d.aux + char(0x1F) + d.code) != d.hash)
            out << QString::fromUtf8(d.code);
    }
    out.sort();
    return out;
}

Status Undo::restore()
{
    for (const Touched &t : std::as_const(m_tables)) {
        const Written &w = UndoStore::writtenTables().at(t.table);
        QVariantList binds;
        if (w.perBranch)
            binds << m_branch;
        binds << UndoSql::bitOf(t.table);
        if (Status s = UndoSql::run(m_db,
                                    QStringLiteral("DELETE FROM %1 WHERE %2(CDFILAUXPRAT, CDPRATO) IN (SELECT CDFILAUXPRAT, CDPRATO "
                                                   "FROM %3 WHERE (IDTABELAS & ?) <> 0)")
                                        .arg(QLatin1String(w.table), w.perBranch ? QStringLiteral("CDFILIAL = ? AND ") : QString(), m_keys),
                                    binds, m_what);
            !s)
            return s;
    }
    pausePoint("pratos");
    for (const Touched &t : std::as_const(m_tables)) {
        const Catalogue::TableDef &def = UndoSql::table(UndoStore::writtenTables().at(t.table));
        const QString cols = UndoSql::columnList(UndoSql::allColumns(def));
        QSqlQuery q(m_db);
        if (Status s = UndoSql::run(m_db,
                                    QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3 WHERE NRDESFAZ = ?")
                                        .arg(def.name, cols, UndoStore::shadowOf(def.name)),
                                    {m_number}, m_what, &q);
            !s)
            return s;
        m_undo.rows.append({def.name, q.numRowsAffected()});
    }
    // What was kept has served: only the import's row stays, marked undone.
    for (const QString &store : UndoStore::tableNames().mid(1)) {
        if (Status s = UndoSql::run(m_db, QStringLiteral("DELETE FROM %1 WHERE NRDESFAZ = ?").arg(store), {m_number}, m_what); !s)
            return s;
    }
    if (!UndoSql::onPg(m_db))
        return UndoSql::run(m_db, QStringLiteral("DROP TABLE temp.IMP_DESF"), {}, m_what);
    return okStatus();
}

Status Undo::record()
{
    const ImportOrigin &origin = ImportOrigin::current();
    m_undo.kind = ImportHistory::Entry::Kind::Undo;
    m_undo.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_undo.when = QDateTime::currentDateTimeUtc();
    m_undo.operatorCode = origin.operatorCode;
    m_undo.branch = m_import.branch;
    m_undo.fileName = m_import.fileName;
    m_undo.ok = true;
    m_undo.dishesWritten = m_replaced;
    m_undo.message = Msg(QStringLiteral("Desf_Historico"))
                         .arg(m_id, m_import.when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (Status s = ImportHistory::insert(m_db, m_undo); !s)
        return s;
    return UndoSql::run(m_db,
                        QStringLiteral("UPDATE %1 SET IDSITUACAO = 'D', CDHISTDESF = ?, DSPRATOS = NULL WHERE NRDESFAZ = ?")
                            .arg(QLatin1String(UndoStore::kImports)),
                        {m_undo.id, m_number}, m_what);
}

QByteArray Undo::payload() const
{
    UndoSummary summary;
    summary.undoId = m_undo.id;
    summary.importId = m_id;
    summary.dishesDeleted = m_written;
    summary.dishesRestored = m_replaced;
    return summary.encode();
}

// The refusal that names the changed dishes as the destination writes its codes, the first 20
// and how many more.
Failure changedSince(QSqlDatabase &db, const QString &id, const QStringList &changed)
{
    const QString names = dishCodeList(changed, readDishPicture(db).value_or(QString()), 20);
    return refusal(QStringLiteral("Desf_Alterados"), Msg(QStringLiteral("Desf_Alterados")).arg(id).arg(changed.size()).arg(names));
}

// Checks, restores and records inside the begun transaction; commits. Only checking, it stops
// before the restore, and the transaction is rolled back with nothing written.
Status undoIn(QSqlDatabase &db, TransactionGuard &tx, Undo &undo, const QString &id, bool onlyCheck)
{
    // Imports and undos of the same tables go one at a time (SQLite has one writer anyway).
    if (UndoSql::onPg(db) && !onlyCheck) {
        if (Status s = UndoSql::run(db, QStringLiteral("LOCK TABLE PRATO, RECEPADR, RECEFILI, RECESERV, PRATPADR, PRATFILI "
                                                       "IN SHARE ROW EXCLUSIVE MODE"),
                                    {}, QStringLiteral("desfazer a importação"));
            !s)
            return s;
    }
    if (Status s = undo.check(); !s)
        return s;
    const auto changed = undo.changed();
    if (!changed)
        return Status::fail(changed.failure());
    if (!changed->isEmpty())
        return Status::fail(changedSince(db, id, changed.value()));
    if (onlyCheck)
        return okStatus();
    Status s = undo.restore();
    if (s)
        s = undo.record();
    if (s) {
        pausePoint("antes-commit");
        s = stopPoint();
    }
    if (!s)
        return s;
    s = tx.commit();
    if (s)
        pausePoint("depois-commit");
    // A connection lost on the commit leaves the outcome with the database.
    if (!s && s.failure().key == QLatin1String("BD_ConexaoPerdida"))
        return Status::fail(Failure{Msg(QStringLiteral("Desf_ConfirmacaoIncerta")), QStringLiteral("Desf_ConfirmacaoIncerta"),
                                    s.failure().detail});
    return s;
}

} // namespace

Result<QByteArray> desfazer(QSqlDatabase &db, const CallArgs &args)
{
    // The history id, and a flag that asks only whether the import can still be undone: the same
    // checks and the same refusals, nothing written.
    const bool flagged = args.size() == 2 && (CallArg::isBool(args.at(1)) || CallArg::isInteger(args.at(1)));
    if ((args.size() != 1 && !flagged) || !CallArg::isText(args.at(0)) || args.at(0).toString().trimmed().isEmpty()
        || args.at(0).toString().size() > 36)
        return Payload::fail(Msg(QStringLiteral("Srv_ArgumentoInvalido"))
                                 .arg(QStringLiteral("Desfazer"), QStringLiteral("o código da importação no histórico")));
    const QString id = args.at(0).toString().trimmed();
    TransactionGuard tx(db);
    if (!tx.begun())
        return Payload::fail(tx.failure());
    pausePoint("inicio");
    Undo undo(db, id);
    const bool onlyCheck = flagged && (CallArg::isBool(args.at(1)) ? args.at(1).toBool() : args.at(1).toLongLong() != 0);
    if (Status s = undoIn(db, tx, undo, id, onlyCheck); !s)
        return Payload::fail(s.failure());
    return undo.payload();
}

} // namespace RdmMethods
