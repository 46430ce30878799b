// kaScalePerVertexColors brightens or darkens baked vertex lighting: the red, green and blue of
// every vertex colour of every geometry node are multiplied by _scaleFactor in single
// precision; alpha is kept as it is. The factor is used as given and the results are not
// clamped (a factor of 2 turns a red of 0.75 into 1.5), so that scaling down and up again
// gives the colours back. The colours of a morph instance's base are its drawn colours too and
// are scaled with it. Arrays without vertex colours are left alone. The pass prints nothing.
#include "passes/geometry/kaScalePerVertexColors.h"

#include "passes/kaPassRegistration.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaMorph.h"

namespace Lode::OptExtension {

using Lode::Attrs::kaGeometryAttr;
using Lode::Gfx::kaVertexArray;
using Lode::Sg::kaGeometry;
using Lode::Sg::kaMorphBase;
using Lode::Sg::kaMorphInstance;

kaFloatMetaField* kaScalePerVertexColors::k_scaleFactor = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaScalePerVertexColors)

void kaScalePerVertexColors::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_scaleFactor, KA_FIELD(kaScalePerVertexColors, _scaleFactor), kDefaultScaleFactor);
    fields.describe("factor for the red, green and blue of every vertex colour; used as given, results not clamped");
    fields.declare();
}

bool kaScalePerVertexColors::configure(int) { return true; }

bool kaScalePerVertexColors::preTraverse()
{
    setTraversalNodeMeta(kaGeometry::getClassMetaSafe());
    setTraversalFlag(false);
    setTraversalNodeName("");
    _scaled.clear();
    return true;
}

bool kaScalePerVertexColors::postTraverse()
{
    _scaled.clear();
    return true;
}

GRAPH_TRAVERSAL kaScalePerVertexColors::dispatch(kaSmartPointer<kaNode>& node)
{
    if (!node->isOfType(kaGeometry::getClassMetaSafe())) return GRAPH_TRAVERSAL_CONTINUE;
    auto* geometry = static_cast<kaGeometry*>(node.get());
    const int count = geometry->getGeometryAttrCount();
    for (int i = 0; i < count; ++i)
        if (kaGeometryAttr* attr = geometry->getGeometryAttr(i)) scaleColors(attr->getVertexArray());
    if (node->isOfType(kaMorphInstance::getClassMetaSafe()))
        if (kaMorphBase* base = static_cast<kaMorphInstance*>(node.get())->getBase())
            scaleColors(base->getVertexArray());
    return GRAPH_TRAVERSAL_CONTINUE;
}

void kaScalePerVertexColors::scaleColors(kaVertexArray* vertices)
{
    if (!vertices || !vertices->getVertexFormat().hasColors() || !_scaled.insert(vertices).second) return;
    float* rgba = vertices->colorData();
    const size_t count = static_cast<size_t>(vertices->getVertexCount());
    const float factor = _scaleFactor;
    for (size_t v = 0; v < count; ++v, rgba += kaVertexArray::ColorComponentCount) {
        rgba[0] *= factor;
        rgba[1] *= factor;
        rgba[2] *= factor;
    }
}

} // namespace Lode::OptExtension
