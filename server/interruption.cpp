#include "interruption.h"

#include "messages.h"
#include "stoprequest.h"

namespace RdmMethods {

Status stopPoint()
{
    if (!StopRequest::process().requested())
        return okStatus();
    return Status::fail(Msg(QStringLiteral("Imp_Interrompida")), QStringLiteral("Imp_Interrompida"));
}

} // namespace RdmMethods
