#pragma once
// The error review of the dish grid: the button "Verificar Erros" (or a double click on a dish)
// opens the floating panel listing the current dish's errors in words; its close button, or the
// focus leaving the list, closes it and gives the focus back to the grid.
#include <QObject>
#include <QPointer>
#include <functional>

class MemTable;
class QAbstractButton;
class QAbstractItemView;
class QListWidget;
class QWidget;

class ErrorReview : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QWidget *panErro = nullptr;           // the floating panel
        QListWidget *lsbErro = nullptr;       // the list inside it
        QAbstractButton *sbtErros = nullptr;  // the side button
        QAbstractButton *ButtonFlat1 = nullptr; // the panel's close button (optional)
        QAbstractItemView *dbgPrato = nullptr;  // the dish grid
    };

    // Binds the handlers to the widgets' clicks and double click and watches the list's focus.
    // The widgets are not owned; the table is the dish table (session.cdsPrato).
    ErrorReview(MemTable &cdsPrato, const Widgets &widgets, QObject *parent = nullptr);
    ~ErrorReview() override;

    // Where the focus goes when the panel closes while the dish grid cannot take it (the service
    // tab in front, the dish tab disabled). Without it, or when it cannot take the focus either,
    // the focus is only taken off the panel.
    void setFallbackFocus(std::function<QWidget *()> fallback);
    // The file line that gave a dish row its NUL flag (ImportSession::controlCharLine), named in
    // that error's text; without it the line is not named.
    void setControlCharLine(std::function<int(int row)> lineOf);

    // The handlers. They do not throw.
    void sbtErrosClick();
    void dbgPratoDblClick();
    void ButtonFlat1Click();
    void lsbErroExit();

    bool panelShowing() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void closePanel();
    bool canFocus(const QWidget *w) const;

    MemTable &m_cdsPrato;
    QPointer<QWidget> m_panErro;
    QPointer<QListWidget> m_lsbErro;
    QPointer<QAbstractButton> m_sbtErros;
    QPointer<QAbstractButton> m_buttonFlat1;
    QPointer<QAbstractItemView> m_dbgPrato;
    std::function<QWidget *()> m_fallback;
    std::function<int(int row)> m_controlCharLine;
    bool m_closing = false;
};
