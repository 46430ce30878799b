// kaConvertGeometryAttr: replaces every first-generation geometry attribute by a
// second-generation one at the same place, with its vertices copied into a kaVertexArray2.
#pragma once

#include "host/opt/kaOptBase.h"
#include "passes/kaSharedReplacements.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaConvertGeometryAttr : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaConvertGeometryAttr, kaOptVisitObject)
public:
    bool canOptimize(kaNode* node) override;
    using kaOptVisitObject::canOptimize;
    bool configure(int section) override;
    bool visitor(kaObject* object) override;
    kaMetaObject* getVisitedObjectMeta() override;
    bool postVisit() override;

private:
    // Attributes and vertex arrays with several holders converted so far in this run.
    kaSharedReplacements _converted;
};

} // namespace Lode::OptExtension
