#pragma once
// The errors of a load as an Excel workbook (libxlsxwriter): the rows of ErrorCsv on one sheet,
// the header in bold, the widths set, and every code a text cell, so that a pt_BR spreadsheet
// keeps "100.004" and "000.900" as they are instead of reading numbers in them. Text cells are
// never evaluated: a dish named "=1+1" stays that text.
#include "result.h"

#include <QString>

class ImportSession;

namespace ErrorXlsx {

// Writes the workbook to the path, whole or not at all (a file that exists is replaced only once
// the new one is complete). The failure says, in words, what could not be written.
Status write(ImportSession &session, const QString &dishPicture, const QString &path);

} // namespace ErrorXlsx
