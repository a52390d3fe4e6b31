#include "platform/effect.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/fx/backend.h"
#include "platform/fx/bakedStages.h"
#include "platform/fx/compiler.h"
#include "platform/null/nullGraphics.h"
#include "platform/textureFiles.h"
#include "platform/gl/glApi.h"
#include "platform/gl/glEffect.h"
#include "platform/utf8.h"

namespace platform {
namespace fx {
namespace {

std::atomic<std::uint64_t> gVersion{1};

// A parameter's value; shared parameters keep one in the pool.
struct Storage {
  std::vector<std::uint8_t> bytes;
  std::uint64_t version = 1;
  BaseTexture* texture = nullptr;
  std::string stringValue;
  std::string shape;  // of a shared parameter: later declarations must match it
  Storage() = default;
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;
  ~Storage() {
    if (texture != nullptr) texture->Release();
  }
  void Touch() { version = ++gVersion; }
};

class BufferImpl : public Buffer {
 public:
  explicit BufferImpl(std::string text) : mText(std::move(text)) {}
  const void* GetBufferPointer() override { return mText.c_str(); }
  std::uint32_t GetBufferSize() override { return static_cast<std::uint32_t>(mText.size() + 1); }

 private:
  std::string mText;
};

// What two declarations of a shared parameter must agree on: the same bytes
// are not enough (float4 and int4, texture and sampler).
std::string Shape(const Type& t) {
  std::string s = std::to_string(t.Class()) + "," + std::to_string(t.PublicType()) + "," +
                  std::to_string(t.rows) + "," + std::to_string(t.columns) + "," +
                  std::to_string(t.elements);
  for (const Variable& m : t.members) s += "{" + Shape(m.type) + "}";
  return s;
}

class PoolImpl : public EffectPool {
 public:
  std::map<std::string, std::shared_ptr<Storage>> shared;
};

class NullBackend : public Backend {
 public:
  std::unique_ptr<PassProgram> Link(const CompiledPass&, std::string*) override {
    return std::make_unique<PassProgram>();
  }
  // Validates what the gl backend would draw: GLSL ES with VELOX_GL=es.
  Glsl Language() const override { return gl::api::WantEs() ? Glsl::kEs300 : Glsl::k450; }
  void Apply(PassProgram&, const RenderStates&) override {}
  void Upload(PassProgram&, int, const std::uint8_t*, std::uint32_t) override {}
  void BindSampler(int, BaseTexture*, const SamplerStates&) override {}
  void Finish() override {}
  void Note(const std::string& what) override { null::RecordCall(what); }
};

// A parameter or an annotation: what a parameter handle points to.
struct Node {
  std::string name, semantic;
  const Type* type = nullptr;  // owned by the compiled source
  // Arrays' elements point here; on the heap, as mNodes moves while it grows.
  std::shared_ptr<Type> elementType;
  std::shared_ptr<Storage> storage;
  std::uint32_t offset = 0;  // into storage->bytes
  std::uint32_t flags = 0;
  std::vector<int> annotations;
  std::vector<int> children;  // struct members or array elements
  int topLevel = -1;          // index of the top-level parameter it lies in
  bool isElement = false;
  std::vector<Base> bases;  // of a struct's components, filled on first use
};

struct TechniqueNode {
  std::string name;
  std::vector<int> annotations;
  int firstPass = 0;
  int passCount = 0;
  bool valid = true;
};

struct PassNode {
  std::string name;
  std::vector<int> annotations;
  int technique = 0;
  const CompiledPass* compiled = nullptr;
  std::uint32_t vertexTokens[2] = {0, 0x0000FFFF};
  std::uint32_t pixelTokens[2] = {0, 0x0000FFFF};
  std::unique_ptr<PassProgram> program;
  std::vector<std::uint8_t> blocks[2];
  std::vector<std::uint64_t> seen[2];
  bool uploaded[2] = {false, false};
};

constexpr std::size_t kMaxNodes = 200000;

class EffectImpl : public Effect {
 public:
  EffectImpl(Device* device, PoolImpl* pool, std::unique_ptr<Backend> backend, std::string name)
      : mDevice(device), mPool(pool), mBackend(std::move(backend)), mName(std::move(name)) {
    // The device is not held: the gl device's context lives with its window,
    // which the engine closes before it releases its effects.
    if (mPool != nullptr) mPool->AddRef();
  }

  ~EffectImpl() override {
    if (mInBegin) mBackend->Finish();
    mPasses.clear();  // programs before the backend
    if (mPool != nullptr) mPool->Release();
  }

