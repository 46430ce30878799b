// Geometry nodes: attribute sets whose geometry attributes are drawn. Geometry attributes are
// addressed by their position in the attribute list, so that a position means the same entry
// whether it is reached as an attribute or as a geometry attribute: the geometry attribute
// count covers every position, and getGeometryAttr is null at a position that holds an
// attribute of another kind (a material or texture kept with the geometry).
#pragma once

#include "host/attrs/kaGeometryAttr.h"
#include "host/sg/kaAttrSet.h"

namespace Lode::Sg {

using Lode::Attrs::kaGeometryAttr;

class kaGeometry : public kaAttrSet {
    KA_DECLARE_CLASS(kaGeometry, kaAttrSet)
public:
    int getGeometryAttrCount() const { return getAttrCount(); }
    kaGeometryAttr* getGeometryAttr(int index) const { return kaGeometryAttr::dynamicCast(getAttr(index)); }
    // Number of entries that are geometry attributes.
    int countGeometryAttrs() const;

protected:
    kaGeometry() = default;
};

KA_DECLARE_OBJECT_LIST(kaGeometryList, kaGeometry)

} // namespace Lode::Sg
