// The effect interface on the null backend: descriptions, annotations,
// values, the shared pool, techniques and passes, the messages of broken
// files, the preprocessor and the fxcheck tool.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "effect_support.h"
#include "sanitizer/support.h"
#include "platform/null/nullGraphics.h"
#include "platform/utf8.h"

using namespace effect_test;

namespace {

const std::string kCorpus = std::string(VELOX_SOURCE_DIR) + "/tests/effects/";
const std::string kVS = "float4 VS(float4 p : POSITION) : POSITION { return p; }\n";
const std::string kShaders = kVS + "float4 PS() : COLOR0 { return 1; }\n";
const std::string kTrivial = kShaders + "technique T { pass P { VertexShader = compile vs_2_0 VS(); } }";

// Typed reads that fail the test when the call fails.
template <typename T, typename Get>
T Read(Effect* e, Handle h, Get get, T v) {
  EXPECT_EQ((e->*get)(h, &v), kOk);
  return v;
}
float Float(Effect* e, Handle h) { return Read(e, h, &Effect::GetFloat, -999.0f); }
std::int32_t Int(Effect* e, Handle h) { return Read(e, h, &Effect::GetInt, -999); }
bool Bool(Effect* e, Handle h) { return Read(e, h, &Effect::GetBool, false); }
Vector4 Vec(Effect* e, Handle h) { return Read(e, h, &Effect::GetVector, Vector4{-9, -9, -9, -9}); }
std::string Str(Effect* e, Handle h) {
  const char* v = Read<const char*>(e, h, &Effect::GetString, nullptr);
  return v != nullptr ? v : "(null)";
}

// True when `messages` holds "file(line," or "file(line)".
bool ReportsLine(const std::string& messages, const std::string& file, int line) {
  const std::string at = file + "(" + std::to_string(line);
  for (std::size_t i = messages.find(at); i != std::string::npos; i = messages.find(at, i + 1)) {
    const char next = i + at.size() < messages.size() ? messages[i + at.size()] : '\0';
    if (next == ',' || next == ')') return true;
  }
  return false;
}

class EffectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(mDevice.Ok()); }
  void TearDown() override {
    if (mEffect != nullptr) {
      EXPECT_EQ(mEffect->Release(), 0u);
    }
  }

  // From text named test.fx, or from a file of the corpus; with the messages.
  Effect* Make(const std::string& source, std::string* messages, bool file = false) {
    Effect* effect = nullptr;
    Buffer* errors = nullptr;
    if (file) {
      CreateEffectFromFile(mDevice.Get(), utf8::Decode(kCorpus + source), nullptr, nullptr, 0,
                           mDevice.Pool(), &effect, &errors);
    } else {
      CreateEffect(mDevice.Get(), source, "test.fx", nullptr, 0, mDevice.Pool(), &effect, &errors);
    }
    *messages = errors != nullptr ? static_cast<const char*>(errors->GetBufferPointer()) : "";
    if (errors != nullptr) errors->Release();
    return effect;
  }
  // Replaces mEffect.
  Effect* Load(const std::string& source, bool file = false) {
    if (mEffect != nullptr) mEffect->Release();
    std::string messages;
    mEffect = Make(source, &messages, file);
    EXPECT_NE(mEffect, nullptr) << messages;
    return mEffect;
  }
  // The messages of an effect that must not build.
  std::string Fails(const std::string& source, bool file = false) {
    std::string messages;
    Effect* effect = Make(source, &messages, file);
    EXPECT_EQ(effect, nullptr) << source;
    if (effect != nullptr) effect->Release();
    EXPECT_NE(messages.find("error X"), std::string::npos) << messages;
    return messages;
  }
  ParameterDesc Desc(Handle h) {
    ParameterDesc d;
    EXPECT_EQ(mEffect->GetParameterDesc(h, &d), kOk);
    return d;
  }

  EffectDevice mDevice{Backend::Null};
  Effect* mEffect = nullptr;
};

