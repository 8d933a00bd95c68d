#include "servicegriddelegate.h"

#include "framework.h"
#include "memtablemodel.h"
#include "servicecodeeditor.h"

#include "messages.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace {

QString fieldOf(const QModelIndex &index)
{
    return index.data(MemTableModel::FieldNameRole).toString();
}

QString textOf(const QModelIndex &index)
{
    return index.isValid() ? index.data(Qt::EditRole).toString() : QString();
}

} // namespace

ServiceGridDelegate::ServiceGridDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QModelIndex ServiceGridDelegate::fieldSibling(const QModelIndex &index, QStringView field)
{
    if (!index.isValid())
        return {};
    const int columns = index.model()->columnCount(index.parent());
    for (int c = 0; c < columns; ++c) {
        const QModelIndex sibling = index.siblingAtColumn(c);
        if (fieldOf(sibling) == field)
            return sibling;
    }
    return {};
}

std::optional<QString> ServiceGridDelegate::overlayText(const QModelIndex &index, bool gridEditing, QStyle::State state)
{
    if (!index.isValid() || index.model()->rowCount(index.parent()) == 0)
        return std::nullopt; // an empty map: the grid's own drawing stays
    // Exactly "selected": the current cell while the grid itself lacks the keyboard focus.
    const bool selectedOnly = (state & QStyle::State_Selected) && !(state & QStyle::State_HasFocus);
    const bool showCode = gridEditing && selectedOnly;
    const QString field = fieldOf(index);
    if (field == ServiceGridFields::Dest) {
        if (showCode)
            return textOf(index);
        // A row cleared of its destination keeps the former name; the cell shows nothing then.
        if (EmptyString(textOf(index)))
            return QString();
        return textOf(fieldSibling(index, ServiceGridFields::NmDest));
    }
    if (field == ServiceGridFields::Orig)
        return showCode ? textOf(index) : textOf(fieldSibling(index, ServiceGridFields::NmOrig));
    return std::nullopt;
}

void ServiceGridDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const std::optional<QString> text = overlayText(index, gridEditing && gridEditing(), option.state);
    if (!text)
        return;

    // Drawn opaquely in the colours the grid chose for the cell, so the code drawn underneath is
    // covered whatever the text's length.
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active)  ? QPalette::Active
                                                                                 : QPalette::Inactive;
    const bool selected = option.state & QStyle::State_Selected;
    QColor back = selected ? option.palette.color(group, QPalette::Highlight)
                           : option.palette.color(group, QPalette::Base);
    if (!selected && option.backgroundBrush.style() != Qt::NoBrush)
        back = option.backgroundBrush.color();
    QColor fore = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    if (!selected && isRememberedDestination(index))
        fore = rememberedColour();

    painter->save();
    painter->setClipRect(option.rect);
    painter->fillRect(option.rect, back);
    painter->setFont(option.font);
    painter->setPen(fore);
    painter->drawText(option.rect.adjusted(3, 3, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, *text);
    painter->restore();
}

QWidget *ServiceGridDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    // Only the destination is edited in place. The origin code is the exported service and stays
    // as the file gave it, so its cells open no editor at all.
    if (fieldOf(index) != ServiceGridFields::Dest)
        return nullptr;
    auto *editor = new ServiceCodeEditor(parent);
    editor->setMaxLength(maxLength);
    editor->setButtonVisible(true);
    if (editorCreated)
        editorCreated(editor, index);
    return editor;
}

void ServiceGridDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    if (auto *e = qobject_cast<ServiceCodeEditor *>(editor))
        e->setText(textOf(index));
}

void ServiceGridDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    // An editor opened and left untouched writes nothing: writing would start an edit of the row.
    auto *e = qobject_cast<ServiceCodeEditor *>(editor);
    if (e && e->isModified())
        model->setData(index, e->text(), Qt::EditRole);
}

QColor ServiceGridDelegate::rememberedColour()
{
    return QColor(0x00, 0x6b, 0x7a);
}

bool ServiceGridDelegate::isRememberedDestination(const QModelIndex &index) const
{
    return index.isValid() && rememberedRow && fieldOf(index) == ServiceGridFields::Dest && rememberedRow(index.row());
}

QString ServiceGridDelegate::toolTipText(const QModelIndex &index) const
{
    return isRememberedDestination(index) ? Msg(QStringLiteral("Serv_Lembrado")) : QString();
}

bool ServiceGridDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                    const QModelIndex &index)
{
    if (event && event->type() == QEvent::ToolTip) {
        const QString tip = toolTipText(index);
        if (!tip.isEmpty()) {
            QToolTip::showText(event->globalPos(), tip, view, option.rect);
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

void ServiceGridDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}
