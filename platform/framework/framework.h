#pragma once
// The screen framework's services that need no widgets: string helpers, the abandoned action
// behind MensErro, the result check of server calls, and the sinks through which the handler
// boundary tells a person something (the screen installs message boxes; the command line prints
// to stderr).
#include "platform_export.h"
#include "result.h"

#include <QString>
#include <QByteArray>
#include <exception>
#include <functional>

// Thrown by MensErro: the current action is abandoned. It carries what the person is to be told
// (nothing is shown where it is thrown): the handler boundary (runAction, handlerboundary.h) shows
// it when it catches it, the command line prints it at its top level. Whoever catches it on the
// way must pass it on, or show it when toBeShown(). Never crosses Qt's event loop or an extern "C"
// function.
class IMP_PLATFORM_EXPORT AbandonedAction : public std::exception {
public:
    AbandonedAction(QString text, QString key = {}, bool toBeShown = true);
    // The failure that ends the action, with its kind and the field it is about.
    explicit AbandonedAction(Failure failure, bool toBeShown = true);
    const char *what() const noexcept override;
    const Failure &failure() const { return m_failure; }
    const QString &text() const { return m_failure.message; }
    const QString &key() const { return m_failure.key; }
    // The field the action was abandoned over (see Failure::field); empty: none.
    const QString &field() const { return m_failure.field; }
    // The same abandonment, about `name`: the check that threw it knows no screen, its caller does.
    AbandonedAction onField(const QString &name) const;
    // False for an action given up without a message of its own (a cancelled load).
    bool toBeShown() const { return m_show; }

private:
    Failure m_failure;
    QByteArray m_utf8;
    bool m_show = true;
};

// Where the handler boundary's messages go. The default writes to stderr.
class IMP_PLATFORM_EXPORT MessageSink {
public:
    virtual ~MessageSink();
    virtual void showError(const QString &text) = 0;
    virtual void showInfo(const QString &text) = 0;
};
IMP_PLATFORM_EXPORT MessageSink *messageSink();
// Installs a sink (not owned); nullptr puts back the default. Returns the previous one.
IMP_PLATFORM_EXPORT MessageSink *setMessageSink(MessageSink *sink);

// Busy indicator (ActiveShowAvi/DeactiveShowAvi). The core calls these; the screen installs an
// implementation that shows an animation over the main window. Default: nothing.
class IMP_PLATFORM_EXPORT BusyIndicator {
public:
    virtual ~BusyIndicator();
    virtual void show(int kind) = 0;
    virtual void hide() = 0;
};
IMP_PLATFORM_EXPORT BusyIndicator *setBusyIndicator(BusyIndicator *indicator);
IMP_PLATFORM_EXPORT void ActiveShowAvi(int kind);
IMP_PLATFORM_EXPORT void DeactiveShowAvi();

// Abandons the action with the text as its error, to be shown by the handler boundary. `showError`
// false: abandons without a message.
[[noreturn]] IMP_PLATFORM_EXPORT void MensErro(const QString &text, bool showError = true,
                                               const QString &key = {});
// Looks the key up in the catalogue and calls MensErro with its text.
[[noreturn]] IMP_PLATFORM_EXPORT void MensErroKey(const QString &key);
// Abandons the action with the failure, its kind and field kept.
[[noreturn]] IMP_PLATFORM_EXPORT void MensErro(const Failure &failure);

// Where the detail of a failure goes (the database driver's or the system's own words, kept apart
// from the operator's message). Default: the log category "imp40500.detail" at info level, which is
// off unless QT_LOGGING_RULES turns it on. An empty function puts the default back.
IMP_PLATFORM_EXPORT void setFailureDetailSink(std::function<void(const QString &)> sink);
IMP_PLATFORM_EXPORT void reportFailureDetail(const Failure &failure);

// The payload of a server result, or the action abandoned with the failure's message (its detail
// reported first).
IMP_PLATFORM_EXPORT QByteArray CheckResultServ(const Result<QByteArray> &result, bool showError = true,
                                               int helpContext = 0);

// True when the text is empty or every character is at most 0x20.
IMP_PLATFORM_EXPORT bool EmptyString(QStringView s);
// The text without outer characters up to 0x20.
IMP_PLATFORM_EXPORT QString AllTrim(QStringView s);
// Blanks trimmed; when what is left is all digits and shorter than n, left-padded with "0".
// Anything else stays as trimmed.
IMP_PLATFORM_EXPORT QString Ajusta(QStringView s, int n);
// The last n characters (the whole text when shorter).
IMP_PLATFORM_EXPORT QString Right(QStringView s, int n);
