#include "engine/luaWrapper.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "engine/logging.h"
#include "engine/resourceTypes.h"
#include "engine/strings.h"

namespace engine::gfx {

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

namespace {

int Truncate(double d) {
  if (!(d > -2147483648.0 && d < 2147483648.0)) return 0;
  return static_cast<int>(d);  // toward zero
}

// Pops what a step pushed: the stack keeps only what the caller holds.
class StackMark {
 public:
  explicit StackMark(lua_State* L) : mState(L), mTop(lua_gettop(L)) {}
  ~StackMark() { lua_settop(mState, mTop); }
  StackMark(const StackMark&) = delete;
  StackMark& operator=(const StackMark&) = delete;

 private:
  lua_State* mState;
  int mTop;
};

void ReadVector(const LuaObject& value, int count, float* out) {
  for (int i = 0; i < count; ++i) out[i] = static_cast<float>(value.Get(i + 1).ToNumber());
}

void ReadParameter(LuaObject description, PassDesc* pass) {
  using core::ResourceManager;
  using namespace core::resources;
  const std::string name = description.Get(1).ToString();
  const std::string type = description.Get(2).ToString();
  const LuaObject value = description.Get(3);
  ShaderParameters& p = pass->mParameters;
  float v[4] = {0, 0, 0, 0};
  if (type == "int") {
    p.AddInt(name, Truncate(value.ToNumber()), true);
  } else if (type == "ipo") {
    value.ToString();  // read, not kept: channels bind by the parameter's name
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

PassDesc ReadPass(const LuaObject& P, LuaScript* script) {
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
  const LuaObject params = P.Get("params");
  if (!params.IsTable()) ENGINE_ERROR("Params must be a table");
  for (LuaIterator it(params, script); it.HasNext();) {
    StackMark mark(script->State());
    const LuaObject description = it.Next();
    if (!description.IsTable()) ENGINE_ERROR("Parameter description must be a table");
    ReadParameter(description, &pass);
  }
  const LuaObject streams = P.Get("streams");
  if (!streams.IsTable()) ENGINE_ERROR("Streams must be a table");
  static const char* kWords[] = {"pos", "normal", "tex", "tbn", "bone"};
  for (LuaIterator it(streams, script); it.HasNext();) {
    StackMark mark(script->State());
    const std::string word = it.Next().ToString();
    const auto found = std::find_if(std::begin(kWords), std::end(kWords),
                                    [&](const char* w) { return word == w; });
    if (found == std::end(kWords)) {
      ENGINE_ERROR("Unsupported stream type ( supported: pos, normal, tex, tbn, bone )");
    }
    pass.mStreams.insert(static_cast<int>(found - std::begin(kWords)));
  }
  return pass;
}

}  // namespace

void MaterialScript::Parse(const std::string& path) {
  ENGINE_MESSAGE("Parsing material script " + path);
  LuaScript script(path);
  mEffects.clear();
  const LuaObject effect = script.GetGlobal("effect");
  if (!effect.IsTable()) ENGINE_ERROR("Effect must be a table");
  std::vector<EffectDesc> effects;
  for (LuaIterator candidates(effect, &script); candidates.HasNext();) {
    StackMark mark(script.State());
    const LuaObject E = candidates.Next();
    EffectDesc desc;
    desc.mPriority = Truncate(E.Get("priority").ToNumber());
    const LuaObject passes = E.Get("pass");
    if (!passes.IsTable()) ENGINE_ERROR("Pass must be a table");
    for (LuaIterator it(passes, &script); it.HasNext();) {
      StackMark passMark(script.State());
      desc.mPasses.push_back(ReadPass(it.Next(), &script));
    }
    effects.push_back(std::move(desc));
  }
  std::stable_sort(effects.begin(), effects.end(),
                   [](const EffectDesc& a, const EffectDesc& b) { return a.mPriority > b.mPriority; });
  mEffects = std::move(effects);
}

}  // namespace engine::gfx
