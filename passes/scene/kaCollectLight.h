// kaCollectLight: moves the lights of every static light set into one light set beside the
// scene's root, each light with its placement in the whole scene cached.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaCollectLight : public kaOptBase {
    KA_DECLARE_CLASS(kaCollectLight, kaOptBase)
public:
    bool apply(kaSmartPointer<kaNode>& root) override;
    bool canOptimize(kaNode* node) override;
    using kaOptBase::canOptimize;
    bool configure(int section) override;
};

} // namespace Lode::OptExtension
