#include "ambiente.h"
#include "dberror.h"
#include "catalogue.h"
#include "database.h"
#include "datapacket.h"
#include "memtable.h"
#include "messages.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

Ambiente &Ambiente::instance()
{
    static Ambiente env;
    return env;
}

QStringList Ambiente::loadFromEnvironment()
{
    QStringList problems;
    const auto get = [](const char *name, QString &into) {
        if (qEnvironmentVariableIsSet(name))
            into = qEnvironmentVariable(name).trimmed();
    };
    get("IMP_BRANCH", FiliProc);
    get("IMP_BRANCH_NAME", NomeFiliProc);
    get("IMP_OPERATOR", Operador);
    get("IMP_DB", databaseUrl);
    get("IMP_TOKEN", token);
    if (qEnvironmentVariableIsSet("IMP_MODUFILI")) {
        const QString v = qEnvironmentVariable("IMP_MODUFILI").trimmed().toUpper();
        ModuFili = v == QLatin1String("1") || v == QLatin1String("S") || v == QLatin1String("SIM")
            || v == QLatin1String("TRUE") || v == QLatin1String("YES");
    }
    if (qEnvironmentVariableIsSet("IMP_SERVER")) {
        const QString v = qEnvironmentVariable("IMP_SERVER").trimmed();
        if (v.isEmpty()) {
            WebURL.clear();
            WebPort = 0;
        } else if (!setServer(v)) {
            problems << QStringLiteral("IMP_SERVER: servidor inválido (use HOST:PORTA): %1").arg(v);
        }
    }
    for (const auto &[name, into] : {std::pair{"IMP_CALL_TIMEOUT", &callTimeout}, std::pair{"IMP_IMPORT_TIMEOUT", &importTimeout}}) {
        if (!qEnvironmentVariableIsSet(name))
            continue;
        const QString v = qEnvironmentVariable(name).trimmed();
        bool ok = false;
        const int seconds = v.toInt(&ok);
        if (ok && seconds >= 1 && seconds <= 86400)
            *into = seconds;
        else
            problems << QStringLiteral("%1: tempo inválido (segundos, de 1 a 86400): %2").arg(QLatin1String(name), v);
    }
    if (qEnvironmentVariableIsSet("IMP_LOCALE")) {
        const QString v = qEnvironmentVariable("IMP_LOCALE").trimmed();
        if (const std::optional<QLocale> l = localeNamed(v))
            locale = *l;
        else
            problems << QStringLiteral("IMP_LOCALE: formato regional desconhecido: %1").arg(v);
    }
    return problems;
}

std::optional<QLocale> Ambiente::localeNamed(const QString &name)
{
    const QString n = name.trimmed();
    const QLocale l(n);
    if (l == QLocale::c() && n != u"C" && n != u"POSIX" && !n.startsWith(u"C."))
        return std::nullopt;
    return l;
}

void Ambiente::completeFromDatabase()
{
    if (!NomeFiliProc.isEmpty() || FiliProc.isEmpty())
        return;
    // The name is only shown; without a database the screen reports the real problem later.
    const Result<QSqlDatabase> db = Database::shared();
    if (!db)
        return;
    QSqlQuery q(db.value());
    q.prepare(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = ?"));
    q.addBindValue(FiliProc);
    if (q.exec() && q.next())
        NomeFiliProc = q.value(0).toString().trimmed();
}

QLocale Ambiente::exportFileLocale()
{
    QString name;
    for (const char *var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        name = qEnvironmentVariable(var).trimmed();
        if (!name.isEmpty())
            break;
    }
    const bool none = name.isEmpty() || name == u"C" || name == u"POSIX" || name.startsWith(u"C.");
    return none ? QLocale(QLocale::Portuguese, QLocale::Brazil) : QLocale::system();
}

bool Ambiente::setServer(const QString &hostPort)
{
    const QString v = hostPort.trimmed();
    const int colon = v.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0 || colon == v.size() - 1)
        return false;
    QString host = v.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const int port = v.mid(colon + 1).toInt(&ok);
    if (!ok || port <= 0 || port > 65535 || host.isEmpty() || host.contains(QLatin1Char('/')))
        return false;
    WebURL = host;
    WebPort = port;
    return true;
}

