#include "exportvalues.h"

#include <QDate>

#include <array>
#include <charconv>
#include <cmath>

namespace ExportValues {

namespace {

constexpr char kTerminator = char(0xF8);

// Code page 1252 at 0x80 to 0x9F. The five bytes Windows leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) stand for the C1 control of the same number, as the reader decodes them.
constexpr std::array<char16_t, 32> kHigh = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178',
};

// The byte of a character outside ASCII; -1 when the code page lacks it.
int codePageByte(char32_t c)
{
    if (c >= 0xA0 && c <= 0xFF)
        return int(c);
    for (int k = 0; k < 32; ++k)
        if (kHigh[size_t(k)] == c)
            return 0x80 + k;
    return -1;
}

// One UTF-8 sequence at p (p[0] >= 0x80); its length in *len, U+FFFD and 1 for a broken one.
char32_t decodeUtf8(const unsigned char *p, const unsigned char *end, int *len)
{
    const unsigned char b = p[0];
    int n = 0;
    char32_t c = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        c = b & 0x07;
    } else {
        *len = 1;
        return 0xFFFD;
    }
    if (end - p < n) {
        *len = 1;
        return 0xFFFD;
    }
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            *len = 1;
            return 0xFFFD;
        }
        c = (c << 6) | (p[i] & 0x3F);
    }
    *len = n;
    return c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// n digits at p as a number; -1 when they are not all digits.
int digits(const char *p, int n)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (!isDigit(p[i]))
            return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

void appendNumberText(QByteArray &out, int v, int width = 0)
{
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    for (int pad = width - int(r.ptr - buf); pad > 0; --pad)
        out.append('0');
    out.append(buf, r.ptr - buf);
}

} // namespace

QString describe(const Refused &r)
{
    switch (r.why) {
    case Refusal::None:
        break;
    case Refusal::Terminator:
        return QStringLiteral("o caractere ø, que no arquivo separa os campos");
    case Refusal::LineEnd:
        return QStringLiteral("uma quebra de linha");
    case Refusal::Nul:
        return QStringLiteral("um caractere nulo");
    case Refusal::OutsideCodePage:
        return QStringLiteral("o caractere U+%1, que não existe na página de código 1252")
            .arg(QString::number(uint(r.character), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    case Refusal::BadNumber:
        return QStringLiteral("um valor que não é um número");
    case Refusal::BadDate:
        return QStringLiteral("um valor que não é uma data entre os anos 1 e 9999");
    }
    return {};
}

Refused appendText(QByteArray &out, QByteArrayView utf8)
{
    const qsizetype start = out.size();
    out.reserve(start + utf8.size() + 1);
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    // Runs of plain ASCII are copied whole; the scan stops only at what needs a look.
    while (p < end) {
        const unsigned char *run = p;
        while (p < end && *p >= 0x20 && *p < 0x80)
            ++p;
        out.append(reinterpret_cast<const char *>(run), p - run);
        if (p == end)
            break;
        const unsigned char b = *p;
        Refused refused;
        if (b < 0x20) {
            if (b == '\r' || b == '\n')
                refused = {Refusal::LineEnd, b};
            else if (b == 0)
                refused = {Refusal::Nul, 0};
            else {
                // Tabs and other controls are bytes like any other.
                out.append(char(b));
                ++p;
                continue;
            }
        } else {
            int len = 1;
            const char32_t c = decodeUtf8(p, end, &len);
            const int byte = c == 0xFFFD ? -1 : codePageByte(c);
            if (byte == 0xF8)
                refused = {Refusal::Terminator, c};
            else if (byte < 0)
                refused = {Refusal::OutsideCodePage, c};
            else {
                out.append(char(byte));
                p += len;
                continue;
            }
        }
        out.truncate(start);
        return refused;
    }
    out.append(kTerminator);
    return {};
}

Refused appendNumber(QByteArray &out, double value)
{
    if (!std::isfinite(value))
        return {Refusal::BadNumber, 0};
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    for (char *c = buf; c < r.ptr; ++c)
        if (*c == '.')
            *c = ',';
    out.append(buf, r.ptr - buf);
    out.append(kTerminator);
    return {};
}

void appendInteger(QByteArray &out, qint64 value)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr - buf);
    out.append(kTerminator);
}

Refused appendDecimalText(QByteArray &out, QByteArrayView text)
{
    const char *p = text.data();
    const char *end = p + text.size();
    while (p < end && *p == ' ')
        ++p;
    while (end > p && end[-1] == ' ')
        --end;
    const char *q = p;
    if (q < end && (*q == '-' || *q == '+'))
        ++q;
    const char *intStart = q;
    while (q < end && isDigit(*q))
        ++q;
    const char *intEnd = q;
    const char *fracStart = nullptr, *fracEnd = nullptr;
    if (q < end && *q == '.') {
        fracStart = ++q;
        while (q < end && isDigit(*q))
            ++q;
        fracEnd = q;
    }
    const bool anyDigit = intEnd > intStart || (fracStart && fracEnd > fracStart);
    const char *expStart = q;
    if (q < end && (*q == 'e' || *q == 'E')) {
        ++q;
        if (q < end && (*q == '-' || *q == '+'))
            ++q;
        const char *d = q;
        while (q < end && isDigit(*q))
            ++q;
        if (q == d)
            return {Refusal::BadNumber, 0};
    }
    if (!anyDigit || q != end)
        return {Refusal::BadNumber, 0};
    // A fraction of zeros only goes with its comma, unless an exponent follows it.
    if (fracStart) {
        while (fracEnd > fracStart && fracEnd[-1] == '0' && expStart == end)
            --fracEnd;
    }
    if (*p == '+')
        ++p;
    out.append(p, (intEnd > intStart ? intEnd : intStart) - p);
    if (intEnd == intStart)
        out.append('0');
    if (fracStart && fracEnd > fracStart) {
        out.append(',');
        out.append(fracStart, fracEnd - fracStart);
    }
    out.append(expStart, end - expStart);
    out.append(kTerminator);
    return {};
}

Refused appendDateText(QByteArray &out, QByteArrayView text)
{
    const char *p = text.data();
    qsizetype n = text.size();
    while (n > 0 && p[n - 1] == ' ')
        --n;
    const Refused bad{Refusal::BadDate, 0};
    if (n < 10 || p[4] != '-' || p[7] != '-')
        return bad;
    const int year = digits(p, 4), month = digits(p + 5, 2), day = digits(p + 8, 2);
    if (year < 1 || month < 0 || day < 0 || !QDate::isValid(year, month, day))
        return bad;
    int hour = 0, minute = 0, second = 0;
    if (n > 10) {
        if ((p[10] != ' ' && p[10] != 'T') || n < 16 || p[13] != ':')
            return bad;
        hour = digits(p + 11, 2);
        minute = digits(p + 14, 2);
        qsizetype at = 16;
        if (n >= 19 && p[16] == ':') {
            second = digits(p + 17, 2);
            at = 19;
        }
        // A fraction of a second is dropped: the file keeps whole seconds.
        if (at < n && p[at] == '.') {
            ++at;
            while (at < n && isDigit(p[at]))
                ++at;
        }
        if (at != n || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
            return bad;
    }
    appendNumberText(out, day);
    out.append('/');
    appendNumberText(out, month);
    out.append('/');
    appendNumberText(out, year, 4);
    if (hour || minute || second) {
        out.append(' ');
        appendNumberText(out, hour);
        out.append(':');
        appendNumberText(out, minute, 2);
        out.append(':');
        appendNumberText(out, second, 2);
    }
    out.append(kTerminator);
    return {};
}

} // namespace ExportValues
