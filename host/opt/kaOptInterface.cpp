#include "host/opt/kaOptInterface.h"

#include "host/core/kaText.h"
#include "host/core/kaWalk.h"
#include "host/core/kaWarnings.h"
#include "host/gfx/kaImage.h"
#include "host/io/kaExternalImageEntry.h"
#include "host/io/kaKABFile.h"
#include "host/io/kaSceneFile.h"
#include "host/opt/kaConvertImage.h"
#include "host/opt/kaResizeImage.h"
#include "host/sg/kaGroup.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace Lode::Opt {

KA_IMPLEMENT_CLASS(kaOptInterface)

int kaOptInterface::printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = std::vprintf(format, args);
    va_end(args);
    return written;
}

bool kaOptInterface::fflush(std::FILE* stream) { return std::fflush(stream) == 0; }

void kaRegisterHostPasses()
{
    if (kaResizeImage::getClassMeta() && kaResizeImage::getClassMeta()->isFullyRegistered()) return;
    kaResizeImage::getClassMetaSafe()->setSummary(
        "host pass: resamples one image in place by a width and a height factor (kaUseMipmap uses it)");
    kaConvertImage::getClassMetaSafe()->setSummary(
        "host pass: converts one image in place to another pixel format and channel order (kaUseMipmap uses it)");
}

bool kaIsHostPass(const kaMetaObject* meta)
{
    return meta && (meta == kaResizeImage::getClassMeta() || meta == kaConvertImage::getClassMeta());
}

kaOptBase* kaOptInterface::createOptBase(const char* className)
{
    kaRegisterHostPasses();
    kaMetaObject* meta = kaMetaObject::findClass(className);
    if (!meta || !meta->isOfType(kaOptBase::getClassMetaSafe()) || !meta->canCreateInstance()) return nullptr;
    auto* pass = static_cast<kaOptBase*>(meta->createInstance(nullptr));
    pass->setInterface(this);
    return pass;
}

kaOptInterface::RunResult kaOptInterface::runPass(kaOptBase* pass, int section, kaSmartPointer<kaNode>& root,
                                                  kaInfoList* infos, const std::function<bool(bool)>& afterConfigure)
{
    const bool configured = pass->configure(section);
    if (afterConfigure && !afterConfigure(configured)) return RunResult::Stopped;
    if (!configured) return RunResult::Refused;
    pass->applyToInfos(infos);
    if (root && pass->canOptimize(root.get())) pass->apply(root);
    return RunResult::Applied;
}

// ---- files ----

kaFileInfo* kaOptInterface::getFile()
{
    if (!_file) _file = kaSmartPointer<kaFileInfo>::adopt(kaFileInfo::_instantiate());
    return _file;
}

void kaOptInterface::setFile(kaFileInfo* file) { _file = file; }

kaExternalDirEntry* kaOptInterface::getExternalEntry(kaObject* object)
{
    return getFile()->getDirectory()->findExternalEntry(object);
}

void kaOptInterface::addExternalReference(kaExternalDirEntry* entry)
{
    if (!entry) return;
    kaDirectory* directory = getFile()->getDirectory();
    kaSmartPointer<kaExternalDirEntry> keep = entry;
    // A registered entry's name follows the output path, whatever file it was read from.
    entry->setBaseFolder("");
    kaExternalDirEntry* earlier = directory->findExternalEntry(entry->getBoundObject());
    if (earlier == entry) return;
    if (earlier) directory->removeObject(earlier);
    directory->append(entry);
}

kaExternalDirEntry* kaOptInterface::findBoundEntry(const kaObject* object, const ObjectSet& inPlace)
{
    return inPlace.count(object) ? nullptr : getFile()->getDirectory()->findExternalEntry(object);
}

std::vector<kaExternalDirEntry*> kaOptInterface::findUsedExternalEntries(const std::vector<kaObject*>& roots,
                                                                         const ObjectSet& inPlace)
{
    std::vector<kaExternalDirEntry*> used;
    std::unordered_set<const kaObject*> seen;
    std::vector<kaObject*> stack(roots.begin(), roots.end());
    while (!stack.empty()) {
        kaObject* object = stack.back();
        stack.pop_back();
        if (!object || !seen.insert(object).second) continue;
        if (kaExternalDirEntry* bound = findBoundEntry(object, inPlace)) {
            used.push_back(bound);
            continue;
        }
        kaForEachReference(object, [&](kaObject* target) {
            if (!seen.count(target)) stack.push_back(target);
        });
    }
    return used;
}

