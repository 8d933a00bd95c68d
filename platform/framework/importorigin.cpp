#include "importorigin.h"

#include <QCborMap>
#include <QCborValue>
#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

#include <memory>

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

struct Sha256::Ctx {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
    bool ok = false;
};

// libcrypto's SHA-256 uses the processor's SHA instructions: a 40 MB file takes some 30 ms
// instead of Qt's 400.
Sha256::Sha256() : m_ctx(std::make_unique<Ctx>())
{
    restart();
}

Sha256::~Sha256() = default;

void Sha256::restart()
{
    m_bytes = 0;
    m_ctx->ok = m_ctx->md && EVP_DigestInit_ex(m_ctx->md.get(), EVP_sha256(), nullptr) == 1;
}

void Sha256::add(QByteArrayView bytes)
{
    if (m_ctx->ok && !bytes.isEmpty())
        m_ctx->ok = EVP_DigestUpdate(m_ctx->md.get(), bytes.data(), size_t(bytes.size())) == 1;
    m_bytes += bytes.size();
}

QString Sha256::finish()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_ctx->ok || EVP_DigestFinal_ex(m_ctx->md.get(), digest, &length) != 1)
        return QString();
    m_ctx->ok = false;
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

Result<ImportOrigin> ImportOrigin::ofFile(const QString &path, const QString &operatorCode)
{
    const auto unreadable = [&](const QString &why) {
        return Result<ImportOrigin>::fail(QStringLiteral("Não foi possível ler o arquivo %1.").arg(path), {}, why);
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(file.errorString());
    Sha256 hash;
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0)
            return unreadable(file.errorString());
        if (n == 0)
            break;
        hash.add(QByteArrayView(chunk.constData(), n));
    }
    ImportOrigin o;
    o.operatorCode = operatorCode.trimmed().left(kOperatorWidth);
    o.fileName = QFileInfo(path).fileName().left(kFileNameWidth);
    o.bytes = hash.bytes();
    o.sha256 = hash.finish();
    if (o.sha256.isEmpty())
        return unreadable(QStringLiteral("SHA-256 indisponível"));
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
