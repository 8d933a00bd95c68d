#include "messages.h"

#include <QFile>

static void initPlatformResources()
{
    Q_INIT_RESOURCE(platform);
}

const TMessages &TMessages::instance()
{
    static const TMessages catalogue = [] {
        initPlatformResources();
        QFile f(QStringLiteral(":/imp40500/messages.txt"));
        if (!f.open(QIODevice::ReadOnly))
            return TMessages();
        return fromText(QString::fromUtf8(f.readAll()));
    }();
    return catalogue;
}

TMessages TMessages::fromText(const QString &text)
{
    TMessages m;
    const auto lines = QStringView(text).split(u'\n');
    for (QStringView line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype bar = line.indexOf(u'|');
        if (bar <= 0)
            continue;
        m.m_entries.insert(line.left(bar).toString(), line.mid(bar + 1).toString());
    }
    return m;
}

QString TMessages::Msg(const QString &key) const
{
    const auto it = m_entries.constFind(key);
    if (it == m_entries.constEnd())
        return QLatin1Char('[') + key + QLatin1Char(']');
    return *it;
}

bool TMessages::contains(const QString &key) const
{
    return m_entries.contains(key);
}

QStringList TMessages::keys() const
{
    QStringList k = m_entries.keys();
    k.sort();
    return k;
}
