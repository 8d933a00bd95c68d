#include "importorigin.h"

#include <QCborMap>
#include <QCborValue>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {

thread_local ImportOrigin t_current;

constexpr int kOperatorWidth = 10;
constexpr int kFileNameWidth = 255;

bool isSha256(const QString &s)
{
    if (s.size() != 64)
        return false;
    for (QChar c : s) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

} // namespace

bool ImportOrigin::isEmpty() const
{
    return operatorCode.isEmpty() && fileName.isEmpty() && bytes < 0 && sha256.isEmpty();
}

Result<ImportOrigin> ImportOrigin::ofFile(const QString &path, const QString &operatorCode)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<ImportOrigin>::fail(QStringLiteral("Não foi possível ler o arquivo %1.").arg(path), {},
                                          file.errorString());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return Result<ImportOrigin>::fail(QStringLiteral("Não foi possível ler o arquivo %1.").arg(path), {},
                                          file.errorString());
    ImportOrigin o;
    o.operatorCode = operatorCode.trimmed().left(kOperatorWidth);
    o.fileName = QFileInfo(path).fileName().left(kFileNameWidth);
    o.bytes = file.size();
    o.sha256 = QString::fromLatin1(hash.result().toHex());
    return o;
}

QByteArray ImportOrigin::toHeader() const
{
    QCborMap m;
    if (!operatorCode.isEmpty())
        m.insert(QStringLiteral("operator"), operatorCode);
    if (!fileName.isEmpty())
        m.insert(QStringLiteral("file"), fileName);
    if (bytes >= 0)
        m.insert(QStringLiteral("bytes"), bytes);
    if (!sha256.isEmpty())
        m.insert(QStringLiteral("sha256"), sha256);
    return QCborValue(m).toCbor().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

ImportOrigin ImportOrigin::fromHeader(const QByteArray &value)
{
    if (value.isEmpty() || value.size() > 4096)
        return {};
    const auto decoded = QByteArray::fromBase64Encoding(value.trimmed(), QByteArray::Base64UrlEncoding
                                                                             | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    QCborParserError err;
    const QCborValue v = QCborValue::fromCbor(*decoded, &err);
    if (err.error != QCborError::NoError || !v.isMap())
        return {};
    const QCborMap m = v.toMap();
    // Control characters would only garble the history's listing.
    const auto text = [&](const char *key, int width) {
        QString s = m.value(QLatin1String(key)).toString().trimmed().left(width);
        s.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
        return s;
    };
    ImportOrigin o;
    o.operatorCode = text("operator", kOperatorWidth);
    o.fileName = text("file", kFileNameWidth);
    const QCborValue bytes = m.value(QStringLiteral("bytes"));
    if (bytes.isInteger() && bytes.toInteger() >= 0)
        o.bytes = bytes.toInteger();
    const QString sha = m.value(QStringLiteral("sha256")).toString().toLower();
    if (isSha256(sha))
        o.sha256 = sha;
    return o;
}

const ImportOrigin &ImportOrigin::current()
{
    return t_current;
}

ImportOrigin::Scope::Scope(ImportOrigin origin) : m_previous(std::exchange(t_current, std::move(origin))) {}

ImportOrigin::Scope::~Scope()
{
    t_current = std::move(m_previous);
}
