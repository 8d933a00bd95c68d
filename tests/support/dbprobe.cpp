#include "dbprobe.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include <sqlite3.h>
#include <sys/stat.h>

namespace DbProbe {

namespace {

// Runs one PRAGMA on a connection made and dropped for it; its first row as text.
QStringList pragmaRow(const QString &dbPath, const QString &pragma)
{
    const QString name = QStringLiteral("dbprobe-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QStringList row;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            row << QStringLiteral("cannot open: ") + dbPath;
        else {
            QSqlQuery q(db);
            if (!q.exec(pragma))
                row << QStringLiteral("failed: ") + pragma;
            else if (q.next())
                for (int c = 0; c < q.record().count(); ++c)
                    row << q.value(c).toString();
            q.finish();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return row;
}

// Connections of other threads (a module's own) cannot be reached from here; Qt says so for each,
// and the probe only wants to skip them.
QtMessageHandler g_previousHandler = nullptr;
void quietAboutOtherThreads(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!text.contains(QLatin1String("does not belong to the calling thread")))
        g_previousHandler(type, context, text);
}

} // namespace

QStringList busyStatements()
{
    QStringList busy;
    for (const QString &name : QSqlDatabase::connectionNames()) {
        g_previousHandler = qInstallMessageHandler(quietAboutOtherThreads);
        const QSqlDatabase db = QSqlDatabase::database(name, false);
        qInstallMessageHandler(g_previousHandler);
        if (!db.isOpen() || db.driverName() != QLatin1String("QSQLITE"))
            continue;
        const QVariant h = db.driver()->handle();
        if (qstrcmp(h.typeName(), "sqlite3*") != 0)
            continue;
        sqlite3 *handle = *static_cast<sqlite3 *const *>(h.constData());
        for (sqlite3_stmt *s = sqlite3_next_stmt(handle, nullptr); s; s = sqlite3_next_stmt(handle, s))
            if (sqlite3_stmt_busy(s))
                busy << name + QStringLiteral(": ") + QString::fromUtf8(sqlite3_sql(s));
    }
    return busy;
}

int locksHeld(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return -1;
    // "1: POSIX  ADVISORY  READ 1234 08:01:5678 128 128": the owner's pid, then major:minor:inode.
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    const QByteArray inode = ':' + QByteArray::number(qulonglong(st.st_ino));
    int held = 0;
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        // Lines of blocked waiters carry "->" after the id; their fields move one place.
        const int at = f.size() > 1 && f[1] == "->" ? 2 : 1;
        if (f.size() > at + 4 && f[at] == "POSIX" && f[at + 3] == pid && f[at + 4].endsWith(inode))
            ++held;
    }
    return held;
}

QString checkpoint(const QString &dbPath)
{
    // busy, log frames, frames checkpointed: busy 0 and all frames written back is a full one.
    const QStringList row = pragmaRow(dbPath, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    if (row.size() == 3 && row[0] == u"0")
        return {};
    return QStringLiteral("checkpoint did not complete: ") + row.join(u' ');
}

QString integrity(const QString &dbPath)
{
    return pragmaRow(dbPath, QStringLiteral("PRAGMA integrity_check")).join(u' ');
}

} // namespace DbProbe
