#pragma once
// What an import of the loaded file would change at the destination: which dishes without errors
// are new there and which replace a dish it holds, and how many of the destination's recipe rows
// would give way to the file's. Asked of the application server (GetPrevia) after a load; nothing
// is written.
#include "result.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <vector>

class ImportSession;

struct ImportPreview {
    enum class Dish : signed char { NotWritten = -1, New = 0, Replaces = 1 };
    // Per dish row of cdsPrato: NotWritten for a dish with errors (the import leaves it out).
    std::vector<Dish> perRow;
    QStringList newDishes;      // CDPRATO of the new dishes, in table order
    QStringList replacedDishes; // CDPRATO of the dishes that replace one at the destination
    // RECEPADR, RECEFILI, RECESERV: the destination's rows the import would replace.
    QList<QPair<QString, qint64>> rowsReplaced;

    Dish dish(int row) const { return row >= 0 && size_t(row) < perRow.size() ? perRow[size_t(row)] : Dish::NotWritten; }
    // "novos N, substituídos M"
    QString totalsText() const;
    // "linhas do destino substituídas: RECEPADR n, RECEFILI n, RECESERV n"
    QString rowsText() const;

    // Asks the session's server about the session's dishes without errors. A failure of the call
    // or of its reply comes back as the value.
    static Result<ImportPreview> ask(ImportSession &session);
};
