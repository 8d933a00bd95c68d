#pragma once
// The in-place editor of a service code: a line edit and, for the destination column, a "…"
// button that opens the lookup. The line edit is the focus proxy; the button never takes the
// focus, so Tab and a click on the button leave the code being typed where it is.
#include <QWidget>

class QLineEdit;
class QToolButton;

class ServiceCodeEditor : public QWidget {
    Q_OBJECT
public:
    explicit ServiceCodeEditor(QWidget *parent = nullptr);

    QLineEdit *lineEdit() const { return m_edit; }
    QToolButton *button() const { return m_button; }

    void setButtonVisible(bool visible);
    void setMaxLength(int length);

    QString text() const;
    // Replaces the text and clears the modified mark: what the row holds now.
    void setText(const QString &text);
    // True once the operator typed, pasted or erased something since the last setText.
    bool isModified() const;

signals:
    void buttonClicked();
    // Only changes made by the operator, not those of setText.
    void textEdited(const QString &text);

private:
    QLineEdit *m_edit;
    QToolButton *m_button;
};
