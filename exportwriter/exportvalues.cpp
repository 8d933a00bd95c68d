#include "exportvalues.h"

#include <QDate>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

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

char *putNumberText(char *out, int v, int width = 0)
{
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    for (int pad = width - int(r.ptr - buf); pad > 0; --pad)
        *out++ = '0';
    std::memcpy(out, buf, size_t(r.ptr - buf));
    return out + (r.ptr - buf);
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

char *putText(char *out, QByteArrayView utf8, Refused *refused)
{
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    while (p < end) {
        // Plain ASCII is copied as it comes; the scan stops only at what needs a look.
        if (*p >= 0x20 && *p < 0x80) {
            *out++ = char(*p++);
            continue;
        }
        const unsigned char b = *p;
        if (b < 0x20) {
            if (b == '\r' || b == '\n') {
                *refused = {Refusal::LineEnd, b};
                return nullptr;
            }
            if (b == 0) {
                *refused = {Refusal::Nul, 0};
                return nullptr;
            }
            // Tabs and other controls are bytes like any other.
            *out++ = char(b);
            ++p;
            continue;
        }
        int len = 1;
        const char32_t c = decodeUtf8(p, end, &len);
        const int byte = c == 0xFFFD ? -1 : codePageByte(c);
        if (byte == 0xF8 || byte < 0) {
            *refused = {byte == 0xF8 ? Refusal::Terminator : Refusal::OutsideCodePage, c};
            return nullptr;
        }
        *out++ = char(byte);
        p += len;
    }
    *out++ = kTerminator;
    return out;
}

char *putNumber(char *out, double value, Refused *refused)
{
    if (!std::isfinite(value)) {
        *refused = {Refusal::BadNumber, 0};
        return nullptr;
    }
    const auto r = std::to_chars(out, out + kMaxFixed - 1, value);
    for (char *c = out; c < r.ptr; ++c)
        if (*c == '.')
            *c = ',';
    *r.ptr = kTerminator;
    return r.ptr + 1;
}

char *putInteger(char *out, qint64 value)
{
    const auto r = std::to_chars(out, out + kMaxFixed - 1, value);
    *r.ptr = kTerminator;
    return r.ptr + 1;
}

char *putDecimalText(char *out, QByteArrayView text, Refused *refused)
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
            q = nullptr;
    }
    // The digits, at most the text's own length, must also fit the room a number is given.
    if (!anyDigit || q != end || end - p > kMaxFixed - 3) {
        *refused = {Refusal::BadNumber, 0};
        return nullptr;
    }
    // A fraction of zeros only goes with its comma, unless an exponent follows it.
    if (fracStart) {
        while (fracEnd > fracStart && fracEnd[-1] == '0' && expStart == end)
            --fracEnd;
    }
    if (*p == '+')
        ++p;
    const auto copy = [&out](const char *from, const char *to) {
        std::memcpy(out, from, size_t(to - from));
        out += to - from;
    };
    copy(p, intEnd > intStart ? intEnd : intStart);
    if (intEnd == intStart)
        *out++ = '0';
    if (fracStart && fracEnd > fracStart) {
        *out++ = ',';
        copy(fracStart, fracEnd);
    }
    copy(expStart, end);
    *out++ = kTerminator;
    return out;
}

char *putDateText(char *out, QByteArrayView text, Refused *refused)
{
    const char *p = text.data();
    qsizetype n = text.size();
    while (n > 0 && p[n - 1] == ' ')
        --n;
    *refused = {Refusal::BadDate, 0};
    if (n < 10 || p[4] != '-' || p[7] != '-')
        return nullptr;
    const int year = digits(p, 4), month = digits(p + 5, 2), day = digits(p + 8, 2);
    if (year < 1 || month < 0 || day < 0 || !QDate::isValid(year, month, day))
        return nullptr;
    int hour = 0, minute = 0, second = 0;
    if (n > 10) {
        if ((p[10] != ' ' && p[10] != 'T') || n < 16 || p[13] != ':')
            return nullptr;
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
            return nullptr;
    }
    *refused = {};
    out = putNumberText(out, day);
    *out++ = '/';
    out = putNumberText(out, month);
    *out++ = '/';
    out = putNumberText(out, year, 4);
    if (hour || minute || second) {
        *out++ = ' ';
        out = putNumberText(out, hour);
        *out++ = ':';
        out = putNumberText(out, minute, 2);
        *out++ = ':';
        out = putNumberText(out, second, 2);
    }
    *out++ = kTerminator;
    return out;
}

namespace {

// The QByteArray forms: room for the value's bound, the raw form, the array cut to what it wrote.
template <typename Put>
Refused append(QByteArray &out, qsizetype bound, Put put)
{
    const qsizetype start = out.size();
    out.resize(start + bound);
    Refused r;
    char *end = put(out.data() + start, &r);
    out.resize(end ? end - out.constData() : start);
    return r;
}

} // namespace

Refused appendText(QByteArray &out, QByteArrayView utf8)
{
    return append(out, utf8.size() + 1, [&](char *p, Refused *r) { return putText(p, utf8, r); });
}

Refused appendNumber(QByteArray &out, double value)
{
    return append(out, kMaxFixed, [&](char *p, Refused *r) { return putNumber(p, value, r); });
}

void appendInteger(QByteArray &out, qint64 value)
{
    append(out, kMaxFixed, [&](char *p, Refused *) { return putInteger(p, value); });
}

Refused appendDecimalText(QByteArray &out, QByteArrayView text)
{
    return append(out, kMaxFixed, [&](char *p, Refused *r) { return putDecimalText(p, text, r); });
}

Refused appendDateText(QByteArray &out, QByteArrayView text)
{
    return append(out, kMaxFixed, [&](char *p, Refused *r) { return putDateText(p, text, r); });
}

} // namespace ExportValues
