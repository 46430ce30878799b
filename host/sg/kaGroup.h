// A node with an ordered list of children. A child may be null: an empty place that keeps the
// positions of the others (a level of detail that draws nothing at its range).
#pragma once

#include "host/sg/kaNode.h"

namespace Lode::Sg {

class kaGroup : public kaNode {
    KA_DECLARE_CLASS(kaGroup, kaNode)
public:
    ~kaGroup() override;

    int getChildCount() const { return _children->getCount(); }
    kaNode* getChild(int index) const { return _children->getShared(index); }
    kaNodeList* getChildren() const { return _children; }
    void appendChild(kaNode* child);
    void insertChild(int index, kaNode* child);
    // Removes the first occurrence of the child; false when it is not a child.
    bool removeChild(kaNode* child);
    void removeChild(int index);
    // Puts replacement in every place the child holds in this group.
    void replaceChild(kaNode* child, kaNode* replacement);
    int findChild(const kaNode* child) const { return _children->find(child); }

    void afterRead() override;

protected:
    kaSmartPointer<kaNodeList> _children;
};

} // namespace Lode::Sg
