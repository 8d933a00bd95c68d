#include "rdmimpoprato.h"
#include "preview.h"
#include "undoimport.h"
#include "database.h"
#include "datapacket.h"
#include "dberror.h"
#include "driverhandle.h"
#include "framework.h"
#include "interruption.h"
#include "messages.h"
#include "memtable.h"
#include "transactionguard.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

#include <optional>

struct RdmMethods::Prepared::LiteStatement {
    sqlite3_stmt *stmt = nullptr;
};

void RdmMethods::Prepared::LiteDeleter::operator()(LiteStatement *s) const
{
    if (s)
        sqlite3_finalize(s->stmt);
    delete s;
}

// ---------------------------------------------------------------------------------------------
// The methods

namespace RdmMethods {

namespace {

constexpr const char *kProgram = "IMP40500";

using Payload = Result<QByteArray>;

Payload fail(const QString &text) { return Payload::fail(text); }

Status argCount(const QString &method, const CallArgs &args, int n)
{
    if (args.size() != n)
        return Status::fail(Msg(QStringLiteral("Srv_Argumentos")).arg(method).arg(n).arg(args.size()),
                            QStringLiteral("Srv_Argumentos"));
    return okStatus();
}

const Catalogue::TableDef &def(const char *name)
{
    return *Catalogue::table(QString::fromLatin1(name));
}

QByteArray emptyPacket(const Catalogue::TableDef &t)
{
    MemTable table(t.name);
    table.setFields(Catalogue::packetFields(t));
    table.createDataSet();
    return DataPacket::save(table);
}

// Rows of a query as a packet whose columns are `fields`, in the order the query selects them.
Payload rowsPacket(QSqlDatabase &db, const QString &name, const QList<FieldDef> &fields, const QString &sql,
                   const QVariantList &params)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return Payload::fail(DbError::describe(QStringLiteral("ler %1").arg(name), q.lastError()));
    for (int i = 0; i < params.size(); ++i)
        q.bindValue(i, params.at(i));
    if (!q.exec())
        return Payload::fail(DbError::describe(QStringLiteral("ler %1").arg(name), q.lastError()));
    return Catalogue::packRows(q, name, fields);
}

QString columnList(const QList<FieldDef> &fields)
{
    QStringList names;
    for (const FieldDef &f : fields)
        names << f.name;
    return names.join(QStringLiteral(", "));
}

Payload getDiretorios(QSqlDatabase &db)
{
    const auto &t = def("DIRETORIOS");
    return rowsPacket(db, t.name, t.columns,
                      QStringLiteral("SELECT %1 FROM DIRETORIOS WHERE CDPROGRAMA = ? ORDER BY CDPROGRAMA")
                          .arg(columnList(t.columns)),
                      {QString::fromLatin1(kProgram)});
}

Payload getParamGeral(QSqlDatabase &db)
{
    // The first row is the current one; ordering by branch keeps "first" the same on every call.
    const auto &t = def("PARAMGERAL");
    return rowsPacket(db, t.name, t.columns,
                      QStringLiteral("SELECT %1 FROM PARAMGERAL ORDER BY CDFILIAL").arg(columnList(t.columns)), {});
}

// Binds a code as the driver does: as UTF-16 text, an empty one as '' (never as NULL).
int bindCode(sqlite3_stmt *stmt, int index, const QString &code)
{
    return sqlite3_bind_text16(stmt, index, code.unicode(), int(code.size() * sizeof(QChar)), SQLITE_STATIC);
}

// The dish lookup on the SQLite statement the connection keeps: the rows found, as
// Catalogue::packRows gives them (text, NULL as null), or nothing for the common case of a free
// code (`found` false).
Payload pesqPratoLite(sqlite3 *h, RdmMethods::Prepared &prepared, const QString &sql, const QString &code,
                      const QString &branch, const QList<FieldDef> &fields, bool &found)
{
    found = false;
    if (!prepared.pesqPratoLite) {
        sqlite3_stmt *stmt = nullptr;
        const QByteArray text = sql.toUtf8();
        const int rc = sqlite3_prepare_v3(h, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(stmt);
            return Payload::fail(DbError::describe(QStringLiteral("ler PESQPRATO"), QString::number(rc),
                                                   QString::fromUtf8(sqlite3_errmsg(h))));
        }
        prepared.pesqPratoLite.reset(new RdmMethods::Prepared::LiteStatement{stmt});
    }
    sqlite3_stmt *stmt = prepared.pesqPratoLite->stmt;
    // Left as it was however the call ends: reset, the codes unbound (they are the caller's).
    struct Done {
        sqlite3_stmt *stmt;
        ~Done()
        {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    };
    int rc = bindCode(stmt, 1, code);
    if (rc == SQLITE_OK)
        rc = bindCode(stmt, 2, branch);
    std::optional<MemTable> rows;
    {
        const Done done{stmt};
        while (rc == SQLITE_OK || rc == SQLITE_ROW) {
            rc = sqlite3_step(stmt);
            if (rc != SQLITE_ROW)
                break;
            if (!rows) {
                rows.emplace(QStringLiteral("PESQPRATO"));
                rows->setFields(fields);
                rows->createDataSet();
                rows->beginBulkLoad();
            }
            QVariantList row;
            for (int i = 0; i < int(fields.size()); ++i) {
                if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
                    row << QVariant();
                    continue;
                }
                const void *chars = sqlite3_column_text16(stmt, i);
                const int bytes = sqlite3_column_bytes16(stmt, i);
                row << QVariant(QString(static_cast<const QChar *>(chars), bytes / int(sizeof(QChar))));
            }
            rows->bulkAppendRow(row);
        }
    }
    if (rc != SQLITE_DONE) {
        const Payload failed = Payload::fail(DbError::describe(QStringLiteral("ler PESQPRATO"), QString::number(rc),
                                                               QString::fromUtf8(sqlite3_errmsg(h))));
        prepared.pesqPratoLite.reset(); // prepared again by the next call
        return failed;
    }
    if (!rows)
        return QByteArray();
    found = true;
    rows->endBulkLoad();
    return DataPacket::save(*rows);
}

Payload getPesqPrato(QSqlDatabase &db, const CallArgs &args, RdmMethods::Prepared *prepared)
{
    if (!CallArg::isText(args.at(0)) || !CallArg::isText(args.at(1)))
        return fail(QStringLiteral("GetPesqPrato espera o código do prato e o código da filial como textos."));
    // Codes longer than their columns name no dish; refused rather than looked up.
    if (args.at(0).toString().size() > 10 || args.at(1).toString().size() > 4)
        return fail(Msg(QStringLiteral("Srv_ArgumentoInvalido"))
                        .arg(QStringLiteral("GetPesqPrato"), QStringLiteral("código mais longo que a coluna")));
    static const QList<FieldDef> fields = [] {
        const auto &t = def("PRATO");
        return QList<FieldDef>{t.columns.at(t.indexOf(u"CDFILAUXPRAT")), t.columns.at(t.indexOf(u"CDPRATO")),
                               t.columns.at(t.indexOf(u"NMPRATO"))};
    }();
    const QString sql = QStringLiteral("SELECT CDFILAUXPRAT, CDPRATO, NMPRATO FROM PRATO "
                                       "WHERE CDPRATO = ? AND CDFILAUXPRAT = ? ORDER BY CDFILAUXPRAT, CDPRATO");
    if (!prepared)
        return rowsPacket(db, QStringLiteral("PESQPRATO"), fields, sql, {args.at(0).toString(), args.at(1).toString()});
    // Most lookups find the code free: their reply, a packet without rows, is the same every time.
    static const QByteArray noRows = [&] {
        MemTable empty(QStringLiteral("PESQPRATO"));
        empty.setFields(fields);
        empty.createDataSet();
        return DataPacket::save(empty);
    }();
    if (prepared->dishes.knownFree(db, args.at(0).toString(), args.at(1).toString()))
        return noRows;
    if (sqlite3 *h = Database::sqliteHandle(db)) {
        bool found = false;
        Payload packet = pesqPratoLite(h, *prepared, sql, args.at(0).toString(), args.at(1).toString(), fields, found);
        if (packet && !found)
            return noRows;
        return packet;
    }
    // Called once per local dish of a file: the statement is prepared once for the connection.
    if (!prepared->pesqPrato) {
        auto q = std::make_unique<QSqlQuery>(db);
        q->setForwardOnly(true);
        if (!q->prepare(sql))
            return Payload::fail(DbError::describe(QStringLiteral("ler PESQPRATO"), q->lastError()));
        prepared->pesqPrato = std::move(q);
    }
    QSqlQuery &q = *prepared->pesqPrato;
    q.bindValue(0, args.at(0).toString());
    q.bindValue(1, args.at(1).toString());
    if (!q.exec()) {
        const Payload failed = Payload::fail(DbError::describe(QStringLiteral("ler PESQPRATO"), q.lastError()));
        prepared->pesqPrato.reset(); // prepared again by the next call
        return failed;
    }
    if (!q.next()) {
        q.finish();
        return noRows;
    }
    Payload packet = Catalogue::packRows(q, QStringLiteral("PESQPRATO"), fields, true);
    q.finish();
    return packet;
}

// How the columns of a DIRETORIOS change packet map onto the table, and how a row of it binds.
struct DiretoriosColumns {
    const Catalogue::TableDef &t = def("DIRETORIOS");
    QList<int> target; // catalogue column of each delta column
    int keyCol = -1;   // delta column of CDPROGRAMA

