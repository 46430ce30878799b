// Scene-graph nodes. A node may have several parents; its parent list points up the graph
// without holding references, is derived from the groups' child lists, and is not stored in
// files (readers rebuild it).
#pragma once

#include "host/core/kaList.h"
#include "host/core/kaNamedObject.h"

namespace Lode::Sg {

using namespace Lode::Core;

class kaNode;
class kaGroup;

class kaParentList : public kaTObjectList<kaNode> {
    KA_DECLARE_CLASS(kaParentList, kaTObjectList<kaNode>)
public:
    // The base's destructor can no longer ask holdsReferences: entries are let go here.
    ~kaParentList() override { _entries.clear(); }
    bool holdsReferences() const override { return false; }
};

class kaNode : public kaNamedObject {
    KA_DECLARE_CLASS(kaNode, kaNamedObject)
public:
    ~kaNode() override;

    virtual int getParentCount() const;
    virtual kaGroup* getParent(int index) const;
    // Sets the bits of mask when set is true, clears them when it is false.
    virtual void setFlag(uint32_t mask, bool set);
    uint32_t getFlags() const { return _flags; }

    // Kept by kaGroup as it gains and loses children.
    void addParent(kaGroup* parent);
    void removeParent(kaGroup* parent);

protected:
    uint32_t _flags = 0;
    kaParentList* _parentList = nullptr;
};

KA_DECLARE_OBJECT_LIST(kaNodeList, kaNode)

} // namespace Lode::Sg
