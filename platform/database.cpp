#include "database.h"
#include "ambiente.h"
#include "dberror.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

DatabaseError::DatabaseError(const QString &message) : std::runtime_error(message.toStdString()) {}

QString DatabaseError::message() const
{
    return QString::fromStdString(what());
}

Result<DbUrl> DbUrl::parse(const QString &url)
{
    DbUrl u;
    if (url.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        QString path = url.mid(7);
        if (path.startsWith(QLatin1String("//")))
            path = path.mid(2);
        if (path.isEmpty())
            return Result<DbUrl>::fail(QStringLiteral("URL do banco de dados sem caminho: %1").arg(url));
        u.kind = DbKind::SQLite;
        u.path = path;
        return u;
    }
    if (url.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
        || url.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive)) {
        const QUrl q(url, QUrl::StrictMode);
        if (!q.isValid() || q.host().isEmpty())
            return Result<DbUrl>::fail(QStringLiteral("URL do banco de dados inválida: %1").arg(url));
        u.kind = DbKind::PostgreSQL;
        u.host = q.host();
        u.port = q.port(5432);
        u.user = q.userName();
        u.password = q.password();
        u.dbName = q.path().mid(1);
        if (u.dbName.isEmpty())
            u.dbName = u.user.isEmpty() ? QStringLiteral("postgres") : u.user;
        return u;
    }
    return Result<DbUrl>::fail(
        QStringLiteral("URL do banco de dados não reconhecida (use sqlite:CAMINHO ou postgresql://...): %1").arg(url));
}

namespace Database {

Result<QSqlDatabase> open(const QString &url, const QString &connectionName)
{
    if (QSqlDatabase::contains(connectionName)) {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (db.isOpen())
            return db;
        QSqlDatabase::removeDatabase(connectionName);
    }
    auto parsed = DbUrl::parse(url);
    if (!parsed)
        return parsed.failure();
    const DbUrl &u = parsed.value();
    QSqlDatabase db;
    if (u.kind == DbKind::SQLite) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(u.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
        db.setHostName(u.host);
        db.setPort(u.port);
        db.setUserName(u.user);
        db.setPassword(u.password);
        db.setDatabaseName(u.dbName);
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    }
    if (!db.isValid()) {
        const QString msg = QStringLiteral("Driver de banco de dados indisponível: %1").arg(db.driverName());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        return Result<QSqlDatabase>::fail(msg);
    }
    if (!db.open()) {
        Failure f = DbError::describe(QStringLiteral("abrir o banco de dados"), db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        return Result<QSqlDatabase>::fail(std::move(f));
    }
    QSqlQuery q(db);
    if (u.kind == DbKind::SQLite) {
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    } else {
        q.exec(QStringLiteral("SET client_encoding TO 'UTF8'"));
    }
    return db;
}

QString sharedConnectionName()
{
    return QStringLiteral("imp40500_shared");
}

QSqlDatabase shared()
{
    const QString name = sharedConnectionName();
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen())
            return db;
    }
    const QString url = Ambiente::instance().databaseUrl;
    if (url.isEmpty())
        throw DatabaseError(QStringLiteral("Banco de dados não informado."));
    auto db = open(url, name);
    if (!db)
        throw DatabaseError(db.error());
    return db.value();
}

void closeShared()
{
    const QString name = sharedConnectionName();
    if (QSqlDatabase::contains(name)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

DbKind kindOf(const QSqlDatabase &db)
{
    return db.driverName() == QLatin1String("QPSQL") ? DbKind::PostgreSQL : DbKind::SQLite;
}

} // namespace Database
