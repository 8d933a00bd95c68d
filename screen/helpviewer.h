#pragma once
// The help window of the host: the screens' help pages, shipped inside the program as resources,
// in a browser with back and forward, a search within the page, and sections that the focused
// control of a screen leads to. One window serves every screen; asking again brings it to the
// front at the new place.
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTextBrowser;
class QToolButton;

class HelpViewer : public QWidget {
    Q_OBJECT
public:
    // Opens (or fronts) the help window at the page of the help context, scrolled to the section
    // of the first of `fields` that the page names; the page's top when none does.
    static HelpViewer *open(const QString &helpFile, int helpContext, const QStringList &fields);
    // The help window when one is open.
    static HelpViewer *current();

    // The page of a help context; empty for a context that has no page.
    static QUrl pageOf(int helpContext);
    // Every anchor name of the document shown.
    QStringList anchors() const;
    // The section the page was opened at (an anchor name; empty at the top).
    QString section() const { return m_section; }

    QTextBrowser *browser() const { return m_browser; }
    QLineEdit *searchField() const { return m_search; }

    // Finds the text in the page from the cursor on, wrapping round once. False when it does
    // not occur; the window then says so.
    bool findInPage(const QString &text, bool backward = false);

private:
    explicit HelpViewer(QWidget *parent);
    void show(const QString &helpFile, int helpContext, const QStringList &fields);
    void addShortcuts();
    void updateButtons();

    QTextBrowser *m_browser;
    QToolButton *m_back;
    QToolButton *m_forward;
    QToolButton *m_home;
    QLineEdit *m_search;
    QLabel *m_found;
    QString m_section;
};