    Status map(const QList<FieldDef> &fields)
    {
        for (int i = 0; i < fields.size(); ++i) {
            const int c = t.indexOf(fields.at(i).name);
            if (c < 0)
                return Status::fail(QStringLiteral("O pacote de DIRETORIOS tem a coluna %1, que a tabela não tem.")
                                        .arg(fields.at(i).name));
            if (target.contains(c))
                return Status::fail(QStringLiteral("O pacote de DIRETORIOS repete a coluna %1.").arg(fields.at(i).name));
            target << c;
            if (t.columns.at(c).name == QLatin1String("CDPROGRAMA"))
                keyCol = i;
        }
        return okStatus();
    }

    QString program(const QVariantList &values) const
    {
        return keyCol >= 0 && keyCol < values.size() ? values.at(keyCol).toString().trimmed() : QString();
    }

    // The row's values as bound, in the order of `target`.
    Status rowValues(const QVariantList &values, QVariantList &out) const
    {
        out.clear();
        for (int i = 0; i < target.size(); ++i) {
            const FieldDef &f = t.columns.at(target.at(i));
            const Result<QVariant> converted = Catalogue::toSql(i < values.size() ? values.at(i) : QVariant(), f.kind);
            if (!converted)
                return Status::fail(QStringLiteral("Valor inválido na coluna %1 de DIRETORIOS.").arg(f.name));
            const QVariant &v = converted.value();
            if (f.kind == FieldKind::Text && f.width > 0 && v.toString().size() > f.width)
                return Status::fail(QStringLiteral("O valor da coluna %1 de DIRETORIOS passa de %2 caracteres.")
                                        .arg(f.name)
                                        .arg(f.width));
            out << v;
        }
        return okStatus();
    }

