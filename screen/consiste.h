#pragma once
// Widget helpers of the screen framework: enabling a container's controls, finding a grid's column
// by field, and the modal lookup.
#include <QString>

class QAbstractItemView;
class QWidget;
class TDataSource;

// The tag every control carries for its owner's use (a dynamic property "tag", 0 when unset).
// A control tagged kTagFixo keeps its enabled state through SetChildEnabled: the branch controls
// that a per-branch module locks, and controls that only show a value.
inline constexpr int kTagFixo = 99;
int tagOf(const QWidget *w);
void setTag(QWidget *w, int tag);

// Enables or disables the controls directly inside the container, except those tagged kTagFixo.
void SetChildEnabled(QWidget *container, bool enabled);

// Index of the grid's column bound to the field (names compared without regard to case); -1 when
// no column is. Asks the model's FieldNameRole, so it works through proxies.
int IndiceCol(const QAbstractItemView *grid, const QString &fieldName);

// Modal list of the data source's rows (its display fields). `caption` is "title|empty-list text".
// True when a row was chosen; it is then the current row of dataSource.table(). An empty list shows
// the empty-list text (when warnWhenEmpty) and returns false. `multiSelect` must be false: the
// business system's lookups pick one row.
bool Pesquisar(TDataSource &dataSource, const QString &caption, bool multiSelect, bool warnWhenEmpty);
