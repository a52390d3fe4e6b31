#include "engine/luaWrapper.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

// A player built without Lua (the one in the browser) reads material tables
// baked on the host and has none of the interpreter below.
#ifndef VELOX_NO_LUA
extern "C" {
#include <lauxlib.h>
#include <lua.h>
}
#endif

#include "engine/binaryReader.h"
#include "engine/logging.h"
#include "engine/resourceTypes.h"
#include "engine/strings.h"

namespace engine::gfx {

#ifndef VELOX_NO_LUA
// The budgets: Lua calls these through the state's allocator data.
struct LuaBudget {
  static void* Allocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
    auto* script = static_cast<LuaScript*>(ud);
    if (nsize == 0) {
      script->mMemory -= std::min(osize, script->mMemory);
      std::free(ptr);
      return nullptr;
    }
    const std::size_t old = ptr != nullptr ? osize : 0;
    if (nsize > old && script->mMemory - old + nsize > LuaScript::kMemoryBudget) return nullptr;
    void* grown = std::realloc(ptr, nsize);
    if (grown != nullptr) script->mMemory = script->mMemory - old + nsize;
    return grown;
  }

  static constexpr int kHookEvery = 10000;

  static void Count(lua_State* L, lua_Debug*) {
    void* ud = nullptr;
    lua_getallocf(L, &ud);
    auto* script = static_cast<LuaScript*>(ud);
    script->mInstructions += kHookEvery;
    if (script->mInstructions > LuaScript::kInstructionBudget) {
      luaL_error(L, "the script ran past its budget of %d million instructions",
                 static_cast<int>(LuaScript::kInstructionBudget / 1000000));
    }
  }
};

namespace {

std::string TopMessage(lua_State* L) {
  const char* text = lua_tostring(L, -1);
  return text != nullptr ? text : "(error object is not a string)";
}

}  // namespace

LuaScript::LuaScript(const std::string& path) {
  mState = lua_newstate(&LuaBudget::Allocate, this);
  if (mState == nullptr) ENGINE_ERROR("Error in lua script: not enough memory");
  lua_sethook(mState, &LuaBudget::Count, LUA_MASKCOUNT, LuaBudget::kHookEvery);
  // The file is read here so that precompiled chunks, which can break the
  // interpreter, are refused: a material is source text.
  std::string failure;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    failure = "cannot open " + path;
  } else {
    std::ostringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    if (!source.empty() && source[0] == LUA_SIGNATURE[0]) {
      failure = path + ": precompiled scripts are not accepted";
    } else if (luaL_loadbuffer(mState, source.data(), source.size(), ("@" + path).c_str()) != 0 ||
               lua_pcall(mState, 0, 0, 0) != 0) {
      failure = TopMessage(mState);
    }
  }
  if (!failure.empty()) {
    lua_close(mState);
    mState = nullptr;
    ENGINE_ERROR("Error in lua script: " + failure);
  }
  lua_settop(mState, 0);
}

LuaScript::~LuaScript() {
  if (mState != nullptr) lua_close(mState);
}

LuaObject LuaScript::GetGlobal(const char* name) {
  lua_checkstack(mState, 1);
  lua_getfield(mState, LUA_GLOBALSINDEX, name);
  return LuaObject(lua_gettop(mState), this);
}

LuaObject LuaObject::Get(const char* key) const {
  lua_State* L = mScript->State();
  lua_checkstack(L, 1);
  // Indexing a non-table would raise outside a protected call.
  if (lua_istable(L, mIndex)) {
    lua_pushstring(L, key);
    lua_rawget(L, mIndex);
  } else {
    lua_pushnil(L);
  }
  return LuaObject(lua_gettop(L), mScript);
}

LuaObject LuaObject::Get(int i) const {
  lua_State* L = mScript->State();
  lua_checkstack(L, 1);
  if (lua_istable(L, mIndex)) {
    lua_rawgeti(L, mIndex, i);
  } else {
    lua_pushnil(L);
  }
  return LuaObject(lua_gettop(L), mScript);
}

int LuaObject::Type() const { return lua_type(mScript->State(), mIndex); }
bool LuaObject::IsTable() const { return lua_istable(mScript->State(), mIndex); }

double LuaObject::ToNumber() const {
  const double d = lua_tonumber(mScript->State(), mIndex);
  return std::isfinite(d) ? d : 0.0;
}

bool LuaObject::ToBool() const { return lua_toboolean(mScript->State(), mIndex) != 0; }

std::string LuaObject::ToString() const {
  lua_State* L = mScript->State();
  const int type = lua_type(L, mIndex);
  if (type != LUA_TSTRING && type != LUA_TNUMBER) return std::string();
  // A copy, so that converting a number does not change the value itself.
  lua_checkstack(L, 1);
  lua_pushvalue(L, mIndex);
  std::size_t length = 0;
  const char* text = lua_tolstring(L, -1, &length);
  std::string result(text != nullptr ? text : "", text != nullptr ? length : 0);
  lua_pop(L, 1);
  return result;
}

