#pragma once

#include <set>
#include <string>
#include <vector>

#include "engine/api.h"
#include "engine/shaderParameters.h"

struct lua_State;

namespace engine::gfx {

// One Lua 5.1 state running one script, with no standard library: a script
// can use the language, not files, the OS or the environment. A script that
// runs past its instruction budget or memory budget is stopped with an error.
class ENGINE_API LuaScript {
 public:
  // Loads and runs the file; failures are "Error in lua script: " + reason.
  explicit LuaScript(const std::string& path);
  ~LuaScript();
  LuaScript(const LuaScript&) = delete;
  LuaScript& operator=(const LuaScript&) = delete;

  class LuaObject GetGlobal(const char* name);
  lua_State* State() const { return mState; }

  static constexpr long kInstructionBudget = 50000000;
  static constexpr std::size_t kMemoryBudget = 64u << 20;

 private:
  lua_State* mState = nullptr;
  long mInstructions = 0;
  std::size_t mMemory = 0;
  friend struct LuaBudget;
};

// A value on the script's stack.
class ENGINE_API LuaObject {
 public:
  LuaObject(int index, LuaScript* script) : mIndex(index), mScript(script) {}
  LuaObject Get(const char* key) const;  // pushes t[key]
  LuaObject Get(int i) const;            // pushes the raw t[i]
  int Type() const;
  double ToNumber() const;  // 0 unless a number or a numeric string
  bool ToBool() const;      // false only for nil and false
  std::string ToString() const;  // text of a string or number, else empty
  bool IsTable() const;
  int Index() const { return mIndex; }

 private:
  int mIndex;
  LuaScript* mScript;
};

// The array part of a table, 1..n up to the first nil.
class ENGINE_API LuaIterator {
 public:
  LuaIterator(const LuaObject& table, LuaScript* script)
      : mTable(table.Index()), mScript(script) {}
  bool HasNext() const;
  LuaObject Next();

 private:
  int mTable;
  LuaScript* mScript;
  int mCounter = 1;
};

enum StreamType { kStreamPos = 0, kStreamNormal = 1, kStreamTex = 2, kStreamTbn = 3, kStreamBone = 4 };

// One render pass of a material.
struct ENGINE_API PassDesc {
  int mPriority = 0;
  std::string mEffectFile;
  std::string mTechnique;
  bool mHasTarget = false;
  bool mDoNotClear = false;
  bool mHasDepthTarget = false;
  std::string mTargetName;
  std::string mDepthTargetName;
  ShaderParameters mParameters;
  std::set<int> mStreams;
};

// One candidate effect of a material.
struct ENGINE_API EffectDesc {
  int mPriority = 0;
  std::vector<PassDesc> mPasses;
};

// A material script (.efx) read into its candidates, highest priority first.
class ENGINE_API MaterialScript {
 public:
  void Parse(const std::string& path);
  std::vector<EffectDesc> mEffects;
};

}  // namespace engine::gfx
