#pragma once
// Where the file of an import comes from: what the server cannot know by itself (who sends it, the
// file's name, size and SHA-256), kept in the import history. It travels beside Importacao's twelve
// arguments, never among them: over HTTP as the request header X-IMP-Origem, in process as the
// origin current on the calling thread, which the module carries over to the thread that runs it.
#include "platform_export.h"
#include "result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

inline constexpr const char *kOriginHeader = "X-IMP-Origem";

struct IMP_PLATFORM_EXPORT ImportOrigin {
    QString operatorCode;   // up to 10 characters
    QString fileName;       // the name without its directory, up to 255 characters
    qint64 bytes = -1;      // -1: unknown
    QString sha256;         // 64 lower-case hexadecimal digits, or empty

    bool isEmpty() const;

    // The file read whole for its size and hash. A file that cannot be read is a failure with the
    // system's words as its detail.
    static Result<ImportOrigin> ofFile(const QString &path, const QString &operatorCode);

    // The header's value: base64url of a CBOR map.
    QByteArray toHeader() const;
    // The header as a client sent it: values outside their bounds are dropped (a name is cut to its
    // width, a hash that is not one is left out), a value that cannot be read gives an empty origin.
    static ImportOrigin fromHeader(const QByteArray &value);

    // The origin of the calls this thread is making (client) or serving (server); empty outside a
    // Scope.
    static const ImportOrigin &current();

    // Makes `origin` the thread's current one for the scope's life.
    class Scope;
};

// A running SHA-256 over bytes given in pieces, for a file read once for two purposes (the load
// pass hashes the bytes it turns into rows, so the history records what was loaded).
class IMP_PLATFORM_EXPORT Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void add(QByteArrayView bytes);
    qint64 bytes() const { return m_bytes; }
    // 64 lower-case hexadecimal digits; the hash ends with it (add again only after restart()).
    QString finish();
    void restart();

private:
    struct Ctx;
    std::unique_ptr<Ctx> m_ctx;
    qint64 m_bytes = 0;
};

class IMP_PLATFORM_EXPORT ImportOrigin::Scope {
public:
    explicit Scope(ImportOrigin origin);
    ~Scope();
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;

private:
    ImportOrigin m_previous;
};
