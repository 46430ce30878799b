// kaCollectLight exists because a renderer that meets light sets all over a level rebinds
// lights at each of them; lights that do not move can all be bound once, at the top. Every
// light set that no animated transform moves gives up its lights: each light first caches its
// position (and, for directional and spot lights, its direction) as seen from the scene's root,
// then joins one collected light set that is put beside the old root under a new root group.
// The collected set is named after the sets that gave lights, "|A|B", each name once.
//
// The walk starts at the first light set of exactly that class and goes on over light sets and
// their subclasses; light sets of a subclass met before it are passed over.
#include "passes/scene/kaCollectLight.h"

#include "extension/kaOptExtensionLibrary.h"
#include "host/opt/kaIterateGraph.h"
#include "host/sg/kaLightSet.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Lode::OptExtension {

using Lode::Attrs::kaLightAttr;
using Lode::Gfx::KA_GFX_LIGHT_TYPE_DIRECTIONAL;
using Lode::Gfx::KA_GFX_LIGHT_TYPE_SPOT;
using Lode::Math::kaVec3f;
using Lode::Sg::kaLightSet;

KA_IMPLEMENT_PASS(kaCollectLight)

namespace {

// The collected set's name as it grows, answering whether a set's name already occurs in it
// anywhere (also inside a longer name or across a "|") without reading the whole name for
// every light set: for each length asked about, the hashes of all the name's windows of that
// length. A hash that matches is checked against the text itself.
class kaCollectedName {
public:
    kaCollectedName() : _prefixHashes{0} {}

    const std::string& text() const { return _text; }

    bool contains(const std::string& part)
    {
        if (part.empty()) return true;
        if (part.size() > _text.size()) return false;
        Windows& windows = windowsOf(part.size());
        uint64_t hash = 0;
        for (unsigned char c : part) hash = hash * kBase + c;
        auto found = windows.find(hash);
        if (found == windows.end()) return false;
        if (_text.compare(found->second, part.size(), part) == 0) return true;
        // Two texts with one hash: look the slow way.
        return _text.find(part) != std::string::npos;
    }

    void append(const std::string& part)
    {
        for (unsigned char c : part) {
            _text.push_back(static_cast<char>(c));
            _prefixHashes.push_back(_prefixHashes.back() * kBase + c);
        }
        for (auto& [length, windows] : _windowsByLength) addWindows(length, windows, _text.size() - part.size());
    }

private:
    static constexpr uint64_t kBase = 1099511628211ull;
    // Window hash -> the first position it starts at.
    using Windows = std::unordered_map<uint64_t, size_t>;

    Windows& windowsOf(size_t length)
    {
        auto [entry, added] = _windowsByLength.try_emplace(length);
        if (added) addWindows(length, entry->second, 0);
        return entry->second;
    }

    // Adds the windows of the length that end after position from.
    void addWindows(size_t length, Windows& windows, size_t from)
    {
        while (_powers.size() <= length) _powers.push_back(_powers.empty() ? 1 : _powers.back() * kBase);
        const size_t first = from >= length ? from - length + 1 : 0;
        for (size_t start = first; start + length <= _text.size(); ++start)
            windows.emplace(_prefixHashes[start + length] - _prefixHashes[start] * _powers[length], start);
    }

    std::string _text;
    std::vector<uint64_t> _prefixHashes;
    std::vector<uint64_t> _powers;
    std::unordered_map<size_t, Windows> _windowsByLength;
};

} // namespace

bool kaCollectLight::configure(int) { return true; }

bool kaCollectLight::canOptimize(kaNode*) { return true; }

bool kaCollectLight::apply(kaSmartPointer<kaNode>& root)
{
    kaMetaObject* lightSetMeta = kaLightSet::getClassMetaSafe();
    auto iterator = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiateFromPool(getMemoryPool()));
    auto collected = kaSmartPointer<kaLightSet>::adopt(kaLightSet::_instantiate());
    // Light lists are searched from the front; a level holds far too many lights for that.
    std::unordered_set<const kaLightAttr*> collectedLights;
    kaCollectedName collectedName;

    iterator->beginOfExactType(root, lightSetMeta);
    while (kaNode* current = iterator->getCurrent()) {
        if (!iterator->hasAnimatedTransform()) {
            kaLightSet* set = static_cast<kaLightSet*>(current);
            bool contributed = false;
            const kaMatrix44f modelView = iterator->evaluateModelViewMatrix();
            for (int i = 0; i < set->getLightCount(); ++i) {
                kaLightAttr* light = set->getLight(i);
                if (!light) continue;
                kaVec3f cached;
                cached.transformPoint(light->getPosition(), modelView);
                light->setCachedPosition(cached);
                if (light->getType() == KA_GFX_LIGHT_TYPE_DIRECTIONAL || light->getType() == KA_GFX_LIGHT_TYPE_SPOT) {
                    cached.transformVector(light->getDirection(), modelView);
                    light->setCachedDirection(cached);
                }
                if (collectedLights.insert(light).second) collected->appendLight(light);
                contributed = true;
            }
            set->getLightAttrs()->removeAll();
            if (contributed && set->getName()) {
                const std::string name = set->getName();
                if (!collectedName.contains(name)) {
                    collectedName.append("|");
                    collectedName.append(name);
                }
            }
        }
        iterator->getNextOfType(lightSetMeta);
    }
    // Nothing reads the collected set's name before it is attached: it is given once.
    collected->setName(collectedName.text().c_str());

    if (collected->getLightCount() > 0) {
        auto group = kaSmartPointer<kaGroup>::adopt(kaGroup::_instantiate());
        group->setName("");
        kaOptReplaceNode::doReplaceNode(root, group);
        group->appendChild(root);
        group->appendChild(collected);
        root = group;
    }
    return true;
}

} // namespace Lode::OptExtension