bool LuaIterator::HasNext() const {
  lua_State* L = mScript->State();
  if (!lua_istable(L, mTable)) return false;
  lua_checkstack(L, 1);
  lua_rawgeti(L, mTable, mCounter);
  const bool present = !lua_isnil(L, -1);
  lua_pop(L, 1);
  return present;
}

LuaObject LuaIterator::Next() {
  lua_State* L = mScript->State();
  lua_checkstack(L, 1);
  lua_rawgeti(L, mTable, mCounter++);
  return LuaObject(lua_gettop(L), mScript);
}

#endif  // VELOX_NO_LUA

namespace {

int Truncate(double d) {
  if (!(d > -2147483648.0 && d < 2147483648.0)) return 0;
  return static_cast<int>(d);  // toward zero
}

void ReadVector(const ScriptValue& value, int count, float* out) {
  for (int i = 0; i < count; ++i) out[i] = static_cast<float>(value.Get(i + 1).ToNumber());
}

void ReadParameter(const ScriptValue& description, PassDesc* pass) {
  using core::ResourceManager;
  using namespace core::resources;
  const std::string name = description.Get(1).ToString();
  const std::string type = description.Get(2).ToString();
  const ScriptValue& value = description.Get(3);
  ShaderParameters& p = pass->mParameters;
  float v[4] = {0, 0, 0, 0};
  if (type == "int") {
    p.AddInt(name, Truncate(value.ToNumber()), true);
  } else if (type == "ipo") {
    // Not kept: channels bind by the parameter's name.
    p.AddIpo(name, 0, true);
  } else if (type == "float") {
    p.AddFloat(name, static_cast<float>(value.ToNumber()), true);
  } else if (type == "float2" || type == "float3" || type == "float4") {
    if (!value.IsTable()) ENGINE_ERROR(type + " value must be a table");
    const int n = type[5] - '0';
    ReadVector(value, n, v);
    if (n == 2) p.AddFloat2(name, v[0], v[1], true);
    if (n == 3) p.AddFloat3(name, v[0], v[1], v[2], true);
    if (n == 4) p.AddFloat4(name, v[0], v[1], v[2], v[3], true);
  } else if (type == "bool") {
    p.AddBool(name, value.ToBool(), true);
  } else if (type == "tex") {
    p.AddTexture(name, ResourceManager::Get()->Get<ManagedTexture>(ToWide(value.ToString())), true);
  } else if (type == "cube") {
    boost::shared_ptr<ManagedTexture> cube =
        ResourceManager::Get()->Get<ManagedCubeTexture>(ToWide(value.ToString()));
    p.AddTexture(name, cube, true);
  } else if (type == "target") {
    p.AddTexture(name, ResourceManager::Get()->Get<RenderTargetTexture>(ToWide(value.ToString())),
                 true);
  } else if (type == "depth") {
    boost::shared_ptr<RenderTargetTexture> depth =
        ResourceManager::Get()->Get<DepthTexture>(ToWide(value.ToString()));
    p.AddTexture(name, depth, true);
  } else {
    ENGINE_ERROR("Unsupported parameter type( supported: int, float, bool, tex, target )");
  }
}

PassDesc ReadPass(const ScriptValue& P) {
  using core::ResourceManager;
  using namespace core::resources;
  PassDesc pass;
  pass.mPriority = Truncate(P.Get("priority").ToNumber());
  pass.mEffectFile = P.Get("fx").ToString() + ".fx";
  pass.mTechnique = P.Get("tec").ToString();
  pass.mTargetName = P.Get("rtt_stex").ToString();
  pass.mDepthTargetName = P.Get("rtt_dtex").ToString();
  pass.mDoNotClear = P.Get("do_not_clear").ToBool();
  if (!pass.mTargetName.empty()) {
    pass.mHasTarget = true;
    ResourceManager::Get()->Get<RenderTargetTexture>(ToWide(pass.mTargetName));
  } else if (!pass.mDepthTargetName.empty()) {
    pass.mHasDepthTarget = true;
    ResourceManager::Get()->Get<DepthTexture>(ToWide(pass.mDepthTargetName));
  }
  const ScriptValue& params = P.Get("params");
  if (!params.IsTable()) ENGINE_ERROR("Params must be a table");
  for (const ScriptValue& description : params.items) {
    if (!description.IsTable()) ENGINE_ERROR("Parameter description must be a table");
    ReadParameter(description, &pass);
  }
  const ScriptValue& streams = P.Get("streams");
  if (!streams.IsTable()) ENGINE_ERROR("Streams must be a table");
  static const char* kWords[] = {"pos", "normal", "tex", "tbn", "bone"};
  for (const ScriptValue& stream : streams.items) {
    const std::string& word = stream.ToString();
    const auto found = std::find_if(std::begin(kWords), std::end(kWords),
                                    [&](const char* w) { return word == w; });
    if (found == std::end(kWords)) {
      ENGINE_ERROR("Unsupported stream type ( supported: pos, normal, tex, tbn, bone )");
    }
    pass.mStreams.insert(static_cast<int>(found - std::begin(kWords)));
  }
  return pass;
}

// ---- the baked form: a tree of values, little-endian -----------------------

constexpr std::uint32_t kBakedVersion = 1;
constexpr int kMaxDepth = 16;
constexpr std::size_t kMaxValues = 100000;

void Put32(std::string* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

void PutText(std::string* out, const std::string& s) {
  Put32(out, static_cast<std::uint32_t>(s.size()));
  out->append(s);
}

void PutValue(std::string* out, const ScriptValue& v) {
  out->push_back(static_cast<char>(v.kind));
  out->push_back(v.truth ? 1 : 0);
  std::uint64_t bits;
  std::memcpy(&bits, &v.number, 8);
  Put32(out, static_cast<std::uint32_t>(bits));
  Put32(out, static_cast<std::uint32_t>(bits >> 32));
  PutText(out, v.text);
  Put32(out, static_cast<std::uint32_t>(v.items.size()));
  for (const ScriptValue& item : v.items) PutValue(out, item);
  Put32(out, static_cast<std::uint32_t>(v.fields.size()));
  for (const auto& [key, field] : v.fields) {
    PutText(out, key);
    PutValue(out, field);
  }
}

class TreeReader {
 public:
  TreeReader(const void* data, std::size_t size) : mReader(data, size) {}
  bool Bytes(void* out, std::size_t n) { return mReader.Read(out, n); }
  bool U32(std::uint32_t* v) {
    std::int32_t i;
    if (!mReader.ReadInt32(i)) return false;
    *v = static_cast<std::uint32_t>(i);
    return true;
  }
  bool Text(std::string* s) {
    std::uint32_t n;
    if (!U32(&n) || n > mReader.Remaining()) return false;
    s->resize(n);
    return mReader.Read(s->data(), n);
  }
  // Every value takes at least 18 bytes: no count can outrun the file.
  bool Value(ScriptValue* v, int depth) {
    if (depth > kMaxDepth || ++mValues > kMaxValues) return false;
    unsigned char head[2];
    std::uint32_t lo, hi, n;
    if (!Bytes(head, 2) || head[0] > ScriptValue::Other || head[1] > 1 || !U32(&lo) || !U32(&hi) || !Text(&v->text)) {
      return false;
    }
    v->kind = static_cast<ScriptValue::Kind>(head[0]);
    v->truth = head[1] == 1;
    const std::uint64_t bits = lo | (static_cast<std::uint64_t>(hi) << 32);
    std::memcpy(&v->number, &bits, 8);
    if (!std::isfinite(v->number)) return false;
    if (!U32(&n) || n > mReader.Remaining() / 18) return false;
    v->items.resize(n);
    for (ScriptValue& item : v->items) {
      if (!Value(&item, depth + 1)) return false;
    }
    if (!U32(&n) || n > mReader.Remaining() / 22) return false;
    v->fields.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!Text(&v->fields[i].first) || !Value(&v->fields[i].second, depth + 1)) return false;
      if (i > 0 && !(v->fields[i - 1].first < v->fields[i].first)) return false;  // sorted, unique
    }
    return v->kind == ScriptValue::Table || (v->items.empty() && v->fields.empty());
  }
  bool AtEnd() const { return mReader.Remaining() == 0; }

