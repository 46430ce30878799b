// glTF import of appearance: materials, textures with their samplers, and images.
#include "host/io/kaGltfImporter.h"

#include "host/io/kaGltfExtensions.h"
#include "host/io/kaSceneCounts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Lode::Io {

std::vector<kaAttr*> kaGltfImporter::materialAttrs(const tinygltf::Primitive& primitive)
{
    if (primitive.material < 0 || size_t(primitive.material) >= _model.materials.size()) return {};
    std::vector<kaAttr*> attrs = {material(primitive.material)};
    const tinygltf::Material& source = _model.materials[primitive.material];
    // One texture attribute per slot in use, in slot order. (The normal and occlusion
    // references have types of their own; their scale and strength are the material's.)
    const auto append = [&](KA_GFX_TEXTURE_SLOT slot, const auto& info) {
        if (info.index < 0) return;
        if (kaTextureAttr* attr = texture(info.index, slot, info.texCoord, kaUnreadGltfMembers(info)))
            attrs.push_back(attr);
    };
    append(KA_GFX_TEXTURE_SLOT_BASE_COLOR, source.pbrMetallicRoughness.baseColorTexture);
    append(KA_GFX_TEXTURE_SLOT_METALLIC_ROUGHNESS, source.pbrMetallicRoughness.metallicRoughnessTexture);
    append(KA_GFX_TEXTURE_SLOT_NORMAL, source.normalTexture);
    append(KA_GFX_TEXTURE_SLOT_OCCLUSION, source.occlusionTexture);
    append(KA_GFX_TEXTURE_SLOT_EMISSIVE, source.emissiveTexture);
    return attrs;
}

void kaGltfImporter::appendMaterialAttrs(const tinygltf::Primitive& primitive, kaAttrSet* set)
{
    if (primitive.material >= 0 && size_t(primitive.material) >= _model.materials.size())
        _warnings.loss("references to missing materials dropped");
    for (kaAttr* attr : materialAttrs(primitive)) set->appendAttr(attr);
}

kaMaterialAttr* kaGltfImporter::material(int index)
{
    auto found = _materials.find(index);
    if (found != _materials.end()) return found->second;
    const tinygltf::Material& source = _model.materials[index];
    auto attr = make<kaMaterialAttr>(source.name);
    keepExtensionTextures(source, attr);
    const tinygltf::PbrMetallicRoughness& pbr = source.pbrMetallicRoughness;
    attr->setMetallic(static_cast<float>(pbr.metallicFactor));
    attr->setRoughness(static_cast<float>(pbr.roughnessFactor));
    attr->setAlphaMode(source.alphaMode == "MASK"    ? KA_GFX_ALPHA_MODE_MASK
                       : source.alphaMode == "BLEND" ? KA_GFX_ALPHA_MODE_BLEND
                                                     : KA_GFX_ALPHA_MODE_OPAQUE);
    attr->setAlphaCutoff(static_cast<float>(source.alphaCutoff));
    attr->setDoubleSided(source.doubleSided);
    attr->setNormalScale(static_cast<float>(source.normalTexture.scale));
    attr->setOcclusionStrength(static_cast<float>(source.occlusionTexture.strength));
    const std::vector<double>& base = pbr.baseColorFactor;
    if (base.size() == 4) attr->setDiffuse(kaVec4f(float(base[0]), float(base[1]), float(base[2]), float(base[3])));
    const std::vector<double>& emissive = source.emissiveFactor;
    if (emissive.size() == 3)
        attr->setEmission(kaVec4f(float(emissive[0]), float(emissive[1]), float(emissive[2]), 1.0f));
    // Without the extension glTF's specular is white at full strength.
    kaVec4f specular(1.0f, 1.0f, 1.0f, 1.0f);
    const auto extension = source.extensions.find(kaGltfSpecularExtension);
    if (extension != source.extensions.end() && extension->second.IsObject()) {
        const tinygltf::Value& color = extension->second.Get("specularColorFactor");
        if (color.IsArray() && color.ArrayLen() == 3 && color.Get(0).IsNumber() && color.Get(1).IsNumber() &&
            color.Get(2).IsNumber())
            specular.set(float(color.Get(0).GetNumberAsDouble()), float(color.Get(1).GetNumberAsDouble()),
                         float(color.Get(2).GetNumberAsDouble()), 1.0f);
        const tinygltf::Value& factor = extension->second.Get("specularFactor");
        if (factor.IsNumber()) specular.w = float(factor.GetNumberAsDouble());
    }
    attr->setSpecular(specular);
    return _materials[index] = attr;
}

