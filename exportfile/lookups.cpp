// The unit and product lookups of the load pass, each code asked once per pass.
#include "loadpass.h"
#include "loadpassparts.h"

// ---- Lookups -----------------------------------------------------------------------------------

namespace LoadPassParts {

const QString &lookupOnce(ReadOnlyQuery &q, const QString &param, QStringView value, ViewCache &cache,
                          int &executions)
{
    if (const QString *hit = cache.find(value))
        return *hit;
    // No destination holds a code with a NUL, and PostgreSQL refuses one as a parameter.
    if (value.contains(QChar(0))) {
        cache.insert(value, QString());
        return *cache.find(value);
    }
    QString found;
    q.close();
    q.setParam(param, value.toString());
    q.open(); // prepared once, executed again with the new value
    ++executions;
    if (!q.eof())
        found = q.value(0).toString();
    q.close();
    cache.insert(value, found);
    return *cache.find(value);
}

} // namespace LoadPassParts

QString LoadPass::PesqUnidMedida(const QString &sgUnidade)
{
    return lookupOnce(s.qryPesqUnidMed, QStringLiteral("P_SGUNIDADE"), sgUnidade, d->units, d->last.stats.unitQueries);
}

QString LoadPass::PesqProduto(const QString &cdProduto)
{
    return lookupOnce(s.qryPesqProduto, QStringLiteral("P_CDPRODUTO"), cdProduto, d->products, d->last.stats.productQueries);
}
