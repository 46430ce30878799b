// kaImageExternal: writes every image of the scene to a PNG file of its own (optionally in a
// subdirectory) and lets the scene refer to those files through external image entries, or
// takes such entries away again.
#pragma once

#include "host/opt/kaOptBase.h"

namespace Lode::Gfx {
class kaImage;
}

namespace Lode::OptExtension {

using namespace Lode::Opt;
using Lode::Gfx::kaImage;

class kaImageExternal : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaImageExternal, kaOptVisitObject)
public:
    bool configure(int section) override;

    void setForcePngUsage(bool force) { _forcePngUsage = force; }
    bool getForcePngUsage() const { return _forcePngUsage; }
    void setImageSubDirectory(const char* directory) { _imageSubDirectory = directory; }
    const char* getImageSubDirectory() const { return _imageSubDirectory.c_str(); }
    void setForceInternalImage(bool force) { _forceInternalImage = force; }
    bool getForceInternalImage() const { return _forceInternalImage; }

    static kaBoolMetaField* k_forcePngUsage;
    static kaStringMetaField* k_imageSubDirectory;
    static kaBoolMetaField* k_forceInternalImage;

protected:
    bool visitor(kaObject* object) override;
    kaMetaObject* getVisitedObjectMeta() override;
    void handleImage(kaImage* image);

private:
    // The folder the image files go to: the subdirectory below the interface's output path.
    std::string imageFolder();

    static constexpr bool kDefaultForcePngUsage = true;
    static constexpr const char* kDefaultImageSubDirectory = nullptr;
    static constexpr bool kDefaultForceInternalImage = false;

    bool _forcePngUsage = kDefaultForcePngUsage;
    kaStringRef _imageSubDirectory;
    bool _forceInternalImage = kDefaultForceInternalImage;
};

} // namespace Lode::OptExtension
