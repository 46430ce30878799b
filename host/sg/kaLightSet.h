// A group that lights everything below it with the lights it holds.
#pragma once

#include "host/attrs/kaLightAttr.h"
#include "host/sg/kaGroup.h"

namespace Lode::Sg {

using Lode::Attrs::kaLightAttr;
using Lode::Attrs::kaLightAttrList;

class kaLightSet : public kaGroup {
    KA_DECLARE_CLASS(kaLightSet, kaGroup)
public:
    int getLightCount() const { return _lights->getCount(); }
    // Null for a position outside the list or an empty entry.
    kaLightAttr* getLight(int index) const;
    void appendLight(kaLightAttr* light) { _lights->append(light); }
    kaLightAttrList* getLightAttrs() const { return _lights; }

protected:
    kaLightSet() = default;

    kaSmartPointer<kaLightAttrList> _lights;
};

} // namespace Lode::Sg
