#include "schema.h"
#include "appserver.h"
#include "database.h"
#include "importhistory.h"
#include "undostore.h"
#include "transactionguard.h"

#include <QSqlError>
#include <QSqlQuery>

namespace Schema {

QString columnType(const FieldDef &f, DbKind kind)
{
    switch (f.kind) {
    case FieldKind::Text:
        return QStringLiteral("VARCHAR(%1)").arg(f.width > 0 ? f.width : 255);
    case FieldKind::Number:
        // The declared precision on both databases: PostgreSQL holds to it, SQLite only takes its
        // affinity from it, so the load pass keeps every value within it (rounded at the scale).
        if (f.precision > 0)
            return QStringLiteral("NUMERIC(%1,%2)").arg(f.precision).arg(f.scale);
        return QStringLiteral("NUMERIC");
    case FieldKind::DateTime:
        // SQLite keeps the text "YYYY-MM-DD HH:MM:SS"; PostgreSQL a timestamp without time zone.
        return kind == DbKind::PostgreSQL ? QStringLiteral("TIMESTAMP WITHOUT TIME ZONE")
                                          : QStringLiteral("TIMESTAMP");
    case FieldKind::Integer:
        return QStringLiteral("INTEGER");
    case FieldKind::Boolean:
        return QStringLiteral("SMALLINT");
    }
    return QStringLiteral("VARCHAR(255)");
}

namespace {

// The failure in words (read-only, disk full, locked...), the statement and the driver's text kept
// as its detail.
Status exec(QSqlDatabase &db, const QString &sql, const QVariantList &params = {},
            const QString &what = QStringLiteral("criar as tabelas do destino"))
{
    QSqlQuery q(db);
    const auto failed = [&] {
        Failure f = DbError::describe(what, q.lastError());
        f.detail = sql + QStringLiteral(": ") + f.detail;
        return Status::fail(std::move(f));
    };
    if (params.isEmpty()) {
        // PostgreSQL cannot prepare DDL; statements without parameters run as they are.
        if (!q.exec(sql))
            return failed();
        return okStatus();
    }
    if (!q.prepare(sql))
        return failed();
    for (int i = 0; i < params.size(); ++i)
        q.bindValue(i, params.at(i));
    if (!q.exec())
        return failed();
    return okStatus();
}

} // namespace

QStringList statements(const QSqlDatabase &db)
{
    const DbKind kind = Database::kindOf(db);
    QStringList out;
    for (const Catalogue::TableDef &t : Catalogue::tables()) {
        QStringList cols;
        for (const FieldDef &f : t.columns) {
            QString c = f.name + QLatin1Char(' ') + columnType(f, kind);
            if (t.key.contains(f.name))
                c += QLatin1String(" NOT NULL");
            cols << c;
        }
        cols << QStringLiteral("PRIMARY KEY (%1)").arg(t.key.join(QStringLiteral(", ")));
        out << QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\n  %2\n)").arg(t.name, cols.join(QStringLiteral(",\n  ")));
    }
    for (const Catalogue::TableDef &t : Catalogue::tables()) {
        for (int i = 0; i < t.indexes.size(); ++i) {
            out << QStringLiteral("CREATE INDEX IF NOT EXISTS IX_%1_%2 ON %1 (%3)")
                       .arg(t.name)
                       .arg(i + 1)
                       .arg(t.indexes.at(i).join(QStringLiteral(", ")));
        }
    }
    out << pairingsStatement(db);
    // The import history, written by the application server beside the catalogue's tables.
    out << ImportHistory::statements(kind);
    // What each import replaced, kept for its undo.
    out << UndoStore::statements(kind);
    return out;
}

// ---- Remembered service pairings ---------------------------------------------------------------

QString pairingsStatement(const QSqlDatabase &db)
{
    const DbKind kind = Database::kindOf(db);
    const QString stamp = kind == DbKind::PostgreSQL ? QStringLiteral("TIMESTAMP WITHOUT TIME ZONE")
                                                     : QStringLiteral("TIMESTAMP");
    // The origin name is part of the key: two installations may give one code to different
    // services, and a pairing must not follow a code to a service it was never made for.
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\n"
                          "  CDFILIAL VARCHAR(4) NOT NULL,\n"
                          "  CDSERVFILIORIG VARCHAR(5) NOT NULL,\n"
                          "  NMSERVICOORIG VARCHAR(40) NOT NULL,\n"
                          "  CDSERVFILIDEST VARCHAR(5) NOT NULL,\n"
                          "  DTULTATUPARE %2,\n"
                          "  PRIMARY KEY (CDFILIAL, CDSERVFILIORIG, NMSERVICOORIG)\n"
                          ")")
        .arg(QLatin1String(kPairingsTable), stamp);
}

