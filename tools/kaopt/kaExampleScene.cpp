#include "tools/kaopt/kaExampleScene.h"

#include "host/sg/kaGroup.h"

namespace Lode::Tools {

using namespace Lode::Core;
using namespace Lode::Sg;

namespace {

template <class T> kaSmartPointer<T> make(const char* name)
{
    auto object = kaSmartPointer<T>::adopt(T::_instantiate());
    object->setName(name);
    return object;
}

} // namespace

kaSmartPointer<kaInfoList> kaMakeExampleScene()
{
    auto root = make<kaGroup>("root");
    auto props = make<kaGroup>("props");
    auto crate = make<kaNode>("crate");
    props->appendChild(crate);
    props->appendChild(make<kaNode>("barrel"));
    root->appendChild(props);
    // The same crate placed twice: a node with two parents.
    auto yard = make<kaGroup>("yard");
    yard->appendChild(crate);
    root->appendChild(yard);

    auto sceneInfo = make<kaSceneInfo>("example");
    sceneInfo->setSceneGraph(root);
    auto infos = kaSmartPointer<kaInfoList>::adopt(kaInfoList::_instantiate());
    infos->append(sceneInfo);
    return infos;
}

} // namespace Lode::Tools
