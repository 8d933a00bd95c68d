#include "importrun.h"

#include "ambiente.h"
#include "database.h"
#include "importsession.h"
#include "messages.h"

QString ImportOutcome::successText(const QString &dishPicture) const
{
    QString text = Msg(QStringLiteral("ImportaOk"));
    if (!hasSummary)
        return text;
    const int written = summary.dishesWritten;
    const QStringList &refused = summary.dishesNotWritten;
    const QString line = refused.isEmpty()
                             ? Msg(QStringLiteral("ImportaResumo")).arg(written).arg(0)
                             : Msg(QStringLiteral("ImportaResumoCodigos"))
                                   .arg(written)
                                   .arg(refused.size())
                                   .arg(dishCodeList(refused, dishPicture));
    return text + u'\n' + line;
}

QString ImportOutcome::summaryText(const QString &dishPicture) const
{
    return hasSummary ? summary.toText(dishPicture) : QString();
}

ImportOutcome ImportOutcome::fromPayload(const QByteArray &payload)
{
    ImportOutcome out;
    const Result<ImportSummary> decoded = ImportSummary::decode(payload);
    if (decoded.ok()) {
        out.hasSummary = true;
        out.summary = decoded.value();
    }
    return out;
}

ImportRun::ImportRun(ImportSession &session, RefreshCache refreshCache)
    : m_session(session), m_refreshCache(std::move(refreshCache))
{
    if (!m_refreshCache)
        m_refreshCache = [](const QStringList &tables) { return Ambiente::instance().AtualizaLocalCache(tables); };
}

// A refusal about one dish names the dish's line in the file, which only the client knows.
Failure ImportRun::withDishLine(Failure f) const
{
    const MemTable &prato = m_session.cdsPrato;
    const int code = prato.isActive() ? prato.fieldIndex(u"CDPRATO") : -1;
    const int line = m_session.dishLine(f.dishRow);
    if (f.dishRow >= 0 && f.dishRow < prato.rowCount() && code >= 0 && line > 0)
        f.message += u' ' + Msg(QStringLiteral("Imp_PratoNaLinha")).arg(prato.textAt(f.dishRow, code)).arg(line);
    return f;
}

Result<ImportOutcome> ImportRun::run()
{
    // Nothing is checked before sending: what may be imported is decided by when the import is
    // offered, and the server decides about dishes with errors and unpaired services.
    ServerCall call(m_session.observer(), 6);
    m_session.observer().setStatusText(Msg(QStringLiteral("Import")));
    const Result<QByteArray> answer = m_session.callImportacao();
    if (!answer)
        return withDishLine(answer.failure());
    // The packets and the server's work are gone: the cache is read back in their room.
    returnFreedMemory();
    ImportOutcome outcome = ImportOutcome::fromPayload(answer.value());
    // The import is done whatever becomes of the client's cache: a cache that cannot be refreshed
    // is told beside the success, never as the import's failure.
    if (const Status refreshed = m_refreshCache({QStringLiteral("PRATO")}); !refreshed)
        outcome.cacheFailure = refreshed.failure();
    return outcome;
}
