#include "host/sg/kaGeometry.h"

namespace Lode::Sg {

KA_IMPLEMENT_CLASS(kaGeometry)
KA_IMPLEMENT_OBJECT_LIST(kaGeometryList)

int kaGeometry::countGeometryAttrs() const
{
    int count = 0;
    for (int i = 0; i < getAttrCount(); ++i)
        if (getGeometryAttr(i)) ++count;
    return count;
}

} // namespace Lode::Sg
