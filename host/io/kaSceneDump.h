// The scene as a person or a script reads it (`kaopt info`). Every object reachable from the
// scene's infos is shown from its reflected fields alone, so a new class needs no dump code of
// its own; a short line of key facts (counts, vertex formats, image sizes) is added for the
// families of classes where a count says more than the fields. Fields at their class's default
// are left out. An object reached more than once is shown once, numbered and marked as shared;
// every further place names that number ("(shared, see #12)"). Small lists and strings held by
// one owner are shown in place of their object; bulk data shows its element type and count.
#pragma once

#include "host/io/kaDirectory.h"
#include "host/sg/kaInfo.h"

#include <string>

namespace Lode::Io {

enum class kaDumpFormat {
    Text,  // an indented tree
    Json,  // the same tree as one JSON document
};

// The dump of infos under a title (the scene file's path). With file, the objects bound to its
// external entries are marked with the file that keeps them.
std::string kaDumpScene(const std::string& title, const Lode::Sg::kaInfoList* infos,
                        const Lode::Core::kaFileInfo* file, kaDumpFormat format);

} // namespace Lode::Io
