#pragma once
// Data packets: a table's columns and rows serialised with CBOR, as exchanged with the
// application server. A delta packet carries only the changes since the last merge, each row
// with its change kind. Decoding never trusts the input: a malformed, truncated or hostile packet
// gives a failure with a clear message, never a crash or an allocation the packet merely claims.
#include "memtable.h"
#include "result.h"

#include <QByteArray>

namespace DataPacket {

struct Limits {
    qint64 maxRows = 50'000'000;
    int maxFields = 1024;
    int maxTextLength = 1 << 20;   // characters in one cell
};

// Whole table: every row, every column, current values.
IMP_PLATFORM_EXPORT QByteArray save(const MemTable &table);
// Delta: the change log since the last merge.
IMP_PLATFORM_EXPORT QByteArray saveDelta(const MemTable &table);

// Replaces columns and rows of `table` with the packet's; the table ends open in browse state on
// its first row, with an empty change log, and its afterOpen event runs. On failure the table is
// left closed and empty.
IMP_PLATFORM_EXPORT Status load(MemTable &table, const QByteArray &packet, const Limits &limits = {});

// A decoded delta.
struct Delta {
    QString tableName;
    QList<FieldDef> fields;
    std::vector<DeltaRow> rows;
};
IMP_PLATFORM_EXPORT Result<Delta> loadDelta(const QByteArray &packet, const Limits &limits = {});

// Reads only the columns of a packet (whole or delta), without its rows.
IMP_PLATFORM_EXPORT Result<QList<FieldDef>> peekFields(const QByteArray &packet);

} // namespace DataPacket
