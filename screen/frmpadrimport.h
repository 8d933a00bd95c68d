#pragma once
// The base screen of the business system's import and export screens (unit Frmpadrimport). It
// owns the frame every such screen shares: the data group on the left, the side panel with the
// buttons and the help, the progress panel at the bottom with the screen's code, the message
// catalogue and the stock pictures. A screen derives from it, adds its own components and binds
// its handlers; it runs as a child window of the host's MDI area.
#include "messages.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QFrame;
class QGroupBox;
class QLabel;
class QMdiSubWindow;
class QProgressBar;
class QToolButton;

// What an accepted or refused close does with the screen.
enum class CloseAction { None, Hide, Free, Minimize };

class TfrmPadrImportExport : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPadrImportExport(QWidget *parent = nullptr);
    ~TfrmPadrImportExport() override;

    // Components of the frame.
    QLabel *lblCodTela;
    QGroupBox *grbDadosRel;
    QFrame *panMenu;
    QFrame *panBotoes;
    QToolButton *sbtImportExport;
    QToolButton *sbtCancel;
    QFrame *panHelp;
    QFrame *panProgresso;
    QProgressBar *pgbProgresso;
    QLabel *Image1;   // stock picture: import (the import button's picture)
    QLabel *Image2;   // stock picture: export
    const TMessages &msgPadrao;

    QString HelpFile;
    int HelpContext = 0;

    // Form geometry as the screen fixes it: the client area's position in the MDI area and size.
    int Left = 0;
    int Top = 0;
    QSize ClientSize{552, 337};

    // A copy of the import picture, for the import button's glyph.
    QPixmap importPicture() const;

    // The status text of the progress panel. Painted at once: it is set just before calls that
    // block the interface thread, and is to be read while they run.
    void setStatusText(const QString &text);
    QString statusText() const;
    // Repaints the screen and lets pending window messages through.
    void ProcessaMensagens();

    // The MDI child window holding the screen; nullptr until showInHost().
    QMdiSubWindow *subWindow() const;
    // Puts the screen into the host's MDI area at Left/Top with ClientSize. Throws AbandonedAction
    // when the host lent no MDI area.
    void showInHost();
    // Window state back to normal, shown, in front and active.
    void restoreAndShow();
    // Closes the child window (the close runs FormClose and may be refused). True when closed.
    bool closeScreen();

    QSize sizeHint() const override;
    // The smallest size at which every control of the screen shows whole: the size the screen
    // is laid out for (ClientSize).
    QSize minimumSizeHint() const override;

    // The screen's help, at the section about the control that has the focus (F1, the help
    // button, the host's "Ajuda da tela").
    Q_INVOKABLE void showScreenHelp();
    // The objects the help is asked about: the focused control of the screen and its containers
    // up to the screen, nearest first; empty when the focus is elsewhere.
    QStringList helpFields() const;

    // The handlers the base screen binds. A screen replaces them and calls these as it needs.
    // Base FormCreate: progress and status cleared, the import button off until there is something
    // to import. Base FormClose: the close is accepted and frees the screen. Base FormKeyDown: Esc
    // closes the screen, Enter moves the focus to the next control, F1 shows the help of
    // HelpContext; a handled key is set to 0.
    virtual void FormCreate(QObject *sender);
    virtual void FormClose(QObject *sender, CloseAction &action);
    virtual void FormKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift);
    // Each time the screen becomes the active child window. The base does nothing.
    virtual void FormActivate(QObject *sender);

protected:
    // The control that Enter moves to from `from`: the next one of this screen in tab order that
    // can take the focus, round within the screen; nullptr when there is none.
    QWidget *nextControl(QWidget *from) const;

    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

    QToolButton *m_sbtAjuda;
    QLabel *m_lblStatus;

private:
    void arrange();
    void onSubWindowActivated(QMdiSubWindow *window);

    QPointer<QMdiSubWindow> m_subWindow;
    QPointer<QMdiSubWindow> m_lastActive;
};
