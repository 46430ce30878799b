#include "host/sg/kaAttrSet.h"

namespace Lode::Sg {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaAttrSet, kaAttrList::arkRegister)

void kaAttrSet::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaAttrSet, _attrs), kaAttrList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.declare();
}

kaAttr* kaAttrSet::getAttr(int index) const
{
    return index >= 0 && index < _attrs->getCount() ? _attrs->getShared(index) : nullptr;
}

} // namespace Lode::Sg
