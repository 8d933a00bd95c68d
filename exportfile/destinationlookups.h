#pragma once
// What the load pass asks the destination: whether it has a unit or a product of a code, which
// services the destination branch has (for the service map), and the dish of a code in the branch.
// The pass keeps the answers for its run in front of this interface, so that each code crosses it
// once per pass; the interface keeps nothing.
#include "query.h"
#include "result.h"

#include <QByteArray>
#include <QString>

class NetConnection;
class ServiceMap;

class DestinationLookups {
public:
    virtual ~DestinationLookups();
    // The destination's code of a unit (UNIDMEDIDA.SGUNIDADE) or a product (PRODUTO.CDPRODUTO) as
    // the destination's comparison finds it; empty when it has none.
    virtual Result<QString> unit(const QString &sgUnidade) = 0;
    virtual Result<QString> product(const QString &cdProduto) = 0;
    // The destination branch's services, read into the map for its pairing. A failure abandons
    // the action (MensErro).
    virtual void services(ServiceMap &map) = 0;
    // The destination's dish of a code in a branch: the GetPesqPrato packet (no rows: none).
    virtual Result<QByteArray> dish(const QString &cdPrato, const QString &cdFilial) = 0;
};

// The destination behind a connection: the unit and product queries, prepared once and run again
// with each code; the service map's own query; the server's GetPesqPrato.
class ConnectionLookups final : public DestinationLookups {
public:
    explicit ConnectionLookups(NetConnection &net);
    Result<QString> unit(const QString &sgUnidade) override;
    Result<QString> product(const QString &cdProduto) override;
    void services(ServiceMap &map) override;
    Result<QByteArray> dish(const QString &cdPrato, const QString &cdFilial) override;

private:
    NetConnection &m_net;
    ReadOnlyQuery m_unit;    // P_SGUNIDADE
    ReadOnlyQuery m_product; // P_CDPRODUTO
};
