#include "tools/kaopt/kaRunReport.h"

#include "host/attrs/kaTextureAttr.h"
#include "host/core/kaWalk.h"
#include "host/gfx/kaGfxEnums.h"
#include "host/io/kaGltf.h"
#include "host/io/kaImageFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string_view>
#include <unistd.h>

namespace Lode::Tools {

using Lode::Attrs::kaTextureAttr;
using Lode::Core::kaWarning;
using Lode::Gfx::kaImage;
using Lode::Io::kaSceneCountKey;
using Lode::Io::kaSceneCountKeys;
using Lode::Io::kaSceneCounts;
using Json = nlohmann::json;

namespace {

Json countsOf(const std::optional<kaSceneCounts>& counts)
{
    if (!counts) return nullptr;
    Json json = Json::object();
    for (const kaSceneCountKey& key : kaSceneCountKeys) json[key.name] = (*counts).*key.member;
    return json;
}

// Stands for an image's pixels: equal images give equal prints, and a changed one, in all
// likelihood, another.
uint64_t pixelPrint(const kaImage& image)
{
    const auto bytes = [](const uint8_t* data, size_t size) {
        return uint64_t(std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(data), size)));
    };
    uint64_t print = bytes(image.pixelData(), image.getSize());
    for (const uint64_t value :
         {bytes(image.paletteData(), size_t(image.getPaletteEntryCount()) * 4), uint64_t(image.getWidth()),
          uint64_t(image.getHeight()), uint64_t(uint32_t(image.getFormat())), uint64_t(uint32_t(image.getOrder()))})
        print = (print ^ value) * 0x100000001b3ull + (print >> 29);
    return print;
}

// Every texture of the scene, once, in the order a walk meets them.
std::vector<const kaTextureAttr*> texturesOf(Lode::Sg::kaInfoList* infos)
{
    std::vector<const kaTextureAttr*> textures;
    for (Lode::Core::kaObject* object : Lode::Core::kaCollectReachable({infos}))
        if (const auto* texture = kaTextureAttr::dynamicCast(object)) textures.push_back(texture);
    return textures;
}

kaLevelPicture levelPicture(const kaImage* image)
{
    kaLevelPicture level;
    if (!image) return level;
    level.width = image->getWidth();
    level.height = image->getHeight();
    const char* format = Lode::Gfx::getKA_GFX_TEXTURE_FORMATMetaEnum()->findName(image->getFormat());
    level.format = format ? format : "format " + std::to_string(image->getFormat());
    level.bytes = static_cast<int64_t>(image->getSize());
    std::string error;
    // A level the codec cannot write is shown by its facts alone.
    if (!Lode::Gfx::kaEncodePngImage(*image, level.png, error)) level.png.clear();
    return level;
}

} // namespace

