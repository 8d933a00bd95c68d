#pragma once
// The typed calls of the methods of "IMP40500.rdmImpoPrato", argument orders as the server
// defines them, and the summaries Importacao and Desfazer return.
#include "appclient_export.h"
#include "result.h"
#include "transport.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Summary of an import, the payload of Importacao.
struct IMP_APPCLIENT_EXPORT ImportSummary {
    int dishesWritten = 0;
    QStringList dishesNotWritten;           // CDPRATO of dishes refused for their error flags
    QList<QPair<QString, int>> rowsPerTable; // table name, rows written
    QString historyId;                      // the import's row in HISTIMPO; empty from a server without one
    QByteArray encode() const;
    static Result<ImportSummary> decode(const QByteArray &payload);
    // Two or more lines for a person; the refused codes through the dish-code picture (as stored
    // when it is empty), the first ten of them and how many more.
    QString toText(const QString &dishPicture = {}) const;
};

// Summary of an undo, the payload of Desfazer.
struct IMP_APPCLIENT_EXPORT UndoSummary {
    QString undoId;         // the undo's row in HISTIMPO
    QString importId;       // the import it undid
    int dishesDeleted = 0;  // the dishes the import had written
    int dishesRestored = 0; // the dishes it had replaced, put back
    QByteArray encode() const;
    static Result<UndoSummary> decode(const QByteArray &payload);
};

namespace Rdm {
IMP_APPCLIENT_EXPORT Result<QByteArray> GetDiretorios(NetConnection &c);
IMP_APPCLIENT_EXPORT Result<QByteArray> SetDiretorios(NetConnection &c, const QByteArray &delta);
IMP_APPCLIENT_EXPORT Result<QByteArray> GetParamGeral(NetConnection &c);
IMP_APPCLIENT_EXPORT Result<QByteArray> GetPrato(NetConnection &c);
IMP_APPCLIENT_EXPORT Result<QByteArray> GetRecePadr(NetConnection &c);
IMP_APPCLIENT_EXPORT Result<QByteArray> GetReceServ(NetConnection &c);
IMP_APPCLIENT_EXPORT Result<QByteArray> GetReceFili(NetConnection &c);
IMP_APPCLIENT_EXPORT Result<QByteArray> GetPratPadr(NetConnection &c);
IMP_APPCLIENT_EXPORT Result<QByteArray> GetPratFili(NetConnection &c);
IMP_APPCLIENT_EXPORT Result<QByteArray> GetPratServ(NetConnection &c);
IMP_APPCLIENT_EXPORT Result<QByteArray> GetPesqPrato(NetConnection &c, const QString &cdPrato,
                                                    const QString &cdFilial);
// Packets in this order: PRATO, RECEPADR, RECEFILI, SERVDESTINO, RECESERV, PRATPADR, PRATFILI, SERVICO.
IMP_APPCLIENT_EXPORT Result<QByteArray> Importacao(NetConnection &c, const QByteArray &prato,
                                                  const QByteArray &recePadr, const QByteArray &receFili,
                                                  const QByteArray &servDestino, const QByteArray &receServ,
                                                  const QByteArray &pratPadr, const QByteArray &pratFili,
                                                  const QByteArray &servico, bool temRecePadr,
                                                  bool temReceFili, bool temReceServ,
                                                  const QString &cdFilial);
// The undo of the import with this history id; the payload is an UndoSummary. With onlyCheck, the
// same checks and refusals and nothing written: whether the undo would go through now.
IMP_APPCLIENT_EXPORT Result<QByteArray> Desfazer(NetConnection &c, const QString &historyId, bool onlyCheck = false);
} // namespace Rdm
