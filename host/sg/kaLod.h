// A level-of-detail group: child i is drawn while the viewer is nearer than range i and not
// nearer than range i-1, so the children go from the most detailed (nearest) outwards.
#pragma once

#include "host/sg/kaGroup.h"

namespace Lode::Sg {

class kaLod : public kaGroup {
    KA_DECLARE_CLASS(kaLod, kaGroup)
public:
    int getRangeCount() const { return _ranges->getCount(); }
    float getRange(int index) const { return _ranges->get(index); }
    void appendRange(float range) { _ranges->append(range); }
    kaFloatList* getRanges() const { return _ranges; }
    // The child drawn at a distance: the first whose range lies above it; -1 beyond the last
    // range (nothing is drawn) or when the ranges outnumber the children there.
    int selectChild(float distance) const;

protected:
    kaLod() = default;

    kaSmartPointer<kaFloatList> _ranges;
};

} // namespace Lode::Sg
