#pragma once
// What `imp40500 check` and `imp40500 import` print: the loaded result as JSON for other tools, or
// as a report for a person. Both stream, so a file of a hundred thousand dishes needs no second
// copy of its tables in memory.
#include "result.h"

#include <QString>

#include <cstdio>

class ImportSession;
struct ImportPreview;
struct ImportSummary;

namespace CheckReport {

// {"flags": {...}, "tables": {...}, "servico": [...], "servdestino": [...]}; each PRATO row has, right
// after IDERRO, "erros": the texts of its raised positions ([] without errors); "remembered" (the map's
// rows paired from memory: [{"CDSERVFILIORIG", "CDSERVFILIDEST"}]) only when there are any,
// "warnings" (values that did not convert, lines with a NUL, a cut last line) only when the pass
// found any; with a preview, last, "preview": {"new": [codes], "replaced": [codes],
// "rows_replaced": {table: n}}. With `close` false the object is left open for writeImportOutcome.
void writeJson(ImportSession &session, std::FILE *out, const ImportPreview *preview = nullptr, bool close = true);
// Closes what writeJson left open with the import's outcome: ',\n "import": {"outcome": "ok",
// "dishes_written": n, "dishes_refused": [codes], "rows": {table: n}, "history_id": id or null}}'.
void writeImportOutcome(const ImportSummary &summary, std::FILE *out);
// {"error": {"key": ..., "kind": ..., "text": ...}}: the failure's catalogue key, its kind
// (Failure::kindName) and `text`, the failure's message as told.
void writeJsonError(const Failure &failure, const QString &text, std::FILE *out);
// Per dish its code (through the destination's dish-code mask), name, tree and errors; the
// service map; counts. With a preview, each dish without errors says whether it is new or
// replaces one at the destination, and the last line gives the preview's totals. `totalsOnly`
// (--quiet): the totals' lines alone.
void writeText(ImportSession &session, const QString &branchName, const QString &dishPicture, std::FILE *out,
               const ImportPreview *preview = nullptr, bool totalsOnly = false);

// A JSON string literal of the text, quotes included.
QByteArray jsonString(QStringView s);

} // namespace CheckReport
