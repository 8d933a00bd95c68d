#include "rdmcalls.h"

#include "ambiente.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>

// ---------------------------------------------------------------------------------------------
// ImportSummary

QByteArray ImportSummary::encode() const
{
    QCborMap m;
    m.insert(QStringLiteral("dishesWritten"), dishesWritten);
    QCborArray refused;
    for (const QString &c : dishesNotWritten)
        refused.append(c);
    m.insert(QStringLiteral("dishesNotWritten"), refused);
    QCborArray rows;
    for (const auto &[table, count] : rowsPerTable)
        rows.append(QCborArray{table, count});
    m.insert(QStringLiteral("rowsPerTable"), rows);
    if (!historyId.isEmpty())
        m.insert(QStringLiteral("historyId"), historyId);
    return QCborValue(m).toCbor();
}

Result<ImportSummary> ImportSummary::decode(const QByteArray &payload)
{
    const auto bad = [] {
        return Result<ImportSummary>::fail(QStringLiteral("Resumo da importação inválido."));
    };
    QCborParserError err;
    const QCborValue v = QCborValue::fromCbor(payload, &err);
    if (err.error != QCborError::NoError || !v.isMap())
        return bad();
    const QCborMap m = v.toMap();
    ImportSummary s;
    const QCborValue written = m.value(QStringLiteral("dishesWritten"));
    if (!written.isInteger())
        return bad();
    s.dishesWritten = int(written.toInteger());
    for (const QCborValue &c : m.value(QStringLiteral("dishesNotWritten")).toArray()) {
        if (!c.isString())
            return bad();
        s.dishesNotWritten << c.toString();
    }
    for (const QCborValue &r : m.value(QStringLiteral("rowsPerTable")).toArray()) {
        const QCborArray pair = r.toArray();
        if (pair.size() != 2 || !pair.at(0).isString() || !pair.at(1).isInteger())
            return bad();
        s.rowsPerTable.append({pair.at(0).toString(), int(pair.at(1).toInteger())});
    }
    // Servers before the import history did not send it.
    const QCborValue history = m.value(QStringLiteral("historyId"));
    if (history.isString())
        s.historyId = history.toString();
    else if (!history.isUndefined())
        return bad();
    return s;
}

QString ImportSummary::toText(const QString &dishPicture) const
{
    QString text = QStringLiteral("Pratos gravados: %1.").arg(dishesWritten);
    if (dishesNotWritten.isEmpty()) {
        text += QStringLiteral("\nPratos não gravados por erro: nenhum.");
    } else {
        text += QStringLiteral("\nPratos não gravados por erro: %1 (%2).")
                    .arg(dishesNotWritten.size())
                    .arg(dishCodeList(dishesNotWritten, dishPicture));
    }
    QStringList parts;
    for (const auto &[table, count] : rowsPerTable)
        parts << QStringLiteral("%1 %2").arg(table).arg(count);
    if (!parts.isEmpty())
        text += QStringLiteral("\nLinhas gravadas: ") + parts.join(QStringLiteral(", ")) + QLatin1Char('.');
    return text;
}

// ---------------------------------------------------------------------------------------------
// Typed calls

QByteArray UndoSummary::encode() const
{
    QCborMap m;
    m.insert(QStringLiteral("undoId"), undoId);
    m.insert(QStringLiteral("importId"), importId);
    m.insert(QStringLiteral("dishesDeleted"), dishesDeleted);
    m.insert(QStringLiteral("dishesRestored"), dishesRestored);
    return QCborValue(m).toCbor();
}

Result<UndoSummary> UndoSummary::decode(const QByteArray &payload)
{
    QCborParserError err;
    const QCborMap m = QCborValue::fromCbor(payload, &err).toMap();
    UndoSummary s;
    const QCborValue undo = m.value(QStringLiteral("undoId")), import = m.value(QStringLiteral("importId")),
                     deleted = m.value(QStringLiteral("dishesDeleted")), restored = m.value(QStringLiteral("dishesRestored"));
    if (err.error != QCborError::NoError || !undo.isString() || !import.isString() || !deleted.isInteger() || !restored.isInteger())
        return Result<UndoSummary>::fail(QStringLiteral("Resumo do desfazer inválido."));
    s.undoId = undo.toString();
    s.importId = import.toString();
    s.dishesDeleted = int(deleted.toInteger());
    s.dishesRestored = int(restored.toInteger());
    return s;
}

namespace Rdm {

using CallArg::flag;

Result<QByteArray> GetDiretorios(NetConnection &c) { return c.call(QStringLiteral("GetDiretorios"), {}); }
Result<QByteArray> SetDiretorios(NetConnection &c, const QByteArray &delta)
{
    return c.call(QStringLiteral("SetDiretorios"), CallArgs{delta});
}
Result<QByteArray> GetParamGeral(NetConnection &c) { return c.call(QStringLiteral("GetParamGeral"), {}); }
Result<QByteArray> GetPrato(NetConnection &c) { return c.call(QStringLiteral("GetPrato"), {}); }
Result<QByteArray> GetRecePadr(NetConnection &c) { return c.call(QStringLiteral("GetRecePadr"), {}); }
Result<QByteArray> GetReceServ(NetConnection &c) { return c.call(QStringLiteral("GetReceServ"), {}); }
Result<QByteArray> GetReceFili(NetConnection &c) { return c.call(QStringLiteral("GetReceFili"), {}); }
Result<QByteArray> GetPratPadr(NetConnection &c) { return c.call(QStringLiteral("GetPratPadr"), {}); }
Result<QByteArray> GetPratFili(NetConnection &c) { return c.call(QStringLiteral("GetPratFili"), {}); }
Result<QByteArray> GetPratServ(NetConnection &c) { return c.call(QStringLiteral("GetPratServ"), {}); }

Result<QByteArray> GetPesqPrato(NetConnection &c, const QString &cdPrato, const QString &cdFilial)
{
    return c.call(QStringLiteral("GetPesqPrato"), CallArgs{cdPrato, cdFilial});
}

Result<QByteArray> Importacao(NetConnection &c, const QByteArray &prato, const QByteArray &recePadr,
                              const QByteArray &receFili, const QByteArray &servDestino,
                              const QByteArray &receServ, const QByteArray &pratPadr,
                              const QByteArray &pratFili, const QByteArray &servico, bool temRecePadr,
                              bool temReceFili, bool temReceServ, const QString &cdFilial)
{
    return c.call(QStringLiteral("Importacao"),
                  CallArgs{prato, recePadr, receFili, servDestino, receServ, pratPadr, pratFili, servico,
                           flag(temRecePadr), flag(temReceFili), flag(temReceServ), cdFilial});
}

Result<QByteArray> Desfazer(NetConnection &c, const QString &historyId, bool onlyCheck)
{
    return c.call(QStringLiteral("Desfazer"), onlyCheck ? CallArgs{historyId, flag(true)} : CallArgs{historyId});
}

} // namespace Rdm

