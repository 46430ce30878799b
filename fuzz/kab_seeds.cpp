// Writes a seed corpus of valid inputs for the .kab fuzz target: `kab_seeds DIR`. The seeds
// hold what a scene file rarely shows at once: a shared node, a string list, a vertex array
// with blend weights and an external entry.
#include "host/core/kaStringObj.h"
#include "host/gfx/kaVertexArray.h"
#include "host/io/kaKABFile.h"
#include "host/sg/kaGroup.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace Lode::Core;
using namespace Lode::Sg;

namespace {

// A seed is an odd byte (payload mode) and the payload of a valid file.
bool writeSeed(const std::string& path, kaObject* object)
{
    auto file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    auto entry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
    entry->setEntryName("root");
    entry->setObject(object);
    file->getDirectory()->append(entry);
    std::vector<uint8_t> bytes;
    if (!file->writeToMemory(bytes)) return false;
    std::ofstream out(path, std::ios::binary);
    out.put(1);
    out.write(reinterpret_cast<const char*>(bytes.data() + kaKABHeaderSize), bytes.size() - kaKABHeaderSize);
    return bool(out);
}

int writeSeeds(const std::string& folder)
{
    auto root = kaSmartPointer<kaGroup>::adopt(kaGroup::_instantiate());
    auto shared = kaSmartPointer<kaNode>::adopt(kaNode::_instantiate());
    shared->setName("shared");
    auto left = kaSmartPointer<kaGroup>::adopt(kaGroup::_instantiate());
    auto right = kaSmartPointer<kaGroup>::adopt(kaGroup::_instantiate());
    left->appendChild(shared);
    right->appendChild(shared);
    root->appendChild(left);
    root->appendChild(right);
    auto scene = kaSmartPointer<kaSceneInfo>::adopt(kaSceneInfo::_instantiate());
    scene->setSceneGraph(root);

    auto names = kaSmartPointer<kaStringObjList>::adopt(kaStringObjList::_instantiate());
    names->appendString("a");
    names->appendString("b");

    auto vertices = kaSmartPointer<Lode::Gfx::kaVertexArray2>::adopt(Lode::Gfx::kaVertexArray2::_instantiate());
    Lode::Gfx::kaVertexFormat format;
    format.setPositions(true);
    format.setBlendWeightCount(2);
    vertices->setup(format, 3, 0, 0);
    vertices->closeSetup();

    auto external = kaSmartPointer<kaExternalDirEntry>::adopt(kaExternalDirEntry::_instantiate());
    external->setDirectoryName("other.kab");
    external->setEntryName("root");

    bool written = writeSeed(folder + "/scene", scene) && writeSeed(folder + "/names", names) &&
                   writeSeed(folder + "/vertices", vertices) && writeSeed(folder + "/external", external);
    if (!written) std::fprintf(stderr, "cannot write the seeds into %s\n", folder.c_str());
    return written ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kab_seeds DIR\n");
        return 2;
    }
    return writeSeeds(argv[1]);
}