TEST_F(EffectTest, DescriptionsOfEveryKindOfParameter) {
  Effect* e = Load(R"(
struct Light { float3 position; float range; float4 colour[2]; };
float Scalar : Time; int2 Pair; float4x4 WorldViewProjection : WORLDVIEWPROJECTION;
row_major float4x3 Bones[2]; float4 Palette[3]; Light Lights[2]; texture2D Diffuse;
sampler2D DiffuseSampler = sampler_state { Texture = <Diffuse>; };
string Label < int a = 1; float b = 2; > = "label";
)" + kTrivial);
  ASSERT_NE(e, nullptr);
  EffectDesc ed;
  ASSERT_EQ(e->GetDesc(&ed), kOk);
  EXPECT_EQ(ed.parameters, 9u);
  EXPECT_EQ(ed.techniques, 1u);
  struct Expect {
    const char* name;
    ParameterClass cls;
    ParameterType type;
    std::uint32_t rows, columns, elements, members, bytes;
  };
  const Expect expected[] = {
      {"Scalar", kClassScalar, kTypeFloat, 1, 1, 0, 0, 4},
      {"Pair", kClassVector, kTypeInt, 1, 2, 0, 0, 8},
      {"WorldViewProjection", kClassMatrixColumns, kTypeFloat, 4, 4, 0, 0, 64},
      {"Bones", kClassMatrixRows, kTypeFloat, 4, 3, 2, 0, 96},
      {"Palette", kClassVector, kTypeFloat, 1, 4, 3, 0, 48},
      {"Lights", kClassStruct, kTypeVoid, 0, 0, 2, 3, 96},
      {"Diffuse", kClassObject, kTypeTexture2D, 0, 0, 0, 0, 4},
      {"DiffuseSampler", kClassObject, kTypeSampler2D, 0, 0, 0, 0, 4},
      {"Label", kClassObject, kTypeString, 0, 0, 0, 0, 4},
  };
  const std::uint32_t noFlags = 0;
  for (std::uint32_t i = 0; i < 9; ++i) {
    const Expect& x = expected[i];
    const ParameterDesc d = Desc(e->GetParameter(nullptr, i));  // declaration order
    EXPECT_STREQ(d.name, x.name);
    EXPECT_EQ(e->GetParameterByName(nullptr, x.name), e->GetParameter(nullptr, i));
    EXPECT_EQ(std::tie(d.parameterClass, d.type, d.rows, d.columns, d.elements, d.structMembers,
                       d.bytes, d.flags),
              std::tie(x.cls, x.type, x.rows, x.columns, x.elements, x.members, x.bytes, noFlags))
        << x.name;
  }
  EXPECT_EQ(e->GetParameter(nullptr, 9), nullptr);
  EXPECT_STREQ(Desc("Scalar").semantic, "Time");  // a top-level name is a handle
  EXPECT_EQ(Desc("Pair").semantic, nullptr);
  EXPECT_EQ(Desc("Label").annotations, 2u);
  // Semantics compare without case; names do not.
  EXPECT_EQ(e->GetParameterBySemantic(nullptr, "worldViewProjection"), e->GetParameter(nullptr, 2));
  EXPECT_EQ(e->GetParameterBySemantic(nullptr, "TIME"), e->GetParameter(nullptr, 0));
  EXPECT_EQ(e->GetParameterBySemantic(nullptr, "Missing"), nullptr);
  EXPECT_EQ(e->GetParameterByName(nullptr, "scalar"), nullptr);

  // Array elements and struct members are children with their own shapes.
  Handle second = e->GetParameterElement("Lights", 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(e->GetParameter("Lights", 1), second);
  EXPECT_EQ(e->GetParameterElement("Lights", 2), nullptr);
  EXPECT_EQ(e->GetParameterElement(second, 0), nullptr);  // members are no elements
  ParameterDesc d = Desc(second);
  EXPECT_EQ(std::tie(d.parameterClass, d.elements, d.bytes), std::make_tuple(kClassStruct, 0u, 48u));
  Handle colours = e->GetParameterByName(second, "colour");
  EXPECT_EQ(e->GetParameter(second, 2), colours);
  EXPECT_EQ(e->GetParameter(second, 3), nullptr);
  d = Desc(colours);
  EXPECT_EQ(std::tie(d.parameterClass, d.elements, d.bytes), std::make_tuple(kClassVector, 2u, 32u));
  // A child's value lies at its place in the parent's bytes.
  const Vector4 red{1, 0, 0, 1};
  EXPECT_EQ(e->SetVector(e->GetParameterElement(colours, 1), &red), kOk);
  float lights[24] = {};
  EXPECT_EQ(e->GetValue("Lights", lights, sizeof lights), kOk);
  EXPECT_EQ(std::tie(lights[19], lights[20], lights[23]), std::make_tuple(0.0f, 1.0f, 1.0f));
  EXPECT_EQ(Desc(e->GetParameterByName(second, "range")).parameterClass, kClassScalar);
  d = Desc(e->GetParameterElement("Bones", 1));
  EXPECT_EQ(std::tie(d.parameterClass, d.elements, d.bytes), std::make_tuple(kClassMatrixRows, 0u, 48u));
}

TEST_F(EffectTest, AnnotationsOnParametersTechniquesAndPasses) {
  Effect* e = Load("basic.fx", true);
  ASSERT_NE(e, nullptr);
  Handle technique = e->GetTechniqueByName("Lit");
  TechniqueDesc td;
  ASSERT_EQ(e->GetTechniqueDesc(technique, &td), kOk);
  EXPECT_EQ(td.annotations, 4u);
  EXPECT_FALSE(Bool(e, e->GetAnnotationByName(technique, "quad")));
  EXPECT_EQ(Str(e, e->GetAnnotationByName("Lit", "material")), "none");
  EXPECT_EQ(Int(e, e->GetAnnotation(technique, 2)), 2);
  EXPECT_EQ(Float(e, e->GetAnnotation(technique, 3)), 0.5f);
  EXPECT_EQ(e->GetAnnotation(technique, 4), nullptr);
  ParameterDesc d = Desc(e->GetAnnotation(technique, 0));
  EXPECT_STREQ(d.name, "quad");
  EXPECT_EQ(std::tie(d.type, d.flags), std::make_tuple(kTypeBool, kParameterAnnotation));
  EXPECT_EQ(Str(e, e->GetAnnotationByName("Tint", "UIName")), "Tint");
  EXPECT_EQ(Str(e, e->GetAnnotationByName("DiffuseMap", "ResourceName")), "default.dds");
  EXPECT_EQ(e->GetAnnotationByName("Tint", "Missing"), nullptr);
  Handle pass = e->GetPass(technique, 0);
  PassDesc pd;
  ASSERT_EQ(e->GetPassDesc(pass, &pd), kOk);
  EXPECT_EQ(pd.annotations, 1u);
  EXPECT_EQ(Str(e, e->GetAnnotationByName(pass, "note")), "first");

  // Vectors, and reads converted between annotation types.
  e = Load(kShaders + R"(
technique T { pass P < float2 offset = {0.25, -0.5}; int count = -3; bool on = true;
                       string name = "p"; > { VertexShader = compile vs_2_0 VS(); } })");
  ASSERT_NE(e, nullptr);
  pass = e->GetPass("T", 0);
  const Vector4 offset = Vec(e, e->GetAnnotationByName(pass, "offset"));
  EXPECT_EQ(std::tie(offset.x, offset.y), std::make_tuple(0.25f, -0.5f));
  d = Desc(e->GetAnnotationByName(pass, "offset"));
  EXPECT_EQ(std::tie(d.parameterClass, d.columns), std::make_tuple(kClassVector, 2u));
  EXPECT_EQ(Float(e, e->GetAnnotationByName(pass, "count")), -3.0f);
  EXPECT_EQ(Int(e, e->GetAnnotationByName(pass, "on")), 1);
  const char* text = nullptr;
  EXPECT_NE(e->GetString(e->GetAnnotationByName(pass, "count"), &text), kOk);
}

TEST_F(EffectTest, InitialValuesConversionsAndRawWrites) {
  Effect* e = Load(R"(
static const float kBase = 1.5;
float Scaled = kBase * 2; float Negative = -2.5; int NegativeInt = -7; bool Flag = true;
float3 List = {1, 2, 3}; float4 Built = float4(1, -2, 3.5, kBase); float2x2 Square = {1, 2, 3, 4};
row_major float4x3 Bone; float4 Palette[4]; int Count = 1; float Fill = 0;
)" + kTrivial);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(std::make_tuple(Float(e, "Scaled"), Float(e, "Negative"), Int(e, "NegativeInt"),
                            Bool(e, "Flag")),
            std::make_tuple(3.0f, -2.5f, -7, true));
  float list[3] = {};
  EXPECT_EQ(e->GetValue("List", list, sizeof list), kOk);
  EXPECT_EQ(list[2], 3.0f);
  Vector4 v = Vec(e, "Built");
  EXPECT_EQ(std::tie(v.y, v.w), std::make_tuple(-2.0f, 1.5f));
  Matrix m;
  EXPECT_EQ(e->GetMatrix("Square", &m), kOk);
  EXPECT_EQ(std::tie(m.m[0][1], m.m[1][0]), std::make_tuple(2.0f, 3.0f));

  // The typed setters convert to the parameter's kind.
  EXPECT_EQ(e->SetInt("Fill", 3), kOk);
  EXPECT_EQ(Float(e, "Fill"), 3.0f);
  EXPECT_EQ(e->SetFloat("Count", 2.7f), kOk);
  EXPECT_EQ(Int(e, "Count"), 2);
  EXPECT_EQ(e->SetInt("Flag", 0), kOk);
  EXPECT_FALSE(Bool(e, "Flag"));
  EXPECT_EQ(e->SetFloat("Flag", 0.5f), kOk);
  std::int32_t raw = 0;
  EXPECT_EQ(e->GetValue("Flag", &raw, 4), kOk);
  EXPECT_EQ(raw, 1);  // a true bool is stored as 1
  EXPECT_EQ(e->SetBool("Fill", true), kOk);
  EXPECT_EQ(Float(e, "Fill"), 1.0f);
  const Vector4 in{4, 5, 6, 7};
  EXPECT_EQ(e->SetVector("List", &in), kOk);
  EXPECT_EQ(e->GetValue("List", list, sizeof list), kOk);
  EXPECT_EQ(list[2], 6.0f);
  EXPECT_EQ(Float(e, "Negative"), -2.5f);  // the neighbour is untouched
  EXPECT_NE(e->SetFloat("NoSuchParameter", 1.0f), kOk);

  // SetMatrix keeps the parameter's top-left block, row by row.
  Matrix source;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) source.m[r][c] = static_cast<float>(10 * r + c);
  }
  EXPECT_EQ(e->SetMatrix("Bone", &source), kOk);
  float bone[12] = {};
  EXPECT_EQ(e->GetValue("Bone", bone, sizeof bone), kOk);
  EXPECT_EQ(std::tie(bone[2], bone[3], bone[11]), std::make_tuple(2.0f, 10.0f, 32.0f));
  EXPECT_NE(e->SetMatrix("Fill", &source), kOk);

  // SetRawValue writes inside the value only.
  float palette[16];
  for (int k = 0; k < 16; ++k) palette[k] = static_cast<float>(k);
  EXPECT_EQ(e->SetValue("Palette", palette, sizeof palette), kOk);
  const float two[2] = {-1, -2};
  EXPECT_EQ(e->SetRawValue("Palette", two, 20, sizeof two), kOk);
  EXPECT_NE(e->SetRawValue("Palette", two, 60, sizeof two), kOk);
  EXPECT_NE(e->SetRawValue("Palette", two, 0xFFFFFFF8u, sizeof two), kOk);
  EXPECT_NE(e->SetRawValue("Palette", two, 64, 4), kOk);
  float back[16] = {};
  EXPECT_EQ(e->GetValue("Palette", back, sizeof back), kOk);
  // The refused writes left the end alone.
  EXPECT_EQ(std::tie(back[4], back[6], back[15]), std::make_tuple(4.0f, -2.0f, 15.0f));
  EXPECT_EQ(Vec(e, e->GetParameterElement("Palette", 1)).y, -1.0f);
}