std::vector<std::string> kaOptInterface::rebaseEntryNames(const std::vector<kaExternalDirEntry*>& entries,
                                                          const std::string& writtenPath) const
{
    namespace fs = std::filesystem;
    const fs::path writtenFolder = kaAbsolutePath(kaFolderOf(writtenPath));
    std::vector<std::string> original;
    for (kaExternalDirEntry* entry : entries) {
        const char* name = entry->getDirectoryName() ? entry->getDirectoryName() : "";
        original.emplace_back(name);
        const char* base = *entry->getBaseFolder() ? entry->getBaseFolder() : getFilePath();
        fs::path target = kaAbsolutePath((fs::path(base ? base : "") / name).string());
        // An image entry names only its file; where this run wrote that file says where it is.
        auto written = _fileOfObject.find(entry->getBoundObject());
        if (written != _fileOfObject.end() && fs::path(written->second).filename() == fs::path(name).filename())
            target = kaAbsolutePath(written->second);
        const fs::path relative = target.lexically_relative(writtenFolder);
        const std::string rebased = relative.empty() ? target.generic_string() : relative.generic_string();
        if (rebased != name) entry->setDirectoryName(rebased.c_str());
    }
    return original;
}

void kaOptInterface::restoreEntryNames(const std::vector<kaExternalDirEntry*>& entries,
                                       const std::vector<std::string>& names)
{
    for (size_t i = 0; i < entries.size(); ++i) entries[i]->setDirectoryName(names[i].c_str());
}

kaResult kaOptInterface::writeFile(kaObject* object, const char* path, bool useExternalEntries)
{
    if (!object || !path || !*path) {
        _fileError = "nothing to write, or no file name";
        return kFailure;
    }
    return writeObjects({{"root", object}}, path, useExternalEntries) ? kSuccess : kFailure;
}

bool kaOptInterface::writeObjects(const std::vector<std::pair<std::string, kaObject*>>& named, const std::string& path,
                                  bool useExternalEntries)
{
    auto file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    std::vector<kaObject*> objects;
    ObjectSet inPlace;
    std::set<std::string> entryNames;
    for (const auto& [name, object] : named) {
        auto entry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
        entry->setEntryName(name.c_str());
        entry->setObject(object);
        file->getDirectory()->append(entry);
        objects.push_back(object);
        inPlace.insert(object);
        entryNames.insert(name);
    }
    std::vector<kaExternalDirEntry*> entries;
    std::vector<kaObject*> shared;
    if (useExternalEntries) {
        entries = findUsedExternalEntries(objects, inPlace);
        shared = findSharedObjects(objects, inPlace);
    }
    std::vector<std::string> sharedNames;
    for (int number = 1; sharedNames.size() < shared.size(); ++number) {
        std::string name = "shared" + std::to_string(number);
        if (!entryNames.count(name)) sharedNames.push_back(std::move(name));
    }
    for (size_t i = 0; i < shared.size(); ++i) {
        auto entry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
        entry->setEntryName(sharedNames[i].c_str());
        entry->setObject(shared[i]);
        file->getDirectory()->append(entry);
    }
    for (kaExternalDirEntry* entry : entries) file->getDirectory()->append(entry);
    const std::vector<std::string> names = rebaseEntryNames(entries, path);
    std::vector<uint8_t> bytes;
    const bool encoded = file->writeToMemory(bytes);
    restoreEntryNames(entries, names);
    if (!encoded) {
        _fileError = path + ": " + file->getError();
        return false;
    }
    if (!writeOutputFile(objects.front(), path, bytes)) return false;
    // What the rest of the scene shares with the written objects now stands in that file: later
    // files and the saved scene refer to it there, so it stays one object when they are read.
    const std::string relative = std::filesystem::path(kaAbsolutePath(path))
                                     .lexically_relative(kaAbsolutePath(getFilePath() ? getFilePath() : ""))
                                     .generic_string();
    for (size_t i = 0; i < shared.size(); ++i) {
        auto entry = kaSmartPointer<kaExternalDirEntry>::adopt(kaExternalDirEntry::_instantiate());
        entry->setDirectoryName(relative.c_str());
        entry->setEntryName(sharedNames[i].c_str());
        entry->bindObject(shared[i]);
        addExternalReference(entry);
    }
    return true;
}

