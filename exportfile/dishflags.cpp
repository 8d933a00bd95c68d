#include "dishflags.h"

#include "messages.h"

#include <array>

namespace {

const std::array<const char *, DishFlags::kPositions> kKeys = {
    "Erro_UnidMedida", "Erro_Produto", "Erro_Servico", "Erro_Prato", "Erro_Chave", "Erro_Caractere",
    "Erro_Valor"};

} // namespace

void DishFlags::raise(Position p)
{
    if (m_text.size() != kWidth)
        m_text = kNone.toString();
    m_text[p] = u'1';
}

void DishFlags::merge(QStringView other)
{
    if (m_text.size() != kWidth)
        m_text = kNone.toString();
    for (int i = 0; i < kWidth && i < other.size(); ++i)
        if (other[i] == u'1' && m_text[i] != u'1')
            m_text[i] = u'1';
}

QString DishFlags::key(Position p)
{
    return QString::fromLatin1(kKeys[size_t(p)]);
}

QStringList DishFlags::texts(QStringView flags, const QString &mnPratoLocal, int controlCharLine)
{
    QStringList out;
    for (int i = 0; i < kPositions && i < flags.size(); ++i) {
        if (flags[i] != u'1')
            continue;
        QString text = Msg(key(Position(i)));
        if (i == Prato)
            text.replace(QStringLiteral("%s"), mnPratoLocal);
        else if (i == Caractere)
            text.replace(QStringLiteral("%s"), controlCharLine > 0 ? QString::number(controlCharLine) : QStringLiteral("?"));
        out << text;
    }
    return out;
}
