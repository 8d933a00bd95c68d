#pragma once
// The undo of one import ("Desfazer"), from what its before-image kept (server/beforeimage.h).
//
// In one transaction: it refuses when a dish the import wrote no longer holds what the import
// left for it (its rows, read back now, hash to something else than what was sealed; whoever
// changed them), deletes the rows of the dishes in the tables the import wrote for them, puts the
// kept rows back, and records an undo row in the history naming the import.
#include "callargs.h"
#include "result.h"

#include <QSqlDatabase>

namespace RdmMethods {
// "Desfazer" (history id): the payload is an UndoSummary (platform/appclient/rdmcalls.h).
Result<QByteArray> desfazer(QSqlDatabase &db, const CallArgs &args);
} // namespace RdmMethods