  // Builds the handles and values; false with a message on a conflict.
  bool Build(CompiledEffect compiled, Messages* messages) {
    mFx = std::move(compiled);
    const EffectSource& src = mFx.source;
    const std::size_t count = src.parameters.size();
    // Top-level parameters take the first indices.
    mNodes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) mNodes.emplace_back();
    for (std::size_t i = 0; i < count; ++i) {
      const Variable& v = src.parameters[i];
      std::shared_ptr<Storage> storage;
      if (v.shared && mPool != nullptr) {
        auto found = mPool->shared.find(v.name);
        if (found != mPool->shared.end()) {
          if (found->second->shape != Shape(v.type)) {
            messages->Error(v.at, "shared parameter '" + v.name +
                                      "' does not match its declaration in another effect");
            return false;
          }
          storage = found->second;
        }
      }
      if (!storage) {
        storage = std::make_shared<Storage>();
        storage->bytes = v.value;
        storage->stringValue = v.stringValue;
        if (v.shared && mPool != nullptr) {
          storage->shape = Shape(v.type);
          mPool->shared[v.name] = storage;
        }
      }
      Node& n = mNodes[i];
      n.name = v.name;
      n.semantic = v.semantic;
      n.type = &v.type;
      n.storage = storage;
      n.flags = v.shared ? kParameterShared : 0;
      n.topLevel = static_cast<int>(i);
    }
    for (std::size_t i = 0; i < count; ++i) {
      const Variable& v = src.parameters[i];
      std::vector<int> annotations = AddAnnotations(v.annotations);
      mNodes[i].annotations = std::move(annotations);
      AddChildren(static_cast<int>(i));
    }
    for (std::size_t t = 0; t < src.techniques.size(); ++t) {
      const Technique& technique = src.techniques[t];
      TechniqueNode tn;
      tn.name = technique.name;
      tn.annotations = AddAnnotations(technique.annotations);
      tn.firstPass = static_cast<int>(mPassCount);
      tn.passCount = static_cast<int>(technique.passes.size());
      mTechniques.push_back(std::move(tn));
      mPassCount += technique.passes.size();
    }
    mPasses.reserve(mPassCount);
    for (std::size_t t = 0; t < src.techniques.size(); ++t) {
      for (std::size_t p = 0; p < src.techniques[t].passes.size(); ++p) {
        const Pass& pass = src.techniques[t].passes[p];
        PassNode pn;
        pn.name = pass.name;
        pn.annotations = AddAnnotations(pass.annotations);
        pn.technique = static_cast<int>(t);
        pn.compiled = &mFx.passes[t][p];
        pn.vertexTokens[0] = pn.compiled->vertex.version;
        pn.pixelTokens[0] = pn.compiled->pixel.version;
        for (int s = 0; s < 2; ++s) {
          const StageProgram& stage = s == 0 ? pn.compiled->vertex : pn.compiled->pixel;
          pn.blocks[s] = stage.constants;
          pn.seen[s].assign(stage.uniforms.size(), 0);
        }
        std::string log;
        pn.program = mBackend->Link(*pn.compiled, &log);
        if (!pn.program) {
          Location at = pass.at;
          messages->Warning(at, "pass '" + pass.name + "' cannot be linked: " + log);
          mTechniques[t].valid = false;
        }
        mPasses.push_back(std::move(pn));
      }
    }
    if (!mTechniques.empty()) mCurrentTechnique = 0;
    return true;
  }

  // --- handles ---------------------------------------------------------------

  Node* NodeOf(Handle h) {
    if (h == nullptr || mNodes.empty()) return nullptr;
    const auto* p = reinterpret_cast<const Node*>(h);
    if (std::less_equal<const Node*>()(mNodes.data(), p) &&
        std::less<const Node*>()(p, mNodes.data() + mNodes.size())) {
      const auto offset = reinterpret_cast<const char*>(p) - reinterpret_cast<const char*>(mNodes.data());
      if (offset % static_cast<long>(sizeof(Node)) == 0) return &mNodes[static_cast<std::size_t>(p - mNodes.data())];
      return nullptr;
    }
    return nullptr;
  }
  TechniqueNode* TechniqueOf(Handle h) {
    if (h == nullptr || mTechniques.empty()) return nullptr;
    const auto* p = reinterpret_cast<const TechniqueNode*>(h);
    if (std::less_equal<const TechniqueNode*>()(mTechniques.data(), p) &&
        std::less<const TechniqueNode*>()(p, mTechniques.data() + mTechniques.size())) {
      return &mTechniques[static_cast<std::size_t>(p - mTechniques.data())];
    }
    return nullptr;
  }
  PassNode* PassOf(Handle h) {
    if (h == nullptr || mPasses.empty()) return nullptr;
    const auto* p = reinterpret_cast<const PassNode*>(h);
    if (std::less_equal<const PassNode*>()(mPasses.data(), p) &&
        std::less<const PassNode*>()(p, mPasses.data() + mPasses.size())) {
      return &mPasses[static_cast<std::size_t>(p - mPasses.data())];
    }
    return nullptr;
  }
  bool IsOurs(Handle h) { return NodeOf(h) || TechniqueOf(h) || PassOf(h); }

