#include "errorcsv.h"
#include "database.h"

#include "ambiente.h"
#include "dishflags.h"
#include "dishtable.h"
#include "importsession.h"
#include "messages.h"

#include <QSaveFile>

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
    const QByteArray utf8 = value.toUtf8();
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

QByteArray text(ImportSession &s, const QString &dishPicture, bool byteOrderMark)
{
    QByteArray out;
    if (byteOrderMark)
        out.append("\xEF\xBB\xBF");
    out.append("linha;prato;nome;arvore;erro\r\n");
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
        // The dish's part of every row, then one row per error.
        QByteArray dish;
        const int line = s.dishLine(r);
        dish.append(line > 0 ? QByteArray::number(line) : QByteArray()).append(';');
        dish.append(field(formatThroughPicture(textOf(p, r, c.code), dishPicture))).append(';');
        dish.append(field(textOf(p, r, c.name))).append(';');
        dish.append(field(DishTable::treeText(textOf(p, r, c.tree)))).append(';');
        const QStringList errors = DishFlags::texts(flags, textOf(p, r, c.local), s.controlCharLine(r));
        for (const QString &e : errors)
            out.append(dish).append(field(e)).append("\r\n");
        // A dish whose only raised flags mean nothing (positions 7 to 10) still has errors; it gets
        // a row that says so, as the grid shows its cross.
        if (errors.isEmpty())
            out.append(dish).append(field(Msg(QStringLiteral("Erro_Indefinido")).arg(flags))).append("\r\n");
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
    if (!f.open(QIODevice::WriteOnly))
        return Status::fail(Msg(QStringLiteral("Erros_Gravar_Falha")).arg(path, f.errorString()),
                            QStringLiteral("Erros_Gravar_Falha"));
    const QByteArray bytes = text(s, dishPicture, true);
    if (f.write(bytes) != bytes.size() || !f.commit())
        return Status::fail(Msg(QStringLiteral("Erros_Gravar_Falha")).arg(path, f.errorString()),
                            QStringLiteral("Erros_Gravar_Falha"));
    return okStatus();
}

} // namespace ErrorCsv
