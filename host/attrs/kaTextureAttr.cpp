#include "host/attrs/kaTextureAttr.h"

namespace Lode::Attrs {

KA_IMPLEMENT_OBJECT_LIST(kaTextureImageList)

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaTextureAttr, kaTextureImageList::arkRegister, kaImage::arkRegister)

void kaTextureAttr::arkRegisterInitialize()
{
    using namespace Lode::Gfx;
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaTextureAttr, _images),
               kaTextureImageList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaTextureAttr, _mipMapMode), KA_GFX_TEXTURE_MODE_NONE,
               &getKA_GFX_TEXTURE_MODEMetaEnum);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaTextureAttr, _minFilter), KA_GFX_TEXTURE_FILTER_LINEAR,
               &getKA_GFX_TEXTURE_FILTERMetaEnum);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaTextureAttr, _magFilter), KA_GFX_TEXTURE_FILTER_LINEAR,
               &getKA_GFX_TEXTURE_FILTERMetaEnum);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaTextureAttr, _wrapS), KA_GFX_TEXTURE_WRAP_REPEAT,
               &getKA_GFX_TEXTURE_WRAPMetaEnum);
    fields.describe("how coordinates outside 0 to 1 sample along the width");
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaTextureAttr, _wrapT), KA_GFX_TEXTURE_WRAP_REPEAT,
               &getKA_GFX_TEXTURE_WRAPMetaEnum);
    fields.describe("how coordinates outside 0 to 1 sample along the height");
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaTextureAttr, _slot), KA_GFX_TEXTURE_SLOT_BASE_COLOR,
               &getKA_GFX_TEXTURE_SLOTMetaEnum);
    fields.describe("what the texture feeds in the material");
    fields.add(kaNoHandle<kaIntMetaField>, KA_FIELD(kaTextureAttr, _texCoordSet), 0);
    fields.describe("the geometry's texture coordinate set that maps the texture");
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaTextureAttr, _extensionImages),
               kaTextureImageList::getClassTypeLazy());
    fields.describe("images the texture's extensions refer to, by their place in this list");
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaTextureAttr, _referenceData));
    fields.describe("extensions and extras of the material's reference to the texture, as JSON text");
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaTextureAttr, _samplerData));
    fields.describe("extensions and extras of the texture's sampler, as JSON text");
    fields.declare();
}

void kaTextureAttr::appendExtensionImage(kaImage* image)
{
    if (!_extensionImages) _extensionImages = kaSmartPointer<kaTextureImageList>::adopt(kaTextureImageList::_instantiate());
    _extensionImages->append(image);
}

KA_IMPLEMENT_OBJECT_LIST(kaTextureAttrList)

void kaTextureAttr::setImageCount(int count)
{
    if (count < 0) count = 0;
    while (_images->getCount() > count) _images->remove(_images->getCount() - 1);
    while (_images->getCount() < count) _images->append(nullptr);
}

kaImage* kaTextureAttr::getImage(int level) const
{
    if (level < 0 || level >= _images->getCount()) return nullptr;
    return _images->getShared(level);
}

void kaTextureAttr::setImage(kaImage* image, int level)
{
    if (level < 0) return;
    if (level >= _images->getCount()) setImageCount(level + 1);
    _images->set(level, image);
}

} // namespace Lode::Attrs
