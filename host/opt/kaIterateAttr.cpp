#include "host/opt/kaIterateAttr.h"

#include "host/sg/kaAttrSet.h"

namespace Lode::Opt {

using Lode::Sg::kaAttrSet;

KA_IMPLEMENT_CLASS(kaIterateAttr)

namespace {

void pushAttrs(const kaNode* node, std::vector<kaAttr*>& stack)
{
    const kaAttrSet* attrSet = kaAttrSet::dynamicCast(node);
    if (!attrSet) return;
    for (int i = 0; i < attrSet->getAttrCount(); ++i)
        if (kaAttr* attr = attrSet->getAttr(i)) stack.push_back(attr);
}

} // namespace

void kaIterateAttr::validateAttrStack()
{
    if (_stackMoveCount == getMoveCount()) return;
    _stackMoveCount = getMoveCount();
    _attrStack.clear();
    if (!getCurrent()) return;
    for (const PathEntry& entry : getPath()) pushAttrs(entry.group.get(), _attrStack);
    pushAttrs(getCurrent(), _attrStack);
}

kaAttr* kaIterateAttr::getTopAttr(const kaMetaObject* meta, int index)
{
    validateAttrStack();
    for (auto attr = _attrStack.rbegin(); attr != _attrStack.rend(); ++attr)
        if ((*attr)->isOfType(meta) && index-- == 0) return *attr;
    return nullptr;
}

} // namespace Lode::Opt
