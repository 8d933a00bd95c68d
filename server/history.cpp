#include "history.h"
#include "dberror.h"
#include "framework.h"
#include "importorigin.h"

#include <QSqlError>
#include <QSqlQuery>
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
    // closed): the row goes in through a connection of its own.
    Status s = m_db.isOpen() ? ImportHistory::insert(m_db, m_entry, true) : insertOnNewConnection();
    if (!s && s.failure().key == QLatin1String("BD_ConexaoPerdida"))
        s = insertOnNewConnection();
    if (!s)
        reportFailureDetail(s.failure());
    return result;
}

Status ImportHistoryRecorder::insertOnNewConnection()
{
    const QString name = QStringLiteral("imp40500_history_%1").arg(m_entry.id);
    Status s = okStatus();
    {
        QSqlDatabase fresh = QSqlDatabase::cloneDatabase(m_db, name);
        if (!fresh.open()) {
            s = Status::fail(DbError::describe(QStringLiteral("gravar o histórico de importações"), fresh.lastError()));
        } else {
            if (Database::kindOf(fresh) == DbKind::PostgreSQL)
                QSqlQuery(fresh).exec(QStringLiteral("SET client_encoding TO 'UTF8'"));
            s = ImportHistory::insert(fresh, m_entry, true);
            fresh.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return s;
}
