// The session's side of the import history: what the client tells the server about the file, and
// whether the same file was already imported into the branch.
#include "importsession.h"
#include "ambiente.h"
#include "database.h"

#include <QFileInfo>
#include <QTimeZone>

ImportOrigin ImportSession::fileOrigin() const
{
    const QString operador = Ambiente::instance().Operador;
    if (auto o = ImportOrigin::ofFile(NmArquivo, operador))
        return o.value();
    ImportOrigin o;
    o.operatorCode = operador.trimmed().left(10);
    o.fileName = QFileInfo(NmArquivo).fileName().left(255);
    return o;
}

std::optional<ImportSession::PreviousImport> ImportSession::previousImport(const ImportOrigin &origin) const
{
    if (origin.sha256.isEmpty())
        return std::nullopt;
    try {
        ReadOnlyQuery q(QStringLiteral("SELECT DTIMPORTACAO, CDOPERADOR FROM HISTIMPO WHERE CDFILIAL = :P_CDFILIAL "
                                       "AND DSSHA256 = :P_DSSHA256 AND IDRESULTADO = 'ok' "
                                       "ORDER BY DTIMPORTACAO DESC"));
        q.setParam(QStringLiteral("P_CDFILIAL"), CdFilial);
        q.setParam(QStringLiteral("P_DSSHA256"), origin.sha256);
        q.open();
        if (q.eof())
            return std::nullopt;
        const QVariant v = q.value(0);
        QDateTime when = v.metaType().id() == QMetaType::QDateTime
            ? v.toDateTime()
            : QDateTime::fromString(v.toString().left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        when = QDateTime(when.date(), when.time(), Qt::UTC);
        return PreviousImport{when, q.value(1).toString().trimmed()};
    } catch (const DatabaseError &) {
        // A destination no import has reached since the history came has no table yet.
        return std::nullopt;
    }
}
