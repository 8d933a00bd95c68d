// The parts of the packet reader (datapacketreader_p.h) that are read once a packet, not once a
// value: the columns' descriptions and the rows of a packet of changes.
#include "datapacketreader_p.h"

namespace DataPacket::reader_detail {

bool Reader::readFields(QList<FieldDef> &fields)
{
    qint64 declared = -1;
    if (!enter(false, QStringLiteral("campos"), declared))
        return false;
    if (declared > m_limits.maxFields)
        return fail(QStringLiteral("%1 campos; o máximo é %2.").arg(declared).arg(m_limits.maxFields));
    while (hasNext()) {
        if (fields.size() >= m_limits.maxFields)
            return fail(QStringLiteral("mais de %1 campos.").arg(m_limits.maxFields));
        FieldDef f;
        if (!readField(f, int(fields.size())))
            return false;
        for (const FieldDef &g : fields)
            if (g.name.compare(f.name, Qt::CaseInsensitive) == 0)
                return fail(QStringLiteral("campo %1 repetido.").arg(f.name));
        fields.append(f);
    }
    if (!leave())
        return false;
    if (fields.isEmpty())
        return fail(QStringLiteral("pacote sem campos."));
    return true;
}

bool Reader::readField(FieldDef &f, int index)
{
    // Labels are made only when a message needs them: a lookup's reply is three fields read
    // once per local dish.
    const auto what = [index] { return QStringLiteral("campo %1").arg(index + 1); };
    qint64 declared = -1;
    if (!enter(true, what, declared))
        return false;
    bool hasName = false, hasKind = false;
    QStringList seen;
    QString key;
    while (hasNext()) {
        if (!readText(key, 64, what))
            return false;
        if (seen.contains(key))
            return fail(QStringLiteral("%1: chave %2 repetida.").arg(what(), key));
        seen.append(key);
        const auto item = [&what, &key] { return what() + QLatin1Char('.') + key; };
        qint64 n = 0;
        bool b = false;
        if (key == u"name") {
            if (!readText(f.name, 128, item))
                return false;
            hasName = true;
        } else if (key == u"label") {
            if (!readText(f.label, 1024, item))
                return false;
        } else if (key == u"mask") {
            if (!readText(f.editMask, 1024, item))
                return false;
        } else if (key == u"kind") {
            if (!readInt(n, item))
                return false;
            if (n < 0 || n > qint64(FieldKind::Boolean))
                return fail(QStringLiteral("%1: tipo %2 desconhecido.").arg(item()).arg(n));
            f.kind = FieldKind(n);
            hasKind = true;
        } else if (key == u"width") {
            if (!readInt(n, item))
                return false;
            if (n < 0 || n > m_limits.maxTextLength)
                return fail(QStringLiteral("%1: largura %2 fora da faixa.").arg(item()).arg(n));
            f.width = int(n);
        } else if (key == u"prec" || key == u"scale") {
            if (!readInt(n, item))
                return false;
            if (n < 0 || n > 255)
                return fail(QStringLiteral("%1: %2 fora da faixa.").arg(item()).arg(n));
            (key == u"prec" ? f.precision : f.scale) = std::uint8_t(n);
        } else if (key == u"flags") {
            if (!readInt(n, item))
                return false;
            if (n < 0 || n > 255)
                return fail(QStringLiteral("%1: marcas %2 fora da faixa.").arg(item()).arg(n));
            f.providerFlags = std::uint8_t(n);
        } else if (key == u"ro") {
            if (!readBool(b, item))
                return false;
            f.readOnly = b;
        } else if (key == u"req") {
            if (!readBool(b, item))
                return false;
            f.required = b;
        } else if (!skip()) { // a key of a later version
            return false;
        }
    }
    if (!leave())
        return false;
    if (!hasName || f.name.trimmed().isEmpty())
        return fail(QStringLiteral("%1 sem nome.").arg(what()));
    if (!hasKind)
        return fail(QStringLiteral("campo %1 sem tipo.").arg(f.name));
    if (f.scale > f.precision)
        return fail(QStringLiteral("campo %1: escala %2 maior que a precisão %3.").arg(f.name).arg(f.scale).arg(f.precision));
    return true;
}

template <typename W>
bool Reader::readValueList(const QList<FieldDef> &fields, QVariantList &out, const W &what)
{
    qint64 n = -1;
    if (!enter(false, what, n))
        return false;
    const int fc = int(fields.size());
    if (n > 0 && n != fc)
        return fail(QStringLiteral("%1 tem %2 valores; esperados %3.").arg(label(what)).arg(n).arg(fc));
    while (hasNext()) {
        if (out.size() >= fc)
            return fail(QStringLiteral("%1 tem mais de %2 valores.").arg(label(what)).arg(fc));
        QVariant v;
        const FieldDef &f = fields[out.size()];
        if (!readVariant(f, v, [&] { return QStringLiteral("%1, campo %2").arg(label(what), f.name); }))
            return false;
        out.append(v);
    }
    if (!leave())
        return false;
    if (!out.isEmpty() && out.size() != fc)
        return fail(QStringLiteral("%1 tem %2 valores; esperados %3.").arg(label(what)).arg(out.size()).arg(fc));
    return true;
}

bool Reader::readDeltaRows(const QList<FieldDef> &fields, std::vector<DeltaRow> &rows)
{
    qint64 declared = -1;
    if (!enter(false, QStringLiteral("linhas"), declared))
        return false;
    if (declared > m_limits.maxRows)
        return fail(QStringLiteral("%1 linhas; o máximo é %2.").arg(declared).arg(m_limits.maxRows));
    if (declared > 0)
        rows.reserve(size_t(std::min<qint64>(declared, remaining() / 4)));
    while (hasNext()) {
        if (qint64(rows.size()) >= m_limits.maxRows)
            return fail(QStringLiteral("mais de %1 linhas.").arg(m_limits.maxRows));
        const auto what = [n = rows.size() + 1] { return QStringLiteral("alteração %1").arg(n); };
        qint64 n = -1;
        if (!enter(false, what, n))
            return false;
        if (n >= 0 && n != 3)
            return fail(QStringLiteral("%1: esperados 3 elementos, encontrados %2.").arg(label(what)).arg(n));
        DeltaRow d;
        qint64 kind = 0;
        if (!hasNext())
            return checkStream() && fail(QStringLiteral("%1 vazia.").arg(label(what)));
        if (!readInt(kind, what))
            return false;
        if (kind < 1 || kind > 3)
            return fail(QStringLiteral("%1: tipo de alteração %2 desconhecido.").arg(label(what)).arg(kind));
        d.change = RowChange(kind);
        if (!hasNext() || !readValueList(fields, d.values, [&] { return what() + QStringLiteral(" (valores)"); }))
            return checkStream() && fail(QStringLiteral("%1 incompleta.").arg(label(what)));
        if (!hasNext() || !readValueList(fields, d.original, [&] { return what() + QStringLiteral(" (originais)"); }))
            return checkStream() && fail(QStringLiteral("%1 incompleta.").arg(label(what)));
        if (hasNext())
            return fail(QStringLiteral("%1: elementos a mais.").arg(label(what)));
        if (!leave())
            return false;
        const bool needValues = d.change != RowChange::Deleted;
        const bool needOriginal = d.change != RowChange::Inserted;
        if (needValues != !d.values.isEmpty() || needOriginal != !d.original.isEmpty())
            return fail(QStringLiteral("%1: valores incompatíveis com o tipo de alteração.").arg(label(what)));
        rows.push_back(std::move(d));
    }
    return leave();
}

} // namespace DataPacket::reader_detail
