// The pass list kept honest: every class of the registration table (extension/kaPassTable.def)
// has the pieces a pass is made of, each where the project keeps it, and no test file or golden
// run is named after a class the table lacks (one left behind by a rename or a removal).
#include "extension/kaPassNames.h"
#include "kaTestTools.h"
#include "tools/kaopt/kaScript.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kRegistered(std::begin(Lode::kaPassNames), std::end(Lode::kaPassNames));

// The one pass without a unit test file: it changes nothing, and its golden run checks that.
const std::string kWithoutUnitTests = "kaEmpty";

} // namespace

TEST(PassList, EveryPassHasSourcesTestsGoldenFaultAndPlaceInTheFullChain)
{
    const fs::path source = KA_SOURCE_DIR;
    const std::set<std::string> registered(kRegistered.begin(), kRegistered.end());

    std::map<std::string, std::string> sources; // file name -> path from the repository's folder
    for (const auto& entry : fs::recursive_directory_iterator(source / "passes"))
        sources[entry.path().filename().string()] = fs::relative(entry.path(), source).generic_string();

    std::set<std::string> unitTested, goldenRun;
    for (const auto& entry : fs::directory_iterator(source / "tests")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("test_ka", 0) == 0 && name.size() > 7 && std::isupper(static_cast<unsigned char>(name[7])))
            unitTested.insert(entry.path().stem().string().substr(5));
    }
    // kaCLASS.golden, or kaCLASS.CASE.golden for a further case of the same pass.
    for (const auto& entry : fs::directory_iterator(source / "tests" / "golden"))
        if (entry.path().extension() == ".golden") {
            const std::string name = entry.path().stem().string();
            goldenRun.insert(name.substr(0, name.find('.')));
        }

    std::set<std::string> faulted; // the source files tests/mutants.txt plants faults in
    std::istringstream mutants(kaTest::readText(source / "tests" / "mutants.txt"));
    for (std::string line; std::getline(mutants, line);)
        if (!line.empty() && line[0] != '#') faulted.insert(line.substr(0, line.find('\t')));

    Lode::Tools::kaScript full;
    std::string error;
    ASSERT_TRUE(Lode::Tools::kaParseScript("examples/full.ini", kaTest::readText(source / "examples" / "full.ini"), full, error))
        << error;
    std::set<std::string> inFullChain;
    for (const auto& pass : full.passes) inFullChain.insert(pass.className);

    for (const std::string& pass : kRegistered) {
        const auto header = sources.find(pass + ".h"), implementation = sources.find(pass + ".cpp");
        EXPECT_TRUE(header != sources.end() && implementation != sources.end())
            << pass << ": its class lives in passes/SUBSYSTEM/" << pass << ".h and .cpp";
        if (pass != kWithoutUnitTests)
            EXPECT_TRUE(unitTested.count(pass))
                << pass << ": a pass's unit tests live in tests/test_" << pass
                << ".cpp, one file a pass named after its class (only " << kWithoutUnitTests << ", which changes nothing, has none)";
        EXPECT_TRUE(goldenRun.count(pass)) << pass << ": no golden run tests/golden/" << pass << ".golden (or " << pass
                                           << ".CASE.golden)";
        EXPECT_TRUE((header != sources.end() && faulted.count(header->second)) ||
                    (implementation != sources.end() && faulted.count(implementation->second)))
            << pass << ": tests/mutants.txt plants no fault in its source";
        EXPECT_TRUE(inFullChain.count(pass)) << pass << ": examples/full.ini, the chain of every pass, has no [" << pass << "]";
    }
    for (const std::string& name : unitTested)
        EXPECT_TRUE(registered.count(name)) << "tests/test_" << name << ".cpp is named after no registered pass";
    for (const std::string& name : goldenRun)
        EXPECT_TRUE(registered.count(name)) << "tests/golden/" << name << "*.golden is named after no registered pass";
}
