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
    // Who holds the rights to the scene, as the file it came from said (null: not said).
    const char* getCopyright() const { return _copyright.c_str(); }
    void setCopyright(const char* copyright) { _copyright = copyright; }
    // The extensions the file required its readers to know, blank-separated (null: none).
    const char* getRequiredExtensions() const { return _requiredExtensions.c_str(); }
    void setRequiredExtensions(const char* names) { _requiredExtensions = names; }

private:
    kaSmartPointer<kaNode> _root;
    kaStringRef _copyright;
    kaStringRef _requiredExtensions;
};

} // namespace Lode::Sg
