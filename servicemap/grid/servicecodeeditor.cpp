#include "servicecodeeditor.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

ServiceCodeEditor::ServiceCodeEditor(QWidget *parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_button(new QToolButton(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_edit->setFrame(false);
    layout->addWidget(m_edit, 1);

    m_button->setText(QStringLiteral("\u2026"));
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setCursor(Qt::ArrowCursor);
    m_button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_button->setFixedWidth(18);
    layout->addWidget(m_button);

    setFocusProxy(m_edit);
    setAutoFillBackground(true);

    connect(m_button, &QToolButton::clicked, this, &ServiceCodeEditor::buttonClicked);
    connect(m_edit, &QLineEdit::textEdited, this, &ServiceCodeEditor::textEdited);
}

void ServiceCodeEditor::setButtonVisible(bool visible)
{
    m_button->setVisible(visible);
}

void ServiceCodeEditor::setMaxLength(int length)
{
    m_edit->setMaxLength(length > 0 ? length : 32767);
}

QString ServiceCodeEditor::text() const
{
    return m_edit->text();
}

void ServiceCodeEditor::setText(const QString &text)
{
    m_edit->setText(text); // also clears the modified mark
    m_edit->selectAll();
}

bool ServiceCodeEditor::isModified() const
{
    return m_edit->isModified();
}
