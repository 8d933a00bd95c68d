#include "valuedecoder.h"

#include <array>
#include <charconv>
#include <limits>
#include <cmath>
#include <string>

namespace ExportText {

namespace {

// Code page 1252: Latin-1 except 0x80 to 0x9F. The five bytes Windows leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) become the C1 control of the same number, which is what Windows'
// own conversion gives, so no byte is ever lost.
constexpr std::array<char16_t, 32> kHigh = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178',
};

constexpr std::array<char16_t, 256> makeTable()
{
    std::array<char16_t, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = char16_t(i);
    for (int i = 0; i < 32; ++i)
        t[0x80 + i] = kHigh[i];
    return t;
}
constexpr std::array<char16_t, 256> kTable = makeTable();

} // namespace

char16_t decodeByte(unsigned char b)
{
    return kTable[b];
}

void decodeInto(QByteArrayView bytes, QString &out)
{
    const qsizetype n = bytes.size();
    // resize keeps the buffer when it is big enough and not shared: no allocation per line.
    out.resize(n);
    char16_t *dst = reinterpret_cast<char16_t *>(out.data());
    const unsigned char *src = reinterpret_cast<const unsigned char *>(bytes.data());
    for (qsizetype i = 0; i < n; ++i)
        dst[i] = kTable[src[i]];
}

QString decode(QByteArrayView bytes)
{
    QString s;
    decodeInto(bytes, s);
    return s;
}

QByteArray encode(QStringView text)
{
    QByteArray out;
    out.resize(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        char b = '?';
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            b = char(c);
        } else {
            for (int k = 0; k < 32; ++k)
                if (kHigh[k] == c) {
                    b = char(0x80 + k);
                    break;
                }
        }
        out[i] = b;
    }
    return out;
}

} // namespace ExportText

namespace {

bool isBlank(QChar c)
{
    return c.unicode() <= 0x20 || c.unicode() == 0xA0;
}

QStringView trimBlanks(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

char16_t single(const QString &s, char16_t fallback)
{
    return s.size() == 1 ? s.at(0).unicode() : fallback;
}

// Reads 1..maxDigits digits at p; -1 when there is none.
int readNumber(QStringView s, qsizetype &p, int maxDigits, int *digits = nullptr)
{
    int v = 0, n = 0;
    while (p < s.size() && n < maxDigits && isDigit(s[p])) {
        v = v * 10 + (s[p].unicode() - u'0');
        ++p;
        ++n;
    }
    if (digits)
        *digits = n;
    return n == 0 ? -1 : v;
}

} // namespace

ValueDecoder::ValueDecoder(const QLocale &locale) : m_locale(locale)
{
    m_decimal = single(locale.decimalPoint(), u'.');
    m_group = single(locale.groupSeparator(), u',');
    m_minus = single(locale.negativeSign(), u'-');
    m_plus = single(locale.positiveSign(), u'+');
    m_shortDate = locale.dateFormat(QLocale::ShortFormat);
    m_shortTime = locale.timeFormat(QLocale::ShortFormat);
    m_longTime = locale.timeFormat(QLocale::LongFormat);
    m_amText = locale.amText();
    m_pmText = locale.pmText();

    // A short date made only of d, M and y runs and one-character separators is read by hand,
    // with day and month of one or two digits whatever the format's own widths.
    int parts = 0;
    bool numeric = true;
    for (qsizetype i = 0; i < m_shortDate.size() && numeric;) {
        const QChar c = m_shortDate[i];
        if (c == u'd' || c == u'M' || c == u'y') {
            qsizetype j = i;
            while (j < m_shortDate.size() && m_shortDate[j] == c)
                ++j;
            const qsizetype run = j - i;
            if (parts >= 3 || (c != u'y' && run > 2) || (c == u'y' && run != 2 && run != 4)) {
                numeric = false;
                break;
            }
            if (c == u'y')
                m_twoDigitYear = run == 2;
            m_order[parts++] = Part(c.toLatin1());
            i = j;
            if (parts < 3) {
                if (i >= m_shortDate.size() || m_shortDate[i].isLetter()) {
                    numeric = false;
                    break;
                }
                m_dateSep[parts - 1] = m_shortDate[i].unicode();
                ++i;
            } else if (i != m_shortDate.size()) {
                numeric = false;
            }
        } else {
            numeric = false;
        }
    }
    m_numericDate = numeric && parts == 3;

    for (QChar c : std::as_const(m_shortTime)) {
        if (!c.isLetter() && !c.isSpace() && c != u'\'') {
            m_timeSep = c.unicode();
            break;
        }
    }
    m_ampm = m_shortTime.contains(u'A', Qt::CaseInsensitive) || m_shortTime.contains(u'a');

    if (!m_numericDate) {
        m_namedDate = tokenise(m_shortDate);
        m_namedDateTime = tokenise(m_shortDate + u' ' + m_shortTime);
        for (int m = 1; m <= 12; ++m) {
            m_monthShort << locale.monthName(m, QLocale::ShortFormat);
            m_monthLong << locale.monthName(m, QLocale::LongFormat);
        }
    }
}

std::optional<std::vector<ValueDecoder::Token>> ValueDecoder::tokenise(QStringView format)
{
    std::vector<Token> out;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        qsizetype j = i;
        while (j < format.size() && format[j] == c)
            ++j;
        const qsizetype run = j - i;
        Token t;
        if (c == u'd' && run <= 2)
            t.kind = run == 1 ? Token::Day1 : Token::Day2;
        else if (c == u'M' && run <= 4)
            t.kind = Token::Kind(Token::Month1 + run - 1);
        else if (c == u'y' && run == 4)
            t.kind = Token::Year4;
        else if (c == u'H' && run <= 2)
            t.kind = run == 1 ? Token::Hour1 : Token::Hour2;
        else if (c == u'm' && run == 2)
            t.kind = Token::Minute2;
        else if (c == u's' && run == 2)
            t.kind = Token::Second2;
        else if (c.isLetter() || c == u'\'' || (c.isSpace() && run > 1))
            return std::nullopt; // day names, two-digit years, 12-hour clocks, zones, quotes
        else {
            for (qsizetype k = i; k < j; ++k)
                out.push_back(Token{Token::Literal, c.unicode()});
            i = j;
            continue;
        }
        out.push_back(t);
        i = j;
    }
    return out;
}

