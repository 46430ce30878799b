// glTF 2.0 import and export: the exchange format between the engine's scenes and other tools.
//
// Import reads a .gltf (with its .bin and image files) or a .glb into a scene info and, when the
// file has skins or animations, an animation database; export writes the reverse. What each glTF
// object becomes is described in docs/gltf.md. Both directions report problems as text
// and never throw.
#pragma once

#include "host/core/kaFileCommit.h"
#include "host/io/kaDirectory.h"
#include "host/sg/kaInfo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Lode::Io {

// What an import reads: the whole scene, or only what counting it needs (kaCountScene): then
// vertex arrays hold their number of vertices but no data, indices are not read, and images
// have their size and format but neither pixels nor their encoding, so that a file can be
// counted without its data being paged in, copied or decoded.
enum class kaGltfImportData { Whole, Counts };

// Reads the glTF file at path. infos receives the scene info first and then, when the file has
// skins or animations, an animation database. On failure infos is left as it was and error
// names the file and says what is wrong.
bool kaImportGltf(const std::string& path, Lode::Core::kaSmartPointer<Lode::Sg::kaInfoList>& infos, std::string& error,
                  kaGltfImportData data = kaGltfImportData::Whole);

// As kaImportGltf, from a file held in memory (a .glb when it starts with the binary magic, else
// glTF JSON). name stands for the file in messages. Buffers and images given by relative URIs
// are read from folder; with an empty folder the file must be self-contained.
bool kaImportGltfFromMemory(const uint8_t* data, size_t size, const std::string& name, const std::string& folder,
                            Lode::Core::kaSmartPointer<Lode::Sg::kaInfoList>& infos, std::string& error);

// Writes infos (scene info first) to path: a .glb holds everything; a .gltf gets a .bin of the
// same stem and one PNG file per image beside it. Every file is written under a temporary name
// and renamed into place only when all are written, so a failure leaves nothing behind. What
// glTF cannot carry is dropped with one warning line per kind on standard error.
bool kaExportGltf(const std::string& path, Lode::Sg::kaInfoList* infos, std::string& error);

// As above; images bound to external image entries are referred to by URI, the entry's
// directory name taken relative to the folder of path, instead of being written again.
bool kaExportGltf(const std::string& path, Lode::Sg::kaInfoList* infos,
                  const std::vector<Lode::Core::kaExternalDirEntry*>& externalEntries, std::string& error);
// As above, the files joining files: they appear only when files is committed (the caller
// abandons files when this fails).
bool kaExportGltf(const std::string& path, Lode::Sg::kaInfoList* infos,
                  const std::vector<Lode::Core::kaExternalDirEntry*>& externalEntries, Lode::Core::kaFileCommit& files,
                  std::string& error);

} // namespace Lode::Io