    // Inserted and changed rows are written the same way, by key: two screens that both found no
    // directory both insert one, and the second must not fail on the first's row.
    QString upsertSql() const
    {
        QStringList cols, marks, sets;
        for (int c : target) {
            cols << t.columns.at(c).name;
            marks << QStringLiteral("?");
            if (t.columns.at(c).name != QLatin1String("CDPROGRAMA"))
                sets << QStringLiteral("%1 = excluded.%1").arg(t.columns.at(c).name);
        }
        return QStringLiteral("INSERT INTO DIRETORIOS (%1) VALUES (%2) ON CONFLICT (CDPROGRAMA) %3")
            .arg(cols.join(QLatin1Char(',')), marks.join(QLatin1Char(',')),
                 sets.isEmpty() ? QStringLiteral("DO NOTHING") : QStringLiteral("DO UPDATE SET ") + sets.join(QLatin1Char(',')));
    }

    // A row is refused unless it is this program's own, with values the table takes.
    Status judge(const DeltaRow &row) const
    {
        const QVariantList &keyValues = row.change == RowChange::Inserted ? row.values : row.original;
        if (program(keyValues) != QLatin1String(kProgram)
            || (row.change != RowChange::Deleted && program(row.values) != QLatin1String(kProgram)))
            return Status::fail(QStringLiteral("SetDiretorios só grava o diretório do programa %1.").arg(QLatin1String(kProgram)));
        QVariantList values;
        if (row.change != RowChange::Deleted)
            return rowValues(row.values, values);
        return okStatus();
    }
};

// Applies the change packet of the remembered directories. The module keeps only its own
// program's directory; a row of another program is refused rather than written.
Payload setDiretorios(QSqlDatabase &db, const CallArgs &args)
{
    if (!CallArg::isPacket(args.at(0)))
        return fail(QStringLiteral("SetDiretorios espera o pacote de alterações de DIRETORIOS."));
    auto delta = DataPacket::loadDelta(args.at(0).toByteArray(), clientPackets());
    if (!delta)
        return fail(QStringLiteral("Pacote de alterações de DIRETORIOS inválido: %1").arg(delta.error()));
    DiretoriosColumns columns;
    if (Status s = columns.map(delta->fields); !s)
        return fail(s.error());
    if (columns.keyCol < 0 && !delta->rows.empty())
        return fail(QStringLiteral("O pacote de DIRETORIOS não tem a coluna CDPROGRAMA."));
    // Every row is judged before the transaction starts: a refused call does not touch the database.
    for (const DeltaRow &row : delta->rows)
        if (row.change != RowChange::None)
            if (Status s = columns.judge(row); !s)
                return fail(s.error());

    const QString upsert = columns.upsertSql();
    TransactionGuard tx(db);
    if (!tx.begun())
        return Payload::fail(tx.failure());
    for (const DeltaRow &row : delta->rows) {
        QSqlQuery q(db);
        QVariantList values;
        switch (row.change) {
        case RowChange::Inserted:
        case RowChange::Modified:
            q.prepare(upsert);
            if (Status s = columns.rowValues(row.values, values); !s)
                return fail(s.error());
            for (int i = 0; i < values.size(); ++i)
                q.bindValue(i, values.at(i));
            break;
        case RowChange::Deleted:
            q.prepare(QStringLiteral("DELETE FROM DIRETORIOS WHERE CDPROGRAMA = ?"));
            q.bindValue(0, columns.program(row.original));
            break;
        case RowChange::None:
            continue;
        }
        // A row already gone (another screen deleted it) is as good as deleted.
        if (!q.exec())
            return Payload::fail(DbError::describe(QStringLiteral("gravar DIRETORIOS"), q.lastError()));
    }
    if (Status s = tx.commit(); !s)
        return Payload::fail(s.failure());
    return QByteArray();
}

} // namespace

