#include "importhistory.h"
#include "dberror.h"
#include "undostore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>

namespace ImportHistory {

namespace {

constexpr const char *kColumns = "CDHISTIMPO, DTIMPORTACAO, CDOPERADOR, CDFILIAL, NMARQUIVO, QTBYTES, DSSHA256, "
                                 "IDRESULTADO, QTPRATOGRAV, QTPRATOERRO, DSPRATOERRO, DSLINHAS, QTDURACAOMS, "
                                 "CDMENSAGEM, DSMENSAGEM";
// The kind of the row came after the table: a destination's table from before has no such column
// until a server opens it (ensureTable), and is read without it meanwhile.
constexpr const char *kKindColumn = "IDOPERACAO";
// The same read back, the time as the database writes it as text (with its offset on PostgreSQL),
// so that no driver reads it in the process's own time zone.
constexpr const char *kSelectColumns = "CDHISTIMPO, CAST(DTIMPORTACAO AS TEXT), CDOPERADOR, CDFILIAL, NMARQUIVO, QTBYTES, "
                                       "DSSHA256, IDRESULTADO, QTPRATOGRAV, QTPRATOERRO, DSPRATOERRO, DSLINHAS, "
                                       "QTDURACAOMS, CDMENSAGEM, DSMENSAGEM";
// The time as stored, UTC with its "Z": SQLite keeps the text, which sorts as the time does (rows
// from before the "Z" sort with them); PostgreSQL reads it into its timestamptz.
constexpr const char *kWhenFormat = "yyyy-MM-dd HH:mm:ss.zzz'Z'";

bool missingTable(const QSqlError &e)
{
    return e.nativeErrorCode() == QLatin1String("42P01") || e.text().contains(QLatin1String("no such table"), Qt::CaseInsensitive);
}

bool hasTable(QSqlDatabase &db)
{
    QSqlQuery probe(db);
    return probe.exec(QStringLiteral("SELECT 1 FROM HISTIMPO WHERE 1 = 0"));
}

bool hasKindColumn(QSqlDatabase &db)
{
    QSqlQuery probe(db);
    return probe.exec(QStringLiteral("SELECT %1 FROM HISTIMPO WHERE 1 = 0").arg(QLatin1String(kKindColumn)));
}

// Text as both databases store it: PostgreSQL takes no NUL, so one becomes U+FFFD, the character
// that stands for one that could not be kept.
QString storable(QString s)
{
    s.replace(QChar(0), QChar(QChar::ReplacementCharacter));
    return s;
}

QVariant textOrNull(const QString &s)
{
    return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(storable(s));
}

// The refused dishes' codes, one text for both databases and back: a comma between codes, and in
// a code "%" with two hex digits for a control character (a NUL among them), a comma or "%".
QString codesToText(const QStringList &codes)
{
    QString out;
    for (qsizetype i = 0; i < codes.size(); ++i) {
        if (i)
            out += u',';
        for (const QChar c : codes[i]) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == u',' || c == u'%')
                out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
            else
                out += c;
        }
    }
    return out;
}

