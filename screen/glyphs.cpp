#include "glyphs.h"
#include "dishpictures.h"

#include <QBitmap>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPolygon>

namespace Glyphs {
namespace {

template <typename Draw>
QPixmap paint(int w, int h, Draw draw)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kOlive);
    {
        QPainter p(&img);
        draw(p);
    }
    // No dithering: every pixel keeps the nearest of the 16 colours, olive stays olive.
    return QPixmap::fromImage(img.convertToFormat(QImage::Format_Indexed8, DishPictures::palette16(),
                                                  Qt::ThresholdDither | Qt::AvoidDither));
}

} // namespace

QPixmap transparent(const QPixmap &withOlive)
{
    QPixmap pm = withOlive;
    pm.setMask(pm.createMaskFromColor(kOlive, Qt::MaskInColor));
    return pm;
}

QPixmap importar()
{
    return paint(16, 16, [](QPainter &p) {
        p.setPen(Qt::black);
        p.setBrush(QColor(192, 192, 192));
        p.drawRect(1, 10, 13, 4);                 // the tray
        p.setBrush(QColor(0, 128, 0));
        p.drawPolygon(QPolygon({QPoint(6, 1), QPoint(9, 1), QPoint(9, 6), QPoint(12, 6),
                                QPoint(7, 11), QPoint(3, 6), QPoint(6, 6)}));
    });
}

QPixmap exportar()
{
    return paint(16, 16, [](QPainter &p) {
        p.setPen(Qt::black);
        p.setBrush(QColor(192, 192, 192));
        p.drawRect(1, 10, 13, 4);
        p.setBrush(QColor(0, 0, 128));
        p.drawPolygon(QPolygon({QPoint(7, 0), QPoint(12, 5), QPoint(9, 5), QPoint(9, 10),
                                QPoint(6, 10), QPoint(6, 5), QPoint(3, 5)}));
    });
}

QPixmap cancelar()
{
    return paint(16, 16, [](QPainter &p) {
        p.setPen(Qt::black);
        p.setBrush(QColor(128, 128, 128));
        p.drawRect(3, 1, 10, 14);                 // door frame
        p.setBrush(QColor(128, 0, 0));
        p.drawPolygon(QPolygon({QPoint(3, 1), QPoint(9, 3), QPoint(9, 15), QPoint(3, 14)}));
        p.setPen(QColor(255, 255, 0));
        p.drawPoint(8, 9);                        // knob
    });
}

QPixmap ajuda()
{
    return paint(16, 16, [](QPainter &p) {
        p.setPen(Qt::black);
        p.setBrush(QColor(255, 255, 0));
        p.drawEllipse(1, 1, 13, 13);
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(11);
        p.setFont(f);
        p.setPen(QColor(0, 0, 128));
        p.drawText(QRect(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
    });
}

QPixmap erros()
{
    return paint(16, 16, [](QPainter &p) {
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawRect(1, 1, 10, 13);
        p.setPen(QColor(128, 128, 128));
        for (int y = 4; y <= 11; y += 3)
            p.drawLine(3, y, 9, y);
        p.setPen(QColor(255, 0, 0));
        p.drawLine(9, 9, 14, 14);
        p.drawLine(14, 9, 9, 14);
    });
}

QPixmap fechar()
{
    return paint(9, 9, [](QPainter &p) {
        p.setPen(Qt::black);
        p.drawLine(1, 1, 7, 7);
        p.drawLine(2, 1, 7, 6);
        p.drawLine(7, 1, 1, 7);
        p.drawLine(6, 1, 1, 6);
    });
}

QLabel *hiddenPicture(QWidget *parent, const QString &objectName, const QPixmap &picture)
{
    auto *l = new QLabel(parent);
    l->setObjectName(objectName);
    l->setPixmap(picture);
    l->resize(picture.size());
    l->hide();
    return l;
}

} // namespace Glyphs
