#pragma once
// The errors of a load as a spreadsheet can open them: one row per error of every dish with
// errors, "linha;prato;nome;arvore;erro" (the dish's line in the file, its code through the
// destination's dish-code mask, its name, "Padrão" or "Local", the error's text as the error
// panel says it). `imp40500 check --errors-csv`, the dish grid's "Exportar erros..." and
// "Copiar erros" all write these rows; ErrorXlsx (errorxlsx.h) writes them as a workbook.
#include "result.h"

#include <QByteArray>
#include <QList>
#include <QString>

class ImportSession;

namespace ErrorCsv {

// One row of the report: an error of a dish.
struct Row {
    int line = 0;  // the dish's line in the file; 0 when unknown
    QString code;  // through the destination's dish-code mask
    QString name;
    QString tree;  // "Padrão" or "Local"
    QString error;
};
// The rows, dish by dish in the file's order, one per error.
QList<Row> rows(ImportSession &session, const QString &dishPicture);
// The header's names, in the rows' order.
QStringList header();

// The header and the rows, fields separated by ';' and quoted as RFC 4180 says (a field holding
// ';', '"', CR or LF goes between quotes, its quotes doubled), each record ended by CRLF. UTF-8;
// with `byteOrderMark` it starts with one, so that spreadsheet programs take it as UTF-8.
QByteArray text(ImportSession &session, const QString &dishPicture, bool byteOrderMark);

// Whether any dish of the load has errors (text() then holds more than its header).
bool anyErrors(ImportSession &session);

// One field as the rows hold it. Export files come from other installations: a text that a
// spreadsheet would take for a formula (it begins with "=", "+", "-", "@", a tab or a carriage
// return: a dish named "=1+1" would open as 2) gets a leading apostrophe, which spreadsheets show
// as text and do not evaluate.
QByteArray field(QStringView value);

// Writes text() with its byte-order mark to the path, whole or not at all (a file that exists is
// replaced only once the new one is complete). The failure says what could not be written.
Status write(ImportSession &session, const QString &dishPicture, const QString &path);

// The failure "Erros_Gravar_Falha" for the path, why in words (FileError::whyNotWritten).
Failure writeFailure(const QString &path, int err);

} // namespace ErrorCsv
