#pragma once
// The in-memory table behind every `cds` component: named, typed columns, a current row, the
// states browse/edit/insert, row events, a change log with its delta, and compact column storage
// that holds a million rows without a heap allocation per cell.
#include "platform_export.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

enum class FieldKind : std::uint8_t { Text = 0, Number = 1, DateTime = 2, Integer = 3, Boolean = 4 };

// How the server side uses a column when it applies rows (the decoder clears them all).
enum ProviderFlag : std::uint8_t {
    pfInUpdate = 1,
    pfInWhere = 2,
    pfInKey = 4,
    pfHidden = 8,
};

struct IMP_PLATFORM_EXPORT FieldDef {
    QString name;
    FieldKind kind = FieldKind::Text;
    int width = 0;               // text columns: characters kept; longer text is cut. 0: no limit
    // Number columns: the destination's digits in all (precision) and after the decimal separator
    // (scale); 0 and 0: no limit. A value with more integer digits than precision - scale is one
    // the destination cannot hold.
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    std::uint8_t providerFlags = pfInUpdate | pfInWhere;
    bool readOnly = false;
    bool required = false;
    QString label;               // grid heading; the name when empty
    QString editMask;            // display/edit mask (dish code); empty: none

    static FieldDef text(const QString &name, int width, const QString &label = {});
    static FieldDef number(const QString &name, int precision = 0, int scale = 0);
    static FieldDef dateTime(const QString &name);
    static FieldDef integer(const QString &name);
    static FieldDef boolean(const QString &name);
    bool operator==(const FieldDef &o) const;
    // The text as a column of this width keeps it: the first `width` characters, never half of one.
    QStringView cut(QStringView text) const
    {
        if (width <= 0 || text.size() <= width)
            return text;
        qsizetype n = width;
        if (text[n - 1].isHighSurrogate() && text[n].isLowSurrogate())
            --n; // never leave half a character behind
        return text.left(n);
    }
};

enum class TableState : std::uint8_t { Inactive, Browse, Edit, Insert };

// Change kind of a row since the last merge.
enum class RowChange : std::uint8_t { None = 0, Inserted = 1, Modified = 2, Deleted = 3 };

class MemTable;

// What a model (or any view) needs to follow the table. Calls come in pairs around the change.
class IMP_PLATFORM_EXPORT MemTableObserver {
public:
    virtual ~MemTableObserver();
    virtual void aboutToReset(MemTable &) {}
    virtual void reset(MemTable &) {}
    virtual void aboutToInsertRow(MemTable &, int /*row*/) {}
    virtual void rowInserted(MemTable &, int /*row*/) {}
    virtual void aboutToRemoveRow(MemTable &, int /*row*/) {}
    virtual void rowRemoved(MemTable &, int /*row*/) {}
    virtual void rowChanged(MemTable &, int /*row*/) {}
    virtual void currentRowChanged(MemTable &, int /*row*/) {}
    virtual void stateChanged(MemTable &) {}
    // The table is going away; the observer must forget it (it is not to remove itself then).
    virtual void tableDestroyed(MemTable &) {}
};

// A delta row: its change kind, its values now (empty for Deleted) and its values at the last
// merge (empty for Inserted).
struct IMP_PLATFORM_EXPORT DeltaRow {
    RowChange change = RowChange::None;
    QVariantList values;
    QVariantList original;
};

class IMP_PLATFORM_EXPORT MemTable {
public:
    using Event = std::function<void(MemTable &)>;
    // Row events: the operations' own steps, where the screen's rules hook in. A before-event that
    // throws (MensErro's abandonment) stops the operation, leaving the table as it was before the
    // call; after-events run once the change is in place. What changed (rows, the current row, the
    // state) is told to views one way only: MemTableObserver.
    struct Events {
        Event beforeInsert, afterInsert, onNewRecord;
        Event beforeEdit, afterEdit;
        Event beforePost, afterPost;
        Event beforeCancel, afterCancel;
        Event beforeDelete, afterDelete;
        Event afterScroll;
        Event afterOpen, beforeClose, afterClose;
    };
    // Display text of one cell (the field's GetText hook); row is an absolute row index.
    using DisplayHook = std::function<QString(const MemTable &, int row, int col)>;

    explicit MemTable(const QString &name = {});
    ~MemTable();
    MemTable(const MemTable &) = delete;
    MemTable &operator=(const MemTable &) = delete;

    QString name() const;
    void setName(const QString &name);

    // Structure. Columns can be set only while the table is closed.
    void setFields(const QList<FieldDef> &fields);
    const QList<FieldDef> &fields() const;
    int fieldCount() const;
    const FieldDef &field(int col) const;
    FieldDef &field(int col);              // provider flags, read-only mark, label, edit mask
    int fieldIndex(QStringView name) const; // without regard to case; -1 when absent
    int fieldIndexOrThrow(QStringView name) const; // throws std::runtime_error naming the column