QStringList codesFromText(const QString &text)
{
    QStringList out;
    if (text.isEmpty())
        return out;
    for (const QString &part : text.split(u',')) {
        QString code;
        for (qsizetype i = 0; i < part.size(); ++i) {
            const auto hex = [&](qsizetype k) {
                const char16_t u = k < part.size() ? part[k].unicode() : 0;
                return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
            };
            if (part[i] == u'%' && hex(i + 1) && hex(i + 2)) {
                code += QChar(part.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
            } else {
                code += part[i];
            }
        }
        out << code;
    }
    return out;
}

Entry entryFrom(const QSqlQuery &q)
{
    Entry e;
    e.id = q.value(0).toString();
    e.when = Database::utcFromText(q.value(1).toString());
    e.operatorCode = q.value(2).toString().trimmed();
    e.branch = q.value(3).toString().trimmed();
    e.fileName = q.value(4).toString();
    e.bytes = q.value(5).isNull() ? -1 : q.value(5).toLongLong();
    e.sha256 = q.value(6).toString().trimmed();
    e.ok = q.value(7).toString().trimmed() == QLatin1String("ok");
    e.dishesWritten = q.value(8).toInt();
    e.dishesRefused = codesFromText(q.value(10).toString());
    e.rows = rowsFromText(q.value(11).toString());
    e.durationMs = q.value(12).toLongLong();
    e.messageKey = q.value(13).toString();
    e.message = q.value(14).toString();
    const QString kind = q.value(15).toString().trimmed();
    if (kind == QLatin1String("E"))
        e.kind = Entry::Kind::Export;
    else if (kind == QLatin1String("D"))
        e.kind = Entry::Kind::Undo;
    return e;
}

// `importsOnly`: leaves the exports out (a table without the kind's column holds none).
Result<QList<Entry>> select(QSqlDatabase &db, QString where, const QVariantList &params, int limit,
                            bool importsOnly = false)
{
    using R = Result<QList<Entry>>;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool kinds = hasKindColumn(db);
    if (kinds && importsOnly)
        where += QStringLiteral(" AND (IDOPERACAO IS NULL OR IDOPERACAO = 'I')");
    const QString sql = QStringLiteral("SELECT %1, %2 FROM HISTIMPO%3 ORDER BY DTIMPORTACAO DESC, CDHISTIMPO DESC LIMIT ?")
                            .arg(QLatin1String(kSelectColumns), kinds ? QLatin1String(kKindColumn) : QLatin1String("NULL"), where);
    bool ok = q.prepare(sql);
    if (ok) {
        for (int i = 0; i < params.size(); ++i)
            q.bindValue(i, params.at(i));
        q.bindValue(int(params.size()), qMax(0, limit));
        ok = q.exec();
    }
    if (!ok) {
        // A destination no import has reached since the history came has no table yet.
        if (missingTable(q.lastError()))
            return QList<Entry>();
        return R::fail(DbError::describe(QStringLiteral("ler o histórico de importações"), q.lastError()));
    }
    QList<Entry> out;
    while (q.next())
        out << entryFrom(q);
    q.finish();
    // What can still be undone (one small row per written import, however old).
    const auto states = UndoStore::states(db);
    if (!states)
        return out;
    QHash<QString, QString> undoneBy;
    for (auto it = states->cbegin(); it != states->cend(); ++it) {
        if (!it->undoneBy.isEmpty())
            undoneBy.insert(it->undoneBy, it.key());
    }
    for (Entry &e : out) {
        if (const auto it = states->constFind(e.id); it != states->cend()) {
            e.undoable = it->kind == UndoStore::State::Undoable;
            e.dishesReplaced = it->kind == UndoStore::State::Pruned ? -1 : it->dishesReplaced;
            e.undoneBy = it->undoneBy;
        }
        e.undoes = undoneBy.value(e.id);
    }
    return out;
}

// A destination made when the time was a PostgreSQL timestamp without time zone (UTC by
// convention) gets a timestamptz, its rows read as the UTC they were.
Status utcOnPostgres(QSqlDatabase &db)
{
    if (Database::kindOf(db) != DbKind::PostgreSQL)
        return okStatus();
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT data_type FROM information_schema.columns WHERE table_schema = current_schema() "
                               "AND table_name = 'histimpo' AND column_name = 'dtimportacao'")))
        return Status::fail(DbError::describe(QStringLiteral("ler a tabela do histórico de importações"), q.lastError()));
    if (!q.next() || q.value(0).toString() != QLatin1String("timestamp without time zone"))
        return okStatus();
    QSqlQuery alter(db);
    if (!alter.exec(QStringLiteral("ALTER TABLE HISTIMPO ALTER COLUMN DTIMPORTACAO TYPE TIMESTAMP(3) WITH TIME ZONE "
                                   "USING DTIMPORTACAO AT TIME ZONE 'UTC'")))
        return Status::fail(DbError::describe(QStringLiteral("converter a hora do histórico de importações para UTC"),
                                              alter.lastError()));
    return okStatus();
}

} // namespace

QStringList statements(DbKind kind)
{
    const bool pg = kind == DbKind::PostgreSQL;
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS HISTIMPO (\n"
                       "  CDHISTIMPO VARCHAR(36) NOT NULL,\n"
                       "  DTIMPORTACAO %1 NOT NULL,\n"
                       "  CDOPERADOR VARCHAR(10),\n"
                       "  CDFILIAL VARCHAR(4),\n"
                       "  NMARQUIVO VARCHAR(255),\n"
                       "  QTBYTES BIGINT,\n"
                       "  DSSHA256 VARCHAR(64),\n"
                       "  IDRESULTADO VARCHAR(6) NOT NULL,\n"
                       "  QTPRATOGRAV INTEGER NOT NULL,\n"
                       "  QTPRATOERRO INTEGER NOT NULL,\n"
                       "  DSPRATOERRO TEXT,\n"
                       "  DSLINHAS TEXT,\n"
                       "  QTDURACAOMS BIGINT,\n"
                       "  CDMENSAGEM VARCHAR(64),\n"
                       "  DSMENSAGEM TEXT,\n"
                       "  IDOPERACAO VARCHAR(1),\n"
                       "  PRIMARY KEY (CDHISTIMPO)\n"
                       ")")
            .arg(pg ? QStringLiteral("TIMESTAMP(3) WITH TIME ZONE") : QStringLiteral("TIMESTAMP")),
        QStringLiteral("CREATE INDEX IF NOT EXISTS IX_HISTIMPO_1 ON HISTIMPO (CDFILIAL, DSSHA256)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS IX_HISTIMPO_2 ON HISTIMPO (DTIMPORTACAO)"),
    };
}

