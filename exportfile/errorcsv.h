#pragma once
// The errors of a load as a spreadsheet can open them: one row per error of every dish with
// errors, "linha;prato;nome;arvore;erro" (the dish's line in the file, its code through the
// destination's dish-code mask, its name, "Padrão" or "Local", the error's text as the error
// panel says it). `imp40500 check --errors-csv`, the dish grid's "Exportar erros..." and
// "Copiar erros" all write these rows.
#include "result.h"

#include <QByteArray>
#include <QString>

class ImportSession;

namespace ErrorCsv {

// The header and the rows, fields separated by ';' and quoted as RFC 4180 says (a field holding
// ';', '"', CR or LF goes between quotes, its quotes doubled), each record ended by CRLF. UTF-8;
// with `byteOrderMark` it starts with one, so that spreadsheet programs take it as UTF-8.
QByteArray text(ImportSession &session, const QString &dishPicture, bool byteOrderMark);

// Whether any dish of the load has errors (text() then holds more than its header).
bool anyErrors(ImportSession &session);

// One field as the rows hold it.
QByteArray field(QStringView value);

// Writes text() with its byte-order mark to the path, whole or not at all (a file that exists is
// replaced only once the new one is complete). The failure says what could not be written.
Status write(ImportSession &session, const QString &dishPicture, const QString &path);

} // namespace ErrorCsv
