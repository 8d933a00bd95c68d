#pragma once
// One database transaction that rolls back when it goes out of scope uncommitted, so that no path
// out of a write (an early return, an exception) leaves half of it behind.
#include "result.h"

#include <QSqlDatabase>
#include <QSqlError>

class TransactionGuard {
public:
    explicit TransactionGuard(QSqlDatabase db) : m_db(std::move(db))
    {
        m_active = m_db.transaction();
        if (!m_active)
            m_error = m_db.lastError().text();
    }
    ~TransactionGuard()
    {
        if (m_active)
            m_db.rollback();
    }
    TransactionGuard(const TransactionGuard &) = delete;
    TransactionGuard &operator=(const TransactionGuard &) = delete;

    bool begun() const { return m_active; }
    QString error() const { return m_error; }

    // Ends the transaction now. A failed statement on PostgreSQL aborts the transaction, and its
    // prepared statements can only be released once the transaction is over.
    void rollback()
    {
        if (m_active)
            m_db.rollback();
        m_active = false;
    }

    Status commit()
    {
        if (!m_active)
            return Status::fail(QStringLiteral("Nenhuma transação aberta."));
        if (!m_db.commit()) {
            const QString text = m_db.lastError().text();
            m_db.rollback();
            m_active = false;
            return Status::fail(QStringLiteral("Falha ao confirmar a transação: %1").arg(text));
        }
        m_active = false;
        return okStatus();
    }

private:
    QSqlDatabase m_db;
    bool m_active = false;
    QString m_error;
};
