#include "exportfields.h"

namespace ExportText {

namespace {
// The marker is plain ASCII and the terminator, so its decoded text is the same characters with
// the terminator as U+00F8.
constexpr QByteArrayView kMarker("BASE DE DADOS\xF8", 14);
constexpr QStringView kMarkerText(u"BASE DE DADOS\u00F8");

// The same scanning over either kind of line.
template <typename View, typename Unit>
View first(View s, Unit terminator)
{
    const auto p = s.indexOf(terminator);
    return p < 0 ? View() : s.first(p);
}

template <typename View, typename Unit>
View drop(View s, Unit terminator)
{
    const auto p = s.indexOf(terminator);
    return p < 0 ? s : s.sliced(p + 1);
}
} // namespace

bool isDataMarker(QByteArrayView line)
{
    return line == kMarker;
}

bool isDataMarker(QStringView line)
{
    return line == kMarkerText;
}

int inPosicao(QStringView s)
{
    return int(s.indexOf(QChar(kTerminator)));
}

int inPosicao(QByteArrayView s)
{
    return int(s.indexOf(kTerminatorByte));
}

QStringView firstField(QStringView s)
{
    return first(s, QChar(kTerminator));
}

QByteArrayView firstField(QByteArrayView s)
{
    return first(s, kTerminatorByte);
}

QStringView dropFirstField(QStringView s)
{
    return drop(s, QChar(kTerminator));
}

QByteArrayView dropFirstField(QByteArrayView s)
{
    return drop(s, kTerminatorByte);
}

} // namespace ExportText
