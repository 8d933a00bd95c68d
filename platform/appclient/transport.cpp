#include "transport.h"
#include "wire.h"
#include "ambiente.h"

#include <QMutex>

// ---------------------------------------------------------------------------------------------
// Transports

RemoteDataModule::~RemoteDataModule() = default;
ServerTransport::~ServerTransport() = default;

QByteArray RemoteDataModule::handle(const QString &method, const QByteArray &requestBody)
{
    auto args = Wire::decodeRequest(requestBody);
    if (!args)
        return Wire::encodeFailure(args.failure());
    return Wire::encodeReply(call(method, args.value()));
}

InProcessTransport::InProcessTransport(std::shared_ptr<RemoteDataModule> module)
    : m_module(std::move(module))
{
}

Result<QByteArray> InProcessTransport::call(const QString &method, const CallArgs &args)
{
    if (!m_module)
        return Result<QByteArray>::fail(QStringLiteral("Servidor de aplicação embutido não disponível."));
    // The values go as they are: the packets, a good part of the file's size each, are shared with
    // the caller's, not copied. The methods check every argument's kind as they would a request's.
    Result<QByteArray> r = m_module->call(method, args);
    if (!r)
        return Result<QByteArray>::fail(Wire::received(r.failure()));
    return r;
}

namespace {
QMutex g_factoryMutex;
EmbeddedServerFactory g_factory;
} // namespace

void setEmbeddedServerFactory(EmbeddedServerFactory factory)
{
    QMutexLocker lock(&g_factoryMutex);
    g_factory = std::move(factory);
}

bool hasEmbeddedServerFactory()
{
    QMutexLocker lock(&g_factoryMutex);
    return bool(g_factory);
}

static EmbeddedServerFactory embeddedFactory()
{
    QMutexLocker lock(&g_factoryMutex);
    return g_factory;
}

// ---------------------------------------------------------------------------------------------
// NetConnection

NetConnection::NetConnection() = default;
NetConnection::~NetConnection() = default;

void NetConnection::setConnected(bool on)
{
    if (!on) {
        m_open = false;
        if (!m_injected)
            m_transport.reset();
        return;
    }
    if (connected())
        return;
    m_lastFailure.reset();
    if (m_injected) {
        m_open = true;
        return;
    }
    if (BeforeConnect)
        BeforeConnect(*this);
    if (!Host.trimmed().isEmpty()) {
        if (Port <= 0 || Port > 65535) {
            m_lastFailure = Failure{QStringLiteral("Porta do servidor de aplicação inválida: %1.").arg(Port), {}, {}, -1, {},
                                    Failure::Kind::Unreachable};
            return;
        }
        m_transport = std::make_unique<HttpTransport>(Host.trimmed(), Port, Token, CallTimeout, ImportTimeout);
        m_open = true;
        return;
    }
    const EmbeddedServerFactory factory = embeddedFactory();
    if (!factory) {
        m_lastFailure = Failure{QStringLiteral("Servidor de aplicação não informado e nenhum servidor embutido disponível."),
                                {}, {}, -1, {}, Failure::Kind::Unreachable};
        return;
    }
    Result<std::shared_ptr<RemoteDataModule>> module = factory();
    if (!module) {
        m_lastFailure = module.failure();
        return;
    }
    m_transport = std::make_unique<InProcessTransport>(std::move(module).value());
    m_open = true;
}

bool NetConnection::connected() const
{
    return m_open && m_transport;
}

QString NetConnection::lastError() const
{
    return m_lastFailure ? m_lastFailure->message : QString();
}

void NetConnection::setTransport(std::unique_ptr<ServerTransport> transport)
{
    m_transport = std::move(transport);
    m_injected = bool(m_transport);
    m_open = m_injected;
}

Result<QByteArray> NetConnection::call(const QString &method, const CallArgs &args)
{
    if (!connected())
        setConnected(true);
    // The embedded server that could not start says why itself (its database, mostly): no server
    // is in use that the operator could look for.
    if (!connected() && Host.trimmed().isEmpty())
        return m_lastFailure ? *m_lastFailure : Failure::unexpected(QStringLiteral("Não foi possível iniciar o servidor de aplicação embutido."));
    if (!connected())
        return Failure{QStringLiteral("Sem conexão com o servidor de aplicação %1: %2").arg(ServerName, lastError()), {}, {},
                       -1, {}, Failure::Kind::Unreachable};
    return m_transport->call(method, args);
}


void NetConnection::settingsFrom(const Ambiente &env)
{
    Port = env.WebPort;
    Host = env.WebURL;
    Token = env.token;
    CallTimeout = env.callTimeout;
    ImportTimeout = env.importTimeout;
}