TEST_F(EffectTest, TexturesAreReferencedWhileSet) {
  Effect* e = Load("texture Map;\nsampler2D MapSampler = sampler_state { Texture = <Map>; };\n"
                   "float Number;\n" + kTrivial);
  ASSERT_NE(e, nullptr);
  Texture* first = nullptr;
  Texture* second = nullptr;
  for (Texture** t : {&first, &second}) {
    ASSERT_EQ(mDevice.Get()->CreateTexture(4, 4, 1, 0, kFormatA8R8G8B8, kPoolManaged, t, nullptr), kOk);
  }
  EXPECT_EQ(std::make_tuple(e->SetTexture("Map", first), e->SetTexture("MapSampler", second)),
            std::make_tuple(kOk, kOk));
  EXPECT_NE(e->SetTexture("Number", first), kOk);
  BaseTexture* got = nullptr;
  EXPECT_EQ(e->GetTexture("Map", &got), kOk);
  EXPECT_EQ(got, static_cast<BaseTexture*>(first));
  EXPECT_EQ(got->Release(), 2u);  // ours and the effect's
  // Replacing a texture drops the old reference.
  EXPECT_EQ(e->SetTexture("MapSampler", first), kOk);
  EXPECT_EQ(second->AddRef(), 2u);
  EXPECT_EQ(second->Release(), 1u);
  EXPECT_EQ(e->SetTexture("MapSampler", nullptr), kOk);
  EXPECT_EQ(e->GetTexture("MapSampler", &got), kOk);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(e->Release(), 0u);
  mEffect = nullptr;
  EXPECT_EQ(std::make_tuple(first->Release(), second->Release()), std::make_tuple(0u, 0u));
}

