#include "beforeimage.h"
#include "interruption.h"
#include "rowwriter.h"
#include "undostore.h"

#include "catalogue.h"
#include "database.h"
#include "dberror.h"
#include "importhistory.h"
#include "importorigin.h"
#include "messages.h"
#include "transactionguard.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <sqlite3.h>

using UndoStore::Written;

namespace {

bool onPg(const QSqlDatabase &db)
{
    return Database::kindOf(db) == DbKind::PostgreSQL;
}

Status runSql(QSqlDatabase &db, const QString &sql, const QVariantList &binds, const QString &what, QSqlQuery *out = nullptr)
{
    QSqlQuery own(db);
    QSqlQuery &q = out ? *out : own;
    q.setForwardOnly(true);
    bool ok = binds.isEmpty() ? q.exec(sql) : q.prepare(sql);
    if (ok && !binds.isEmpty()) {
        for (int i = 0; i < binds.size(); ++i)
            q.bindValue(i, binds.at(i));
        ok = q.exec();
    }
    return ok ? okStatus() : Status::fail(DbError::describe(what, q.lastError()));
}

QString columns(const Catalogue::TableDef &t, const QString &alias = {})
{
    QStringList out;
    for (const FieldDef &f : t.columns)
        out << (alias.isEmpty() ? f.name : alias + QLatin1Char('.') + f.name);
    return out.join(QStringLiteral(", "));
}

const Catalogue::TableDef &table(const Written &w)
{
    return *Catalogue::table(QString::fromLatin1(w.table));
}

// A row's hash on SQLite: FNV-1a over each value's type and text, folded to 32 bits and never 0,
// so that a dish's hash (the sum over its rows) changes with any row added, removed or changed.
void sqliteRowHash(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    quint64 h = 14695981039346656037ull;
    const auto mix = [&h](unsigned char c) { h = (h ^ c) * 1099511628211ull; };
    for (int i = 0; i < argc; ++i) {
        mix(static_cast<unsigned char>(sqlite3_value_type(argv[i])));
        const unsigned char *text = sqlite3_value_text(argv[i]);
        for (int n = sqlite3_value_bytes(argv[i]), k = 0; text && k < n; ++k)
            mix(text[k]);
        mix(0xff);
    }
    sqlite3_result_int64(ctx, sqlite3_int64((h ^ (h >> 32)) & 0xffffffffu) + 1);
}

Status registerRowHash(QSqlDatabase &db)
{
    if (onPg(db))
        return okStatus();
    sqlite3 *handle = RdmMethods::Rows::sqliteHandle(db);
    if (!handle || sqlite3_create_function_v2(handle, "imp_hash_linha", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                              sqliteRowHash, nullptr, nullptr, nullptr) != SQLITE_OK)
        return Status::fail(QStringLiteral("Não foi possível preparar a comparação dos pratos."));
    return okStatus();
}

// Per dish of `keys`: the sum of its rows' hashes in the six tables (the destination branch's rows
// in the per-branch ones). Binds the branch once per per-branch table.
QString hashSelect(const QSqlDatabase &db, const QString &keys, QVariantList &binds, const QString &branch)
{
    QStringList parts;
    for (const Written &w : UndoStore::writtenTables()) {
        const Catalogue::TableDef &t = table(w);
        const QString hash = onPg(db)
            ? QStringLiteral("CAST(CAST('x' || SUBSTR(MD5('%1' || CAST(T AS TEXT)), 1, 8) AS BIT(32)) AS INTEGER)").arg(t.name)
            : QStringLiteral("imp_hash_linha('%1', %2)").arg(t.name, columns(t, QStringLiteral("T")));
        parts << QStringLiteral("SELECT T.CDFILAUXPRAT, T.CDPRATO, %1 AS H FROM %2 T JOIN %3 K2 ON "
                                "T.CDFILAUXPRAT = K2.CDFILAUXPRAT AND T.CDPRATO = K2.CDPRATO%4")
                     .arg(hash, t.name, keys, w.perBranch ? QStringLiteral(" WHERE T.CDFILIAL = ?") : QString());
        if (w.perBranch)
            binds << branch;
    }
    return QStringLiteral("SELECT K.CDFILAUXPRAT, K.CDPRATO, COALESCE(SUM(H.H), 0) AS H FROM %1 K LEFT JOIN (%2) H "
                          "ON H.CDFILAUXPRAT = K.CDFILAUXPRAT AND H.CDPRATO = K.CDPRATO GROUP BY K.CDFILAUXPRAT, K.CDPRATO")
        .arg(keys, parts.join(QStringLiteral(" UNION ALL ")));
}

} // namespace

