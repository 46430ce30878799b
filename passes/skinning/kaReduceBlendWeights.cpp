// kaReduceBlendWeights exists because every blend weight a vertex carries costs skinning time on
// the target platform, and most characters come out of authoring tools with more influences
// than the platform draws well. For every geometry attribute of every geometry node, and for the
// base of every morph instance, it sorts each vertex's weights (by value, or by the distance of
// their bones), then builds a new array with at most _blendWeightCount weights and renormalises
// it. Every step is reported with the node's address and name, so that the lines can be matched
// with a geometry statistics report. Animation databases met as infos are remembered: the sort by
// bone distance takes its skeleton from the last one.
#include "passes/skinning/kaReduceBlendWeights.h"

#include "passes/kaPassRegistration.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/opt/kaAnimationDatabaseApply.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaSkeleton.h"
#include "passes/kaPassOutput.h"
#include "passes/skinning/kaBlendWeightAlgorithms.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace Lode::OptExtension {

using Lode::Core::kaFormat;
using Lode::Attrs::kaGeometryAttr;
using Lode::Sg::kaAnimationDatabase;
using Lode::Sg::kaGeometry;
using Lode::Sg::kaMorphBase;
using Lode::Sg::kaMorphInstance;
using Lode::Sg::kaSkeleton;

kaEnumMetaField* kaReduceBlendWeights::k_weightSortMethod = nullptr;
kaStringMetaField* kaReduceBlendWeights::k_skeletonName = nullptr;
kaUnsignedIntMetaField* kaReduceBlendWeights::k_blendWeightCount = nullptr;
kaFloatMetaField* kaReduceBlendWeights::k_weightThreshold = nullptr;
kaBoolMetaField* kaReduceBlendWeights::k_notifyOfError = nullptr;
kaObjectRefMetaField* kaReduceBlendWeights::k_animationDatabase = nullptr;
kaMetaEnum* kaReduceBlendWeights::WEIGHT_SORT_METHOD_Meta = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaReduceBlendWeights, kaAnimationDatabase::arkRegister)

kaMetaEnum* kaReduceBlendWeights::getWEIGHT_SORT_METHODMetaEnum()
{
    if (!WEIGHT_SORT_METHOD_Meta) {
        static const char* const names[] = {"NO_SORT", "SORT_BY_WEIGHT", "SORT_BY_DISTANCE_TO_BONE"};
        static const int32_t values[] = {NO_SORT, SORT_BY_WEIGHT, SORT_BY_DISTANCE_TO_BONE};
        WEIGHT_SORT_METHOD_Meta = kaMetaEnum::createMetaEnum("WEIGHT_SORT_METHOD", names, values);
    }
    return WEIGHT_SORT_METHOD_Meta;
}

void kaReduceBlendWeights::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_weightSortMethod, KA_FIELD(kaReduceBlendWeights, _weightSortMethod), kDefaultWeightSortMethod,
               &getWEIGHT_SORT_METHODMetaEnum);
    fields.describe("how each vertex's weights are ordered before the weakest are dropped: by value, or by the "
                    "distance of their bones (needs _skeletonName); NO_SORT drops the last slots as they stand");
    fields.add(&k_skeletonName, KA_FIELD(kaReduceBlendWeights, _skeletonName));
    fields.describe("the skeleton of the animation database whose bones SORT_BY_DISTANCE_TO_BONE measures");
    fields.add(&k_blendWeightCount, KA_FIELD(kaReduceBlendWeights, _blendWeightCount), kDefaultBlendWeightCount);
    fields.describe("the most blend weights a vertex keeps; arrays with no more are left alone");
    fields.add(&k_weightThreshold, KA_FIELD(kaReduceBlendWeights, _weightThreshold), kDefaultWeightThreshold);
    fields.describe("a weight slot in which no vertex has a weight above this value counts as empty in the reduction");
    fields.add(&k_notifyOfError, KA_FIELD(kaReduceBlendWeights, _notifyOfError), kDefaultNotifyOfError);
    fields.describe("reset to true at every run; cleared after a missing skeleton is reported");
    fields.add(&k_animationDatabase, KA_FIELD(kaReduceBlendWeights, _animationDatabase),
               kaAnimationDatabase::getClassTypeLazy());
    fields.describe("the animation database met last among the scene's infos (set by the run)");
    fields.declare();
}

kaReduceBlendWeights::~kaReduceBlendWeights() { kaObject::release(_animationDatabase); }

// ---- configure ----

