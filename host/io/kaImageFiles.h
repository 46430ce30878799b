// Images in PNG files: the PNG codec wired to kaImage, for the passes' files, external image
// entries and the containers that carry images inside them.
#pragma once

#include "host/core/kaFileCommit.h"
#include "host/gfx/kaImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Lode::Gfx {

// Writes the image as a PNG file. Grey, grey-alpha, palettised, RGB8 and RGBA8 keep their layout;
// RGB565 is widened to RGB8, RGBA4444 and RGBA5551 to RGBA8; blue-first order is written red
// first. True when the file was written, else error says why.
bool kaWritePngImage(const kaImage& image, const std::string& path, std::string& error);
// As kaWritePngImage, the file joining files: it appears only when files is committed.
bool kaWritePngImage(const kaImage& image, const std::string& path, Lode::Core::kaFileCommit& files,
                     std::string& error);
// The PNG file's bytes, as kaWritePngImage writes them.
bool kaEncodePngImage(const kaImage& image, std::vector<uint8_t>& bytes, std::string& error);
// Replaces the image's dimensions, format, pixels and palette by those of a PNG file (the name
// stays; the order becomes the platform order; the kept encoding goes). On failure the image is
// unchanged and error says why.
bool kaReadPngImage(kaImage& image, const std::string& path, std::string& error);

} // namespace Lode::Gfx
