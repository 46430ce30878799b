#include "host/sg/kaMorph.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Lode::Sg {

namespace {

// Brings an object list to count entries: new entries are empty, surplus ones let go.
void resizeList(kaObjectList& list, int count)
{
    while (list.getCount() > count) list.remove(list.getCount() - 1);
    while (list.getCount() < count) list.append(nullptr);
}

void setTargetEntry(kaMorphBase& base, kaObjectList& list, int target, kaObject* value)
{
    if (target < 0) return;
    if (target >= base.getTargetCount()) base.setTargetCount(target + 1);
    list.set(target, value);
}

// Copies one component of every vertex (3 floats at source + v * 3) into an aligned list.
void copyComponent(const float* source, int count, kaVec3fAlignedList& out)
{
    out.setCount(count);
    float* dense = out.data();
    for (int v = 0; v < count; ++v)
        std::copy(source + v * 3, source + v * 3 + 3, dense + v * kaVec3fAlignedList::FloatsPerElement);
}

void normalizeAll(kaVec3fAlignedList& list)
{
    for (int v = 0; v < list.getCount(); ++v) {
        kaVec3f value = list.get(v);
        if (value.normalize() > 0.0f) list.set(v, value);
    }
}

} // namespace

kaMorphPlacement kaPlaceDisplacements(const kaVec3fList* displacements, const kaIntList* indices, int vertexCount,
                                      float* dense, int stride)
{
    kaMorphPlacement result;
    if (!displacements || !indices) return result;
    const int pairs = indices->getCount() - 1;
    for (int k = 0; k < pairs; ++k) {
        if (k >= displacements->getCount()) {
            result.withoutDisplacement = pairs - k;
            break;
        }
        const int vertex = indices->get(k);
        if (vertex < 0 || vertex >= vertexCount) {
            ++result.outOfRange;
            continue;
        }
        const kaVec3f value = displacements->get(k);
        float* entry = dense + static_cast<size_t>(vertex) * stride;
        entry[0] = value.x;
        entry[1] = value.y;
        entry[2] = value.z;
        ++result.placed;
    }
    return result;
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMorphSequence)

void kaMorphSequence::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphSequence, _initialWeights),
               kaFloatList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMorphBase, kaVertexArray::arkRegister, kaVec3fListList::arkRegister,
                               kaIntListList::arkRegister)

void kaMorphBase::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _vertexArray),
               kaVertexArray::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _positionDisplacements),
               kaVec3fListList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _positionIndices),
               kaIntListList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _normalDisplacements),
               kaVec3fListList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _normalIndices),
               kaIntListList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

void kaMorphBase::setTargetCount(int count)
{
    if (count < 0) count = 0;
    resizeList(*_positionDisplacements, count);
    resizeList(*_positionIndices, count);
    resizeList(*_normalDisplacements, count);
    resizeList(*_normalIndices, count);
}

void kaMorphBase::appendTarget(kaVec3fList* positionDisplacements, kaIntList* positionIndices,
                               kaVec3fList* normalDisplacements, kaIntList* normalIndices)
{
    _positionDisplacements->append(positionDisplacements);
    _positionIndices->append(positionIndices);
    _normalDisplacements->append(normalDisplacements);
    _normalIndices->append(normalIndices);
}

void kaMorphBase::setPositionDisplacementVec(int target, kaVec3fList* displacements)
{
    setTargetEntry(*this, *_positionDisplacements, target, displacements);
}

void kaMorphBase::setPositionIndexArray(int target, kaIntList* indices)
{
    setTargetEntry(*this, *_positionIndices, target, indices);
}

void kaMorphBase::setNormalDisplacementVec(int target, kaVec3fList* displacements)
{
    setTargetEntry(*this, *_normalDisplacements, target, displacements);
}

void kaMorphBase::setNormalIndexArray(int target, kaIntList* indices)
{
    setTargetEntry(*this, *_normalIndices, target, indices);
}

void kaMorphBase::afterRead() { setTargetCount(getTargetCount()); }

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMorphInstance, kaMorphBase::arkRegister, kaMorphSequence::arkRegister)

void kaMorphInstance::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance, _base), kaMorphBase::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance, _morphSequence),
               kaMorphSequence::getClassTypeLazy());
    fields.declare();
}

bool kaMorphInstance::evaluate(const float* weights, int weightCount, kaVec3fAlignedList* positions,
                               kaVec3fAlignedList* normals) const
{
    positions->removeAll();
    normals->removeAll();
    const kaVertexArray* vertices = _base ? _base->getVertexArray() : nullptr;
    if (!vertices) return false;
    const int n = vertices->getVertexCount();
    const bool hasNormals = vertices->getVertexFormat().hasNormals() && vertices->normalData();
    if (n > 0) copyComponent(vertices->positionData(), n, *positions);
    if (hasNormals && n > 0) copyComponent(vertices->normalData(), n, *normals);
    constexpr int stride = kaVec3fAlignedList::FloatsPerElement;
    std::vector<float> dense;
    const auto addTarget = [&](const kaVec3fList* displacements, const kaIntList* indices, float weight,
                               kaVec3fAlignedList& out) {
        dense.assign(static_cast<size_t>(n) * stride, 0.0f);
        kaPlaceDisplacements(displacements, indices, n, dense.data(), stride);
        float* values = out.data();
        for (size_t e = 0; e < dense.size(); ++e) values[e] += weight * dense[e];
    };
    const int targetCount = std::min(weightCount, _base->getTargetCount());
    for (int t = 0; t < targetCount && n > 0; ++t) {
        if (weights[t] == 0.0f) continue;
        addTarget(_base->getPositionDisplacementVec(t), _base->getPositionIndexArray(t), weights[t], *positions);
        if (hasNormals)
            addTarget(_base->getNormalDisplacementVec(t), _base->getNormalIndexArray(t), weights[t], *normals);
    }
    if (hasNormals) normalizeAll(*normals);
    return true;
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMorphInstance2, kaMorphSequence::arkRegister, kaMorphedGeometryAttr::arkRegister)

void kaMorphInstance2::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance2, _morphSequence),
               kaMorphSequence::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance2, _morphGeometry),
               kaMorphedGeometryAttr::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance2, _coefficients),
               kaFloatList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

bool kaMorphInstance2::evaluate(kaVec3fAlignedList* positions, kaVec3fAlignedList* normals) const
{
    positions->removeAll();
    normals->removeAll();
    const Lode::Attrs::kaMorphDataList* morphs = _morphGeometry ? _morphGeometry->getMorphList() : nullptr;
    const auto data = [morphs](int slot) {
        return morphs && slot < morphs->getCount() ? Lode::Attrs::kaVector3MorphData::dynamicCast(morphs->getShared(slot))
                                                   : nullptr;
    };
    if (!data(0)) return false;
    data(0)->blend(_coefficients->data(), _coefficients->getCount(), positions);
    if (data(1)) data(1)->blend(_coefficients->data(), _coefficients->getCount(), normals);
    return true;
}

} // namespace Lode::Sg
