#include "result.h"

#include <QStringList>

Failure::Kind Failure::kindOfKey(const QString &key)
{
    if (key.isEmpty())
        return Kind::Unexpected;
    if (key == u"Imp_Interrompida" || key == u"Carga_Cancelada" || key == u"Exp_Cancelada")
        return Kind::Interrupted;
    if (key == u"BD_ConfirmacaoIncerta" || key == u"Srv_ResultadoIncerto" || key == u"Desf_ConfirmacaoIncerta"
        || key == u"Desf_ResultadoIncerto")
        return Kind::OutcomeUnknown;
    if (key == u"Erros_Gravar_Falha" || key == u"Exp_ArquivoNaoGravado")
        return Kind::NotWritten;
    if (key == u"Erro_Inesperado")
        return Kind::Unexpected;
    // The database could not be reached at all: nothing was tried, nothing refused.
    static const QStringList unreachable{QStringLiteral("BD_NaoAbre"),      QStringLiteral("BD_AcessoRecusado"),
                                         QStringLiteral("BD_SemSenha"),     QStringLiteral("BD_SemServidor"),
                                         QStringLiteral("BD_Inexistente"),  QStringLiteral("BD_TempoEsgotado"),
                                         QStringLiteral("BD_SemTabelas"),   QStringLiteral("Hist_BancoInexistente"),
                                         QStringLiteral("Srv_TokenInvalido")};
    if (unreachable.contains(key))
        return Kind::Unreachable;
    if (key.startsWith(u"BD_"))
        return Kind::DatabaseRefused;
    return Kind::Refused;
}

const char *Failure::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Refused: return "refused";
    case Kind::Unreachable: return "unreachable";
    case Kind::DatabaseRefused: return "database";
    case Kind::NotWritten: return "not_written";
    case Kind::OutcomeUnknown: return "outcome_unknown";
    case Kind::Interrupted: return "interrupted";
    case Kind::Unexpected: return "unexpected";
    }
    return "unexpected";
}

std::optional<Failure::Kind> Failure::kindNamed(QStringView name)
{
    for (Kind k : {Kind::Refused, Kind::Unreachable, Kind::DatabaseRefused, Kind::NotWritten, Kind::OutcomeUnknown,
                   Kind::Interrupted, Kind::Unexpected})
        if (name == QLatin1StringView(kindName(k)))
            return k;
    return std::nullopt;
}