bool kaReduceBlendWeights::configure(int)
{
    kaOptInterface* out = getInterface();
    kaReport(out, "\nNOTE: If there are several infos referring to the same data, \n"
                  "such as kaActorInfos or kaSceneInfos referring to objects already \n"
                  "in an kaAnimationDatabase, then the optimization pass may fail for \n"
                  "that info, but succeed for the kaAnimationDatabase. Compare failure \n"
                  "notification's pointer values with other success messages and run \n"
                  "geometry statistics to ensure the process was applied to the data\n"
                  "successfully.\n\n");
    if (_blendWeightCount == 0) {
        kaReport(out, "WARNING: a new blend weight count of zero has been specified.\n"
                      "The new vertex arrays will have zero blend weights, but still\n"
                      "one blend index will remain, and it will be up to the platform\n"
                      "to assume that the blend weight is 1.0\n");
    }
    if (_weightSortMethod == NO_SORT) {
        kaReport(out, "WARNING: sorting of blend weights has been disabled. Any removing \n"
                      "of blend weights will remove weights with the highest ordinal \n"
                      "value in the vertex, meaning unless sorted from highest \n"
                      "influence to lowest, very influential weights can potentially \n"
                      "be removed.");
    }
    if (_weightSortMethod == SORT_BY_DISTANCE_TO_BONE && _skeletonName.isEmpty()) {
        kaReport(out, "ERROR: A skeleton name must be specified for using \n"
                      "SORT_BY_DISTANCE_TO_BONE.");
        return false;
    }
    return true;
}

// ---- traversal ----

bool kaReduceBlendWeights::preTraverse()
{
    setTraversalNodeMeta(kaGeometry::getClassMetaSafe());
    setTraversalNodeName("");
    setTraversalFlag(false);
    _notifyOfError = true;
    return true;
}

bool kaReduceBlendWeights::postTraverse() { return true; }

namespace {

// Reducing to N weights clears the last of the N kept slots before the renormalisation, so a
// vertex with N influences or more keeps N-1 of them: each such vertex loses one.
void noteClearedSlot(const std::string& subject, const kaReducedBlendWeights& reduced)
{
    const int kept = reduced.array->getBlendWeightCount();
    if (reduced.clearedVertices > 0)
        Lode::Core::kaNoteLoss(kaFormat("kaReduceBlendWeights: %s: %d vertices lose the influence in their last kept "
                                        "weight slot (reducing to %d keeps %d)",
                                        subject.c_str(), reduced.clearedVertices, kept, kept - 1));
}

} // namespace

// subject is the message's head: MorphInstance 0x... "name" or Geometry 0x... "name" attrN.
bool kaReduceBlendWeights::sortForReduction(kaSmartPointer<kaVertexArray>& vertexArray, const char* subject,
                                            bool reduces)
{
    kaOptInterface* out = getInterface();
    switch (_weightSortMethod) {
    case SORT_BY_WEIGHT:
        // An array to be reduced is sorted by the reduction, as it reads each vertex anyway.
        if (!reduces) sortBlendWeights(vertexArray);
        kaReport(out, "%s: blend weights sorted highest to lowest by value.\n", subject);
        return true;
    case SORT_BY_DISTANCE_TO_BONE: {
        if (!_animationDatabase) {
            kaReport(out, "%s: failed to sort blend weights highest to lowest by bone distance because no animation "
                        "database is available. Reduction will be skipped.\n",
                        subject);
            return false;
        }
        kaSkeleton* skeleton = _animationDatabase->getSkeleton(_skeletonName.c_str());
        if (!skeleton) {
            kaReport(out, "%s: ERROR: no skeleton \"%s\" found in animation database \"%s\".\n", subject,
                        _skeletonName.c_str(), kaNameOf(_animationDatabase));
            _notifyOfError = false;
        }
        sortBlendWeightsByBoneDistance(vertexArray, skeleton);
        kaReport(out, "%s: blend weights sorted highest to lowest by bone distance.\n", subject);
        return true;
    }
    default:
        return true;
    }
}

