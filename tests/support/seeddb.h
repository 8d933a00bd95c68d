#pragma once
// A fresh destination database for one test: SQLite in a temporary directory, or a PostgreSQL
// database of its own created next to IMP_TEST_PG_URL and dropped afterwards, so tests running in
// parallel never share tables. Either is created with the schema and, on request, the demo data.
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class SeededDb {
public:
    enum class Kind { SQLite, PostgreSQL };

    // Whether this run has the database at all: SQLite always, PostgreSQL when IMP_TEST_PG_URL names
    // a server. A test skips a kind that is not available; one that is must open, or fail.
    static bool available(Kind kind);
    static bool available(const QString &kind);
    static Kind kindOf(const QString &kind); // "postgresql" or anything else (SQLite)

    // nullptr with *why set: PostgreSQL not available, or any failure.
    static std::unique_ptr<SeededDb> create(Kind kind, bool demo, QString *why);
    // "sqlite" or "postgresql".
    static std::unique_ptr<SeededDb> create(const QString &kind, bool demo, QString *why);
    ~SeededDb();

    QString url() const { return m_url; }
    Kind kind() const { return m_kind; }
    // A connection of the calling thread (the test's), opened on first use.
    QSqlDatabase db();

    // Every row of every catalogue table as sorted text, to prove a failed write left nothing.
    QString snapshot();
    // Rows of one table matching a WHERE clause written by the test (its own constant text).
    int count(const QString &table, const QString &where = {});
    // PostgreSQL: ends every other connection to this database (a server's, in the middle of its
    // work), as a database restart would; false when the statement failed.
    bool dropOtherConnections();
    // PostgreSQL: lets new connections to this database in, or keeps them out as a database that is
    // restarting does (the connections already open stay); false when the statement failed.
    bool allowConnections(bool allow);

private:
    SeededDb() = default;
    Kind m_kind = Kind::SQLite;
    QString m_url;
    QString m_connection;
    QString m_adminUrl;   // PostgreSQL: the database the test database was created from
    QString m_pgName;
    std::unique_ptr<QTemporaryDir> m_dir;
};
