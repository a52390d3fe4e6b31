// Material scripts: the schema and its errors, the conversions, the order
// of candidates, and scripts that try to run away or reach the system.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "engine/logging.h"
#include "engine/luaWrapper.h"
#include "engine/resourceTypes.h"
#include "engine/screen.h"
#include "engine/strings.h"
#include "engine/Window.h"
#include "platform/graphics.h"
#include "platform/image.h"
#include "platform/null/nullGraphics.h"
#include "engine_support.h"
#include "test_support.h"

using namespace engine::gfx;
using engine::core::Exception;

namespace {

class MaterialScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velox_test::OpenNullWindow();
    const std::uint32_t pixel = 0xFFFFFFFF;
    std::string error;
    ASSERT_TRUE(platform::image::SavePng(L"data/white.png", 1, 1, &pixel, 4, error)) << error;
  }
  void TearDown() override {
    delete engine::core::ResourceManager::Get();
    delete engine::core::CWin32Window::Get();
  }

  MaterialScript Parse(const std::string& text) {
    std::ofstream("data/m.efx", std::ios::binary) << text;
    if (mBaked) {
      // Read through the player's copy: the table baked, then parsed.
      const std::string baked = MaterialScript::ReadEffectTable("data/m.efx").Write();
      std::ofstream("data/m.efx", std::ios::binary | std::ios::trunc) << baked;
    }
    MaterialScript script;
    script.Parse("data/m.efx");
    return script;
  }

  // The text of the exception a script raises ("" when none).
  std::string Failure(const std::string& text) {
    try {
      Parse(text);
    } catch (const Exception& e) {
      return engine::ToNarrow(e.GetText());
    }
    return "";
  }
  // The same for a file as it is.
  static std::string FileFailure(const std::string& path) {
    try {
      MaterialScript().Parse(path);
    } catch (const Exception& e) {
      return engine::ToNarrow(e.GetText());
    }
    return "";
  }

  velox_test::ScopedWorkDir mDir;
  bool mBaked = false;
};

// The same checks on the script and on its baked table.
class MaterialScriptBothWays : public MaterialScriptTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    MaterialScriptTest::SetUp();
    mBaked = GetParam();
  }
};

const char* kPass = "params = {}, streams = {}";

TEST_F(MaterialScriptTest, SchemaErrorsAreReportedExactly) {
  EXPECT_EQ(Failure("effect = 3"), "Effect must be a table");
  EXPECT_EQ(Failure("x = 1"), "Effect must be a table");
  EXPECT_EQ(Failure("effect = { { priority = 1 } }"), "Pass must be a table");
  EXPECT_EQ(Failure("effect = { { pass = { { streams = {} } } } }"), "Params must be a table");
  EXPECT_EQ(Failure("effect = { { pass = { { params = {} } } } }"), "Streams must be a table");
  EXPECT_EQ(Failure("effect = { { pass = { { params = { 3 }, streams = {} } } } }"),
            "Parameter description must be a table");
  EXPECT_EQ(Failure("effect = { { pass = { { params = { {'a', 'float2', 1} }, streams = {} } } } }"),
            "float2 value must be a table");
  EXPECT_EQ(Failure("effect = { { pass = { { params = { {'a', 'float4', 'x'} }, streams = {} } } } }"),
            "float4 value must be a table");
  EXPECT_EQ(Failure("effect = { { pass = { { params = { {'a', 'Float', 1} }, streams = {} } } } }"),
            "Unsupported parameter type( supported: int, float, bool, tex, target )");
  EXPECT_EQ(Failure("effect = { { pass = { { params = {}, streams = { 'pos', 'uv' } } } } }"),
            "Unsupported stream type ( supported: pos, normal, tex, tbn, bone )");
  const std::string syntax = Failure("effect = {");
  EXPECT_EQ(syntax.rfind("Error in lua script: data/m.efx:1:", 0), 0u) << syntax;
  EXPECT_EQ(FileFailure("data/none.efx"), "Error in lua script: cannot open data/none.efx");
  const std::string rows = velox_test::CloseLogAndReadRows(mDir.Path());
  EXPECT_NE(rows.find("Parsing material script data/m.efx"), std::string::npos);
  EXPECT_NE(rows.find("Effect must be a table"), std::string::npos);
}

