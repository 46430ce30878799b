// Helpers shared by the pass suites: making objects and running a pass by class name, as kaopt
// does, with what it prints captured.
#pragma once

#include "extension/kaOptExtensionLibrary.h"
#include "host/opt/kaOptInterface.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kaTest {

template <class T> Lode::Core::kaSmartPointer<T> make(const char* name = nullptr)
{
    auto object = Lode::Core::kaSmartPointer<T>::adopt(T::_instantiate());
    if constexpr (std::is_base_of_v<Lode::Core::kaNamedObject, T>) object->setName(name);
    return object;
}

// Runs the pass with the fields given as text over root and infos (either may be null) and
// returns its standard output.
inline std::string runPassCapturing(const char* className,
                                    const std::vector<std::pair<const char*, const char*>>& fields,
                                    Lode::Core::kaSmartPointer<Lode::Sg::kaNode> root, Lode::Sg::kaInfoList* infos)
{
    using namespace Lode::Core;
    Lode::kaOptExtensionLibrary_arkRegister();
    auto optInterface = kaSmartPointer<Lode::Opt::kaOptInterface>::adopt(Lode::Opt::kaOptInterface::_instantiate());
    optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    auto pass = kaSmartPointer<Lode::Opt::kaOptBase>::adopt(optInterface->createOptBase(className));
    for (auto& [name, value] : fields) {
        std::string error;
        EXPECT_TRUE(pass->getMetaField(name)->setFromText(pass, value, error)) << error;
    }
    auto noInfos = kaSmartPointer<Lode::Sg::kaInfoList>::adopt(Lode::Sg::kaInfoList::_instantiate());
    testing::internal::CaptureStdout();
    optInterface->runPass(pass, 0, root, infos ? infos : noInfos.get());
    return testing::internal::GetCapturedStdout();
}

} // namespace kaTest
