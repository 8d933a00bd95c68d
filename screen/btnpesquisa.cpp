#include "btnpesquisa.h"
#include "handlerboundary.h"
#include "consiste.h"
#include "datasource.h"

#include <QPainter>
#include <QPixmap>

TBtnPesquisa::TBtnPesquisa(QWidget *parent) : QToolButton(parent)
{
    // A speed button: clicking it leaves the focus in the field, so the field's exit check does
    // not run just because the list was opened.
    setFocusPolicy(Qt::NoFocus);
    setAutoRaise(true);
    setIcon(glyph());
    setIconSize(QSize(16, 16));
    setToolTip(QStringLiteral("Pesquisar"));
    connect(this, &QToolButton::clicked, this, [this] { execute(); });
}

bool TBtnPesquisa::execute()
{
    return runAction([this] {
        if (OnClick) {
            OnClick(this);
            return;
        }
        runLookup();
    });
}

void TBtnPesquisa::runLookup()
{
    if (!DataSource)
        return;
    bool proceed = true;
    if (OnBeforePesq)
        OnBeforePesq(this, proceed);
    if (!proceed)
        return;
    if (!Pesquisar(*DataSource, Title + QLatin1Char('|') + EmptyError, false, true))
        return;
    if (OnAfterPesq)
        OnAfterPesq(this);
}

QIcon TBtnPesquisa::glyph()
{
    // A magnifying glass.
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.6));
    p.setBrush(QColor(200, 225, 250));
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(QColor(90, 60, 20), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
    p.end();
    return QIcon(pm);
}