bool kaSceneAsGlb(Lode::Sg::kaInfoList* infos, std::vector<uint8_t>& bytes, std::string& error)
{
    std::string folder = (std::filesystem::temp_directory_path() / "kaopt-glb-XXXXXX").string();
    if (!mkdtemp(folder.data())) {
        error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
        return false;
    }
    const std::string path = folder + "/scene.glb";
    bool made = false;
    {
        const Lode::Core::kaWarningsSilenced silenced;
        made = Lode::Io::kaExportGltf(path, infos, error);
    }
    if (made) {
        std::ifstream file(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        made = !file.bad();
        if (!made) error = path + ": cannot be read back";
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return made;
}

void kaRunPictures::takeBefore(Lode::Sg::kaInfoList* infos)
{
    if (!kaSceneAsGlb(infos, before, beforeError)) before.clear();
    for (const kaTextureAttr* texture : texturesOf(infos))
        for (int level = 0; level < texture->getImageCount(); ++level)
            if (const kaImage* image = texture->getImage(level)) _beforePixels.insert(pixelPrint(*image));
}

void kaRunPictures::takeAfter(Lode::Sg::kaInfoList* infos)
{
    if (!kaSceneAsGlb(infos, after, afterError)) after.clear();
    for (const kaTextureAttr* texture : texturesOf(infos)) {
        bool changed = false;
        for (int level = 0; level < texture->getImageCount(); ++level)
            if (const kaImage* image = texture->getImage(level))
                changed |= _beforePixels.count(pixelPrint(*image)) == 0;
        if (!changed) continue;
        kaTexturePicture picture;
        const kaImage* first = texture->getImage(0);
        picture.name = !texture->getNameRef().isEmpty() ? texture->getNameRef().text()
                       : first                          ? first->getNameRef().text()
                                                        : "";
        for (int level = 0; level < texture->getImageCount(); ++level)
            picture.levels.push_back(levelPicture(texture->getImage(level)));
        textures.push_back(std::move(picture));
    }
}

bool kaInputRecord::takeWarnings()
{
    for (kaWarning& warning : Lode::Core::kaTakeWarnings()) warnings.push_back(std::move(warning));
    return std::any_of(warnings.begin(), warnings.end(), [](const kaWarning& warning) { return warning.loss; });
}

bool kaInputRecord::countLosses(const std::string& where)
{
    takeWarnings();
    if (before && after)
        for (const std::string& fall : Lode::Io::kaUnexplainedFalls(*before, *after, warnings))
            // The fall's text starts with the count it lowers, which the loss names.
            Lode::Core::kaNoteLoss(where + ": " + fall + ", and no warning said why", fall.substr(0, fall.find(' ')));
    return takeWarnings();
}

Json kaInputReport(const kaInputRecord& record)
{
    Json passes = Json::array();
    for (const kaPassRecord& pass : record.passes)
        passes.push_back({{"class", pass.className}, {"seconds", pass.seconds}, {"messages", pass.messages}});
    Json warnings = Json::array();
    for (const kaWarning& warning : record.warnings) warnings.push_back({{"text", warning.text}, {"loss", warning.loss}});
    Json entry = {{"input", record.input},
                  {"output", record.output.empty() ? Json(nullptr) : Json(record.output)},
                  {"status", record.status},
                  {"seconds", record.seconds},
                  {"passes", passes},
                  {"warnings", warnings},
                  {"before", countsOf(record.before)},
                  {"after", countsOf(record.after)}};
    if (record.status != 0) entry["error"] = record.error;
    return entry;
}

bool kaWriteRunReport(const std::string& path, const std::string& script, const Json& inputs, std::string& error)
{
    const Json report = {{"kaopt", KA_VERSION}, {"script", script}, {"inputs", inputs}};
    // Paths and pass messages are bytes as they came: what is not UTF-8 is replaced, not refused.
    const std::string text = report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    return kaWriteReportFile(path, text, error);
}

bool kaWriteReportFile(const std::string& path, const std::string& text, std::string& error)
{
    Lode::Core::kaFileCommit files;
    return files.write(path, text.data(), text.size(), error) && files.commit(error);
}

std::vector<std::string> kaLinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

kaStandardOutputCapture::kaStandardOutputCapture(bool active)
{
    if (!active) return;
    std::fflush(stdout);
    _file = std::tmpfile();
    _saved = _file ? ::dup(STDOUT_FILENO) : -1;
    if (_saved < 0 || ::dup2(::fileno(_file), STDOUT_FILENO) < 0) {
        // Without a place to capture to, standard output stays as it is.
        if (_saved >= 0) ::close(_saved);
        if (_file) std::fclose(_file);
        _saved = -1;
        _file = nullptr;
    }
}

kaStandardOutputCapture::~kaStandardOutputCapture() { finish(); }

std::string kaStandardOutputCapture::finish()
{
    if (!_file) return {};
    std::fflush(stdout);
    ::dup2(_saved, STDOUT_FILENO);
    ::close(_saved);
    std::string text;
    std::rewind(_file);
    char buffer[1 << 16];
    for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, _file)) > 0;) text.append(buffer, read);
    std::fclose(_file);
    _file = nullptr;
    std::fwrite(text.data(), 1, text.size(), stdout);
    return text;
}

} // namespace Lode::Tools
