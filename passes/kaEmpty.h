// kaEmpty: a pass that does nothing, the whole of a pass in its plainest form.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaEmpty : public kaOptBase {
    KA_DECLARE_CLASS(kaEmpty, kaOptBase)
public:
    bool apply(kaSmartPointer<kaNode>& root) override;
    bool canOptimize(kaNode* node) override;
    using kaOptBase::canOptimize;
    bool configure(int section) override;
};

} // namespace Lode::OptExtension
