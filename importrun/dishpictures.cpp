#include "dishpictures.h"

#include <QBitmap>

namespace DishPictures {
namespace {

// One character per pixel: the hexadecimal index into palette16(). "3" is olive.
QImage fromRows(const char *const *rows, int width, int height)
{
    QImage img(width, height, QImage::Format_Indexed8);
    img.setColorTable(palette16());
    for (int y = 0; y < height; ++y) {
        uchar *line = img.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const char c = rows[y][x];
            line[x] = uchar(c <= '9' ? c - '0' : c - 'A' + 10);
        }
    }
    return img;
}

const char *const kCerto[20] = {
    "33333333333333333333",
    "33333333333333333333",
    "33333333333333333333",
    "33333333333333330003",
    "33333333333333302220",
    "333333333333330A2203",
    "33333333333330A22033",
    "3333333333330A220333",
    "333033333330A2203333",
    "33020333330A22033333",
    "30A2203330A220333333",
    "330A22030A2203333333",
    "3330A220A22033333333",
    "33330A22220333333333",
    "33333022203333333333",
    "33333022203333333333",
    "33333300033333333333",
    "33333333333333333333",
    "33333333333333333333",
    "33333333333333333333",
};

const char *const kErro[17] = {
    "0000000003333",
    "0FFFFFFF08033",
    "0FFFFFFF08803",
    "0FFFFFFF08880",
    "0FFFFFFF00000",
    "0FFFFFFFFFFF0",
    "0F99FFFFF99F0",
    "0FF99FFF99FF0",
    "0FFF99F99FFF0",
    "0FFFF999FFFF0",
    "0FFFF999FFFF0",
    "0FFF99F99FFF0",
    "0FF99FFF99FF0",
    "0F99FFFFF99F0",
    "0FFFFFFFFFFF0",
    "0FFFFFFFFFFF0",
    "0000000000000",
};

const char *const kCheck[16] = {
    "3333333333333333",
    "3777777777777F33",
    "3700000000000F33",
    "370FFFFFFFFF8F33",
    "370FFFFFFF0F8F33",
    "370FFFFFF00F8F33",
    "370F0FFF000F8F33",
    "370F00F000FF8F33",
    "370F00000FFF8F33",
    "370FF000FFFF8F33",
    "370FFF0FFFFF8F33",
    "370FFFFFFFFF8F33",
    "3708888888888F33",
    "3FFFFFFFFFFFFF33",
    "3333333333333333",
    "3333333333333333",
};

const char *const kUncheck[16] = {
    "3333333333333333",
    "3777777777777F33",
    "3700000000000F33",
    "370FFFFFFFFF8F33",
    "370FFFFFFFFF8F33",
    "370FFFFFFFFF8F33",
    "370FFFFFFFFF8F33",
    "370FFFFFFFFF8F33",
    "370FFFFFFFFF8F33",
    "370FFFFFFFFF8F33",
    "370FFFFFFFFF8F33",
    "370FFFFFFFFF8F33",
    "3708888888888F33",
    "3FFFFFFFFFFFFF33",
    "3333333333333333",
    "3333333333333333",
};

} // namespace

const QList<QRgb> &palette16()
{
    static const QList<QRgb> colours = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(128, 128, 128),
        qRgb(192, 192, 192), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
    };
    return colours;
}

QImage certo() { return fromRows(kCerto, 20, 20); }
QImage erro() { return fromRows(kErro, 13, 17); }
QImage check() { return fromRows(kCheck, 16, 16); }
QImage uncheck() { return fromRows(kUncheck, 16, 16); }

QPixmap withOliveTransparent(const QImage &picture)
{
    QPixmap pm = QPixmap::fromImage(picture);
    // QPixmap's MaskInColor: the pixels of that colour become transparent.
    pm.setMask(pm.createMaskFromColor(kOlive, Qt::MaskInColor));
    return pm;
}

} // namespace DishPictures
