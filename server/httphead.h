#pragma once
// A request's head (its request line and header fields), read by the HTTP front as its bytes come
// in, before any worker sees the request: whether it is complete, well formed and unambiguous, and
// what the front needs to know of it to admit its body.
#include <QByteArray>
#include <QString>

struct RequestHead {
    QByteArray method, target; // the target as sent, query included
    qsizetype size = 0;        // bytes of the head, its empty line included
    bool hasLength = false;
    bool badLength = false;      // a Content-Length that is no number
    bool lengthConflict = false; // Content-Length repeated with another value
    qint64 length = 0;
    bool transferEncoding = false;
    bool expectContinue = false;
    bool tokenRepeated = false;
    QByteArray token; // X-IMP-Token

    // The path without its query, as the routing sees it.
    QByteArray path() const
    {
        const qsizetype q = target.indexOf('?');
        return q < 0 ? target : target.left(q);
    }
};

class HeadParser {
public:
    enum class State { Incomplete, Complete, Malformed };

    // The bytes of the request so far, the same buffer each time with more at its end: only what
    // it has not seen yet is read. A request line that cannot become valid is refused at its first
    // wrong byte, a header line as soon as it ends.
    State feed(const char *data, qsizetype size);
    const RequestHead &head() const { return m_head; }
    // Malformed: the HTTP status and the catalogue key that say why.
    int status() const { return m_status; }
    const QString &key() const { return m_key; }
    void reset() { *this = HeadParser(); }

    static constexpr qsizetype kMaxHead = 64 * 1024;
    static constexpr qsizetype kMaxRequestLine = 8 * 1024;
    static constexpr int kMaxFields = 128;

private:
    State refuse(int status, const char *key);
    State requestLineByte(char c);
    State headerLine(const char *line, qsizetype length);
    void field(const QByteArray &name, const QByteArray &value);

    RequestHead m_head;
    State m_state = State::Incomplete;
    int m_status = 0;
    QString m_key;
    qsizetype m_seen = 0;
    qsizetype m_lineStart = 0; // where the header line being read starts
    int m_phase = 0;           // request line: method, target, version, its LF; 4 once it is read
    QByteArray m_version;
    int m_fields = 0;
};
