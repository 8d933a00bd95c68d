#include "framework.h"

#include <QLoggingCategory>
#include "messages.h"

#include <cstdio>

AbandonedAction::AbandonedAction(QString text, QString key, bool toBeShown)
    : AbandonedAction(Failure{std::move(text), std::move(key), {}}, toBeShown)
{
}

AbandonedAction::AbandonedAction(Failure failure, bool toBeShown)
    : m_failure(std::move(failure)), m_utf8(m_failure.message.toUtf8()), m_show(toBeShown)
{
}

AbandonedAction AbandonedAction::onField(const QString &name) const
{
    Failure f = m_failure;
    f.field = name;
    return AbandonedAction(std::move(f), m_show);
}

const char *AbandonedAction::what() const noexcept
{
    return m_utf8.constData();
}

MessageSink::~MessageSink() = default;
BusyIndicator::~BusyIndicator() = default;

namespace {

class StderrSink final : public MessageSink {
public:
    void showError(const QString &text) override
    {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    void showInfo(const QString &text) override
    {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
};

StderrSink g_stderrSink;
MessageSink *g_sink = &g_stderrSink;
BusyIndicator *g_busy = nullptr;

} // namespace

MessageSink *messageSink()
{
    return g_sink;
}

MessageSink *setMessageSink(MessageSink *sink)
{
    MessageSink *previous = g_sink;
    g_sink = sink ? sink : &g_stderrSink;
    return previous;
}

BusyIndicator *setBusyIndicator(BusyIndicator *indicator)
{
    BusyIndicator *previous = g_busy;
    g_busy = indicator;
    return previous;
}

void ActiveShowAvi(int kind)
{
    if (g_busy)
        g_busy->show(kind);
}

void DeactiveShowAvi()
{
    if (g_busy)
        g_busy->hide();
}

void MensErro(const QString &text, bool showError, const QString &key)
{
    throw AbandonedAction(text, key, showError);
}

void MensErroKey(const QString &key)
{
    MensErro(TMessages::instance().Msg(key), true, key);
}

void MensErro(const Failure &failure)
{
    throw AbandonedAction(failure);
}

Q_LOGGING_CATEGORY(lcDetail, "imp40500.detail", QtWarningMsg)

namespace {
std::function<void(const QString &)> g_detailSink;
}

void setFailureDetailSink(std::function<void(const QString &)> sink)
{
    g_detailSink = std::move(sink);
}

void reportFailureDetail(const Failure &failure)
{
    if (failure.detail.isEmpty())
        return;
    if (g_detailSink)
        g_detailSink(failure.detail);
    else
        qCInfo(lcDetail).noquote() << failure.message << "--" << failure.detail;
}

QByteArray CheckResultServ(const Result<QByteArray> &result, bool showError, int /*helpContext*/)
{
    if (result.ok())
        return result.value();
    reportFailureDetail(result.failure());
    throw AbandonedAction(result.failure(), showError);
}

bool EmptyString(QStringView s)
{
    for (QChar c : s) {
        if (c.unicode() > 0x20)
            return false;
    }
    return true;
}

QString AllTrim(QStringView s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b).toString();
}

QString Ajusta(QStringView s, int n)
{
    QString t = AllTrim(s);
    if (t.isEmpty() || t.size() >= n)
        return t;
    for (QChar c : t) {
        if (c < u'0' || c > u'9')
            return t;
    }
    return QString(n - t.size(), u'0') + t;
}

QString Right(QStringView s, int n)
{
    if (n <= 0)
        return {};
    if (s.size() <= n)
        return s.toString();
    return s.right(n).toString();
}
