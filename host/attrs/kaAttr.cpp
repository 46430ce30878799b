#include "host/attrs/kaAttr.h"

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS(kaAttr)
KA_IMPLEMENT_OBJECT_LIST(kaAttrList)

} // namespace Lode::Attrs
