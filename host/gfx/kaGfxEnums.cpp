#include "host/gfx/kaGfxEnums.h"

namespace Lode::Gfx {

using Lode::Core::kaMetaEnum;

kaMetaEnum* getKA_GFX_DRAWMetaEnum()
{
    static const char* const names[] = {"KA_GFX_DRAW_POINTS",     "KA_GFX_DRAW_LINES",
                                        "KA_GFX_DRAW_LINE_STRIP", "KA_GFX_DRAW_TRIANGLES",
                                        "KA_GFX_DRAW_TRIANGLE_STRIP", "KA_GFX_DRAW_TRIANGLE_FAN"};
    static const int32_t values[] = {KA_GFX_DRAW_POINTS,    KA_GFX_DRAW_LINES,          KA_GFX_DRAW_LINE_STRIP,
                                     KA_GFX_DRAW_TRIANGLES, KA_GFX_DRAW_TRIANGLE_STRIP, KA_GFX_DRAW_TRIANGLE_FAN};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_DRAW", names, values);
    return metaEnum;
}

kaMetaEnum* getKA_GFX_TEXTURE_FORMATMetaEnum()
{
    static const char* const names[] = {"Unknown", "Grey8", "GreyAlpha8", "Palette8",
                                        "RGB565",  "RGB8",  "RGBA4444",   "RGBA8", "RGBA5551"};
    static const int32_t values[] = {KA_GFX_TEXTURE_FORMAT_UNKNOWN,   KA_GFX_TEXTURE_FORMAT_GREY_8,
                                     KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8, KA_GFX_TEXTURE_FORMAT_PALETTE_8,
                                     KA_GFX_TEXTURE_FORMAT_RGB_565,   KA_GFX_TEXTURE_FORMAT_RGB_8,
                                     KA_GFX_TEXTURE_FORMAT_RGBA_4444, KA_GFX_TEXTURE_FORMAT_RGBA_8,
                                     KA_GFX_TEXTURE_FORMAT_RGBA_5551};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_TEXTURE_FORMAT", names, values);
    return metaEnum;
}

kaMetaEnum* getKA_GFX_TEXTURE_FILTERMetaEnum()
{
    static const char* const names[] = {"Nearest",             "Linear",
                                        "NearestMipmapNearest", "NearestMipmapLinear",
                                        "LinearMipmapNearest",  "LinearMipmapLinear"};
    static const int32_t values[] = {KA_GFX_TEXTURE_FILTER_NEAREST,
                                     KA_GFX_TEXTURE_FILTER_LINEAR,
                                     KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST,
                                     KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR,
                                     KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST,
                                     KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_TEXTURE_FILTER", names, values);
    return metaEnum;
}

kaMetaEnum* getKA_GFX_TEXTURE_MODEMetaEnum()
{
    static const char* const names[] = {"None", "Mipmap"};
    static const int32_t values[] = {KA_GFX_TEXTURE_MODE_NONE, KA_GFX_TEXTURE_MODE_MIPMAP};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_TEXTURE_MODE", names, values);
    return metaEnum;
}

kaMetaEnum* getKA_GFX_IMAGE_ORDERMetaEnum()
{
    static const char* const names[] = {"RGBA", "BGRA"};
    static const int32_t values[] = {KA_GFX_IMAGE_ORDER_RGBA, KA_GFX_IMAGE_ORDER_BGRA};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_IMAGE_ORDER", names, values);
    return metaEnum;
}

kaMetaEnum* getKA_GFX_LIGHT_TYPEMetaEnum()
{
    static const char* const names[] = {"Directional", "Point", "Spot"};
    static const int32_t values[] = {KA_GFX_LIGHT_TYPE_DIRECTIONAL, KA_GFX_LIGHT_TYPE_POINT, KA_GFX_LIGHT_TYPE_SPOT};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_LIGHT_TYPE", names, values);
    return metaEnum;
}

kaMetaEnum* getKA_GFX_TEXTURE_WRAPMetaEnum()
{
    static const char* const names[] = {"Repeat", "Clamp", "MirroredRepeat"};
    static const int32_t values[] = {KA_GFX_TEXTURE_WRAP_REPEAT, KA_GFX_TEXTURE_WRAP_CLAMP,
                                     KA_GFX_TEXTURE_WRAP_MIRRORED_REPEAT};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_TEXTURE_WRAP", names, values);
    return metaEnum;
}

kaMetaEnum* getKA_GFX_TEXTURE_SLOTMetaEnum()
{
    static const char* const names[] = {"BaseColor", "MetallicRoughness", "Normal", "Occlusion", "Emissive"};
    static const int32_t values[] = {KA_GFX_TEXTURE_SLOT_BASE_COLOR, KA_GFX_TEXTURE_SLOT_METALLIC_ROUGHNESS,
                                     KA_GFX_TEXTURE_SLOT_NORMAL, KA_GFX_TEXTURE_SLOT_OCCLUSION,
                                     KA_GFX_TEXTURE_SLOT_EMISSIVE};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_TEXTURE_SLOT", names, values);
    return metaEnum;
}

kaMetaEnum* getKA_GFX_ALPHA_MODEMetaEnum()
{
    static const char* const names[] = {"Opaque", "Mask", "Blend"};
    static const int32_t values[] = {KA_GFX_ALPHA_MODE_OPAQUE, KA_GFX_ALPHA_MODE_MASK, KA_GFX_ALPHA_MODE_BLEND};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_ALPHA_MODE", names, values);
    return metaEnum;
}

kaMetaEnum* getKA_GFX_PROJECTIONMetaEnum()
{
    static const char* const names[] = {"Perspective", "Orthographic"};
    static const int32_t values[] = {KA_GFX_PROJECTION_PERSPECTIVE, KA_GFX_PROJECTION_ORTHOGRAPHIC};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("KA_GFX_PROJECTION", names, values);
    return metaEnum;
}

int kaGetBytesPerPixel(KA_GFX_TEXTURE_FORMAT format)
{
    switch (format) {
    case KA_GFX_TEXTURE_FORMAT_GREY_8:
    case KA_GFX_TEXTURE_FORMAT_PALETTE_8:
        return 1;
    case KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8:
    case KA_GFX_TEXTURE_FORMAT_RGB_565:
    case KA_GFX_TEXTURE_FORMAT_RGBA_4444:
    case KA_GFX_TEXTURE_FORMAT_RGBA_5551:
        return 2;
    case KA_GFX_TEXTURE_FORMAT_RGB_8:
        return 3;
    case KA_GFX_TEXTURE_FORMAT_RGBA_8:
        return 4;
    case KA_GFX_TEXTURE_FORMAT_UNKNOWN:
        break;
    }
    return 0;
}

} // namespace Lode::Gfx
