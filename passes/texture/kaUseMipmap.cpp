// kaUseMipmap exists because textures sampled smaller than their size shimmer unless the
// renderer has a chain of prefiltered levels. For every texture attribute whose level-0 image
// passes the image list (and, by default, that was tagged for mipmapping), it builds the chain
// down to one pixel in the larger dimension: each level is the one before resampled to half
// size by the host's resizer in a working format, then every level goes back to the image's
// own pixel format. Levels are named after level 0 ("wall.png" gives "wall-1.png", ...), so
// that images written out later get names a user can match.
#include "passes/texture/kaUseMipmap.h"

#include "passes/kaPassRegistration.h"
#include "host/opt/kaConvertImage.h"
#include "host/opt/kaOptInterface.h"
#include "host/utils/kaImageUtils.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace Lode::OptExtension {

using namespace Lode::Gfx;
using Lode::Attrs::kaTextureAttr;
using Lode::Utils::kaImageUtils;

const char* const kaUseMipmap::minFilterToken = "minFilter";
const char* const kaUseMipmap::magFilterToken = "magFilter";
const char* const kaUseMipmap::isExcludeToken = "isExclude";
const char* const kaUseMipmap::imageListFilenameToken = "imageListFilename";

kaEnumMetaField* kaUseMipmap::k_filterType = nullptr;
kaBoolMetaField* kaUseMipmap::kMipmapTaggedOnly = nullptr;
kaEnumMetaField* kaUseMipmap::k_minFilter = nullptr;
kaEnumMetaField* kaUseMipmap::k_magFilter = nullptr;
kaObjectRefMetaField* kaUseMipmap::k_imageList = nullptr;
kaObjectRefMetaField* kaUseMipmap::k_imageListFilename = nullptr;
kaBoolMetaField* kaUseMipmap::k_isExclude = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaUseMipmap, kaStringObjList::arkRegister, kaStringObj::arkRegister)

namespace {

// The texture filter names the registry keys take, matched exactly.
struct FilterName {
    const char* name;
    KA_GFX_TEXTURE_FILTER value;
};
const FilterName kFilterNames[] = {
    {"Nearest", KA_GFX_TEXTURE_FILTER_NEAREST},
    {"Linear", KA_GFX_TEXTURE_FILTER_LINEAR},
    {"NearestMipmapNearest", KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST},
    {"NearestMipmapLinear", KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR},
    {"LinearMipmapNearest", KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST},
    {"LinearMipmapLinear", KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR},
};

// What an unnamed level-0 image is called, and the base of its level names.
const char* const kUnnamedImage = "image";
// Levels are resampled in 8-bit RGBA, red first.
constexpr KA_GFX_TEXTURE_FORMAT kWorkingFormat = KA_GFX_TEXTURE_FORMAT_RGBA_8;
constexpr KA_GFX_IMAGE_ORDER kWorkingOrder = KA_GFX_IMAGE_ORDER_RGBA;

// Reads a filter-name key; false (after the message) when the key holds an unknown name.
bool readFilterKey(kaRegistry* registry, int section, const char* key, int32_t& filter)
{
    kaSmartPointer<kaStringObj> value;
    if (!registry->getValue(section, key, value, "", false)) return true;
    const char* text = value ? value->getString() : "";
    for (const FilterName& entry : kFilterNames)
        if (std::strcmp(entry.name, text) == 0) {
            filter = entry.value;
            return true;
        }
    std::printf("kaUseMipmap: Format %s not recognized\n", text);
    std::fflush(stdout);
    return false;
}

} // namespace

