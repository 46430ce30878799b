// Running a pass by class name in the pass suites, as kaopt does, with what it prints captured.
#pragma once

#include "extension/kaOptExtensionLibrary.h"
#include "host/opt/kaOptInterface.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kaTest {

// Runs the pass with the fields given as text over root and infos (either may be null) and
// returns its standard output; result, when given, receives whether it was applied or refused.
inline std::string runPassCapturing(const char* className,
                                    const std::vector<std::pair<const char*, const char*>>& fields,
                                    Lode::Core::kaSmartPointer<Lode::Sg::kaNode> root,
                                    Lode::Sg::kaInfoList* infos = nullptr,
                                    Lode::Opt::kaOptInterface::RunResult* result = nullptr)
{
    using namespace Lode::Core;
    Lode::kaOptExtensionLibrary_arkRegister();
    auto optInterface = make<Lode::Opt::kaOptInterface>();
    optInterface->setRegistry(make<kaRegistry>());
    auto pass = kaSmartPointer<Lode::Opt::kaOptBase>::adopt(optInterface->createOptBase(className));
    for (auto& [name, value] : fields) {
        std::string error;
        EXPECT_TRUE(pass->getMetaField(name)->setFromText(pass, value, error)) << error;
    }
    auto noInfos = make<Lode::Sg::kaInfoList>();
    testing::internal::CaptureStdout();
    const auto outcome = optInterface->runPass(pass, 0, root, infos ? infos : noInfos.get());
    if (result) *result = outcome;
    return testing::internal::GetCapturedStdout();
}

} // namespace kaTest
