#pragma once
// The small pictures of the dish review, drawn pixel by pixel in 16 colours on an olive background
// (RGB 128, 128, 0). Olive is the transparent colour: whoever draws a picture lets the background
// show through every olive pixel.
#include <QColor>
#include <QImage>
#include <QPixmap>

namespace DishPictures {

inline const QColor kOlive(128, 128, 0);

// The 16 colours every picture is indexed into (black, maroon, green, olive, navy, purple, teal,
// gray, silver, red, lime, yellow, blue, fuchsia, aqua, white).
const QList<QRgb> &palette16();

QImage certo();    // 20 x 20: a green check mark, for a dish without errors (imgCerto)
QImage erro();     // 13 x 17: a white page with a red cross, for a dish with errors (imgErro)
QImage check();    // 16 x 16: a ticked check box (imgCheck)
QImage uncheck();  // 16 x 16: an empty check box (imgUncheck)

// The picture as a pixmap whose olive pixels are masked out.
QPixmap withOliveTransparent(const QImage &picture);

} // namespace DishPictures
