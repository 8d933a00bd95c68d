#include "database.h"
#include "ambiente.h"
#include "dberror.h"
#include "messages.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <sys/stat.h>

#include <optional>

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

namespace {

// The SQLite files this process has opened, as absolute paths (any thread's connections).
QMutex g_ownMutex;
QSet<QString> g_ownDatabases;

void rememberOwn(const QString &path)
{
    if (path.isEmpty() || path == QLatin1String(":memory:") || path.startsWith(QLatin1String("file:")))
        return;
    const QMutexLocker lock(&g_ownMutex);
    g_ownDatabases.insert(QFileInfo(path).absoluteFilePath());
}

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
};

std::optional<FileId> idOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// The same place in the file system for a name that may not exist yet: its directory resolved.
QString placeOf(const QString &path)
{
    const QFileInfo info(path);
    const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (dir.isEmpty() ? info.absolutePath() : dir) + u'/' + info.fileName();
}

} // namespace

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
    if (u.kind == DbKind::SQLite)
        rememberOwn(u.path);
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

bool isOwnFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    QSet<QString> bases;
    {
        const QMutexLocker lock(&g_ownMutex);
        bases = g_ownDatabases;
    }
    if (auto u = DbUrl::parse(Ambiente::instance().databaseUrl); u && u.value().kind == DbKind::SQLite
        && u.value().path != QLatin1String(":memory:"))
        bases.insert(QFileInfo(u.value().path).absoluteFilePath());
    const std::optional<FileId> target = idOf(path);
    const QString place = target ? QString() : placeOf(path);
    for (const QString &base : std::as_const(bases)) {
        for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
            const QString own = base + QLatin1String(suffix);
            if (target) {
                const std::optional<FileId> id = idOf(own);
                if (id && id->dev == target->dev && id->ino == target->ino)
                    return true;
            } else if (placeOf(own) == place) {
                return true;
            }
        }
    }
    return false;
}

Status refuseOwnFile(const QString &path)
{
    if (!isOwnFile(path))
        return okStatus();
    const QString key = QStringLiteral("Arquivo_Do_Banco");
    return Status::fail(Msg(key).arg(QFileInfo(path).absoluteFilePath()), key);
}

} // namespace Database
