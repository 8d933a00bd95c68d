#include "seededserver.h"
#include "destinationreader.h"
#include "ambiente.h"
#include "database.h"

#include <QSqlError>
#include <QSqlQuery>

std::unique_ptr<SeededServer> SeededServer::make(const QString &kind, Transport transport, QString *why,
                                                 const QString &token, qint64 maxRequestBytes)
{
    auto s = std::make_unique<SeededServer>();
    if (!s->open(kind, transport, why, token, maxRequestBytes))
        return nullptr;
    return s;
}

SeededServer::Transport SeededServer::transportOf(const QString &transport)
{
    return transport == QLatin1String("http") ? Transport::Http : Transport::InProcess;
}

bool SeededServer::open(const QString &kind, Transport transport, QString *why, const QString &token,
                        qint64 maxRequestBytes)
{
    db = SeededDb::create(kind, true, why);
    if (!db)
        return false;
    auto opened = RdmImpoPrato::open(db->url());
    if (!opened) {
        if (why)
            *why = opened.error();
        return false;
    }
    module = opened.value();
    if (transport == Transport::Http) {
        http = std::make_unique<HttpServer>(module, token, maxRequestBytes);
        auto port = http->start(QStringLiteral("127.0.0.1"), 0);
        if (!port) {
            *why = port.error();
            return false;
        }
        net.setTransport(std::make_unique<HttpTransport>(QStringLiteral("127.0.0.1"), port.value(), token, 60));
    } else {
        net.setTransport(std::make_unique<InProcessTransport>(module));
    }
    return true;
}

SeededServer::~SeededServer()
{
    if (m_operatorDatabase)
        Database::closeShared();
}

void SeededServer::useAsOperatorDatabase()
{
    Database::closeShared();
    Database::useDestination(Ambiente::instance(), db->url());
    Ambiente::instance().locale = QLocale(QLocale::Portuguese, QLocale::Brazil);
    m_operatorDatabase = true;
}

bool SeededServer::exec(const QString &sql)
{
    QSqlQuery q(db->db());
    if (!q.exec(sql)) {
        qWarning() << sql << q.lastError().text();
        return false;
    }
    return true;
}

QString SeededServer::write(const ExportWriter &w, const QByteArray &eol, const QString &name)
{
    const QString path = dir.filePath(name);
    w.write(path, eol);
    return path;
}

void bothDatabases()
{
    QTest::addColumn<QString>("db");
    QTest::newRow("sqlite") << "sqlite";
    QTest::newRow("postgresql") << "postgresql";
}

void bothBackends()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}
