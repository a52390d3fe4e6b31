#include "platform/fx/bakedStages.h"

#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace platform::fx {

namespace {

constexpr char kMagic[8] = {'V', 'X', 'S', 'T', 'A', 'G', 'E', 'S'};
constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kMaxText = 16u << 20;

// FNV-1a, 64 bits: stable across hosts and builds, unlike std::hash.
class Hasher {
 public:
  void Bytes(const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) mValue = (mValue ^ p[i]) * 0x100000001b3ull;
  }
  void U32(std::uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    Bytes(b, 4);
  }
  void Text(const std::string& s) {
    U32(static_cast<std::uint32_t>(s.size()));
    Bytes(s.data(), s.size());
  }
  void Expr(const CompileExpr* e) {
    if (e == nullptr) {
      U32(0);
      return;
    }
    U32(1);
    Text(e->profile);
    Text(e->entry);
    U32(static_cast<std::uint32_t>(e->arguments.size()));
    for (const std::vector<double>& a : e->arguments) {
      U32(static_cast<std::uint32_t>(a.size()));
      for (const double d : a) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, 8);
        U32(static_cast<std::uint32_t>(bits));
        U32(static_cast<std::uint32_t>(bits >> 32));
      }
    }
  }
  std::uint64_t Value() const { return mValue; }

 private:
  std::uint64_t mValue = 0xcbf29ce484222325ull;
};

class Writer {
 public:
  void U8(std::uint8_t v) { mOut.push_back(static_cast<char>(v)); }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void U64(std::uint64_t v) {
    U32(static_cast<std::uint32_t>(v));
    U32(static_cast<std::uint32_t>(v >> 32));
  }
  void Bytes(const void* p, std::size_t n) { mOut.append(static_cast<const char*>(p), n); }
  void Text(const std::string& s) {
    U32(static_cast<std::uint32_t>(s.size()));
    Bytes(s.data(), s.size());
  }
  void Stage(const StageProgram& s) {
    U8(s.present ? 1 : 0);
    U32(s.version);
    Text(s.profile);
    Text(s.entry);
    Text(s.glsl);
    U32(s.blockSize);
    U8(s.flattened ? 1 : 0);
    U32(static_cast<std::uint32_t>(s.constants.size()));
    Bytes(s.constants.data(), s.constants.size());
    U32(static_cast<std::uint32_t>(s.uniforms.size()));
    for (const UniformSlot& u : s.uniforms) {
      U32(static_cast<std::uint32_t>(u.parameter));
      U32(static_cast<std::uint32_t>(u.ops.size()));
      for (const CopyOp& op : u.ops) {
        U32(op.source);
        U32(op.destination);
        U8(op.convert);
      }
    }
    U32(static_cast<std::uint32_t>(s.samplers.size()));
    for (const int i : s.samplers) U32(static_cast<std::uint32_t>(i));
    U32(static_cast<std::uint32_t>(s.samplerBindings.size()));
    for (const SamplerBinding& b : s.samplerBindings) {
      Text(b.name);
      U32(static_cast<std::uint32_t>(b.unit));
    }
  }
  std::string Take() { return std::move(mOut); }

 private:
  std::string mOut;
};

