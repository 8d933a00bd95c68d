#pragma once
// The framework's stock pictures, drawn in code: 16 colours on an olive background (RGB 128, 128,
// 0), which the drawing code treats as transparent, as the business system's bitmaps do.
#include <QColor>
#include <QPixmap>

class QLabel;
class QString;
class QWidget;

namespace Glyphs {
inline const QColor kOlive(128, 128, 0);

QPixmap importar();   // an arrow going down into a tray (the import picture)
QPixmap exportar();   // an arrow coming up out of a tray
QPixmap cancelar();   // an open door
QPixmap ajuda();      // a question mark
QPixmap erros();      // a magnifier over a list
QPixmap fechar();     // a small cross (the error panel's close button)

// The picture with its olive pixels made transparent, for buttons.
QPixmap transparent(const QPixmap &withOlive);

// A hidden picture component of a screen (the base screen's stock images, the dish grid's sources).
QLabel *hiddenPicture(QWidget *parent, const QString &objectName, const QPixmap &picture);
} // namespace Glyphs
