#include "host/io/kaKABFile.h"

#include "host/core/kaFileCommit.h"
#include "host/core/kaStringObj.h"
#include "host/gfx/kaIndexArray.h"
#include "host/gfx/kaVertexArray.h"
#include "host/io/kaExternalImageEntry.h"
#include "host/io/kaKABFormat.h"
#include "host/sg/kaSceneModel.h"
#include "host/utils/kaProgress.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace Lode::Core {

using Lode::Sg::kaInfo;
using Lode::Sg::kaInfoList;
using Lode::Sg::kaSceneInfo;

// ---- format pieces shared by the reader and the writer ----

namespace kab {

StoredKind storedKindOf(kaFieldKind kind)
{
    switch (kind) {
    case kaFieldKind::Bool: return StoredBool;
    case kaFieldKind::Enum: return StoredEnum;
    case kaFieldKind::Int: return StoredInt;
    case kaFieldKind::UnsignedInt: return StoredUnsignedInt;
    case kaFieldKind::Float: return StoredFloat;
    case kaFieldKind::String: return StoredString;
    case kaFieldKind::ObjectRef: return StoredObjectRef;
    case kaFieldKind::FloatArray: return StoredFloatArray;
    case kaFieldKind::ObjectList: return StoredObjectList;
    case kaFieldKind::DataBlock: return StoredDataBlock;
    }
    return StoredBool;
}

const char* storedKindName(uint8_t kind)
{
    static const char* const names[] = {"?", "bool", "enum", "int", "unsigned", "float", "string", "reference",
                                        "float array", "object list", "data block"};
    return kind < sizeof names / sizeof names[0] ? names[kind] : "?";
}

std::vector<const kaMetaField*> storedFields(const kaMetaObject* meta)
{
    std::vector<const kaMetaField*> fields;
    for (int i = 0; i < meta->getMetaFieldCount(); ++i)
        if (!meta->getIndexedMetaField(i)->isTransient()) fields.push_back(meta->getIndexedMetaField(i));
    return fields;
}

namespace {
constexpr uint64_t P1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t P2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t P3 = 0x165667B19E3779F9ull;
constexpr uint64_t P4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t P5 = 0x27D4EB2F165667C5ull;

inline uint64_t rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
inline uint64_t round(uint64_t acc, uint64_t input) { return rotl(acc + input * P2, 31) * P1; }
inline uint64_t merge(uint64_t acc, uint64_t lane) { return (acc ^ round(0, lane)) * P1 + P4; }
inline uint64_t load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint32_t load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void stripe(uint64_t lanes[4], const uint8_t* p)
{
    lanes[0] = round(lanes[0], load64(p));
    lanes[1] = round(lanes[1], load64(p + 8));
    lanes[2] = round(lanes[2], load64(p + 16));
    lanes[3] = round(lanes[3], load64(p + 24));
}
} // namespace

Checksum::Checksum() : _lanes{P1 + P2, P2, 0, 0 - P1} {}

void Checksum::update(const uint8_t* data, size_t size)
{
    _total += size;
    if (_pendingSize) {
        const size_t taken = std::min(size, sizeof _pending - _pendingSize);
        std::memcpy(_pending + _pendingSize, data, taken);
        _pendingSize += taken;
        data += taken;
        size -= taken;
        if (_pendingSize < sizeof _pending) return;
        stripe(_lanes, _pending);
        _pendingSize = 0;
    }
    uint64_t lanes[4] = {_lanes[0], _lanes[1], _lanes[2], _lanes[3]};
    for (; size >= 32; data += 32, size -= 32) stripe(lanes, data);
    std::memcpy(_lanes, lanes, sizeof lanes);
    std::memcpy(_pending, data, size);
    _pendingSize = size;
}

uint64_t Checksum::finish() const
{
    uint64_t h;
    if (_total >= 32) {
        h = rotl(_lanes[0], 1) + rotl(_lanes[1], 7) + rotl(_lanes[2], 12) + rotl(_lanes[3], 18);
        for (uint64_t lane : _lanes) h = merge(h, lane);
    } else {
        h = P5;
    }
    h += _total;
    const uint8_t* p = _pending;
    size_t left = _pendingSize;
    for (; left >= 8; p += 8, left -= 8) h = rotl(h ^ round(0, load64(p)), 27) * P1 + P4;
    if (left >= 4) {
        h = rotl(h ^ (uint64_t(load32(p)) * P1), 23) * P2 + P3;
        p += 4;
        left -= 4;
    }
    for (; left; ++p, --left) h = rotl(h ^ (*p * P5), 11) * P1;
    h ^= h >> 33;
    h *= P2;
    h ^= h >> 29;
    h *= P3;
    h ^= h >> 32;
    return h;
}

} // namespace kab