TEST_F(EffectTest, SharedParametersLiveInThePool) {
  std::string messages;
  Effect* a = Make("shared_a.fx", &messages, true);
  ASSERT_NE(a, nullptr) << messages;
  Effect* b = Make("shared_b.fx", &messages, true);
  ASSERT_NE(b, nullptr) << messages;
  ParameterDesc shared, local;
  ASSERT_EQ(b->GetParameterDesc("Ambient", &shared), kOk);
  ASSERT_EQ(b->GetParameterDesc("Local", &local), kOk);
  EXPECT_EQ(std::tie(shared.flags, local.flags), std::make_tuple(kParameterShared, 0u));

  EXPECT_EQ(Vec(b, "Ambient").x, 0.25f);  // the first effect's value stays
  const Vector4 set{1, 2, 3, 4};
  EXPECT_EQ(a->SetVector("Ambient", &set), kOk);
  EXPECT_EQ(Vec(b, "Ambient").w, 4.0f);
  EXPECT_EQ(b->SetFloat("Local", 5.0f), kOk);
  EXPECT_EQ(Float(a, "Local"), 1.0f);
  // The value outlives the effect that declared it.
  EXPECT_EQ(a->Release(), 0u);
  Effect* c = Make("shared float4 Ambient;" + kTrivial, &messages);
  ASSERT_NE(c, nullptr) << messages;
  EXPECT_EQ(Vec(c, "Ambient").z, 3.0f);
  c->Release();

  // The same name with another shape does not join the pool.
  for (const char* decl : {"shared float3 Ambient;", "shared int4 Ambient;",
                           "shared float4 Ambient[2];", "shared float2x2 Ambient;"}) {
    messages = Fails(decl + kTrivial);
    EXPECT_NE(messages.find("Ambient"), std::string::npos) << messages;
    EXPECT_TRUE(ReportsLine(messages, "test.fx", 1)) << messages;
  }
  EXPECT_EQ(Vec(b, "Ambient").x, 1.0f);
  EXPECT_EQ(b->Release(), 0u);
}

