#include "undostore.h"
#include "catalogue.h"
#include "dberror.h"
#include "schema.h"
#include "transactionguard.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QtEndian>

namespace UndoStore {

namespace {

constexpr const char *kWhenFormat = "yyyy-MM-dd HH:mm:ss.zzz";

QString when(const QDateTime &d)
{
    return d.toUTC().toString(QString::fromLatin1(kWhenFormat));
}

} // namespace

const QList<Written> &writtenTables()
{
    static const QList<Written> tables{{"PRATO", false},    {"RECEPADR", false}, {"RECEFILI", true},
                                       {"RECESERV", true},  {"PRATPADR", false}, {"PRATFILI", true}};
    return tables;
}

int indexOf(QStringView table)
{
    const QList<Written> &all = writtenTables();
    for (int i = 0; i < all.size(); ++i) {
        if (table == QLatin1String(all.at(i).table))
            return i;
    }
    return -1;
}

QString shadowOf(const QString &table)
{
    return QStringLiteral("ANT") + table;
}

QStringList tableNames()
{
    QStringList out{QLatin1String(kImports)};
    for (const Written &w : writtenTables())
        out << shadowOf(QLatin1String(w.table));
    return out;
}

void packDish(QByteArray &packed, QByteArrayView aux, QByteArrayView code, quint64 hash, quint8 tables)
{
    if (packed.isEmpty())
        packed.append("D1", 2); // the packing's version
    for (QByteArrayView key : {aux, code}) {
        packed.append(char(quint8(qMin<qsizetype>(key.size(), 255))));
        packed.append(key.first(qMin<qsizetype>(key.size(), 255)));
    }
    char bytes[8];
    qToLittleEndian(hash, bytes);
    packed.append(bytes, 8);
    packed.append(char(tables));
}

std::optional<std::vector<KeptDish>> unpackDishes(const QByteArray &packed)
{
    std::vector<KeptDish> out;
    if (packed.isEmpty())
        return out;
    if (!packed.startsWith("D1"))
        return std::nullopt;
    const auto *p = reinterpret_cast<const uchar *>(packed.constData());
    qsizetype at = 2;
    const auto key = [&](QByteArray &to) {
        if (at >= packed.size() || at + 1 + p[at] > packed.size())
            return false;
        to = packed.mid(at + 1, p[at]);
        at += 1 + p[at];
        return true;
    };
    while (at < packed.size()) {
        KeptDish d;
        if (!key(d.aux) || !key(d.code) || at + 9 > packed.size())
            return std::nullopt;
        d.hash = qFromLittleEndian<quint64>(p + at);
        d.tables = p[at + 8];
        at += 9;
        out.push_back(std::move(d));
    }
    return out;
}

QStringList statements(DbKind kind)
{
    const bool pg = kind == DbKind::PostgreSQL;
    QStringList out;
    for (const Written &w : writtenTables()) {
        const Catalogue::TableDef *t = Catalogue::table(QString::fromLatin1(w.table));
        QStringList cols{QStringLiteral("NRDESFAZ INTEGER NOT NULL")};
        for (const FieldDef &f : t->columns)
            cols << f.name + QLatin1Char(' ') + Schema::columnType(f, kind);
        out << QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\n  %2\n)").arg(shadowOf(t->name), cols.join(QStringLiteral(",\n  ")));
        // PostgreSQL: the numbers grow with the rows' place in the table, and a block-range index
        // finds one import's rows for a fraction of what a tree costs the import to keep up.
        out << (pg ? QStringLiteral("CREATE INDEX IF NOT EXISTS IX_%1_1 ON %1 USING brin (NRDESFAZ) WITH (autosummarize = on)")
                   : QStringLiteral("CREATE INDEX IF NOT EXISTS IX_%1_1 ON %1 (NRDESFAZ)"))
                   .arg(shadowOf(t->name));
    }
    out << QStringList{
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\n"
                       "  CDHISTIMPO VARCHAR(36) NOT NULL,\n"
                       "  NRDESFAZ INTEGER NOT NULL,\n"
                       "  DTIMPORTACAO %2 NOT NULL,\n"
                       "  CDFILIAL VARCHAR(4),\n"
                       "  QTPRATOSUBS INTEGER NOT NULL,\n"
                       "  IDSITUACAO VARCHAR(1) NOT NULL,\n"
                       "  CDHISTDESF VARCHAR(36),\n"
                       "  DSCOLUNAS TEXT NOT NULL,\n"
                       "  DSPRATOS %3,\n"
                       "  PRIMARY KEY (CDHISTIMPO),\n"
                       "  UNIQUE (NRDESFAZ)\n"
                       ")")
            .arg(QLatin1String(kImports), pg ? QStringLiteral("TIMESTAMP(3) WITHOUT TIME ZONE") : QStringLiteral("TIMESTAMP"),
                 pg ? QStringLiteral("BYTEA") : QStringLiteral("BLOB")),
    };
    return out;
}

