// A texture: its images by mipmap level (level 0 the full-size image), whether it wants a
// mipmap chain, and the filters used to sample it.
#pragma once

#include "host/attrs/kaAttr.h"
#include "host/gfx/kaGfxEnums.h"
#include "host/gfx/kaImage.h"

namespace Lode::Attrs {

using Lode::Gfx::kaImage;
using Lode::Gfx::KA_GFX_TEXTURE_FILTER;
using Lode::Gfx::KA_GFX_TEXTURE_MODE;

// Images by level; a level may be empty (null).
KA_DECLARE_OBJECT_LIST(kaTextureImageList, kaImage)

class kaTextureAttr : public kaAttr {
    KA_DECLARE_CLASS(kaTextureAttr, kaAttr)
public:
    int getImageCount() const { return _images->getCount(); }
    // Levels added by a larger count are empty; a smaller count lets go of the higher levels.
    void setImageCount(int count);
    // Null for an empty level or one beyond the count.
    kaImage* getImage(int level) const;
    // A level beyond the count first extends the count to it. A null image empties the level.
    void setImage(kaImage* image, int level);
    kaTextureImageList* getImages() const { return _images; }

    KA_GFX_TEXTURE_MODE getMipMapMode() const { return static_cast<KA_GFX_TEXTURE_MODE>(_mipMapMode); }
    void setMipMapMode(KA_GFX_TEXTURE_MODE mode) { _mipMapMode = mode; }
    KA_GFX_TEXTURE_FILTER getMinFilter() const { return static_cast<KA_GFX_TEXTURE_FILTER>(_minFilter); }
    void setMinFilter(KA_GFX_TEXTURE_FILTER filter) { _minFilter = filter; }
    KA_GFX_TEXTURE_FILTER getMagFilter() const { return static_cast<KA_GFX_TEXTURE_FILTER>(_magFilter); }
    void setMagFilter(KA_GFX_TEXTURE_FILTER filter) { _magFilter = filter; }

protected:
    kaTextureAttr() = default;

    kaSmartPointer<kaTextureImageList> _images;
    int32_t _mipMapMode = Lode::Gfx::KA_GFX_TEXTURE_MODE_NONE;
    int32_t _minFilter = Lode::Gfx::KA_GFX_TEXTURE_FILTER_LINEAR;
    int32_t _magFilter = Lode::Gfx::KA_GFX_TEXTURE_FILTER_LINEAR;
};

} // namespace Lode::Attrs
