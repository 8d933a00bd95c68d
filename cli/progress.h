#pragma once
// The progress line of `imp40500 check` and `import` on a terminal's stderr: what is being done,
// the dishes read so far, a bar that fits the terminal's width and the share done; then, during
// an import, the table being written, and the wait for another writer. It reaches 100 % and is
// cleared when the work ends. Off a terminal (a log, a pipe) nothing is drawn.
#include "importsession.h"

#include <QElapsedTimer>
#include <QString>

class MemTable;

class CliProgress final : public LoadObserver {
public:
    explicit CliProgress(bool draw) : m_draw(draw) {}
    ~CliProgress() override;
    // The table whose rows are counted as the dishes read.
    void countDishesOf(const MemTable *dishes) { m_dishes = dishes; }

    // The load pass sets the range once, as its second reading begins; that reading is the line's.
    void setProgressRange(int maximum) override
    {
        m_max = maximum;
        m_loading = maximum > 0;
    }
    void setProgress(int position) override { m_pos = position; }
    void setStatusText(const QString &text) override;
    void serveEvents() override;
    // What the operator should know goes to stderr with the other messages (the process's sink).
    void showNotice(const QString &text) override;

    // The import writes `table`, the `done`-th of `count`.
    void writing(const QString &table, int done, int count);
    // Another writer holds the database; waited `seconds` so far. Drawn over the progress line;
    // with `plainLine` (stderr no terminal), written once as a line of its own.
    void waiting(int seconds, bool plainLine = false);
    // Clears the line, if one is drawn.
    void clear();
    // "label  count  [#####.....] 45 %", fitted to the terminal (the export draws its own through it).
    void show(const QString &label, int done, int total, const QString &count) { draw(label, done, total, count); }

    // The terminal's width in columns (80 when it cannot be told).
    static int terminalWidth();

private:
    void draw(const QString &label, int done, int total, const QString &count);
    bool m_draw;
    bool m_drawn = false;
    bool m_loading = false;
    const MemTable *m_dishes = nullptr;
    int m_max = 0;
    int m_pos = 0;
};
