// kaRemoveVertexComponent lightens geometry by components the target does not draw: every
// kaGeometryAttr1_5 gets a new vertex array whose format lacks the normals, the vertex colours
// and/or all texture coordinate sets, as the fields say, with every remaining component
// (positions, the rest of the above, blend weights and indices, point-sprite sizes) copied a
// whole block at a time, bit for bit. The array is rebuilt whatever the settings, so with all
// three false each attribute gets an exact copy; its bounding box stays as it was. A vertex
// array held by several attributes gets one new array that they all share. Second-generation
// attributes are not touched. The pass prints nothing.
#include "passes/geometry/kaRemoveVertexComponent.h"

#include "passes/kaPassRegistration.h"
#include "host/attrs/kaGeometryAttr.h"

namespace Lode::OptExtension {

using Lode::Attrs::kaGeometryAttr;
using Lode::Attrs::kaGeometryAttr1_5;
using Lode::Gfx::kaVertexArray;
using Lode::Gfx::kaVertexFormat;
using Lode::Sg::kaVertexArrayHelper;

kaBoolMetaField* kaRemoveVertexComponent::k_normal = nullptr;
kaBoolMetaField* kaRemoveVertexComponent::k_color = nullptr;
kaBoolMetaField* kaRemoveVertexComponent::k_texture = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaRemoveVertexComponent)

void kaRemoveVertexComponent::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_normal, KA_FIELD(kaRemoveVertexComponent, _normal), kDefaultNormal);
    fields.describe("remove the normals");
    fields.add(&k_color, KA_FIELD(kaRemoveVertexComponent, _color), kDefaultColor);
    fields.describe("remove the vertex colours");
    fields.add(&k_texture, KA_FIELD(kaRemoveVertexComponent, _texture), kDefaultTexture);
    fields.describe("remove all texture coordinate sets");
    fields.declare();
}

bool kaRemoveVertexComponent::canOptimize(kaNode*) { return true; }

bool kaRemoveVertexComponent::configure(int) { return true; }

kaMetaObject* kaRemoveVertexComponent::getVisitedObjectMeta() { return kaGeometryAttr1_5::getClassMetaSafe(); }

bool kaRemoveVertexComponent::postVisit()
{
    _rebuilt.clear();
    return true;
}

bool kaRemoveVertexComponent::visitor(kaObject* object)
{
    auto* attr = static_cast<kaGeometryAttr*>(object);
    kaVertexArray* old = attr->getVertexArray();
    // An attribute without vertices has nothing to strip.
    if (!old) return true;
    if (kaVertexArray* rebuilt = _rebuilt.find<kaVertexArray>(old)) {
        attr->setVertexArray(rebuilt);
        return true;
    }
    kaVertexFormat format = attr->getVertexFormat();
    if (_normal) format.setNormals(false);
    if (_color) format.setColors(false);
    if (_texture) format.setTextureCoordSetCount(0);

    auto vertices = make<kaVertexArray>();
    auto copier = make<kaVertexArrayHelper>();
    if (!vertices || !copier) return true;
    const int count = old->getVertexCount();
    vertices->setup(format, count, old->getUsage(), 0);
    copier->copyVertices(old, vertices.get(), 0, count, format);
    vertices->closeSetup();
    _rebuilt.remember(old, vertices.get());
    // The positions do not change, so the bounding box is not fitted to them anew: a box
    // that was set wider than the vertices stays so.
    attr->setVertexArray(vertices.get());
    return true;
}

} // namespace Lode::OptExtension