uint64_t kaKABChecksum(const uint8_t* data, size_t size)
{
    kab::Checksum checksum;
    checksum.update(data, size);
    return checksum.finish();
}

// ---- class registration and tear-down ----

void kaRegisterFileClasses()
{
    Lode::Sg::kaRegisterSceneModel();
    static const kaRegistrationFunction classes[] = {
#define KA_SCENE_CLASS(Namespace, Class)
#define KA_FILE_CLASS(Namespace, Class) &Namespace::Class::arkRegisterInternal,
#include "host/kaHostClasses.def"
#undef KA_SCENE_CLASS
#undef KA_FILE_CLASS
    };
    for (kaRegistrationFunction registration : classes) kaArkRegister(registration);
}

void kaBreakReferences(const std::vector<kaObject*>& objects)
{
    // Held meanwhile: an object that only the others keep alive must not go while it is handled.
    std::vector<kaSmartPointer<kaObject>> held(objects.begin(), objects.end());
    // Lists that hold no references (parent lists) point at objects that may go first: they are
    // emptied before anything is released.
    for (kaObject* object : objects) {
        if (!object) continue;
        const kaMetaObject* meta = object->getMetaObject();
        for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
            const kaMetaField* field = meta->getIndexedMetaField(i);
            if (field->getKind() != kaFieldKind::ObjectRef) continue;
            auto* list = kaObjectList::dynamicCast(static_cast<const kaObjectRefMetaField*>(field)->get(object));
            if (list && !list->holdsReferences()) list->removeAll();
        }
    }
    for (kaObject* object : objects) {
        if (!object) continue;
        const kaMetaObject* meta = object->getMetaObject();
        for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
            const kaMetaField* field = meta->getIndexedMetaField(i);
            if (field->getKind() == kaFieldKind::ObjectRef) {
                // A constructed reference stays: its holder may rely on it being there.
                auto* refField = static_cast<const kaObjectRefMetaField*>(field);
                if (!refField->getConstruct()) refField->set(object, nullptr);
            } else if (field->getKind() == kaFieldKind::ObjectList) {
                if (auto* list = kaObjectList::dynamicCast(object)) {
                    list->removeAll();
                } else {
                    std::vector<kaObject*> entries;
                    entries.swap(static_cast<const kaObjectListMetaField*>(field)->get(object));
                    for (kaObject* entry : entries) kaObject::release(entry);
                }
            }
        }
    }
}

// ---- kaKABFile ----

KA_IMPLEMENT_CLASS(kaKABFile)

bool kaKABFile::read(const char* path)
{
    kaExternalReadContext context;
    return read(path, context);
}

bool kaKABFile::read(const char* path, kaExternalReadContext& context)
{
    if (!path || !*path) {
        _error = "no file name given";
        return false;
    }
    // Without blocking: a path that names a pipe must not wait for a writer.
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        _error = std::string(path) + ": cannot open the file: " + std::strerror(errno);
        return false;
    }
    kaFileCommit::noteInput(path);
    struct stat status;
    bool read = false;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        _error = std::string(path) + ": not a regular file";
    } else {
        kab::Input input(descriptor, static_cast<size_t>(status.st_size));
        read = readInput(input, path, context);
    }
    ::close(descriptor);
    return read;
}

bool kaKABFile::readFromMemory(const uint8_t* data, size_t size, const char* name)
{
    kaExternalReadContext context;
    kab::Input input(data, size);
    return readInput(input, name ? name : "", context);
}

bool kaKABFile::readInput(kab::Input& input, const std::string& name, kaExternalReadContext& context)
{
    kaRegisterFileClasses();
    if (!context.enter(name, _error)) return false;
    kaSmartPointer<kaDirectory> directory;
    const bool read = kab::readDirectory(input, name, kaFolderOf(name), context, directory, _error);
    context.leave();
    if (!read) return false;
    setPath(name.c_str());
    setDirectory(directory);
    _error.clear();
    return true;
}

