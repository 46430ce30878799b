#include "host/attrs/kaMorphedGeometryAttr.h"

#include <algorithm>
#include <cmath>

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS(kaMorphData)
KA_IMPLEMENT_OBJECT_LIST(kaMorphDataList)

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaVector3MorphData, kaVec3fAlignedList::arkRegister,
                               kaVec3fAlignedListList::arkRegister)

void kaVector3MorphData::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaIntMetaField>, KA_FIELD(kaVector3MorphData, _elementCount), 0);
    fields.add(kaNoHandle<kaIntMetaField>, KA_FIELD(kaVector3MorphData, _normalizeResult), 0);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaVector3MorphData, _base),
               kaVec3fAlignedList::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaVector3MorphData, _targets),
               kaVec3fAlignedListList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

void kaVector3MorphData::blend(const float* weights, int weightCount, kaVec3fAlignedList* result) const
{
    constexpr int stride = kaVec3fAlignedList::FloatsPerElement;
    result->removeAll();
    result->setCount(_elementCount);
    if (!_base) return;
    float* out = result->data();
    const int baseCount = std::min(_elementCount, _base->getCount());
    std::copy(_base->data(), _base->data() + static_cast<size_t>(baseCount) * stride, out);
    const int targetCount = std::min(weightCount, getTargetCount());
    for (int t = 0; t < targetCount; ++t) {
        const kaVec3fAlignedList* target = getTarget(t);
        const float weight = weights[t];
        if (!target || weight == 0.0f) continue;
        const float* in = target->data();
        const int count = std::min(baseCount, target->getCount());
        for (int e = 0; e < count * stride; ++e) out[e] += weight * in[e];
    }
    if (!_normalizeResult) return;
    for (int e = 0; e < baseCount; ++e) {
        float* v = out + static_cast<size_t>(e) * stride;
        const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (length > 0.0f) {
            v[0] /= length;
            v[1] /= length;
            v[2] /= length;
        }
    }
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMorphedGeometryAttr, kaGeometryAttr::arkRegister, kaMorphDataList::arkRegister)

void kaMorphedGeometryAttr::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphedGeometryAttr, _geometry),
               kaGeometryAttr::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphedGeometryAttr, _morphList),
               kaMorphDataList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

} // namespace Lode::Attrs