  // A parameter from a handle or a top-level parameter's name.
  Node* Parameter(Handle h) {
    if (Node* n = NodeOf(h)) return n;
    if (h == nullptr || IsOurs(h)) return nullptr;
    const std::size_t top = mFx.source.parameters.size();
    for (std::size_t i = 0; i < top; ++i) {
      if (mNodes[i].name == h) return &mNodes[i];
    }
    return nullptr;
  }
  TechniqueNode* FindTechnique(Handle h) {
    if (TechniqueNode* t = TechniqueOf(h)) return t;
    if (h == nullptr || IsOurs(h)) return nullptr;
    for (TechniqueNode& t : mTechniques) {
      if (t.name == h) return &t;
    }
    return nullptr;
  }
  Handle HandleOf(const Node& n) const { return reinterpret_cast<Handle>(&n); }
  Handle HandleOf(const TechniqueNode& t) const { return reinterpret_cast<Handle>(&t); }
  Handle HandleOf(const PassNode& p) const { return reinterpret_cast<Handle>(&p); }

  // --- description -----------------------------------------------------------

  Result GetDesc(EffectDesc* desc) override {
    if (desc == nullptr) return kInvalidCall;
    desc->creator = "velox effect compiler";
    desc->parameters = static_cast<std::uint32_t>(mFx.source.parameters.size());
    desc->techniques = static_cast<std::uint32_t>(mTechniques.size());
    desc->functions = 0;
    return kOk;
  }

  Handle GetParameter(Handle parent, std::uint32_t index) override {
    if (parent == nullptr) {
      return index < mFx.source.parameters.size() ? HandleOf(mNodes[index]) : nullptr;
    }
    Node* p = Parameter(parent);
    if (p == nullptr || index >= p->children.size()) return nullptr;
    return HandleOf(mNodes[static_cast<std::size_t>(p->children[index])]);
  }

  Handle GetParameterByName(Handle parent, const char* name) override {
    if (name == nullptr) return nullptr;
    if (parent == nullptr) {
      for (std::size_t i = 0; i < mFx.source.parameters.size(); ++i) {
        if (mNodes[i].name == name) return HandleOf(mNodes[i]);
      }
      return nullptr;
    }
    Node* p = Parameter(parent);
    if (p == nullptr) return nullptr;
    for (int c : p->children) {
      if (mNodes[static_cast<std::size_t>(c)].name == name) return HandleOf(mNodes[static_cast<std::size_t>(c)]);
    }
    return nullptr;
  }

  Handle GetParameterBySemantic(Handle parent, const char* semantic) override {
    if (semantic == nullptr) return nullptr;
    if (parent == nullptr) {
      for (std::size_t i = 0; i < mFx.source.parameters.size(); ++i) {
        if (SameText(mNodes[i].semantic, semantic)) return HandleOf(mNodes[i]);
      }
      return nullptr;
    }
    Node* p = Parameter(parent);
    if (p == nullptr) return nullptr;
    for (int c : p->children) {
      if (SameText(mNodes[static_cast<std::size_t>(c)].semantic, semantic)) {
        return HandleOf(mNodes[static_cast<std::size_t>(c)]);
      }
    }
    return nullptr;
  }

  Handle GetParameterElement(Handle parameter, std::uint32_t index) override {
    Node* p = Parameter(parameter);
    if (p == nullptr || p->type->elements == 0 || index >= p->children.size()) return nullptr;
    return HandleOf(mNodes[static_cast<std::size_t>(p->children[index])]);
  }

  Result GetParameterDesc(Handle parameter, ParameterDesc* desc) override {
    Node* n = Parameter(parameter);
    if (n == nullptr || desc == nullptr) return kInvalidCall;
    const Type& t = *n->type;
    desc->name = n->name.c_str();
    desc->semantic = n->semantic.empty() ? nullptr : n->semantic.c_str();
    desc->parameterClass = t.Class();
    desc->type = t.PublicType();
    const bool numeric = t.IsNumeric();
    desc->rows = numeric ? t.rows : 0;
    desc->columns = numeric ? t.columns : 0;
    desc->elements = t.elements;
    desc->annotations = static_cast<std::uint32_t>(n->annotations.size());
    desc->structMembers = t.base == Base::Struct ? static_cast<std::uint32_t>(t.members.size()) : 0;
    desc->flags = n->flags;
    desc->bytes = t.IsObject() ? 4 * std::max<std::uint32_t>(1, t.elements) : t.Bytes();
    return kOk;
  }

  std::vector<int>* AnnotationsOf(Handle object) {
    if (Node* n = NodeOf(object)) return &n->annotations;
    if (TechniqueNode* t = TechniqueOf(object)) return &t->annotations;
    if (PassNode* p = PassOf(object)) return &p->annotations;
    if (object == nullptr) return nullptr;
    if (Node* n = Parameter(object)) return &n->annotations;
    if (TechniqueNode* t = FindTechnique(object)) return &t->annotations;
    return nullptr;
  }

  Handle GetAnnotation(Handle object, std::uint32_t index) override {
    std::vector<int>* list = AnnotationsOf(object);
    if (list == nullptr || index >= list->size()) return nullptr;
    return HandleOf(mNodes[static_cast<std::size_t>((*list)[index])]);
  }

  Handle GetAnnotationByName(Handle object, const char* name) override {
    std::vector<int>* list = AnnotationsOf(object);
    if (list == nullptr || name == nullptr) return nullptr;
    for (int a : *list) {
      if (mNodes[static_cast<std::size_t>(a)].name == name) return HandleOf(mNodes[static_cast<std::size_t>(a)]);
    }
    return nullptr;
  }

