// kaCreateLod exists so that a scene can switch between versions of one piece of geometry made
// elsewhere (by hand or by kaExportGeometry run on simplified copies of the scene): the first
// geometry node the walk offers becomes a kaLod named like it, whose child i is the node stored
// in "<output path>/<directory i>/<name>.kab" and whose range i comes from the registry key
// "range<i>" or, without one, is spread evenly up to _lodMax. A level whose file is missing or
// unusable stays empty, so that child i always belongs to range i. Only one node is replaced
// per run: _lodCount drops to 0 after it.
#include "passes/scene/kaCreateLod.h"

#include "passes/kaPassRegistration.h"
#include "host/core/kaStringObj.h"
#include "host/core/kaText.h"
#include "host/core/kaWarnings.h"
#include "host/io/kaKABFile.h"
#include "host/io/kaSceneCounts.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaLod.h"

#include <cstdio>

namespace Lode::OptExtension {

using Lode::Sg::kaGeometry;
using Lode::Sg::kaLod;
using Lode::Sg::kaSceneInfo;

kaUnsignedIntMetaField* kaCreateLod::k_lodCount = nullptr;
kaFloatMetaField* kaCreateLod::k_lodMax = nullptr;
kaFloatMetaField* kaCreateLod::k_lodMin = nullptr;
kaObjectRefMetaField* kaCreateLod::k_lodRange = nullptr;
kaObjectRefMetaField* kaCreateLod::k_lodDirectory = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaCreateLod, kaFloatList::arkRegister, kaStringObjList::arkRegister)

void kaCreateLod::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_lodCount, KA_FIELD(kaCreateLod, _lodCount), kDefaultLodCount);
    fields.describe("number of levels; 0 refuses the pass, and it drops to 0 once a node has been replaced");
    fields.add(&k_lodMax, KA_FIELD(kaCreateLod, _lodMax), kDefaultLodMax);
    fields.describe("range of the last level when no range<N> key is given");
    fields.add(&k_lodMin, KA_FIELD(kaCreateLod, _lodMin), kDefaultLodMin);
    fields.describe("base of the evenly spread ranges: level L of N gets (_lodMax - _lodMin) * L / N + _lodMin");
    fields.add(&k_lodRange, KA_FIELD(kaCreateLod, _lodRange), kaFloatList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.describe("switching range per level, in level order; configure appends one per level (key range<N>, "
                    "else spread evenly), and entries given here come first");
    fields.add(&k_lodDirectory, KA_FIELD(kaCreateLod, _lodDirectory), kaStringObjList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.describe("folder per level, relative to the output's folder, holding <node name>.kab; configure appends "
                    "one per level from the key directory<N> (a level without one stays empty)");
    fields.declare();
}

kaCreateLod::~kaCreateLod()
{
    kaObject::release(_lodDirectory);
    kaObject::release(_lodRange);
}

void kaCreateLod::setLodRange(kaFloatList* ranges)
{
    if (ranges) ranges->addRef();
    kaObject::release(_lodRange);
    _lodRange = ranges;
}

void kaCreateLod::setLodDirectory(kaStringObjList* directories)
{
    if (directories) directories->addRef();
    kaObject::release(_lodDirectory);
    _lodDirectory = directories;
}

bool kaCreateLod::canOptimize(kaNode*) { return true; }

kaMetaObject* kaCreateLod::getNodeMeta() { return kaGeometry::getClassMetaSafe(); }

bool kaCreateLod::configure(int section)
{
    setTraversalFlag(false);
    if (_lodCount == 0) return false;
    kaRegistry* registry = getRegistry();
    for (uint32_t level = 1; level <= _lodCount; ++level) {
        auto key = make<kaStringObj>();
        key->printf("directory%d", static_cast<int>(level));
        kaSmartPointer<kaStringObj> directory;
        if (registry->getValue(section, key->getString(), directory, "", false))
            _lodDirectory->append(directory);
        else
            _lodDirectory->append(nullptr);

        key->printf("range%d", static_cast<int>(level));
        float range = 0.0f;
        if (!registry->getValue(section, key->getString(), range, 0.0f, false))
            range = (_lodMax - _lodMin) * static_cast<float>(level) / static_cast<float>(_lodCount) + _lodMin;
        _lodRange->append(range);
    }
    return true;
}

namespace {

// An empty level draws nothing where the replaced geometry drew: a loss, named with its cause.
void noteEmptyLevel(uint32_t level, const char* name, const kaStringObj* directory)
{
    const std::string cause =
        directory ? "its file could not be read" : kaFormat("no directory%u key names its folder", level);
    Lode::Core::kaNoteLoss(
        kaFormat("kaCreateLod: level %u of \"%s\" is empty: %s", level, name ? name : "", cause.c_str()),
        Lode::Io::kaCount::meshes);
}

} // namespace

kaSmartPointer<kaNode> kaCreateLod::loadLevel(const char* path, const char* outputFolder)
{
    auto file = make<kaKABFile>();
    kaExternalReadContext context(outputFolder && *outputFolder ? outputFolder : ".");
    file->read(path, context);
    const kaDirectory* directory = file->getDirectory();
    if (directory->getCount() == 0) {
        std::printf("File is Empty : %s\n", path);
        std::fflush(stdout);
        return nullptr;
    }
    kaDirEntry* entry = directory->findEntryByEntryName(path);
    if (!entry) entry = directory->findEntryByEntryName("root");
    auto* objectEntry = kaObjectDirEntry::dynamicCast(entry);
    if (!objectEntry) {
        std::printf("Not Object file : %s\n", path);
        std::fflush(stdout);
        return nullptr;
    }
    kaObject* object = objectEntry->getObject();
    if (auto* sceneInfo = kaSceneInfo::dynamicCast(object)) return kaSmartPointer<kaNode>(sceneInfo->getSceneGraph());
    if (auto* node = kaNode::dynamicCast(object)) return kaSmartPointer<kaNode>(node);
    std::printf("Not valid file : %s\n", path);
    std::fflush(stdout);
    return nullptr;
}

bool kaCreateLod::replaceNode(kaSmartPointer<kaNode>& node, kaSmartPointer<kaNode>& replacement)
{
    if (_lodCount == 0 || !node) return true;
    const char* name = node->getName();
    auto lod = kaSmartPointer<kaLod>::adopt(kaLod::_instantiateFromPool(getCreationMemoryPool()));
    lod->setName(name);
    const char* outputPath = getInterface()->getFilePath();
    for (uint32_t i = 0; i < _lodCount; ++i) {
        auto path = make<kaStringObj>();
        path->set(name);
        path->appendFileExtension(".kab");
        kaSmartPointer<kaNode> child;
        if (kaStringObj* directory = _lodDirectory->get(static_cast<int>(i))) {
            if (!directory->isEmpty()) {
                path->insertBefore("/", 0);
                path->insertBefore(directory->getString(), 0);
            }
            if (outputPath && *outputPath) {
                path->insertBefore("/", 0);
                path->insertBefore(outputPath, 0);
            }
            child = loadLevel(path->getString(), outputPath);
        }
        if (!child) noteEmptyLevel(i + 1, name, _lodDirectory->get(static_cast<int>(i)));
        lod->appendChild(child);
        lod->appendRange(_lodRange->get(static_cast<int>(i)));
    }
    replacement = lod;
    _lodCount = 0;
    return true;
}

} // namespace Lode::OptExtension