BeforeImage::BeforeImage(QSqlDatabase &db, QString keys, QString branch)
    : m_db(db), m_keys(std::move(keys)), m_branch(std::move(branch))
{
}

Status BeforeImage::keep(const QString &historyId, const QDateTime &when)
{
    const QString what = QStringLiteral("guardar o que a importação substitui");
    if (Status s = UndoStore::ensureTables(m_db); !s)
        return s;
    // Imports never keep at once: each holds its tables' lock (PostgreSQL) or the one writer's
    // place (SQLite) from before this to its commit.
    QSqlQuery next(m_db);
    if (Status s = runSql(m_db, QStringLiteral("SELECT COALESCE(MAX(NRDESFAZ), 0) + 1 FROM %1").arg(QLatin1String(UndoStore::kImports)),
                       {}, what, &next);
        !s)
        return s;
    m_number = next.next() ? next.value(0).toInt() : 1;
    next.finish();
    for (const Written &w : UndoStore::writtenTables()) {
        const Catalogue::TableDef &t = table(w);
        QVariantList binds{m_number};
        if (w.perBranch)
            binds << m_branch;
        const QString sql = QStringLiteral("INSERT INTO %1 (NRDESFAZ, %2) SELECT ?, %3 FROM %4 T JOIN %5 K ON "
                                           "T.CDFILAUXPRAT = K.CDFILAUXPRAT AND T.CDPRATO = K.CDPRATO%6")
                                .arg(UndoStore::shadowOf(t.name), columns(t), columns(t, QStringLiteral("T")), t.name, m_keys,
                                     w.perBranch ? QStringLiteral(" WHERE T.CDFILIAL = ?") : QString());
        if (Status s = runSql(m_db, sql, binds, what); !s)
            return s;
    }
    return runSql(m_db,
               QStringLiteral("INSERT INTO %1 (CDHISTIMPO, NRDESFAZ, DTIMPORTACAO, CDFILIAL, QTPRATOSUBS, IDSITUACAO) "
                              "SELECT ?, ?, ?, ?, COUNT(*), 'A' FROM %2 WHERE NRDESFAZ = ?")
                   .arg(QLatin1String(UndoStore::kImports), UndoStore::shadowOf(QStringLiteral("PRATO"))),
               {historyId, m_number, when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), m_branch, m_number},
               what);
}

Status BeforeImage::seal()
{
    if (m_number == 0)
        return okStatus();
    if (Status s = registerRowHash(m_db); !s)
        return s;
    QVariantList binds{m_number};
    const QString select = hashSelect(m_db, m_keys, binds, m_branch);
    return runSql(m_db,
               QStringLiteral("INSERT INTO %1 (NRDESFAZ, CDFILAUXPRAT, CDPRATO, QTHASH) SELECT ?, X.CDFILAUXPRAT, X.CDPRATO, X.H "
                              "FROM (%2) X")
                   .arg(QLatin1String(UndoStore::kDishes), select),
               binds, QStringLiteral("guardar o que a importação substitui"));
}

