#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fx/compiler.h"

// Shader stages compiled ahead of time. A player that cannot run glslang and
// SPIRV-Cross (the one in the browser) reads the GLSL of every pass from a
// store made on the host by the same compiler; a pass is found by a key of
// everything its stages are made from, so a store made from other effect
// text, another target or other states never answers for it.
namespace platform::fx {

// The file a data tree carries its baked stages in; when present, effects
// take their stages from it instead of compiling them.
constexpr char kBakedStagesPath[] = "data/fx/baked.stages";

struct BakedPass {
  StageProgram vertex, pixel;
};

class StageStore {
 public:
  explicit StageStore(std::string target) : mTarget(std::move(target)) {}
  const std::string& Target() const { return mTarget; }
  void SetTarget(std::string target) { mTarget = std::move(target); }
  const BakedPass* Find(std::uint64_t key) const;
  void Add(std::uint64_t key, const CompiledPass& pass);
  const std::map<std::uint64_t, BakedPass>& Passes() const { return mPasses; }
  // Why the store answers nothing (a damaged file); empty when it is sound.
  const std::string& Problem() const { return mProblem; }

  std::string Write() const;
  // False (with the reason in `error`) for a file that is not a store or is
  // damaged; nothing is kept then.
  bool Read(const void* data, std::size_t size, std::string* error);

 private:
  bool ReadInto(const void* data, std::size_t size, std::string* error);
  std::string mTarget;
  std::string mProblem;
  std::map<std::uint64_t, BakedPass> mPasses;
};

// The key of a pass: the effect's HLSL, its sampler units, both stages'
// compile expressions, the pass's render states and the compiler's target.
std::uint64_t StageKey(const CompiledEffect& effect, const CompileExpr* vertex, const CompileExpr* pixel,
                       const RenderStates& states, const std::string& target);

// A baked pass checked against the effect it is used for, so that a damaged
// store cannot make the effect read outside its parameters or its blocks.
bool BakedPassFits(const CompiledEffect& effect, const CompiledPass& pass, std::string* why);

// The store effects compile against: null when none is in use. Set before
// any effect is made (the bake tool records into one; a player loads one).
StageStore* ActiveStageStore();
void SetActiveStageStore(std::unique_ptr<StageStore> store, bool record);
bool RecordingStages();
// Loads kBakedStagesPath once when it exists (at the first effect made).
void LoadBakedStagesOnce();

}  // namespace platform::fx
