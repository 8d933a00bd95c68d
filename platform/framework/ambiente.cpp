#include "ambiente.h"
#include "catalogue.h"
#include "messages.h"

DestinationSource::~DestinationSource() = default;

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

void Ambiente::setDestination(std::shared_ptr<DestinationSource> source)
{
    m_destination = std::move(source);
    resetPictCache();
}

void Ambiente::completeFromDatabase()
{
    if (!NomeFiliProc.isEmpty() || FiliProc.isEmpty() || !m_destination)
        return;
    // The name is only shown; without a database the screen reports the real problem later.
    if (const Result<QString> name = m_destination->branchName(FiliProc))
        NomeFiliProc = name.value();
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
        const std::optional<QString> picture = m_destination ? m_destination->dishPicture() : std::nullopt;
        if (!picture)
            return {}; // not kept: the next call tries again
        m_pict.clear();
        if (!picture->isEmpty())
            m_pict.insert(1, *picture);
        m_pictLoaded = true;
    }
    return m_pict.value(kind);
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
        if (!m_destination)
            return Status::fail(Failure{QStringLiteral("Banco de dados não informado."), {}, {}, -1, {},
                                        Failure::Kind::Unreachable});
        Result<QByteArray> rows = m_destination->tableRows(def->name);
        if (!rows)
            return rows.failure();
        m_cache.insert(def->name, std::move(rows.value()));
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
