// A texture: its images by mipmap level (level 0 the full-size image), whether it wants a
// mipmap chain, how it is sampled (filters, wrap per axis), and what it feeds in the material
// (its slot) with which texture coordinate set of the geometry. What exchange formats say about
// the texture, its sampler and the material's reference to it beyond that is carried as JSON
// text (the texture's own in its extras and extensions); images that such extensions refer to
// are held by the texture, and the extensions name them by their place in its list.
#pragma once

#include "host/attrs/kaAttr.h"
#include "host/gfx/kaGfxEnums.h"
#include "host/gfx/kaImage.h"

namespace Lode::Attrs {

using Lode::Gfx::kaImage;
using Lode::Gfx::KA_GFX_TEXTURE_FILTER;
using Lode::Gfx::KA_GFX_TEXTURE_MODE;
using Lode::Gfx::KA_GFX_TEXTURE_SLOT;
using Lode::Gfx::KA_GFX_TEXTURE_WRAP;

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
    KA_GFX_TEXTURE_WRAP getWrapS() const { return static_cast<KA_GFX_TEXTURE_WRAP>(_wrapS); }
    void setWrapS(KA_GFX_TEXTURE_WRAP wrap) { _wrapS = wrap; }
    KA_GFX_TEXTURE_WRAP getWrapT() const { return static_cast<KA_GFX_TEXTURE_WRAP>(_wrapT); }
    void setWrapT(KA_GFX_TEXTURE_WRAP wrap) { _wrapT = wrap; }
    KA_GFX_TEXTURE_SLOT getSlot() const { return static_cast<KA_GFX_TEXTURE_SLOT>(_slot); }
    void setSlot(KA_GFX_TEXTURE_SLOT slot) { _slot = slot; }
    int getTexCoordSet() const { return _texCoordSet; }
    void setTexCoordSet(int set) { _texCoordSet = set; }

    // Images the texture's extensions refer to (null when there are none).
    kaTextureImageList* getExtensionImages() const { return _extensionImages; }
    void appendExtensionImage(kaImage* image);
    // The extensions and extras of the material's reference to the texture (a transform of its
    // coordinates, for instance) and of its sampler, each as a JSON object text with the
    // members "extensions" and "extras"; null when there are none.
    const char* getReferenceData() const { return _referenceData.c_str(); }
    void setReferenceData(const char* json) { _referenceData = json; }
    const char* getSamplerData() const { return _samplerData.c_str(); }
    void setSamplerData(const char* json) { _samplerData = json; }

protected:
    kaTextureAttr() = default;

    kaSmartPointer<kaTextureImageList> _images;
    int32_t _mipMapMode = Lode::Gfx::KA_GFX_TEXTURE_MODE_NONE;
    int32_t _minFilter = Lode::Gfx::KA_GFX_TEXTURE_FILTER_LINEAR;
    int32_t _magFilter = Lode::Gfx::KA_GFX_TEXTURE_FILTER_LINEAR;
    int32_t _wrapS = Lode::Gfx::KA_GFX_TEXTURE_WRAP_REPEAT;
    int32_t _wrapT = Lode::Gfx::KA_GFX_TEXTURE_WRAP_REPEAT;
    int32_t _slot = Lode::Gfx::KA_GFX_TEXTURE_SLOT_BASE_COLOR;
    int32_t _texCoordSet = 0;
    kaSmartPointer<kaTextureImageList> _extensionImages;
    kaStringRef _referenceData;
    kaStringRef _samplerData;
};

KA_DECLARE_OBJECT_LIST(kaTextureAttrList, kaTextureAttr)

} // namespace Lode::Attrs
