#include "errorcsv.h"
#include "fileerror.h"
#include "database.h"

#include "ambiente.h"
#include "dishflags.h"
#include "dishtable.h"
#include "importsession.h"
#include "messages.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ErrorCsv {

namespace {

struct DishColumns {
    int code, name, tree, flags, local;
    explicit DishColumns(const MemTable &p)
        : code(p.fieldIndex(u"CDPRATO")), name(p.fieldIndex(u"NMPRATO")), tree(p.fieldIndex(u"CDFILAUXPRAT")),
          flags(p.fieldIndex(u"IDERRO")), local(p.fieldIndex(u"MNPRATOLOCAL"))
    {
    }
};

QString textOf(const MemTable &t, int row, int col)
{
    return col >= 0 ? t.textAt(row, col) : QString();
}

} // namespace

QByteArray field(QStringView value)
{
    QByteArray utf8 = value.toUtf8();
    static constexpr char kFormulaStart[] = {'=', '+', '-', '@', '\t', '\r'};
    if (!utf8.isEmpty() && std::find(std::begin(kFormulaStart), std::end(kFormulaStart), utf8.front()) != std::end(kFormulaStart))
        utf8.prepend('\'');
    if (!utf8.contains(';') && !utf8.contains('"') && !utf8.contains('\r') && !utf8.contains('\n'))
        return utf8;
    QByteArray quoted;
    quoted.reserve(utf8.size() + 2);
    quoted.append('"');
    for (char c : utf8) {
        if (c == '"')
            quoted.append('"');
        quoted.append(c);
    }
    quoted.append('"');
    return quoted;
}

QStringList header()
{
    return {QStringLiteral("linha"), QStringLiteral("prato"), QStringLiteral("nome"), QStringLiteral("arvore"),
            QStringLiteral("erro")};
}

QList<Row> rows(ImportSession &s, const QString &dishPicture)
{
    QList<Row> out;
    const MemTable &p = s.cdsPrato;
    if (!p.isActive())
        return out;
    const DishColumns c(p);
    if (c.flags < 0)
        return out;
    QString scratch;
    for (int r = 0; r < p.rowCount(); ++r) {
        if (!DishFlags::hasErrors(p.textViewAt(r, c.flags, scratch)))
            continue;
        const QString flags = p.textAt(r, c.flags);
        Row dish;
        dish.line = qMax(0, s.dishLine(r));
        dish.code = formatThroughPicture(textOf(p, r, c.code), dishPicture);
        dish.name = textOf(p, r, c.name);
        dish.tree = DishTable::treeText(textOf(p, r, c.tree));
        QStringList errors = DishFlags::texts(flags, textOf(p, r, c.local), s.controlCharLine(r));
        // A dish whose only raised flags mean nothing (positions 7 to 10) still has errors; it gets
        // a row that says so, as the grid shows its cross.
        if (errors.isEmpty())
            errors << Msg(QStringLiteral("Erro_Indefinido")).arg(flags);
        for (const QString &e : errors) {
            dish.error = e;
            out << dish;
        }
    }
    return out;
}

QByteArray text(ImportSession &s, const QString &dishPicture, bool byteOrderMark)
{
    QByteArray out;
    if (byteOrderMark)
        out.append("\xEF\xBB\xBF");
    out.append(header().join(QLatin1Char(';')).toUtf8()).append("\r\n");
    for (const Row &r : rows(s, dishPicture)) {
        out.append(r.line > 0 ? QByteArray::number(r.line) : QByteArray()).append(';');
        out.append(field(r.code)).append(';').append(field(r.name)).append(';').append(field(r.tree)).append(';');
        out.append(field(r.error)).append("\r\n");
    }
    return out;
}

bool anyErrors(ImportSession &s)
{
    const MemTable &p = s.cdsPrato;
    const int flags = p.isActive() ? p.fieldIndex(u"IDERRO") : -1;
    QString scratch;
    for (int r = 0; flags >= 0 && r < p.rowCount(); ++r)
        if (DishFlags::hasErrors(p.textViewAt(r, flags, scratch)))
            return true;
    return false;
}

Status write(ImportSession &s, const QString &dishPicture, const QString &path)
{
    // Written over the destination database it would replace it; even opened, it would cost the
    // process its locks on the database.
    if (const Status own = Database::refuseOwnFile(path); !own)
        return own;
    QSaveFile f(path);
    errno = 0;
    if (!f.open(QIODevice::WriteOnly))
        return Status::fail(writeFailure(path, errno));
    const QByteArray bytes = text(s, dishPicture, true);
    if (f.write(bytes) != bytes.size() || !f.commit())
        return Status::fail(writeFailure(path, errno));
    return okStatus();
}

Failure writeFailure(const QString &path, int err)
{
    return Failure{Msg(QStringLiteral("Erros_Gravar_Falha")).arg(path, FileError::whyNotWritten(path, err)),
                   QStringLiteral("Erros_Gravar_Falha"), err ? QString::fromLocal8Bit(std::strerror(err)) : QString()};
}

} // namespace ErrorCsv
