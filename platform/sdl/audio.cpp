#include "platform/audio.h"

#include <SDL.h>
#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/utf8.h"

// Threads: the API runs on the caller's thread under gApiMutex; decoding and
// mixing run in SDL's audio callback, which SDL calls with the device lock
// held. The API takes that lock (DeviceLock) whenever it changes something
// the callback reads: the stream table, a stream's state or its decoder.
// The callback never erases streams; an auto-free stream that ends is only
// marked dead and the API thread deletes it later, outside the device lock,
// after taking it out of the table under the lock, so a decoder is never
// freed while the callback may be inside it.
namespace platform::audio {
namespace {

constexpr std::uint32_t kVersion = 0x02030000;
constexpr std::uint32_t kDefaultRate = 44100;
constexpr int kChannels = 2;
constexpr std::uint64_t kBytesPerFrame = 4;  // 16-bit stereo
constexpr std::uint64_t kInvalid = ~std::uint64_t{0};
// About 23 ms at 44.1 kHz: positions advance in steps of one buffer.
constexpr Uint16 kBufferFrames = 1024;
constexpr double kMaxBitsPerSecond = 1e6;

thread_local int tError = kOk;

bool Fail(int code) {
  tError = code;
  return false;
}

template <typename T>
T Fail(int code, T value) {
  tError = code;
  return value;
}

// A byte range of an open file that the decoder sees as the whole file, so
// that a stream can start at an offset inside a larger file.
struct FileWindow {
  int fd = -1;
  off_t begin = 0;
  off_t size = 0;
  off_t pos = 0;
};

mpg123_ssize_t WindowRead(void* handle, void* buffer, size_t bytes) {
  auto* w = static_cast<FileWindow*>(handle);
  const off_t left = std::max<off_t>(0, w->size - w->pos);
  const size_t n = std::min<size_t>(bytes, static_cast<size_t>(left));
  if (n == 0) return 0;
  ssize_t got;
  do {
    got = pread(w->fd, buffer, n, w->begin + w->pos);
  } while (got < 0 && errno == EINTR);
  if (got > 0) w->pos += got;
  return got;
}

off_t WindowSeek(void* handle, off_t offset, int whence) {
  auto* w = static_cast<FileWindow*>(handle);
  off_t base = 0;
  if (whence == SEEK_CUR) {
    base = w->pos;
  } else if (whence == SEEK_END) {
    base = w->size;
  } else if (whence != SEEK_SET) {
    errno = EINVAL;
    return -1;
  }
  if (base + offset < 0) {
    errno = EINVAL;
    return -1;
  }
  w->pos = base + offset;
  return w->pos;
}

enum class State { kStopped, kPlaying, kPaused };

struct Stream {
  Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  ~Stream() {
    if (decoder != nullptr) mpg123_delete(decoder);
    if (file.fd >= 0) close(file.fd);
  }

  mpg123_handle* decoder = nullptr;
  FileWindow file;
  std::uint64_t length = 0;  // frames, from the scan
  bool autoFree = false;

  // Written under the device lock; atomic so that reads need no lock.
  std::atomic<std::uint64_t> position{0};  // frames handed to the device
  std::atomic<bool> dead{false};           // auto-freed, waiting to be deleted
  State state = State::kStopped;           // device lock
  bool drained = false;                    // decoder ran dry before `length`
};

struct Output {
  SDL_AudioDeviceID device = 0;
  std::uint32_t rate = 0;
  bool silent = false;
  bool ownsSubsystem = false;  // SDL_QuitSubSystem, else SDL_AudioQuit
  std::vector<Sint16> scratch;
  std::map<Handle, std::unique_ptr<Stream>> streams;
  std::atomic<bool> anyDead{false};
};

std::mutex gApiMutex;
// Never destroyed implicitly: at exit the audio thread may still run.
Output* gOutput = nullptr;
Handle gNextHandle = 1;  // never reused, so stale handles stay invalid

class DeviceLock {
 public:
  explicit DeviceLock(SDL_AudioDeviceID device) : mDevice(device) { SDL_LockAudioDevice(mDevice); }
  ~DeviceLock() { SDL_UnlockAudioDevice(mDevice); }
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

