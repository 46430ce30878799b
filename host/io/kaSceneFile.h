// Scene files in every format the host reads and writes, chosen by the file's extension:
// ".kab" (the engine's object file), ".gltf" and ".glb" (glTF 2.0, the exchange format).
// Whatever the format, a scene is a list of infos whose first entry is the scene info holding
// the graph's root; further infos (animation databases) follow.
#pragma once

#include "host/core/kaFileCommit.h"
#include "host/io/kaDirectory.h"
#include "host/sg/kaInfo.h"

#include <string>
#include <vector>

namespace Lode::Io {

using Lode::Core::kaExternalDirEntry;
using Lode::Core::kaFileInfo;
using Lode::Core::kaSmartPointer;
using Lode::Sg::kaInfoList;

enum class kaSceneFormat { Unknown, Kab, Gltf, Glb };

// The format the extension of path names (letter case does not matter); Unknown for any other.
kaSceneFormat kaSceneFormatOf(const std::string& path);

// True when scenes of path's format can be read and written in this build; otherwise false with
// a reason naming the file. Lets a caller refuse an output before any work is done.
bool kaCheckSceneFormat(const std::string& path, std::string& error);

// Reads the scene at path. On failure returns false with a reason that names the file and, for
// a damaged .kab file, the byte offset; infos is then left alone.
bool kaReadScene(const std::string& path, kaSmartPointer<kaInfoList>& infos, std::string& error);
// As above, also handing out the file the scene came from: its path and its directory, whose
// external entries stand for the objects the scene keeps in files of their own (PNG images,
// exported geometry). A format without such entries gives a file with an empty directory.
bool kaReadScene(const std::string& path, kaSmartPointer<kaInfoList>& infos, kaSmartPointer<kaFileInfo>& file,
                 std::string& error);

// Writes the scene to path, atomically: a failed write leaves no partial file and keeps what
// was at path. infos must start with the scene info. The objects bound to externalEntries are
// written as references to those entries (formats without external entries write them in
// place). On failure returns false with a reason naming the file.
bool kaWriteScene(const std::string& path, kaInfoList* infos, const std::vector<kaExternalDirEntry*>& externalEntries,
                  std::string& error);
// As above, the scene's files joining files, so that a whole run (the scene and the files its
// passes wrote) appears together when files is committed. On failure the caller abandons files.
bool kaWriteScene(const std::string& path, kaInfoList* infos, const std::vector<kaExternalDirEntry*>& externalEntries,
                  Lode::Core::kaFileCommit& files, std::string& error);

} // namespace Lode::Io
