#include "host/io/kaDirectory.h"

#include "host/io/kaKABFile.h"

#include <atomic>
#include <cstring>
#include <filesystem>

namespace Lode::Core {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaDirEntry)

void kaDirEntry::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaDirEntry, _entryName));
    fields.declare();
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaObjectDirEntry)

void kaObjectDirEntry::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaObjectDirEntry, _object), kaObject::getClassTypeLazy());
    fields.declare();
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaExternalDirEntry)

void kaExternalDirEntry::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaExternalDirEntry, _directoryName));
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaExternalDirEntry, _boundObject),
               kaObject::getClassTypeLazy(), kaRefFlags::Transient);
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaExternalDirEntry, _baseFolder));
    fields.declare();
    // Where the entry was read from says nothing about what it stands for: not stored.
    _Meta->findMetaField("_baseFolder")->setTransient(true);
}

bool kaExternalDirEntry::bindObject(kaObject* object)
{
    _boundObject = object;
    return true;
}

std::string kaExternalDirEntry::getPathIn(const std::string& folder) const
{
    std::filesystem::path name(_directoryName.text());
    if (folder.empty() || name.is_absolute()) return name.generic_string();
    return (std::filesystem::path(folder) / name).generic_string();
}

bool kaExternalDirEntry::resolve(const std::string& folder, kaExternalReadContext& context, std::string& error)
{
    if (_directoryName.isEmpty()) {
        error = "the external entry names no file";
        return false;
    }
    error = context.refuseReference(_directoryName.text(), folder);
    if (!error.empty()) return false;
    const std::string path = getPathIn(folder);
    kaKABFile* file = context.loadFile(path, error);
    if (!file) return false;
    auto* entry = kaObjectDirEntry::dynamicCast(file->getDirectory()->findEntryByEntryName(_entryName.text()));
    if (!entry || !entry->getObject()) {
        error = path + ": no object entry named '" + _entryName.text() + "'";
        return false;
    }
    return bindObject(entry->getObject());
}

KA_IMPLEMENT_CLASS(kaDirectory)

kaDirEntry* kaDirectory::findEntryByEntryName(const char* name) const
{
    if (!name) return nullptr;
    for (int i = 0; i < getCount(); ++i) {
        kaDirEntry* entry = getShared(i);
        if (entry && entry->getEntryName() && std::strcmp(entry->getEntryName(), name) == 0) return entry;
    }
    return nullptr;
}

void kaDirectory::dropIndex() const
{
    _positionOfBound.clear();
    _indexedCount = 0;
    _lastIndexed = nullptr;
}

void kaDirectory::updateIndex() const
{
    const int count = getCount();
    if (count < _indexedCount || (_indexedCount > 0 && getShared(_indexedCount - 1) != _lastIndexed)) dropIndex();
    for (; _indexedCount < count; ++_indexedCount) {
        auto* entry = kaExternalDirEntry::dynamicCast(getShared(_indexedCount));
        if (entry && entry->getBoundObject()) _positionOfBound.emplace(entry->getBoundObject(), _indexedCount);
    }
    _lastIndexed = count ? getShared(count - 1) : nullptr;
}

kaExternalDirEntry* kaDirectory::findExternalEntry(const kaObject* object) const
{
    if (!object) return nullptr;
    // A position that no longer holds the object's entry means the list was changed in place:
    // the index is rebuilt once and asked again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        updateIndex();
        auto found = _positionOfBound.find(object);
        if (found == _positionOfBound.end()) return nullptr;
        auto* entry = kaExternalDirEntry::dynamicCast(getShared(found->second));
        if (entry && entry->getBoundObject() == object) return entry;
        dropIndex();
    }
    return nullptr;
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaFileInfo, kaDirectory::arkRegister)

void kaFileInfo::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaFileInfo, _path));
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaFileInfo, _folder));
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaFileInfo, _directory), kaDirectory::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.declare();
}