  Handle GetTechnique(std::uint32_t index) override {
    return index < mTechniques.size() ? HandleOf(mTechniques[index]) : nullptr;
  }

  Handle GetTechniqueByName(const char* name) override {
    if (name == nullptr) return nullptr;
    for (const TechniqueNode& t : mTechniques) {
      if (t.name == name) return HandleOf(t);
    }
    return nullptr;
  }

  Result GetTechniqueDesc(Handle technique, TechniqueDesc* desc) override {
    TechniqueNode* t = FindTechnique(technique);
    if (t == nullptr || desc == nullptr) return kInvalidCall;
    desc->name = t->name.empty() ? nullptr : t->name.c_str();
    desc->passes = static_cast<std::uint32_t>(t->passCount);
    desc->annotations = static_cast<std::uint32_t>(t->annotations.size());
    return kOk;
  }

  Handle GetPass(Handle technique, std::uint32_t index) override {
    TechniqueNode* t = FindTechnique(technique);
    if (t == nullptr || index >= static_cast<std::uint32_t>(t->passCount)) return nullptr;
    return HandleOf(mPasses[static_cast<std::size_t>(t->firstPass) + index]);
  }

  Handle GetPassByName(Handle technique, const char* name) override {
    TechniqueNode* t = FindTechnique(technique);
    if (t == nullptr || name == nullptr) return nullptr;
    for (int i = 0; i < t->passCount; ++i) {
      const PassNode& p = mPasses[static_cast<std::size_t>(t->firstPass + i)];
      if (p.name == name) return HandleOf(p);
    }
    return nullptr;
  }

  Result GetPassDesc(Handle pass, PassDesc* desc) override {
    PassNode* p = PassOf(pass);
    if (p == nullptr || desc == nullptr) return kInvalidCall;
    desc->name = p->name.empty() ? nullptr : p->name.c_str();
    desc->annotations = static_cast<std::uint32_t>(p->annotations.size());
    desc->vertexShaderFunction = p->compiled->vertex.present ? p->vertexTokens : nullptr;
    desc->pixelShaderFunction = p->compiled->pixel.present ? p->pixelTokens : nullptr;
    return kOk;
  }

  // --- values ------------------------------------------------------------------

  // The numeric components of a parameter and their kinds.
  struct View {
    std::uint8_t* data = nullptr;
    std::uint32_t bytes = 0;
  };

  // The kind of component i: one kind for everything but structs, whose
  // layout is worked out once per node.
  static Base BaseAt(Node& n, std::size_t i) {
    if (n.type->base != Base::Struct) return n.type->base;
    if (n.bases.empty()) n.type->Components(&n.bases);
    return i < n.bases.size() ? n.bases[i] : Base::Float;
  }

  bool Numeric(Node* n, View* v) {
    if (n == nullptr || !(n->type->IsNumeric() || n->type->base == Base::Struct)) return false;
    v->data = n->storage->bytes.data() + n->offset;
    v->bytes = n->type->Bytes();
    if (n->offset + v->bytes > n->storage->bytes.size()) return false;
    return true;
  }

  static float ReadFloat(const std::uint8_t* p, Base base) {
    if (base == Base::Float) {
      float f;
      std::memcpy(&f, p, 4);
      return f;
    }
    std::int32_t i;
    std::memcpy(&i, p, 4);
    return base == Base::Bool ? (i != 0 ? 1.0f : 0.0f) : static_cast<float>(i);
  }

  static void WriteFloat(std::uint8_t* p, Base base, float f) {
    if (base == Base::Float) {
      std::memcpy(p, &f, 4);
      return;
    }
    std::int32_t i = 0;
    if (base == Base::Bool) i = f != 0.0f ? 1 : 0;
    else if (std::isfinite(f)) i = static_cast<std::int32_t>(std::clamp(f, -2.1e9f, 2.1e9f));
    std::memcpy(p, &i, 4);
  }

  // Writes `count` floats as the parameter's components, converted.
  Result WriteFloats(Handle h, const float* values, std::uint32_t count) {
    Node* n = Parameter(h);
    View v;
    if (!Numeric(n, &v)) return kInvalidCall;
    const std::size_t k = std::min<std::size_t>(count, v.bytes / 4);
    for (std::size_t i = 0; i < k; ++i) WriteFloat(v.data + 4 * i, BaseAt(*n, i), values[i]);
    n->storage->Touch();
    return kOk;
  }

  Result ReadFloats(Handle h, float* values, std::uint32_t count) {
    Node* n = Parameter(h);
    View v;
    if (!Numeric(n, &v)) return kInvalidCall;
    for (std::uint32_t i = 0; i < count; ++i) {
      values[i] = i < v.bytes / 4 ? ReadFloat(v.data + 4 * i, BaseAt(*n, i)) : 0.0f;
    }
    return kOk;
  }

