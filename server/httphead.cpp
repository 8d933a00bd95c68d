#include "httphead.h"

#include <cstring>

// Lines end in CR LF and nowhere else: a bare CR or LF, a folded header line or a field name with
// a blank before its colon is refused rather than read one way here and another way by whoever
// reads the request next. So is a Content-Length that two fields give differently.
namespace {

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool sameName(const QByteArray &name, const char *wanted)
{
    return name.compare(QByteArrayView(wanted), Qt::CaseInsensitive) == 0;
}

// Digits only, at most 18 of them: anything else is no length.
bool lengthOf(const QByteArray &value, qint64 &out)
{
    if (value.isEmpty() || value.size() > 18)
        return false;
    qint64 n = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    out = n;
    return true;
}

} // namespace

HeadParser::State HeadParser::refuse(int status, const char *key)
{
    m_status = status;
    m_key = QString::fromLatin1(key);
    return m_state = State::Malformed;
}

// The request line, one byte at a time: METHOD SP target SP HTTP/1.x CR LF, empty lines before it
// skipped. Phases: 0 method, 1 target, 2 version, 3 its LF, 5 the LF of an empty line before it.
HeadParser::State HeadParser::requestLineByte(char c)
{
    const auto bad = [this] { return refuse(400, "Srv_LinhaInvalida"); };
    switch (m_phase) {
    case 0:
        if (m_head.method.isEmpty() && c == '\r') {
            m_phase = 5;
        } else if (c == ' ' && !m_head.method.isEmpty()) {
            m_phase = 1;
        } else if (isTokenChar(c) && m_head.method.size() < 32) {
            m_head.method += c;
        } else {
            return bad();
        }
        break;
    case 5:
        if (c != '\n')
            return bad();
        m_phase = 0;
        break;
    case 1:
        if (c == ' ' && !m_head.target.isEmpty())
            m_phase = 2;
        else if (quint8(c) > 0x20 && c != 0x7f && m_head.target.size() < kMaxRequestLine)
            m_head.target += c;
        else
            return bad();
        break;
    case 2:
        if (c == '\r' && (m_version == "HTTP/1.1" || m_version == "HTTP/1.0")) {
            m_phase = 3;
        } else {
            m_version += c;
            if (!QByteArrayView("HTTP/1.1").startsWith(m_version) && !QByteArrayView("HTTP/1.0").startsWith(m_version))
                return bad();
        }
        break;
    case 3:
        if (c != '\n')
            return bad();
        m_phase = 4;
        break;
    }
    return State::Incomplete;
}

void HeadParser::field(const QByteArray &name, const QByteArray &value)
{
    if (sameName(name, "Content-Length")) {
        qint64 n = 0;
        if (!lengthOf(value, n))
            m_head.badLength = true;
        else if (m_head.hasLength && n != m_head.length)
            m_head.lengthConflict = true;
        m_head.hasLength = true;
        m_head.length = n;
    } else if (sameName(name, "Transfer-Encoding")) {
        m_head.transferEncoding = true;
    } else if (sameName(name, "Expect")) {
        m_head.expectContinue = value.compare("100-continue", Qt::CaseInsensitive) == 0;
    } else if (sameName(name, "X-IMP-Token")) {
        m_head.tokenRepeated = m_head.tokenRepeated || !m_head.token.isNull();
        m_head.token = value.isNull() ? QByteArray("") : value;
    }
}

// One header line without its CR LF; an empty one ends the head.
HeadParser::State HeadParser::headerLine(const char *line, qsizetype length)
{
    if (length == 0)
        return m_state = State::Complete;
    if (++m_fields > kMaxFields)
        return refuse(431, "Srv_CabecalhoGrande");
    const char *colon = static_cast<const char *>(std::memchr(line, ':', size_t(length)));
    if (!colon || colon == line)
        return refuse(400, "Srv_CabecalhoInvalido");
    for (const char *p = line; p < colon; ++p)
        if (!isTokenChar(*p))
            return refuse(400, "Srv_CabecalhoInvalido");
    const char *v = colon + 1;
    const char *end = line + length;
    for (const char *p = v; p < end; ++p)
        if ((quint8(*p) < 0x20 && *p != '\t') || *p == 0x7f)
            return refuse(400, "Srv_CabecalhoInvalido");
    while (v < end && (*v == ' ' || *v == '\t'))
        ++v;
    while (end > v && (end[-1] == ' ' || end[-1] == '\t'))
        --end;
    field(QByteArray(line, colon - line), QByteArray(v, end - v));
    if (m_head.badLength)
        return refuse(400, "Srv_TamanhoExigido");
    if (m_head.lengthConflict)
        return refuse(400, "Srv_TamanhoAmbiguo");
    return State::Incomplete;
}

HeadParser::State HeadParser::feed(const char *data, qsizetype size)
{
    if (m_state != State::Incomplete)
        return m_state;
    for (qsizetype i = m_seen; i < size && m_phase != 4; ++i) {
        m_seen = i + 1;
        if (requestLineByte(data[i]) == State::Malformed)
            return m_state;
        if (m_phase == 4)
            m_lineStart = m_seen;
    }
    if (m_phase != 4) {
        if (m_seen > kMaxRequestLine + 64)
            return refuse(414, "Srv_LinhaInvalida");
        return m_state;
    }
    while (m_seen < size) {
        const char *lf = static_cast<const char *>(std::memchr(data + m_seen, '\n', size_t(size - m_seen)));
        if (!lf) {
            m_seen = size;
            break;
        }
        const qsizetype end = lf - data; // the LF
        m_seen = end + 1;
        if (end == m_lineStart || data[end - 1] != '\r'
            || std::memchr(data + m_lineStart, '\r', size_t(end - 1 - m_lineStart)))
            return refuse(400, "Srv_CabecalhoInvalido");
        if (m_lineStart < end - 1 && (data[m_lineStart] == ' ' || data[m_lineStart] == '\t'))
            return refuse(400, "Srv_CabecalhoInvalido"); // a folded line
        if (headerLine(data + m_lineStart, end - 1 - m_lineStart) != State::Incomplete) {
            m_head.size = m_seen;
            return m_state;
        }
        m_lineStart = m_seen;
    }
    if (m_seen > kMaxHead)
        return refuse(431, "Srv_CabecalhoGrande");
    return m_state;
}
