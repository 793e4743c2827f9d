#include "Edition.h"

namespace Edition {

namespace {
bool baseEdition = false;
}

bool isBase()
{
    return baseEdition;
}

void setBase(bool base)
{
    baseEdition = base;
}

} // namespace Edition