GRAPH_TRAVERSAL kaReduceBlendWeights::dispatch(kaSmartPointer<kaNode>& node)
{
    kaOptInterface* out = getInterface();

    if (node->isOfType(kaMorphInstance::getClassMetaSafe())) {
        auto* instance = static_cast<kaMorphInstance*>(node.get());
        kaSmartPointer<kaMorphBase> base = instance->getBase();
        // A morph instance without a base or base vertex array has no weights to treat.
        kaSmartPointer<kaVertexArray> vertexArray = base ? base->getVertexArray() : nullptr;
        if (!vertexArray) return GRAPH_TRAVERSAL_CONTINUE;
        const int current = vertexArray->getBlendWeightCount();
        const std::string subject = kaFormat("MorphInstance 0x%08x \"%s\"", kaObjectId(node.get()), kaNameOf(node.get()));
        const bool reduces = _blendWeightCount < static_cast<uint32_t>(current);
        if (!sortForReduction(vertexArray, subject.c_str(), reduces)) return GRAPH_TRAVERSAL_CONTINUE;
        if (!reduces) {
            kaReport(out, "Geometry 0x%08x \"%s\": reduction skipped because current %d <= specified %d.\n",
                        kaObjectId(node.get()), kaNameOf(node.get()), current, static_cast<int>(_blendWeightCount));
            return GRAPH_TRAVERSAL_CONTINUE;
        }
        const kaReducedBlendWeights reduced = reduceBlendWeights(vertexArray, _blendWeightCount);
        base->setVertexArray(reduced.array);
        noteClearedSlot(subject, reduced);
        instance->setBase(base);
        kaReport(out, "MorphInstance 0x%08x \"%s\": blend weight count reduced from %d to %d.\n",
                 kaObjectId(node.get()), kaNameOf(node.get()), current,
                 reduced.array->getVertexFormat().getBlendWeightCount());
        return GRAPH_TRAVERSAL_CONTINUE;
    }
    if (!node->isOfType(kaGeometry::getClassMetaSafe())) return GRAPH_TRAVERSAL_CONTINUE;

    auto* geometry = static_cast<kaGeometry*>(node.get());
    // Positions count every entry of the list, geometry attribute or not.
    const int entryCount = geometry->getAttrs()->getCount();
    for (int i = 0; i < entryCount; ++i) {
        kaSmartPointer<kaObject> entry = geometry->getAttrs()->getShared(i);
        kaSmartPointer<kaGeometryAttr> attr = kaGeometryAttr::dynamicCast(entry.get());
        if (!attr) continue;
        // An attribute without a vertex array has no weights to treat.
        kaSmartPointer<kaVertexArray> vertexArray = attr->getVertexArray();
        if (!vertexArray) continue;
        const int current = vertexArray->getBlendWeightCount();
        const std::string subject =
            kaFormat("Geometry 0x%08x \"%s\" attr%d", kaObjectId(node.get()), kaNameOf(node.get()), i);
        const bool reduces = _blendWeightCount < static_cast<uint32_t>(current);
        if (!sortForReduction(vertexArray, subject.c_str(), reduces)) continue;
        if (!reduces) {
            kaReport(out, "Geometry 0x%08x \"%s\", attr%d: reduction skipped because current %d <= specified %d.\n",
                        kaObjectId(node.get()), kaNameOf(node.get()), i, current, static_cast<int>(_blendWeightCount));
            continue;
        }
        const kaReducedBlendWeights reduced = reduceBlendWeights(vertexArray, _blendWeightCount);
        attr->configureVertexArray(reduced.array);
        noteClearedSlot(subject, reduced);
        kaReport(out, "Geometry 0x%08x \"%s\", attr%d: blend weight count reduced from %d to %d.\n",
                 kaObjectId(node.get()), kaNameOf(node.get()), i, current,
                 reduced.array->getVertexFormat().getBlendWeightCount());
    }
    return GRAPH_TRAVERSAL_CONTINUE;
}

// ---- infos ----

bool kaReduceBlendWeights::canOptimize(kaInfo* info)
{
    return kaOptTraverseGraph::canOptimize(info) || (info && info->isOfType(kaAnimationDatabase::getClassMetaSafe()));
}

bool kaReduceBlendWeights::applyInfo(kaInfo* info)
{
    bool applied = kaOptTraverseGraph::applyInfo(info);
    if (!info || !info->isOfType(kaAnimationDatabase::getClassMetaSafe())) return applied;
    auto* database = static_cast<kaAnimationDatabase*>(info);
    database->addRef();
    kaObject::release(_animationDatabase);
    _animationDatabase = database;
    bool contentsApplied = defaultApplyAnimationDatabase(database, this);
    return applied || contentsApplied;
}

// ---- vertex-array operations ----

void kaReduceBlendWeights::sortBlendWeights(kaSmartPointer<kaVertexArray>& vertexArray)
{
    kaSortBlendWeightsByValue(*vertexArray);
}

void kaReduceBlendWeights::sortBlendWeightsByBoneDistance(kaSmartPointer<kaVertexArray>& vertexArray,
                                                          kaSkeleton* skeleton)
{
    // Without a skeleton (its lookup failed and was reported) no bone has a position: the
    // weights keep their order.
    kaInverseJointMatrixLookup lookup;
    if (skeleton)
        lookup = [this, skeleton](int blendIndex) {
            const Lode::Math::kaMatrix44f* matrix = skeleton->getInverseJointMatrix(blendIndex);
            if (!matrix) {
                kaOptInterface* out = getInterface();
                kaReport(out, "blend index %d does not have an associated bone in kaSkeleton 0x%08x \"%s\".", blendIndex,
                            kaObjectId(skeleton), kaNameOf(skeleton));
            }
            return matrix;
        };
    kaSortBlendWeightsByBoneDistance(*vertexArray, lookup);
}

kaReducedBlendWeights kaReduceBlendWeights::reduceBlendWeights(kaSmartPointer<kaVertexArray>& vertexArray,
                                                               unsigned int count)
{
    const kaKeptOrder order = _weightSortMethod == SORT_BY_WEIGHT             ? kaKeptOrder::ByValue
                              : _weightSortMethod == SORT_BY_DISTANCE_TO_BONE ? kaKeptOrder::ByBoneDistance
                                                                              : kaKeptOrder::AsStored;
    // The caller swaps the array for the reduced one: held by this pointer and its attribute or
    // morph base alone, it is then dropped, so it need not be left sorted and can give its
    // blocks away. One held elsewhere too stays as the sort leaves it.
    const kaReducedSource source = vertexArray->getRefCount() <= 2 ? kaReducedSource::LetGo : kaReducedSource::Kept;
    return kaReduceBlendWeightArray(*vertexArray, count, _weightThreshold, order, source);
}

} // namespace Lode::OptExtension