 private:
  SDL_AudioDeviceID mDevice;
};

void MixInto(Sint16* out, const Sint16* in, size_t samples) {
  for (size_t i = 0; i < samples; ++i) {
    const int sum = out[i] + in[i];
    out[i] = static_cast<Sint16>(std::clamp(sum, -32768, 32767));
  }
}

// Adds up to `frames` frames of the stream to `out` and advances it; at
// its end the stream stops (and, with auto-free, is marked dead).
void Render(Stream& s, Sint16* out, std::uint64_t frames, std::vector<Sint16>& scratch) {
  const std::uint64_t pos = s.position.load(std::memory_order_relaxed);
  const std::uint64_t want = std::min(frames, s.length - std::min(pos, s.length));
  const std::uint64_t scratchFrames = scratch.size() / kChannels;
  std::uint64_t done = 0;
  int idle = 0;
  while (done < want) {
    const std::uint64_t chunk = std::min(want - done, scratchFrames);
    std::uint64_t got = 0;
    if (!s.drained) {
      size_t bytes = 0;
      const int rc = mpg123_read(s.decoder, scratch.data(), chunk * kBytesPerFrame, &bytes);
      got = bytes / kBytesPerFrame;
      // A format message may come with no data; anything else that gives
      // nothing means the decoder has no more to give.
      if (got == 0 && (rc != MPG123_NEW_FORMAT || ++idle > 2)) s.drained = true;
    }
    if (s.drained && got == 0) {
      // The scan promised more than the decoder delivered: keep time
      // running with silence so that the stream still ends at its length.
      got = chunk;
    } else {
      MixInto(out + done * kChannels, scratch.data(), got * kChannels);
    }
    done += got;
  }
  const std::uint64_t now = pos + want;
  s.position.store(now, std::memory_order_relaxed);
  if (now >= s.length) {
    s.state = State::kStopped;
    if (s.autoFree) s.dead.store(true);
  }
}

void Callback(void* user, Uint8* data, int len) {
  auto& out = *static_cast<Output*>(user);
  std::memset(data, 0, static_cast<size_t>(len));
  const std::uint64_t frames = static_cast<std::uint64_t>(len) / kBytesPerFrame;
  auto* samples = reinterpret_cast<Sint16*>(data);
  for (auto& entry : out.streams) {
    Stream& s = *entry.second;
    if (s.state != State::kPlaying || s.dead.load(std::memory_order_relaxed)) continue;
    Render(s, samples, frames, out.scratch);
    if (s.dead.load(std::memory_order_relaxed)) out.anyDead.store(true);
  }
}

// Deletes the streams that freed themselves; called with gApiMutex held.
void Reap(Output& out) {
  if (!out.anyDead.load()) return;
  std::vector<std::unique_ptr<Stream>> dead;
  {
    DeviceLock lock(out.device);
    out.anyDead.store(false);
    for (auto it = out.streams.begin(); it != out.streams.end();) {
      if (it->second->dead.load()) {
        dead.push_back(std::move(it->second));
        it = out.streams.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Decoders are deleted here, where the callback can no longer reach them.
}

// The stream behind a handle, or null with the error set.
Stream* Lookup(Handle handle) {
  if (gOutput == nullptr) return Fail(kErrorInit, nullptr);
  Reap(*gOutput);
  auto it = gOutput->streams.find(handle);
  if (it == gOutput->streams.end() || it->second->dead.load()) return Fail(kErrorHandle, nullptr);
  return it->second.get();
}

// Moves the decoder to a frame; called with the device lock held.
bool SeekTo(Stream& s, std::uint64_t frame) {
  const off_t at = mpg123_seek(s.decoder, static_cast<off_t>(frame), SEEK_SET);
  if (at < 0) return false;
  s.position.store(static_cast<std::uint64_t>(at));
  s.drained = false;
  return static_cast<std::uint64_t>(at) == frame;
}

SDL_AudioDeviceID OpenDevice(Output& out, const char* name) {
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(out.rate);
  want.format = AUDIO_S16SYS;
  want.channels = kChannels;
  want.samples = kBufferFrames;
  want.callback = Callback;
  want.userdata = &out;
  SDL_AudioSpec got{};
  // No changes allowed: SDL converts to whatever the hardware takes, so the
  // callback always sees 16-bit stereo at the requested rate.
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(name, 0, &want, &got, 0);
  if (device != 0) out.scratch.assign(static_cast<size_t>(got.samples) * kChannels, 0);
  return device;
}

void EnsureDecoderLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
}

// The size of an ID3v2 tag at the start of the window (cover art can be
// much larger than the music), or 0.
off_t Id3v2Size(const FileWindow& w) {
  unsigned char h[10];
  if (w.size < static_cast<off_t>(sizeof h) ||
      pread(w.fd, h, sizeof h, w.begin) != static_cast<ssize_t>(sizeof h)) {
    return 0;
  }
  if (h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] == 0xFF || h[4] == 0xFF) return 0;
  off_t size = 0;
  for (int i = 6; i < 10; ++i) {
    if (h[i] & 0x80) return 0;
    size = (size << 7) | h[i];
  }
  size += sizeof h;
  if (h[5] & 0x10) size += sizeof h;  // footer
  return std::min(size, w.size);
}

// Opens the decoder on the stream's file window for 16-bit stereo at `rate`.
// Returns kOk or the error to report.
int OpenDecoder(Stream& s, std::uint32_t rate) {
  int err = MPG123_OK;
  s.decoder = mpg123_new(nullptr, &err);
  if (s.decoder == nullptr) return kErrorMemory;
  mpg123_param(s.decoder, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
  if (mpg123_replace_reader_handle(s.decoder, WindowRead, WindowSeek, nullptr) != MPG123_OK) {
    return kErrorUnknown;
  }

  // First look: the file's own rate decides whether to resample. Reading the
  // format makes the decoder find a real frame, not just open the file.
  long fileRate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_open_handle(s.decoder, &s.file) != MPG123_OK ||
      mpg123_getformat(s.decoder, &fileRate, &channels, &encoding) != MPG123_OK) {
    return kErrorFileForm;
  }
  mpg123_close(s.decoder);
  s.file.pos = 0;

  if (fileRate != static_cast<long>(rate) &&
      mpg123_param(s.decoder, MPG123_FORCE_RATE, static_cast<long>(rate), 0.0) != MPG123_OK) {
    return kErrorFormat;
  }
  // Only one output format: mono is duplicated to both channels.
  if (mpg123_format_none(s.decoder) != MPG123_OK ||
      mpg123_format(s.decoder, static_cast<long>(rate), MPG123_STEREO, MPG123_ENC_SIGNED_16) !=
          MPG123_OK) {
    return kErrorFormat;
  }
  if (mpg123_open_handle(s.decoder, &s.file) != MPG123_OK) return kErrorFileForm;
  if (mpg123_getformat(s.decoder, &fileRate, &channels, &encoding) != MPG123_OK) {
    return kErrorFormat;
  }
  if (fileRate != static_cast<long>(rate) || channels != kChannels ||
      encoding != MPG123_ENC_SIGNED_16) {
    return kErrorFormat;
  }
  // The scan counts every frame: exact length (with the encoder's delay and
  // padding removed) and a full seek index.
  if (mpg123_scan(s.decoder) != MPG123_OK) return kErrorFileForm;
  const off_t length = mpg123_length(s.decoder);
  if (length <= 0) return kErrorFileForm;
  // Other data (PCM above all) holds byte patterns that pass for frame
  // headers, so the decoder "finds" a few frames in a large file. Real MPEG
  // audio never averages more than 448 kbit/s (640 in free format).
  const double seconds = static_cast<double>(mpg123_framelength(s.decoder)) * mpg123_tpf(s.decoder);
  const double bytes = static_cast<double>(s.file.size - Id3v2Size(s.file));
  if (!(seconds > 0.0) || bytes * 8.0 > kMaxBitsPerSecond * seconds) return kErrorFileForm;
  s.length = static_cast<std::uint64_t>(length);
  return kOk;
}

}  // namespace

std::uint32_t GetVersion() { return kVersion; }

bool Init(int device, std::uint32_t frequency, std::uint32_t /*flags*/) {
  std::lock_guard<std::mutex> api(gApiMutex);
  if (gOutput != nullptr) return Fail(kErrorAlready);
  if (device < -1) return Fail(kErrorDevice);

  auto out = std::make_unique<Output>();
  out->rate = frequency != 0 ? frequency : kDefaultRate;

  // Device -1 is the default output, 0 no sound, n the n-th output device.
  out->ownsSubsystem = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  if (out->ownsSubsystem && device != 0) {
    const char* name = nullptr;
    if (device > 0) {
      const int count = SDL_GetNumAudioDevices(0);
      if (device > count) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return Fail(kErrorDevice);
      }
      name = SDL_GetAudioDeviceName(device - 1, 0);
    }
    out->device = OpenDevice(*out, name);
  }
  if (out->device == 0) {
    // No sound card (or none asked for): the dummy driver consumes the
    // output in real time, so the music clock still runs.
    if (out->ownsSubsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    out->ownsSubsystem = false;
    if (SDL_AudioInit("dummy") != 0) return Fail(kErrorDriver);
    out->device = OpenDevice(*out, nullptr);
    if (out->device == 0) {
      SDL_AudioQuit();
      return Fail(kErrorDevice);
    }
  }
  const char* driver = SDL_GetCurrentAudioDriver();
  out->silent = driver == nullptr || std::strcmp(driver, "dummy") == 0;

  gOutput = out.release();
  SDL_PauseAudioDevice(gOutput->device, 0);
  tError = kOk;
  return true;
}

bool IsSilent() {
  std::lock_guard<std::mutex> api(gApiMutex);
  return gOutput != nullptr && gOutput->silent;
}

Handle StreamCreateFile(const std::wstring& path, std::uint64_t offset, std::uint64_t length,
                        std::uint32_t flags) {
  std::lock_guard<std::mutex> api(gApiMutex);
  if (gOutput == nullptr) return Fail(kErrorInit, Handle{0});
  Reap(*gOutput);
  EnsureDecoderLibrary();

  auto stream = std::make_unique<Stream>();
  const std::string name = utf8::Encode(path);
  stream->file.fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (stream->file.fd < 0 || fstat(stream->file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return Fail(kErrorFileOpen, Handle{0});
  }
  const std::uint64_t fileSize = static_cast<std::uint64_t>(info.st_size);
  const std::uint64_t begin = std::min(offset, fileSize);
  const std::uint64_t size = length == 0 ? fileSize - begin : std::min(length, fileSize - begin);
  stream->file.begin = static_cast<off_t>(begin);
  stream->file.size = static_cast<off_t>(size);

  const int err = OpenDecoder(*stream, gOutput->rate);
  if (err != kOk) return Fail(err, Handle{0});
  stream->autoFree = (flags & kStreamAutoFree) != 0;

  Handle handle = gNextHandle++;
  if (handle == 0) handle = gNextHandle++;
  {
    DeviceLock lock(gOutput->device);
    gOutput->streams.emplace(handle, std::move(stream));
  }
  tError = kOk;
  return handle;
}

bool ChannelPlay(Handle handle, bool restart) {
  std::lock_guard<std::mutex> api(gApiMutex);
  Stream* s = Lookup(handle);
  if (s == nullptr) return false;
  DeviceLock lock(gOutput->device);
  if (restart && !SeekTo(*s, 0)) return Fail(kErrorUnknown);
  s->state = State::kPlaying;
  tError = kOk;
  return true;
}

bool ChannelPause(Handle handle) {
  std::lock_guard<std::mutex> api(gApiMutex);
  Stream* s = Lookup(handle);
  if (s == nullptr) return false;
  DeviceLock lock(gOutput->device);
  if (s->state == State::kPlaying) s->state = State::kPaused;
  tError = kOk;
  return true;
}

bool StreamFree(Handle handle) {
  std::lock_guard<std::mutex> api(gApiMutex);
  if (Lookup(handle) == nullptr) return false;
  // Out of the table under the device lock, deleted outside it (as Reap).
  std::unique_ptr<Stream> freed;
  {
    DeviceLock lock(gOutput->device);
    auto it = gOutput->streams.find(handle);
    freed = std::move(it->second);
    gOutput->streams.erase(it);
  }
  tError = kOk;
  return true;
}

bool ChannelStop(Handle handle) {
  std::lock_guard<std::mutex> api(gApiMutex);
  Stream* s = Lookup(handle);
  if (s == nullptr) return false;
  DeviceLock lock(gOutput->device);
  s->state = State::kStopped;
  tError = kOk;
  return true;
}

std::uint64_t ChannelSeconds2Bytes(Handle handle, float seconds) {
  std::lock_guard<std::mutex> api(gApiMutex);
  if (Lookup(handle) == nullptr) return kInvalid;
  if (!std::isfinite(seconds) || seconds < 0.0f) return Fail(kErrorIllegalParameter, kInvalid);
  // In double the product is exact; in float it rounds by whole frames
  // once the time grows past a few minutes.
  const double frames = std::floor(static_cast<double>(seconds) * gOutput->rate);
  if (frames >= 0x1p60) return Fail(kErrorIllegalParameter, kInvalid);
  tError = kOk;
  return static_cast<std::uint64_t>(frames) * kBytesPerFrame;
}

bool ChannelSetPosition(Handle handle, std::uint64_t position) {
  std::lock_guard<std::mutex> api(gApiMutex);
  Stream* s = Lookup(handle);
  if (s == nullptr) return false;
  if (position == kInvalid) return Fail(kErrorPosition);
  const std::uint64_t frame = position / kBytesPerFrame;  // whole frames only
  if (frame >= s->length) return Fail(kErrorPosition);
  DeviceLock lock(gOutput->device);
  const std::uint64_t previous = s->position.load();
  if (!SeekTo(*s, frame)) {
    SeekTo(*s, previous);
    return Fail(kErrorPosition);
  }
  tError = kOk;
  return true;
}

std::uint64_t ChannelGetPosition(Handle handle) {
  std::lock_guard<std::mutex> api(gApiMutex);
  Stream* s = Lookup(handle);
  if (s == nullptr) return kInvalid;
  tError = kOk;
  return s->position.load() * kBytesPerFrame;
}

std::uint64_t ChannelGetLength(Handle handle) {
  std::lock_guard<std::mutex> api(gApiMutex);
  Stream* s = Lookup(handle);
  if (s == nullptr) return kInvalid;
  tError = kOk;
  return s->length * kBytesPerFrame;
}

int ErrorGetCode() { return tError; }

bool Free() {
  std::lock_guard<std::mutex> api(gApiMutex);
  if (gOutput == nullptr) return Fail(kErrorInit);
  std::unique_ptr<Output> out(gOutput);
  gOutput = nullptr;
  // Closing joins the audio thread; after it nothing touches the streams.
  SDL_CloseAudioDevice(out->device);
  out->streams.clear();
  if (out->ownsSubsystem) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  } else {
    SDL_AudioQuit();
  }
  tError = kOk;
  return true;
}

}  // namespace platform::audio
