// kaConvertMorphInstance exists because the current morph representation blends dense
// per-vertex lists in one sweep, where the first generation scatters sparse displacements
// vertex by vertex. Each kaMorphInstance of the scene is replaced by a kaMorphInstance2 with the
// same morph sequence, name, flags and children, whose morphed geometry wraps the old geometry
// attribute and holds position morph data (and normal morph data when the base has normals):
// the base values and one dense displacement list per target. A morph instance of another shape
// is reported and left in place.
//
// Bad input: an index list closes with one entry that places nothing, so it normally has one
// entry more than its displacements. Index entries beyond that, which have no displacement, and
// indices that name no vertex of the base (negative, or at or past its vertex count) place
// nothing; the instance is still converted, and one warning per instance counts what was
// dropped. Nothing is ever written outside the dense lists.
#include "passes/skinning/kaConvertMorphInstance.h"

#include "passes/kaPassRegistration.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaMorphedGeometryAttr.h"
#include "host/sg/kaMorph.h"
#include "passes/kaPassOutput.h"

namespace Lode::OptExtension {

using Lode::Attrs::kaGeometryAttr;
using Lode::Attrs::kaMorphedGeometryAttr;
using Lode::Attrs::kaVector3MorphData;
using Lode::Gfx::kaVertexArray;
using Lode::Math::kaVec3f;
using Lode::Sg::kaMorphBase;
using Lode::Sg::kaMorphInstance;
using Lode::Sg::kaMorphInstance2;
using Lode::Sg::kaMorphPlacement;
using Lode::Utils::kaVec3fAlignedList;
using Lode::Utils::kaVec3fList;

KA_IMPLEMENT_PASS(kaConvertMorphInstance)

namespace {

// The dense displacements of one target over n vertices: zero where the target does not move a
// vertex. What could not be placed is added to dropped.
kaSmartPointer<kaVec3fAlignedList> denseTarget(const kaVec3fList* displacements, const kaIntList* indices, int n,
                                               kaMorphPlacement& dropped)
{
    auto dense = make<kaVec3fAlignedList>();
    dense->setCount(n);
    dense->setAll(kaVec3f::ZeroVector);
    if (displacements && indices && indices->getCount() > 0) {
        const kaMorphPlacement placement = Lode::Sg::kaPlaceDisplacements(displacements, indices, n, dense->data(),
                                                                kaVec3fAlignedList::FloatsPerElement);
        dropped.withoutDisplacement += placement.withoutDisplacement;
        dropped.outOfRange += placement.outOfRange;
    }
    return dense;
}

// Morph data of one component: n base values read by copyValue, and no target yet.
template <class CopyValue>
kaSmartPointer<kaVector3MorphData> morphData(int n, int baseCount, CopyValue copyValue)
{
    auto data = make<kaVector3MorphData>();
    data->setElementCount(n);
    auto base = make<kaVec3fAlignedList>();
    base->setCount(baseCount);
    kaVec3f value;
    for (int v = 0; v < baseCount; ++v) {
        copyValue(v, value);
        base->set(v, value);
    }
    data->setBase(base);
    return data;
}

} // namespace

bool kaConvertMorphInstance::configure(int) { return true; }

kaMetaObject* kaConvertMorphInstance::getNodeMeta() { return kaMorphInstance::getClassMetaSafe(); }

bool kaConvertMorphInstance::replaceNode(kaSmartPointer<kaNode>& node, kaSmartPointer<kaNode>& replacement)
{
    kaMorphInstance* instance = node && node->isOfType(kaMorphInstance::getClassMetaSafe())
                                    ? static_cast<kaMorphInstance*>(node.get())
                                    : nullptr;
    if (!instance) return true;
    if (instance->getAttrCount() != 1) {
        printf("the morph instance should have only one attribute");
        return true;
    }
    kaGeometryAttr* geometryAttr = kaGeometryAttr::dynamicCast(instance->getAttr(0));
    if (!geometryAttr) {
        printf("the morph instance should have one geometry attribute");
        return true;
    }
    kaMorphBase* base = instance->getBase();
    kaVertexArray* vertices = base ? base->getVertexArray() : nullptr;
    if (!vertices) {
        printf("the morph instance should have one kaMorphBase");
        return true;
    }

    const bool normals = vertices->getVertexFormat().hasNormals();
    const int n = vertices->getVertexCount();
    const int targetCount = base->getTargetCount();

    auto morphed = make<kaMorphedGeometryAttr>();
    morphed->setGeometry(geometryAttr);
    auto positionData =
        morphData(n, n, [vertices](int v, kaVec3f& value) { vertices->getPosition(v, value); });
    auto normalData =
        morphData(n, normals ? n : 0, [vertices](int v, kaVec3f& value) { vertices->getNormal(v, value); });
    normalData->setNormalizeResult(1);

    kaMorphPlacement dropped;
    for (int t = 0; t < targetCount; ++t) {
        positionData->appendTarget(
            denseTarget(base->getPositionDisplacementVec(t), base->getPositionIndexArray(t), n, dropped));
        if (normals)
            normalData->appendTarget(
                denseTarget(base->getNormalDisplacementVec(t), base->getNormalIndexArray(t), n, dropped));
    }
    morphed->getMorphList()->append(positionData);
    if (normals) morphed->getMorphList()->append(normalData);

    auto converted = make<kaMorphInstance2>();
    converted->setMorphSequence(instance->getMorphSequence());
    converted->setMorphGeometry(morphed);
    converted->appendAttr(morphed);
    converted->getCoefficient()->setCount(targetCount);
    // What the old node was besides its morph stays with the node that takes its place.
    converted->setName(instance->getName());
    converted->setFlag(instance->getFlags(), true);
    for (int c = 0; c < instance->getChildCount(); ++c) converted->appendChild(instance->getChild(c));

    if (dropped.withoutDisplacement > 0 || dropped.outOfRange > 0)
        printf("%s", kaLossMessage("WARNING: morph instance 0x%08x \"%s\": %d displacements dropped (%d index entries "
                                   "without a displacement, %d indices outside its %d vertices)\n",
                                   kaObjectId(instance), kaNameOf(instance),
                                   dropped.withoutDisplacement + dropped.outOfRange, dropped.withoutDisplacement,
                                   dropped.outOfRange, n)
                         .c_str());
    replacement = converted.get();
    return true;
}

} // namespace Lode::OptExtension
