#include "scripteddialogs.h"
#include "screenhost.h"

#include <QAbstractItemModel>

ScriptedDialogs::ScriptedDialogs() : m_previous(setDialogs(this))
{
}

ScriptedDialogs::~ScriptedDialogs()
{
    setDialogs(m_previous == this ? nullptr : m_previous);
}

void ScriptedDialogs::showError(const QString &text)
{
    errors << text;
    busyAtMessage << busyIndicatorShowing();
}

void ScriptedDialogs::showInfo(const QString &text)
{
    infos << text;
    busyAtMessage << busyIndicatorShowing();
}

int ScriptedDialogs::pesquisar(QAbstractItemModel *rows, const QString &title)
{
    Lookup l;
    l.title = title;
    for (int r = 0; r < rows->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < rows->columnCount(); ++c)
            cells << rows->index(r, c).data().toString();
        l.rows << cells.join(QStringLiteral(" | "));
    }
    lookups << l;
    const int answer = lookupAnswers.isEmpty() ? -1 : lookupAnswers.takeFirst();
    return answer < rows->rowCount() ? answer : -1;
}

QString ScriptedDialogs::getOpenFileName(const QString &title, const QString &directory,
                                         const QString &filter, const QString &defaultSuffix)
{
    openDialogDirectories << directory;
    openDialogs << OpenDialog{title, directory, filter, defaultSuffix};
    return openFileAnswers.isEmpty() ? QString() : openFileAnswers.takeFirst();
}

bool ScriptedDialogs::question(const QString &text)
{
    questions << text;
    const bool yes = questionAnswers.isEmpty() || questionAnswers.takeFirst();
    if (afterQuestion)
        afterQuestion(yes);
    return yes;
}

QString ScriptedDialogs::getSaveFileName(const QString &title, const QString &directory,
                                         const QString &filter, const QString &defaultSuffix)
{
    saveDialogs << OpenDialog{title, directory, filter, defaultSuffix};
    return saveFileAnswers.isEmpty() ? QString() : saveFileAnswers.takeFirst();
}

void ScriptedDialogs::showHelp(const QString &helpFile, int helpContext, const QStringList &fields)
{
    helps << Help{helpFile, helpContext, fields};
}

void ScriptedDialogs::clear()
{
    errors.clear();
    infos.clear();
    lookups.clear();
    helps.clear();
    openDialogDirectories.clear();
    openDialogs.clear();
    questions.clear();
    saveDialogs.clear();
    busyAtMessage.clear();
}
