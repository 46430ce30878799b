#include "host/opt/kaIterateGraph.h"

#include "host/sg/kaTransform.h"

namespace Lode::Opt {

using Lode::Sg::kaTransform;

KA_IMPLEMENT_CLASS(kaIterateGraph)

namespace {

bool matches(const kaNode* node, const kaMetaObject* meta) { return !meta || node->isOfType(meta); }

} // namespace

void kaIterateGraph::restart(kaNode* start)
{
    _path.clear();
    _placements.clear();
    _visitedNodes.clear();
    _visitedSet.clear();
    _interrupted = false;
    _walk = kaObject::beginWalk();
    _current = nullptr;
    if (start) moveTo(start);
}

void kaIterateGraph::moveTo(kaNode* node)
{
    _current = node;
    ++_moveCount;
    if (!node) return;
    if (_interrupted)
        _visitedSet.insert(node);
    else
        node->markReached(_walk);
    _visitedNodes.emplace_back(node);
}

void kaIterateGraph::leaveMarksIfInterrupted()
{
    if (_interrupted || kaObject::getLastWalk() == _walk) return;
    _interrupted = true;
    _visitedSet.reserve(_visitedNodes.size());
    for (const kaSmartPointer<kaNode>& node : _visitedNodes) _visitedSet.insert(node.get());
}

bool kaIterateGraph::wasVisited(const kaNode* node) const
{
    return _interrupted ? _visitedSet.count(node) != 0 : node->isReached(_walk);
}

void kaIterateGraph::step()
{
    if (!_current) return;
    leaveMarksIfInterrupted();
    if (kaGroup* group = kaGroup::dynamicCast(_current.get())) _path.push_back({group, 0, nullptr, _moveCount});
    while (!_path.empty()) {
        PathEntry& entry = _path.back();
        const int count = entry.group->getChildCount();
        // Children taken out before the position moved the rest down: look again from the
        // first child, passing over those visited already.
        if (entry.nextChild > 0 &&
            (entry.nextChild > count || entry.group->getChild(entry.nextChild - 1) != entry.lastChild))
            entry.nextChild = 0;
        while (entry.nextChild < count) {
            kaNode* child = entry.group->getChild(entry.nextChild++);
            if (child && !wasVisited(child)) {
                entry.lastChild = child;
                moveTo(child);
                return;
            }
        }
        _path.pop_back();
    }
    moveTo(nullptr);
}

kaNode* kaIterateGraph::beginOfType(kaNode* start, const kaMetaObject* meta)
{
    restart(start);
    if (_current && !matches(_current, meta)) return getNextOfType(meta);
    return _current;
}

kaNode* kaIterateGraph::beginOfExactType(kaNode* start, const kaMetaObject* meta)
{
    restart(start);
    while (_current && _current->getMetaObject() != meta) step();
    return _current;
}

kaNode* kaIterateGraph::getNextOfType(const kaMetaObject* meta)
{
    do {
        step();
    } while (_current && !matches(_current, meta));
    return _current;
}

const kaIterateGraph::Placement* kaIterateGraph::placementAbove() const
{
    // Only the end of the path moved since the last call: keep the placements of the entries
    // that stayed.
    while (!_placements.empty() && (_placements.size() > _path.size() ||
                                    _placements.back().joinedAt != _path[_placements.size() - 1].joinedAt))
        _placements.pop_back();
    for (size_t i = _placements.size(); i < _path.size(); ++i) {
        Placement placement = i == 0 ? Placement{0, kaMatrix44f(), false} : _placements[i - 1];
        placement.joinedAt = _path[i].joinedAt;
        if (const kaTransform* transform = kaTransform::dynamicCast(_path[i].group.get())) {
            placement.matrix = transform->getMatrix() * placement.matrix;
            placement.animated = placement.animated || transform->isAnimated();
        }
        _placements.push_back(placement);
    }
    return _placements.empty() ? nullptr : &_placements.back();
}

bool kaIterateGraph::hasAnimatedTransform() const
{
    const Placement* placement = placementAbove();
    return placement && placement->animated;
}

kaMatrix44f kaIterateGraph::evaluateModelViewMatrix() const
{
    const Placement* placement = placementAbove();
    return placement ? placement->matrix : kaMatrix44f();
}

} // namespace Lode::Opt
