#include "query.h"
#include "dberror.h"
#include "framework.h"

#include <QSqlError>
#include <QSqlRecord>

struct ReadOnlyQuery::Impl {
    QString sql;
    QString connectionName;
    QList<QPair<QString, QVariant>> params; // name with ':'
    std::unique_ptr<QSqlQuery> query;
    QString preparedOn;                     // connection the statement was prepared on
    QSqlRecord record;
    // The result, read whole as the query opens: the statement is finished at once, so that no
    // read transaction outlives the action that opened the query (an open one holds SQLite's WAL
    // and keeps this connection from seeing later writes). The lookups read a few rows each.
    QList<QVariantList> rows;
    qsizetype pos = 0;
    bool open = false;
    bool onRow = false;
};

Result<QSqlDatabase> ReadOnlyQuery::database() const
{
    if (d->connectionName.isEmpty())
        return Database::shared();
    QSqlDatabase db = QSqlDatabase::database(d->connectionName, false);
    if (!db.isOpen())
        return Failure::unexpected(
            QStringLiteral("Conexão com o banco de dados não está aberta: %1").arg(d->connectionName));
    return db;
}

static QString withColon(const QString &name)
{
    return name.startsWith(QLatin1Char(':')) ? name : QLatin1Char(':') + name;
}

ReadOnlyQuery::ReadOnlyQuery(const QString &sql, const QString &connectionName) : d(std::make_unique<Impl>())
{
    d->sql = sql;
    d->connectionName = connectionName;
}

ReadOnlyQuery::~ReadOnlyQuery() = default;

void ReadOnlyQuery::setConnectionName(const QString &name)
{
    close();
    d->connectionName = name;
    d->query.reset();
    d->preparedOn.clear();
}

QString ReadOnlyQuery::sql() const
{
    return d->sql;
}

void ReadOnlyQuery::setParam(const QString &name, const QVariant &value)
{
    const QString key = withColon(name);
    for (auto &p : d->params) {
        if (p.first == key) {
            p.second = value;
            return;
        }
    }
    d->params.append({key, value});
}

QVariant ReadOnlyQuery::param(const QString &name) const
{
    const QString key = withColon(name);
    for (const auto &p : d->params) {
        if (p.first == key)
            return p.second;
    }
    return {};
}

Status ReadOnlyQuery::open()
{
    // A shared connection the server ended (a restart of PostgreSQL between two reads) is opened
    // again once: a read changes nothing, so it can simply be asked again.
    for (int attempt = 0;; ++attempt) {
        const std::optional<Failure> failed = tryOpen();
        if (!failed)
            return okStatus();
        const bool retry = attempt == 0 && d->connectionName.isEmpty()
            && failed->key == QLatin1String("BD_ConexaoPerdida");
        if (!retry)
            return *failed;
        d->query.reset();
        d->preparedOn.clear();
        Database::closeShared();
    }
}

void ReadOnlyQuery::openOrAbandon()
{
    if (const Status opened = open(); !opened)
        MensErro(opened.failure());
}

std::optional<Failure> ReadOnlyQuery::tryOpen()
{
    close();
    const Result<QSqlDatabase> opened = database();
    if (!opened)
        return opened.failure();
    QSqlDatabase db = opened.value();
    const QString name = db.connectionName();
    if (!d->query || d->preparedOn != name) {
        d->query = std::make_unique<QSqlQuery>(db);
        d->query->setForwardOnly(true);
        if (!d->query->prepare(d->sql)) {
            const QSqlError error = d->query->lastError();
            d->query.reset();
            return DbError::describe(QStringLiteral("consultar o banco de dados"), error);
        }
        d->preparedOn = name;
    }
    for (const auto &p : std::as_const(d->params))
        d->query->bindValue(p.first, p.second);
    if (!d->query->exec()) {
        const QSqlError error = d->query->lastError();
        d->query->finish();
        return DbError::describe(QStringLiteral("consultar o banco de dados"), error);
    }
    d->record = d->query->record();
    const int columns = d->record.count();
    while (d->query->next()) {
        QVariantList row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c)
            row << d->query->value(c);
        d->rows << std::move(row);
    }
    const QSqlError readError = d->query->lastError();
    d->query->finish();
    if (readError.isValid()) {
        d->rows.clear();
        return DbError::describe(QStringLiteral("consultar o banco de dados"), readError);
    }
    d->open = true;
    d->pos = 0;
    d->onRow = !d->rows.isEmpty();
    return std::nullopt;
}

void ReadOnlyQuery::close()
{
    d->rows.clear();
    d->pos = 0;
    d->open = false;
    d->onRow = false;
}

bool ReadOnlyQuery::isOpen() const
{
    return d->open;
}

bool ReadOnlyQuery::eof() const
{
    return !d->onRow;
}

void ReadOnlyQuery::next()
{
    if (d->open && d->onRow)
        d->onRow = ++d->pos < d->rows.size();
}

QVariant ReadOnlyQuery::value(int col) const
{
    if (!d->onRow)
        return {};
    const QVariantList &row = d->rows.at(d->pos);
    return col >= 0 && col < row.size() ? row.at(col) : QVariant();
}

QVariant ReadOnlyQuery::value(const QString &column) const
{
    if (!d->onRow)
        return {};
    const int i = d->record.indexOf(column);
    // A name the SQL does not select is a fault of the caller's code, not of the database.
    Q_ASSERT_X(i >= 0, "ReadOnlyQuery::value", qPrintable(column));
    return i < 0 ? QVariant() : value(i);
}

QString ReadOnlyQuery::text(const QString &column) const
{
    return value(column).toString();
}

QStringList ReadOnlyQuery::columnNames() const
{
    QStringList names;
    for (int i = 0; i < d->record.count(); ++i)
        names << d->record.fieldName(i);
    return names;
}

void ReadOnlyQuery::fillTable(MemTable &table, const QList<FieldDef> &fields)
{
    table.close();
    table.setFields(fields);
    table.createDataSet();
    QList<int> sourceCols;
    for (const FieldDef &f : fields)
        sourceCols << d->record.indexOf(f.name);
    table.beginBulkLoad();
    while (d->open && d->onRow) {
        QVariantList values;
        values.reserve(fields.size());
        for (int c : std::as_const(sourceCols))
            values << value(c);
        table.bulkAppendRow(values);
        next();
    }
    table.endBulkLoad();
    table.first();
}