  Result SetValue(Handle parameter, const void* data, std::uint32_t bytes) override {
    Node* n = Parameter(parameter);
    if (n == nullptr || data == nullptr) return kInvalidCall;
    if (n->type->IsObject()) {
      if (n->type->IsTexture() || n->type->IsSampler()) {
        if (bytes < sizeof(BaseTexture*)) return kInvalidCall;
        BaseTexture* t = nullptr;
        std::memcpy(&t, data, sizeof t);
        return SetTexture(parameter, t);
      }
      return kInvalidCall;
    }
    View v;
    if (!Numeric(n, &v)) return kInvalidCall;
    std::memcpy(v.data, data, std::min(bytes, v.bytes));
    n->storage->Touch();
    return kOk;
  }

  Result GetValue(Handle parameter, void* data, std::uint32_t bytes) override {
    Node* n = Parameter(parameter);
    if (n == nullptr || data == nullptr) return kInvalidCall;
    if (n->type->IsTexture() || n->type->IsSampler()) {
      if (bytes < sizeof(BaseTexture*)) return kInvalidCall;
      BaseTexture* t = n->storage->texture;
      if (t != nullptr) t->AddRef();
      std::memcpy(data, &t, sizeof t);
      return kOk;
    }
    View v;
    if (!Numeric(n, &v)) return kInvalidCall;
    std::memcpy(data, v.data, std::min(bytes, v.bytes));
    return kOk;
  }

  Result SetRawValue(Handle parameter, const void* data, std::uint32_t offset,
                     std::uint32_t bytes) override {
    Node* n = Parameter(parameter);
    View v;
    if (data == nullptr || !Numeric(n, &v)) return kInvalidCall;
    if (offset > v.bytes || bytes > v.bytes - offset) return kInvalidCall;
    std::memcpy(v.data + offset, data, bytes);
    n->storage->Touch();
    return kOk;
  }

  Result SetBool(Handle parameter, bool value) override {
    const float f = value ? 1.0f : 0.0f;
    return WriteFloats(parameter, &f, 1);
  }
  Result GetBool(Handle parameter, bool* value) override {
    float f = 0;
    if (value == nullptr) return kInvalidCall;
    const Result r = ReadFloats(parameter, &f, 1);
    *value = f != 0.0f;
    return r;
  }
  Result SetInt(Handle parameter, std::int32_t value) override {
    Node* n = Parameter(parameter);
    View v;
    if (!Numeric(n, &v) || v.bytes < 4) return kInvalidCall;
    const Base first = BaseAt(*n, 0);
    if (first == Base::Float) {
      const float f = static_cast<float>(value);
      std::memcpy(v.data, &f, 4);
    } else {
      const std::int32_t i = first == Base::Bool ? (value != 0) : value;
      std::memcpy(v.data, &i, 4);
    }
    n->storage->Touch();
    return kOk;
  }
  Result GetInt(Handle parameter, std::int32_t* value) override {
    Node* n = Parameter(parameter);
    View v;
    if (value == nullptr || !Numeric(n, &v) || v.bytes < 4) return kInvalidCall;
    if (BaseAt(*n, 0) == Base::Float) {
      float f;
      std::memcpy(&f, v.data, 4);
      *value = std::isfinite(f) ? static_cast<std::int32_t>(std::clamp(f, -2.1e9f, 2.1e9f)) : 0;
    } else {
      std::memcpy(value, v.data, 4);
    }
    return kOk;
  }
  Result SetFloat(Handle parameter, float value) override { return WriteFloats(parameter, &value, 1); }
  Result GetFloat(Handle parameter, float* value) override {
    if (value == nullptr) return kInvalidCall;
    return ReadFloats(parameter, value, 1);
  }
  Result SetVector(Handle parameter, const Vector4* value) override {
    if (value == nullptr) return kInvalidCall;
    const float f[4] = {value->x, value->y, value->z, value->w};
    return WriteFloats(parameter, f, 4);
  }
  Result GetVector(Handle parameter, Vector4* value) override {
    if (value == nullptr) return kInvalidCall;
    float f[4];
    const Result r = ReadFloats(parameter, f, 4);
    *value = Vector4{f[0], f[1], f[2], f[3]};
    return r;
  }
  Result SetMatrix(Handle parameter, const Matrix* value) override {
    Node* n = Parameter(parameter);
    if (value == nullptr || n == nullptr || !n->type->matrix || n->type->elements != 0) {
      return kInvalidCall;
    }
    float f[16];
    std::uint32_t k = 0;
    for (std::uint32_t r = 0; r < n->type->rows; ++r) {
      for (std::uint32_t c = 0; c < n->type->columns; ++c) f[k++] = value->m[r][c];
    }
    return WriteFloats(parameter, f, k);
  }
  Result GetMatrix(Handle parameter, Matrix* value) override {
    Node* n = Parameter(parameter);
    if (value == nullptr || n == nullptr || !n->type->matrix || n->type->elements != 0) {
      return kInvalidCall;
    }
    float f[16];
    const Result r = ReadFloats(parameter, f, n->type->rows * n->type->columns);
    MatrixIdentity(value);
    std::uint32_t k = 0;
    for (std::uint32_t row = 0; row < n->type->rows; ++row) {
      for (std::uint32_t c = 0; c < n->type->columns; ++c) value->m[row][c] = f[k++];
    }
    return r;
  }
  Result SetFloatArray(Handle parameter, const float* values, std::uint32_t count) override {
    if (values == nullptr) return kInvalidCall;
    return WriteFloats(parameter, values, count);
  }
  Result GetString(Handle parameter, const char** value) override {
    Node* n = Parameter(parameter);
    if (n == nullptr || value == nullptr || n->type->base != Base::String) return kInvalidCall;
    *value = n->storage->stringValue.c_str();
    return kOk;
  }
  Result SetTexture(Handle parameter, BaseTexture* texture) override {
    Node* n = Parameter(parameter);
    if (n == nullptr || !(n->type->IsTexture() || n->type->IsSampler()) || n->type->elements != 0) {
      return kInvalidCall;
    }
    if (texture != nullptr) texture->AddRef();
    if (n->storage->texture != nullptr) n->storage->texture->Release();
    n->storage->texture = texture;
    n->storage->Touch();
    return kOk;
  }
  Result GetTexture(Handle parameter, BaseTexture** texture) override {
    Node* n = Parameter(parameter);
    if (n == nullptr || texture == nullptr || !(n->type->IsTexture() || n->type->IsSampler())) {
      return kInvalidCall;
    }
    *texture = n->storage->texture;
    if (*texture != nullptr) (*texture)->AddRef();
    return kOk;
  }

