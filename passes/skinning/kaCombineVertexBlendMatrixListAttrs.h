// kaCombineVertexBlendMatrixListAttrs: gives all skinned geometry of one joint hierarchy a single
// shared matrix palette: the blending matrices of every joint of the hierarchy, with the blend
// indices of each geometry rewritten to point into it.
#pragma once

#include "host/opt/kaOptBase.h"
#include "host/utils/kaMatrixObject.h"

#include <memory>

namespace Lode::Sg {
class kaJoint;
} // namespace Lode::Sg

namespace Lode::OptExtension {

using namespace Lode::Opt;
using Lode::Sg::kaNodeList;
using Lode::Utils::kaMatrixObjectList;

class kaCombineVertexBlendMatrixListAttrs : public kaOptBase {
    KA_DECLARE_CLASS(kaCombineVertexBlendMatrixListAttrs, kaOptBase)
public:
    kaCombineVertexBlendMatrixListAttrs();
    ~kaCombineVertexBlendMatrixListAttrs() override;

    bool apply(kaSmartPointer<kaNode>& root) override;
    bool canOptimize(kaNode* node) override;
    using kaOptBase::canOptimize;
    bool configure(int section) override;

    kaMatrixObjectList* getMatrices() const { return _matrices; }

    static kaObjectRefMetaField* k_matrices;

    // The skinned geometry of one scene, found in one walk (defined in the source).
    struct kaSkinnedGeometry;

protected:
    // Appends to list the nodes of the class below node, not looking below those it finds.
    void findNodes(kaNode* node, kaMetaObject* type, kaNodeList* list) const;
    // Adds the blending matrices of the joint and of every joint below it to _matrices.
    void fillMatrixList(Lode::Sg::kaJoint* joint) const;
    // Rewrites the blend indices and the matrix lists below root against _matrices.
    void combineMatrixLists(kaNode* root) const;

private:
    kaMatrixObjectList* _matrices = nullptr;
    // The walk of the scene being combined, made once per apply so that a scene of many
    // hierarchies is not walked once for each of them.
    std::unique_ptr<kaSkinnedGeometry> _skinned;
};

} // namespace Lode::OptExtension
