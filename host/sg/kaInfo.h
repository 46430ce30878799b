// Infos: the top-level objects of a scene file. The scene info holds the scene graph's root;
// other infos (animation databases) hold what the graph refers to.
#pragma once

#include "host/sg/kaNode.h"

namespace Lode::Sg {

class kaInfo : public kaNamedObject {
    KA_DECLARE_CLASS(kaInfo, kaNamedObject)
};

KA_DECLARE_OBJECT_LIST(kaInfoList, kaInfo)

class kaSceneInfo : public kaInfo {
    KA_DECLARE_CLASS(kaSceneInfo, kaInfo)
public:
    kaNode* getSceneGraph() const { return _root; }
    void setSceneGraph(kaNode* root) { _root = root; }

private:
    kaSmartPointer<kaNode> _root;
};

} // namespace Lode::Sg
