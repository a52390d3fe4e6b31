#pragma once

#include <cstdint>
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

// A value of a script read out into plain data once: what the material
// parser reads, with Lua's own conversions already made (a number's text, a
// numeric string's number), so that reading the copy is reading the script.
// A player without Lua reads these baked on the host.
struct ENGINE_API ScriptValue {
  enum Kind : std::uint8_t { Nil, Boolean, Number, String, Table, Other };
  Kind kind = Nil;
  bool truth = false;     // Lua's truth: false only for nil and false
  double number = 0;      // as LuaObject::ToNumber
  std::string text;       // as LuaObject::ToString
  std::vector<ScriptValue> items;                           // t[1..n] up to the first nil
  std::vector<std::pair<std::string, ScriptValue>> fields;  // the string keys, sorted

  const ScriptValue& Get(const char* key) const;  // nil when absent or not a table
  const ScriptValue& Get(int i) const;            // 1-based, as t[i]
  bool IsTable() const { return kind == Table; }
  double ToNumber() const { return number; }
  bool ToBool() const { return truth; }
  const std::string& ToString() const { return text; }

  // Copies a Lua value; tables nested deeper than 16 or more than 100000
  // values in all are an error, as are tables that contain themselves.
  static ScriptValue From(const LuaObject& value, LuaScript* script);

  // The baked form (starts with kBakedMagic); Read is false, with the reason,
  // for anything else or a damaged copy.
  std::string Write() const;
  static bool Read(const void* data, std::size_t size, ScriptValue* out, std::string* error);
  static constexpr char kBakedMagic[8] = {'V', 'X', 'M', 'A', 'T', 'E', 'R', 'L'};
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
// The file is Lua source, or the `effect` table baked (ScriptValue::Write).
class ENGINE_API MaterialScript {
 public:
  void Parse(const std::string& path);
  void Parse(const ScriptValue& effect);
  // Runs the script (or reads it baked) and returns its `effect` table.
  static ScriptValue ReadEffectTable(const std::string& path);
  std::vector<EffectDesc> mEffects;
};

}  // namespace engine::gfx
