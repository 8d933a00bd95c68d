#pragma once
// What the host application lends the screens: its main window and the MDI area the screens are
// child windows of. The package receives them through Initialize; widget tests set them directly.
#include <QPointer>

class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QWidget;

struct ScreenHost {
    QPointer<QMainWindow> mainWindow;
    QPointer<QMdiArea> mdiArea;
};

const ScreenHost &screenHost();
// Also installs the busy indicator over the main window (nullptr main window: none).
void setScreenHost(QMainWindow *mainWindow, QMdiArea *mdiArea);
void clearScreenHost();

// Hides the busy indicator now, whatever depth of ActiveShowAvi it is at, without ending those
// calls: each DeactiveShowAvi still comes. For a message that has to be seen.
void concealBusyIndicator();
// The busy indicator is on the screen.
bool busyIndicatorShowing();

// Puts the screen into the host's MDI area as a child window. Throws AbandonedAction when the
// host gave no MDI area.
QMdiSubWindow *addToHost(QWidget *screen);
