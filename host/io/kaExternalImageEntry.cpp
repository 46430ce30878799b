#include "host/io/kaExternalImageEntry.h"

#include "host/io/kaImageFiles.h"

#include <sys/stat.h>

namespace Lode::Gfx {

using namespace Lode::Core;

KA_IMPLEMENT_CLASS(kaExternalImageEntry)

bool kaExternalImageEntry::resolve(const std::string& folder, kaExternalReadContext& context, std::string& error)
{
    if (!getDirectoryName() || !*getDirectoryName()) {
        error = "the external image entry names no file";
        return false;
    }
    error = context.refuseReference(getDirectoryName(), folder);
    if (!error.empty()) return false;
    const std::string path = getPathIn(folder);
    // Only plain files: opening a pipe or a device named by a damaged entry could wait forever.
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        error = path + ": no such image file";
        return false;
    }
    auto image = kaSmartPointer<kaImage>::adopt(kaImage::_instantiate());
    if (!kaReadPngImage(*image, path, error)) return false;
    image->setName(getEntryName());
    return bindObject(image);
}

} // namespace Lode::Gfx
