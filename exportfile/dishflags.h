#pragma once
// The error flags of a dish (IDERRO): ten characters '0' or '1', of which positions 1 to 7 mean
// something. The load pass raises them, the grid shows a dish with any raised as wrong, the error
// review and the command line's report say them in words, and the server holds back such a dish.
#include <QString>
#include <QStringList>
#include <QStringView>

class DishFlags {
public:
    // Zero-based positions, in the order their texts are told.
    enum Position : int {
        UnidMedida = 0, // a unit the destination lacks ("Erro_UnidMedida")
        Produto = 1,    // a product the destination lacks ("Erro_Produto")
        Servico = 2,    // a service without a destination service ("Erro_Servico")
        Prato = 3,      // the dish code names another dish at the destination ("Erro_Prato")
        Chave = 4,      // a row without its key or repeating one of the file ("Erro_Chave")
        Caractere = 5,  // a NUL in a stored value ("Erro_Caractere")
        Valor = 6,      // a number with more integer digits than its column holds ("Erro_Valor")
    };
    static constexpr int kPositions = 7; // positions with a meaning
    static constexpr int kWidth = 10;    // the column's width

    // The value of a dish without errors.
    static constexpr QStringView kNone = u"0000000000";

    DishFlags() : m_text(kNone.toString()) {}
    // Takes the column's text as it is; a text of another width counts as no errors when merged.
    explicit DishFlags(QString text) : m_text(std::move(text)) {}

    const QString &text() const { return m_text; }
    bool hasErrors() const { return hasErrors(m_text); }
    bool isRaised(Position p) const { return p < m_text.size() && m_text[p] == u'1'; }
    void raise(Position p);
    // Raises every position raised in `other`: a position once raised on a dish stays raised.
    void merge(QStringView other);

    // A dish has errors when any of its flags is raised, whatever the position: the picture, the
    // error button, the load pass and the report all use this one test.
    static bool hasErrors(QStringView flags) { return flags.contains(u'1'); }

    // The catalogue key of a position's text.
    static QString key(Position p);

    // One line per raised position 1 to 7, in that order, with the catalogue's texts ("Erro_Prato"
    // with %s replaced by the destination's dish name, "Erro_Caractere" with %s replaced by the
    // line of the first NUL, "?" when it is not known).
    static QStringList texts(QStringView flags, const QString &mnPratoLocal, int controlCharLine = 0);

private:
    QString m_text;
};
