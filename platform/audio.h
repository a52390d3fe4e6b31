#pragma once

#include <cstdint>
#include <string>

#include "platform/api.h"

// Music playback with the operations, results and error codes of the audio
// library the engine was designed for (version 2.3): SDL2 output, libmpg123
// decoding. Byte positions count decoded output bytes (16-bit stereo at the
// device rate). All calls are made from the main thread; decoding and mixing
// run on SDL's audio thread.
namespace platform::audio {

using Handle = std::uint32_t;  // 0 is never a valid stream

// Error codes, as the audio library numbers them.
enum Error : int {
  kOk = 0,
  kErrorMemory = 1,
  kErrorFileOpen = 2,
  kErrorDriver = 3,
  kErrorHandle = 5,
  kErrorFormat = 6,
  kErrorPosition = 7,
  kErrorInit = 8,
  kErrorAlready = 14,
  kErrorIllegalParameter = 20,
  kErrorDevice = 23,
  kErrorFileForm = 41,
  kErrorUnknown = -1,
};

constexpr std::uint32_t kStreamAutoFree = 0x40000;  // free the stream when it ends

// High word 0x0203: version 2.3.
PLATFORM_API std::uint32_t GetVersion();

// Opens the output. device -1 is the default device; frequency in Hz. When
// no real device opens, SDL's dummy driver is used and playback is silent
// (IsSilent() tells). kErrorAlready when already initialised.
PLATFORM_API bool Init(int device, std::uint32_t frequency, std::uint32_t flags);
PLATFORM_API bool IsSilent();

// A stream of an MP3 file: the whole file when length is 0. Fails with 0
// and an error code (kErrorFileOpen, kErrorFileForm, kErrorInit, ...).
PLATFORM_API Handle StreamCreateFile(const std::wstring& path, std::uint64_t offset,
                                     std::uint64_t length, std::uint32_t flags);

// Stops the stream and frees it; its handle is invalid afterwards.
PLATFORM_API bool StreamFree(Handle stream);

// Plays from the current position (restart false) or from the start.
PLATFORM_API bool ChannelPlay(Handle stream, bool restart);
PLATFORM_API bool ChannelPause(Handle stream);
PLATFORM_API bool ChannelStop(Handle stream);

// Byte offset of a time in the decoded output; ~0 on error.
PLATFORM_API std::uint64_t ChannelSeconds2Bytes(Handle stream, float seconds);
// Moves the stream to a byte offset, sample-exact. kErrorPosition for an
// offset at or past the end (the stream stays where it was).
PLATFORM_API bool ChannelSetPosition(Handle stream, std::uint64_t position);
// Current position and total length in bytes; ~0 on error.
PLATFORM_API std::uint64_t ChannelGetPosition(Handle stream);
PLATFORM_API std::uint64_t ChannelGetLength(Handle stream);

// The error code of the latest call on this thread.
PLATFORM_API int ErrorGetCode();

// Frees every stream and closes the output.
PLATFORM_API bool Free();

}  // namespace platform::audio