bool kaKABFile::writeToMemory(std::vector<uint8_t>& bytes)
{
    kab::WrittenFile file;
    if (!kab::writeDirectory(getDirectory(), file, _error)) return false;
    bytes.clear();
    bytes.reserve(file.totalSize());
    file.forEachPiece([&](const uint8_t* data, size_t size) {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    });
    _error.clear();
    return true;
}

bool kaKABFile::write(const char* path)
{
    kaFileCommit files;
    return write(path, files) && files.commit(_error);
}

bool kaKABFile::write(const char* path, kaFileCommit& files)
{
    if (!path || !*path) {
        _error = "no file name given";
        return false;
    }
    kab::WrittenFile file;
    if (!kab::writeDirectory(getDirectory(), file, _error)) {
        _error = std::string(path) + ": " + _error;
        return false;
    }
    // Blocks go out in pieces, with progress reported after each.
    constexpr size_t PieceBytes = size_t(1) << 23;
    const size_t total = file.totalSize();
    size_t written = 0;
    const auto writePieces = [&](std::FILE* stream, std::string& error) {
        return file.forEachPiece([&](const uint8_t* data, size_t size) {
            for (size_t piece; size; data += piece, size -= piece) {
                piece = std::min(size, PieceBytes);
                if (std::fwrite(data, 1, piece, stream) != piece) {
                    error = std::string(path) + ": cannot write the file: " + std::strerror(errno);
                    return false;
                }
                written += piece;
                kaProgress::report(written, total);
            }
            return true;
        });
    };
    if (!files.write(path, writePieces, _error)) return false;
    setPath(path);
    _error.clear();
    return true;
}

// ---- scene files ----

bool kaGetSceneInfos(const kaKABFile* file, kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    const kaDirectory* directory = file->getDirectory();
    auto* rootEntry = kaObjectDirEntry::dynamicCast(directory->findEntryByEntryName("root"));
    kaObject* root = rootEntry ? rootEntry->getObject() : nullptr;
    kaSmartPointer<kaSceneInfo> sceneInfo = kaSceneInfo::dynamicCast(root);
    // A file written for one node (exported geometry, a level of detail) is a scene of that node,
    // named after the file.
    if (!sceneInfo && Lode::Sg::kaNode::dynamicCast(root)) {
        sceneInfo = make<kaSceneInfo>(std::filesystem::path(file->getPath()).stem().string());
        sceneInfo->setSceneGraph(Lode::Sg::kaNode::dynamicCast(root));
    }
    if (!sceneInfo) {
        error = std::string(file->getPath()) + ": not a scene file: its entry \"root\" holds neither a scene info nor a node";
        return false;
    }
    infos = kaSmartPointer<kaInfoList>::adopt(kaInfoList::_instantiate());
    infos->append(sceneInfo);
    for (int i = 0; i < directory->getCount(); ++i) {
        auto* entry = kaObjectDirEntry::dynamicCast(directory->getShared(i));
        auto* info = entry ? kaInfo::dynamicCast(entry->getObject()) : nullptr;
        if (info && info != sceneInfo) infos->append(info);
    }
    return true;
}

bool kaReadSceneFile(const std::string& path, kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    auto file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    if (!file->read(path.c_str())) {
        error = file->getError();
        return false;
    }
    return kaGetSceneInfos(file, infos, error);
}

bool kaWriteSceneFile(const std::string& path, kaInfoList* infos,
                      const std::vector<kaExternalDirEntry*>& externalEntries, std::string& error)
{
    kaFileCommit files;
    return kaWriteSceneFile(path, infos, externalEntries, files, error) && files.commit(error);
}

bool kaWriteSceneFile(const std::string& path, kaInfoList* infos,
                      const std::vector<kaExternalDirEntry*>& externalEntries, kaFileCommit& files,
                      std::string& error)
{
    if (!infos || infos->getCount() == 0 || !kaSceneInfo::dynamicCast(infos->getShared(0))) {
        error = path + ": the scene has no scene info to write";
        return false;
    }
    auto file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    kaDirectory* directory = file->getDirectory();
    for (int i = 0; i < infos->getCount(); ++i) {
        auto entry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
        entry->setEntryName(i == 0 ? "root" : ("info" + std::to_string(i)).c_str());
        entry->setObject(infos->getShared(i));
        directory->append(entry);
    }
    for (kaExternalDirEntry* entry : externalEntries)
        if (entry) directory->append(entry);
    if (!file->write(path.c_str(), files)) {
        error = file->getError();
        return false;
    }
    return true;
}

} // namespace Lode::Core
