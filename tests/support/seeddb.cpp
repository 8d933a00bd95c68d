#include "seeddb.h"
#include "appserver.h"
#include "database.h"
#include "schema.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <atomic>

namespace {
std::atomic<int> g_serial{0};

bool adminExec(const QString &adminUrl, const QString &sql, QString *why)
{
    const QString name = QStringLiteral("seeddb_admin_%1").arg(++g_serial);
    bool ok = false;
    {
        auto db = Database::open(adminUrl, name);
        if (!db) {
            *why = db.error();
        } else {
            QSqlQuery q(db.value());
            ok = q.exec(sql);
            if (!ok)
                *why = q.lastError().text();
            db.value().close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}
} // namespace

SeededDb::Kind SeededDb::kindOf(const QString &kind)
{
    return kind == QLatin1String("postgresql") ? Kind::PostgreSQL : Kind::SQLite;
}

bool SeededDb::available(Kind kind)
{
    return kind == Kind::SQLite || !qEnvironmentVariable("IMP_TEST_PG_URL").isEmpty();
}

bool SeededDb::available(const QString &kind)
{
    return available(kindOf(kind));
}

std::unique_ptr<SeededDb> SeededDb::create(const QString &kind, bool demo, QString *why)
{
    return create(kindOf(kind), demo, why);
}

std::unique_ptr<SeededDb> SeededDb::create(Kind kind, bool demo, QString *why)
{
    std::unique_ptr<SeededDb> s(new SeededDb);
    s->m_kind = kind;
    s->m_connection = QStringLiteral("seeddb_%1").arg(++g_serial);
    if (kind == Kind::SQLite) {
        s->m_dir = std::make_unique<QTemporaryDir>();
        if (!s->m_dir->isValid()) {
            *why = QStringLiteral("no temporary directory");
            return nullptr;
        }
        s->m_url = QStringLiteral("sqlite:") + s->m_dir->filePath(QStringLiteral("destino.db"));
    } else {
        const QString base = qEnvironmentVariable("IMP_TEST_PG_URL");
        if (base.isEmpty()) {
            *why = QStringLiteral("IMP_TEST_PG_URL not set");
            return nullptr;
        }
        s->m_adminUrl = base;
        s->m_pgName = QStringLiteral("imp_t_%1_%2").arg(QCoreApplication::applicationPid()).arg(g_serial.load());
        if (!adminExec(base, QStringLiteral("CREATE DATABASE %1").arg(s->m_pgName), why))
            return nullptr;
        QUrl u(base);
        u.setPath(QLatin1Char('/') + s->m_pgName);
        s->m_url = u.toString();
    }
    QSqlDatabase db = s->db();
    if (!db.isOpen()) {
        *why = QStringLiteral("cannot open %1").arg(s->m_url);
        return nullptr;
    }
    if (Status st = Schema::create(db); !st) {
        *why = st.error();
        return nullptr;
    }
    if (demo) {
        if (Status st = Schema::seedDemo(db); !st) {
            *why = st.error();
            return nullptr;
        }
    }
    return s;
}

SeededDb::~SeededDb()
{
    if (QSqlDatabase::contains(m_connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
    if (!m_pgName.isEmpty()) {
        QString why;
        adminExec(m_adminUrl, QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_pgName), &why);
    }
}

QSqlDatabase SeededDb::db()
{
    auto r = Database::open(m_url, m_connection);
    return r ? r.value() : QSqlDatabase();
}

QString SeededDb::snapshot()
{
    QStringList out;
    QSqlDatabase d = db();
    for (const Catalogue::TableDef &t : Catalogue::tables()) {
        QSqlQuery q(d);
        q.exec(QStringLiteral("SELECT * FROM ") + t.name);
        QStringList rows;
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < q.record().count(); ++i)
                cells << q.value(i).toString();
            rows << cells.join(QLatin1Char('|'));
        }
        rows.sort();
        out << t.name + QLatin1Char('\n') + rows.join(QLatin1Char('\n'));
    }
    return out.join(QStringLiteral("\n\n"));
}

int SeededDb::count(const QString &table, const QString &where)
{
    QSqlQuery q(db());
    q.exec(QStringLiteral("SELECT COUNT(*) FROM %1%2").arg(table, where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where));
    return q.next() ? q.value(0).toInt() : -1;
}

bool SeededDb::dropOtherConnections()
{
    QSqlQuery kill(db());
    return kill.exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                    "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
}

bool SeededDb::allowConnections(bool allow)
{
    QString why;
    // Not from a connection to the database itself: PostgreSQL refuses that.
    const bool ok = adminExec(m_adminUrl, QStringLiteral("ALTER DATABASE %1 WITH ALLOW_CONNECTIONS %2")
                                              .arg(m_pgName, allow ? QStringLiteral("true") : QStringLiteral("false")),
                              &why);
    if (!ok)
        qWarning("allowConnections: %s", qPrintable(why));
    return ok;
}
