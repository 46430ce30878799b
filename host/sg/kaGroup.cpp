#include "host/sg/kaGroup.h"

namespace Lode::Sg {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaGroup, kaNodeList::arkRegister)

void kaGroup::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaGroup, _children), kaNodeList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.declare();
}

kaGroup::~kaGroup()
{
    // Children may outlive this group; they must not keep pointing at it.
    if (_children)
        for (int i = 0; i < _children->getCount(); ++i)
            if (kaNode* child = _children->getShared(i)) child->removeParent(this);
}

void kaGroup::appendChild(kaNode* child) { insertChild(getChildCount(), child); }

void kaGroup::insertChild(int index, kaNode* child)
{
    _children->insert(index, child);
    if (child) child->addParent(this);
}

bool kaGroup::removeChild(kaNode* child)
{
    int index = _children->find(child);
    if (index < 0) return false;
    removeChild(index);
    return true;
}

void kaGroup::removeChild(int index)
{
    kaSmartPointer<kaNode> child = _children->getShared(index);
    _children->remove(index);
    if (child) child->removeParent(this);
}

void kaGroup::replaceChild(kaNode* child, kaNode* replacement)
{
    kaSmartPointer<kaNode> keep = child;
    for (int i = 0; i < _children->getCount(); ++i) {
        if (_children->getShared(i) != child) continue;
        _children->set(i, replacement);
        if (child) child->removeParent(this);
        if (replacement) replacement->addParent(this);
    }
}

void kaGroup::afterRead()
{
    if (!_children) return;
    for (int i = 0; i < _children->getCount(); ++i)
        if (kaNode* child = _children->getShared(i)) child->addParent(this);
}

} // namespace Lode::Sg