  // --- drawing -------------------------------------------------------------------

  Result ValidateTechnique(Handle technique) override {
    TechniqueNode* t = FindTechnique(technique);
    if (t == nullptr) return kInvalidCall;
    return t->valid ? kOk : kFail;
  }

  Result SetTechnique(Handle technique) override {
    TechniqueNode* t = FindTechnique(technique);
    if (t == nullptr || mInBegin) return kInvalidCall;
    mCurrentTechnique = static_cast<int>(t - mTechniques.data());
    return kOk;
  }

  Handle GetCurrentTechnique() override {
    return mCurrentTechnique < 0 ? nullptr : HandleOf(mTechniques[static_cast<std::size_t>(mCurrentTechnique)]);
  }

  Result Begin(std::uint32_t* passes, std::uint32_t) override {
    if (mCurrentTechnique < 0 || mInBegin) return kInvalidCall;
    const TechniqueNode& t = mTechniques[static_cast<std::size_t>(mCurrentTechnique)];
    mInBegin = true;
    mCurrentPass = -1;
    mStates = RenderStates::Defaults();
    if (passes != nullptr) *passes = static_cast<std::uint32_t>(t.passCount);
    mBackend->Note("Effect Begin " + mName + " " + t.name);
    return kOk;
  }

  Result BeginPass(std::uint32_t pass) override {
    if (!mInBegin || mCurrentPass >= 0) return kInvalidCall;
    const TechniqueNode& t = mTechniques[static_cast<std::size_t>(mCurrentTechnique)];
    if (pass >= static_cast<std::uint32_t>(t.passCount)) return kInvalidCall;
    PassNode& p = mPasses[static_cast<std::size_t>(t.firstPass) + pass];
    if (!p.program) return kFail;
    mCurrentPass = static_cast<int>(pass);
    mStates.Apply(p.compiled->states);
    mBackend->Apply(*p.program, mStates);
    mBackend->Note("Effect BeginPass " + std::to_string(pass));
    Commit(p);
    return kOk;
  }

  Result CommitChanges() override {
    if (mCurrentPass < 0) return kOk;
    const TechniqueNode& t = mTechniques[static_cast<std::size_t>(mCurrentTechnique)];
    mBackend->Note("Effect CommitChanges");
    Commit(mPasses[static_cast<std::size_t>(t.firstPass + mCurrentPass)]);
    return kOk;
  }

  Result EndPass() override {
    if (mCurrentPass < 0) return kInvalidCall;
    mCurrentPass = -1;
    mBackend->Note("Effect EndPass");
    return kOk;
  }

  Result End() override {
    if (!mInBegin) return kInvalidCall;
    mInBegin = false;
    mCurrentPass = -1;
    mBackend->Finish();
    mBackend->Note("Effect End");
    return kOk;
  }

  Result OnLostDevice() override {
    mBackend->Note("Effect OnLostDevice " + mName);
    // Textures of the default pool must all be released before the device
    // can be reset; values set again after the reset bring them back.
    for (Node& n : mNodes) {
      BaseTexture* t = n.storage ? n.storage->texture : nullptr;
      if (t != nullptr && InDefaultPool(t)) {
        t->Release();
        n.storage->texture = nullptr;
      }
    }
    return kOk;
  }

