// kaUseMipmap: gives the textures of a scene full mipmap chains, each level resampled from the
// one before with the host's image resizer.
#pragma once

#include "host/attrs/kaTextureAttr.h"
#include "host/core/kaFile.h"
#include "host/opt/kaOptBase.h"
#include "host/opt/kaResizeImage.h"

namespace Lode::OptExtension {

using namespace Lode::Opt;
using Lode::Gfx::KA_GFX_TEXTURE_FILTER;

class kaUseMipmap : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaUseMipmap, kaOptVisitObject)
public:
    ~kaUseMipmap() override;

    bool configure(int section) override;

    void setFilterType(kaResizeImage::FilterType filter) { _filterType = filter; }
    kaResizeImage::FilterType getFilterType() const { return static_cast<kaResizeImage::FilterType>(_filterType); }
    const kaStringObjList* getImageList() const { return _imageList; }
    const kaStringObj* getImageListFilename() const { return _imageListFilename; }
    bool getIsExclude() const { return _isExclude; }

    // Registry keys that configure reads.
    static const char* const minFilterToken;
    static const char* const magFilterToken;
    static const char* const isExcludeToken;
    static const char* const imageListFilenameToken;

    static kaEnumMetaField* k_filterType;
    static kaBoolMetaField* kMipmapTaggedOnly;
    static kaEnumMetaField* k_minFilter;
    static kaEnumMetaField* k_magFilter;
    static kaObjectRefMetaField* k_imageList;
    static kaObjectRefMetaField* k_imageListFilename;
    static kaBoolMetaField* k_isExclude;

protected:
    bool canOptimize(kaNode* node) override;
    using kaOptVisitObject::canOptimize;
    bool visitor(kaObject* object) override;
    kaMetaObject* getVisitedObjectMeta() override;

    // Adds the names of an open image list file to _imageList and reduces every entry to its
    // file name; returns the number of names read.
    int parseImageListFile(kaFile* file);

private:
    // Whether the image list lets the named image through (printing why not).
    bool isSelected(const char* imageName);

    static constexpr kaResizeImage::FilterType kDefaultFilterType = kaResizeImage::Lanczos3;
    static constexpr bool kDefaultMipmapTaggedOnly = true;
    static constexpr KA_GFX_TEXTURE_FILTER kDefaultMinFilter = Lode::Gfx::KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR;
    static constexpr KA_GFX_TEXTURE_FILTER kDefaultMagFilter = Lode::Gfx::KA_GFX_TEXTURE_FILTER_LINEAR;
    static constexpr bool kDefaultIsExclude = true;

    int32_t _filterType = kDefaultFilterType;
    bool mipmapTaggedOnly = kDefaultMipmapTaggedOnly;
    int32_t _minFilter = kDefaultMinFilter;
    int32_t _magFilter = kDefaultMagFilter;
    kaStringObjList* _imageList = nullptr;
    kaStringObj* _imageListFilename = nullptr;
    bool _isExclude = kDefaultIsExclude;
};

} // namespace Lode::OptExtension
