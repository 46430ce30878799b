// Image file names and image list files.
#pragma once

#include "host/core/kaFile.h"
#include "host/core/kaStringObj.h"

#include <string>
#include <string_view>

namespace Lode::Utils {

class kaImageUtils {
public:
    // The image list format: one image file name per line; a line is trimmed of blanks (spaces,
    // tabs, a carriage return of CRLF line ends), and blank lines and lines whose first
    // non-blank character is '#' are skipped. Names are taken as bytes, whatever their encoding.
    // Adds one entry to names per listed image and returns how many were added.
    static int parseText(std::string_view text, Lode::Core::kaStringObjList* names);
    // The same for the rest of an open file.
    static int parseTextFile(Lode::Core::kaFile* file, Lode::Core::kaStringObjList* names);

    // The file-name part of a path: what follows its last '/' or '\'. The result points into path.
    static const char* getFileName(const char* path);

private:
    // The name a line of a list holds, or "" for a blank or comment line.
    static std::string listedName(std::string_view line);
};

} // namespace Lode::Utils