// Every read is checked against what remains; a count is trusted only as far
// as the bytes left could hold that many items.
class Reader {
 public:
  Reader(const void* data, std::size_t size) : mData(static_cast<const unsigned char*>(data)), mSize(size) {}
  bool Bytes(void* out, std::size_t n) {
    if (n > mSize - mPos) return false;
    if (n > 0) std::memcpy(out, mData + mPos, n);
    mPos += n;
    return true;
  }
  bool U8(std::uint8_t* v) { return Bytes(v, 1); }
  bool U32(std::uint32_t* v) {
    unsigned char b[4];
    if (!Bytes(b, 4)) return false;
    *v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    return true;
  }
  bool U64(std::uint64_t* v) {
    std::uint32_t lo, hi;
    if (!U32(&lo) || !U32(&hi)) return false;
    *v = lo | (static_cast<std::uint64_t>(hi) << 32);
    return true;
  }
  bool Count(std::uint32_t* n, std::size_t itemBytes) {
    return U32(n) && static_cast<std::uint64_t>(*n) * itemBytes <= mSize - mPos;
  }
  bool Text(std::string* s) {
    std::uint32_t n;
    if (!Count(&n, 1) || n > kMaxText) return false;
    s->assign(reinterpret_cast<const char*>(mData + mPos), n);
    mPos += n;
    return true;
  }
  bool Flag(bool* b) {
    std::uint8_t v;
    if (!U8(&v) || v > 1) return false;
    *b = v == 1;
    return true;
  }
  bool Stage(StageProgram* s) {
    std::uint32_t n;
    if (!Flag(&s->present) || !U32(&s->version) || !Text(&s->profile) || !Text(&s->entry) ||
        !Text(&s->glsl) || !U32(&s->blockSize) || !Flag(&s->flattened) || !Count(&n, 1)) {
      return false;
    }
    s->constants.resize(n);
    if (!Bytes(s->constants.data(), n) || !Count(&n, 8)) return false;
    s->uniforms.resize(n);
    for (UniformSlot& u : s->uniforms) {
      std::uint32_t parameter, ops;
      if (!U32(&parameter) || !Count(&ops, 9)) return false;
      u.parameter = static_cast<int>(parameter);
      u.ops.resize(ops);
      for (CopyOp& op : u.ops) {
        std::uint8_t convert;
        if (!U32(&op.source) || !U32(&op.destination) || !U8(&convert) || convert > CopyOp::FloatToBool) {
          return false;
        }
        op.convert = static_cast<CopyOp::Convert>(convert);
      }
    }
    if (!Count(&n, 4)) return false;
    s->samplers.resize(n);
    for (int& i : s->samplers) {
      std::uint32_t v;
      if (!U32(&v)) return false;
      i = static_cast<int>(v);
    }
    if (!Count(&n, 8)) return false;
    s->samplerBindings.resize(n);
    for (SamplerBinding& b : s->samplerBindings) {
      std::uint32_t unit;
      if (!Text(&b.name) || !U32(&unit)) return false;
      b.unit = static_cast<int>(unit);
    }
    return true;
  }
  bool AtEnd() const { return mPos == mSize; }

 private:
  const unsigned char* mData;
  std::size_t mSize;
  std::size_t mPos = 0;
};

bool StageFits(const CompiledEffect& effect, const StageProgram& s, std::string* why) {
  if (!s.present) return true;
  if (s.constants.size() != s.blockSize) {
    *why = "a block's initial bytes do not match its size";
    return false;
  }
  const std::size_t parameters = effect.source.parameters.size();
  for (const UniformSlot& u : s.uniforms) {
    if (u.parameter < 0 || static_cast<std::size_t>(u.parameter) >= parameters) {
      *why = "a uniform names no parameter of the effect";
      return false;
    }
    const std::uint32_t bytes = effect.source.parameters[static_cast<std::size_t>(u.parameter)].type.Bytes();
    for (const CopyOp& op : u.ops) {
      if (op.source > bytes || bytes - op.source < 4 || op.destination > s.blockSize ||
          s.blockSize - op.destination < 4) {
        *why = "a uniform reads or writes outside its value or block";
        return false;
      }
    }
  }
  for (const int i : s.samplers) {
    if (i < 0 || static_cast<std::size_t>(i) >= effect.samplers.size() ||
        effect.samplers[static_cast<std::size_t>(i)].unit < 0) {
      *why = "a sampler names no sampler of the effect";
      return false;
    }
  }
  for (const SamplerBinding& b : s.samplerBindings) {
    bool known = false;
    for (const SamplerInfo& info : effect.samplers) known = known || (info.unit >= 0 && info.unit == b.unit);
    if (!known || b.name.empty()) {
      *why = "a sampler binding names no unit of the effect";
      return false;
    }
  }
  return true;
}

std::mutex gStoreMutex;
std::unique_ptr<StageStore> gStore;
bool gRecording = false;
bool gLoaded = false;

}  // namespace

