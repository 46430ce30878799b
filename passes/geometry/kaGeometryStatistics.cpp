// kaGeometryStatistics is the report by which users see what the geometry passes did: one line
// per geometry attribute (and per morph instance) with the vertex format, vertex and primitive
// counts, primitive type, the attribute's position in its node's list, whether its blend
// weights run from highest to lowest, and the node. The lines line up with the messages of
// kaReduceBlendWeights, which name nodes the same way.
#include "passes/geometry/kaGeometryStatistics.h"

#include "passes/kaPassRegistration.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaMorph.h"
#include "passes/kaPassOutput.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace Lode::OptExtension {

using Lode::Attrs::kaGeometryAttr;
using Lode::Gfx::kaVertexFormat;
using Lode::Sg::kaGeometry;
using Lode::Sg::kaMorphInstance;

KA_IMPLEMENT_PASS(kaGeometryStatistics)

namespace {

constexpr size_t kLineBufferSize = 128;

const char* primitiveTypeName(int primitiveType)
{
    static const char* const names[] = {"KA_GFX_DRAW_POINTS",         "KA_GFX_DRAW_LINES",
                                        "KA_GFX_DRAW_LINE_STRIP",     "KA_GFX_DRAW_TRIANGLES",
                                        "KA_GFX_DRAW_TRIANGLE_STRIP", "KA_GFX_DRAW_TRIANGLE_FAN"};
    return primitiveType >= 0 && primitiveType <= 5 ? names[primitiveType] : "";
}

const char* trueFalse(bool value) { return value ? "T" : "F"; }

// "P=T N=T C=F T=1 B=4 I=4 S=0 ": seven pieces, each ending in a blank.
void formatText(kaVertexFormat format, char (&text)[kLineBufferSize])
{
    std::snprintf(text, sizeof text, "P=%s N=%s C=%s T=%d B=%d I=%d S=%d ", trueFalse(format.hasPositions()),
                  trueFalse(format.hasNormals()), trueFalse(format.hasVertexColors()), format.getTextureCoordCount(),
                  format.getBlendWeightCount(), format.getBlendIndexCount(), format.getPointSpriteCoordCount());
}

void appendCounts(char (&text)[kLineBufferSize], int vertexCount, int primitiveCount, int primitiveType, int attrIndex)
{
    char counts[kLineBufferSize];
    std::snprintf(counts, sizeof counts, "%8d%4s %7d%7s %-30s %5d%5s ", vertexCount, " ", primitiveCount, " ",
                  primitiveTypeName(primitiveType), attrIndex, " ");
    size_t used = std::strlen(text);
    std::snprintf(text + used, sizeof text - used, "%s", counts);
}

} // namespace

bool kaGeometryStatistics::configure(int) { return true; }

bool kaGeometryStatistics::preTraverse()
{
    setTraversalNodeMeta(kaGeometry::getClassMetaSafe());
    setTraversalNodeName("");
    setTraversalFlag(false);
    kaOptInterface* out = getInterface();
    kaReport(out, "Key:\n(P)ositions (N)ormals Vertex(C)olors\n(T)extureCoordCount (B)lendWeightCount "
                "Blend(I)ndexCount\nPoint(S)priteSizes\n(T)rue (F)alse\n\n");
    kaReport(out, "%-27s %-12s %-15s %-30s %-10s %-40s %s\n", "Vertex Format", "Vertex Count", "Primitive Count",
                "Primitive Type", "Attr Index", "Weight Statistic", "Geometry Name");
    return true;
}

bool kaGeometryStatistics::postTraverse() { return true; }

bool kaGeometryStatistics::isWeightSorted(const kaVertexArray* vertexArray, float& smallest)
{
    smallest = 1.0f;
    bool sorted = true;
    const float* weights = vertexArray->blendWeightData();
    for (int v = 0; v < vertexArray->getVertexCount(); ++v) {
        const int weightCount = vertexArray->getBlendWeightCount();
        const float* w = weights + static_cast<size_t>(v) * weightCount;
        if (smallest > w[0]) smallest = w[0];
        for (int j = 1; j < weightCount; ++j)
            if (w[j] > w[j - 1]) {
                sorted = false;
                break;
            }
    }
    return sorted;
}

GRAPH_TRAVERSAL kaGeometryStatistics::dispatch(kaSmartPointer<kaNode>& node)
{
    kaSmartPointer<kaNode> held = node;
    kaOptInterface* out = getInterface();
    char text[kLineBufferSize];
    char weightText[kLineBufferSize];

    auto buildWeightText = [&](kaVertexFormat format, const kaVertexArray* vertexArray) {
        weightText[0] = '\0';
        // An attribute whose format names blend weights but that has no array gets no statistic.
        if (format.getBlendWeightCount() == 0 || !vertexArray) return;
        float smallest = 1.0f;
        bool sorted = isWeightSorted(vertexArray, smallest);
        std::snprintf(weightText, sizeof weightText, "Weight sorted=%s", trueFalse(sorted));
        if (sorted) {
            size_t used = std::strlen(weightText);
            std::snprintf(weightText + used, sizeof weightText - used, " Smallest weight=%.3f", smallest);
        }
    };

    if (node->isOfType(kaMorphInstance::getClassMetaSafe())) {
        auto* instance = static_cast<kaMorphInstance*>(node.get());
        Lode::Sg::kaMorphBase* base = instance->getBase();
        kaVertexArray* vertexArray = base ? base->getVertexArray() : nullptr;
        kaGeometryAttr* attr = instance->getGeometryAttrCount() > 0 ? instance->getGeometryAttr(0) : nullptr;
        // Without its base array or its first attribute a morph instance has nothing to report.
        if (!vertexArray || !attr) return GRAPH_TRAVERSAL_CONTINUE;
        formatText(vertexArray->getVertexFormat(), text);
        buildWeightText(vertexArray->getVertexFormat(), vertexArray);
        appendCounts(text, vertexArray->getVertexCount(), attr->getPrimitiveCount(), attr->getPrimitiveType(), 0);
        kaReport(out, "%s %-40s 0x%08x: %s (morphInstance)\n", text, weightText, kaObjectId(node.get()), kaNameOf(node.get()));
        return GRAPH_TRAVERSAL_CONTINUE;
    }
    if (!node->isOfType(kaGeometry::getClassMetaSafe())) return GRAPH_TRAVERSAL_CONTINUE;

    auto* geometry = static_cast<kaGeometry*>(node.get());
    // Every entry of the attribute list is looked at, so that a geometry attribute behind other
    // attributes is reported too; the index printed is the entry's position in the whole list.
    const int attrCount = geometry->getAttrCount();
    for (int i = 0; i < attrCount; ++i) {
        kaSmartPointer<kaGeometryAttr> attr = kaGeometryAttr::dynamicCast(geometry->getAttrs()->getShared(i));
        if (!attr) continue;
        formatText(attr->getVertexFormat(), text);
        buildWeightText(attr->getVertexFormat(), attr->getVertexArray());
        appendCounts(text, attr->getVertexCount(), attr->getPrimitiveCount(), attr->getPrimitiveType(), i);
        kaReport(out, "%s %-40s 0x%08x: %s\n", text, weightText, kaObjectId(node.get()), kaNameOf(node.get()));
    }
    return GRAPH_TRAVERSAL_CONTINUE;
}

} // namespace Lode::OptExtension
