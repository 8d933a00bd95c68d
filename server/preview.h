#pragma once
// GetPrevia: what an import of the same dishes would change at the destination, asked before it
// is made. Reads only.
//   arguments: the dishes that would be written as a data packet with CDFILAUXPRAT and CDPRATO
//              (the dishes without errors, as the load pass left them), the three yes/no flags of
//              Importacao (TemRecePadr, TemReceFili, TemReceServ), the destination branch
//   payload:   CBOR map {"existing": [packet rows whose dish the destination holds],
//              "rows": {"RECEPADR": n, "RECEFILI": n, "RECESERV": n}}, where n counts the
//              destination's recipe rows of those dishes that the import would replace (0 for a
//              section the file does not hold, which the import leaves alone)
#include "result.h"

#include <QByteArray>
#include "callargs.h"
#include <QSqlDatabase>

namespace RdmMethods {
inline constexpr const char *kPreviewMethod = "GetPrevia";
Result<QByteArray> getPrevia(QSqlDatabase &db, const CallArgs &args);
} // namespace RdmMethods
