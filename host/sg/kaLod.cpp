#include "host/sg/kaLod.h"

namespace Lode::Sg {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaLod, kaFloatList::arkRegister)

void kaLod::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaLod, _ranges), kaFloatList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.declare();
}

int kaLod::selectChild(float distance) const
{
    for (int i = 0; i < getRangeCount(); ++i)
        if (distance < getRange(i)) return i < getChildCount() ? i : -1;
    return -1;
}

} // namespace Lode::Sg
