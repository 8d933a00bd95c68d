#include "dishsnapshot.h"

#include "database.h"
#include "fnv1a.h"

#include <QSqlQuery>

#include <atomic>

namespace {

// Bumped after every method that may have written; a snapshot read before the bump is dropped.
std::atomic<quint64> g_writes{0};

quint64 codeHash(QStringView s)
{
    quint64 h = Fnv1a::add(Fnv1a::kBasis, s.utf16(), s.size());
    h ^= h >> 29;
    return h == 0 ? 1 : h;
}

// A code the snapshot answers for compares in the database as its characters do: no NUL (which
// PostgreSQL refuses as a parameter, with an error the lookup must still give) and no lone
// surrogate (which SQLite converts on binding).
bool plainCode(const QString &s)
{
    return !s.contains(QChar(0)) && s.isValidUtf16();
}

qint64 liteDataVersion(QSqlDatabase &db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA data_version")) || !q.next())
        return -2;
    return q.value(0).toLongLong();
}

} // namespace

void DishSnapshot::destinationWritten()
{
    g_writes.fetch_add(1, std::memory_order_acq_rel);
}

void DishSnapshot::drop()
{
    m_ready = false;
    m_lookups = 0;
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_count = 0;
}

bool DishSnapshot::knownFree(QSqlDatabase &db, const QString &code, const QString &branch)
{
    if (!plainCode(code) || !plainCode(branch))
        return false;
    if (branch != m_branch) {
        drop();
        m_branch = branch;
    }
    if (m_ready && !stillCurrent(db))
        drop();
    if (!m_ready) {
        if (++m_lookups < kWarmAfter || !warm(db))
            return false;
    }
    return !contains(codeHash(code));
}

bool DishSnapshot::stillCurrent(QSqlDatabase &db)
{
    if (m_generation != g_writes.load(std::memory_order_acquire))
        return false;
    if (m_dataVersion < 0) // PostgreSQL: by age
        return m_age.elapsed() <= std::max(kMaxAgeMs, 10 * m_readMs);
    if (m_checked.elapsed() < kRecheckMs)
        return true;
    if (liteDataVersion(db) != m_dataVersion)
        return false;
    m_checked.restart();
    return true;
}

bool DishSnapshot::warm(QSqlDatabase &db)
{
    m_lookups = 0; // a failed reading is tried again kWarmAfter lookups later
    QElapsedTimer reading;
    reading.start();
    m_generation = g_writes.load(std::memory_order_acquire);
    // Read before the codes: a commit between the two makes the next comparison drop the snapshot.
    m_dataVersion = -1;
    if (Database::kindOf(db) == DbKind::SQLite) {
        m_dataVersion = liteDataVersion(db);
        if (m_dataVersion < 0)
            return false;
    }
    m_slots.assign(64, 0);
    m_count = 0;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.prepare(QStringLiteral("SELECT CDPRATO FROM PRATO WHERE CDFILAUXPRAT = ?")))
            return false;
        q.bindValue(0, m_branch);
        if (!q.exec()) {
            m_slots.clear();
            return false;
        }
        while (q.next())
            insert(codeHash(q.value(0).toString()));
    }
    m_readMs = reading.elapsed();
    m_age.start();
    m_checked.start();
    m_ready = true;
    return true;
}

bool DishSnapshot::contains(quint64 hash) const
{
    const size_t mask = m_slots.size() - 1;
    for (size_t i = size_t(hash) & mask;; i = (i + 1) & mask) {
        if (m_slots[i] == hash)
            return true;
        if (m_slots[i] == 0)
            return false;
    }
}

void DishSnapshot::insert(quint64 hash)
{
    if ((m_count + 1) * 2 > m_slots.size()) {
        std::vector<quint64> old(m_slots.size() * 2, 0);
        old.swap(m_slots);
        m_count = 0;
        for (quint64 h : old)
            if (h != 0)
                insert(h);
    }
    const size_t mask = m_slots.size() - 1;
    size_t i = size_t(hash) & mask;
    while (m_slots[i] != 0 && m_slots[i] != hash)
        i = (i + 1) & mask;
    if (m_slots[i] == 0) {
        m_slots[i] = hash;
        ++m_count;
    }
}
