// kaConvertMorphInstance: replaces every first-generation morph instance (sparse displacements
// per target) by a second-generation one (dense morph data per vertex component) that draws
// the same vertices for the same target weights.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaConvertMorphInstance : public kaOptReplaceNode {
    KA_DECLARE_CLASS(kaConvertMorphInstance, kaOptReplaceNode)
public:
    bool configure(int section) override;
    kaMetaObject* getNodeMeta() override;
    bool replaceNode(kaSmartPointer<kaNode>& node, kaSmartPointer<kaNode>& replacement) override;
};

} // namespace Lode::OptExtension
