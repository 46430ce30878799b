// kaGeometryStatistics: prints one line per geometry attribute and per morph instance (vertex
// format, counts, primitive type, attribute position, blend-weight order) and changes nothing.
#pragma once

#include "host/gfx/kaVertexArray.h"
#include "host/opt/kaOptBase.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;
using Lode::Gfx::kaVertexArray;

class kaGeometryStatistics : public kaOptTraverseGraph {
    KA_DECLARE_CLASS(kaGeometryStatistics, kaOptTraverseGraph)
public:
    bool configure(int section) override;
    GRAPH_TRAVERSAL dispatch(kaSmartPointer<kaNode>& node) override;
    bool preTraverse() override;
    bool postTraverse() override;
    // True when every vertex's weights never rise from one slot to the next; smallest receives
    // the least slot-0 weight over all vertices, capped at 1.0.
    virtual bool isWeightSorted(const kaVertexArray* vertexArray, float& smallest);
};

} // namespace Lode::OptExtension
