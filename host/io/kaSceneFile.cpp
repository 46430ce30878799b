#include "host/io/kaSceneFile.h"

#include "host/io/kaGltf.h"
#include "host/io/kaKABFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace Lode::Io {

using Lode::Core::kaKABFile;

kaSceneFormat kaSceneFormatOf(const std::string& path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".kab") return kaSceneFormat::Kab;
    if (extension == ".gltf") return kaSceneFormat::Gltf;
    if (extension == ".glb") return kaSceneFormat::Glb;
    return kaSceneFormat::Unknown;
}

bool kaCheckSceneFormat(const std::string& path, std::string& error)
{
    switch (kaSceneFormatOf(path)) {
    case kaSceneFormat::Kab:
    case kaSceneFormat::Gltf:
    case kaSceneFormat::Glb:
        return true;
    case kaSceneFormat::Unknown:
        break;
    }
    error = path + ": unknown scene file type: the extension must be .kab, .gltf or .glb";
    return false;
}

bool kaReadScene(const std::string& path, kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    kaSmartPointer<kaFileInfo> file;
    return kaReadScene(path, infos, file, error);
}

bool kaReadScene(const std::string& path, kaSmartPointer<kaInfoList>& infos, kaSmartPointer<kaFileInfo>& file,
                 std::string& error)
{
    std::error_code failed;
    if (std::filesystem::is_directory(path, failed)) {
        error = path + ": is a folder, not a scene file";
        return false;
    }
    if (!kaCheckSceneFormat(path, error)) return false;
    if (kaSceneFormatOf(path) != kaSceneFormat::Kab) {
        kaSmartPointer<kaInfoList> read;
        if (!kaImportGltf(path, read, error)) return false;
        infos = read;
        file = kaSmartPointer<kaFileInfo>::adopt(kaFileInfo::_instantiate());
        file->setPath(path.c_str());
        return true;
    }
    auto kab = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    if (!kab->read(path.c_str())) {
        error = kab->getError();
        return false;
    }
    kaSmartPointer<kaInfoList> read;
    if (!Lode::Core::kaGetSceneInfos(kab, read, error)) return false;
    infos = read;
    file = kab;
    return true;
}

bool kaWriteScene(const std::string& path, kaInfoList* infos, const std::vector<kaExternalDirEntry*>& externalEntries,
                  std::string& error)
{
    Lode::Core::kaFileCommit files;
    return kaWriteScene(path, infos, externalEntries, files, error) && files.commit(error);
}

bool kaWriteScene(const std::string& path, kaInfoList* infos, const std::vector<kaExternalDirEntry*>& externalEntries,
                  Lode::Core::kaFileCommit& files, std::string& error)
{
    if (!kaCheckSceneFormat(path, error)) return false;
    if (kaSceneFormatOf(path) != kaSceneFormat::Kab) return kaExportGltf(path, infos, externalEntries, files, error);
    return Lode::Core::kaWriteSceneFile(path, infos, externalEntries, files, error);
}

} // namespace Lode::Io
