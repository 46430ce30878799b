// A group that carries attributes: they are in force for the group itself and everything below
// it, until an attribute set further down carries another attribute of the same class.
#pragma once

#include "host/attrs/kaAttr.h"
#include "host/sg/kaGroup.h"

namespace Lode::Sg {

using Lode::Attrs::kaAttr;
using Lode::Attrs::kaAttrList;

class kaAttrSet : public kaGroup {
    KA_DECLARE_CLASS(kaAttrSet, kaGroup)
public:
    int getAttrCount() const { return _attrs->getCount(); }
    // Null for a position outside the list.
    kaAttr* getAttr(int index) const;
    kaAttrList* getAttrs() const { return _attrs; }
    void appendAttr(kaAttr* attr) { _attrs->append(attr); }
    void insertAttr(int index, kaAttr* attr) { _attrs->insert(index, attr); }
    // Removes the first occurrence; false when the attribute is not in the set.
    bool removeAttr(kaAttr* attr) { return _attrs->removeObject(attr); }

protected:
    kaAttrSet() = default;

    kaSmartPointer<kaAttrList> _attrs;
};

} // namespace Lode::Sg
