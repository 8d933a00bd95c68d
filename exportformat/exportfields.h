#pragma once
// The export file's format, as both its readers see it: every field of a line ends with the
// terminator (the byte 0xF8, "ø" once decoded from code page 1252), and the structure section ends
// at the data marker. Scanning only, over raw bytes (the export-file reader) or decoded text (the
// service map); turning a field into a value is the value decoder's work (exportfile/).
#include <QByteArrayView>
#include <QStringView>

namespace ExportText {

inline constexpr char kTerminatorByte = char(0xF8);
inline constexpr char16_t kTerminator = u'\u00F8'; // the byte 0xF8 decoded

// The data marker: exactly "BASE DE DADOS" and the terminator, nothing after them.
bool isDataMarker(QByteArrayView line);
bool isDataMarker(QStringView line);

// inPosicao: the index of the first terminator (the first field's length), -1 when there is none.
int inPosicao(QStringView s);
int inPosicao(QByteArrayView s);
// The first field: the text before the first terminator; empty when there is none.
QStringView firstField(QStringView s);
QByteArrayView firstField(QByteArrayView s);
// Everything after the first terminator; the text unchanged when there is none.
QStringView dropFirstField(QStringView s);
QByteArrayView dropFirstField(QByteArrayView s);

} // namespace ExportText
