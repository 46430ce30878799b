// kaUseDisplayList: marks every geometry node for drawing through a display list (or unmarks
// it), and says whether its original data may be deleted once the list is built.
#pragma once

#include "host/opt/kaOptBase.h"

#include <cstdint>

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaUseDisplayList : public kaOptTraverseGraph {
    KA_DECLARE_CLASS(kaUseDisplayList, kaOptTraverseGraph)
public:
    // The node flags the two fields write.
    static constexpr uint32_t kDisplayListFlag = 4;
    static constexpr uint32_t kDeleteOriginalFlag = 8;

    bool canOptimize(kaNode* node) override;
    using kaOptTraverseGraph::canOptimize;
    bool configure(int section) override;
    GRAPH_TRAVERSAL dispatch(kaSmartPointer<kaNode>& node) override;
    bool preTraverse() override;

    bool getEnable() const { return _enable; }
    void setEnable(bool enable) { _enable = enable; }
    bool getDeleteOriginal() const { return _deleteOriginal; }
    void setDeleteOriginal(bool deleteOriginal) { _deleteOriginal = deleteOriginal; }

    static kaBoolMetaField* k_enable;
    static kaBoolMetaField* k_deleteOriginal;

private:
    // Field defaults, declared once: the member initialisers and the reflected declarations use them.
    static constexpr bool kDefaultEnable = true;
    static constexpr bool kDefaultDeleteOriginal = false;

    bool _enable = kDefaultEnable;
    bool _deleteOriginal = kDefaultDeleteOriginal;
};

} // namespace Lode::OptExtension
