#include "host/sg/kaLightSet.h"

namespace Lode::Sg {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaLightSet, kaLightAttrList::arkRegister)

void kaLightSet::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaLightSet, _lights), kaLightAttrList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.declare();
}

kaLightAttr* kaLightSet::getLight(int index) const
{
    return index >= 0 && index < _lights->getCount() ? _lights->getShared(index) : nullptr;
}

} // namespace Lode::Sg
