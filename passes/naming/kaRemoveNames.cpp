// kaRemoveNames exists for shipping builds: names are for tools and people, and a level of a
// hundred thousand named nodes carries megabytes of them. Every named object reachable from the
// root, nodes, attributes, vertex arrays and images among them, ends without a name.
#include "passes/naming/kaRemoveNames.h"

#include "passes/kaPassRegistration.h"

namespace Lode::OptExtension {

KA_IMPLEMENT_PASS(kaRemoveNames)

bool kaRemoveNames::configure(int) { return true; }

kaMetaObject* kaRemoveNames::getVisitedObjectMeta() { return kaNamedObject::getClassMetaSafe(); }

bool kaRemoveNames::visitor(kaObject* object)
{
    removeName(static_cast<kaNamedObject*>(object));
    return true;
}

void kaRemoveNames::removeName(kaNamedObject* object) { object->setName(nullptr); }

} // namespace Lode::OptExtension