 private:
  io::BinaryReader mReader;
  std::size_t mValues = 0;
};

#ifndef VELOX_NO_LUA
struct Copier {
  lua_State* L;
  std::size_t values = 0;
  std::vector<const void*> open;  // the tables being copied, to refuse cycles

  void Copy(int index, ScriptValue* out, LuaScript* script) {
    if (++values > kMaxValues) ENGINE_ERROR("Error in lua script: the material holds too many values");
    const LuaObject value(index, script);
    const int type = lua_type(L, index);
    out->truth = value.ToBool();
    out->number = value.ToNumber();
    out->text = value.ToString();
    switch (type) {
      case LUA_TNIL: out->kind = ScriptValue::Nil; return;
      case LUA_TBOOLEAN: out->kind = ScriptValue::Boolean; return;
      case LUA_TNUMBER: out->kind = ScriptValue::Number; return;
      case LUA_TSTRING: out->kind = ScriptValue::String; return;
      case LUA_TTABLE: break;
      default: out->kind = ScriptValue::Other; return;
    }
    out->kind = ScriptValue::Table;
    const void* self = lua_topointer(L, index);
    if (open.size() >= static_cast<std::size_t>(kMaxDepth) ||
        std::find(open.begin(), open.end(), self) != open.end()) {
      ENGINE_ERROR("Error in lua script: the material's tables nest too deep or contain themselves");
    }
    open.push_back(self);
    lua_checkstack(L, 4);
    for (int i = 1;; ++i) {
      lua_rawgeti(L, index, i);
      if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        break;
      }
      out->items.emplace_back();
      Copy(lua_gettop(L), &out->items.back(), script);
      lua_pop(L, 1);
    }
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
      // lua_next needs the key untouched: only string keys are read, as
      // strings, and numbers are never converted in place.
      if (lua_type(L, -2) == LUA_TSTRING) {
        std::size_t length = 0;
        const char* key = lua_tolstring(L, -2, &length);
        out->fields.emplace_back(std::string(key, length), ScriptValue());
        Copy(lua_gettop(L), &out->fields.back().second, script);
      }
      lua_pop(L, 1);
    }
    std::sort(out->fields.begin(), out->fields.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    open.pop_back();
  }
};
#endif  // VELOX_NO_LUA

