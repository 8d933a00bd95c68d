#pragma once
// The hash of a dish's rows that an import keeps and its undo compares: what the import wrote for
// the dish, against what the destination holds for it when the undo comes.
//
// The import hashes the values as its row writers send them; the undo hashes the rows it reads
// back. Both feed the same canonical form of each value, so that a row hashes the same on either
// side whatever the database made of it on the way in:
// - a null is a null, and a text its UTF-8 bytes (dates travel as "yyyy-MM-dd HH:mm:ss" text, and
//   PostgreSQL gives them back in that form, sub-seconds dropped when they are zero);
// - a number is its decimal text, rounded half away from zero at the column's scale (as
//   PostgreSQL's NUMERIC rounds the shortest text of the double it was sent), without trailing
//   zeros: SQLite keeps the double itself, PostgreSQL the rounded decimal, both read "0.5".
// A dish's hash is the sum of its rows' hashes, so the order rows come in does not matter, and a
// row added, removed or changed changes it.
#include <QByteArrayView>
#include <QtGlobal>

class RowHash {
public:
    // `table`: the table's place among the written tables, so that equal rows of two tables differ.
    explicit RowHash(int table);

    void null();
    void text(QByteArrayView utf8);
    // A double as written; `scale` the column's decimals (negative: not rounded).
    void number(double v, int scale);
    // A decimal as PostgreSQL's NUMERIC prints it ("12.500000").
    void decimal(QByteArrayView text);
    // A date-time as PostgreSQL prints it with microseconds ("2024-03-01 12:30:00.000000").
    void timestamp(QByteArrayView text);

    // The row's hash, never 0.
    quint64 value() const;

private:
    void add(char tag, QByteArrayView bytes);

    quint64 m_h;
};
