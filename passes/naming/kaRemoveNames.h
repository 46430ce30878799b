// kaRemoveNames: removes the name of every named object of the scene.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaRemoveNames : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaRemoveNames, kaOptVisitObject)
public:
    bool configure(int section) override;
    bool visitor(kaObject* object) override;
    kaMetaObject* getVisitedObjectMeta() override;

protected:
    void removeName(kaNamedObject* object);
};

} // namespace Lode::OptExtension
