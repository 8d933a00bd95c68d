#pragma once
// The values of the export file as its reader takes them: text in code page 1252, numbers with the
// pt_BR decimal comma, dates as d/M/yyyy with an optional H:mm:ss. Each append either writes the
// value and its terminator or refuses it, leaving the output as it was; the reason names what the
// file could not carry.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace ExportValues {

enum class Refusal : unsigned char {
    None,
    Terminator,      // the character ø, which is the field terminator's byte
    LineEnd,         // CR or LF
    Nul,             // the reader holds a dish with a NUL back
    OutsideCodePage, // a character code page 1252 lacks (or bytes that are not UTF-8)
    BadNumber,       // not a finite decimal number
    BadDate,         // not a date and time of years 1 to 9999
};

struct Refused {
    Refusal why = Refusal::None;
    char32_t character = 0; // the offending character, where there is one
    explicit operator bool() const { return why != Refusal::None; }
};

// The raw forms, for the file's own writing: each writes the value and its terminator at `out`,
// which has room for the value's bound (a text's UTF-8 length and one, kMaxFixed for the others),
// and returns the end; a refused value writes nothing useful and returns nullptr with the reason.
inline constexpr qsizetype kMaxFixed = 48;
char *putText(char *out, QByteArrayView utf8, Refused *refused);
char *putNumber(char *out, double value, Refused *refused);
char *putInteger(char *out, qint64 value);
char *putDecimalText(char *out, QByteArrayView text, Refused *refused);
char *putDateText(char *out, QByteArrayView text, Refused *refused);

// The reason in the operator's words ("o caractere U+20AD, que não existe na página de código 1252").
QString describe(const Refused &r);

// UTF-8 text (as both databases give it) as code page 1252, then the terminator.
Refused appendText(QByteArray &out, QByteArrayView utf8);
// A double in its shortest form that reads back as the same double.
Refused appendNumber(QByteArray &out, double value);
void appendInteger(QByteArray &out, qint64 value);
// A decimal number written by a database ("-12.500000", "3", "1e-7"): the same digits with the
// decimal comma, trailing zeros of the fraction dropped.
Refused appendDecimalText(QByteArray &out, QByteArrayView text);
// A timestamp written by a database ("2024-03-01 14:30:00", "2024-03-01T14:30:00.250",
// "2024-03-01"): to the second, the time left out at midnight.
Refused appendDateText(QByteArray &out, QByteArrayView text);
// A field the system itself writes (table and column names, keywords): taken as it is.
inline void appendName(QByteArray &out, QByteArrayView ascii)
{
    out.append(ascii);
    out.append(char(0xF8));
}
inline void appendNull(QByteArray &out) { out.append(char(0xF8)); }
inline void endLine(QByteArray &out) { out.append("\r\n", 2); }

} // namespace ExportValues