std::vector<kaObject*> kaOptInterface::findSharedObjects(const std::vector<kaObject*>& roots, const ObjectSet& inPlace)
{
    std::vector<kaObject*> inOrder;
    std::unordered_set<const kaObject*> inside;
    std::unordered_map<const kaObject*, int32_t> referencesFromInside;
    std::vector<kaObject*> stack(roots.rbegin(), roots.rend());
    std::vector<kaObject*> targets;
    while (!stack.empty()) {
        kaObject* current = stack.back();
        stack.pop_back();
        if (!inside.insert(current).second) continue;
        inOrder.push_back(current);
        targets.clear();
        kaForEachReference(current, [&](kaObject* target) {
            if (findBoundEntry(target, inPlace)) return;
            ++referencesFromInside[target];
            targets.push_back(target);
        });
        for (auto target = targets.rbegin(); target != targets.rend(); ++target)
            if (!inside.count(*target)) stack.push_back(*target);
    }
    // A node is shared when a group outside holds it; any other object when something outside
    // holds a reference to it (parent lists, the only lists that hold none, hold only nodes).
    std::vector<kaObject*> shared;
    for (kaObject* candidate : inOrder) {
        if (inPlace.count(candidate)) continue;
        bool heldOutside = false;
        if (const kaNode* node = kaNode::dynamicCast(candidate)) {
            for (int i = 0; i < node->getParentCount() && !heldOutside; ++i) heldOutside = !inside.count(node->getParent(i));
        } else {
            heldOutside = candidate->getRefCount() > referencesFromInside[candidate];
        }
        if (heldOutside) shared.push_back(candidate);
    }
    return shared;
}

bool kaOptInterface::writeImage(const Lode::Gfx::kaImage* image, const char* path)
{
    if (!image || !path || !*path) {
        _fileError = "no image, or no file name";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!image->encodePng(bytes, _fileError)) {
        _fileError = std::string(path) + ": " + _fileError;
        return false;
    }
    return writeOutputFile(image, path, bytes);
}

bool kaOptInterface::isInsideOutputFolder(const std::string& path) const
{
    namespace fs = std::filesystem;
    std::error_code failed;
    const fs::path folder = fs::weakly_canonical(fs::absolute(getFilePath() ? getFilePath() : "."), failed);
    const fs::path target = fs::weakly_canonical(fs::absolute(path), failed);
    if (failed) return false;
    const fs::path relative = target.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

bool kaOptInterface::makeFolders(const std::string& folder)
{
    namespace fs = std::filesystem;
    // The missing folders, innermost first, then made outermost first.
    std::vector<fs::path> missing;
    std::error_code failed;
    for (fs::path place = folder; !place.empty() && !fs::is_directory(place, failed); place = place.parent_path()) {
        missing.push_back(place);
        if (place == place.parent_path()) break;
    }
    for (auto place = missing.rbegin(); place != missing.rend(); ++place) {
        if (!fs::create_directory(*place, failed) && !fs::is_directory(*place)) {
            _fileError = folder + ": cannot make the folder: " + failed.message();
            return false;
        }
        _madeFolders.push_back(place->string());
    }
    return true;
}

kaOptInterface::~kaOptInterface()
{
    // Folders made for files that never got into them (a failed write, or an abandoned run).
    std::error_code failed;
    for (auto folder = _madeFolders.rbegin(); folder != _madeFolders.rend(); ++folder)
        if (std::filesystem::is_empty(*folder, failed)) std::filesystem::remove(*folder, failed);
}

bool kaOptInterface::putFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    if (_files) return _files->write(path, bytes.data(), bytes.size(), _fileError);
    kaFileCommit alone;
    return alone.write(path, bytes.data(), bytes.size(), _fileError) && alone.commit(_fileError);
}

bool kaOptInterface::writeOutputFile(const kaObject* object, const std::string& path, const std::vector<uint8_t>& bytes)
{
    namespace fs = std::filesystem;
    if (!isInsideOutputFolder(path)) {
        _fileError = path + ": lies outside the output folder " + (getFilePath() ? getFilePath() : ".");
        return false;
    }
    std::error_code failed;
    const std::string key = fs::weakly_canonical(fs::absolute(path), failed).string();
    auto earlier = _objectOfFile.find(key);
    if (earlier != _objectOfFile.end() && earlier->second != object) {
        _fileError = path + ": already written in this run for another object, which it would replace";
        return false;
    }
    if (!makeFolders(fs::path(path).parent_path().string())) return false;
    if (!putFile(path, bytes)) return false;
    _objectOfFile[key] = object;
    _fileOfObject[object] = path;
    return true;
}

bool kaOptInterface::readScene(const char* path, kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    kaSmartPointer<kaFileInfo> file;
    if (!Lode::Io::kaReadScene(path ? path : "", infos, file, error)) return false;
    setFile(file);
    return true;
}

bool kaOptInterface::writeScene(const char* path, kaInfoList* infos, std::string& error)
{
    const std::string scenePath = path ? path : "";
    if (!Lode::Io::kaCheckSceneFormat(scenePath, error)) return false;
    std::vector<kaObject*> roots;
    if (infos)
        for (int i = 0; i < infos->getCount(); ++i) roots.push_back(infos->getShared(i));
    if (!writeInputFilesBeside(findUsedExternalEntries(roots, {}), scenePath)) {
        error = _fileError;
        return false;
    }
    // Writing the files anew may have given the scene more entries to use.
    const std::vector<kaExternalDirEntry*> entries = findUsedExternalEntries(roots, {});
    if (Lode::Io::kaSceneFormatOf(scenePath) != Lode::Io::kaSceneFormat::Kab) warnOfUnusedFiles(entries, scenePath);
    const std::vector<std::string> names = rebaseEntryNames(entries, scenePath);
    const bool written = _files ? Lode::Io::kaWriteScene(scenePath, infos, entries, *_files, error)
                                : Lode::Io::kaWriteScene(scenePath, infos, entries, error);
    restoreEntryNames(entries, names);
    return written;
}