Status ensureTables(QSqlDatabase &db)
{
    QSqlQuery probe(db);
    const DbKind kind = Database::kindOf(db);
    if (kind == DbKind::PostgreSQL) {
        // to_regclass answers null for a missing table instead of failing the transaction.
        probe.prepare(QStringLiteral("SELECT to_regclass(CAST(? AS TEXT)) IS NOT NULL"));
        probe.bindValue(0, QString::fromLatin1(kImports).toLower());
    } else {
        probe.prepare(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = ?"));
        probe.bindValue(0, QString::fromLatin1(kImports));
    }
    // Made last by statements(): with it, all the others are there.
    if (probe.exec() && probe.next() && probe.value(0).toBool())
        return okStatus();
    probe.finish();
    for (const QString &sql : statements(kind)) {
        QSqlQuery q(db);
        if (!q.exec(sql))
            return Status::fail(DbError::describe(QStringLiteral("criar as tabelas do desfazer importação"), q.lastError()));
    }
    return okStatus();
}

Result<QHash<QString, State>> states(QSqlDatabase db, const QDateTime &since)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool all = !since.isValid();
    bool ok = q.prepare(QStringLiteral("SELECT CDHISTIMPO, IDSITUACAO, QTPRATOSUBS, CDHISTDESF FROM %1%2")
                            .arg(QLatin1String(kImports), all ? QString() : QStringLiteral(" WHERE DTIMPORTACAO >= ?")));
    if (ok && !all)
        q.bindValue(0, when(since));
    QHash<QString, State> out;
    // A destination no import has reached since undo came has no such table: nothing to undo.
    if (!ok || !q.exec())
        return out;
    while (q.next()) {
        State s;
        const QString kind = q.value(1).toString().trimmed();
        s.kind = kind == QLatin1String("D") ? State::Undone : kind == QLatin1String("P") ? State::Pruned : State::Undoable;
        s.dishesReplaced = q.value(2).toInt();
        s.undoneBy = q.value(3).toString().trimmed();
        out.insert(q.value(0).toString().trimmed(), s);
    }
    return out;
}

Result<int> prune(QSqlDatabase db, const QDateTime &before)
{
    using R = Result<int>;
    const QString what = QStringLiteral("apagar o que as importações substituíram");
    // Nothing was ever kept on a destination without the tables.
    if (Status s = ensureTables(db); !s)
        return R::fail(s.failure());
    TransactionGuard tx(db);
    if (!tx.begun())
        return R::fail(tx.failure());
    // The imports first: an undo holds its import's row (FOR UPDATE on PostgreSQL) until it ends,
    // and finds it pruned after; an import pruned here is not undone meanwhile.
    QSqlQuery mark(db);
    if (!mark.prepare(QStringLiteral("UPDATE %1 SET IDSITUACAO = 'P', DSPRATOS = NULL WHERE IDSITUACAO = 'A' AND DTIMPORTACAO < ?")
                          .arg(QLatin1String(kImports))))
        return R::fail(DbError::describe(what, mark.lastError()));
    mark.bindValue(0, when(before));
    if (!mark.exec())
        return R::fail(DbError::describe(what, mark.lastError()));
    const int pruned = mark.numRowsAffected();
    for (const QString &table : tableNames().mid(1)) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("DELETE FROM %1 WHERE NRDESFAZ IN (SELECT NRDESFAZ FROM %2 WHERE IDSITUACAO = 'P')")
                        .arg(table, QLatin1String(kImports))))
            return R::fail(DbError::describe(what, q.lastError()));
    }
    if (Status s = tx.commit(); !s)
        return R::fail(s.failure());
    return pruned;
}

} // namespace UndoStore
