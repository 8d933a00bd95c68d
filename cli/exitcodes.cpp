#include "exitcodes.h"


namespace ExitCode {

int forFailure(const Failure &failure, Phase phase)
{
    switch (failure.kind()) {
    case Failure::Kind::Interrupted: return Interrupted;
    case Failure::Kind::OutcomeUnknown: return OutcomeUnknown;
    case Failure::Kind::NotWritten: return WriteFailed;
    case Failure::Kind::Unreachable:
    case Failure::Kind::Unexpected: return Failed;
    // While writing, a refused statement means the import was rolled back.
    case Failure::Kind::DatabaseRefused: return phase == Phase::Write ? WriteFailed : Failed;
    case Failure::Kind::Refused: return Refused;
    }
    return Failed;
}

QString table()
{
    return QStringLiteral("Códigos de saída:\n"
                          "  0    concluído (com --strict: e nenhum prato com erros)\n"
                          "  1    não foi possível: banco de dados ou servidor fora de alcance, falha inesperada\n"
                          "  2    uso: opção, argumento ou variável de ambiente que não pode ser usada\n"
                          "  3    recusado por uma verificação: o arquivo, a filial, um par de serviços, um desfazer\n"
                          "  4    com --strict: algum prato tem erros (o import não os grava)\n"
                          "  5    falha ao gravar: nada foi gravado, ou o relatório de erros não foi gravado\n"
                          "  6    resultado desconhecido: a resposta a uma gravação se perdeu; confira o destino\n"
                          "  130  interrompido por SIGINT ou SIGTERM: nada foi gravado\n");
}

} // namespace ExitCode
