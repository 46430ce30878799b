// kaScalePerVertexColors: multiplies the red, green and blue of every vertex colour of every
// geometry node by _scaleFactor.
#pragma once

#include "host/opt/kaOptBase.h"

#include <unordered_set>

namespace Lode::Gfx {
class kaVertexArray;
}

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaScalePerVertexColors : public kaOptTraverseGraph {
    KA_DECLARE_CLASS(kaScalePerVertexColors, kaOptTraverseGraph)
public:
    bool configure(int section) override;
    GRAPH_TRAVERSAL dispatch(kaSmartPointer<kaNode>& node) override;
    bool preTraverse() override;
    bool postTraverse() override;

    static kaFloatMetaField* k_scaleFactor;

private:
    // Scales the colours of one array, unless this run has scaled them already.
    void scaleColors(Lode::Gfx::kaVertexArray* vertices);

    static constexpr float kDefaultScaleFactor = 1.0f;

    float _scaleFactor = kDefaultScaleFactor;

    // The arrays scaled in this run: an array shared by several attributes (or by a morph
    // instance's attribute and its base) is scaled once.
    std::unordered_set<const Lode::Gfx::kaVertexArray*> _scaled;
};

} // namespace Lode::OptExtension
