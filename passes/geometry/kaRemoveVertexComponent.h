// kaRemoveVertexComponent: strips the normals, the vertex colours and/or all texture
// coordinate sets from the vertex arrays of first-generation geometry attributes.
#pragma once

#include "host/opt/kaOptBase.h"
#include "passes/kaSharedReplacements.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaRemoveVertexComponent : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaRemoveVertexComponent, kaOptVisitObject)
public:
    bool canOptimize(kaNode* node) override;
    using kaOptVisitObject::canOptimize;
    bool configure(int section) override;
    bool visitor(kaObject* object) override;
    kaMetaObject* getVisitedObjectMeta() override;
    bool postVisit() override;

    bool getNormal() const { return _normal; }
    void setNormal(bool remove) { _normal = remove; }
    bool getColor() const { return _color; }
    void setColor(bool remove) { _color = remove; }
    bool getTexture() const { return _texture; }
    void setTexture(bool remove) { _texture = remove; }

    static kaBoolMetaField* k_normal;
    static kaBoolMetaField* k_color;
    static kaBoolMetaField* k_texture;

private:
    // Field defaults, declared once: the member initialisers and the reflected declarations use them.
    static constexpr bool kDefaultNormal = false;
    static constexpr bool kDefaultColor = false;
    static constexpr bool kDefaultTexture = false;

    bool _normal = kDefaultNormal;
    bool _color = kDefaultColor;
    bool _texture = kDefaultTexture;

    // Vertex arrays with several holders rebuilt so far in this run.
    kaSharedReplacements _rebuilt;
};

} // namespace Lode::OptExtension
