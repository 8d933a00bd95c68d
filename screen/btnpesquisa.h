#pragma once
// The lookup button: a small flat button beside the field it serves (its Associate). A click runs
// OnClick when the owner gave one; otherwise it runs OnBeforePesq (which may call the lookup off),
// lists the data source under Title (EmptyError when there is nothing to list) and, after a row
// was chosen, OnAfterPesq. Abandoned actions end at the click.
#include <QPointer>
#include <QToolButton>
#include <functional>

class TDataSource;

class TBtnPesquisa : public QToolButton {
    Q_OBJECT
public:
    explicit TBtnPesquisa(QWidget *parent = nullptr);

    QPointer<QWidget> Associate;
    TDataSource *DataSource = nullptr;
    QString Title;
    QString EmptyError;
    std::function<void(QObject *sender)> OnClick;
    std::function<void(QObject *sender, bool &proceed)> OnBeforePesq;
    std::function<void(QObject *sender)> OnAfterPesq;

    // What a click does, callable by tests and keyboard shortcuts. True when it ran to its end.
    bool execute();

    static QIcon glyph();

private:
    void runLookup();
};
