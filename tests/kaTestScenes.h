// A pass run by class name the way kaopt runs it, for the pass suites.
#pragma once

#include "extension/kaOptExtensionLibrary.h"
#include "host/opt/kaOptInterface.h"

namespace kaTest {

using namespace Lode::Core;

// Creates the registered pass, configures it and applies it to root (which it may replace).
inline void runPass(const char* className, kaSmartPointer<Lode::Sg::kaNode>& root)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    auto optInterface = kaSmartPointer<Lode::Opt::kaOptInterface>::adopt(Lode::Opt::kaOptInterface::_instantiate());
    optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    auto pass = kaSmartPointer<Lode::Opt::kaOptBase>::adopt(optInterface->createOptBase(className));
    optInterface->runPass(pass, 0, root, nullptr);
}

} // namespace kaTest