bool kaOptInterface::writeInputFilesBeside(const std::vector<kaExternalDirEntry*>& entries, const std::string& scenePath)
{
    namespace fs = std::filesystem;
    const bool kab = Lode::Io::kaSceneFormatOf(scenePath) == Lode::Io::kaSceneFormat::Kab;
    const std::string folder = kaFolderOf(scenePath);
    std::vector<kaExternalDirEntry*> images;
    // By file name, so that the files are written in an order of their own.
    std::map<std::string, std::vector<kaExternalDirEntry*>> files;
    for (kaExternalDirEntry* entry : entries) {
        const std::string base = entry->getBaseFolder(), name = entry->getDirectoryName() ? entry->getDirectoryName() : "";
        const bool image = Lode::Gfx::kaExternalImageEntry::dynamicCast(entry);
        // Entries this run made follow the output already; a name leading out of the input's
        // folder (read only when that is allowed) keeps naming the file where it is.
        if (base.empty() || !kaStaysInside(name, base, base) || (!image && !kab)) continue;
        if (kaAbsolutePath((fs::path(base) / name).string()) == kaAbsolutePath((fs::path(folder) / name).string())) continue;
        entry->setBaseFolder(folder.empty() ? "." : folder.c_str());
        if (image)
            images.push_back(entry);
        else
            files[name].push_back(entry);
    }
    for (kaExternalDirEntry* entry : images) {
        auto* image = kaImage::dynamicCast(entry->getBoundObject());
        if (image && !writeImage(image, (fs::path(folder) / entry->getDirectoryName()).string().c_str())) return false;
    }
    for (const auto& [name, named] : files) {
        std::vector<std::pair<std::string, kaObject*>> objects;
        for (kaExternalDirEntry* entry : named)
            objects.emplace_back(entry->getEntryName() ? entry->getEntryName() : "", entry->getBoundObject());
        if (!writeObjects(objects, (fs::path(folder) / name).string(), true)) return false;
    }
    return true;
}

void kaOptInterface::warnOfUnusedFiles(const std::vector<kaExternalDirEntry*>& entries, const std::string& scenePath) const
{
    std::set<std::string> unused;
    for (const kaExternalDirEntry* entry : entries)
        if (!*entry->getBaseFolder() && !Lode::Gfx::kaExternalImageEntry::dynamicCast(entry) && entry->getDirectoryName())
            unused.insert(entry->getDirectoryName());
    if (unused.empty()) return;
    kaWarn(kaFormat("%s: a glTF file cannot refer to .kab files: it holds the objects itself, and the %zu .kab "
                    "file(s) written for them in this run (%s%s) are not used by it",
                    scenePath.c_str(), unused.size(), unused.begin()->c_str(), unused.size() > 1 ? ", ..." : ""));
}

void kaOptInterface::makeNameUnique(const char* directory, kaSmartPointer<kaStringObj> name)
{
    if (!name) return;
    std::set<std::string>& handedOut = _handedOutNames[directory ? directory : ""];
    const std::filesystem::path folder = std::filesystem::path(getFilePath() ? getFilePath() : ".") / (directory ? directory : "");
    // A name is free when this run has not handed it out and it is not a file the run read.
    const auto takeIfFree = [&](const std::string& candidate) {
        return !kaFileCommit::isInput((folder / candidate).string()) && handedOut.insert(candidate).second;
    };
    const std::string wanted = name->getString();
    if (takeIfFree(wanted)) return;
    // The variant goes before the extension of the file-name part, so "wall.png" becomes "wall_1.png".
    const size_t slash = wanted.find_last_of("/\\");
    const size_t dot = wanted.find_last_of('.');
    const size_t split = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : wanted.size();
    for (int variant = 1;; ++variant) {
        std::string candidate = wanted.substr(0, split) + "_" + std::to_string(variant) + wanted.substr(split);
        if (takeIfFree(candidate)) {
            name->set(candidate.c_str());
            return;
        }
    }
}

bool kaOptInterface::isFolderWritable(const char* folder) const
{
    const char* path = folder && *folder ? folder : ".";
    struct stat status;
    return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode) && ::access(path, W_OK) == 0;
}

} // namespace Lode::Opt
