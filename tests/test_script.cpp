#include "tools/kaopt/kaScript.h"

#include <gtest/gtest.h>

using namespace Lode::Tools;

TEST(Script, SectionsKeysValuesAndComments)
{
    kaScript script;
    std::string error;
    ASSERT_TRUE(kaParseScript("s.ini",
                              "# header comment\n"
                              "[kaReduceBlendWeights]\n"
                              "_blendWeightCount = 2   ; two influences\n"
                              "\n"
                              "  _skeletonName=\"Hero # 1\"\r\n"
                              "[kaGeometryStatistics]\n"
                              "[kaReduceBlendWeights]\n"
                              "minFilter = LinearMipmapLinear # registry key\n",
                              script, error))
        << error;
    ASSERT_EQ(script.passes.size(), 3u);
    EXPECT_EQ(script.passes[0].className, "kaReduceBlendWeights");
    EXPECT_EQ(script.passes[0].line, 2);
    ASSERT_EQ(script.passes[0].settings.size(), 2u);
    EXPECT_EQ(script.passes[0].settings[0].key, "_blendWeightCount");
    EXPECT_EQ(script.passes[0].settings[0].value, "2");
    EXPECT_EQ(script.passes[0].settings[0].line, 3);
    // A comment character inside quotes belongs to the value.
    EXPECT_EQ(script.passes[0].settings[1].value, "\"Hero # 1\"");
    EXPECT_TRUE(script.passes[1].settings.empty());
    EXPECT_EQ(script.passes[2].settings[0].value, "LinearMipmapLinear");
}

TEST(Script, ErrorsNameFileAndLine)
{
    kaScript script;
    std::string error;
    EXPECT_FALSE(kaParseScript("a.ini", "\n_key = 1\n", script, error));
    EXPECT_EQ(error, "a.ini:2: a setting must follow a '[PassClass]' section header");
    EXPECT_FALSE(kaParseScript("b.ini", "[kaEmpty]\njust words\n", script, error));
    EXPECT_EQ(error.rfind("b.ini:2: ", 0), 0u) << error;
    EXPECT_FALSE(kaParseScript("c.ini", "[kaEmpty\n", script, error));
    EXPECT_EQ(error.rfind("c.ini:1: ", 0), 0u) << error;
    EXPECT_FALSE(kaParseScript("d.ini", "[ ]\n", script, error));
    EXPECT_FALSE(kaParseScript("e.ini", "[kaEmpty]\n = 3\n", script, error));
    EXPECT_EQ(error.rfind("e.ini:2: ", 0), 0u) << error;
    EXPECT_FALSE(kaLoadScript("/nonexistent/x.ini", script, error));
    EXPECT_NE(error.find("/nonexistent/x.ini"), std::string::npos) << error;
}
