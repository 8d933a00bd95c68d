#pragma once
// The export of a branch's dishes ("Exportação de Prato"): the export file that the dish import
// reads, written from a destination database. The standard dishes and the branch's local ones (as
// the tree asks), their standard recipe rows and their rows for that branch in the per-branch
// tables, with the services those rows name. The file is written whole or not at all: under a
// temporary name, renamed into place once every value went in. Every export, written or not, is
// recorded in the destination's history as an export. No widgets: the command line and the screen
// both run it and tell the operator what came of it.
#include "result.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

class StopRequest;

namespace MenuExport {

enum class Tree { Padrao, Local, Todos };
// "padrao", "local" or "todos", as the command line takes them.
std::optional<Tree> treeFromName(QStringView name);

struct Request {
    QString databaseUrl;  // the database the rows come from (a connection of the export's own)
    QString branch;       // the branch, checked and in its 4-character form
    Tree tree = Tree::Todos;
    QStringList dishes;   // dish codes (CDPRATO) to export; empty: every dish of the tree
    QString path;         // the file to write (replaced when it exists)
    QString operatorCode; // who exports, for the history
};

// The tables of the data section, in the order of the structure lines (SERVICO first).
QStringList tables();

struct Totals {
    QString path;                        // the file written, absolute
    QList<QPair<QString, qint64>> rows;  // lines written per table, in tables() order
    qint64 bytes = 0;
    QString sha256;
    QStringList missing;                 // codes asked for that named no dish of the export
    QString historyFailure;              // empty when the export went into the history
    qint64 count(const QString &table) const;
    // "PRATO 3, RECEPADR 12, ..." (every table, zeros too).
    QString rowsText() const;
};

// What the export shows while it runs. Each call comes between two dishes.
class Observer {
public:
    virtual ~Observer();
    virtual void setProgressRange(qint64 dishes);
    virtual void setProgress(qint64 dishesWritten);
    // A few times a second: the screen lets its events (Escape among them) through here.
    virtual void serveEvents();
};

// Writes the file. Failures: a value the file cannot carry ("Exp_ValorInvalido", naming the dish,
// the table and the column; "Exp_ServicoInvalido" for a service, "Exp_MascaraInvalida" for the
// dish-code mask), the file named is the database itself ("Exp_SaidaBanco"), too many codes
// ("Exp_PratosDemais"), a stop asked for ("Exp_Cancelada"), the file or the database failing
// (their words, the database's through DbError). No file is left behind by any of them.
Result<Totals> run(const Request &request, StopRequest *stop = nullptr, Observer *observer = nullptr);

// A refusal of what was asked (the command line's exit 2), not a failure of the database or of the
// system.
bool refused(const Failure &failure);
bool cancelled(const Failure &failure);

// The most dish codes one export takes (each is a parameter of the statements).
inline constexpr int kMaxDishCodes = 30000;

} // namespace MenuExport