TEST_P(MaterialScriptBothWays, FieldsAndConversions) {
  const MaterialScript m = Parse(std::string(R"(
effect = {
  { priority = 1, pass = { { fx = "low", tec = "T", )") + kPass + R"( } } },
  { priority = 3, pass = {
      { priority = 2.9, fx = "blur", tec = "Blur", rtt_stex = "glow", do_not_clear = 0,
        params = {
          { "count", "int", -1.5 }, { "amount", "float", "0.25" }, { "offset", "float2", { 1 } },
          { "tint", "float3", { 1, 2, 3 } }, { "colour", "float4", { 1, 2, 3, 4 } },
          { "on", "bool", 0 }, { "off", "bool", false }, { "wave", "ipo", "curve" },
          { "map", "tex", "data/white.png" }, { "glowMap", "target", "glow" },
          { "depthMap", "depth", "shadow" }, { "amount", "float", 0.5 } },
        streams = { "pos", "normal", "pos", "tbn" } },
      { priority = -1.5, rtt_dtex = "shadow", params = {}, streams = {} },
      nil,
      { fx = "ignored after the hole", params = {}, streams = {} } } },
  { priority = "2", pass = {} },
  { priority = "high", pass = {} },
  { priority = 2, pass = { { fx = "second2", )" + kPass + R"( } } },
}
)");
  ASSERT_EQ(m.mEffects.size(), 5u);
  // 3, then the two of priority 2 in script order, then 1, then "high" (0).
  EXPECT_EQ(m.mEffects[0].mPriority, 3);
  EXPECT_EQ(m.mEffects[1].mPriority, 2);
  EXPECT_TRUE(m.mEffects[1].mPasses.empty());
  EXPECT_EQ(m.mEffects[2].mPasses.at(0).mEffectFile, "second2.fx");
  EXPECT_EQ(m.mEffects[3].mPriority, 1);
  EXPECT_EQ(m.mEffects[4].mPriority, 0);

  const auto& passes = m.mEffects[0].mPasses;
  ASSERT_EQ(passes.size(), 2u);  // the walk stops at the hole
  const PassDesc& blur = passes[0];
  EXPECT_EQ(blur.mPriority, 2);
  EXPECT_EQ(blur.mEffectFile, "blur.fx");
  EXPECT_EQ(blur.mTechnique, "Blur");
  EXPECT_TRUE(blur.mHasTarget);
  EXPECT_FALSE(blur.mHasDepthTarget);
  EXPECT_EQ(blur.mTargetName, "glow");
  EXPECT_TRUE(blur.mDoNotClear);
  EXPECT_EQ(blur.mStreams, (std::set<int>{kStreamPos, kStreamNormal, kStreamTbn}));
  const ShaderParameters& p = blur.mParameters;
  ASSERT_EQ(p.mScalars.size(), 3u);
  EXPECT_TRUE(p.mScalars[0].isInt);
  EXPECT_EQ(p.mScalars[0].value->i, -1);
  EXPECT_FLOAT_EQ(p.mScalars[1].value->f, 0.25f);
  EXPECT_EQ(p.mScalars[2].name, "amount");  // both entries of a repeated name stay
  ASSERT_EQ(p.mFloat2.size(), 1u);
  EXPECT_EQ(p.mFloat2[0].value->f[1], 0.0f);  // a missing component reads 0
  EXPECT_EQ(p.mFloat3[0].value->f[2], 3.0f);
  EXPECT_EQ(p.mFloat4[0].value->f[3], 4.0f);
  ASSERT_EQ(p.mBools.size(), 2u);
  EXPECT_EQ(p.mBools[0].value->b, 1);  // 0 is true in Lua
  EXPECT_EQ(p.mBools[1].value->b, 0);
  ASSERT_EQ(p.mIpos.size(), 1u);
  float ipo;
  std::memcpy(&ipo, p.mIpos[0].value, 4);
  EXPECT_EQ(ipo, 0.0f);
  ASSERT_EQ(p.mTextures.size(), 3u);
  EXPECT_NE(p.mTextures[0].Retrieve(), nullptr);
  EXPECT_NE(p.mTextures[1].Retrieve(), nullptr);
  for (const auto& flag : p.mScalarsActive) EXPECT_EQ(flag->b, 1);

  const PassDesc& depth = passes[1];
  EXPECT_EQ(depth.mPriority, -1);
  EXPECT_EQ(depth.mEffectFile, ".fx");
  EXPECT_TRUE(depth.mHasDepthTarget);
  EXPECT_EQ(depth.mDepthTargetName, "shadow");
  // The targets exist before any shader refers to them.
  auto glow = engine::core::ResourceManager::Get()->Get<engine::core::resources::RenderTargetTexture>(L"glow");
  EXPECT_NE(glow->Retrieve(), nullptr);

  EXPECT_TRUE(Parse("effect = {}").mEffects.empty());
}

INSTANTIATE_TEST_SUITE_P(ScriptAndBaked, MaterialScriptBothWays, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Baked" : "Script"; });

TEST_F(MaterialScriptTest, BakedTablesRefuseCyclesAndDamage) {
  EXPECT_NE(Failure("t = {} t.self = t effect = { t }").find("contain themselves"), std::string::npos);
  EXPECT_NE(Failure("effect = {{{{{{{{{{{{{{{{{{{{}}}}}}}}}}}}}}}}}}}}").find("nest too deep"), std::string::npos);
  // A table met twice without a cycle is copied twice.
  EXPECT_EQ(Failure("local p = { fx = 'a', params = {}, streams = {} } effect = { { pass = { p, p } } }"), "");

  std::ofstream("data/m.efx", std::ios::binary)
      << "effect = { { priority = 2, pass = { { fx = 'a', params = { { 'k', 'float', 0.5 } }, streams = { 'pos' } } } } }";
  const std::string baked = MaterialScript::ReadEffectTable("data/m.efx").Write();
  ScriptValue back;
  std::string error;
  ASSERT_TRUE(ScriptValue::Read(baked.data(), baked.size(), &back, &error)) << error;
  EXPECT_EQ(back.Write(), baked);
  // Every cut and every flipped byte is refused or read as some table; none
  // reads past the end (the sanitizers watch) or is taken for a whole file.
  for (std::size_t n = 0; n < baked.size(); ++n) {
    EXPECT_FALSE(ScriptValue::Read(baked.data(), n, &back, &error)) << n;
    std::string flipped = baked;
    flipped[n] = static_cast<char>(flipped[n] ^ 0x5A);
    ScriptValue::Read(flipped.data(), flipped.size(), &back, &error);
  }
  std::ofstream("data/m.efx", std::ios::binary | std::ios::trunc) << baked.substr(0, baked.size() - 1);
  EXPECT_EQ(FileFailure("data/m.efx"), "Error in lua script: data/m.efx: a damaged baked material");
}

TEST_F(MaterialScriptTest, ScriptsCannotRunAwayOrReachTheSystem) {
  for (const char* script : {"while true do end", "local function f() return f() end f()",
                             "local t = {} local i = 0 while true do i = i + 1 t[i] = i end",
                             "local s = 'x' while true do s = s .. s end"}) {
    SCOPED_TRACE(script);
    const std::string failure = Failure(script);
    EXPECT_EQ(failure.rfind("Error in lua script: ", 0), 0u) << failure;
  }
  EXPECT_NE(Failure("while true do end").find("budget"), std::string::npos);
  EXPECT_NE(Failure("local s = 'x' while true do s = s .. s end").find("memory"), std::string::npos);
  for (const char* script : {"io.open('x')", "os.exit(1)", "require('x')", "dofile('x')",
                             "loadstring('x')()", "print(1)"}) {
    SCOPED_TRACE(script);
    EXPECT_NE(Failure(script).find("attempt to"), std::string::npos);
  }
  // Precompiled chunks are refused before Lua sees them.
  std::ofstream("data/m.efx", std::ios::binary) << "\x1bLua\x51" << std::string(40, '\0');
  MaterialScript binary;
  EXPECT_THROW(binary.Parse("data/m.efx"), Exception);
}

}  // namespace
