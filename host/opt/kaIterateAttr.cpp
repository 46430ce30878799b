#include "host/opt/kaIterateAttr.h"

#include "host/sg/kaAttrSet.h"

namespace Lode::Opt {

using Lode::Sg::kaAttrSet;

KA_IMPLEMENT_CLASS(kaIterateAttr)

void kaIterateAttr::pushAttrsOf(const kaNode* node)
{
    const kaAttrSet* attrSet = kaAttrSet::dynamicCast(node);
    if (!attrSet) return;
    for (int i = 0; i < attrSet->getAttrCount(); ++i) {
        kaAttr* attr = attrSet->getAttr(i);
        if (!attr) continue;
        for (ClassStack& classStack : _classStacks)
            if (attr->isOfType(classStack.meta)) classStack.positions.push_back(_attrStack.size());
        _attrStack.emplace_back(attr);
    }
}

void kaIterateAttr::truncateStack(size_t size)
{
    _attrStack.resize(size);
    for (ClassStack& classStack : _classStacks)
        while (!classStack.positions.empty() && classStack.positions.back() >= size) classStack.positions.pop_back();
}

void kaIterateAttr::validateAttrStack()
{
    if (_stackMoveCount == getMoveCount()) return;
    _stackMoveCount = getMoveCount();
    // Only the end of the path moved since the last build: keep the frames of the entries that
    // stayed, replace the rest and the current node's attributes.
    const std::vector<PathEntry>& path = getPath();
    while (!_frames.empty() &&
           (_frames.size() > path.size() || _frames.back().joinedAt != path[_frames.size() - 1].joinedAt))
        _frames.pop_back();
    truncateStack(_frames.empty() ? 0 : _frames.back().stackEnd);
    for (size_t i = _frames.size(); i < path.size(); ++i) {
        pushAttrsOf(path[i].group.get());
        _frames.push_back({path[i].joinedAt, _attrStack.size()});
    }
    if (getCurrent()) pushAttrsOf(getCurrent());
}

kaAttr* kaIterateAttr::getTopAttr(const kaMetaObject* meta, int index)
{
    validateAttrStack();
    ClassStack* found = nullptr;
    for (ClassStack& classStack : _classStacks)
        if (classStack.meta == meta) found = &classStack;
    if (!found) {
        found = &_classStacks.emplace_back(ClassStack{meta, {}});
        for (size_t position = 0; position < _attrStack.size(); ++position)
            if (_attrStack[position]->isOfType(meta)) found->positions.push_back(position);
    }
    const std::vector<size_t>& positions = found->positions;
    if (index < 0 || static_cast<size_t>(index) >= positions.size()) return nullptr;
    return _attrStack[positions[positions.size() - 1 - static_cast<size_t>(index)]].get();
}

} // namespace Lode::Opt