void kaGltfImporter::keepExtensionTextures(const tinygltf::Material& source, kaMaterialAttr* attr)
{
    const std::string extras = kaGltfExtrasText(source.extras_json_string);
    if (!extras.empty()) attr->setExtras(extras.c_str());
    nlohmann::json extensions = nlohmann::json::parse(kaUnreadGltfExtensions(source.extensions_json_string), nullptr, false);
    if (!extensions.is_object()) return;
    // The specular factors are the material's own; the rest of the extension is kept.
    if (extensions.contains(kaGltfSpecularExtension) && extensions[kaGltfSpecularExtension].is_object()) {
        nlohmann::json& specular = extensions[kaGltfSpecularExtension];
        specular.erase("specularFactor");
        specular.erase("specularColorFactor");
        if (specular.empty()) extensions.erase(kaGltfSpecularExtension);
    }
    // Textures the extensions use are the material's, each named in the JSON by its place in
    // the material's list.
    std::vector<kaTextureAttr*> used;
    kaForEachGltfTextureReference(extensions, [&](nlohmann::json& reference) {
        kaTextureAttr* texture = this->texture(reference["index"].get<int>(), KA_GFX_TEXTURE_SLOT_BASE_COLOR, 0, "");
        if (!texture) return false;
        auto at = std::find(used.begin(), used.end(), texture);
        if (at == used.end()) {
            attr->appendExtensionTexture(texture);
            at = used.insert(used.end(), texture);
        }
        reference["index"] = at - used.begin();
        return true;
    });
    if (!extensions.empty()) attr->setExtensions(extensions.dump().c_str());
}

kaTextureAttr* kaGltfImporter::texture(int index, KA_GFX_TEXTURE_SLOT slot, int texCoordSet, const std::string& referenceData)
{
    // A glTF texture that feeds two slots, or one with two coordinate sets or transforms, is one
    // texture attribute per use; they share the image.
    const auto key = std::make_tuple(index, int(slot), texCoordSet, referenceData);
    auto found = _textures.find(key);
    if (found != _textures.end()) return found->second;
    if (index < 0 || size_t(index) >= _model.textures.size()) {
        _warnings.loss("references to missing textures dropped");
        return _textures[key] = nullptr;
    }
    const tinygltf::Texture& source = _model.textures[index];
    kaImage* level0 = source.source >= 0 && size_t(source.source) < _model.images.size() ? image(source.source) : nullptr;
    // Extensions may give the image in encodings of their own (KTX2, WebP) besides or instead of
    // level 0: those images are kept as they came, each named by its place in the texture's list.
    nlohmann::json extensions = nlohmann::json::parse(kaUnreadGltfExtensions(source.extensions_json_string), nullptr, false);
    std::vector<kaImage*> alternatives;
    kaForEachGltfImageReference(extensions, [&](nlohmann::json& extension) {
        const int at = extension["source"].get<int>();
        kaImage* kept = at >= 0 && size_t(at) < _model.images.size() ? image(at, false) : nullptr;
        if (!kept) return false;
        extension["source"] = alternatives.size();
        alternatives.push_back(kept);
        return true;
    });
    if (!_error.empty()) return _textures[key] = nullptr;
    if (!level0 && alternatives.empty()) {
        _warnings.loss("textures without an image dropped", kaCount::images);
        return _textures[key] = nullptr;
    }
    auto attr = make<kaTextureAttr>(source.name);
    const std::string extras = kaGltfExtrasText(source.extras_json_string);
    if (!extras.empty()) attr->setExtras(extras.c_str());
    if (extensions.is_object() && !extensions.empty()) attr->setExtensions(extensions.dump().c_str());
    for (kaImage* kept : alternatives) attr->appendExtensionImage(kept);
    if (!referenceData.empty()) attr->setReferenceData(referenceData.c_str());
    attr->setImage(level0, 0);
    attr->setSlot(slot);
    attr->setTexCoordSet(texCoordSet);
    // Without a sampler, or without filters in it, glTF leaves filtering to the viewer, which
    // mipmaps: the texture is tagged for mipmapping and filtered trilinearly.
    const tinygltf::Sampler none;
    const bool hasSampler = source.sampler >= 0 && size_t(source.sampler) < _model.samplers.size();
    const tinygltf::Sampler& sampler = hasSampler ? _model.samplers[source.sampler] : none;
    attr->setMinFilter(sampler.minFilter < 0 ? KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR
                                             : kaFilterOfGltf(sampler.minFilter));
    attr->setMagFilter(kaFilterOfGltf(sampler.magFilter));
    if (kaIsMipmapFilter(attr->getMinFilter())) attr->setMipMapMode(KA_GFX_TEXTURE_MODE_MIPMAP);
    attr->setWrapS(kaWrapOfGltf(sampler.wrapS));
    attr->setWrapT(kaWrapOfGltf(sampler.wrapT));
    const std::string samplerData = kaUnreadGltfMembers(sampler);
    if (!samplerData.empty()) attr->setSamplerData(samplerData.c_str());
    return _textures[key] = attr;
}