namespace RdmMethods {

namespace {

using Payload = Result<QByteArray>;

Failure refusal(const QString &key, const QString &text)
{
    return Failure{text, key, {}};
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

    QSqlDatabase &m_db;
    QString m_id;
    ImportHistory::Entry m_import;
    ImportHistory::Entry m_undo;
    int m_number = 0;
    QString m_branch;
    int m_replaced = 0;
    int m_written = 0;
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
    if (Status s = runSql(m_db,
                       QStringLiteral("SELECT NRDESFAZ, CDFILIAL, QTPRATOSUBS, IDSITUACAO FROM %1 WHERE CDHISTIMPO = ?%2")
                           .arg(QLatin1String(UndoStore::kImports), onPg(m_db) ? QStringLiteral(" FOR UPDATE") : QString()),
                       {m_id}, m_what, &q);
        !s)
        return s;
    const QString state = q.next() ? q.value(3).toString().trimmed() : QStringLiteral("P");
    if (state == QLatin1String("D"))
        return Status::fail(refusal(QStringLiteral("Desf_JaDesfeita"), Msg(QStringLiteral("Desf_JaDesfeita")).arg(m_id)));
    if (state != QLatin1String("A"))
        return Status::fail(refusal(QStringLiteral("Desf_NaoGuardada"), Msg(QStringLiteral("Desf_NaoGuardada")).arg(m_id)));
    m_number = q.value(0).toInt();
    m_branch = q.value(1).toString().trimmed();
    m_replaced = q.value(2).toInt();
    return keys();
}

// The written dishes' keys, in a temporary table of the transaction.
Status Undo::keys()
{
    const bool pg = onPg(m_db);
    m_keys = pg ? QStringLiteral("IMP_DESF") : QStringLiteral("temp.IMP_DESF");
    const QStringList make = pg ? QStringList{QStringLiteral("CREATE TEMPORARY TABLE IMP_DESF (CDFILAUXPRAT VARCHAR(4), "
                                                             "CDPRATO VARCHAR(10)) ON COMMIT DROP")}
                                : QStringList{QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS IMP_DESF (CDFILAUXPRAT TEXT NOT NULL, "
                                                             "CDPRATO TEXT NOT NULL, PRIMARY KEY (CDFILAUXPRAT, CDPRATO)) WITHOUT ROWID"),
                                              QStringLiteral("DELETE FROM temp.IMP_DESF")};
    for (const QString &sql : make) {
        if (Status s = runSql(m_db, sql, {}, m_what); !s)
            return s;
    }
    QSqlQuery q(m_db);
    if (Status s = runSql(m_db, QStringLiteral("INSERT INTO %1 (CDFILAUXPRAT, CDPRATO) SELECT CDFILAUXPRAT, CDPRATO FROM %2 WHERE NRDESFAZ = ?")
                                 .arg(m_keys, QLatin1String(UndoStore::kDishes)),
                       {m_number}, m_what, &q);
        !s)
        return s;
    m_written = q.numRowsAffected();
    return okStatus();
}

Result<QStringList> Undo::changed()
{
    if (Status s = registerRowHash(m_db); !s)
        return Result<QStringList>::fail(s.failure());
    QVariantList binds;
    const QString now = hashSelect(m_db, m_keys, binds, m_branch);
    binds << m_number;
    QSqlQuery q(m_db);
    if (Status s = runSql(m_db,
                       QStringLiteral("SELECT X.CDPRATO FROM (%1) X JOIN %2 D ON D.CDFILAUXPRAT = X.CDFILAUXPRAT "
                                      "AND D.CDPRATO = X.CDPRATO WHERE D.NRDESFAZ = ? AND D.QTHASH <> X.H ORDER BY X.CDPRATO")
                           .arg(now, QLatin1String(UndoStore::kDishes)),
                       binds, m_what, &q);
        !s)
        return Result<QStringList>::fail(s.failure());
    QStringList out;
    while (q.next())
        out << q.value(0).toString().trimmed();
    return out;
}

Status Undo::restore()
{
    for (const Written &w : UndoStore::writtenTables()) {
        const Catalogue::TableDef &t = table(w);
        QVariantList binds;
        if (w.perBranch)
            binds << m_branch;
        if (Status s = runSql(m_db,
                           QStringLiteral("DELETE FROM %1 WHERE %2(CDFILAUXPRAT, CDPRATO) IN (SELECT CDFILAUXPRAT, CDPRATO FROM %3)")
                               .arg(t.name, w.perBranch ? QStringLiteral("CDFILIAL = ? AND ") : QString(), m_keys),
                           binds, m_what);
            !s)
            return s;
    }
    pausePoint("pratos");
    for (const Written &w : UndoStore::writtenTables()) {
        const Catalogue::TableDef &t = table(w);
        QSqlQuery q(m_db);
        if (Status s = runSql(m_db,
                           QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3 WHERE NRDESFAZ = ?")
                               .arg(t.name, columns(t), UndoStore::shadowOf(t.name)),
                           {m_number}, m_what, &q);
            !s)
            return s;
        m_undo.rows.append({t.name, q.numRowsAffected()});
    }
    // What was kept has served: only the import's row stays, marked undone.
    for (const QString &store : UndoStore::tableNames().mid(1)) {
        if (Status s = runSql(m_db, QStringLiteral("DELETE FROM %1 WHERE NRDESFAZ = ?").arg(store), {m_number}, m_what); !s)
            return s;
    }
    if (!onPg(m_db))
        return runSql(m_db, QStringLiteral("DROP TABLE temp.IMP_DESF"), {}, m_what);
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
                         .arg(m_id, m_import.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (Status s = ImportHistory::insert(m_db, m_undo); !s)
        return s;
    return runSql(m_db, QStringLiteral("UPDATE %1 SET IDSITUACAO = 'D', CDHISTDESF = ? WHERE NRDESFAZ = ?").arg(QLatin1String(UndoStore::kImports)),
               {m_undo.id, m_number}, m_what);
}

QByteArray Undo::payload() const
{
    QJsonObject o;
    o.insert(QStringLiteral("undo"), m_undo.id);
    o.insert(QStringLiteral("import"), m_id);
    o.insert(QStringLiteral("dishes_deleted"), m_written);
    o.insert(QStringLiteral("dishes_restored"), m_replaced);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

Result<QByteArray> desfazer(QSqlDatabase &db, const CallArgs &args)
{
    if (args.size() != 1 || !CallArg::isText(args.at(0)) || args.at(0).toString().trimmed().isEmpty()
        || args.at(0).toString().size() > 36)
        return Payload::fail(Msg(QStringLiteral("Srv_ArgumentoInvalido"))
                                 .arg(QStringLiteral("Desfazer"), QStringLiteral("o código da importação no histórico")));
    TransactionGuard tx(db);
    if (!tx.begun())
        return Payload::fail(tx.failure());
    pausePoint("inicio");
    // Imports and undos of the same tables go one at a time (SQLite has one writer anyway).
    if (onPg(db)) {
        if (Status s = runSql(db, QStringLiteral("LOCK TABLE PRATO, RECEPADR, RECEFILI, RECESERV, PRATPADR, PRATFILI "
                                              "IN SHARE ROW EXCLUSIVE MODE"),
                           {}, QStringLiteral("desfazer a importação"));
            !s)
            return Payload::fail(s.failure());
    }
    Undo undo(db, args.at(0).toString().trimmed());
    if (Status s = undo.check(); !s)
        return Payload::fail(s.failure());
    const auto changed = undo.changed();
    if (!changed)
        return Payload::fail(changed.failure());
    if (!changed->isEmpty()) {
        const QStringList shown = changed->mid(0, 20);
        QString names = shown.join(QStringLiteral(", "));
        if (changed->size() > shown.size())
            names += Msg(QStringLiteral("Desf_EMais")).arg(changed->size() - shown.size());
        return Payload::fail(refusal(QStringLiteral("Desf_Alterados"),
                                     Msg(QStringLiteral("Desf_Alterados")).arg(args.at(0).toString().trimmed()).arg(changed->size()).arg(names)));
    }
    Status s = undo.restore();
    if (s)
        s = undo.record();
    if (s) {
        pausePoint("antes-commit");
        s = stopPoint();
    }
    if (s) {
        s = tx.commit();
        if (s)
            pausePoint("depois-commit");
    }
    if (!s)
        return Payload::fail(s.failure());
    return undo.payload();
}

} // namespace RdmMethods
