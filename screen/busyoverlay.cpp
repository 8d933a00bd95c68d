#include "busyoverlay.h"
#include "messages.h"

#include <QPainter>
#include <QTimerEvent>
#include <QtMath>

BusyOverlay::BusyOverlay(QWidget *over) : QWidget(over)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QWidget::hide();
}

namespace {
// The spinner's box on the left, the caption's margins, the panel's height.
constexpr int kSpinnerWidth = 60;
constexpr int kTextMargin = 14;
constexpr int kMinHeight = 64;
} // namespace

BusyOverlay::~BusyOverlay()
{
    // A main window that goes away takes its indicator along; the framework must not call a
    // dead one. Another indicator installed since stays.
    BusyIndicator *current = setBusyIndicator(nullptr);
    if (current != this)
        setBusyIndicator(current);
}

QString BusyOverlay::captionOf(int kind)
{
    // Kind 1 is a write to the server, kind 6 any other call; the catalogue words them.
    switch (kind) {
    case 1:
        return Msg(QStringLiteral("Avi_Gravando"));
    case 6:
        return Msg(QStringLiteral("Avi_Comunicando"));
    default:
        return Msg(QStringLiteral("Avi_Aguarde"));
    }
}

void BusyOverlay::show(int kind)
{
    m_kind = kind;
    if (m_depth++ > 0) {
        // Another kind may carry a longer caption.
        place();
        update();
        return;
    }
    place();
    raise();
    QWidget::show();
    if (!m_timer)
        m_timer = startTimer(80);
    // The call that follows blocks the thread: paint now or the person never sees it.
    repaint();
}

void BusyOverlay::hide()
{
    if (m_depth == 0)
        return;
    if (--m_depth > 0)
        return;
    if (m_timer) {
        killTimer(m_timer);
        m_timer = 0;
    }
    QWidget::hide();
}

void BusyOverlay::conceal()
{
    if (m_timer) {
        killTimer(m_timer);
        m_timer = 0;
    }
    QWidget::hide();
}

void BusyOverlay::place()
{
    const QFontMetrics fm(font());
    const int textWidth = fm.horizontalAdvance(captionOf(m_kind));
    resize(kSpinnerWidth + textWidth + kTextMargin, qMax(kMinHeight, fm.height() + 2 * kTextMargin));
    if (QWidget *p = parentWidget())
        move((p->width() - width()) / 2, (p->height() - height()) / 2);
}

void BusyOverlay::timerEvent(QTimerEvent *e)
{
    if (e->timerId() == m_timer) {
        m_step = (m_step + 1) % 12;
        update();
    }
}

void BusyOverlay::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(palette().color(QPalette::Mid));
    p.setBrush(palette().color(QPalette::Window));
    p.drawRoundedRect(rect().adjusted(0, 0, -1, -1), 6, 6);

    // Twelve spokes, the leading one darkest.
    const QPointF centre(32, height() / 2.0);
    for (int i = 0; i < 12; ++i) {
        const int age = (m_step - i + 12) % 12;
        QColor c = palette().color(QPalette::Highlight);
        c.setAlpha(255 - age * 18);
        p.setPen(QPen(c, 3, Qt::SolidLine, Qt::RoundCap));
        const qreal a = qDegreesToRadians(i * 30.0);
        p.drawLine(centre + QPointF(qCos(a) * 8, qSin(a) * 8), centre + QPointF(qCos(a) * 16, qSin(a) * 16));
    }
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect().adjusted(kSpinnerWidth, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, captionOf(m_kind));
}
