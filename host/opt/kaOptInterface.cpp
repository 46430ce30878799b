#include "host/opt/kaOptInterface.h"

#include "host/core/kaWalk.h"
#include "host/io/kaKABFile.h"
#include "host/io/kaSceneFile.h"
#include "host/opt/kaConvertImage.h"
#include "host/opt/kaResizeImage.h"

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
                                                  kaInfoList* infos, const std::function<bool()>& afterConfigure)
{
    const bool configured = pass->configure(section);
    if (afterConfigure && !afterConfigure()) return RunResult::Stopped;
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
    kaExternalDirEntry* earlier = directory->findExternalEntry(entry->getBoundObject());
    if (earlier && earlier != entry) directory->removeObject(earlier);
    // A registered entry's name follows the output path, whatever file it was read from.
    entry->setBaseFolder("");
    directory->appendUnique(entry);
}

std::vector<kaExternalDirEntry*> kaOptInterface::findUsedExternalEntries(const std::vector<kaObject*>& roots,
                                                                         const kaObject* exclude)
{
    std::unordered_map<const kaObject*, kaExternalDirEntry*> boundTo;
    kaDirectory* directory = getFile()->getDirectory();
    for (int i = 0; i < directory->getCount(); ++i) {
        auto* entry = kaExternalDirEntry::dynamicCast(directory->getShared(i));
        if (entry && entry->getBoundObject() && entry->getBoundObject() != exclude)
            boundTo.emplace(entry->getBoundObject(), entry);
    }
    std::vector<kaExternalDirEntry*> used;
    std::unordered_set<const kaObject*> seen;
    std::vector<kaObject*> stack(roots.begin(), roots.end());
    while (!stack.empty()) {
        kaObject* object = stack.back();
        stack.pop_back();
        if (!object || !seen.insert(object).second) continue;
        auto bound = boundTo.find(object);
        if (bound != boundTo.end()) {
            used.push_back(bound->second);
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
    std::error_code failed;
    const fs::path writtenFolder = fs::absolute(fs::path(writtenPath).parent_path(), failed).lexically_normal();
    std::vector<std::string> original;
    for (kaExternalDirEntry* entry : entries) {
        const char* name = entry->getDirectoryName() ? entry->getDirectoryName() : "";
        original.emplace_back(name);
        const char* base = *entry->getBaseFolder() ? entry->getBaseFolder() : getFilePath();
        const fs::path target = fs::absolute(fs::path(base ? base : "") / name, failed).lexically_normal();
        const fs::path relative = failed ? fs::path(name) : target.lexically_relative(writtenFolder);
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
    auto file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    auto rootEntry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
    rootEntry->setEntryName("root");
    rootEntry->setObject(object);
    file->getDirectory()->append(rootEntry);

    std::vector<kaExternalDirEntry*> entries;
    if (useExternalEntries) entries = findUsedExternalEntries({object}, object);
    for (kaExternalDirEntry* entry : entries) file->getDirectory()->append(entry);
    const std::vector<std::string> names = rebaseEntryNames(entries, path);
    const bool written = file->write(path);
    restoreEntryNames(entries, names);
    _fileError = file->getError();
    return written ? kSuccess : kFailure;
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
    std::vector<kaObject*> roots;
    if (infos)
        for (int i = 0; i < infos->getCount(); ++i) roots.push_back(infos->getShared(i));
    const std::vector<kaExternalDirEntry*> entries = findUsedExternalEntries(roots, nullptr);
    const std::vector<std::string> names = rebaseEntryNames(entries, path ? path : "");
    const bool written = Lode::Io::kaWriteScene(path ? path : "", infos, entries, error);
    restoreEntryNames(entries, names);
    return written;
}

void kaOptInterface::makeNameUnique(const char* directory, kaSmartPointer<kaStringObj> name)
{
    if (!name) return;
    std::set<std::string>& handedOut = _handedOutNames[directory ? directory : ""];
    const std::string wanted = name->getString();
    if (handedOut.insert(wanted).second) return;
    // The variant goes before the extension of the file-name part, so "wall.png" becomes "wall_1.png".
    const size_t slash = wanted.find_last_of("/\\");
    const size_t dot = wanted.find_last_of('.');
    const size_t split = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : wanted.size();
    for (int variant = 1;; ++variant) {
        std::string candidate = wanted.substr(0, split) + "_" + std::to_string(variant) + wanted.substr(split);
        if (handedOut.insert(candidate).second) {
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
