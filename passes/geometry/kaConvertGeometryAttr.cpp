// kaConvertGeometryAttr brings older scenes up to the current generation of geometry: each
// kaGeometryAttr1_5 of a geometry node becomes a kaGeometryAttr2 at the same position in the
// node's attribute list, drawing the same vertices from a kaVertexArray2 and sharing the old
// attribute's index array and bounding box. The vertices are copied a whole component block at
// a time, bit for bit. An attribute or vertex array held in several places is converted once,
// so that it stays shared. The pass prints nothing.
#include "passes/geometry/kaConvertGeometryAttr.h"

#include "passes/kaPassRegistration.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/sg/kaGeometry.h"

namespace Lode::OptExtension {

using Lode::Attrs::kaAttr;
using Lode::Attrs::kaAttrList;
using Lode::Attrs::kaGeometryAttr;
using Lode::Attrs::kaGeometryAttr1_5;
using Lode::Attrs::kaGeometryAttr2;
using Lode::Gfx::kaVertexArray;
using Lode::Gfx::kaVertexArray2;
using Lode::Gfx::kaVertexArray2Helper;
using Lode::Sg::kaGeometry;

KA_IMPLEMENT_PASS(kaConvertGeometryAttr)

bool kaConvertGeometryAttr::canOptimize(kaNode*) { return true; }

bool kaConvertGeometryAttr::configure(int) { return true; }

kaMetaObject* kaConvertGeometryAttr::getVisitedObjectMeta() { return kaGeometry::getClassMetaSafe(); }

bool kaConvertGeometryAttr::postVisit()
{
    _converted.clear();
    return true;
}

bool kaConvertGeometryAttr::visitor(kaObject* object)
{
    auto* node = static_cast<kaGeometry*>(object);
    auto builder = make<kaVertexArray2Helper>();
    if (!builder || node->getGeometryAttrCount() == 0) return true;
    kaAttrList* attrs = node->getAttrs();
    for (int i = 0; i < node->getGeometryAttrCount(); ++i) {
        kaAttr* entry = attrs->getShared(i);
        if (!entry || !entry->isOfType(kaGeometryAttr1_5::getClassMetaSafe())) continue;
        if (kaGeometryAttr2* converted = _converted.find<kaGeometryAttr2>(entry)) {
            attrs->set(i, converted);
            continue;
        }
        auto* old = static_cast<kaGeometryAttr*>(entry);
        kaVertexArray* oldVertices = old->getVertexArray();
        if (!oldVertices) continue;
        kaVertexArray2* vertices = _converted.find<kaVertexArray2>(oldVertices);
        if (!vertices) {
            builder->begin(oldVertices->getVertexFormat(), oldVertices->getVertexCount(), 0, 0);
            builder->copyVertices(oldVertices, oldVertices->getVertexFormat(), 0, oldVertices->getVertexCount());
            vertices = builder->getVertexArray();
        }
        auto attr = make<kaGeometryAttr2>();
        if (!attr) continue;
        _converted.remember(oldVertices, vertices);
        attr->setName(old->getName());
        attr->setVertexArray(vertices);
        attr->setIndexArray(old->getIndexArray());
        attr->setBoundingBox(old->getBoundingBox());
        attr->setOffset(old->getOffset());
        attr->setPrimitiveType(old->getPrimitiveType());
        attr->setPrimitiveCount(old->getPrimitiveCount());
        _converted.remember(old, attr.get());
        attrs->set(i, attr.get());
    }
    return true;
}

} // namespace Lode::OptExtension
