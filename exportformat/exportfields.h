#pragma once
// Fields of a line of an export file, decoded to text: each field ends with the terminator (the byte
// 0xF8, "ø"). Here because the service map is the first to read such lines; the export-file reader
// adds the same scanning over raw bytes.
#include <QStringView>

namespace ExportText {

inline constexpr char16_t kTerminator = u'\u00F8'; // the byte 0xF8 decoded

// inPosicao: the index of the first terminator (the first field's length), -1 when there is none.
inline int inPosicao(QStringView s)
{
    return int(s.indexOf(QChar(kTerminator)));
}
// The first field: the text before the first terminator; empty when there is none.
inline QStringView firstField(QStringView s)
{
    const int p = inPosicao(s);
    return p < 0 ? QStringView() : s.first(p);
}
// Everything after the first terminator; the text unchanged when there is none.
inline QStringView dropFirstField(QStringView s)
{
    const int p = inPosicao(s);
    return p < 0 ? s : s.sliced(p + 1);
}

} // namespace ExportText
