#include "exitcodes.h"

#include <QStringList>

namespace ExitCode {

int forFailure(const QString &key, Phase phase)
{
    if (key == u"Imp_Interrompida" || key == u"Carga_Cancelada" || key == u"Exp_Cancelada")
        return Interrupted;
    if (key == u"BD_ConfirmacaoIncerta" || key == u"Srv_ResultadoIncerto")
        return OutcomeUnknown;
    if (key == u"Erros_Gravar_Falha" || key == u"Exp_ArquivoNaoGravado")
        return WriteFailed;
    if (key.isEmpty())
        return Failed;
    // The database could not be reached at all: nothing was tried, nothing refused.
    static const QStringList unreachable{QStringLiteral("BD_NaoAbre"),      QStringLiteral("BD_AcessoRecusado"),
                                         QStringLiteral("BD_SemSenha"),     QStringLiteral("BD_SemServidor"),
                                         QStringLiteral("BD_Inexistente"),  QStringLiteral("BD_TempoEsgotado"),
                                         QStringLiteral("BD_SemTabelas"),   QStringLiteral("Hist_BancoInexistente"),
                                         QStringLiteral("Srv_TokenInvalido")};
    if (unreachable.contains(key))
        return Failed;
    // The database refused a statement: while writing, the import was rolled back.
    if (key.startsWith(u"BD_"))
        return phase == Phase::Write ? WriteFailed : Failed;
    // Every other catalogue message is a check that said no: the file, the branch, a pairing, or
    // the server's own checks of what it was sent.
    return Refused;
}

QString table()
{
    return QStringLiteral("Códigos de saída:\n"
                          "  0    concluído (com --strict: e nenhum prato com erros)\n"
                          "  1    não foi possível: banco de dados ou servidor fora de alcance, falha inesperada\n"
                          "  2    uso: opção, argumento ou variável de ambiente que não pode ser usada\n"
                          "  3    recusado por uma verificação: o arquivo, a filial, um par de serviços\n"
                          "  4    com --strict: algum prato tem erros (o import não os grava)\n"
                          "  5    falha ao gravar: a importação foi desfeita, ou o relatório de erros não foi gravado\n"
                          "  6    resultado desconhecido: a resposta a uma gravação se perdeu; confira o destino\n"
                          "  130  interrompido por SIGINT ou SIGTERM: nada foi gravado\n");
}

} // namespace ExitCode
