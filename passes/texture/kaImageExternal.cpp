// kaImageExternal exists so that textures can be edited and shared outside the scene file: every
// image reachable from the scene is written as "<name>.png" (its name without folders and its
// last extension; "DefaultImageName" when nothing is left), made unique within its folder, into
// _imageSubDirectory below the output's folder. With _forcePngUsage the scene then refers to
// each file through an external image entry, so a saved scene loads its images from the PNG
// files; with _forceInternalImage the external image entries are taken away again, so the
// images are saved inside the scene. An image whose file cannot be written stays as it was.
#include "passes/texture/kaImageExternal.h"

#include "passes/kaPassRegistration.h"
#include "host/core/kaStringObj.h"
#include "host/gfx/kaImage.h"
#include "host/io/kaExternalImageEntry.h"
#include "host/opt/kaOptInterface.h"

namespace Lode::OptExtension {

using Lode::Gfx::kaExternalImageEntry;

kaBoolMetaField* kaImageExternal::k_forcePngUsage = nullptr;
kaStringMetaField* kaImageExternal::k_imageSubDirectory = nullptr;
kaBoolMetaField* kaImageExternal::k_forceInternalImage = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaImageExternal)

void kaImageExternal::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_forcePngUsage, KA_FIELD(kaImageExternal, _forcePngUsage), kDefaultForcePngUsage);
    fields.describe("after an image's file is written, the saved scene refers to the PNG file instead of holding "
                    "the image");
    fields.add(&k_imageSubDirectory, KA_FIELD(kaImageExternal, _imageSubDirectory), kDefaultImageSubDirectory);
    fields.describe("existing folder, relative to the output's folder, that receives the PNG files; none: the "
                    "output's folder itself");
    fields.add(&k_forceInternalImage, KA_FIELD(kaImageExternal, _forceInternalImage), kDefaultForceInternalImage);
    fields.describe("after an image's file is written, every external image entry is removed, so that the saved "
                    "scene holds its images itself");
    fields.declare();
}

std::string kaImageExternal::imageFolder()
{
    const char* outputPath = getInterface()->getFilePath();
    std::string folder = outputPath ? outputPath : "";
    if (!_imageSubDirectory.isEmpty()) folder += (folder.empty() ? "" : "/") + std::string(_imageSubDirectory.c_str());
    return folder;
}

bool kaImageExternal::configure(int)
{
    if (getInterface()->isFolderWritable(imageFolder().c_str())) return true;
    printf("ERROR: The directory %s does not exist\n", _imageSubDirectory.c_str());
    return false;
}

bool kaImageExternal::visitor(kaObject* object)
{
    handleImage(static_cast<kaImage*>(object));
    return true;
}

kaMetaObject* kaImageExternal::getVisitedObjectMeta() { return kaImage::getClassMetaSafe(); }

void kaImageExternal::handleImage(kaImage* image)
{
    kaOptInterface* optInterface = getInterface();
    auto fileName = kaSmartPointer<kaStringObj>::adopt(kaStringObj::_instantiateFromPool(getMemoryPool()));
    auto fullPath = kaSmartPointer<kaStringObj>::adopt(kaStringObj::_instantiateFromPool(getMemoryPool()));

    fileName->set(image->getName());
    fileName->removePathFromFileName();
    // Only the last extension goes: "wall.diffuse.png" and "wall.normal.png" stay two files
    // that say what they hold, named as kaUseMipmap names their levels.
    fileName->removeFileExtension();
    if (fileName->isEmpty()) fileName->set("DefaultImageName");
    fileName->appendFileExtension(".png");
    optInterface->makeNameUnique(_imageSubDirectory.c_str(), fileName);

    fullPath->set(fileName->getString());
    const std::string folder = imageFolder();
    if (!folder.empty()) {
        fullPath->insertBefore("/", 0);
        fullPath->insertBefore(folder.c_str(), 0);
    }

    printf("saving image file <%s>\n", fileName->getString());
    if (!optInterface->writeImage(image, fullPath->getString())) {
        printf("image externalization for file <%s> failed\n", fileName->getString());
        return;
    }

    if (_forceInternalImage) {
        kaDirectory* directory = optInterface->getFile()->getDirectory();
        for (int i = 0; i < directory->getCount();) {
            if (kaExternalImageEntry::dynamicCast(directory->getShared(i)))
                directory->remove(i);
            else
                ++i;
        }
    }
    if (_forcePngUsage) {
        // Only an image entry can load a PNG file: an image that another file holds gets a new one.
        kaSmartPointer<kaExternalDirEntry> entry = kaExternalImageEntry::dynamicCast(optInterface->getExternalEntry(image));
        if (!entry) entry = kaSmartPointer<kaExternalDirEntry>::adopt(kaExternalImageEntry::_instantiateFromPool(getMemoryPool()));
        entry->bindObject(image);
        entry->setDirectoryName(fileName->getString());
        entry->setEntryName(fileName->getString());
        optInterface->addExternalReference(entry);
    }
}

} // namespace Lode::OptExtension