const BakedPass* StageStore::Find(std::uint64_t key) const {
  const auto found = mPasses.find(key);
  return found == mPasses.end() ? nullptr : &found->second;
}

void StageStore::Add(std::uint64_t key, const CompiledPass& pass) { mPasses[key] = {pass.vertex, pass.pixel}; }

std::string StageStore::Write() const {
  Writer w;
  w.Bytes(kMagic, sizeof kMagic);
  w.U32(kVersion);
  w.Text(mTarget);
  w.U32(static_cast<std::uint32_t>(mPasses.size()));
  for (const auto& [key, pass] : mPasses) {
    w.U64(key);
    w.Stage(pass.vertex);
    w.Stage(pass.pixel);
  }
  return w.Take();
}

bool StageStore::Read(const void* data, std::size_t size, std::string* error) {
  if (ReadInto(data, size, error)) {
    mProblem.clear();
    return true;
  }
  mProblem = *error;
  mPasses.clear();
  return false;
}

bool StageStore::ReadInto(const void* data, std::size_t size, std::string* error) {
  Reader r(data, size);
  char magic[sizeof kMagic];
  std::uint32_t version = 0, count = 0;
  std::string target;
  if (!r.Bytes(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof magic) != 0) {
    *error = "not a file of baked shader stages";
    return false;
  }
  if (!r.U32(&version) || version != kVersion) {
    *error = "baked shader stages of another version";
    return false;
  }
  // Each pass takes well over 16 bytes: the count cannot outrun the file.
  if (!r.Text(&target) || !r.Count(&count, 16)) {
    *error = "damaged file of baked shader stages";
    return false;
  }
  std::map<std::uint64_t, BakedPass> passes;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint64_t key;
    BakedPass pass;
    if (!r.U64(&key) || !r.Stage(&pass.vertex) || !r.Stage(&pass.pixel)) {
      *error = "damaged file of baked shader stages";
      return false;
    }
    passes[key] = std::move(pass);
  }
  if (!r.AtEnd()) {
    *error = "damaged file of baked shader stages";
    return false;
  }
  mTarget = std::move(target);
  mPasses = std::move(passes);
  return true;
}

std::uint64_t StageKey(const CompiledEffect& effect, const CompileExpr* vertex, const CompileExpr* pixel,
                       const RenderStates& states, const std::string& target) {
  Hasher h;
  h.Text(target);
  h.Text(effect.source.hlsl);
  h.U32(static_cast<std::uint32_t>(effect.samplers.size()));
  for (const SamplerInfo& s : effect.samplers) h.U32(static_cast<std::uint32_t>(s.unit));
  h.Expr(vertex);
  h.Expr(pixel);
  h.U32(states.set);
  for (const std::uint32_t v : states.value) h.U32(v);
  return h.Value();
}

bool BakedPassFits(const CompiledEffect& effect, const CompiledPass& pass, std::string* why) {
  return StageFits(effect, pass.vertex, why) && StageFits(effect, pass.pixel, why);
}

StageStore* ActiveStageStore() {
  std::lock_guard<std::mutex> lock(gStoreMutex);
  return gStore.get();
}

void SetActiveStageStore(std::unique_ptr<StageStore> store, bool record) {
  std::lock_guard<std::mutex> lock(gStoreMutex);
  gStore = std::move(store);
  gRecording = gStore != nullptr && record;
  gLoaded = true;
}

bool RecordingStages() {
  std::lock_guard<std::mutex> lock(gStoreMutex);
  return gRecording;
}

void LoadBakedStagesOnce() {
  {
    std::lock_guard<std::mutex> lock(gStoreMutex);
    if (gLoaded) return;
    gLoaded = true;
  }
  std::ifstream in(kBakedStagesPath, std::ios::binary);
  if (!in) return;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  const std::string data = bytes.str();
  auto store = std::make_unique<StageStore>("");
  std::string error;
  // A damaged store answers nothing: every pass then fails and says why,
  // rather than drawing with half a file.
  store->Read(data.data(), data.size(), &error);
  std::lock_guard<std::mutex> lock(gStoreMutex);
  gStore = std::move(store);
  gRecording = false;
}

}  // namespace platform::fx
