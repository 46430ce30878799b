// kaConvertImage: the host's image converter, a pass that other passes create by class name to
// change an image's pixel format and channel order in place.
#pragma once

#include "host/gfx/kaImage.h"
#include "host/opt/kaOptBase.h"

namespace Lode::Opt {

using Lode::Gfx::kaImage;
using Lode::Gfx::KA_GFX_IMAGE_ORDER;
using Lode::Gfx::KA_GFX_TEXTURE_FORMAT;

class kaConvertImage : public kaOptBase {
    KA_DECLARE_CLASS(kaConvertImage, kaOptBase)
public:
    bool getConvertIfSmaller() const { return _convertIfSmaller; }
    void setConvertIfSmaller(bool onlyWhenSmaller) { _convertIfSmaller = onlyWhenSmaller; }

    // Converts the image in place to format and order, through 8-bit RGBA: every format reads
    // into it without loss, so a conversion to a format that holds at least as much (grey to
    // RGB, RGB565 to RGB8, anything to RGBA8) comes back exactly. Narrower fields are rounded;
    // grey is the luminance; a format without alpha drops it. A palettised source is expanded
    // through its palette. The order applies to RGB8 and RGBA8 and is recorded for every format.
    // With convert-if-smaller set, an image is converted only when the new format takes fewer
    // bytes per pixel, and left alone (true) otherwise. False, with the image unchanged, for a
    // palettised or unknown target format or an unknown order.
    bool convertImage(kaImage* image, KA_GFX_TEXTURE_FORMAT format, KA_GFX_IMAGE_ORDER order) const;

    static kaBoolMetaField* k_convertIfSmaller;

protected:
    kaConvertImage() = default;

private:
    static constexpr bool kDefaultConvertIfSmaller = false;

    bool _convertIfSmaller = kDefaultConvertIfSmaller;
};

} // namespace Lode::Opt