kaImage* kaGltfImporter::image(int index, bool decoded)
{
    const tinygltf::Image& source = _model.images[index];
    const std::string name = !source.uri.empty() && source.uri.rfind("data:", 0) != 0 ? source.uri
                             : !source.name.empty()                               ? source.name
                                                                                  : "image" + std::to_string(index);
    const std::string what = "image " + std::to_string(index) + " \"" + name + "\"";
    auto found = _images.find(index);
    if (found != _images.end()) {
        if (decoded && _undecodedImages.count(index)) {
            fail(what + ": not a PNG or JPEG image, yet a texture's image");
            return nullptr;
        }
        return found->second;
    }
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    if (source.bufferView >= 0) {
        if (size_t(source.bufferView) < _model.bufferViews.size() &&
            !locateView(source.bufferView, 0, _model.bufferViews[source.bufferView].byteLength, what, bytes, size))
            return _images[index] = nullptr;
        if (!bytes) {
            fail(what + " refers to buffer view " + std::to_string(source.bufferView) + ", which does not exist");
            return _images[index] = nullptr;
        }
    } else {
        const auto captured = _captured.bytes.find(index);
        if (captured == _captured.bytes.end()) {
            fail(what + ": cannot read the image file");
            return _images[index] = nullptr;
        }
        bytes = captured->second.data();
        size = captured->second.size();
    }
    auto image = make<kaImage>(name);
    kaKeepUnread(image, source);
    std::string reason;
    // The encoding is read through the file, like the accessors, and kept; counting needs only
    // its header.
    kaBlock<uint8_t> encoded;
    if (!_countsOnly) {
        encoded.resize(size);
        if (!_buffers.read(bytes, size, encoded.data(), reason)) {
            fail(what + " cannot be read: " + reason);
            return _images[index] = nullptr;
        }
        bytes = encoded.data();
    }
    if (!_countsOnly && decoded && kaCheckGltfImage(bytes, size, reason)) {
        // Decoded on a thread of its own while the meshes are read; run checks the outcome
        // before it hands the scene over.
        std::string& failure = _decodeFailures.emplace_back();
        kaImage* target = image.get();
        _decodes.add([target, encoded = std::move(encoded), what, &failure]() mutable {
            std::string why;
            if (kaDecodeGltfImage(encoded.data(), encoded.size(), target, why))
                target->setEncoded(std::move(encoded));
            else
                failure = what + ": " + why;
        });
        return _images[index] = image;
    }
    if (!kaDecodeGltfImage(bytes, size, image, reason,
                           _countsOnly ? kaGltfImagePixels::SizeOnly : kaGltfImagePixels::Decoded)) {
        if (decoded || size == 0) {
            fail(what + ": " + reason);
            return _images[index] = nullptr;
        }
        // An encoding only an extension knows (KTX2, WebP): kept as its bytes, without pixels.
        _undecodedImages.insert(index);
    }
    if (!_countsOnly) image->setEncoded(std::move(encoded));
    return _images[index] = image;
}

} // namespace Lode::Io
