// Any bytes as an export file, through the line reader in small blocks: the lines it hands out,
// their fields at the terminator and the code page both ways. No value is converted here (see
// fuzz_values.cpp), so a run makes tens of thousands of inputs a second.
#include "exportreader.h"
#include "valuedecoder.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void codePage(QByteArrayView field)
{
    const QString text = ExportText::decode(field);
    check(text.size() == field.size());
    check(ExportText::encode(text) == field.toByteArray()); // no byte lost either way
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the block size (1 to 64 bytes), so line ends fall across block edges.
    const qint64 block = (data[0] & 0x3F) + 1;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    // The code page is byte by byte: one round trip of the whole input covers every line's.
    codePage(bytes);

    ExportReader r;
    r.setBlockSize(block);
    r.openBytes(bytes);
    QByteArrayView line;
    // Lines 1 and 2 as stored (the header check), then the load pass's lines.
    for (int i = 0; i < 2 && r.readRawLine(line); ++i) {
        check(!line.contains('\n'));
    }
    qsizetype seen = 0;
    static QString decoded; // one buffer for every line: a run is thousands of inputs a second
    while (r.readLine(line)) {
        check(!line.isEmpty() && static_cast<unsigned char>(line[0]) > 32 && !line.contains('\n'));
        seen += line.size();
        check(seen <= bytes.size());
        ExportText::decodeInto(line, decoded);
        check(decoded.size() == line.size());
        check(ExportText::isDataMarker(line) == ExportText::isDataMarker(QStringView(decoded)));
        check(ExportText::inPosicao(line) == ExportText::inPosicao(QStringView(decoded)));
        qsizetype fieldBytes = 0;
        QByteArrayView rest = line;
        for (; ExportText::inPosicao(rest) >= 0; rest = ExportText::dropFirstField(rest)) {
            const QByteArrayView field = ExportText::firstField(rest);
            check(field.size() == ExportText::inPosicao(rest) && !field.contains(ExportText::kTerminatorByte));
            fieldBytes += field.size() + 1;
        }
        check(fieldBytes + rest.size() == line.size()); // fields, terminators and the rest: the whole line
    }
    check(!r.failed() && r.atEnd());
    return 0;
}