TEST_F(EffectTest, TechniquesPassesAndTheirCalls) {
  Effect* e = Load(kShaders + R"(
float4 PS3(float2 pos : VPOS) : COLOR0 { return pos.xyxy; }
technique First {
  pass A { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); }
  pass B { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 PS3(); }
}
technique Second { pass Only { VertexShader = compile vs_2_0 VS(); PixelShader = NULL; } }
)");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->GetTechniqueByName("Third"), nullptr);
  Handle first = e->GetTechnique(0);
  EXPECT_EQ(e->GetTechniqueByName("First"), first);
  EXPECT_EQ(e->GetCurrentTechnique(), first);
  TechniqueDesc td;
  ASSERT_EQ(e->GetTechniqueDesc("First", &td), kOk);
  EXPECT_EQ(td.passes, 2u);
  EXPECT_EQ(e->GetPass(first, 2), nullptr);
  EXPECT_EQ(e->GetPassByName(first, "B"), e->GetPass(first, 1));
  const struct {
    Handle pass;
    const char* name;
    std::uint32_t vertex, pixel;
  } versions[] = {{e->GetPass(first, 0), "A", 0xFFFE0200u, 0xFFFF0200u},
                  {e->GetPass(first, 1), "B", 0xFFFE0300u, 0xFFFF0300u},
                  {e->GetPass("Second", 0), "Only", 0xFFFE0200u, 0}};
  for (const auto& v : versions) {
    PassDesc pd;
    ASSERT_EQ(e->GetPassDesc(v.pass, &pd), kOk);
    EXPECT_STREQ(pd.name, v.name);
    EXPECT_EQ(GetShaderVersion(pd.vertexShaderFunction), v.vertex) << v.name;
    EXPECT_EQ(GetShaderVersion(pd.pixelShaderFunction), v.pixel) << v.name;
    EXPECT_EQ(pd.pixelShaderFunction == nullptr, v.pixel == 0) << v.name;
  }
  EXPECT_EQ(std::make_tuple(e->ValidateTechnique(first), e->ValidateTechnique("Second")),
            std::make_tuple(kOk, kOk));
  EXPECT_NE(e->ValidateTechnique("Third"), kOk);

  // The order of calls, and the calls that are out of place.
  null::ClearCallRecord();
  for (Result r : {e->BeginPass(0), e->End(), e->EndPass(), e->SetTechnique("Third")}) {
    EXPECT_NE(r, kOk);
  }
  ASSERT_EQ(e->SetTechnique("Second"), kOk);
  ASSERT_EQ(e->SetTechnique(first), kOk);
  std::uint32_t passes = 0;
  ASSERT_EQ(e->Begin(&passes, 0), kOk);
  EXPECT_EQ(passes, 2u);
  for (Result r : {e->Begin(&passes, 0), e->SetTechnique("Second"), e->BeginPass(2), e->EndPass()}) {
    EXPECT_NE(r, kOk);
  }
  EXPECT_EQ(e->GetCurrentTechnique(), first);
  EXPECT_EQ(e->BeginPass(1), kOk);
  EXPECT_NE(e->BeginPass(0), kOk);  // still inside pass 1
  for (Result r : {e->CommitChanges(), e->EndPass(), e->End()}) EXPECT_EQ(r, kOk);
  std::vector<std::string> calls;
  for (const std::string& line : null::CallRecord()) {
    if (line.rfind("Effect ", 0) == 0) calls.push_back(line);
  }
  const std::vector<std::string> expected = {"Effect Begin test.fx First", "Effect BeginPass 1",
                                             "Effect CommitChanges", "Effect EndPass", "Effect End"};
  EXPECT_EQ(calls, expected);
}

TEST_F(EffectTest, TypeNamesEndingInDigitsAreUserTypes) {
  // Not to be taken for a malformed float4-style name.
  Load("struct Light2 { float a; float3 b; };\ntypedef float4 Colour0;\nLight2 Lamp;\n"
       "Colour0 Tint = {1, 2, 3, 4};\n");
  EXPECT_EQ(Desc(mEffect->GetParameterByName(nullptr, "Lamp")).structMembers, 2u);
  EXPECT_EQ(Desc(mEffect->GetParameterByName(nullptr, "Tint")).columns, 4u);
}

