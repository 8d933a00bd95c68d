#pragma once
// Writes export files for tests: a well-formed structure section by default (header, mask
// "999.999", the structure lines of the seven tables and SERVICO, the data marker on line 13),
// then whatever lines the test adds. Lines are kept as code page 1252 bytes without their line
// end, so a test can break any rule on purpose.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class ExportWriter {
public:
    ExportWriter();

    // Physical lines, in order, without line ends. lines[12] is the data marker.
    QList<QByteArray> lines;

    // Fields, each followed by the terminator.
    static QByteArray fields(const QStringList &values);
    // Code page 1252 of the text; a character the code page lacks becomes '?'. Written here on its
    // own, so that the reader's decoder is checked against an independent table.
    static QByteArray cp1252(QStringView text);
    static QByteArray marker();

    // Appends a line of fields.
    ExportWriter &add(const QStringList &values);
    ExportWriter &service(const QString &code, const QString &name);
    // A dish line in the default PRATO structure.
    ExportWriter &dish(const QString &tree, const QString &code, const QString &name,
                       const QString &unit = QStringLiteral("KG"));

    // The file's bytes, lines joined with `eol` and ended by it.
    QByteArray bytes(const QByteArray &eol = "\r\n") const;
    // Writes the file; false when it cannot.
    bool write(const QString &path, const QByteArray &eol = "\r\n") const;

    // The default structure line of a table (its name and columns).
    static QStringList structure(const QString &table);

    // A file of values at the destination's limits, the same for the same seed: codes and names
    // longer than their columns, numbers at and past their precision and scale, repeated, blank
    // and empty keys, NULs in codes and in recipe lines placed after another dish, services that
    // pair by name, that do not, and those paired as `--pair` would (in `pairs`). Its dishes are
    // meant for branch 0001 of the demo destination with limitsDestination() added.
    struct Limits;
    static Limits atLimits(quint32 seed);
    // The destination dishes atLimits() expects beside the demo ones: (tree, code, name), each code
    // as long as its column, each name as long as its column.
    static QList<QStringList> limitsDestination();
};

struct ExportWriter::Limits {
    ExportWriter file;
    QList<QPair<QString, QString>> pairs; // origin and destination service, as --pair takes them
};
