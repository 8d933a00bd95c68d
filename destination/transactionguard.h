#pragma once
// One database transaction that rolls back when it goes out of scope uncommitted, so that no path
// out of a write (an early return, an exception) leaves half of it behind.
//
// On SQLite the transaction starts with BEGIN IMMEDIATE: it takes the write lock at once, so a
// second writer waits for the first under the busy timeout. A deferred BEGIN would read first and
// then fail at once ("database is locked") when the read turns into a write.
#include "dberror.h"
#include "result.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

class TransactionGuard {
public:
    explicit TransactionGuard(QSqlDatabase db) : m_db(std::move(db))
    {
        if (m_db.driverName() == QLatin1String("QSQLITE")) {
            QSqlQuery begin(m_db);
            m_active = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
            if (!m_active)
                m_failure = DbError::describe(QStringLiteral("iniciar a transação"), begin.lastError());
        } else {
            m_active = m_db.transaction();
            if (!m_active)
                m_failure = DbError::describe(QStringLiteral("iniciar a transação"), m_db.lastError());
        }
        if (m_active)
            ++begunOnThisThread();
    }
    ~TransactionGuard()
    {
        if (m_active)
            m_db.rollback();
    }
    TransactionGuard(const TransactionGuard &) = delete;
    TransactionGuard &operator=(const TransactionGuard &) = delete;

    bool begun() const { return m_active; }
    QString error() const { return m_failure.message; }
    const Failure &failure() const { return m_failure; }

    // How many transactions this thread has begun: a call that began none wrote nothing, so it may
    // be run again after a reconnection; one that began any may not.
    static int &begunOnThisThread()
    {
        thread_local int n = 0;
        return n;
    }

    Status commit()
    {
        if (!m_active)
            return Status::fail(QStringLiteral("Nenhuma transação aberta."));
        if (!m_db.commit()) {
            Failure f = DbError::describe(QStringLiteral("confirmar a transação"), m_db.lastError());
            m_db.rollback();
            m_active = false;
            return Status::fail(std::move(f));
        }
        m_active = false;
        return okStatus();
    }

private:
    QSqlDatabase m_db;
    bool m_active = false;
    Failure m_failure;
};
