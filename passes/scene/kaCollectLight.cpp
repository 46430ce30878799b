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

#include "passes/kaPassRegistration.h"
#include "host/opt/kaIterateGraph.h"
#include "host/sg/kaLightSet.h"

#include <string>
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
// anywhere (also inside a longer name or across a "|") in time that grows with the set's name
// only, never with the collected name: the suffix automaton of the collected name, which every
// substring of it, and nothing else, leads through. It is extended a character at a time, in
// time and memory linear in the whole name, whatever the lengths of the names it is made of.
class kaCollectedName {
public:
    const std::string& text() const { return _text; }

    bool contains(const std::string& part) const
    {
        int state = 0;
        for (unsigned char c : part)
            if ((state = next(state, c)) < 0) return false;
        return true;
    }

    void append(const std::string& part)
    {
        for (unsigned char c : part) extend(c);
        _text += part;
    }

private:
    // The states and their transitions each in one array: a name of a few million characters
    // makes millions of them, which must not be an allocation each.
    struct State {
        int length;     // of the longest text that leads here
        int link;       // the state of its longest suffix that leads elsewhere
        int firstEdge;  // its transitions, a list through Edge::nextEdge; -1: none
    };
    struct Edge {
        int target;
        int nextEdge;
        unsigned char label;
    };

    int next(int state, unsigned char c) const
    {
        for (int e = _states[state].firstEdge; e >= 0; e = _edges[e].nextEdge)
            if (_edges[e].label == c) return _edges[e].target;
        return -1;
    }

    void setNext(int state, unsigned char c, int target)
    {
        for (int e = _states[state].firstEdge; e >= 0; e = _edges[e].nextEdge)
            if (_edges[e].label == c) {
                _edges[e].target = target;
                return;
            }
        _edges.push_back({target, _states[state].firstEdge, c});
        _states[state].firstEdge = static_cast<int>(_edges.size()) - 1;
    }

    void extend(unsigned char c)
    {
        const int added = static_cast<int>(_states.size());
        _states.push_back({_states[_last].length + 1, -1, -1});
        int state = _last;
        for (; state >= 0 && next(state, c) < 0; state = _states[state].link) setNext(state, c, added);
        if (state < 0) {
            _states[added].link = 0;
        } else if (const int target = next(state, c); _states[state].length + 1 == _states[target].length) {
            _states[added].link = target;
        } else {
            const int clone = static_cast<int>(_states.size());
            _states.push_back({_states[state].length + 1, _states[target].link, -1});
            for (int e = _states[target].firstEdge; e >= 0; e = _edges[e].nextEdge) {
                _edges.push_back({_edges[e].target, _states[clone].firstEdge, _edges[e].label});
                _states[clone].firstEdge = static_cast<int>(_edges.size()) - 1;
            }
            for (; state >= 0 && next(state, c) == target; state = _states[state].link) setNext(state, c, clone);
            _states[target].link = clone;
            _states[added].link = clone;
        }
        _last = added;
    }

    std::string _text;
    std::vector<State> _states{{0, -1, -1}};
    std::vector<Edge> _edges;
    int _last = 0;
};

} // namespace

bool kaCollectLight::configure(int) { return true; }

bool kaCollectLight::canOptimize(kaNode*) { return true; }

bool kaCollectLight::apply(kaSmartPointer<kaNode>& root)
{
    kaMetaObject* lightSetMeta = kaLightSet::getClassMetaSafe();
    auto iterator = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiateFromPool(getMemoryPool()));
    auto collected = make<kaLightSet>();
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
        auto group = make<kaGroup>();
        group->setName("");
        kaOptReplaceNode::doReplaceNode(root, group);
        group->appendChild(root);
        group->appendChild(collected);
        root = group;
    }
    return true;
}

} // namespace Lode::OptExtension
