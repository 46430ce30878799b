// kaCreateLod: replaces the first geometry node by a level-of-detail node whose children are read
// from "<name>.kab" files, one per level directory, with a switching range per level.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaCreateLod : public kaOptReplaceNode {
    KA_DECLARE_CLASS(kaCreateLod, kaOptReplaceNode)
public:
    ~kaCreateLod() override;

    bool canOptimize(kaNode* node) override;
    using kaOptReplaceNode::canOptimize;
    bool configure(int section) override;
    kaMetaObject* getNodeMeta() override;
    bool replaceNode(kaSmartPointer<kaNode>& node, kaSmartPointer<kaNode>& replacement) override;

    void setLodCount(unsigned int count) { _lodCount = count; }
    unsigned int getLodCount() const { return _lodCount; }
    void setLodMax(float range) { _lodMax = range; }
    float getLodMax() const { return _lodMax; }
    void setLodMin(float range) { _lodMin = range; }
    float getLodMin() const { return _lodMin; }
    void setLodRange(kaFloatList* ranges);
    const kaFloatList* getLodRange() const { return _lodRange; }
    void setLodDirectory(kaStringObjList* directories);
    const kaStringObjList* getLodDirectory() const { return _lodDirectory; }

    static kaUnsignedIntMetaField* k_lodCount;
    static kaFloatMetaField* k_lodMax;
    static kaFloatMetaField* k_lodMin;
    static kaObjectRefMetaField* k_lodRange;
    static kaObjectRefMetaField* k_lodDirectory;

private:
    // The node a level file holds (its own reference), or null after printing why. What the file
    // refers to must lie inside the output folder (null: the working folder), where it is read from.
    static kaSmartPointer<kaNode> loadLevel(const char* path, const char* outputFolder);

    static constexpr uint32_t kDefaultLodCount = 1;
    static constexpr float kDefaultLodMax = 500.0f;
    static constexpr float kDefaultLodMin = 10.0f;

    uint32_t _lodCount = kDefaultLodCount;
    float _lodMax = kDefaultLodMax;
    float _lodMin = kDefaultLodMin;
    kaFloatList* _lodRange = nullptr;
    kaStringObjList* _lodDirectory = nullptr;
};

} // namespace Lode::OptExtension
