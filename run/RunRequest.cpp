#include "RunRequest.h"

#include "ct/SgmGeom.h"

int RunRequest::sinogramWidth() const
{
    return setGeom(params.rotAxIsV, cutWidth(), params.cor, params.fixedHalfWidth).width;
}
