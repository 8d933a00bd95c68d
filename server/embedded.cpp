#include "embedded.h"
#include "ambiente.h"
#include "rdmimpoprato.h"

void registerEmbeddedServer()
{
    setEmbeddedServerFactory([](QString *error) -> std::shared_ptr<RemoteDataModule> {
        const QString url = Ambiente::instance().databaseUrl;
        if (url.isEmpty()) {
            if (error)
                *error = QStringLiteral("Banco de dados do servidor embutido não informado (IMP_DB).");
            return nullptr;
        }
        // The client calls from its one thread (the screen's, the command line's).
        return RdmImpoPrato::openDirect(url, error);
    });
}
