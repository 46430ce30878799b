// Compares two object graphs through reflection, for round trips through files.
#pragma once

#include "host/core/kaMeta.h"
#include "host/core/kaObject.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kaTest {

// Whether the graphs below a and b match object for object: the same classes, the same stored
// field values, references that lead to matching objects, and sharing mirrored one to one.
// With a tolerance, floats (fields, arrays and blocks) may differ by that much relative to their
// size; without, they keep their bits. Says where they first differ, "" where they do not.
inline std::string graphDifference(Lode::Core::kaObject* a, Lode::Core::kaObject* b, float tolerance = 0)
{
    using namespace Lode::Core;
    const auto near = [tolerance](const float* x, const float* y, size_t count) {
        for (size_t i = 0; i < count; ++i)
            if (!(std::abs(x[i] - y[i]) <= tolerance * std::max(1.0f, std::abs(x[i])))) return false;
        return true;
    };
    std::unordered_map<const kaObject*, const kaObject*> forward, backward;
    std::vector<std::pair<kaObject*, kaObject*>> pending{{a, b}};
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        if (!x || !y) {
            if (x != y) return "a reference is null on one side only";
            continue;
        }
        auto known = forward.find(x);
        if (known != forward.end()) {
            if (known->second != y) return std::string("a shared ") + x->getMetaObject()->getName() + " was split";
            continue;
        }
        if (backward.count(y)) return std::string("two ") + x->getMetaObject()->getName() + " objects were merged";
        forward.emplace(x, y);
        backward.emplace(y, x);
        const kaMetaObject* meta = x->getMetaObject();
        if (meta != y->getMetaObject()) return std::string(meta->getName()) + " became " + y->getMetaObject()->getName();
        for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
            const kaMetaField* field = meta->getIndexedMetaField(i);
            if (field->isTransient()) continue;
            const std::string where = x->toText() + "." + field->getName();
            switch (field->getKind()) {
            case kaFieldKind::ObjectRef: {
                auto* ref = static_cast<const kaObjectRefMetaField*>(field);
                pending.emplace_back(ref->get(x), ref->get(y));
                break;
            }
            case kaFieldKind::ObjectList: {
                auto* list = static_cast<const kaObjectListMetaField*>(field);
                if (list->get(x).size() != list->get(y).size()) return where + " changed length";
                for (size_t k = 0; k < list->get(x).size(); ++k) pending.emplace_back(list->get(x)[k], list->get(y)[k]);
                break;
            }
            case kaFieldKind::DataBlock: {
                auto* block = static_cast<const kaDataBlockMetaField*>(field);
                const size_t bytes = block->getByteSize(x);
                const bool floats = tolerance > 0 && std::strcmp(block->getElementTypeName(), "float") == 0;
                if (bytes != block->getByteSize(y) ||
                    (floats ? !near(static_cast<const float*>(block->getBytes(x)), static_cast<const float*>(block->getBytes(y)),
                                    bytes / sizeof(float))
                            : bytes && std::memcmp(block->getBytes(x), block->getBytes(y), bytes) != 0))
                    return where + " differs";
                break;
            }
            case kaFieldKind::Float: {
                auto* scalar = static_cast<const kaFloatMetaField*>(field);
                const float values[] = {scalar->get(x), scalar->get(y)};
                if (tolerance > 0 && near(&values[0], &values[1], 1)) break;
                if (field->toText(x) != field->toText(y))
                    return where + ": " + field->toText(x) + " became " + field->toText(y);
                break;
            }
            case kaFieldKind::FloatArray: {
                auto* array = static_cast<const kaFloatArrayMetaField*>(field);
                if (tolerance > 0 && near(array->get(x), array->get(y), size_t(array->getCount()))) break;
                [[fallthrough]];
            }
            default:
                if (field->toText(x) != field->toText(y))
                    return where + ": " + field->toText(x) + " became " + field->toText(y);
            }
        }
    }
    return "";
}

} // namespace kaTest
