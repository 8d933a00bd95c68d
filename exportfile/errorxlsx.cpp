#include "errorxlsx.h"

#include "errorcsv.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>

namespace ErrorXlsx {

namespace {

// The widths of linha, prato, nome, arvore and erro, in characters.
constexpr double kWidths[] = {7, 12, 42, 8, 70};

// Writes the rows into `file`; false when the library could not.
bool writeWorkbook(const QString &file, const QList<ErrorCsv::Row> &rows)
{
    lxw_workbook *book = workbook_new(QFile::encodeName(file).constData());
    if (!book)
        return false;
    lxw_worksheet *sheet = workbook_add_worksheet(book, "erros");
    lxw_format *bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format *text = workbook_add_format(book);
    format_set_num_format(text, "@"); // a code typed over later stays text too
    const QStringList header = ErrorCsv::header();
    for (int c = 0; c < int(header.size()); ++c) {
        worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), kWidths[c], c == 1 ? text : nullptr);
        worksheet_write_string(sheet, 0, lxw_col_t(c), header[c].toUtf8().constData(), bold);
    }
    worksheet_freeze_panes(sheet, 1, 0);
    lxw_row_t r = 1;
    for (const ErrorCsv::Row &row : rows) {
        if (row.line > 0)
            worksheet_write_number(sheet, r, 0, row.line, nullptr);
        worksheet_write_string(sheet, r, 1, row.code.toUtf8().constData(), text);
        worksheet_write_string(sheet, r, 2, row.name.toUtf8().constData(), nullptr);
        worksheet_write_string(sheet, r, 3, row.tree.toUtf8().constData(), nullptr);
        worksheet_write_string(sheet, r, 4, row.error.toUtf8().constData(), nullptr);
        ++r;
    }
    return workbook_close(book) == LXW_NO_ERROR;
}

} // namespace

Status write(ImportSession &session, const QString &dishPicture, const QString &path)
{
    const QFileInfo target(path);
    if (target.isDir() || !QFileInfo(target.absolutePath()).isDir())
        return Status::fail(ErrorCsv::writeFailure(path, 0));
    // Written beside the target under another name, then put in its place in one step.
    QTemporaryFile part(QDir(target.absolutePath()).filePath(QStringLiteral(".%1.XXXXXX").arg(target.fileName())));
    errno = 0;
    if (!part.open())
        return Status::fail(ErrorCsv::writeFailure(path, errno));
    part.close();
    errno = 0;
    if (!writeWorkbook(part.fileName(), ErrorCsv::rows(session, dishPicture)))
        return Status::fail(ErrorCsv::writeFailure(path, errno));
    if (std::rename(QFile::encodeName(part.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return Status::fail(ErrorCsv::writeFailure(path, errno));
    part.setAutoRemove(false);
    // QTemporaryFile makes its file readable by its owner only; the report is an ordinary file.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return okStatus();
}

} // namespace ErrorXlsx
