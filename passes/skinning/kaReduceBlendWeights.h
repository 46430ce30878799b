// kaReduceBlendWeights: lowers the number of blend weights per vertex of skinned geometry and
// morph bases to _blendWeightCount, sorting each vertex's weights first and renormalising after.
#pragma once

#include "host/gfx/kaVertexArray.h"
#include "host/opt/kaOptBase.h"
#include "passes/skinning/kaBlendWeightAlgorithms.h"

namespace Lode::Sg {
class kaAnimationDatabase;
class kaSkeleton;
} // namespace Lode::Sg

namespace Lode::OptExtension {

using namespace Lode::Opt;
using Lode::Gfx::kaVertexArray;

class kaReduceBlendWeights : public kaOptTraverseGraph {
    KA_DECLARE_CLASS(kaReduceBlendWeights, kaOptTraverseGraph)
public:
    enum WEIGHT_SORT_METHOD { NO_SORT = 0, SORT_BY_WEIGHT = 1, SORT_BY_DISTANCE_TO_BONE = 2 };
    static kaMetaEnum* getWEIGHT_SORT_METHODMetaEnum();

    ~kaReduceBlendWeights() override;

    bool applyInfo(kaInfo* info) override;
    bool canOptimize(kaInfo* info) override;
    using kaOptTraverseGraph::canOptimize;
    bool configure(int section) override;
    GRAPH_TRAVERSAL dispatch(kaSmartPointer<kaNode>& node) override;
    bool preTraverse() override;
    bool postTraverse() override;

    WEIGHT_SORT_METHOD getWeightSortMethod() const { return static_cast<WEIGHT_SORT_METHOD>(_weightSortMethod); }
    void setWeightSortMethod(WEIGHT_SORT_METHOD method) { _weightSortMethod = method; }
    const char* getSkeletonName() const { return _skeletonName.c_str(); }
    void setSkeletonName(const char* name) { _skeletonName = name; }
    unsigned int getBlendWeightCount() const { return _blendWeightCount; }
    void setBlendWeightCount(unsigned int count) { _blendWeightCount = count; }
    float getWeightThreshold() const { return _weightThreshold; }
    void setWeightThreshold(float threshold) { _weightThreshold = threshold; }
    bool getNotifyOfError() const { return _notifyOfError; }
    Lode::Sg::kaAnimationDatabase* getAnimationDatabase() const { return _animationDatabase; }

    static kaEnumMetaField* k_weightSortMethod;
    static kaStringMetaField* k_skeletonName;
    static kaUnsignedIntMetaField* k_blendWeightCount;
    static kaFloatMetaField* k_weightThreshold;
    static kaBoolMetaField* k_notifyOfError;
    static kaObjectRefMetaField* k_animationDatabase;
    static kaMetaEnum* WEIGHT_SORT_METHOD_Meta;

private:
    void sortBlendWeights(kaSmartPointer<kaVertexArray>& vertexArray);
    void sortBlendWeightsByBoneDistance(kaSmartPointer<kaVertexArray>& vertexArray, Lode::Sg::kaSkeleton* skeleton);
    // Reduces, sorting by value as it goes when that is the configured method, and renormalises.
    kaReducedBlendWeights reduceBlendWeights(kaSmartPointer<kaVertexArray>& vertexArray, unsigned int count);
    // Sorts by the configured method (by value only when the array is not to be reduced: the
    // reduction sorts then); false when the array is to be left alone (no database).
    bool sortForReduction(kaSmartPointer<kaVertexArray>& vertexArray, const char* subject, bool reduces);

    // Field defaults, declared once: the member initialisers and the reflected declarations use them.
    static constexpr WEIGHT_SORT_METHOD kDefaultWeightSortMethod = SORT_BY_WEIGHT;
    static constexpr uint32_t kDefaultBlendWeightCount = 1;
    static constexpr float kDefaultWeightThreshold = 0.0f;
    static constexpr bool kDefaultNotifyOfError = true;

    int32_t _weightSortMethod = kDefaultWeightSortMethod;
    kaStringRef _skeletonName;
    uint32_t _blendWeightCount = kDefaultBlendWeightCount;
    float _weightThreshold = kDefaultWeightThreshold;
    bool _notifyOfError = kDefaultNotifyOfError;
    Lode::Sg::kaAnimationDatabase* _animationDatabase = nullptr;
};

} // namespace Lode::OptExtension
