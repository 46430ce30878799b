// An external entry for an image kept in a PNG file beside the object file.
#pragma once

#include "host/io/kaDirectory.h"

namespace Lode::Gfx {

class kaExternalImageEntry : public Lode::Core::kaExternalDirEntry {
    KA_DECLARE_CLASS(kaExternalImageEntry, Lode::Core::kaExternalDirEntry)
public:
    // Reads the PNG file the directory name gives (relative to folder) into a new image named
    // after the entry, and binds the entry to it.
    bool resolve(const std::string& folder, Lode::Core::kaExternalReadContext& context, std::string& error) override;
};

} // namespace Lode::Gfx
