#include "host/opt/kaAnimationDatabaseApply.h"

namespace Lode::Opt {

using Lode::Sg::kaSceneInfo;

bool defaultApplyAnimationDatabase(Lode::Sg::kaAnimationDatabase* database, kaOptBase* pass)
{
    if (!database || !pass) return false;
    // The pass may change the database's list of infos while it works; walk a held copy.
    const kaInfoList* held = database->getInfoList();
    std::vector<kaSmartPointer<kaInfo>> infos;
    for (int i = 0; i < held->getCount(); ++i) infos.emplace_back(held->getShared(i));
    bool allApplied = true;
    for (auto& info : infos) {
        kaSceneInfo* sceneInfo = kaSceneInfo::dynamicCast(info.get());
        if (!sceneInfo || !sceneInfo->getSceneGraph()) continue;
        kaSmartPointer<kaNode> root = sceneInfo->getSceneGraph();
        if (!pass->canOptimize(root.get())) continue;
        if (!pass->apply(root)) allApplied = false;
        if (root != sceneInfo->getSceneGraph()) sceneInfo->setSceneGraph(root);
    }
    return allApplied;
}

} // namespace Lode::Opt
