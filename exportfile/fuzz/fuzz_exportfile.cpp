// Any bytes as an export file: the reader splits them into lines with its blank-skipping rule and
// through blocks of any size, and every field goes through the code page and the conversions of
// numbers and dates. Nothing may crash, hang or lose a byte.
#include "exportreader.h"
#include "valuedecoder.h"

#include <cstdint>
#include <cstdlib>

namespace {

const ValueDecoder *g_decoders[3];

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void decodeField(QByteArrayView field)
{
    const QString text = ExportText::decode(field);
    check(text.size() == field.size());
    check(ExportText::encode(text) == field.toByteArray()); // no byte lost either way
    for (const ValueDecoder *d : g_decoders) {
        if (const auto n = d->toNumber(text))
            check(d->toNumber(d->fromNumber(*n)) == n);
        if (const auto dt = d->toDateTime(text))
            check(dt->isValid() && d->toDateTime(d->fromDateTime(*dt)) == dt);
        (void)d->toInteger(text);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Built once, outside the runs, so their caches are not taken for leaks.
    g_decoders[0] = new ValueDecoder(QLocale(QLocale::Portuguese, QLocale::Brazil));
    g_decoders[1] = new ValueDecoder(QLocale::c());
    g_decoders[2] = new ValueDecoder(QLocale(QLocale::English, QLocale::UnitedStates));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the block size, so line ends fall across block edges.
    const qint64 block = (data[0] & 0x3F) + 1;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    ExportReader r;
    r.setBlockSize(data[0] & 0x40 ? (1 << 20) : block);
    r.openBytes(bytes);
    QByteArrayView line;
    // Lines 1 and 2 as stored (the header check), then the load pass's lines.
    for (int i = 0; i < 2 && r.readRawLine(line); ++i) {
        check(!line.contains('\n'));
        decodeField(ExportText::firstField(line));
        decodeField(ExportText::firstField(ExportText::dropFirstField(line)));
    }
    qsizetype seen = 0;
    while (r.readLine(line)) {
        check(!line.isEmpty() && static_cast<unsigned char>(line[0]) > 32 && !line.contains('\n'));
        seen += line.size();
        check(seen <= bytes.size());
        const QString decoded = ExportText::decode(line);
        check(ExportText::isDataMarker(line) == ExportText::isDataMarker(QStringView(decoded)));
        check(ExportText::inPosicao(line) == ExportText::inPosicao(QStringView(decoded)));
        for (QByteArrayView rest = line; ExportText::inPosicao(rest) >= 0; rest = ExportText::dropFirstField(rest))
            decodeField(ExportText::firstField(rest));
    }
    check(!r.failed() && r.atEnd());
    return 0;
}
