#include "dberror.h"
#include "messages.h"

#include <QSqlError>

namespace DbError {

Cause classify(const QString &code, const QString &driverText)
{
    const QString t = driverText.toLower();
    // SQLSTATEs have five characters, digits or not; SQLite's codes, extended ones too, fewer.
    const bool pg = code.size() == 5;
    bool numeric = false;
    const int sqlite = code.toInt(&numeric) & 0xff; // extended codes keep the primary in the low byte
    numeric = numeric && !pg;
    if (pg) {
        // PostgreSQL's SQLSTATE: class first, then the few codes that name a cause of their own.
        if (code.startsWith(QLatin1String("08")) || code.startsWith(QLatin1String("57P")))
            return Cause::ConnectionLost;
        if (code == QLatin1String("23505"))
            return Cause::RepeatedKey;
        if (code == QLatin1String("23502"))
            return Cause::MissingValue;
        if (code == QLatin1String("25006"))
            return Cause::ReadOnly;
        if (code == QLatin1String("53100"))
            return Cause::DiskFull;
        if (code == QLatin1String("40P01") || code == QLatin1String("40001"))
            return Cause::Conflict;
        if (code == QLatin1String("55P03"))
            return Cause::Locked;
        if (code == QLatin1String("22021"))
            return Cause::BadCharacter;
        if (code == QLatin1String("3D000"))
            return Cause::NoDatabase;
        if (code == QLatin1String("28P01") || code == QLatin1String("28000"))
            return Cause::AuthRefused;
    }
    if (numeric) {
        switch (sqlite) {
        case 5:  // SQLITE_BUSY
        case 6:  // SQLITE_LOCKED
            return Cause::Locked;
        case 8:  // SQLITE_READONLY
            return Cause::ReadOnly;
        case 13: // SQLITE_FULL
            return Cause::DiskFull;
        case 11: // SQLITE_CORRUPT
        case 14: // SQLITE_CANTOPEN
        case 26: // SQLITE_NOTADB
            return Cause::CannotOpen;
        default:
            break;
        }
    }
    // The drivers do not always give a code (a connection that failed, Qt's own wrappers): the text.
    const auto has = [&](const char *s) { return t.contains(QLatin1String(s)); };
    if (has("unique constraint") || has("duplicate key"))
        return Cause::RepeatedKey;
    if (has("not null constraint") || has("null value in column"))
        return Cause::MissingValue;
    if (has("deadlock detected") || has("could not serialize access"))
        return Cause::Conflict;
    if (has("database is locked") || has("database table is locked") || has("deadlock"))
        return Cause::Locked;
    if (has("readonly database") || has("read-only"))
        return Cause::ReadOnly;
    if (has("disk is full") || has("no space left"))
        return Cause::DiskFull;
    // A connection that was never made, before one that was lost: libpq says "connection to server
    // at ... failed" for both the refused and the lost.
    if (has("no password supplied"))
        return Cause::NoPassword;
    if (has("password authentication failed") || has("authentication failed for user")
        || (has("role \"") && has("\" does not exist")))
        return Cause::AuthRefused;
    if (has("database \"") && has("\" does not exist"))
        return Cause::NoDatabase;
    if (has("timeout expired"))
        return Cause::TimedOut;
    if (has("connection refused") || has("could not translate host name") || has("no route to host")
        || has("network is unreachable") || has("name or service not known"))
        return Cause::NoServer;
    if (has("server closed the connection") || has("no connection to the server") || has("terminating connection")
        || has("connection to server") || has("could not receive data") || has("could not send data"))
        return Cause::ConnectionLost;
    if (has("unable to open") || has("not a database") || has("malformed") || has("could not connect")
        || has("disk i/o error"))
        return Cause::CannotOpen;
    if (has("invalid byte sequence"))
        return Cause::BadCharacter;
    return Cause::Other;
}

QString keyOf(Cause cause)
{
    switch (cause) {
    case Cause::Locked: return QStringLiteral("BD_Bloqueado");
    case Cause::Conflict: return QStringLiteral("BD_Conflito");
    case Cause::ReadOnly: return QStringLiteral("BD_SomenteLeitura");
    case Cause::DiskFull: return QStringLiteral("BD_DiscoCheio");
    case Cause::CannotOpen: return QStringLiteral("BD_NaoAbre");
    case Cause::RepeatedKey: return QStringLiteral("BD_ChaveRepetida");
    case Cause::MissingValue: return QStringLiteral("BD_SemValor");
    case Cause::BadCharacter: return QStringLiteral("BD_CaractereInvalido");
    case Cause::ConnectionLost: return QStringLiteral("BD_ConexaoPerdida");
    case Cause::AuthRefused: return QStringLiteral("BD_AcessoRecusado");
    case Cause::NoPassword: return QStringLiteral("BD_SemSenha");
    case Cause::NoServer: return QStringLiteral("BD_SemServidor");
    case Cause::NoDatabase: return QStringLiteral("BD_Inexistente");
    case Cause::TimedOut: return QStringLiteral("BD_TempoEsgotado");
    case Cause::Other: break;
    }
    return QStringLiteral("BD_Falha");
}

Failure describe(const QString &what, const QString &code, const QString &driverText)
{
    const Cause cause = classify(code, driverText);
    const QString key = keyOf(cause);
    // Out of reach: nothing was tried. Anything else is a statement the database refused.
    const bool unreachable = cause == Cause::CannotOpen || cause == Cause::AuthRefused || cause == Cause::NoPassword
                             || cause == Cause::NoServer || cause == Cause::NoDatabase || cause == Cause::TimedOut;
    return Failure{Msg(key).arg(what), key, driverText.trimmed(), -1, {},
                   unreachable ? Failure::Kind::Unreachable : Failure::Kind::DatabaseRefused};
}

Failure describe(const QString &what, const QSqlError &error)
{
    return describe(what, error.nativeErrorCode(), error.text());
}

} // namespace DbError
