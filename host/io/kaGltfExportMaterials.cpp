// glTF export of appearance: materials, textures, samplers and images.
#include "host/io/kaGltfExporter.h"

#include "host/io/kaImageFiles.h"
#include "host/io/kaSceneCounts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

namespace Lode::Io {

namespace {

bool fileExists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

float clamped(float value, float low, float high, bool& changed)
{
    const float result = std::isnan(value) ? low : std::min(std::max(value, low), high);
    changed = changed || result != value;
    return result;
}

} // namespace

int kaGltfExporter::materialOf(const kaAttrState& state)
{
    const auto firstTexture = std::find_if(state.textures.begin(), state.textures.end(), [](auto* t) { return t; });
    if (!state.material && firstTexture == state.textures.end()) return -1;
    const auto key = std::make_pair(state.material, state.textures);
    auto found = _materials.find(key);
    if (found != _materials.end()) return found->second;
    tinygltf::Material material;
    // Without a material the engine's defaults hold: a rough dielectric.
    const auto defaults = kaSmartPointer<kaMaterialAttr>::adopt(kaMaterialAttr::_instantiate());
    const kaMaterialAttr* source = state.material ? state.material : defaults.get();
    material.name = state.material ? nameOf(source) : nameOf(*firstTexture);
    keepExtras(material.extras, state.material);
    bool clampedColour = false;
    const kaVec4f& diffuse = source->getDiffuse();
    material.pbrMetallicRoughness.baseColorFactor = {
        clamped(diffuse.x, 0.0f, 1.0f, clampedColour), clamped(diffuse.y, 0.0f, 1.0f, clampedColour),
        clamped(diffuse.z, 0.0f, 1.0f, clampedColour), clamped(diffuse.w, 0.0f, 1.0f, clampedColour)};
    material.pbrMetallicRoughness.metallicFactor = clamped(source->getMetallic(), 0.0f, 1.0f, clampedColour);
    material.pbrMetallicRoughness.roughnessFactor = clamped(source->getRoughness(), 0.0f, 1.0f, clampedColour);
    const kaVec4f& emission = source->getEmission();
    if (emission.xyz() != kaVec3f::ZeroVector)
        material.emissiveFactor = {clamped(emission.x, 0.0f, 1.0f, clampedColour),
                                   clamped(emission.y, 0.0f, 1.0f, clampedColour),
                                   clamped(emission.z, 0.0f, 1.0f, clampedColour)};
    material.alphaMode = source->getAlphaMode() == KA_GFX_ALPHA_MODE_MASK    ? "MASK"
                         : source->getAlphaMode() == KA_GFX_ALPHA_MODE_BLEND ? "BLEND"
                                                                             : "OPAQUE";
    material.alphaCutoff = clamped(source->getAlphaCutoff(), 0.0f, std::numeric_limits<float>::max(), clampedColour);
    material.doubleSided = source->isDoubleSided();
    const kaVec4f& specular = source->getSpecular();
    if (state.material && specular != kaVec4f(1.0f, 1.0f, 1.0f, 1.0f)) {
        const float inf = std::numeric_limits<float>::max();
        tinygltf::Value::Object extension;
        extension["specularColorFactor"] = tinygltf::Value(tinygltf::Value::Array{
            tinygltf::Value(double(clamped(specular.x, 0.0f, inf, clampedColour))),
            tinygltf::Value(double(clamped(specular.y, 0.0f, inf, clampedColour))),
            tinygltf::Value(double(clamped(specular.z, 0.0f, inf, clampedColour)))});
        extension["specularFactor"] = tinygltf::Value(double(clamped(specular.w, 0.0f, 1.0f, clampedColour)));
        material.extensions[kaGltfSpecularExtension] = tinygltf::Value(std::move(extension));
    }
    // The defaults come back on import: only other values are lost.
    if (source->getAmbient() != defaults->getAmbient()) _warnings.loss("material ambient colours dropped");
    if (source->getShininess() != defaults->getShininess()) _warnings.loss("material shininess dropped");

    const auto textureInfo = [&](KA_GFX_TEXTURE_SLOT slot, auto& info) {
        kaTextureAttr* texture = state.textures[slot];
        if (!texture) return;
        info.index = textureOf(texture);
        info.texCoord = texture->getTexCoordSet();
        keepMembers(info, texture->getReferenceData());
    };
    textureInfo(KA_GFX_TEXTURE_SLOT_BASE_COLOR, material.pbrMetallicRoughness.baseColorTexture);
    textureInfo(KA_GFX_TEXTURE_SLOT_METALLIC_ROUGHNESS, material.pbrMetallicRoughness.metallicRoughnessTexture);
    textureInfo(KA_GFX_TEXTURE_SLOT_NORMAL, material.normalTexture);
    textureInfo(KA_GFX_TEXTURE_SLOT_OCCLUSION, material.occlusionTexture);
    textureInfo(KA_GFX_TEXTURE_SLOT_EMISSIVE, material.emissiveTexture);
    material.normalTexture.scale = source->getNormalScale();
    material.occlusionTexture.strength = clamped(source->getOcclusionStrength(), 0.0f, 1.0f, clampedColour);
    // What the engine did not read of the extensions joins what was written (the specular
    // factors): after the slots, whose textures keep their numbers.
    if (state.material) keepExtensionTextures(material, state.material);
    if (clampedColour) _warnings.add("material factors outside glTF's range clamped");
    _model.materials.push_back(std::move(material));
    return _materials[key] = static_cast<int>(_model.materials.size()) - 1;
}

int kaGltfExporter::samplerOf(const kaTextureAttr* texture)
{
    KA_GFX_TEXTURE_FILTER minFilter = texture->getMinFilter();
    // A texture tagged for mipmapping keeps the tag through a filter that samples mipmaps.
    if (texture->getMipMapMode() == KA_GFX_TEXTURE_MODE_MIPMAP && !kaIsMipmapFilter(minFilter))
        minFilter = minFilter == KA_GFX_TEXTURE_FILTER_NEAREST ? KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR
                                                               : KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
    // Magnification has no mipmaps: the filter within a level is kept.
    const KA_GFX_TEXTURE_FILTER magFilter =
        texture->getMagFilter() == KA_GFX_TEXTURE_FILTER_NEAREST ||
                texture->getMagFilter() == KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST ||
                texture->getMagFilter() == KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR
            ? KA_GFX_TEXTURE_FILTER_NEAREST
            : KA_GFX_TEXTURE_FILTER_LINEAR;
    const std::array<int, 4> modes = {kaGltfFilterOf(minFilter), kaGltfFilterOf(magFilter),
                                      kaGltfWrapOf(texture->getWrapS()), kaGltfWrapOf(texture->getWrapT())};
    const auto key = std::make_pair(modes, std::string(texture->getSamplerData() ? texture->getSamplerData() : ""));
    auto sampler = _samplers.find(key);
    if (sampler != _samplers.end()) return sampler->second;
    tinygltf::Sampler created;
    created.minFilter = modes[0];
    created.magFilter = modes[1];
    created.wrapS = modes[2];
    created.wrapT = modes[3];
    keepMembers(created, texture->getSamplerData());
    // tinygltf writes no extensions of a sampler: they join the JSON it writes.
    const nlohmann::json samplerMembers = kaParseGltfJson(texture->getSamplerData());
    if (samplerMembers.is_object() && samplerMembers.contains("extensions"))
        _unwritten.push_back({"/samplers/" + std::to_string(_model.samplers.size()), {{"extensions", samplerMembers["extensions"]}}});
    _model.samplers.push_back(created);
    return _samplers[key] = static_cast<int>(_model.samplers.size()) - 1;
}

int kaGltfExporter::textureOf(kaTextureAttr* texture)
{
    auto found = _textures.find(texture);
    if (found != _textures.end()) return found->second;
    // Images the texture's extensions give in encodings of their own are renumbered; an extension
    // whose image cannot be written goes with it.
    nlohmann::json extensions = unreadExtensions(texture);
    const kaTextureImageList* alternatives = texture->getExtensionImages();
    std::vector<std::string> carriers;
    kaForEachGltfImageReference(extensions, [&](nlohmann::json& extension) {
        const int at = extension["source"].get<int>();
        kaImage* image = alternatives && at >= 0 && at < alternatives->getCount() ? alternatives->getShared(at) : nullptr;
        const int index = image ? imageOf(image) : -1;
        if (index < 0) {
            _warnings.loss("texture extensions without a writable image dropped");
            return false;
        }
        extension["source"] = index;
        return true;
    });
    const int image = texture->getImage(0) ? imageOf(texture->getImage(0)) : -1;
    if (image < 0 && extensions.empty()) {
        _warnings.loss("textures without a writable image dropped", kaCount::images);
        return _textures[texture] = -1;
    }
    // Without an image of its own the texture can only be read through its extensions.
    if (image < 0)
        for (const auto& [name, extension] : extensions.items())
            if (extension.is_object() && extension.contains("source")) _required.insert(name);
    for (int level = 1; level < texture->getImageCount(); ++level)
        if (texture->getImage(level)) {
            _warnings.loss("mipmap levels above the first dropped");
            break;
        }
    // The uses of one glTF texture (in several slots or materials) are one glTF texture again.
    const auto key = std::make_tuple(image, samplerOf(texture), nameOf(texture),
                                     std::string(texture->getExtras() ? texture->getExtras() : ""), extensions.dump());
    auto shared = _gltfTextures.find(key);
    if (shared == _gltfTextures.end()) {
        tinygltf::Texture created;
        created.name = std::get<2>(key);
        created.source = image;
        created.sampler = std::get<1>(key);
        keepExtras(created.extras, texture);
        kaMergeGltfExtensions(created.extensions, extensions);
        _model.textures.push_back(std::move(created));
        shared = _gltfTextures.emplace(key, static_cast<int>(_model.textures.size()) - 1).first;
    }
    return _textures[texture] = shared->second;
}

void kaGltfExporter::keepExtensionTextures(tinygltf::Material& written, kaMaterialAttr* material)
{
    // The textures the material's extensions use are written like the slots' and referred to by
    // their new numbers; a reference whose texture cannot be written goes.
    nlohmann::json extensions = unreadExtensions(material);
    const kaTextureAttrList* textures = material->getExtensionTextures();
    kaForEachGltfTextureReference(extensions, [&](nlohmann::json& reference) {
        const int at = reference["index"].get<int>();
        kaTextureAttr* texture = textures && at >= 0 && at < textures->getCount() ? textures->getShared(at) : nullptr;
        const int index = texture ? textureOf(texture) : -1;
        if (index < 0) {
            _warnings.loss("material extension textures without a writable texture dropped", kaCount::images);
            return false;
        }
        reference["index"] = index;
        return true;
    });
    kaMergeGltfExtensions(written.extensions, extensions);
}

int kaGltfExporter::imageOf(kaImage* image)
{
    auto found = _images.find(image);
    if (found != _images.end()) return found->second;
    tinygltf::Image written;
    written.name = nameOf(image);
    keepUnread(written, image);
    written.mimeType = "image/png";
    const auto external = _externalImages.find(image);
    if (external != _externalImages.end()) {
        // The image lives in its own PNG file: the glTF file refers to it there.
        const std::string relative = external->second->getDirectoryName();
        const std::string path = _folder.empty() ? relative : _folder + "/" + relative;
        if (!fileExists(path) && !_files.isPending(path)) {
            std::string error;
            if (!kaWritePngImage(*image, path, _files, error)) {
                _warnings.loss("images that cannot be written as PNG dropped", kaCount::images);
                return _images[image] = -1;
            }
        }
        written.uri = uriOfPath(relative);
    } else {
        // Pixels that no pass changed are written as they were encoded (a JPEG stays the same
        // JPEG); others are encoded as PNG.
        const uint8_t* bytes = image->getEncodedData();
        size_t size = image->getEncodedSize();
        if (image->hasCurrentEncoding() && image->getEncodedMimeType()) {
            written.mimeType = image->getEncodedMimeType();
        } else {
            std::vector<uint8_t> encoded;
            std::string error;
            if (!kaEncodePngImage(*image, encoded, error)) {
                _warnings.loss("images that cannot be written as PNG dropped", kaCount::images);
                return _images[image] = -1;
            }
            size = encoded.size();
            bytes = keep(std::move(encoded));
        }
        if (_binary) {
            written.bufferView = addView({bytes}, size, 0);
        } else {
            // A file named after the output and the image's own name (its last path part, made
            // safe), so that outputs sharing a folder never share image files.
            std::string base = written.name;
            const size_t slash = base.find_last_of("/\\");
            if (slash != std::string::npos) base = base.substr(slash + 1);
            const size_t dot = base.find_last_of('.');
            if (dot != std::string::npos && dot > 0) base = base.substr(0, dot);
            for (char& c : base)
                if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
            if (base.empty() || base[0] == '.') base = "image" + std::to_string(_model.images.size());
            base = _stem + "_" + base;
            const std::string extension = written.mimeType == "image/jpeg"   ? ".jpg"
                                          : written.mimeType == "image/ktx2" ? ".ktx2"
                                          : written.mimeType == "image/webp" ? ".webp"
                                                                             : ".png";
            std::string file = base + extension;
            for (int variant = 1; !_usedFileNames.insert(file).second; ++variant)
                file = base + "_" + std::to_string(variant) + extension;
            std::string error;
            if (!_files.write(_folder.empty() ? file : _folder + "/" + file, bytes, size, error)) {
                fail(error);
                return _images[image] = -1;
            }
            written.uri = uriOfPath(validUtf8(file.c_str()));
        }
    }
    _model.images.push_back(std::move(written));
    return _images[image] = static_cast<int>(_model.images.size()) - 1;
}

} // namespace Lode::Io
