// The engine's object file (.kab). A file holds a directory of entries; everything reachable
// from it is written generically from the reflected fields, so no class has file code of its own.
//
// Layout (little-endian):
//   header   magic "KAB\x1a", u32 format version, u64 payload size, u64 payload checksum
//   payload  strings   u32 count, then per string: u32 length and the bytes
//            classes   u32 count, then per class: u32 name string, u32 field count, then per
//                      stored field: u32 name string, u8 kind, u32 detail (float count of an
//                      inline float array, element type string of a data block, else 0)
//            objects   u32 count, u32 class index per object, u32 reference to the directory,
//                      then every object's stored fields in its class's field order
// A reference is 0 (null), 1 + an object's index, or kaKABExternalReference | the index of an
// external entry, standing for the object that entry is bound to. Transient fields are not
// stored. Data blocks are one u64 byte count and the bytes, copied as one block.
#pragma once

#include "host/core/kaFileCommit.h"
#include "host/io/kaDirectory.h"
#include "host/sg/kaInfo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Lode::Core {

namespace kab {
class Input;
}

constexpr uint32_t kaKABFormatVersion = 1;
constexpr size_t kaKABHeaderSize = 24;
constexpr uint32_t kaKABExternalReference = 0x80000000u;

class kaKABFile : public kaFileInfo {
    KA_DECLARE_CLASS(kaKABFile, kaFileInfo)
public:
    // Reads the file at path: its directory replaces this file's, and external entries are
    // loaded relative to the file's folder. False when the file cannot be read or is not a
    // valid .kab file; getError then names the file and, for a damaged file, the byte offset.
    bool read(const char* path);
    // As read, within the external files already being read (nested reads).
    bool read(const char* path, kaExternalReadContext& context);
    // Reads a file held in memory; name stands for its path (errors, external entries).
    bool readFromMemory(const uint8_t* data, size_t size, const char* name);

    // Writes the directory and everything it refers to. Objects bound to the directory's
    // external entries are written as references to those entries. The file is written beside
    // path under a temporary name and then renamed, so a failed write leaves no partial file and
    // keeps what was at path.
    bool write(const char* path);
    // As write, the file joining files: it appears only when files is committed.
    bool write(const char* path, kaFileCommit& files);
    bool writeToMemory(std::vector<uint8_t>& bytes);

    const std::string& getError() const { return _error; }

private:
    bool readInput(kab::Input& input, const std::string& name, kaExternalReadContext& context);
    // The outcome of the last read or write, not a property of the file: not a field.
    std::string _error;
};

// The checksum stored in the header, over the payload.
uint64_t kaKABChecksum(const uint8_t* data, size_t size);

// Registers the classes a scene file can hold that no other code may have asked for yet, so
// that a reader finds them by name.
void kaRegisterFileClasses();

// Drops every reference the objects hold to each other (object lists emptied, references that
// are not constructed with their holder cleared) so that they can be released one by one even
// when they refer to each other in a cycle. The objects may be ones that only the others keep
// alive: each is held until all are handled.
void kaBreakReferences(const std::vector<kaObject*>& objects);

// Scene files: the entry "root" holds the scene info; every further info of the scene is an
// object entry too. Read infos start with the scene info.
bool kaReadSceneFile(const std::string& path, kaSmartPointer<Lode::Sg::kaInfoList>& infos, std::string& error);
// The infos of a read file, scene info first. A file whose root holds a node (exported geometry)
// gives a scene info named after the file over that node; false with a reason for anything else.
bool kaGetSceneInfos(const kaKABFile* file, kaSmartPointer<Lode::Sg::kaInfoList>& infos, std::string& error);
// infos must start with the scene info. The external entries become entries of the file, and
// the objects bound to them are written as references to them.
bool kaWriteSceneFile(const std::string& path, Lode::Sg::kaInfoList* infos,
                      const std::vector<kaExternalDirEntry*>& externalEntries, std::string& error);
// As above, the file joining files: it appears only when files is committed.
bool kaWriteSceneFile(const std::string& path, Lode::Sg::kaInfoList* infos,
                      const std::vector<kaExternalDirEntry*>& externalEntries, kaFileCommit& files,
                      std::string& error);

} // namespace Lode::Core
