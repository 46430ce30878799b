// kaReflectAnimations: mirrors every animation of the scene's animation databases across one of
// the three coordinate planes, exchanging the keys of left and right bindings when both side
// identifiers are given.
#pragma once

#include "host/opt/kaOptBase.h"
#include "host/sg/kaAnimation.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaReflectAnimations : public kaOptBase {
    KA_DECLARE_CLASS(kaReflectAnimations, kaOptBase)
public:
    enum ReflectionType { PlaneYZ = 0, PlaneXZ = 1, PlaneXY = 2 };
    static kaMetaEnum* getReflectionTypeMetaEnum();

    bool applyInfo(kaInfo* info) override;
    bool apply(kaSmartPointer<kaNode>& root) override;
    bool canOptimize(kaNode* node) override;
    bool canOptimize(kaInfo* info) override;
    bool configure(int section) override;

    void setLeftIdentString(const char* text) { _leftIdentString = text; }
    const char* getLeftIdentString() const { return _leftIdentString.text(); }
    void setRightIdentString(const char* text) { _rightIdentString = text; }
    const char* getRightIdentString() const { return _rightIdentString.text(); }
    void setReflectionType(ReflectionType type) { _reflectionType = type; }
    ReflectionType getReflectionType() const { return static_cast<ReflectionType>(_reflectionType); }

    static kaStringMetaField* k_leftIdentString;
    static kaStringMetaField* k_rightIdentString;
    static kaEnumMetaField* k_reflectionType;
    static kaMetaEnum* ReflectionType_Meta;

private:
    // Field defaults, declared once: the member initialisers and the reflected declarations use them.
    static constexpr const char* kDefaultLeftIdentString = "";
    static constexpr const char* kDefaultRightIdentString = "";
    static constexpr ReflectionType kDefaultReflectionType = PlaneYZ;

    kaStringRef _leftIdentString{kDefaultLeftIdentString};
    kaStringRef _rightIdentString{kDefaultRightIdentString};
    int32_t _reflectionType = kDefaultReflectionType;
};

} // namespace Lode::OptExtension