    // Open/close. createDataSet opens an empty table with the defined columns.
    void createDataSet();
    void open();                           // same as createDataSet when never filled
    void close();                          // drops rows and change log, state Inactive
    bool isActive() const;
    TableState state() const;

    // Rows and the current row.
    int rowCount() const;                  // rows visible (a pending insert counts)
    bool isEmpty() const;
    int currentRow() const;                // -1 when empty or closed
    bool bof() const;
    bool eof() const;
    void first();
    void last();
    void next();
    void prior();
    void moveTo(int row);                  // posts a pending edit first, like every move

    void insert();                         // a new row goes in ahead of the current row
    void append();                         // a new row goes in at the end
    void edit();
    void post();
    void cancel();
    void deleteRow();                      // deletes the current row
    void emptyTable();                     // all rows and the change log gone; no row events
    bool locate(QStringView fieldName, const QVariant &value); // exact match; true moves there
    int find(int col, const QString &text, int from = 0) const; // exact text match, no move; -1

    // Values of the current row (during edit/insert: the values being edited).
    bool isNull(int col) const;
    QVariant value(int col) const;         // QVariant() for null
    QString text(int col) const;           // empty for null; numbers/dates as stored, not displayed
    double number(int col) const;
    qint64 integer(int col) const;
    bool boolean(int col) const;
    QDateTime dateTime(int col) const;     // wall-clock time marked Qt::UTC (no time zone applied)
    QVariant value(QStringView fieldName) const;
    QString text(QStringView fieldName) const;

    // Setters need edit or insert state; they throw std::logic_error otherwise.
    void setValue(int col, const QVariant &v); // converts to the column's kind; throws on failure
    void setText(int col, QStringView s);      // cut to the column's width
    void setNumber(int col, double d);
    void setInteger(int col, qint64 i);
    void setBoolean(int col, bool b);
    void setDateTime(int col, const QDateTime &dt);
    void setNull(int col);
    void setValue(QStringView fieldName, const QVariant &v);

    // Any row, for models and packets (row: absolute index).
    bool isNullAt(int row, int col) const;
    QVariant valueAt(int row, int col) const;
    QString textAt(int row, int col) const;
    double numberAt(int row, int col) const;
    qint64 integerAt(int row, int col) const;
    QDateTime dateTimeAt(int row, int col) const;
    bool booleanAt(int row, int col) const;
    // Characters of a text cell without a copy; valid until the table next changes. Empty for null
    // and for other kinds. A column holding only characters up to U+00FF keeps them one byte each,
    // and this view makes it keep two from then on (the views of the other overload end then).
    QStringView textViewAt(int row, int col) const;
    // The same characters without widening the column: a view of the table's own when the column is
    // wide, else of the front of `scratch`, which they are copied into (valid until scratch next
    // changes; scratch only grows, so its size is not the text's: read the view, not scratch).
    QStringView textViewAt(int row, int col, QString &scratch) const;
    // The same characters as the table keeps them, one byte or two a character: no copy and no
    // widening (valid until the table next changes). Empty for null and for other kinds.
    QAnyStringView textAnyViewAt(int row, int col) const;
    bool isWideText(int col) const; // the column keeps two bytes a character
    QVariantList rowValues(int row) const;

    // Display.
    void setDisplayHook(int col, DisplayHook hook);
    QString displayText(int row, int col) const; // the hook's text, else the value as text

    // Change log since the last merge.
    bool logChanges() const;
    void setLogChanges(bool on);
    int changeCount() const;               // rows inserted, modified or deleted
    RowChange rowChange(int row) const;
    std::vector<DeltaRow> delta() const;
    void mergeChangeLog();                 // the present state becomes the saved one
    void cancelUpdates();                  // back to the saved state

    // Bulk load for packets: rows appended as saved state, no events, no change log.
    void beginBulkLoad(int expectedRows = 0);
    void bulkAppendRow(const QVariantList &values);
    // The packet reader's path: an all-null row at the end, then its cells in the column's own kind
    // (bulkSetInteger also takes a date-time column's msecs). Throws std::logic_error outside a
    // bulk load, std::invalid_argument for a cell of another kind.
    int bulkNewRow();
    void bulkSetText(int row, int col, QStringView s);
    void bulkSetNumber(int row, int col, double v);
    void bulkSetInteger(int row, int col, qint64 v);
    void bulkSetBoolean(int row, int col, bool v);
    void endBulkLoad();

    Events events;

    void addObserver(MemTableObserver *o);
    void removeObserver(MemTableObserver *o);

    // Bytes the storage holds (for the benchmark and for limits).
    std::size_t memoryUsage() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
