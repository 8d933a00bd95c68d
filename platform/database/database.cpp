#include "database.h"
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


QString DbUrl::display(const QString &url)
{
    if (!url.startsWith(QLatin1String("postgres"), Qt::CaseInsensitive))
        return url;
    QUrl q(url);
    if (!q.isValid()) {
        // Not a URL Qt can take apart: whatever stands between "//user:" and "@" goes.
        QString shown = url;
        const qsizetype start = shown.indexOf(QLatin1String("://"));
        const qsizetype at = shown.lastIndexOf(QLatin1Char('@'));
        const qsizetype colon = start < 0 ? -1 : shown.indexOf(QLatin1Char(':'), start + 3);
        if (colon > 0 && at > colon)
            shown.replace(colon, at - colon, QString());
        return shown;
    }
    q.setPassword(QString());
    QUrlQuery query(q);
    if (query.hasQueryItem(QStringLiteral("password"))) {
        query.removeAllQueryItems(QStringLiteral("password"));
        q.setQuery(query);
    }
    return q.toString();
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
            return Result<DbUrl>::fail(QStringLiteral("URL do banco de dados inválida: %1").arg(display(url)));
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
        QStringLiteral("URL do banco de dados não reconhecida (use sqlite:CAMINHO ou postgresql://...): %1").arg(display(url)));
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

namespace {
bool g_readOnly = false;

// A WAL database needs its -wal and -shm files to be read, and a connection makes them beside the
// database when they are not there. In a folder this process may not write, a read-only one
// cannot: it reads the database as immutable instead, a snapshot that SQLite does not lock (a
// dry run over a destination no one here may change). False when that open failed.
bool reopenImmutable(QSqlDatabase &db, const QString &path)
{
    {
        QSqlQuery probe(db);
        if (probe.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master")))
            return true;
    }
    const QFileInfo file(path);
    if (QFileInfo(file.absolutePath()).isWritable())
        return true; // another cause: the first real statement will tell it
    db.close();
    QUrl uri = QUrl::fromLocalFile(file.absoluteFilePath());
    uri.setQuery(QStringLiteral("immutable=1"));
    db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
    return db.open();
}
} // namespace

void setReadOnly(bool readOnly)
{
    g_readOnly = readOnly;
}

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
        db.setConnectOptions(g_readOnly ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000;QSQLITE_OPEN_READONLY")
                                        : QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
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
        Failure f = DbError::describe(QStringLiteral("abrir o banco de dados %1").arg(DbUrl::display(url)), db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        return Result<QSqlDatabase>::fail(std::move(f));
    }
    if (u.kind == DbKind::SQLite && g_readOnly && !reopenImmutable(db, u.path)) {
        Failure f = DbError::describe(QStringLiteral("abrir o banco de dados %1").arg(DbUrl::display(url)), db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        return Result<QSqlDatabase>::fail(std::move(f));
    }
    if (u.kind == DbKind::SQLite)
        rememberOwn(u.path);
    QSqlQuery q(db);
    if (u.kind == DbKind::SQLite && !g_readOnly) {
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    } else if (u.kind == DbKind::PostgreSQL) {
        q.exec(QStringLiteral("SET client_encoding TO 'UTF8'"));
    }
    return db;
}

// The destination the shared connection opens, set by whoever signs the process in.
static QString g_sharedUrl;

void setSharedUrl(const QString &url)
{
    {
        const QMutexLocker lock(&g_ownMutex);
        if (g_sharedUrl == url)
            return;
        g_sharedUrl = url;
    }
    closeShared();
}

QString sharedUrl()
{
    const QMutexLocker lock(&g_ownMutex);
    return g_sharedUrl;
}

QString sharedConnectionName()
{
    return QStringLiteral("imp40500_shared");
}

Result<QSqlDatabase> shared()
{
    const QString name = sharedConnectionName();
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen())
            return db;
    }
    const QString url = sharedUrl();
    if (url.isEmpty())
        return Failure{QStringLiteral("Banco de dados não informado."), {}, {}, -1, {}, Failure::Kind::Unreachable};
    return open(url, name);
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

QDateTime utcFromText(const QString &text)
{
    QString s = text.trimmed();
    if (s.size() > 10 && s.at(10) == u' ')
        s[10] = u'T';
    const qsizetype sign = qMax(s.lastIndexOf(u'+'), s.lastIndexOf(u'-'));
    if (sign > 10 && s.size() - sign == 3)
        s += QStringLiteral(":00"); // "+00" as PostgreSQL writes it: ISO 8601 wants the minutes
    QDateTime d = QDateTime::fromString(s, Qt::ISODateWithMs);
    if (d.isValid() && d.timeSpec() == Qt::LocalTime)
        d = QDateTime(d.date(), d.time(), Qt::UTC);
    return d.isValid() ? d.toUTC() : QDateTime();
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
    if (auto u = DbUrl::parse(sharedUrl()); u && u.value().kind == DbKind::SQLite
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
