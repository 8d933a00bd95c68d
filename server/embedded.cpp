#include "embedded.h"
#include "ambiente.h"
#include "rdmimpoprato.h"

void registerEmbeddedServer()
{
    setEmbeddedServerFactory([]() -> Result<std::shared_ptr<RemoteDataModule>> {
        const QString url = Ambiente::instance().databaseUrl;
        if (url.isEmpty())
            return Failure{QStringLiteral("Banco de dados do servidor embutido não informado (IMP_DB)."), {}, {}, -1, {},
                           Failure::Kind::Unreachable};
        // The client calls from its one thread (the screen's, the command line's).
        Result<std::shared_ptr<RdmImpoPrato>> module = RdmImpoPrato::openDirect(url);
        if (!module)
            return module.failure();
        return std::shared_ptr<RemoteDataModule>(std::move(module).value());
    });
}
