#pragma once
// Dialogs answered from a script: every call is recorded, lookups and open-file dialogs take their
// answers from queues (cancel when a queue is empty). For widget tests on the offscreen platform.
#include "dialogs.h"

#include <QList>
#include <QStringList>
#include <functional>

class ScriptedDialogs : public Dialogs {
public:
    struct Lookup {
        QString title;
        QStringList rows;   // each row's cells joined with " | "
    };
    struct Help {
        QString file;
        int context = 0;
        QStringList fields;
    };
    struct OpenDialog {
        QString title;
        QString directory;
        QString filter;
        QString defaultSuffix;
    };

    ScriptedDialogs();       // installs itself
    ~ScriptedDialogs() override; // puts back what was installed before

    void showError(const QString &text) override;
    void showInfo(const QString &text) override;
    int pesquisar(QAbstractItemModel *rows, const QString &title) override;
    QString getOpenFileName(const QString &title, const QString &directory,
                            const QString &filter, const QString &defaultSuffix) override;
    bool question(const QString &text) override;
    QString getSaveFileName(const QString &title, const QString &directory,
                            const QString &filter, const QString &defaultSuffix) override;
    void showHelp(const QString &helpFile, int helpContext, const QStringList &fields) override;

    void clear();

    QStringList errors;
    QStringList infos;
    QList<Lookup> lookups;
    QList<Help> helps;
    QStringList openDialogDirectories;
    QList<OpenDialog> openDialogs;
    // Per message (errors and infos alike, in order): whether the busy indicator was showing.
    QList<bool> busyAtMessage;

    QStringList questions;          // every yes/no question, in order
    QList<OpenDialog> saveDialogs;

    QList<int> lookupAnswers;       // row to choose per lookup; -1 cancels
    QStringList openFileAnswers;    // file name per open dialog; empty cancels
    QList<bool> questionAnswers;    // answer per question; Sim when the queue is empty
    QStringList saveFileAnswers;    // file name per save dialog; empty cancels
    // Runs when a question has been answered, with its answer (a test's clock, for one).
    std::function<void(bool)> afterQuestion;

private:
    Dialogs *m_previous;
};
