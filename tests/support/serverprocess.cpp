#include "serverprocess.h"
#include "transport.h"

#include <QJsonDocument>
#include <QProcessEnvironment>

std::unique_ptr<ServerProcess> ServerProcess::start(const QString &dbUrl, QString *why, const QByteArray &pauseAt,
                                                    int pauseSeconds)
{
    auto s = std::make_unique<ServerProcess>();
    if (!pauseAt.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("IMP_SERVER_PAUSE_AT"), QString::fromLatin1(pauseAt));
        env.insert(QStringLiteral("IMP_SERVER_PAUSE_SECONDS"), QString::number(pauseSeconds));
        s->proc.setProcessEnvironment(env);
    }
    s->proc.start(QStringLiteral(IMP_SERVER_BIN),
                  {QStringLiteral("--db"), dbUrl, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    if (!s->proc.waitForStarted(5000)) {
        *why = s->proc.errorString();
        return nullptr;
    }
    // "imp40500-server: escutando em http://127.0.0.1:PORT/..."
    QByteArray out;
    for (int i = 0; i < 100 && !out.contains('\n'); ++i) {
        s->proc.waitForReadyRead(100);
        out += s->proc.readAllStandardOutput();
    }
    const qsizetype at = out.indexOf("127.0.0.1:");
    if (at < 0) {
        *why = QString::fromLocal8Bit(out + s->proc.readAllStandardError());
        return nullptr;
    }
    s->port = out.mid(at + 10, out.indexOf('/', at) - at - 10).toInt();
    return s;
}

ServerProcess::~ServerProcess()
{
    proc.kill();
    proc.waitForFinished(5000);
}

bool ServerProcess::waitForPause(int ms)
{
    for (int i = 0; i < ms / 100; ++i) {
        proc.waitForReadyRead(100);
        err += proc.readAllStandardError();
        if (err.contains("pausa em"))
            return true;
    }
    return false;
}

QString ServerProcess::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

NetConnection &ServerProcess::net()
{
    if (!m_net) {
        m_net = std::make_unique<NetConnection>();
        m_net->setTransport(std::make_unique<HttpTransport>(QStringLiteral("127.0.0.1"), port, QString(), 120));
    }
    return *m_net;
}

QJsonObject ProcessRun::json() const
{
    return QJsonDocument::fromJson(out).object();
}

ProcessRun ProcessRun::finish(QProcess &p, int ms)
{
    ProcessRun r;
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

ProcessRun ProcessRun::run(const QString &program, const QStringList &args, const QString &dir, int ms)
{
    QProcess p;
    if (!dir.isEmpty())
        p.setWorkingDirectory(dir);
    p.start(program, args);
    return finish(p, ms);
}
