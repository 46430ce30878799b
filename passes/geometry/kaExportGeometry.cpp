// kaExportGeometry exists so that big scenes can keep their geometry in files of their own:
// levels that share props, or geometry that other tools load piece by piece. Each geometry node
// below the root goes to "<output path>/<_subDirectory>/<name>.kab" through the optimizer
// interface, with its parent list taken off while it is written so that the file holds the node
// and what hangs below it, not the scene above. An external entry naming the file relative to
// the output path is then registered, and the saved scene refers to the node through it. A
// node that already has an entry was exported before (or lives in another file) and is left
// alone.
#include "passes/geometry/kaExportGeometry.h"

#include "passes/kaPassRegistration.h"
#include "host/core/kaStringObj.h"
#include "host/core/kaText.h"
#include "host/core/kaWarnings.h"
#include "host/io/kaDirectory.h"
#include "host/opt/kaIterateGraph.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"

#include <cstring>

namespace Lode::OptExtension {

using Lode::Sg::kaGeometry;

kaStringMetaField* kaExportGeometry::k_subDirectory = nullptr;
kaStringMetaField* kaExportGeometry::k_baseName = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaExportGeometry)

void kaExportGeometry::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_subDirectory, KA_FIELD(kaExportGeometry, _subDirectory), kDefaultSubDirectory);
    fields.describe("folder, relative to the output's folder, that receives the .kab files (made when missing); "
                    "empty: the output's folder itself");
    fields.add(&k_baseName, KA_FIELD(kaExportGeometry, _baseName), kDefaultBaseName);
    fields.describe("exports only geometry nodes whose name starts with this text; empty: every named geometry node");
    fields.declare();
}

namespace {

// Puts value into the node's "_parentList" field and hands back what was there (with its own
// reference); null, and nothing changed, when the node has no such field.
kaSmartPointer<kaObject> exchangeParentList(kaNode* node, kaObject* value)
{
    kaMetaField* field = node->getMetaField("_parentList");
    if (!field || field->getKind() != kaFieldKind::ObjectRef) return nullptr;
    auto* referenceField = static_cast<kaObjectRefMetaField*>(field);
    kaSmartPointer<kaObject> previous = referenceField->get(node);
    referenceField->set(node, value);
    return previous;
}

// "<subDirectory>/<name>.<extension>", the directory part only when there is one.
kaSmartPointer<kaStringObj> fileNameOf(const char* name, const kaStringRef& subDirectory, const char* extension)
{
    auto fileName = make<kaStringObj>();
    fileName->set(name);
    fileName->appendFileExtension(extension);
    if (!subDirectory.isEmpty()) {
        fileName->insertBefore("/", 0);
        fileName->insertBefore(subDirectory.c_str(), 0);
    }
    return fileName;
}

} // namespace

bool kaExportGeometry::configure(int) { return true; }

bool kaExportGeometry::isSelected(const char* name) const
{
    if (_baseName.isEmpty()) return true;
    return std::strncmp(name, _baseName.c_str(), std::strlen(_baseName.c_str())) == 0;
}

bool kaExportGeometry::apply(kaSmartPointer<kaNode>& root)
{
    kaOptInterface* optInterface = getInterface();
    auto walker = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiateFromPool(getMemoryPool()));
    const kaMetaObject* geometryMeta = kaGeometry::getClassMetaSafe();
    walker->beginOfType(root, geometryMeta);
    int unnamed = 0;
    while (kaSmartPointer<kaNode> node = walker->getCurrent()) {
        // Step on first: what follows changes the node's parents, which the walk must not see.
        walker->getNextOfType(geometryMeta);
        const char* name = node->getName();
        if (!name || !*name) {
            ++unnamed;
            continue;
        }
        if (!isSelected(name) || optInterface->getExternalEntry(node)) continue;

        kaSmartPointer<kaObject> parents = exchangeParentList(node, nullptr);
        kaSmartPointer<kaStringObj> path = fileNameOf(name, _subDirectory, ".kab");
        const char* outputPath = optInterface->getFilePath();
        if (outputPath && *outputPath) {
            path->insertBefore("/", 0);
            path->insertBefore(outputPath, 0);
        }
        const kaResult written = optInterface->writeFile(node, path->getString(), true);
        exchangeParentList(node, parents);
        if (written == kFailure) {
            printf("error writing %s", path->getString());
            continue;
        }
        auto entry = kaSmartPointer<kaExternalDirEntry>::adopt(kaExternalDirEntry::_instantiateFromPool(getMemoryPool()));
        entry->setDirectoryName(fileNameOf(name, _subDirectory, "kab")->getString());
        entry->bindObject(node);
        entry->setEntryName("root");
        optInterface->addExternalReference(entry);
    }
    // Our words, not the engine's: on a line of their own on standard error, away from the
    // pass's own messages ("error writing %s"), which end without a line break.
    if (unnamed)
        Lode::Core::kaWarn(kaFormat("%d geometry node(s) without a name not exported: a file is named after its node", unnamed));
    return true;
}

} // namespace Lode::OptExtension
