#pragma once
// How the service grid draws and edits a cell. Both grid columns are bound to the map's code
// columns, but the grid shows names: each cell is drawn as usual and then covered by the service's
// name (or, in one state, its code). The delegate finds its way by the cell's field name and
// reads the names from the sibling columns of the same row; it never looks at the model's type.
#include <QStringView>
#include <QStyle>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>

class ServiceCodeEditor;

namespace ServiceGridFields {
inline constexpr QStringView Orig = u"CDSERVFILIORIG";
inline constexpr QStringView Dest = u"CDSERVFILIDEST";
inline constexpr QStringView NmOrig = u"NMSERVICOORIG";
inline constexpr QStringView NmDest = u"NMSERVICODEST";
} // namespace ServiceGridFields

class ServiceGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ServiceGridDelegate(QObject *parent = nullptr);

    // Whether the grid is in cell-editing mode (an in-place editor is open). Set by the grid.
    std::function<bool()> gridEditing;
    // Told of every editor made, so the grid can follow its keys, its typing and its button.
    std::function<void(ServiceCodeEditor *, const QModelIndex &)> editorCreated;
    // Characters the in-place editor accepts: the width of the code column.
    int maxLength = 5;
    // Whether the row holds the destination remembered from the branch's last import. Such a
    // destination cell is drawn in rememberedColour() and says so in its tooltip. Set by the grid.
    std::function<bool(int row)> rememberedRow;

    // The text colour of a remembered destination (dark teal: apart from the grid's black text,
    // readable on its tooltip-yellow background, and no error colour).
    static QColor rememberedColour();
    // The tooltip of a cell: "Pareado pela última importação" on a remembered destination; empty
    // otherwise.
    QString toolTipText(const QModelIndex &index) const;

    // The text drawn over a cell (dbgPadraoDrawColumnCell's choice); nothing when nothing more is
    // drawn (an empty map, or a column that is neither code column). `state` is the cell's
    // drawing state: the code shows only while the grid is editing and the cell is selected
    // without having the focus (the lookup or a message is open over it).
    static std::optional<QString> overlayText(const QModelIndex &index, bool gridEditing, QStyle::State state);
    // The cell of the same row bound to `field`; invalid when no column of the model is.
    static QModelIndex fieldSibling(const QModelIndex &index, QStringView field);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

private:
    bool isRememberedDestination(const QModelIndex &index) const;
};
