// What the load pass asks the destination: the default lookups over the connection, and the pass's
// own answers in front of them, each code asked once per pass.
#include "destinationlookups.h"
#include "loadpass.h"
#include "loadpassparts.h"

#include "appserver.h"
#include "database.h"
#include "servicemap.h"

DestinationLookups::~DestinationLookups() = default;

namespace {

// One run of a prepared lookup query with a new code: its first column, empty when no row.
Result<QString> ask(ReadOnlyQuery &q, const QString &param, const QString &value)
{
    q.close();
    q.setParam(param, value);
    if (const Status opened = q.open(); !opened) // prepared once, executed again with the new value
        return opened.failure();
    QString found;
    if (!q.eof())
        found = q.value(0).toString();
    q.close();
    return found;
}

} // namespace

ConnectionLookups::ConnectionLookups(NetConnection &net)
    : m_net(net),
      m_unit(QStringLiteral("SELECT SGUNIDADE, DSUNIDADE FROM UNIDMEDIDA WHERE SGUNIDADE = :P_SGUNIDADE")),
      m_product(QStringLiteral("SELECT CDPRODUTO, NMPRODUTO FROM PRODUTO WHERE CDPRODUTO = :P_CDPRODUTO"))
{
}

Result<QString> ConnectionLookups::unit(const QString &sgUnidade)
{
    return ask(m_unit, QStringLiteral("P_SGUNIDADE"), sgUnidade);
}

Result<QString> ConnectionLookups::product(const QString &cdProduto)
{
    return ask(m_product, QStringLiteral("P_CDPRODUTO"), cdProduto);
}

void ConnectionLookups::services(ServiceMap &map)
{
    map.prepareDestinationServices();
}

Result<QByteArray> ConnectionLookups::dish(const QString &cdPrato, const QString &cdFilial)
{
    return Rdm::GetPesqPrato(m_net, cdPrato, cdFilial);
}

// ---- The pass's answers ------------------------------------------------------------------------

const QString &LoadPass::Impl::lookupOnce(Lookup lookup, QStringView value, ViewCache &cache, int &asked)
{
    if (const QString *hit = cache.find(value))
        return *hit;
    // No destination holds a code with a NUL, and PostgreSQL refuses one as a parameter.
    if (value.contains(QChar(0))) {
        cache.insert(value, QString());
        return *cache.find(value);
    }
    ++asked;
    // A lookup that cannot be made ends the pass: no check of the file can be trusted any more.
    const Result<QString> found = (lookups.*lookup)(value.toString());
    if (!found)
        MensErro(found.failure());
    cache.insert(value, found.value());
    return *cache.find(value);
}

QString LoadPass::PesqUnidMedida(const QString &sgUnidade)
{
    return d->lookupOnce(&DestinationLookups::unit, sgUnidade, d->units, d->last.stats.unitQueries);
}

QString LoadPass::PesqProduto(const QString &cdProduto)
{
    return d->lookupOnce(&DestinationLookups::product, cdProduto, d->products, d->last.stats.productQueries);
}
