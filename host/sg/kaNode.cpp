#include "host/sg/kaNode.h"

#include "host/sg/kaGroup.h"

namespace Lode::Sg {

KA_IMPLEMENT_OBJECT_LIST(kaParentList)
KA_IMPLEMENT_OBJECT_LIST(kaNodeList)

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaNode, kaParentList::arkRegister)

void kaNode::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaNode, _flags), 0u);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaNode, _parentList), kaParentList::getClassTypeLazy(),
               kaRefFlags::Transient);
    fields.declare();
}

kaNode::~kaNode() { kaObject::release(_parentList); }

int kaNode::getParentCount() const { return _parentList ? _parentList->getCount() : 0; }

kaGroup* kaNode::getParent(int index) const
{
    return _parentList ? static_cast<kaGroup*>(_parentList->getShared(index)) : nullptr;
}

void kaNode::setFlag(uint32_t mask, bool set)
{
    if (set)
        _flags |= mask;
    else
        _flags &= ~mask;
}

void kaNode::addParent(kaGroup* parent)
{
    if (!_parentList) _parentList = kaParentList::_instantiate();
    _parentList->append(parent);
}

void kaNode::removeParent(kaGroup* parent)
{
    if (_parentList) _parentList->removeObject(parent);
}

} // namespace Lode::Sg