  static bool InDefaultPool(BaseTexture* t) {
    SurfaceDesc desc;
    if (auto* plain = dynamic_cast<Texture*>(t)) return plain->GetLevelDesc(0, &desc) == kOk && desc.pool == kPoolDefault;
    if (auto* cube = dynamic_cast<CubeTexture*>(t)) return cube->GetLevelDesc(0, &desc) == kOk && desc.pool == kPoolDefault;
    return false;
  }
  // After the device's context was made again: every pass linked anew from
  // its GLSL and all its values sent again.
  void Relink() {
    if (!mBackend->Renewed()) return;
    for (TechniqueNode& t : mTechniques) t.valid = true;
    for (PassNode& p : mPasses) {
      std::string log;
      p.program = mBackend->Link(*p.compiled, &log);
      p.uploaded[0] = p.uploaded[1] = false;
      for (auto& s : p.seen) std::fill(s.begin(), s.end(), 0);
      if (!p.program) {
        mTechniques[static_cast<std::size_t>(p.technique)].valid = false;
        std::fprintf(stderr, "effect %s: pass '%s' cannot be linked again: %s\n", mName.c_str(),
                     p.name.c_str(), log.c_str());
      }
    }
  }

  Result OnResetDevice() override {
    mBackend->Note("Effect OnResetDevice " + mName);
    Relink();
    // Everything goes to the device again at the next pass.
    for (PassNode& p : mPasses) {
      p.uploaded[0] = p.uploaded[1] = false;
      for (auto& s : p.seen) std::fill(s.begin(), s.end(), 0);
    }
    return kOk;
  }
  Result GetDevice(Device** device) override {
    if (device == nullptr || mDevice == nullptr) return kInvalidCall;
    mDevice->AddRef();
    *device = mDevice;
    return kOk;
  }
  Result GetPool(EffectPool** pool) override {
    if (pool == nullptr) return kInvalidCall;
    *pool = mPool;
    if (mPool != nullptr) mPool->AddRef();
    return kOk;
  }

  std::string GeneratedGlsl(Handle pass) override {
    PassNode* p = PassOf(pass);
    if (p == nullptr) return std::string();
    return "// vertex stage\n" + p->compiled->vertex.glsl + "// pixel stage\n" + p->compiled->pixel.glsl;
  }
  std::string PassStates(Handle pass) override {
    PassNode* p = PassOf(pass);
    return p == nullptr ? std::string() : p->compiled->stateText;
  }

 private:
  std::vector<int> AddAnnotations(const std::vector<Variable>& list) {
    std::vector<int> result;
    for (const Variable& a : list) {
      if (mNodes.size() >= kMaxNodes) break;
      Node n;
      n.name = a.name;
      n.type = &a.type;
      n.storage = std::make_shared<Storage>();
      n.storage->bytes = a.value;
      n.storage->stringValue = a.stringValue;
      n.flags = kParameterAnnotation;
      result.push_back(static_cast<int>(mNodes.size()));
      mNodes.push_back(std::move(n));
    }
    return result;
  }

  // Struct members and array elements as parameters of their own. The node
  // list grows here, so indices, not references, are kept.
  void AddChildren(int index) {
    const Type* type = mNodes[static_cast<std::size_t>(index)].type;
    if (type->elements > 0) {
      auto element = std::make_shared<Type>(*type);
      element->elements = 0;
      mNodes[static_cast<std::size_t>(index)].elementType = element;
      const std::uint32_t step = type->ElementBytes();
      for (std::uint32_t e = 0; e < type->elements && mNodes.size() < kMaxNodes; ++e) {
        const Node& parent = mNodes[static_cast<std::size_t>(index)];
        Node n;
        n.name = parent.name;
        n.semantic = parent.semantic;
        n.type = element.get();
        n.storage = parent.storage;
        n.offset = parent.offset + e * step;
        n.topLevel = parent.topLevel;
        n.isElement = true;
        const int child = static_cast<int>(mNodes.size());
        mNodes.push_back(std::move(n));
        mNodes[static_cast<std::size_t>(index)].children.push_back(child);
        AddChildren(child);
      }
      return;
    }
    if (type->base != Base::Struct) return;
    std::uint32_t offset = mNodes[static_cast<std::size_t>(index)].offset;
    for (const Variable& m : type->members) {
      if (mNodes.size() >= kMaxNodes) return;
      const Node& parent = mNodes[static_cast<std::size_t>(index)];
      Node n;
      n.name = m.name;
      n.semantic = m.semantic;
      n.type = &m.type;
      n.storage = parent.storage;
      n.offset = offset;
      n.topLevel = parent.topLevel;
      offset += m.type.Bytes();
      const int child = static_cast<int>(mNodes.size());
      mNodes.push_back(std::move(n));
      mNodes[static_cast<std::size_t>(index)].children.push_back(child);
      AddChildren(child);
    }
  }

