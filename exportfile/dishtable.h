#pragma once
// The dish table's own behaviour (cdsPrato): the flags a new dish starts with, the error button
// following the current dish, the dish-code mask and the display text of the dish's tree.
// The session installs afterInsert, the screen the others, on cdsPrato.events; the load pass then runs them per row.
#include "dishflags.h"
#include "memtable.h"

#include <QString>
#include <QStringView>
#include <functional>

namespace DishTable {

// cdsPratoAfterInsert: a new dish starts without errors.
void cdsPratoAfterInsert(MemTable &cdsPrato);

// cdsPratoAfterOpen: CDPRATO gets the dish-code picture as its edit mask, and CDFILAUXPRAT its
// display text. Both belong to the columns, which every opening of the table rebuilds.
void cdsPratoAfterOpen(MemTable &cdsPrato, const QString &dishPicture);

// The text of a dish's tree (CDFILAUXPRAT): "P" is the standard tree, an empty value shows nothing,
// anything else (a branch code) is the local tree.
QString treeText(QStringView cdFilAuxPrat);

// cdsPratoCDFILAUXPRATGetText: treeText of the row's value.
QString cdsPratoCDFILAUXPRATGetText(const MemTable &cdsPrato, int row, int col);

// cdsPratoAfterScroll: the error button is enabled exactly when the now current dish has errors.
// It runs for every row the load pass inserts, so it keeps the column index and reads the flags
// in place, without a copy.
class AfterScroll {
public:
    explicit AfterScroll(std::function<void(bool)> setErrorsEnabled);
    void operator()(MemTable &cdsPrato);

private:
    std::function<void(bool)> m_setErrorsEnabled;
    int m_col = -1;
    QString m_scratch; // IDERRO of a column kept one byte a character
};

// Installs afterInsert, afterScroll and afterOpen on the table, replacing those it had.
// `dishPicture` gives the mask of kind 1; by default the environment's DBPict(1).
void install(MemTable &cdsPrato, std::function<void(bool)> setErrorsEnabled,
             std::function<QString()> dishPicture = {});

} // namespace DishTable