QString Ambiente::DBPict(int kind)
{
    if (!m_pictLoaded) {
        std::optional<QString> picture;
        if (const Result<QSqlDatabase> db = Database::shared())
            picture = readDishPicture(db.value());
        if (!picture)
            return {}; // not kept: the next call tries again
        m_pict.clear();
        if (!picture->isEmpty())
            m_pict.insert(1, *picture);
        m_pictLoaded = true;
    }
    return m_pict.value(kind);
}

std::optional<QString> readDishPicture(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The first general-parameter row is the current one, as the server hands it out.
    if (!q.exec(QStringLiteral("SELECT CDPICTPRAT FROM PARAMGERAL ORDER BY CDFILIAL")))
        return std::nullopt;
    return q.next() ? q.value(0).toString().trimmed() : QString();
}

void Ambiente::resetPictCache()
{
    m_pict.clear();
    m_pictLoaded = false;
}

Status Ambiente::AtualizaLocalCache(const QStringList &tables)
{
    for (const QString &requested : tables) {
        // The statement names the catalogue's table, never the caller's text.
        const Catalogue::TableDef *def = Catalogue::table(requested.trimmed().toUpper());
        if (!def) {
            qWarning("AtualizaLocalCache: tabela desconhecida ignorada: %s", qPrintable(requested));
            continue;
        }
        const Result<QSqlDatabase> db = Database::shared();
        if (!db)
            return db.failure();
        QSqlQuery q(db.value());
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT * FROM ") + def->name))
            return DbError::describe(QStringLiteral("atualizar o cache local de %1").arg(def->name), q.lastError());
        const QSqlRecord rec = q.record();
        QList<FieldDef> fields;
        for (int i = 0; i < rec.count(); ++i) {
            const int col = def->indexOf(rec.fieldName(i));
            fields << (col >= 0 ? def->columns.at(col) : FieldDef::text(rec.fieldName(i).toUpper(), 0));
        }
        m_cache.insert(def->name, Catalogue::packRows(q, def->name, fields));
        m_cacheRefreshes[def->name] += 1;
    }
    return okStatus();
}

QByteArray Ambiente::localCache(const QString &table) const
{
    return m_cache.value(table.trimmed().toUpper());
}

int Ambiente::localCacheRefreshCount(const QString &table) const
{
    return m_cacheRefreshes.value(table.trimmed().toUpper());
}

// Picture characters: 9 a digit, A a letter, X any character; everything else is shown as is.
QString pictureToInputMask(const QString &picture)
{
    static const QString qtMeta = QStringLiteral("AaNnXx90Dd#HhBb><!;[]{}\\");
    QString mask;
    for (QChar c : picture) {
        if (c == QLatin1Char('9') || c == QLatin1Char('A') || c == QLatin1Char('X'))
            mask += c;
        else if (qtMeta.contains(c))
            mask += QLatin1Char('\\') + QString(c);
        else
            mask += c;
    }
    return mask;
}

QString formatThroughPicture(const QString &code, const QString &picture)
{
    if (picture.isEmpty())
        return code;
    int places = 0;
    for (QChar c : picture) {
        if (c == QLatin1Char('9') || c == QLatin1Char('A') || c == QLatin1Char('X'))
            ++places;
    }
    if (code.size() != places)
        return code;
    QString out;
    int k = 0;
    for (QChar c : picture) {
        if (c == QLatin1Char('9') || c == QLatin1Char('A') || c == QLatin1Char('X')) {
            const QChar v = code.at(k++);
            if ((c == QLatin1Char('9') && !v.isDigit()) || (c == QLatin1Char('A') && !v.isLetter()))
                return code;
            out += v;
        } else {
            out += c;
        }
    }
    return out;
}

QString dishCodeList(const QStringList &codes, const QString &picture, int shown)
{
    const qsizetype n = qMin<qsizetype>(codes.size(), qMax(shown, 0));
    QStringList out;
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i)
        out << formatThroughPicture(codes.at(i), picture);
    const QString listed = out.join(QStringLiteral(", "));
    if (codes.size() == n)
        return listed;
    return Msg(QStringLiteral("Lista_EMais")).arg(listed, QString::number(codes.size() - n));
}
