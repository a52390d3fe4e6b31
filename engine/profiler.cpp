#include "engine/profiler.h"

#include <chrono>
#include <tuple>
#include <utility>

#include "engine/logging.h"
#include "platform/graphics.h"

namespace engine::core {

const char* StageName(Stage stage) {
  switch (stage) {
    case Stage::Update: return "update";
    case Stage::Scene: return "scene";
    case Stage::State: return "state";
    case Stage::Draw: return "draw";
    case Stage::Targets: return "targets";
    case Stage::Present: return "present";
    case Stage::Readback: return "readback";
    case Stage::Encode: return "encode";
    case Stage::Other: return "other";
    case Stage::Count: break;
  }
  return "?";
}

bool PassKey::operator<(const PassKey& o) const {
  return std::tie(mesh, effect, technique, pass, target) <
         std::tie(o.mesh, o.effect, o.technique, o.pass, o.target);
}

bool PassKey::operator==(const PassKey& o) const {
  return mesh == o.mesh && effect == o.effect && technique == o.technique && pass == o.pass &&
         target == o.target;
}

std::string PassKey::Label() const {
  return mesh + " " + effect + ":" + technique + "/" + std::to_string(pass) + " -> " + target;
}

FrameProfiler& FrameProfiler::Get() {
  static FrameProfiler profiler;
  return profiler;
}

double FrameProfiler::Now() const {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

void FrameProfiler::Enable(bool on) {
  if (on == mEnabled) return;
  mEnabled = on;
  mInFrame = false;
  mStack.clear();
  if (!on) ReleaseQueries();
}

// The time since the last mark goes to the innermost open stage.
void FrameProfiler::Charge(double now) {
  const Stage stage = mStack.empty() ? Stage::Other : mStack.back();
  mCurrent.profile.stageMs[static_cast<int>(stage)] += now - mMark;
  mMark = now;
}

void FrameProfiler::BeginFrame() {
  if (!mEnabled) return;
  mCurrent.profile = FrameProfile();
  mCurrent.profile.frame = mFrame;
  mCurrent.queries.clear();
  mCurrent.keys.clear();
  mStack.clear();
  mFrameStart = mMark = Now();
  mInFrame = true;
}

void FrameProfiler::EndFrame() {
  if (!mEnabled || !mInFrame) return;
  const double now = Now();
  Charge(now);
  mInFrame = false;
  mStack.clear();
  FrameProfile& p = mCurrent.profile;
  p.tag = mTag;
  p.totalMs = now - mFrameStart;
  ++mFrame;
  if (mOpen != nullptr) {  // a draw that threw between its two marks
    mFree.push_back(mOpen);
    mOpen = nullptr;
  }
  mPending.push_back(std::move(mCurrent));
  mCurrent = Pending();
  // Frames finish in order: a later one never overtakes an earlier one.
  while (!mPending.empty()) {
    const bool force = static_cast<int>(mPending.size()) > kMaxPending;
    if (!Resolve(mPending.front(), force)) break;
    Finish(std::move(mPending.front().profile));
    Recycle(mPending.front());
    mPending.pop_front();
  }
}

void FrameProfiler::Push(Stage stage) {
  if (!mEnabled || !mInFrame) return;
  Charge(Now());
  mStack.push_back(stage);
}

void FrameProfiler::Pop() {
  if (!mEnabled || !mInFrame || mStack.empty()) return;
  Charge(Now());
  mStack.pop_back();
}

platform::Query* FrameProfiler::NewQuery(platform::Device* device) {
  if (!mFree.empty()) {
    platform::Query* q = mFree.back();
    mFree.pop_back();
    return q;
  }
  platform::Query* q = nullptr;
  if (platform::Failed(device->CreateTimestampQuery(&q)) || q == nullptr) {
    mGpu = false;
    if (!mToldNoGpu) ENGINE_MESSAGE("Profiler: the device has no timestamp queries; CPU stages only");
    mToldNoGpu = true;
    return nullptr;
  }
  return q;
}

void FrameProfiler::BeginDraw(platform::Device* device) {
  if (!mEnabled || !mInFrame || !mGpu || device == nullptr || mOpen != nullptr) return;
  platform::Query* q = NewQuery(device);
  if (q == nullptr) return;
  if (platform::Failed(q->Issue())) {
    mFree.push_back(q);
    return;
  }
  mOpen = q;
}

void FrameProfiler::EndDraw(platform::Device* device, PassKey key) {
  if (!mEnabled || mOpen == nullptr) return;
  platform::Query* begin = std::exchange(mOpen, nullptr);
  platform::Query* end = NewQuery(device);
  if (end == nullptr || platform::Failed(end->Issue())) {
    mFree.push_back(begin);
    if (end != nullptr) mFree.push_back(end);
    return;
  }
  mCurrent.queries.push_back(begin);
  mCurrent.queries.push_back(end);
  mCurrent.keys.push_back(std::move(key));
}

bool FrameProfiler::Resolve(Pending& pending, bool force) {
  FrameProfile& p = pending.profile;
  std::vector<double> times(pending.keys.size());
  for (std::size_t i = 0; i < pending.keys.size(); ++i) {
    std::uint64_t t0 = 0, t1 = 0;
    bool r0 = false, r1 = false;
    if (platform::Failed(pending.queries[2 * i]->GetData(&t0, &r0)) ||
        platform::Failed(pending.queries[2 * i + 1]->GetData(&t1, &r1))) {
      r0 = r1 = false;
      force = true;  // a query that can never answer: give up on this frame
    }
    if (!r0 || !r1) {
      if (!force) return false;
      p.gpu = false;
      p.passes.clear();
      return true;
    }
    times[i] = t1 > t0 ? static_cast<double>(t1 - t0) * 1e-6 : 0.0;
  }
  p.gpu = !pending.keys.empty();
  for (std::size_t i = 0; i < pending.keys.size(); ++i) {
    bool merged = false;
    for (PassTime& t : p.passes) {
      if (t.key == pending.keys[i]) {
        t.ms += times[i];
        merged = true;
        break;
      }
    }
    if (!merged) p.passes.push_back({pending.keys[i], times[i]});
  }
  return true;
}

void FrameProfiler::Recycle(Pending& pending) {
  for (platform::Query* q : pending.queries) mFree.push_back(q);
  pending.queries.clear();
}

void FrameProfiler::Finish(FrameProfile profile) {
  mRecent.push_back(profile);
  if (mRecent.size() > kRecentFrames) mRecent.pop_front();
  mFinished.push_back(std::move(profile));
  // Nobody may be taking them (only the overlay looking): bounded.
  if (mFinished.size() > kMaxFinished) mFinished.erase(mFinished.begin());
}

std::vector<FrameProfile> FrameProfiler::TakeFinished() { return std::exchange(mFinished, {}); }

void FrameProfiler::ReleaseQueries() {
  // The CPU side of frames still waiting is kept; their GPU times are lost.
  for (Pending& pending : mPending) {
    for (platform::Query* q : pending.queries) q->Release();
    pending.profile.gpu = false;
    pending.profile.passes.clear();
    Finish(std::move(pending.profile));
  }
  mPending.clear();
  for (platform::Query* q : mCurrent.queries) q->Release();
  mCurrent.queries.clear();
  mCurrent.keys.clear();
  if (mOpen != nullptr) mOpen->Release();
  mOpen = nullptr;
  for (platform::Query* q : mFree) q->Release();
  mFree.clear();
  mGpu = true;
}

}  // namespace engine::core