void kaUseMipmap::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_filterType, KA_FIELD(kaUseMipmap, _filterType), kDefaultFilterType,
               &kaResizeImage::getFilterTypeMetaEnum);
    fields.describe("filter of the host resizer that makes each level from the one before (kaopt describe "
                    "kaResizeImage)");
    fields.add(&kMipmapTaggedOnly, KA_FIELD(kaUseMipmap, mipmapTaggedOnly), kDefaultMipmapTaggedOnly);
    fields.describe("only textures tagged for mipmapping (mip-map mode Mipmap) get chains; false: every texture");
    fields.add(&k_minFilter, KA_FIELD(kaUseMipmap, _minFilter), kDefaultMinFilter,
               &getKA_GFX_TEXTURE_FILTERMetaEnum);
    fields.describe("minification filter given to untagged textures that get chains (registry key minFilter)");
    fields.add(&k_magFilter, KA_FIELD(kaUseMipmap, _magFilter), kDefaultMagFilter,
               &getKA_GFX_TEXTURE_FILTERMetaEnum);
    fields.describe("magnification filter given to the same textures (registry key magFilter)");
    fields.add(&k_imageList, KA_FIELD(kaUseMipmap, _imageList), kaStringObjList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.describe("image file names that _isExclude leaves out or lets through, compared by file name only "
                    "(directories split at / or \\) and case-sensitively; the list file adds to it");
    fields.add(&k_imageListFilename, KA_FIELD(kaUseMipmap, _imageListFilename), kaStringObj::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.describe("image list file, read only from registry key imageListFilename: one name per line, blank "
                    "lines and lines starting with # skipped; a file that cannot be opened is passed over");
    fields.add(&k_isExclude, KA_FIELD(kaUseMipmap, _isExclude), kDefaultIsExclude);
    fields.describe("true: listed images are left out; false: only listed images get chains (registry key "
                    "isExclude = exclude or include, any case)");
    fields.declare();
}

kaUseMipmap::~kaUseMipmap()
{
    kaObject::release(_imageListFilename);
    kaObject::release(_imageList);
}

bool kaUseMipmap::canOptimize(kaNode*) { return true; }

kaMetaObject* kaUseMipmap::getVisitedObjectMeta() { return kaTextureAttr::getClassMetaSafe(); }

// ---- configure ----

bool kaUseMipmap::configure(int section)
{
    kaRegistry* registry = getRegistry();
    printf("kaUseMipmap::configure: we are here...\n");
    if (!readFilterKey(registry, section, minFilterToken, _minFilter)) return false;
    if (!readFilterKey(registry, section, magFilterToken, _magFilter)) return false;

    kaSmartPointer<kaStringObj> exclude;
    if (registry->getValue(section, isExcludeToken, exclude, "", false)) {
        exclude->toLower();
        if (std::strcmp(exclude->getString(), "exclude") == 0) _isExclude = true;
        if (std::strcmp(exclude->getString(), "include") == 0) _isExclude = false;
    }

    auto file = make<kaFile>();
    kaSmartPointer<kaStringObj> path;
    if (registry->getValue(section, imageListFilenameToken, path, "", false)) {
        _imageListFilename->set(path->getString());
        if (!_imageListFilename->isEmpty() && file->open(_imageListFilename->getString(), "r")) {
            parseImageListFile(file);
            file->close();
        }
    }
    return true;
}

int kaUseMipmap::parseImageListFile(kaFile* file)
{
    const int read = kaImageUtils::parseTextFile(file, _imageList);
    for (int i = 0; i < _imageList->getCount(); ++i) {
        kaStringObj* entry = _imageList->get(i);
        const std::string fileName = kaImageUtils::getFileName(entry->getString());
        entry->set(fileName.c_str());
    }
    return read;
}

bool kaUseMipmap::isSelected(const char* imageName)
{
    auto key = make<kaStringObj>();
    key->set(kaImageUtils::getFileName(imageName));
    // Entries set by name may still carry directories: they compare by their file name too.
    auto entryName = make<kaStringObj>();
    bool listed = false;
    for (int i = 0; i < _imageList->getCount() && !listed; ++i) {
        entryName->set(kaImageUtils::getFileName(_imageList->get(i)->getString()));
        listed = *entryName == *key;
    }
    if (_isExclude && listed) {
        printf("kaUseMipmap: (%s) excluded from mipmap generation\n", imageName);
        return false;
    }
    if (!_isExclude && !listed) {
        printf("kaUseMipmap: (%s) not included in mipmap generation\n", imageName);
        return false;
    }
    return true;
}

// ---- the chain ----

bool kaUseMipmap::visitor(kaObject* object)
{
    kaTextureAttr* texture = kaTextureAttr::dynamicCast(object);
    if (!texture) return true;
    kaSmartPointer<kaImage> image = texture->getImage(0);
    if (!image) return true;
    const char* givenName = image->getName();
    if (givenName && *givenName && !isSelected(givenName)) return true;
    if (!givenName || !*givenName) image->setName(kUnnamedImage);
    const std::string imageName = image->getName();
    if (image->isIndexed()) {
        printf("kaUseMipmap: (%s) skipping palettized image\n", imageName.c_str());
        return true;
    }
    const bool tagged = texture->getMipMapMode() == KA_GFX_TEXTURE_MODE_MIPMAP;
    if (!tagged && mipmapTaggedOnly) return true;

    // Both host passes are made before anything changes, so that a texture they cannot serve
    // stays exactly as it was.
    kaOptInterface* host = getInterface();
    auto resizerPass = kaSmartPointer<kaOptBase>::adopt(host->createOptBase("kaResizeImage"));
    auto converterPass = kaSmartPointer<kaOptBase>::adopt(host->createOptBase("kaConvertImage"));
    kaResizeImage* resizer = kaResizeImage::dynamicCast(resizerPass.get());
    kaConvertImage* converter = kaConvertImage::dynamicCast(converterPass.get());
    if (!resizer || !converter) {
        printf("kaUseMipmap: (%s) left unchanged: the host pass %s cannot be created\n", imageName.c_str(),
               resizer ? "kaConvertImage" : "kaResizeImage");
        return true;
    }

    if (!tagged) {
        texture->setMinFilter(static_cast<KA_GFX_TEXTURE_FILTER>(_minFilter));
        texture->setMagFilter(static_cast<KA_GFX_TEXTURE_FILTER>(_magFilter));
    }
    texture->setMipMapMode(KA_GFX_TEXTURE_MODE_NONE);
    printf("Setting Filter Type to %d\n", _filterType);
    resizer->setFilterType(getFilterType());
    converter->setConvertIfSmaller(false);

    const KA_GFX_IMAGE_ORDER platformOrder = kaImage::getPlatformSpecificOrder();
    const KA_GFX_TEXTURE_FORMAT incomingFormat = image->getPixelFormat();
    converter->convertImage(image, kWorkingFormat, kWorkingOrder);

    // One level per bit of the larger side; an image without pixels keeps its one level.
    int width = image->getWidth(), height = image->getHeight();
    const int largest = width == 0 || height == 0 ? 0 : std::max(width, height);
    int levelCount = 1;
    for (int rest = largest >> 1; rest != 0; rest >>= 1) ++levelCount;

    for (int level = levelCount; level < texture->getImageCount(); ++level) texture->setImage(nullptr, level);
    texture->setImageCount(levelCount);
    texture->setImage(image, 0);

    // Level names keep the whole name around the level number: "dir/wall.png" gives "dir/wall-1.png".
    auto baseName = make<kaStringObj>();
    auto extension = make<kaStringObj>();
    auto levelName = make<kaStringObj>();
    baseName->set(imageName.c_str());
    baseName->removeFileExtension();
    extension->set(imageName.c_str());
    extension->keepFileExtension();

    kaSmartPointer<kaImage> previous = image;
    for (int level = 1; level < levelCount; ++level) {
        if (height == 1)
            resizer->setHeightFactor(1.0f);
        else
            height >>= 1;
        if (width == 1)
            resizer->setWidthFactor(1.0f);
        else
            width >>= 1;
        auto next = make<kaImage>();
        next->copyFrom(previous, true);
        levelName->printf("%s-%d%s", baseName->getString(), level, extension->getString());
        next->setName(levelName->getString());
        printf("kaUseMipmap: generating mipmap level %d.\n", level);
        resizer->scale(next);
        texture->setImage(next, level);
        previous = next;
    }

    for (int level = 0; level < levelCount; ++level)
        converter->convertImage(texture->getImage(level), incomingFormat, platformOrder);
    return true;
}

} // namespace Lode::OptExtension