Status ensureTable(QSqlDatabase db)
{
    if (hasTable(db)) {
        if (!hasKindColumn(db)) {
            QSqlQuery q(db);
            // Another server may add it in the meantime: what counts is that it is there.
            if (!q.exec(QStringLiteral("ALTER TABLE HISTIMPO ADD COLUMN %1 VARCHAR(1)").arg(QLatin1String(kKindColumn)))
                && !hasKindColumn(db))
                return Status::fail(DbError::describe(QStringLiteral("atualizar a tabela do histórico de importações"), q.lastError()));
        }
        return utcOnPostgres(db);
    }
    QSqlError error;
    for (const QString &sql : statements(Database::kindOf(db))) {
        QSqlQuery q(db);
        if (!q.exec(sql)) {
            error = q.lastError();
            break;
        }
    }
    // Another server opening the same destination may have made it in the meantime.
    if (error.isValid() && !hasTable(db))
        return Status::fail(DbError::describe(QStringLiteral("criar a tabela do histórico de importações"), error));
    return okStatus();
}

Status insert(QSqlDatabase db, const Entry &e, bool unlessPresent)
{
    QSqlQuery q(db);
    const QString sql = QStringLiteral("INSERT INTO HISTIMPO (%1, %2) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)%3")
                            .arg(QLatin1String(kColumns), QLatin1String(kKindColumn),
                                 unlessPresent ? QStringLiteral(" ON CONFLICT (CDHISTIMPO) DO NOTHING") : QString());
    if (!q.prepare(sql))
        return Status::fail(DbError::describe(QStringLiteral("gravar o histórico de importações"), q.lastError()));
    const QVariant nullNumber(QMetaType::fromType<qlonglong>());
    const QVariantList values{storable(e.id),
                              e.when.toUTC().toString(QString::fromLatin1(kWhenFormat)),
                              textOrNull(e.operatorCode),
                              textOrNull(e.branch),
                              textOrNull(e.fileName),
                              e.bytes < 0 ? nullNumber : QVariant(e.bytes),
                              textOrNull(e.sha256),
                              e.ok ? QStringLiteral("ok") : QStringLiteral("failed"),
                              e.dishesWritten,
                              int(e.dishesRefused.size()),
                              textOrNull(codesToText(e.dishesRefused)),
                              textOrNull(rowsToText(e.rows)),
                              e.durationMs,
                              textOrNull(e.messageKey),
                              textOrNull(e.message),
                              e.kind == Entry::Kind::Export ? QStringLiteral("E")
                                  : e.kind == Entry::Kind::Undo ? QStringLiteral("D")
                                                                : QStringLiteral("I")};
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    if (!q.exec())
        return Status::fail(DbError::describe(QStringLiteral("gravar o histórico de importações"), q.lastError()));
    return okStatus();
}

Result<QList<Entry>> list(QSqlDatabase db, const QString &branch, int limit)
{
    if (branch.isEmpty())
        return select(db, {}, {}, limit);
    return select(db, QStringLiteral(" WHERE CDFILIAL = ?"), {branch}, limit);
}

Result<std::optional<Entry>> find(QSqlDatabase db, const QString &id)
{
    using R = Result<std::optional<Entry>>;
    auto rows = select(db, QStringLiteral(" WHERE CDHISTIMPO = ?"), {id}, 1);
    if (!rows)
        return R::fail(rows.failure());
    if (rows->isEmpty())
        return std::optional<Entry>();
    return std::optional<Entry>(rows->first());
}

Result<std::optional<Entry>> lastImportOf(QSqlDatabase db, const QString &branch, const QString &sha256)
{
    using R = Result<std::optional<Entry>>;
    // An export of the file is no import of it, nor is an import that was undone since.
    auto rows = select(db, QStringLiteral(" WHERE CDFILIAL = ? AND DSSHA256 = ? AND IDRESULTADO = 'ok'"),
                       {branch, sha256}, 50, true);
    if (!rows)
        return R::fail(rows.failure());
    for (const Entry &e : std::as_const(rows.value())) {
        if (e.undoneBy.isEmpty())
            return std::optional<Entry>(e);
    }
    return std::optional<Entry>();
}

QString rowsToText(const QList<QPair<QString, int>> &rows)
{
    QStringList parts;
    for (const auto &[table, count] : rows)
        parts << QStringLiteral("%1=%2").arg(table).arg(count);
    return parts.join(QLatin1Char(';'));
}

QList<QPair<QString, int>> rowsFromText(const QString &text)
{
    QList<QPair<QString, int>> out;
    for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq > 0)
            out.append({part.left(eq), part.mid(eq + 1).toInt()});
    }
    return out;
}

} // namespace ImportHistory
