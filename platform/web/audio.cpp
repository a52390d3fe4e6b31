#include "platform/audio.h"

#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "platform/utf8.h"

// Music in a web browser: the browser decodes the MP3 (decodeAudioData) and
// plays it through Web Audio; a stream's position is read off the audio
// context's clock, so the demo's clock follows what is heard. The page makes
// the context on the user's click (browsers start audio only then) and hands
// it over as Module.veloxAudioContext; without one (audio refused, or a test
// page) the streams run silent on the page's own clock, as the native
// program runs on SDL's dummy driver. Everything runs on the page's thread.
namespace platform::audio {
namespace {

constexpr std::uint32_t kVersion = 0x02030000;
constexpr std::uint32_t kDefaultRate = 44100;
constexpr std::uint64_t kBytesPerFrame = 4;  // 16-bit stereo, as the native output counts
constexpr std::uint64_t kInvalid = ~std::uint64_t{0};

int gError = kOk;

bool Fail(int code) {
  gError = code;
  return false;
}

template <typename T>
T Fail(int code, T value) {
  gError = code;
  return value;
}

// clang-format off
EM_JS(int, velox_audio_open, (), {
  var ctx = Module.veloxAudioContext || null;
  Module.veloxAudio = { ctx: ctx, buffers: {}, sources: {}, next: 1 };
  return ctx ? 1 : 0;
});

// Seconds on the clock the streams run on.
EM_JS(double, velox_audio_now, (), {
  var a = Module.veloxAudio;
  return a && a.ctx ? a.ctx.currentTime : performance.now() / 1000;
});

// Decodes an MP3 held in the heap; the buffer's id, or 0 when the browser
// cannot decode it. Its length in seconds goes to *seconds.
EM_ASYNC_JS(int, velox_audio_decode, (const void* data, int size, double* seconds), {
  var a = Module.veloxAudio;
  var bytes = HEAPU8.slice(data, data + size).buffer;
  try {
    // Any context decodes; an offline one when the page gave none.
    var ctx = a.ctx || new OfflineAudioContext(2, 1, 44100);
    var buffer = await ctx.decodeAudioData(bytes);
    var id = a.next++;
    a.buffers[id] = buffer;
    HEAPF64[seconds >> 3] = buffer.duration;
    return id;
  } catch (e) {
    return 0;
  }
});

EM_JS(void, velox_audio_start, (int id, double offset), {
  var a = Module.veloxAudio;
  if (!a.ctx || !a.buffers[id]) return;
  if (a.sources[id]) { try { a.sources[id].stop(); } catch (e) {} }
  var source = a.ctx.createBufferSource();
  source.buffer = a.buffers[id];
  source.connect(a.ctx.destination);
  source.start(0, offset);
  a.sources[id] = source;
});

EM_JS(void, velox_audio_stop, (int id), {
  var a = Module.veloxAudio;
  if (a && a.sources[id]) {
    try { a.sources[id].stop(); } catch (e) {}
    delete a.sources[id];
  }
});

EM_JS(void, velox_audio_release, (int id), {
  var a = Module.veloxAudio;
  if (a) delete a.buffers[id];
});
// clang-format on

enum class State { kStopped, kPlaying, kPaused };

struct Stream {
  int buffer = 0;
  std::uint64_t length = 0;  // frames at the output rate
  State state = State::kStopped;
  double base = 0;           // seconds into the music when the clock was read last
  double startedAt = 0;      // the clock's time when playing began
  bool autoFree = false;
};

struct Output {
  std::uint32_t rate = kDefaultRate;
  bool silent = true;
  std::map<Handle, Stream> streams;
  Handle next = 1;
};

Output* gOutput = nullptr;

double Seconds(const Stream& s) {
  if (s.state != State::kPlaying) return s.base;
  return s.base + (velox_audio_now() - s.startedAt);
}

// Streams that played to their end stop there (and go, when auto-free).
void Settle() {
  for (auto it = gOutput->streams.begin(); it != gOutput->streams.end();) {
    Stream& s = it->second;
    const double end = static_cast<double>(s.length) / gOutput->rate;
    if (s.state == State::kPlaying && Seconds(s) >= end) {
      velox_audio_stop(s.buffer);
      s.state = State::kStopped;
      s.base = end;
      if (s.autoFree) {
        velox_audio_release(s.buffer);
        it = gOutput->streams.erase(it);
        continue;
      }
    }
    ++it;
  }
}

Stream* Lookup(Handle handle) {
  if (gOutput == nullptr) return Fail(kErrorInit, static_cast<Stream*>(nullptr));
  Settle();
  const auto it = gOutput->streams.find(handle);
  return it == gOutput->streams.end() ? Fail(kErrorHandle, static_cast<Stream*>(nullptr)) : &it->second;
}

void PlayFrom(Stream& s, double seconds) {
  s.base = seconds;
  s.startedAt = velox_audio_now();
  s.state = State::kPlaying;
  velox_audio_start(s.buffer, seconds);
}

}  // namespace

std::uint32_t GetVersion() { return kVersion; }

bool Init(int device, std::uint32_t frequency, std::uint32_t /*flags*/) {
  if (gOutput != nullptr) return Fail(kErrorAlready);
  if (device < -1) return Fail(kErrorDevice);
  gOutput = new Output();
  gOutput->rate = frequency != 0 ? frequency : kDefaultRate;
  gOutput->silent = velox_audio_open() == 0 || device == 0;
  gError = kOk;
  return true;
}

bool IsSilent() { return gOutput != nullptr && gOutput->silent; }

Handle StreamCreateFile(const std::wstring& path, std::uint64_t offset, std::uint64_t length,
                        std::uint32_t flags) {
  if (gOutput == nullptr) return Fail(kErrorInit, Handle{0});
  std::FILE* f = std::fopen(utf8::Encode(path).c_str(), "rb");
  if (f == nullptr) return Fail(kErrorFileOpen, Handle{0});
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  const std::uint64_t begin = std::min<std::uint64_t>(offset, bytes.size());
  const std::uint64_t size = length == 0 ? bytes.size() - begin : std::min<std::uint64_t>(length, bytes.size() - begin);
  if (size == 0 || size > (1u << 30)) return Fail(kErrorFileForm, Handle{0});
  double seconds = 0;
  const int buffer = velox_audio_decode(bytes.data() + begin, static_cast<int>(size), &seconds);
  if (buffer == 0 || !(seconds > 0)) return Fail(kErrorFileForm, Handle{0});
  Stream s;
  s.buffer = buffer;
  s.length = static_cast<std::uint64_t>(std::floor(seconds * gOutput->rate));
  s.autoFree = (flags & kStreamAutoFree) != 0;
  Handle handle = gOutput->next++;
  if (handle == 0) handle = gOutput->next++;
  gOutput->streams.emplace(handle, s);
  gError = kOk;
  return handle;
}

bool ChannelPlay(Handle handle, bool restart) {
  Stream* s = Lookup(handle);
  if (s == nullptr) return false;
  const double from = restart ? 0.0 : Seconds(*s);
  if (s->state != State::kPlaying || restart) PlayFrom(*s, from);
  gError = kOk;
  return true;
}

bool ChannelPause(Handle handle) {
  Stream* s = Lookup(handle);
  if (s == nullptr) return false;
  if (s->state == State::kPlaying) {
    s->base = Seconds(*s);
    s->state = State::kPaused;
    velox_audio_stop(s->buffer);
  }
  gError = kOk;
  return true;
}

bool StreamFree(Handle handle) {
  Stream* s = Lookup(handle);
  if (s == nullptr) return false;
  velox_audio_stop(s->buffer);
  velox_audio_release(s->buffer);
  gOutput->streams.erase(handle);
  gError = kOk;
  return true;
}

bool ChannelStop(Handle handle) {
  Stream* s = Lookup(handle);
  if (s == nullptr) return false;
  s->base = Seconds(*s);
  s->state = State::kStopped;
  velox_audio_stop(s->buffer);
  gError = kOk;
  return true;
}

std::uint64_t ChannelSeconds2Bytes(Handle handle, float seconds) {
  if (Lookup(handle) == nullptr) return kInvalid;
  if (!std::isfinite(seconds) || seconds < 0.0f) return Fail(kErrorIllegalParameter, kInvalid);
  const double frames = std::floor(static_cast<double>(seconds) * gOutput->rate);
  if (frames >= 0x1p60) return Fail(kErrorIllegalParameter, kInvalid);
  gError = kOk;
  return static_cast<std::uint64_t>(frames) * kBytesPerFrame;
}

bool ChannelSetPosition(Handle handle, std::uint64_t position) {
  Stream* s = Lookup(handle);
  if (s == nullptr) return false;
  if (position == kInvalid || position / kBytesPerFrame >= s->length) return Fail(kErrorPosition);
  const double seconds = static_cast<double>(position / kBytesPerFrame) / gOutput->rate;
  if (s->state == State::kPlaying) PlayFrom(*s, seconds);
  else s->base = seconds;
  gError = kOk;
  return true;
}

std::uint64_t ChannelGetPosition(Handle handle) {
  Stream* s = Lookup(handle);
  if (s == nullptr) return kInvalid;
  gError = kOk;
  const double frames = std::floor(Seconds(*s) * gOutput->rate);
  return std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(frames, 0.0)), s->length) * kBytesPerFrame;
}

std::uint64_t ChannelGetLength(Handle handle) {
  Stream* s = Lookup(handle);
  if (s == nullptr) return kInvalid;
  gError = kOk;
  return s->length * kBytesPerFrame;
}

int ErrorGetCode() { return gError; }

bool Free() {
  if (gOutput == nullptr) return Fail(kErrorInit);
  for (auto& [handle, s] : gOutput->streams) {
    velox_audio_stop(s.buffer);
    velox_audio_release(s.buffer);
  }
  delete gOutput;
  gOutput = nullptr;
  gError = kOk;
  return true;
}

}  // namespace platform::audio