  // Sends changed values of the pass's parameters and its textures.
  void Commit(PassNode& p) {
    for (int s = 0; s < 2; ++s) {
      const StageProgram& stage = s == 0 ? p.compiled->vertex : p.compiled->pixel;
      if (stage.blockSize == 0) continue;
      bool dirty = !p.uploaded[s];
      for (std::size_t k = 0; k < stage.uniforms.size(); ++k) {
        const UniformSlot& slot = stage.uniforms[k];
        const Storage& storage = *mNodes[static_cast<std::size_t>(slot.parameter)].storage;
        if (p.seen[s][k] == storage.version) continue;
        WriteSlot(slot, storage.bytes.data(), p.blocks[s].data());
        p.seen[s][k] = storage.version;
        dirty = true;
      }
      if (dirty) {
        mBackend->Upload(*p.program, s, p.blocks[s].data(), stage.blockSize);
        p.uploaded[s] = true;
      }
    }
    for (int s = 0; s < 2; ++s) {
      const StageProgram& stage = s == 0 ? p.compiled->vertex : p.compiled->pixel;
      for (int sampler : stage.samplers) {
        const SamplerInfo& info = mFx.samplers[static_cast<std::size_t>(sampler)];
        BaseTexture* texture = mNodes[static_cast<std::size_t>(sampler)].storage->texture;
        if (texture == nullptr && info.textureParameter >= 0) {
          texture = mNodes[static_cast<std::size_t>(info.textureParameter)].storage->texture;
        }
        mBackend->BindSampler(info.unit, texture, info.states);
      }
    }
  }

  Device* mDevice;
  PoolImpl* mPool;
  std::unique_ptr<Backend> mBackend;
  std::string mName;
  CompiledEffect mFx;
  std::vector<Node> mNodes;
  std::vector<TechniqueNode> mTechniques;
  std::vector<PassNode> mPasses;
  std::size_t mPassCount = 0;
  int mCurrentTechnique = -1;
  int mCurrentPass = -1;
  bool mInBegin = false;
  RenderStates mStates;
};

}  // namespace

std::unique_ptr<Backend> BackendFor(Device* device) {
  if (std::unique_ptr<Backend> gl = gl::CreateEffectBackend(device)) return gl;
  return std::make_unique<NullBackend>();
}

namespace {

bool ReadFile(const std::string& path, std::string* contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *contents = s.str();
  // Bounded: an effect file is text of a few kilobytes.
  return contents->size() <= (16u << 20);
}

}  // namespace
}  // namespace fx

Result CreateEffectPool(EffectPool** pool) {
  if (pool == nullptr) return kInvalidCall;
  *pool = new fx::PoolImpl();
  return kOk;
}

Result CreateEffect(Device* device, const std::string& text, const std::string& name,
                    const Macro* defines, std::uint32_t, EffectPool* pool, Effect** effect,
                    Buffer** errors) {
  if (errors != nullptr) *errors = nullptr;
  if (effect == nullptr) return kInvalidCall;
  *effect = nullptr;
  std::vector<std::pair<std::string, std::string>> macros;
  for (const Macro* m = defines; m != nullptr && m->name != nullptr; ++m) {
    macros.emplace_back(m->name, m->definition != nullptr ? m->definition : "");
  }
  fx::Messages messages;
  fx::EffectSource source;
  fx::CompiledEffect compiled;
  std::unique_ptr<fx::Backend> backend = fx::BackendFor(device);
  bool ok = fx::ReadEffect(text, name, macros, fx::ReadFile, &source, &messages) &&
            fx::CompileEffect(std::move(source), &compiled, &messages, backend->Language());
  fx::EffectImpl* result = nullptr;
  if (ok) {
    result = new fx::EffectImpl(device, static_cast<fx::PoolImpl*>(pool), std::move(backend),
                                name);
    ok = result->Build(std::move(compiled), &messages);
    if (!ok) {
      result->Release();
      result = nullptr;
    }
  }
  if (errors != nullptr && !messages.Text().empty()) *errors = new fx::BufferImpl(messages.Text());
  if (!ok) return kInvalidData;
  *effect = result;
  return kOk;
}

Result CreateEffectFromFile(Device* device, const std::wstring& path, const Macro* defines,
                            void*, std::uint32_t flags, EffectPool* pool, Effect** effect,
                            Buffer** errors) {
  if (errors != nullptr) *errors = nullptr;
  if (effect == nullptr) return kInvalidCall;
  *effect = nullptr;
  const std::string name = utf8::Encode(path);
  std::string text;
  if (!fx::ReadFile(name, &text)) {
    if (errors != nullptr) *errors = new fx::BufferImpl(name + ": error X3501: cannot open file\n");
    return kFail;
  }
  return CreateEffect(device, text, name, defines, flags, pool, effect, errors);
}

void BeginBakingStages() {
  // The target is the first effect's: one record holds one kind of GLSL.
  fx::SetActiveStageStore(std::make_unique<fx::StageStore>(""), true);
}

std::string EndBakingStages() {
  fx::StageStore* store = fx::ActiveStageStore();
  std::string bytes = store != nullptr && fx::RecordingStages() ? store->Write() : std::string();
  fx::SetActiveStageStore(nullptr, false);
  return bytes;
}

bool UseBakedStages(const std::string& record, std::string* error) {
  if (record.empty()) {
    fx::SetActiveStageStore(nullptr, false);
    return true;
  }
  auto store = std::make_unique<fx::StageStore>("");
  const bool ok = store->Read(record.data(), record.size(), error);
  fx::SetActiveStageStore(std::move(store), false);
  return ok;
}

std::uint32_t GetShaderVersion(const std::uint32_t* function) {
  return function == nullptr ? 0 : function[0];
}

}  // namespace platform
