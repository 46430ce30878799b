#include "host/io/kaGltfSkinPalettes.h"

#include <algorithm>
#include <unordered_map>

namespace Lode::Io {

using namespace Lode::Gfx;

namespace {

// The primitives as a list: strips and fans become triangles (every other strip triangle turned
// back to its winding), line strips become lines.
std::vector<uint32_t> asList(const std::vector<uint32_t>& indices, KA_GFX_DRAW& draw, int& unit)
{
    std::vector<uint32_t> list;
    const size_t n = indices.size();
    switch (draw) {
    case KA_GFX_DRAW_TRIANGLE_STRIP:
        for (size_t i = 0; i + 2 < n; ++i) {
            const bool odd = i % 2 == 1;
            list.insert(list.end(), {indices[odd ? i + 1 : i], indices[odd ? i : i + 1], indices[i + 2]});
        }
        draw = KA_GFX_DRAW_TRIANGLES;
        break;
    case KA_GFX_DRAW_TRIANGLE_FAN:
        for (size_t i = 1; i + 1 < n; ++i) list.insert(list.end(), {indices[0], indices[i], indices[i + 1]});
        draw = KA_GFX_DRAW_TRIANGLES;
        break;
    case KA_GFX_DRAW_LINE_STRIP:
        for (size_t i = 0; i + 1 < n; ++i) list.insert(list.end(), {indices[i], indices[i + 1]});
        draw = KA_GFX_DRAW_LINES;
        break;
    default: list = indices;
    }
    unit = draw == KA_GFX_DRAW_TRIANGLES ? 3 : draw == KA_GFX_DRAW_LINES ? 2 : 1;
    list.resize(list.size() / unit * unit);
    return list;
}

} // namespace

void kaSplitIntoPalettes(const std::vector<uint32_t>& indices, KA_GFX_DRAW& draw, const uint32_t* joints,
                         const float* weights, int slots, std::vector<kaPalettePart>& parts)
{
    int unit = 1;
    const std::vector<uint32_t> list = asList(indices, draw, unit);
    struct kaBuilding {
        kaPalettePart part;
        std::unordered_map<uint32_t, uint32_t> palette;  // skin joint -> palette index
        std::unordered_map<uint32_t, uint32_t> vertex;   // source vertex -> part vertex
    };
    std::vector<kaBuilding> building;
    std::vector<uint32_t> needed;
    for (size_t first = 0; first < list.size(); first += unit) {
        needed.clear();
        for (int corner = 0; corner < unit; ++corner)
            for (int k = 0; k < slots; ++k) {
                const size_t slot = size_t(list[first + corner]) * slots + k;
                if (weights[slot] != 0.0f && std::find(needed.begin(), needed.end(), joints[slot]) == needed.end())
                    needed.push_back(joints[slot]);
            }
        const auto fits = [&](const kaBuilding& candidate) {
            size_t added = 0;
            for (uint32_t joint : needed) added += candidate.palette.count(joint) ? 0 : 1;
            return candidate.palette.size() + added <= kaMaxPaletteJoints;
        };
        auto at = std::find_if(building.begin(), building.end(), fits);
        if (at == building.end()) at = building.emplace(building.end());
        for (uint32_t joint : needed)
            if (at->palette.emplace(joint, uint32_t(at->part.joints.size())).second) at->part.joints.push_back(joint);
        for (int corner = 0; corner < unit; ++corner) {
            const uint32_t source = list[first + corner];
            const auto [entry, added] = at->vertex.emplace(source, uint32_t(at->part.vertices.size()));
            if (added) at->part.vertices.push_back(source);
            at->part.indices.push_back(entry->second);
        }
    }
    parts.clear();
    for (kaBuilding& part : building) parts.push_back(std::move(part.part));
}

} // namespace Lode::Io
