#include "dishtable.h"

#include "ambiente.h"
#include "framework.h"
#include "messages.h"

namespace DishTable {

void cdsPratoAfterInsert(MemTable &cdsPrato)
{
    const int c = cdsPrato.fieldIndex(u"IDERRO");
    if (c >= 0)
        cdsPrato.setText(c, DishFlags::kNone);
}

void cdsPratoAfterOpen(MemTable &cdsPrato, const QString &dishPicture)
{
    const int code = cdsPrato.fieldIndex(u"CDPRATO");
    if (code >= 0)
        cdsPrato.field(code).editMask = dishPicture;
    const int tree = cdsPrato.fieldIndex(u"CDFILAUXPRAT");
    if (tree >= 0)
        cdsPrato.setDisplayHook(tree, &cdsPratoCDFILAUXPRATGetText);
}

QString cdsPratoCDFILAUXPRATGetText(const MemTable &cdsPrato, int row, int col)
{
    QString scratch;
    return treeText(cdsPrato.textViewAt(row, col, scratch));
}

QString treeText(QStringView value)
{
    if (value == u"P")
        return Msg(QStringLiteral("PADRAO"));
    if (EmptyString(value))
        return QString();
    return Msg(QStringLiteral("LOCAL"));
}

AfterScroll::AfterScroll(std::function<void(bool)> setErrorsEnabled)
    : m_setErrorsEnabled(std::move(setErrorsEnabled))
{
}

void AfterScroll::operator()(MemTable &cdsPrato)
{
    // The columns change only when the table is rebuilt; checking the remembered index by its
    // name costs less than looking the name up for each of the pass's rows.
    if (m_col < 0 || m_col >= cdsPrato.fieldCount()
        || QStringView(cdsPrato.field(m_col).name).compare(u"IDERRO", Qt::CaseInsensitive) != 0)
        m_col = cdsPrato.fieldIndex(u"IDERRO");
    const int row = cdsPrato.currentRow();
    const bool errors = m_col >= 0 && row >= 0 && DishFlags::hasErrors(cdsPrato.textViewAt(row, m_col, m_scratch));
    if (m_setErrorsEnabled)
        m_setErrorsEnabled(errors);
}

void install(MemTable &cdsPrato, std::function<void(bool)> setErrorsEnabled,
             std::function<QString()> dishPicture)
{
    if (!dishPicture)
        dishPicture = [] { return Ambiente::instance().DBPict(1); };
    cdsPrato.events.afterInsert = &cdsPratoAfterInsert;
    cdsPrato.events.afterScroll = AfterScroll(std::move(setErrorsEnabled));
    cdsPrato.events.afterOpen = [dishPicture = std::move(dishPicture)](MemTable &t) {
        cdsPratoAfterOpen(t, dishPicture());
    };
}

} // namespace DishTable