// Reads exactly what the format writes: a one-letter number without a leading zero, a two-letter
// one with exactly two digits, the locale's own month name in its own case, four-digit years.
// Anything else (and any date or time out of range) is left to the locale's parser.
std::optional<QDateTime> ValueDecoder::readNamed(QStringView s, const std::vector<Token> &tokens) const
{
    qsizetype p = 0;
    int day = -1, month = -1, year = -1, hour = 0, minute = 0, second = 0;
    const auto digits = [&](int min, int max, int &out) {
        int n = 0, v = 0;
        while (n < max && p < s.size() && s[p] >= u'0' && s[p] <= u'9') {
            v = v * 10 + (s[p].unicode() - u'0');
            ++p;
            ++n;
        }
        if (n < min || (min == 1 && n == 2 && v < 10))
            return false;
        out = v;
        return true;
    };
    const auto name = [&](const QStringList &names, int &out) {
        for (int m = 0; m < names.size(); ++m) {
            if (!names[m].isEmpty() && s.sliced(p).startsWith(names[m])) {
                p += names[m].size();
                out = m + 1;
                return true;
            }
        }
        return false;
    };
    for (const Token &t : tokens) {
        bool ok = false;
        switch (t.kind) {
        case Token::Literal: ok = p < s.size() && s[p] == t.ch; p += ok; break;
        case Token::Day1: ok = digits(1, 2, day); break;
        case Token::Day2: ok = digits(2, 2, day); break;
        case Token::Month1: ok = digits(1, 2, month); break;
        case Token::Month2: ok = digits(2, 2, month); break;
        case Token::MonthShort: ok = name(m_monthShort, month); break;
        case Token::MonthLong: ok = name(m_monthLong, month); break;
        case Token::Year4: ok = digits(4, 4, year); break;
        case Token::Hour1: ok = digits(1, 2, hour); break;
        case Token::Hour2: ok = digits(2, 2, hour); break;
        case Token::Minute2: ok = digits(2, 2, minute); break;
        case Token::Second2: ok = digits(2, 2, second); break;
        }
        if (!ok)
            return std::nullopt;
    }
    if (p != s.size() || year < 1 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    return QDateTime(date, QTime(hour, minute, second), Qt::UTC);
}

std::optional<double> ValueDecoder::toNumber(QStringView s) const
{
    return toNumber(s, 0, 0, nullptr);
}

// 10^n, exact, from a table for the columns' usual integer digits: pow() on every number would cost
// a tenth of a load.
static double powerOfTen(int n)
{
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return n >= 0 && n < int(std::size(kPowers)) ? kPowers[n] : std::pow(10.0, n);
}

std::optional<double> ValueDecoder::toNumber(QStringView s, int precision, int scale, NumberFit *fit) const
{
    if (fit)
        *fit = NumberFit::Fits;
    s = trimBlanks(s);
    if (s.isEmpty())
        return std::nullopt;
    // Built into ASCII for from_chars, which rounds exactly as the C library does.
    char small[96];
    std::string big;
    char *buf = small;
    if (s.size() + 2 > qsizetype(sizeof small)) {
        big.resize(size_t(s.size()) + 2);
        buf = big.data();
    }
    qsizetype n = 0, p = 0;
    if (s[p] == m_minus || s[p] == u'-') {
        buf[n++] = '-';
        ++p;
    } else if (s[p] == m_plus || s[p] == u'+') {
        ++p;
    }
    int mantissaDigits = 0;
    bool seenDecimal = false;
    for (; p < s.size(); ++p) {
        const QChar c = s[p];
        if (isDigit(c)) {
            buf[n++] = char(c.unicode());
            ++mantissaDigits;
        } else if (c == m_decimal && !seenDecimal) {
            buf[n++] = '.';
            seenDecimal = true;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (p < s.size() && (s[p] == u'e' || s[p] == u'E')) {
        buf[n++] = 'e';
        ++p;
        if (p < s.size() && (s[p] == u'-' || s[p] == m_minus)) {
            buf[n++] = '-';
            ++p;
        } else if (p < s.size() && (s[p] == u'+' || s[p] == m_plus)) {
            ++p;
        }
        int expDigits = 0;
        while (p < s.size() && isDigit(s[p])) {
            buf[n++] = char(s[p].unicode());
            ++p;
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    // Anything left (a group separator, a letter, a second decimal separator) makes it no number.
    if (p != s.size())
        return std::nullopt;
    double d = 0;
    const auto r = std::from_chars(buf, buf + n, d, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != buf + n || !std::isfinite(d))
        return std::nullopt;
    if (precision > 0 && fit) {
        std::string rounded;
        *fit = fitDecimal(std::string_view(buf, size_t(n)), precision, scale, rounded);
        if (!rounded.empty())
            std::from_chars(rounded.data(), rounded.data() + rounded.size(), d, std::chars_format::general);
        // Digits that fit may still make a double that does not: 999999999999.999999 is 1e12 as
        // a double, and the column cannot take that.
        if (*fit != NumberFit::TooLarge && std::fabs(d) >= powerOfTen(precision - scale))
            *fit = NumberFit::TooLarge;
    }
    return d;
}

std::optional<qint64> ValueDecoder::toInteger(QStringView s) const
{
    s = trimBlanks(s);
    qsizetype p = 0;
    bool negative = false;
    if (p < s.size() && (s[p] == m_minus || s[p] == u'-')) {
        negative = true;
        ++p;
    } else if (p < s.size() && (s[p] == m_plus || s[p] == u'+')) {
        ++p;
    }
    if (p == s.size())
        return std::nullopt;
    quint64 v = 0;
    for (; p < s.size(); ++p) {
        if (!isDigit(s[p]))
            return std::nullopt;
        const quint64 next = v * 10 + (s[p].unicode() - u'0');
        if (next / 10 != v || next > quint64(std::numeric_limits<qint64>::max()) + (negative ? 1 : 0))
            return std::nullopt;
        v = next;
    }
    return negative ? qint64(0 - v) : qint64(v);
}

std::optional<bool> ValueDecoder::toBoolean(QStringView s) const
{
    s = trimBlanks(s);
    if (s.compare(u"true", Qt::CaseInsensitive) == 0 || s.compare(u"T", Qt::CaseInsensitive) == 0
        || s == u"1" || s == u"S")
        return true;
    if (s.compare(u"false", Qt::CaseInsensitive) == 0 || s.compare(u"F", Qt::CaseInsensitive) == 0
        || s == u"0" || s == u"N")
        return false;
    return std::nullopt;
}

std::optional<QDateTime> ValueDecoder::toDateTime(QStringView s) const
{
    s = trimBlanks(s);
    if (s.isEmpty())
        return std::nullopt;
    if (!m_numericDate)
        return readWordedDateTime(s);
    qsizetype p = 0;
    const std::optional<QDate> date = readNumericDate(s, p);
    if (!date)
        return std::nullopt;
    if (p == s.size())
        return QDateTime(*date, QTime(0, 0), Qt::UTC);
    // The time, after at least one blank.
    if (!isBlank(s[p]))
        return std::nullopt;
    while (p < s.size() && isBlank(s[p]))
        ++p;
    const std::optional<QTime> time = readTime(s, p);
    if (!time)
        return std::nullopt;
    return QDateTime(*date, *time, Qt::UTC);
}

std::optional<QDateTime> ValueDecoder::readWordedDateTime(QStringView s) const
{
    // A format with month names or other words: what the export writes is read by hand, the rest
    // by the locale's own parser.
    if (m_namedDateTime)
        if (auto dt = readNamed(s, *m_namedDateTime))
            return dt;
    if (m_namedDate)
        if (auto dt = readNamed(s, *m_namedDate))
            return dt;
    const QString text = s.toString();
    for (const QString &fmt : {m_shortDate + u' ' + m_longTime, m_shortDate + u' ' + m_shortTime}) {
        QDateTime dt = m_locale.toDateTime(text, fmt);
        if (dt.isValid())
            return QDateTime(dt.date(), dt.time(), Qt::UTC);
    }
    const QDate d = m_locale.toDate(text, m_shortDate);
    if (d.isValid())
        return QDateTime(d, QTime(0, 0), Qt::UTC);
    return std::nullopt;
}

std::optional<QDate> ValueDecoder::readNumericDate(QStringView s, qsizetype &p) const
{
    int day = -1, month = -1, year = -1;
    for (int k = 0; k < 3; ++k) {
        int digits = 0;
        switch (m_order[k]) {
        case Day:
            day = readNumber(s, p, 2);
            if (day < 0)
                return std::nullopt;
            break;
        case Month:
            month = readNumber(s, p, 2);
            if (month < 0)
                return std::nullopt;
            break;
        case Year:
            year = readNumber(s, p, 4, &digits);
            if (year < 0 || (p < s.size() && isDigit(s[p])))
                return std::nullopt;
            if (m_twoDigitYear && digits == 2) {
                // Two digits: the year within fifty years before now or the years after it.
                const int now = QDate::currentDate().year();
                const int floor = now - 50;
                year += (floor / 100) * 100;
                if (year < floor)
                    year += 100;
            } else if (digits != 4) {
                return std::nullopt;
            }
            break;
        }
        if (k < 2) {
            if (p >= s.size() || s[p] != m_dateSep[k])
                return std::nullopt;
            ++p;
        }
    }
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

std::optional<QTime> ValueDecoder::readTime(QStringView s, qsizetype &p) const
{
    int hour = readNumber(s, p, 2);
    if (hour < 0 || p >= s.size() || s[p] != m_timeSep)
        return std::nullopt;
    ++p;
    int digits = 0;
    const int minute = readNumber(s, p, 2, &digits);
    if (minute < 0 || digits != 2)
        return std::nullopt;
    int second = 0;
    if (p < s.size() && s[p] == m_timeSep) {
        ++p;
        second = readNumber(s, p, 2, &digits);
        if (second < 0 || digits != 2)
            return std::nullopt;
    }
    if (m_ampm && p < s.size()) {
        qsizetype q = p;
        while (q < s.size() && isBlank(s[q]))
            ++q;
        const QStringView rest = s.sliced(q);
        const bool am = rest.compare(m_amText, Qt::CaseInsensitive) == 0;
        const bool pm = rest.compare(m_pmText, Qt::CaseInsensitive) == 0;
        if (!am && !pm)
            return std::nullopt;
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (pm ? 12 : 0);
        p = s.size();
    }
    if (p != s.size())
        return std::nullopt;
    const QTime time(hour, minute, second);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

QString ValueDecoder::fromNumber(double d) const
{
    // Shortest text that reads back as the same double; an exponent where one is needed.
    QString s = QString::number(d, 'g', QLocale::FloatingPointShortest);
    s.replace(u'.', QChar(m_decimal));
    if (s.startsWith(u'-'))
        s[0] = QChar(m_minus);
    return s;
}

QString ValueDecoder::fromDateTime(const QDateTime &dt) const
{
    if (!m_numericDate)
        return m_locale.toString(dt, m_shortDate + u' ' + m_shortTime);
    QString out;
    for (int k = 0; k < 3; ++k) {
        switch (m_order[k]) {
        case Day: out += QString::number(dt.date().day()); break;
        case Month: out += QString::number(dt.date().month()); break;
        case Year:
            // Four digits even where the locale writes two: they read back without the window.
            out += QString::number(dt.date().year()).rightJustified(4, u'0');
            break;
        }
        if (k < 2)
            out += QChar(m_dateSep[k]);
    }
    const QTime t = dt.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0)
        return out;
    int hour = t.hour();
    QString suffix;
    if (m_ampm) {
        suffix = u' ' + (hour < 12 ? m_amText : m_pmText);
        hour = hour % 12 == 0 ? 12 : hour % 12;
    }
    out += u' ' + QString::number(hour) + QChar(m_timeSep) + QString::number(t.minute()).rightJustified(2, u'0')
        + QChar(m_timeSep) + QString::number(t.second()).rightJustified(2, u'0') + suffix;
    return out;
}
