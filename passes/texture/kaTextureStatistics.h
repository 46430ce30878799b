// kaTextureStatistics: prints one row per image of the scene (every mipmap level included) with
// its dimensions, bytes per pixel, format, size and name, and a closing total.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;

class kaTextureStatistics : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaTextureStatistics, kaOptVisitObject)
public:
    bool configure(int section) override;
    bool visitor(kaObject* object) override;
    kaMetaObject* getVisitedObjectMeta() override;
    bool postVisit() override;
    bool preVisit() override;

    bool getUseFullPath() const { return _useFullPath; }
    void setUseFullPath(bool useFullPath) { _useFullPath = useFullPath; }
    int getTextureTotalSize() const { return _iTextureTotalSize; }
    int getTextureCount() const { return _iTextureCount; }

    static kaBoolMetaField* k_useFullPath;
    static kaIntMetaField* k_iTextureTotalSize;
    static kaIntMetaField* k_iTextureCount;

protected:
    void reset();

private:
    static constexpr bool kDefaultUseFullPath = false;
    static constexpr int32_t kDefaultTextureTotalSize = 0;
    static constexpr int32_t kDefaultTextureCount = 0;

    bool _useFullPath = kDefaultUseFullPath;
    int32_t _iTextureTotalSize = kDefaultTextureTotalSize;
    int32_t _iTextureCount = kDefaultTextureCount;
};

} // namespace Lode::OptExtension
