#include "rowhash.h"

#include <QtEndian>

#include <charconv>
#include <cstring>

namespace {

constexpr quint64 kMul = 0x9E3779B97F4A7C15ull;

quint64 mixWord(quint64 h, quint64 w)
{
    h ^= w;
    h *= kMul;
    return h ^ (h >> 29);
}

// Digits without trailing zeros after the point, nor the point itself; "-0" is "0".
QByteArrayView trimmedDecimal(QByteArrayView s)
{
    if (s.contains('.')) {
        while (s.endsWith('0'))
            s.chop(1);
        if (s.endsWith('.'))
            s.chop(1);
    }
    if (s == "-0")
        return "0";
    return s;
}

// Rounds the fixed-point text in buf[0, n) half away from zero at `scale` decimals, in place; the
// new length. The buffer has room for one more digit at its front.
int roundAt(char *buf, int n, int scale)
{
    const char *dot = static_cast<const char *>(std::memchr(buf, '.', size_t(n)));
    if (!dot)
        return n;
    const int point = int(dot - buf);
    if (n - point - 1 <= scale)
        return n;
    const bool up = buf[point + 1 + scale] >= '5';
    n = scale == 0 ? point : point + 1 + scale;
    if (!up)
        return n;
    int i = n - 1;
    for (; i >= 0; --i) {
        if (buf[i] == '.')
            continue;
        if (buf[i] < '0' || buf[i] > '9')
            break; // the sign
        if (buf[i] != '9') {
            ++buf[i];
            return n;
        }
        buf[i] = '0';
    }
    // Carried past the first digit: one more digit in front, after the sign.
    const int at = i + 1;
    std::memmove(buf + at + 1, buf + at, size_t(n - at));
    buf[at] = '1';
    return n + 1;
}

} // namespace

RowHash::RowHash(int table) : m_h(mixWord(0x6A09E667F3BCC908ull, quint64(table) + 1)) {}

void RowHash::add(char tag, QByteArrayView bytes)
{
    m_h = mixWord(m_h, (quint64(quint8(tag)) << 32) | quint64(bytes.size()));
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    for (; left >= 8; p += 8, left -= 8)
        m_h = mixWord(m_h, qFromLittleEndian<quint64>(p));
    if (left > 0) {
        quint64 w = 0;
        for (qsizetype i = 0; i < left; ++i)
            w |= quint64(quint8(p[i])) << (8 * i);
        m_h = mixWord(m_h, w);
    }
}

void RowHash::null()
{
    add('0', {});
}

void RowHash::text(QByteArrayView utf8)
{
    add('T', utf8);
}

void RowHash::number(double v, int scale)
{
    // The shortest fixed text of any double fits: 309 integer digits, or 1074 decimals.
    char buf[1200];
    const auto [end, ec] = std::to_chars(buf + 1, buf + sizeof buf, v, std::chars_format::fixed);
    if (ec != std::errc()) {
        add('N', "?");
        return;
    }
    int n = int(end - (buf + 1));
    if (scale >= 0)
        n = roundAt(buf + 1, n, scale);
    add('N', trimmedDecimal(QByteArrayView(buf + 1, n)));
}

void RowHash::decimal(QByteArrayView text)
{
    add('N', trimmedDecimal(text));
}

void RowHash::timestamp(QByteArrayView text)
{
    if (text.endsWith(".000000"))
        text.chop(7);
    add('T', text);
}

quint64 RowHash::value() const
{
    quint64 h = m_h;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h ? h : 1;
}
