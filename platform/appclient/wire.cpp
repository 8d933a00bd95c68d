#include "wire.h"

#include <QCborMap>
#include <QCborStreamReader>
#include <QCborValue>

#include <limits>

namespace Wire {

namespace {

// A CBOR head: the major type and the shortest form of its argument, as QCborValue writes it.
template <class Out>
void putHead(Out &out, quint8 major, quint64 n)
{
    const char m = char(major << 5);
    if (n < 24) {
        out.push_back(char(m | char(n)));
        return;
    }
    const int bytes = n <= 0xff ? 1 : n <= 0xffff ? 2 : n <= 0xffffffffu ? 4 : 8;
    out.push_back(char(m | char(bytes == 1 ? 24 : bytes == 2 ? 25 : bytes == 4 ? 26 : 27)));
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(char(quint8(n >> (8 * i))));
}

// The arguments of a typed call (byte strings, texts, integers, flags) written straight into one
// buffer of their final size: through QCborArray each packet of an import was copied into the
// array's storage and again into the encoder's growing output, some 0.1 s and a few hundred
// megabytes of page faults for a large file. The bytes are the same. False, with nothing written,
// when an argument is of any other kind.
template <class Out>
bool encodeTyped(const CallArgs &args, Out &out)
{
    size_t size = 9;
    QList<QByteArray> texts;
    for (const QVariant &v : args) {
        switch (v.metaType().id()) {
        case QMetaType::QByteArray: size += 9 + size_t(v.toByteArray().size()); break;
        case QMetaType::QString:
            texts << v.toString().toUtf8();
            size += 9 + size_t(texts.last().size());
            break;
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::LongLong: size += 9; break;
        default: return false;
        }
    }
    out.reserve(decltype(out.size())(size));
    putHead(out, 4, quint64(args.size()));
    qsizetype text = 0;
    for (const QVariant &v : args) {
        switch (v.metaType().id()) {
        case QMetaType::QByteArray: {
            const QByteArray bytes = v.toByteArray();
            putHead(out, 2, quint64(bytes.size()));
            out.append(bytes.constData(), decltype(out.size())(bytes.size()));
            break;
        }
        case QMetaType::QString: {
            const QByteArray &utf8 = texts.at(text++);
            putHead(out, 3, quint64(utf8.size()));
            out.append(utf8.constData(), decltype(out.size())(utf8.size()));
            break;
        }
        case QMetaType::Bool: out.push_back(char(v.toBool() ? 0xf5 : 0xf4)); break;
        default: {
            const qint64 n = v.toLongLong();
            if (n >= 0)
                putHead(out, 0, quint64(n));
            else
                putHead(out, 1, quint64(-1 - n));
        }
        }
    }
    return true;
}

QCborArray cborArray(const CallArgs &args)
{
    QCborArray a;
    for (const QVariant &v : args)
        a.append(QCborValue::fromVariant(v));
    return a;
}

} // namespace

QByteArray encodeRequest(const CallArgs &args)
{
    QByteArray out;
    return encodeTyped(args, out) ? out : encodeRequest(cborArray(args));
}

std::string encodeRequestBody(const CallArgs &args)
{
    std::string out;
    if (encodeTyped(args, out))
        return out;
    const QByteArray bytes = encodeRequest(cborArray(args));
    return std::string(bytes.constData(), size_t(bytes.size()));
}

QByteArray encodeRequest(const QCborArray &args)
{
    return QCborValue(args).toCbor();
}

Result<CallArgs> decodeRequest(const QByteArray &body)
{
    QCborParserError err;
    const QCborValue v = QCborValue::fromCbor(body, &err);
    if (err.error != QCborError::NoError)
        return Result<CallArgs>::fail(
            QStringLiteral("Requisição inválida: %1 (byte %2).").arg(err.errorString()).arg(err.offset));
    if (!v.isArray())
        return Result<CallArgs>::fail(QStringLiteral("Requisição inválida: os argumentos não formam uma lista."));
    const QCborArray array = v.toArray();
    CallArgs args;
    args.reserve(array.size());
    for (const QCborValue &a : array) {
        // Texts, integers and byte strings become the values a typed call makes; anything else
        // keeps a kind of its own (a list, a map, a number, null), which every method refuses.
        if (a.isString())
            args << a.toString();
        else if (a.isInteger())
            args << QVariant(a.toInteger());
        else if (a.isByteArray())
            args << a.toByteArray();
        else if (a.isBool())
            args << a.toBool();
        else if (a.isDouble())
            args << a.toDouble();
        else
            args << QVariant::fromValue(a);
    }
    return args;
}

namespace {

// The bytes of a CBOR item's head, from its first byte.
qsizetype headSize(quint8 first)
{
    const quint8 info = first & 0x1f;
    return info < 24 ? 1 : info == 24 ? 2 : info == 25 ? 3 : info == 26 ? 5 : 9;
}

// One argument of the common kinds; false at anything else, which decodeRequest then reads.
bool sharedArgument(QCborStreamReader &r, const QByteArray &body, CallArgs &args)
{
    if (r.isByteArray() && r.isLengthKnown()) {
        const qsizetype at = qsizetype(r.currentOffset());
        const qsizetype length = qsizetype(r.length());
        const qsizetype from = at + headSize(quint8(body.at(at)));
        if (from + length > body.size() || !r.next())
            return false;
        args << QByteArray::fromRawData(body.constData() + from, length);
        return true;
    }
    if (r.isString()) {
        QString text;
        auto chunk = r.readString();
        for (; chunk.status == QCborStreamReader::Ok; chunk = r.readString())
            text += chunk.data;
        if (chunk.status == QCborStreamReader::Error)
            return false;
        args << text;
        return true;
    }
    // An integer beyond qint64 is read by decodeRequest, as the general value it becomes there.
    if (r.isUnsignedInteger() && quint64(r.toUnsignedInteger()) <= quint64(std::numeric_limits<qint64>::max())) {
        args << QVariant(r.toInteger());
        return r.next();
    }
    if (r.isNegativeInteger() && quint64(r.toNegativeInteger()) <= quint64(std::numeric_limits<qint64>::max())) {
        args << QVariant(r.toInteger());
        return r.next();
    }
    if (r.isBool()) {
        args << r.toBool();
        return r.next();
    }
    return false;
}

} // namespace

Result<CallArgs> decodeRequestShared(const QByteArray &body)
{
    QCborStreamReader r(body);
    CallArgs args;
    bool simple = r.isArray() && r.enterContainer();
    while (simple && r.hasNext())
        simple = sharedArgument(r, body, args);
    simple = simple && r.lastError() == QCborError::NoError && r.leaveContainer() && r.currentOffset() == body.size();
    return simple ? Result<CallArgs>(std::move(args)) : decodeRequest(body);
}

QByteArray encodeSuccess(const QByteArray &payload)
{
    QCborMap m;
    m.insert(QStringLiteral("ok"), true);
    m.insert(QStringLiteral("payload"), payload);
    return QCborValue(m).toCbor();
}

QByteArray encodeFailure(const QString &message)
{
    return encodeFailure(Failure{message, {}, {}});
}

QByteArray encodeFailure(const Failure &failure)
{
    QCborMap m;
    m.insert(QStringLiteral("ok"), false);
    m.insert(QStringLiteral("error"), failure.message);
    if (!failure.key.isEmpty())
        m.insert(QStringLiteral("key"), failure.key);
    if (!failure.detail.isEmpty())
        m.insert(QStringLiteral("detail"), failure.detail);
    if (failure.dishRow >= 0)
        m.insert(QStringLiteral("dishRow"), failure.dishRow);
    m.insert(QStringLiteral("kind"), QString::fromLatin1(Failure::kindName(failure.kind())));
    return QCborValue(m).toCbor();
}

QByteArray encodeReply(const Result<QByteArray> &reply)
{
    return reply ? encodeSuccess(reply.value()) : encodeFailure(reply.failure());
}

Failure received(Failure failure)
{
    if (failure.message.trimmed().isEmpty())
        failure.message = QStringLiteral("O servidor de aplicação recusou a chamada sem informar o motivo.");
    failure.key = failure.key.left(64);
    return failure;
}

Result<QByteArray> decodeResponse(const QByteArray &body)
{
    const auto malformed = [](const QString &why) {
        return Result<QByteArray>::fail(
            QStringLiteral("Resposta inválida do servidor de aplicação: %1").arg(why));
    };
    if (body.isEmpty())
        return malformed(QStringLiteral("resposta vazia."));
    QCborParserError err;
    const QCborValue v = QCborValue::fromCbor(body, &err);
    if (err.error != QCborError::NoError)
        return malformed(err.errorString() + QLatin1Char('.'));
    if (!v.isMap())
        return malformed(QStringLiteral("formato desconhecido."));
    const QCborMap m = v.toMap();
    const QCborValue ok = m.value(QStringLiteral("ok"));
    if (!ok.isBool())
        return malformed(QStringLiteral("sem indicação de sucesso."));
    if (ok.toBool()) {
        const QCborValue payload = m.value(QStringLiteral("payload"));
        if (payload.isUndefined() || payload.isNull())
            return QByteArray();
        if (!payload.isByteArray())
            return malformed(QStringLiteral("conteúdo da resposta não é binário."));
        return payload.toByteArray();
    }
    const QCborValue error = m.value(QStringLiteral("error"));
    const QCborValue key = m.value(QStringLiteral("key"));
    const QCborValue detail = m.value(QStringLiteral("detail"));
    const QCborValue dishRow = m.value(QStringLiteral("dishRow"));
    Failure f{error.isString() ? error.toString() : QString(), key.isString() ? key.toString() : QString(),
              detail.isString() ? detail.toString() : QString()};
    if (dishRow.isInteger() && dishRow.toInteger() >= 0 && dishRow.toInteger() <= std::numeric_limits<int>::max())
        f.dishRow = int(dishRow.toInteger());
    // A peer that does not say the kind leaves it to the catalogue key.
    if (const QCborValue kind = m.value(QStringLiteral("kind")); kind.isString())
        f.givenKind = Failure::kindNamed(kind.toString());
    return Result<QByteArray>::fail(received(std::move(f)));
}

} // namespace Wire