void kaFileInfo::setPath(const char* path)
{
    // An empty path or folder is held as none: the host's "" would be one more holder of the
    // empty name's text, one that only some command lines make.
    _path = path && *path ? path : nullptr;
    const std::string folder = kaFolderOf(path ? path : "");
    _folder = folder.empty() ? nullptr : folder.c_str();
}

std::string kaFolderOf(const std::string& path) { return std::filesystem::path(path).parent_path().generic_string(); }

std::string kaAbsolutePath(const std::string& path)
{
    std::error_code failed;
    const std::filesystem::path made = std::filesystem::absolute(path.empty() ? "." : path, failed);
    // Only a working folder that is gone fails; the path as given is then the best there is.
    std::filesystem::path normal = (failed ? std::filesystem::path(path) : made).lexically_normal();
    // "folder/." normalises to "folder/", whose empty last part would count as one more level.
    if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
    return normal.string();
}

namespace {
std::atomic<bool> gOutsideReferencesAllowed{false};
} // namespace

void kaSetOutsideReferencesAllowed(bool allowed) { gOutsideReferencesAllowed = allowed; }

bool kaOutsideReferencesAllowed() { return gOutsideReferencesAllowed; }

bool kaStaysInside(const std::string& reference, const std::string& folder, const std::string& insideFolder)
{
    namespace fs = std::filesystem;
    if (fs::path(reference).is_absolute()) return false;
    const fs::path target = fs::path(kaAbsolutePath(folder)) / reference;
    const fs::path inside = target.lexically_normal().lexically_relative(kaAbsolutePath(insideFolder));
    return !inside.empty() && *inside.begin() != "..";
}

std::string kaReferenceRefusal(const std::string& reference, const std::string& folder, const std::string& insideFolder,
                               const std::string& place)
{
    if (gOutsideReferencesAllowed || kaStaysInside(reference, folder, insideFolder)) return "";
    return (std::filesystem::path(reference).is_absolute() ? "is an absolute path, outside " : "lies outside ") + place +
           ": not read (--allow-outside-references reads it)";
}

// ---- kaExternalReadContext ----

kaExternalReadContext::kaExternalReadContext(std::string insideFolder) : _insideFolder(std::move(insideFolder)) {}

kaExternalReadContext::~kaExternalReadContext()
{
    for (auto& loaded : _loaded) kaObject::release(loaded.second);
}

std::string kaExternalReadContext::key(const std::string& path)
{
    std::error_code failed;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, failed);
    return failed ? std::filesystem::path(path).lexically_normal().string() : canonical.string();
}

bool kaExternalReadContext::enter(const std::string& path, std::string& error)
{
    if (_input.empty()) _input = path;
    const std::string name = key(path);
    for (const std::string& reading : _reading)
        if (reading == name) {
            error = path + ": the file refers back to itself through its external entries";
            return false;
        }
    if (static_cast<int>(_reading.size()) >= MaxDepth) {
        error = path + ": external files nest deeper than " + std::to_string(MaxDepth) + " levels";
        return false;
    }
    _reading.push_back(name);
    return true;
}

void kaExternalReadContext::leave() { _reading.pop_back(); }

std::string kaExternalReadContext::refuseReference(const std::string& reference, const std::string& folder) const
{
    if (!_insideFolder.empty()) return kaReferenceRefusal(reference, folder, _insideFolder, "the folder " + _insideFolder);
    return kaReferenceRefusal(reference, folder, kaFolderOf(_input), "the folder of " + _input);
}

kaKABFile* kaExternalReadContext::loadFile(const std::string& path, std::string& error)
{
    auto found = _loaded.find(key(path));
    if (found != _loaded.end()) return found->second;
    auto file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    if (!file->read(path.c_str(), *this)) {
        error = file->getError();
        return nullptr;
    }
    kaKABFile* kept = file.detach();
    _loaded[key(path)] = kept;
    return kept;
}

} // namespace Lode::Core
