#pragma once
// Turning the export file's bytes into values (its fields are found by exportfields.h): code page
// 1252 to Unicode, and the conversions of a value to a number or a date-time in the operator's locale.
#include <QByteArrayView>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

#include "exportfields.h"
#include "numberfit.h"

namespace ExportText {

// Code page 1252 to Unicode, byte by byte (0x80 to 0x9F by the Windows table; the five holes map to
// the C1 controls of the same number, as Windows does). decodeInto reuses the target's buffer.
QString decode(QByteArrayView bytes);
void decodeInto(QByteArrayView bytes, QString &out);
char16_t decodeByte(unsigned char b);
// Unicode to code page 1252; a character the code page lacks becomes '?'.
QByteArray encode(QStringView text);

} // namespace ExportText

// Conversions from text by the rules of one locale: a number with the locale's decimal separator
// and no group separators; a date in the order of the locale's short date format (day and month of
// one or two digits), optionally followed by blanks and a time h:mm or h:mm:ss. Outer blanks are
// ignored. Anything else is no value.
class ValueDecoder {
public:
    explicit ValueDecoder(const QLocale &locale = QLocale::system());

    const QLocale &locale() const { return m_locale; }

    std::optional<double> toNumber(QStringView s) const;
    // The same number for a column of `precision` digits, `scale` of them decimals (precision 0:
    // no limit): more decimals than the scale are rounded half away from zero, on the digits as
    // written; `fit` says whether it was, or whether the integer digits are more than the column
    // holds (the value is then given as read, rounded at the scale).
    std::optional<double> toNumber(QStringView s, int precision, int scale, NumberFit *fit) const;
    std::optional<qint64> toInteger(QStringView s) const;
    std::optional<QDateTime> toDateTime(QStringView s) const; // Qt::UTC wall clock
    std::optional<bool> toBoolean(QStringView s) const;

    // A value as the export file writes it in this locale (the generator and the tests use these).
    QString fromNumber(double d) const;
    QString fromDateTime(const QDateTime &dt) const;

private:
    enum Part : char { Day = 'd', Month = 'M', Year = 'y' };
    QLocale m_locale;
    char16_t m_decimal = u'.';
    char16_t m_group = u',';
    char16_t m_minus = u'-';
    char16_t m_plus = u'+';
    // Short date in parts; numeric: the format has only d, M, y and single separators.
    bool m_numericDate = false;
    Part m_order[3] = {Day, Month, Year};
    char16_t m_dateSep[2] = {u'/', u'/'};
    bool m_twoDigitYear = false;
    char16_t m_timeSep = u':';
    bool m_ampm = false;
    QString m_amText, m_pmText;
    QString m_shortDate, m_shortTime, m_longTime;

    // A date format with month names, read by hand when it is made only of the parts below and
    // literal characters; the locale's parser (slow: it works in local time) takes every text the
    // hand reading does not accept whole.
    struct Token {
        enum Kind : char { Literal, Day1, Day2, Month1, Month2, MonthShort, MonthLong, Year4, Hour1, Hour2, Minute2, Second2 };
        Kind kind = Literal;
        char16_t ch = 0;
    };
    std::optional<std::vector<Token>> m_namedDate, m_namedDateTime;
    QStringList m_monthShort, m_monthLong;
    static std::optional<std::vector<Token>> tokenise(QStringView format);
    std::optional<QDateTime> readNamed(QStringView s, const std::vector<Token> &tokens) const;
    std::optional<QDateTime> readWordedDateTime(QStringView s) const;
    // The numeric date and time in the locale's order and separators, from p; p ends after them.
    std::optional<QDate> readNumericDate(QStringView s, qsizetype &p) const;
    std::optional<QTime> readTime(QStringView s, qsizetype &p) const;
};
