#include "progress.h"

#include "framework.h"

#include "memtable.h"

#include <QLocale>

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

CliProgress::~CliProgress()
{
    clear();
}

int CliProgress::terminalWidth()
{
    winsize ws{};
    if (ioctl(fileno(stderr), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : 80;
}

void CliProgress::setStatusText(const QString &text)
{
    // The load pass names its work as the screen's status line does; the line here says what the
    // command does, whatever the pass calls it.
    // An empty text ends the pass: the line shows it whole, then goes.
    if (!text.isEmpty())
        return;
    if (m_loading) {
        m_pos = m_max;
        serveEvents();
        m_loading = false;
    }
    clear();
}

void CliProgress::serveEvents()
{
    if (!m_loading || m_max <= 0)
        return;
    const int dishes = m_dishes && m_dishes->isActive() ? m_dishes->rowCount() : 0;
    draw(QStringLiteral("Verificando o arquivo"), m_pos, m_max, QStringLiteral("%1 pratos").arg(QLocale(QLocale::Portuguese, QLocale::Brazil).toString(dishes)));
}

void CliProgress::writing(const QString &table, int done, int count)
{
    draw(QStringLiteral("Gravando %1 (%2 de %3)").arg(table).arg(done + 1).arg(count), done, count, QString());
}

void CliProgress::waiting(int seconds, bool plainLine)
{
    const QString text = QStringLiteral("aguardando outra gravação terminar (%1 s)…").arg(seconds);
    if (plainLine) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return;
    }
    if (!m_draw)
        return;
    std::fprintf(stderr, "\r\033[K%s", qPrintable(text.left(terminalWidth() - 1)));
    std::fflush(stderr);
    m_drawn = true;
}

void CliProgress::clear()
{
    if (!m_drawn)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_drawn = false;
}

// "label  count  [#####.....] 45 %", never wider than the terminal less one column: a line that
// reaches the last column wraps on some terminals, and every redraw would leave one behind.
void CliProgress::draw(const QString &label, int done, int total, const QString &count)
{
    if (!m_draw || total <= 0)
        return;
    const int width = terminalWidth() - 1;
    const int percent = int(qint64(qBound(0, done, total)) * 100 / total);
    QString head = label;
    if (!count.isEmpty())
        head += QStringLiteral("  ") + count;
    const QString tail = QStringLiteral(" %1 %").arg(percent, 3);
    QString line;
    const int barWidth = qMin(40, width - int(head.size() + tail.size()) - 4);
    if (barWidth >= 10) {
        const int filled = int(qint64(qBound(0, done, total)) * barWidth / total);
        line = head + QStringLiteral("  [") + QString(filled, QLatin1Char('#')) + QString(barWidth - filled, QLatin1Char('.'))
            + QLatin1Char(']') + tail;
    } else {
        line = (head + tail).left(width);
    }
    std::fprintf(stderr, "\r\033[K%s", qPrintable(line));
    std::fflush(stderr);
    m_drawn = true;
}

void CliProgress::showNotice(const QString &text)
{
    clear();
    messageSink()->showInfo(text);
}
