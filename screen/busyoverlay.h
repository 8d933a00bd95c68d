#pragma once
// The busy indicator (ActiveShowAvi/DeactiveShowAvi): a small animated panel centred over the main
// window. The calls that it covers block the interface thread, so it paints itself at once when
// shown; the animation moves whenever events get served (the load pass serves them per line).
#include "framework.h"

#include <QPointer>
#include <QWidget>

class BusyOverlay final : public QWidget, public BusyIndicator {
    Q_OBJECT
public:
    explicit BusyOverlay(QWidget *over);
    ~BusyOverlay() override;

    void show(int kind) override;
    void hide() override;
    // Off the screen at once, the depth kept: a message is about to be shown. The next show
    // from depth zero brings it back.
    void conceal();

    // Nested show/hide pairs: visible while the depth is above zero.
    int depth() const { return m_depth; }
    int kind() const { return m_kind; }
    static QString captionOf(int kind);

protected:
    void paintEvent(QPaintEvent *) override;
    void timerEvent(QTimerEvent *) override;

private:
    // Sized to the caption in the current font, then centred over the main window.
    void place();
    int m_depth = 0;
    int m_kind = 0;
    int m_step = 0;
    int m_timer = 0;
};