Result<QByteArray> run(QSqlDatabase &db, const QString &method, const CallArgs &args, Prepared *prepared)
{
    if (!db.isOpen())
        return fail(QStringLiteral("O banco de dados do servidor de aplicação não está aberto."));
    // The call made once per local dish of a file comes first: no hash of its name per call.
    if (method == QLatin1String("GetPesqPrato")) {
        if (Status s = argCount(method, args, 2); !s)
            return fail(s.error());
        return getPesqPrato(db, args, prepared);
    }
    static const QHash<QString, const char *> shapes{
        {QStringLiteral("GetPrato"), "PRATO"},       {QStringLiteral("GetRecePadr"), "RECEPADR"},
        {QStringLiteral("GetReceServ"), "RECESERV"}, {QStringLiteral("GetReceFili"), "RECEFILI"},
        {QStringLiteral("GetPratPadr"), "PRATPADR"}, {QStringLiteral("GetPratFili"), "PRATFILI"},
        {QStringLiteral("GetPratServ"), "PRATSERV"}};
    if (auto it = shapes.constFind(method); it != shapes.constEnd()) {
        if (Status s = argCount(method, args, 0); !s)
            return fail(s.error());
        return emptyPacket(def(it.value()));
    }
    if (method == QLatin1String("GetDiretorios") || method == QLatin1String("GetParamGeral")) {
        if (Status s = argCount(method, args, 0); !s)
            return fail(s.error());
        return method == QLatin1String("GetDiretorios") ? getDiretorios(db) : getParamGeral(db);
    }
    // What a method that writes leaves is seen by the next dish lookup of every connection.
    struct Written {
        ~Written() { DishSnapshot::destinationWritten(); }
    };
    if (method == QLatin1String("SetDiretorios")) {
        if (Status s = argCount(method, args, 1); !s)
            return fail(s.error());
        WriterWait wait(db);
        const Written written;
        return setDiretorios(db, args);
    }
    if (method == QLatin1String("Importacao")) {
        if (Status s = argCount(method, args, 12); !s)
            return fail(s.error());
        const Written written;
        return importacao(db, args);
    }
    if (method == QLatin1String(kPreviewMethod))
        return getPrevia(db, args);
    if (method == QLatin1String("Desfazer")) {
        WriterWait wait(db);
        const Written written;
        return desfazer(db, args);
    }
    return fail(QStringLiteral("O servidor de aplicação %1 não tem o método \"%2\".")
                    .arg(QLatin1String(kServerName), method.left(64)));
}

} // namespace RdmMethods
