#pragma once
// The service pairings an import remembers: after a successful Importacao, every row of the
// service map that has a destination is kept for the destination branch (origin code and name ->
// destination code), so that the next load into that branch can offer it again (ServiceMap).
#include "memtable.h"
#include "result.h"

#include <QSqlDatabase>
#include <QString>

namespace ServicePairings {

// Inserts or replaces the pairings of `servico` (the map's packet: CDSERVFILIORIG, NMSERVICOORIG,
// CDSERVFILIDEST) for `branch`, inside the caller's transaction, so they are kept only when the
// import is. Rows without a destination, or without an origin code, are left out; a pairing
// remembered earlier for a service this map leaves unpaired stays as it was. A destination made
// before the table existed gets it here.
Status remember(QSqlDatabase &db, const QString &branch, const MemTable &servico);

} // namespace ServicePairings
