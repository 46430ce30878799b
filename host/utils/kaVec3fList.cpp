#include "host/utils/kaVec3fList.h"

namespace Lode::Utils {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaVec3fList)

void kaVec3fList::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.addBlock<float>(KA_FIELD(kaVec3fList, _data));
    fields.declare();
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaVec3fAlignedList)

void kaVec3fAlignedList::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.addBlock<float>(KA_FIELD(kaVec3fAlignedList, _data));
    fields.declare();
}

KA_IMPLEMENT_OBJECT_LIST(kaVec3fListList)
KA_IMPLEMENT_OBJECT_LIST(kaVec3fAlignedListList)

} // namespace Lode::Utils