TEST_F(EffectTest, BrokenSourcesReportTheirLine) {
  // Line 3: a missing ';' before 'float'; line 2: a name declared twice.
  std::string messages = Fails("float A = 1;\nfloat B = 2\nfloat C = 3;\n");
  EXPECT_TRUE(ReportsLine(messages, "test.fx", 3)) << messages;
  messages = Fails("float A;\nint B, A;\n");
  EXPECT_TRUE(ReportsLine(messages, "test.fx", 2)) << messages;
  EXPECT_NE(messages.find("'A'"), std::string::npos) << messages;

  // Line 6: an undeclared name in a function body, after a comment and a
  // macro that span lines.
  messages = Fails("/* one\n two\n */\n#define ONE \\\n  1.0\n"
                   "float4 PS() : COLOR0 { return missingValue * ONE; }\n" + kVS +
                   "technique T { pass P { VertexShader = compile vs_2_0 VS();"
                   " PixelShader = compile ps_2_0 PS(); } }");
  EXPECT_TRUE(ReportsLine(messages, "test.fx", 6)) << messages;
  EXPECT_NE(messages.find("missingValue"), std::string::npos) << messages;
  // Line 8 of the file, after an included header of several lines.
  messages = Fails("include_error.fx", true);
  EXPECT_TRUE(ReportsLine(messages, kCorpus + "include_error.fx", 8)) << messages;
  EXPECT_NE(messages.find("undeclaredTint"), std::string::npos) << messages;
  EXPECT_EQ(messages.find("lighting.fxh("), std::string::npos) << messages;
  messages = Fails("syntax_error.fx", true);
  EXPECT_TRUE(ReportsLine(messages, kCorpus + "syntax_error.fx", 4)) << messages;

  messages = Fails(kVS + "technique T { pass P { VertexShader = compile vs_2_0 Nowhere(); } }");
  EXPECT_NE(messages.find("Nowhere"), std::string::npos) << messages;
  // A pixel shader that does not exist, and more arguments than uniform
  // parameters: errors at the compile expression.
  for (const char* shader : {"compile ps_2_0 Missing()", "compile ps_2_0 PS(1.5)"}) {
    messages = Fails(kShaders + "technique T {\n pass P { PixelShader = " + shader + "; } }");
    EXPECT_TRUE(ReportsLine(messages, "test.fx", 4)) << messages;
  }
  // Nesting that would exhaust the shader compiler's stack, or the driver's
  // time: an error at its line before either sees it.
  auto repeat = [](const std::string& text, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += text;
    return r;
  };
  for (const std::string& body :
       {"return " + repeat("(", 5000) + "c" + repeat(")", 5000) + ";",
        repeat("if (c.x > 0) ", 1000) + "c = 1; return c;",
        "return c" + repeat(" * c", 20000) + ";",
        repeat("for (int i = 0; i < 2; i++) ", 9) + "c += 1; return c;"}) {
    messages = Fails(kShaders + "float4 Deep(float4 c : COLOR0) : COLOR0 {\n " + body +
                     " }\ntechnique T { pass P { PixelShader = compile ps_3_0 Deep(); } }");
    EXPECT_TRUE(ReportsLine(messages, "test.fx", 4)) << messages.substr(0, 200);
    EXPECT_NE(messages.find("nested"), std::string::npos) << messages.substr(0, 200);
  }

  messages = Fails(kVS + "technique T {\n pass P { VertexShader = compile vs_4_0 VS(); } }");
  EXPECT_NE(messages.find("vs_4_0"), std::string::npos) << messages;
  EXPECT_TRUE(ReportsLine(messages, "test.fx", 3)) << messages;

  // An unsupported state is a warning; the effect still builds.
  Effect* effect = Make(kVS + "technique T {\n pass P {\n  VertexShader = compile vs_2_0 VS();\n"
                              "  StencilEnable = true;\n } }",
                        &messages);
  ASSERT_NE(effect, nullptr) << messages;
  EXPECT_NE(messages.find("warning X"), std::string::npos) << messages;
  EXPECT_NE(messages.find("StencilEnable"), std::string::npos) << messages;
  EXPECT_TRUE(ReportsLine(messages, "test.fx", 5)) << messages;
  EXPECT_EQ(messages.find("error"), std::string::npos) << messages;
  effect->Release();

  // Things that are not effects at all.
  messages = Fails("not_an_effect.fx", true);
  EXPECT_TRUE(ReportsLine(messages, kCorpus + "not_an_effect.fx", 1)) << messages;
  Fails(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0\x1f\xf3\xff" "a", 33));
  Fails("technique T { pass P { VertexShader = compile vs_2_0 VS(); }");
  messages = Fails("does_not_exist.fx", true);
  EXPECT_NE(messages.find("does_not_exist.fx"), std::string::npos) << messages;
}

TEST_F(EffectTest, PreprocessorMacrosConditionsAndIncludes) {
  Effect* e = Load(R"(
#define LEVEL 2
#define CULL CW
#define TWICE(x) ((x) * 2.0)
#define BLEND(on, src) AlphaBlendEnable = on; SrcBlend = src
#if LEVEL == 1
float Chosen = 1;
#elif LEVEL == 2
float Chosen = TWICE(1.25);
#else
float Chosen = 3;
#endif
#ifdef FROM_CALLER
float Given = FROM_CALLER;
#endif
float4 VS(float4 p : POSITION) : POSITION { return p * TWICE(LEVEL); }
technique T { pass P { VertexShader = compile vs_2_0 VS(); CullMode = CULL; BLEND(true, One); } }
)");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Float(e, "Chosen"), 2.5f);
  EXPECT_EQ(e->GetParameterByName(nullptr, "Given"), nullptr);
  const std::string states = e->PassStates(e->GetPass("T", 0));
  EXPECT_NE(states.find("CullMode = CW\n"), std::string::npos) << states;
  EXPECT_NE(states.find("AlphaBlendEnable = 1\nSrcBlend = One\n"), std::string::npos) << states;

  // Defines handed to the compiler.
  const Macro defines[] = {{"FROM_CALLER", "7"}, {"LEVEL", "3"}, {nullptr, nullptr}};
  Effect* effect = nullptr;
  ASSERT_EQ(CreateEffect(mDevice.Get(), "#ifndef LEVEL\n#error no level\n#endif\n"
                         "float Given = FROM_CALLER;\nfloat Level = LEVEL;\n",
                         "defines.fx", defines, 0, mDevice.Pool(), &effect, nullptr),
            kOk);
  EXPECT_EQ(Float(effect, "Given"), 7.0f);
  EXPECT_EQ(Float(effect, "Level"), 3.0f);
  effect->Release();

  // Nested includes resolve against the including file's folder.
  e = Load("includes.fx", true);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Float(e, "Brightness"), 2.0f);
  EXPECT_EQ(Vec(e, "LightDirection").z, -1.0f);
  EXPECT_NE(e->PassStates(e->GetPass("T", 0)).find("CullMode = None"), std::string::npos);

  // A file that includes itself stops with an error.
  std::string messages = Fails("recursive.fx", true);
  EXPECT_NE(messages.find("#include"), std::string::npos) << messages;
  EXPECT_TRUE(ReportsLine(messages, kCorpus + "recursive.fx", 2)) << messages;
  messages = Fails("#include \"no_such_header.fxh\"\n");
  EXPECT_NE(messages.find("no_such_header.fxh"), std::string::npos) << messages;
  messages = Fails("#define F(a, b) a + b\nfloat A = F(1);\n");
  EXPECT_TRUE(ReportsLine(messages, "test.fx", 2)) << messages;
}

