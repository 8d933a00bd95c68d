#include "history.h"
#include "dberror.h"
#include "framework.h"
#include "importorigin.h"
#include "messages.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>

ImportHistoryRecorder::ImportHistoryRecorder(QSqlDatabase &db, const CallArgs &args) : m_db(db)
{
    m_clock.start();
    m_entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_entry.when = QDateTime::currentDateTimeUtc();
    const ImportOrigin &origin = ImportOrigin::current();
    m_entry.operatorCode = origin.operatorCode;
    m_entry.fileName = origin.fileName;
    m_entry.bytes = origin.bytes;
    m_entry.sha256 = origin.sha256;
    // The branch as the call named it, even one the import then refuses (cut to the column).
    if (args.size() > 11 && CallArg::isText(args.at(11)))
        m_entry.branch = args.at(11).toString().trimmed().left(4);
}

Status ImportHistoryRecorder::written(const ImportSummary &summary)
{
    m_entry.ok = true;
    m_entry.dishesWritten = summary.dishesWritten;
    m_entry.dishesRefused = summary.dishesNotWritten;
    m_entry.rows = summary.rowsPerTable;
    m_entry.durationMs = m_clock.elapsed();
    return ImportHistory::insert(m_db, m_entry);
}

Result<QByteArray> ImportHistoryRecorder::finish(Result<QByteArray> result)
{
    if (result)
        return result;
    m_entry.ok = false;
    m_entry.dishesWritten = 0;
    m_entry.rows.clear();
    m_entry.durationMs = m_clock.elapsed();
    m_entry.messageKey = result.failure().key;
    m_entry.message = result.failure().message;
    // A commit whose answer was lost may have written the call's row already: that one stands.
    // The database ended the import's connection (the reason it failed, often; Qt then holds it as
    // closed): the row goes in through a connection of its own, once the database takes one again.
    Status s = m_db.isOpen() ? ImportHistory::insert(m_db, m_entry, true) : insertWhenConnectionBack();
    if (!s && s.failure().key == QLatin1String("BD_ConexaoPerdida"))
        s = insertWhenConnectionBack();
    if (!s) {
        // The import's own failure is the one the client hears of, with this said after it.
        reportFailureDetail(s.failure());
        Failure f = result.failure();
        f.message += u'\n' + Msg(QStringLiteral("Hist_NaoGravado")).arg(s.failure().message);
        return f;
    }
    return result;
}

// A database that is restarting refuses connections for a while: the row is tried again, less and
// less often, for as long as IMP_HISTORY_WAIT_SECONDS (30 by default).
Status ImportHistoryRecorder::insertWhenConnectionBack()
{
    static const int seconds = qEnvironmentVariableIsSet("IMP_HISTORY_WAIT_SECONDS")
        ? qBound(0, qEnvironmentVariableIntValue("IMP_HISTORY_WAIT_SECONDS"), 600)
        : 30;
    QElapsedTimer waited;
    waited.start();
    int pause = 100;
    for (;;) {
        bool connected = false;
        const Status s = insertOnNewConnection(&connected);
        if (s)
            return s;
        const bool lost = !connected || s.failure().key == QLatin1String("BD_ConexaoPerdida");
        if (!lost || waited.elapsed() + pause > qint64(seconds) * 1000)
            return s;
        QThread::msleep(ulong(pause));
        pause = qMin(pause * 2, 1000);
    }
}

Status ImportHistoryRecorder::insertOnNewConnection(bool *connected)
{
    const QString name = QStringLiteral("imp40500_history_%1").arg(m_entry.id);
    Status s = okStatus();
    {
        QSqlDatabase fresh = QSqlDatabase::cloneDatabase(m_db, name);
        if (!fresh.open()) {
            s = Status::fail(DbError::describe(QStringLiteral("gravar o histórico de importações"), fresh.lastError()));
        } else {
            *connected = true;
            if (Database::kindOf(fresh) == DbKind::PostgreSQL)
                QSqlQuery(fresh).exec(QStringLiteral("SET client_encoding TO 'UTF8'"));
            s = ImportHistory::insert(fresh, m_entry, true);
            fresh.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return s;
}
