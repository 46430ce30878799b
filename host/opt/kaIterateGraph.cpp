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
    _visitedNodes.clear();
    _walk = kaObject::beginWalk();
    _current = nullptr;
    if (start) moveTo(start);
}

void kaIterateGraph::moveTo(kaNode* node)
{
    _current = node;
    ++_moveCount;
    if (!node) return;
    node->markReached(_walk);
    _visitedNodes.emplace_back(node);
}

void kaIterateGraph::renewMarks()
{
    if (kaObject::getLastWalk() == _walk) return;
    _walk = kaObject::beginWalk();
    for (const kaSmartPointer<kaNode>& node : _visitedNodes) node->markReached(_walk);
}

void kaIterateGraph::step()
{
    if (!_current) return;
    renewMarks();
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
            if (child && !child->isReached(_walk)) {
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

bool kaIterateGraph::hasAnimatedTransform() const
{
    for (const PathEntry& entry : _path)
        if (const kaTransform* transform = kaTransform::dynamicCast(entry.group.get()))
            if (transform->isAnimated()) return true;
    return false;
}

kaMatrix44f kaIterateGraph::evaluateModelViewMatrix() const
{
    kaMatrix44f matrix;
    for (auto entry = _path.rbegin(); entry != _path.rend(); ++entry)
        if (const kaTransform* transform = kaTransform::dynamicCast(entry->group.get()))
            matrix *= transform->getMatrix();
    return matrix;
}

} // namespace Lode::Opt