// Runs fxcheck on a corpus file; its exit status and what it printed.
int Fxcheck(const std::string& file, std::string* output) {
  const std::string command = std::string(VELOX_BIN_DIR) + "/fxcheck '" + kCorpus + file + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  output->clear();
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output->append(chunk, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// With VELOX_GL=es the passes are GLSL ES 3.00, as OpenGL ES 3.0 and
// WebGL 2 take it: no binding layouts and no varying locations, desktop
// precision, depth mapped from 0..1 to -1..1, samplers under names the
// backend binds, packed vertex colours swapped back; sampler states ES
// lacks are warned about.
TEST_F(EffectTest, GlslEsForOpenGlEsContexts) {
  const std::string source = R"(
texture Tex;
sampler S = sampler_state { Texture = <Tex>; AddressU = Border; MipMapLodBias = 1; };
float4 Tint;
struct V { float4 p : POSITION; float2 t : TEXCOORD0; float4 c : COLOR0; };
V VS(float4 p : POSITION, float2 t : TEXCOORD0, float4 c : COLOR0) { V o; o.p = p; o.t = t; o.c = c; return o; }
float4 PS(float2 t : TEXCOORD0, float4 c : COLOR0) : COLOR0 { return tex2D(S, t) * c * Tint; }
technique Shaders { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
technique Fixed { pass P { } }
)";
  auto glsl = [&](const char* technique) {
    return mEffect->GeneratedGlsl(mEffect->GetPass(mEffect->GetTechniqueByName(technique), 0));
  };
  auto count = [](const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t i = text.find(what); i != std::string::npos; i = text.find(what, i + 1)) ++n;
    return n;
  };
  ASSERT_NE(Load(source), nullptr);
  EXPECT_EQ(count(glsl("Shaders"), "#version 450\n"), 2);
  EXPECT_NE(glsl("Shaders").find("binding = 0"), std::string::npos);

  setenv("VELOX_GL", "es", 1);
  std::string messages;
  mEffect->Release();
  mEffect = Make(source, &messages);
  ASSERT_NE(mEffect, nullptr) << messages;
  EXPECT_TRUE(ReportsLine(messages, "test.fx", 3)) << messages;
  EXPECT_NE(messages.find("'AddressU = Border' is not available on OpenGL ES 3.0"), std::string::npos);
  EXPECT_NE(messages.find("'MipMapLodBias' is not available on OpenGL ES 3.0"), std::string::npos);
  for (const char* technique : {"Shaders", "Fixed"}) {
    const std::string text = glsl(technique);
    SCOPED_TRACE(technique + (":\n" + text));
    EXPECT_EQ(count(text, "#version 300 es\n"), 2);
    EXPECT_EQ(count(text, "binding"), 0);
    EXPECT_EQ(count(text, "layout(location = 16)"), 0);  // COLOR0 between the stages
    EXPECT_EQ(count(text, "gl_Position.y = -gl_Position.y;\n  gl_Position.z = 2.0 * gl_Position.z - gl_Position.w;"), 1);
    EXPECT_EQ(count(text, "precision highp float;"), 1);  // the pixel stage's
    EXPECT_EQ(count(text, "_vx_bgra & 1"), 1);
  }
  EXPECT_NE(glsl("Shaders").find("uniform highp sampler2D _vx_s0;"), std::string::npos);
}

TEST(FxcheckTool, ListsAnEffectAndReportsErrors) {
  std::string out;
  EXPECT_EQ(Fxcheck("basic.fx", &out), 0) << out;
  for (const char* expected :
       {"technique Lit\n", "<bool quad = false>", "<string material = \"none\">",
        "pass P0: vertex vs_2_0, pixel ps_2_0", "CullMode = None",
        "parameter float4x4 WorldViewProjection : WorldViewProjection",
        "parameter float4 Tint = {1, 0.5, 0.25, 1}", "<string UIName = \"Tint\">",
        "parameter int Steps = 3", "parameter bool Enabled = true", "warning X4000"}) {
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
  }
  // Failures are told by fxcheck's message: a sanitizer's exit status is 1 too.
  EXPECT_EQ(Fxcheck("syntax_error.fx", &out), 1) << out;
  EXPECT_NE(out.find("syntax_error.fx(4,"), std::string::npos) << out;
  EXPECT_NE(out.find("error X3000"), std::string::npos) << out;
  EXPECT_EQ(velox_test::SanitizerReport(out), "");
  EXPECT_EQ(Fxcheck("does_not_exist.fx", &out), 1) << out;
  EXPECT_NE(out.find("does_not_exist.fx"), std::string::npos) << out;
  EXPECT_EQ(velox_test::SanitizerReport(out), "");
}

// A player without the compiler draws with stages baked on the host: the
// same GLSL for the same effect, a clear failure for any other text or a
// damaged record, and never a read outside the effect.
TEST_F(EffectTest, BakedStagesStandInForTheCompiler) {
  const std::string source = kVS +
      "float4 Tint = {1, 0, 0, 1};\nsampler S;\n"
      "float4 PS(float2 t : TEXCOORD0) : COLOR0 { return tex2D(S, t) * Tint; }\n"
      "technique T { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }";
  const auto glsl = [](Effect* e) { return e->GeneratedGlsl(e->GetPass(e->GetTechnique(0), 0)); };
  BeginBakingStages();
  const std::string compiled = glsl(Load(source));
  const std::string record = EndBakingStages();
  ASSERT_FALSE(compiled.empty());
  std::string error, messages;
  ASSERT_TRUE(UseBakedStages(record, &error)) << error;
  EXPECT_EQ(glsl(Load(source)), compiled);
  std::string changed = source;
  changed.replace(changed.find("* Tint"), 6, "* Tint * 0.5");
  EXPECT_EQ(Make(changed, &messages), nullptr);
  EXPECT_NE(messages.find("no baked shader stages for this pass"), std::string::npos) << messages;
  EXPECT_NE(messages.find("not among them"), std::string::npos) << messages;

  for (std::size_t n = 1; n < record.size(); n += 1 + record.size() / 300) {
    EXPECT_FALSE(UseBakedStages(record.substr(0, n), &error)) << n;
  }
  EXPECT_EQ(Make(source, &messages), nullptr);
  EXPECT_NE(messages.find("damaged"), std::string::npos) << messages;
  for (std::size_t n = 0; n < record.size(); n += 7) {
    std::string flipped = record;
    flipped[n] = static_cast<char>(flipped[n] ^ 0x41);
    if (UseBakedStages(flipped, &error)) {
      Effect* e = Make(source, &messages);
      if (e != nullptr) e->Release();
    }
  }
  ASSERT_TRUE(UseBakedStages("", &error));
  EXPECT_NE(glsl(Load(changed)), compiled);
}

}  // namespace
