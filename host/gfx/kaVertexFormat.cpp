#include "host/gfx/kaVertexFormat.h"

namespace Lode::Gfx {

std::string kaVertexFormat::toText() const
{
    std::string text;
    auto append = [&text](const std::string& piece) {
        if (!text.empty()) text += ' ';
        text += piece;
    };
    if (hasPositions()) append("P");
    if (hasNormals()) append("N");
    if (hasColors()) append("C");
    if (int count = getBlendWeightCount()) append("B=" + std::to_string(count));
    if (int count = getBlendIndexCount()) append("I=" + std::to_string(count));
    if (int count = getTextureCoordSetCount()) append("T=" + std::to_string(count));
    if (int count = getPointSpriteCoordCount()) append("S=" + std::to_string(count));
    return text.empty() ? "none" : text;
}

} // namespace Lode::Gfx
