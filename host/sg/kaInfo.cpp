#include "host/sg/kaInfo.h"

namespace Lode::Sg {

KA_IMPLEMENT_CLASS(kaInfo)
KA_IMPLEMENT_OBJECT_LIST(kaInfoList)

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaSceneInfo)

void kaSceneInfo::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaSceneInfo, _root), kaNode::getClassTypeLazy());
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaSceneInfo, _copyright));
    fields.describe("who holds the rights to the scene");
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaSceneInfo, _requiredExtensions));
    fields.describe("the extensions the file required its readers to know, blank-separated");
    fields.declare();
}

} // namespace Lode::Sg