bool hasPairingsTable(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    if (Database::kindOf(db) == DbKind::PostgreSQL) {
        // to_regclass answers null for a missing table instead of failing the transaction.
        q.prepare(QStringLiteral("SELECT to_regclass(CAST(? AS TEXT)) IS NOT NULL"));
        q.bindValue(0, QString::fromLatin1(kPairingsTable).toLower());
    } else {
        q.prepare(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = ?"));
        q.bindValue(0, QString::fromLatin1(kPairingsTable));
    }
    return q.exec() && q.next() && q.value(0).toBool();
}

Status create(QSqlDatabase db)
{
    TransactionGuard tx(db);
    if (!tx.begun())
        return Status::fail(tx.failure());
    if (Database::kindOf(db) == DbKind::PostgreSQL)
        exec(db, QStringLiteral("SET LOCAL client_min_messages TO WARNING")); // "already exists" notices
    for (const QString &sql : statements(db)) {
        if (Status s = exec(db, sql); !s)
            return s;
    }
    return tx.commit();
}

Status dropAll(QSqlDatabase db)
{
    for (const Catalogue::TableDef &t : Catalogue::tables()) {
        if (Status s = exec(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(t.name)); !s)
            return s;
    }
    if (Status s = exec(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(QLatin1String(kPairingsTable))); !s)
        return s;
    // The import history.
    if (Status s = exec(db, QStringLiteral("DROP TABLE IF EXISTS HISTIMPO")); !s)
        return s;
    for (const QString &table : UndoStore::tableNames()) {
        if (Status s = exec(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(table)); !s)
            return s;
    }
    return okStatus();
}

namespace {

struct SeedTable {
    const char *table;
    QList<QVariantList> rows;
};

// Dish codes are six digits, shown through the picture 999.999 as 123.456. Branch 0001 is the
// destination of the sample export file (samples/pratos-exemplo.txt), which comes from branch 0009.
QList<SeedTable> demoRows()
{
    const QVariant null;
    const QString date = QStringLiteral("2024-01-10 00:00:00");
    return {
        {"FILIAL",
         {{"0001", "RESTAURANTE MATRIZ", "N"},
          {"0002", "FILIAL CAMPINAS", "N"},
          {"0003", "FILIAL SANTOS", "S"},           // contract rescinded
          {"0004", "FILIAL RIBEIRÃO PRETO", "N"},   // ADMIN may not use it
          {"0005", "COZINHA CENTRAL", "N"}}},
        {"FILIOPER",
         {{"0001", "ADMIN"}, {"0002", "ADMIN"}, {"0003", "ADMIN"}, {"0005", "ADMIN"}, {"0004", "GERENTE"}}},
        {"SERVICO",
         {{"0001", "00001", "ALMOCO"},
          {"0001", "00002", "JANTAR"},
          {"0001", "00003", "CAFÉ DA MANHÃ"},
          {"0001", "00004", "CEIA"},
          {"0002", "00001", "ALMOCO"},
          {"0002", "00002", "JANTAR"},
          {"0005", "00001", "REFEIÇÃO TRANSPORTADA"}}},
        {"UNIDMEDIDA",
         {{"KG", "QUILOGRAMA"}, {"G", "GRAMA"}, {"L", "LITRO"}, {"ML", "MILILITRO"}, {"UN", "UNIDADE"},
          {"PORC", "PORÇÃO"}}},
        {"PRODUTO",
         {{"000101", "ARROZ BRANCO TIPO 1"},
          {"000102", "FEIJÃO CARIOCA"},
          {"000103", "CARNE BOVINA PATINHO"},
          {"000104", "FILÉ DE PEITO DE FRANGO"},
          {"000105", "ÓLEO DE SOJA"},
          {"000106", "SAL REFINADO"},
          {"000107", "CEBOLA"},
          {"000108", "ALHO"},
          {"000109", "TOMATE"},
          {"000110", "LEITE INTEGRAL"},
          {"000111", "AÇÚCAR REFINADO"},
          {"000112", "OVO"},
          {"000113", "MARACUJÁ"},
          {"000114", "CREME DE LEITE"}}},
        {"PARAMGERAL", {{"0001", "999.999"}}},
        {"PRATO",
         {{"P", "100001", "0001", "ARROZ BRANCO", "1", "KG", 0.05, date, null, null, date},
          {"0001", "000900", "0001", "PUDIM DE LEITE CONDENSADO", "1", "PORC", null, date, null, null, date},
          {"0001", "000901", "0001", "MOUSSE DE CHOCOLATE", "1", "PORC", null, date, null, null, date}}},
        {"RECEPADR", {{"P", "100001", "000101", "KG", 0.1}, {"P", "100001", "000106", "G", 2.0}}},
        {"PRATPADR", {{"P", "100001", "KG", 1.0}}},
        {"RECEFILI", {{"0001", "0001", "000901", "000113", "UN", 2.0}}},
        {"PRATFILI", {{"0001", "0001", "000901", 9.9, date}}},
    };
}

} // namespace

Status seedDemo(QSqlDatabase db)
{
    TransactionGuard tx(db);
    if (!tx.begun())
        return Status::fail(tx.failure());
    for (const SeedTable &seed : demoRows()) {
        const Catalogue::TableDef *def = Catalogue::table(QString::fromLatin1(seed.table));
        QStringList cols, marks;
        for (const FieldDef &f : def->columns) {
            cols << f.name;
            marks << QStringLiteral("?");
        }
        const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT DO NOTHING")
                                .arg(def->name, cols.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        for (const QVariantList &row : seed.rows) {
            QVariantList params;
            for (int i = 0; i < def->columns.size(); ++i) {
                QVariant v = i < row.size() ? row.at(i) : QVariant();
                if (v.isValid() && v.metaType().id() == QMetaType::Char)
                    v = QString(v.toChar());
                params << (v.isValid() && !v.isNull() ? v : QVariant(QMetaType::fromType<QString>()));
            }
            if (Status s = exec(db, sql, params, QStringLiteral("gravar os dados de demonstração")); !s)
                return s;
        }
    }
    return tx.commit();
}

} // namespace Schema