const ScriptValue& NilValue() {
  static const ScriptValue nil;
  return nil;
}

}  // namespace

const ScriptValue& ScriptValue::Get(const char* key) const {
  const auto found = std::lower_bound(fields.begin(), fields.end(), key,
                                      [](const auto& field, const char* k) { return field.first < k; });
  return found != fields.end() && found->first == key ? found->second : NilValue();
}

const ScriptValue& ScriptValue::Get(int i) const {
  return i >= 1 && static_cast<std::size_t>(i) <= items.size() ? items[static_cast<std::size_t>(i) - 1] : NilValue();
}

#ifndef VELOX_NO_LUA
ScriptValue ScriptValue::From(const LuaObject& value, LuaScript* script) {
  ScriptValue out;
  Copier copier{script->State(), 0, {}};
  copier.Copy(value.Index(), &out, script);
  return out;
}
#endif  // VELOX_NO_LUA

std::string ScriptValue::Write() const {
  std::string out(kBakedMagic, sizeof kBakedMagic);
  Put32(&out, kBakedVersion);
  PutValue(&out, *this);
  return out;
}

bool ScriptValue::Read(const void* data, std::size_t size, ScriptValue* out, std::string* error) {
  TreeReader r(data, size);
  char magic[sizeof kBakedMagic];
  std::uint32_t version = 0;
  if (!r.Bytes(magic, sizeof magic) || std::memcmp(magic, kBakedMagic, sizeof magic) != 0) {
    *error = "not a baked material";
    return false;
  }
  if (!r.U32(&version) || version != kBakedVersion) {
    *error = "a baked material of another version";
    return false;
  }
  ScriptValue value;
  if (!r.Value(&value, 0) || !r.AtEnd()) {
    *error = "a damaged baked material";
    return false;
  }
  *out = std::move(value);
  return true;
}

ScriptValue MaterialScript::ReadEffectTable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[sizeof ScriptValue::kBakedMagic] = {};
  if (in.read(magic, sizeof magic) && std::memcmp(magic, ScriptValue::kBakedMagic, sizeof magic) == 0) {
    in.seekg(0);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string data = bytes.str();
    ScriptValue effect;
    std::string error;
    if (!ScriptValue::Read(data.data(), data.size(), &effect, &error)) {
      ENGINE_ERROR("Error in lua script: " + path + ": " + error);
    }
    return effect;
  }
#ifdef VELOX_NO_LUA
  ENGINE_ERROR("Error in lua script: " + path + ": not baked, and this build runs no Lua");
#else
  LuaScript script(path);
  return ScriptValue::From(script.GetGlobal("effect"), &script);
#endif
}

void MaterialScript::Parse(const std::string& path) {
  ENGINE_MESSAGE("Parsing material script " + path);
  Parse(ReadEffectTable(path));
}

void MaterialScript::Parse(const ScriptValue& effect) {
  mEffects.clear();
  if (!effect.IsTable()) ENGINE_ERROR("Effect must be a table");
  std::vector<EffectDesc> effects;
  for (const ScriptValue& E : effect.items) {
    EffectDesc desc;
    desc.mPriority = Truncate(E.Get("priority").ToNumber());
    const ScriptValue& passes = E.Get("pass");
    if (!passes.IsTable()) ENGINE_ERROR("Pass must be a table");
    for (const ScriptValue& P : passes.items) desc.mPasses.push_back(ReadPass(P));
    effects.push_back(std::move(desc));
  }
  std::stable_sort(effects.begin(), effects.end(),
                   [](const EffectDesc& a, const EffectDesc& b) { return a.mPriority > b.mPriority; });
  mEffects = std::move(effects);
}

}  // namespace engine::gfx
