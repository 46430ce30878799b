// kaRemoveParentList: drops every node's list of its parents; the parents keep their children.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::Sg {
class kaNode;
}

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaRemoveParentList : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaRemoveParentList, kaOptVisitObject)
public:
    bool configure(int section) override;
    bool visitor(kaObject* object) override;
    kaMetaObject* getVisitedObjectMeta() override;

protected:
    void removeParentList(Lode::Sg::kaNode* node);
};

} // namespace Lode::OptExtension
