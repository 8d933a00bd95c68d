#pragma once
// Data packets: a table's columns and rows serialised with CBOR, as exchanged with the
// application server. A delta packet carries only the changes since the last merge, each row
// with its change kind. Decoding never trusts the input: a malformed, truncated or hostile packet
// gives a failure with a clear message, never a crash or an allocation the packet merely claims.
#include "memtable.h"
#include "result.h"

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace DataPacket {

struct Limits {
    qint64 maxRows = 50'000'000;
    int maxFields = 1024;
    int maxTextLength = 1 << 20;   // characters in one cell
    // A text longer than its column's width is refused, naming its row and column, rather than
    // cut as a table the client filled would have cut it (the application server's packets).
    bool refuseLongText = false;
};

// Whole table: every row, every column, current values.
IMP_PLATFORM_EXPORT QByteArray save(const MemTable &table);
// A whole packet written row by row by a caller that reads its rows elsewhere (a database), with
// no table in between: the bytes save() writes for a table of these columns holding these values.
// Each row is beginRow() and then one value per column; a text is given as the table would hold
// it (cut to its column's width).
class IMP_PLATFORM_EXPORT PacketWriter {
public:
    PacketWriter(const QString &tableName, const QList<FieldDef> &fields);
    void beginRow(int columns);
    void null();
    void text(QByteArrayView utf8);
    void text(QStringView s);
    void number(double d);
    void integer(qint64 v); // Integer and DateTime values (msecs of the wall clock read as UTC)
    void boolean(bool b);
    QByteArray finish();

private:
    QByteArray m_head;
    QByteArray m_rows; // larger than the rows written, m_used bytes
    qsizetype m_used = 0;
    qint64 m_count = 0;
};

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

class PacketRow;

// UTF-8 as text, whole: unlike QString::fromUtf8, a byte order mark at the start is kept.
IMP_PLATFORM_EXPORT QString fromUtf8(QByteArrayView utf8);

// A whole-table packet read where it lies: its columns, and its rows one at a time straight from
// the packet's bytes, with no decoded copy of the table beside them. open() reads the packet
// through once, refusing whatever load() refuses with the same words, and notes where each row
// starts (eight bytes a row); read() then decodes one row from its bytes. It keeps a shallow copy
// of the packet, so the bytes live as long as it does.
class IMP_PLATFORM_EXPORT PacketRows {
public:
    PacketRows();
    ~PacketRows();
    PacketRows(PacketRows &&) noexcept;
    PacketRows &operator=(PacketRows &&) noexcept;
    PacketRows(const PacketRows &) = delete;
    PacketRows &operator=(const PacketRows &) = delete;

    // On failure the cursor is left closed, without columns or rows.
    Status open(const QByteArray &packet, const Limits &limits = {});
    void close();
    bool isOpen() const { return m_open; }

    const QString &tableName() const { return m_name; }
    const QList<FieldDef> &fields() const { return m_fields; }
    // The column of that name, compared without case as MemTable::fieldIndex does; -1 when none.
    int fieldIndex(QStringView name) const;
    qsizetype rowCount() const { return qsizetype(m_starts.size()); }

    // Decodes row `index` (0 <= index < rowCount()) into `row`, which keeps its buffers from one
    // row to the next.
    void read(qsizetype index, PacketRow &row) const;

private:
    QByteArray m_data;
    QString m_name;
    QList<FieldDef> m_fields;
    std::vector<qint64> m_starts; // byte offset of each row's list
    bool m_open = false;
};

// How many characters UTF-8 text holds as the columns' widths count them (UTF-16 units: one per
// character, two for those beyond U+FFFF).
inline qsizetype utf16Length(QByteArrayView utf8)
{
    qsizetype n = 0;
    for (char ch : utf8) {
        const auto b = quint8(ch);
        if ((b & 0xC0) != 0x80)
            n += b >= 0xF0 ? 2 : 1;
    }
    return n;
}

// One row of a PacketRows, with typed access to its cells by column index. Each accessor gives
// what MemTable's accessor of the same name gives for the row load() would have made: text
// longer than its column's width is cut there, a null cell reads as null whatever its column.
class IMP_PLATFORM_EXPORT PacketRow {
public:
    qsizetype index() const { return m_index; }
    int columnCount() const { return int(m_cells.size()); }

    bool isNull(int col) const { return m_cells[size_t(col)].kind == Null; }
    // A text cell's characters as the packet holds them, UTF-8; empty for null and other kinds.
    QByteArrayView utf8(int col) const;
    // Any cell as MemTable::textAt gives it (numbers, dates and flags written out).
    QString text(int col) const;
    // Any cell as MemTable::valueAt gives it.
    QVariant value(int col) const;
    double number(int col) const;      // Number cells
    qint64 integer(int col) const;     // Integer and DateTime cells (msecs)
    bool boolean(int col) const;       // Boolean cells
    QDateTime dateTime(int col) const; // DateTime cells, as MemTable::dateTimeAt

private:
    friend class PacketRows;
    enum Kind : std::uint8_t { Null, Text, Number, Integer, Boolean };
    struct Cell {
        Kind kind = Null;
        bool inScratch = false; // text put together from chunks, or cut to the width, in m_scratch
        qsizetype offset = 0;   // text: where its bytes start
        qsizetype size = 0;     // text: how many
        qint64 integer = 0;
        double number = 0;
    };
    std::vector<Cell> m_cells;
    QByteArray m_scratch;
    const char *m_data = nullptr;
    const QList<FieldDef> *m_fields = nullptr;
    qsizetype m_index = -1;
};

} // namespace DataPacket
