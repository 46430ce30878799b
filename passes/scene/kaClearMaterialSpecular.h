// kaClearMaterialSpecular: sets the specular colour of every material in the scene to black.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaClearMaterialSpecular : public kaOptBase {
    KA_DECLARE_CLASS(kaClearMaterialSpecular, kaOptBase)
public:
    bool apply(kaSmartPointer<kaNode>& root) override;
    bool canOptimize(kaNode* node) override;
    using kaOptBase::canOptimize;
    bool configure(int section) override;
};

} // namespace Lode::OptExtension
