// Enumerations of the graphics data layer. Each is a 32-bit enum (enum fields store int32_t) and
// has a meta enumeration, so that fields of these types read and print their value names.
#pragma once

#include "host/core/kaMeta.h"

#include <cstdint>

namespace Lode::Gfx {

// Primitive kinds of a geometry attribute.
enum KA_GFX_DRAW : int32_t {
    KA_GFX_DRAW_POINTS = 0,
    KA_GFX_DRAW_LINES = 1,
    KA_GFX_DRAW_LINE_STRIP = 2,
    KA_GFX_DRAW_TRIANGLES = 3,
    KA_GFX_DRAW_TRIANGLE_STRIP = 4,
    KA_GFX_DRAW_TRIANGLE_FAN = 5,
};

// Pixel formats of an image. The 8-bit-per-channel formats match the PNG layouts one to one;
// the 16-bit packed formats are stored as native uint16_t words and widened when written out.
enum KA_GFX_TEXTURE_FORMAT : int32_t {
    KA_GFX_TEXTURE_FORMAT_UNKNOWN = 0,    // no pixels
    KA_GFX_TEXTURE_FORMAT_GREY_8 = 1,     // one byte of luminance
    KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8 = 2,
    KA_GFX_TEXTURE_FORMAT_PALETTE_8 = 3,  // one byte indexing an RGBA palette of up to 256 entries
    KA_GFX_TEXTURE_FORMAT_RGB_565 = 4,    // red in the top 5 bits, blue in the bottom 5
    KA_GFX_TEXTURE_FORMAT_RGB_8 = 5,
    KA_GFX_TEXTURE_FORMAT_RGBA_4444 = 6,  // red in the top 4 bits, alpha in the bottom 4
    KA_GFX_TEXTURE_FORMAT_RGBA_8 = 7,
    KA_GFX_TEXTURE_FORMAT_RGBA_5551 = 8,  // red in the top 5 bits, one bit of alpha at the bottom
};

enum KA_GFX_TEXTURE_FILTER : int32_t {
    KA_GFX_TEXTURE_FILTER_NEAREST = 0,
    KA_GFX_TEXTURE_FILTER_LINEAR = 1,
    KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST = 2,
    KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR = 3,
    KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST = 4,
    KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR = 5,
};

// Whether a texture wants (or has) a mipmap chain.
enum KA_GFX_TEXTURE_MODE : int32_t {
    KA_GFX_TEXTURE_MODE_NONE = 0,
    KA_GFX_TEXTURE_MODE_MIPMAP = 1,
};

// Byte order of the colour channels of the 8-bit RGB and RGBA formats (other formats have one
// order only).
enum KA_GFX_IMAGE_ORDER : int32_t {
    KA_GFX_IMAGE_ORDER_RGBA = 100,  // red first
    KA_GFX_IMAGE_ORDER_BGRA = 101,  // blue first, alpha stays last
};

enum KA_GFX_LIGHT_TYPE : int32_t {
    KA_GFX_LIGHT_TYPE_DIRECTIONAL = 0,
    KA_GFX_LIGHT_TYPE_POINT = 1,
    KA_GFX_LIGHT_TYPE_SPOT = 2,
};

// How texture coordinates outside 0 to 1 sample a texture, per axis.
enum KA_GFX_TEXTURE_WRAP : int32_t {
    KA_GFX_TEXTURE_WRAP_REPEAT = 0,
    KA_GFX_TEXTURE_WRAP_CLAMP = 1,  // the edge texel
    KA_GFX_TEXTURE_WRAP_MIRRORED_REPEAT = 2,
};

// What a texture feeds in the material of the geometry below it.
enum KA_GFX_TEXTURE_SLOT : int32_t {
    KA_GFX_TEXTURE_SLOT_BASE_COLOR = 0,          // multiplies the diffuse colour
    KA_GFX_TEXTURE_SLOT_METALLIC_ROUGHNESS = 1,  // roughness in green, metallic in blue
    KA_GFX_TEXTURE_SLOT_NORMAL = 2,              // tangent-space normals
    KA_GFX_TEXTURE_SLOT_OCCLUSION = 3,           // ambient occlusion in red
    KA_GFX_TEXTURE_SLOT_EMISSIVE = 4,            // multiplies the emission colour
};
constexpr int KA_GFX_TEXTURE_SLOT_COUNT = 5;

// How a material's alpha is used.
enum KA_GFX_ALPHA_MODE : int32_t {
    KA_GFX_ALPHA_MODE_OPAQUE = 0,  // alpha ignored
    KA_GFX_ALPHA_MODE_MASK = 1,    // drawn where alpha reaches the cutoff, else not
    KA_GFX_ALPHA_MODE_BLEND = 2,   // blended over what is behind
};

enum KA_GFX_PROJECTION : int32_t {
    KA_GFX_PROJECTION_PERSPECTIVE = 0,
    KA_GFX_PROJECTION_ORTHOGRAPHIC = 1,
};

// Meta enumerations, made on first use and kept for the life of the process. Value names:
// KA_GFX_DRAW "KA_GFX_DRAW_POINTS" .. "KA_GFX_DRAW_TRIANGLE_FAN"; KA_GFX_TEXTURE_FORMAT "Unknown",
// "Grey8", "GreyAlpha8", "Palette8", "RGB565", "RGB8", "RGBA4444", "RGBA8", "RGBA5551"; KA_GFX_TEXTURE_FILTER
// "Nearest", "Linear", "NearestMipmapNearest", "NearestMipmapLinear", "LinearMipmapNearest",
// "LinearMipmapLinear"; KA_GFX_TEXTURE_MODE "None", "Mipmap"; KA_GFX_IMAGE_ORDER "RGBA", "BGRA";
// KA_GFX_LIGHT_TYPE "Directional", "Point", "Spot"; KA_GFX_TEXTURE_WRAP "Repeat", "Clamp",
// "MirroredRepeat"; KA_GFX_TEXTURE_SLOT "BaseColor", "MetallicRoughness", "Normal", "Occlusion",
// "Emissive"; KA_GFX_ALPHA_MODE "Opaque", "Mask", "Blend"; KA_GFX_PROJECTION "Perspective",
// "Orthographic".
Lode::Core::kaMetaEnum* getKA_GFX_DRAWMetaEnum();
Lode::Core::kaMetaEnum* getKA_GFX_TEXTURE_FORMATMetaEnum();
Lode::Core::kaMetaEnum* getKA_GFX_TEXTURE_FILTERMetaEnum();
Lode::Core::kaMetaEnum* getKA_GFX_TEXTURE_MODEMetaEnum();
Lode::Core::kaMetaEnum* getKA_GFX_IMAGE_ORDERMetaEnum();
Lode::Core::kaMetaEnum* getKA_GFX_LIGHT_TYPEMetaEnum();
Lode::Core::kaMetaEnum* getKA_GFX_TEXTURE_WRAPMetaEnum();
Lode::Core::kaMetaEnum* getKA_GFX_TEXTURE_SLOTMetaEnum();
Lode::Core::kaMetaEnum* getKA_GFX_ALPHA_MODEMetaEnum();
Lode::Core::kaMetaEnum* getKA_GFX_PROJECTIONMetaEnum();

// Bytes one pixel of a format takes in an image's rows (0 for an unknown format).
int kaGetBytesPerPixel(KA_GFX_TEXTURE_FORMAT format);

} // namespace Lode::Gfx
