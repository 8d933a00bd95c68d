#pragma once
// Writes export files of any size for the load benchmark, and a destination database that matches
// them: every unit, product and service the file names exists there, and the services pair by name.
#include "result.h"

#include <QLocale>
#include <QString>

namespace LoadGen {

struct Options {
    int dishes = 100'000;
    int firstDish = 0; // dish codes from 100000 + firstDish: files that do not overlap
    // Every localEvery-th dish belongs to the source branch (a local dish: one server lookup each);
    // 0: all standard.
    int localEvery = 10;
    QString sourceBranch = QStringLiteral("0009");
    QString destinationBranch = QStringLiteral("0001");
    int products = 400;
    QLocale locale = QLocale(QLocale::Portuguese, QLocale::Brazil);
};

struct Written {
    qint64 bytes = 0;
    qint64 lines = 0;      // physical lines of the export file
    qint64 dataLines = 0;  // lines after the data marker
};

// The export file (code page 1252, CR LF); with csvPath, the same lines as CSV (UTF-8), every row
// padded to the widest line's field count, for `sqlite3 .import`.
Result<Written> writeExportFile(const QString &path, const Options &options, const QString &csvPath = {});
// The widest line's field count of the files writeExportFile makes.
int csvColumns();

// Schema, the demonstration branches and operator, and the products of the generated file.
Status createDestination(const QString &databaseUrl, const Options &options);

} // namespace LoadGen
