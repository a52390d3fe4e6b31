#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/graphics.h"

// Controls of the null graphics backend for tests: what it reports, which
// calls fail, and the record of every call the engine made.
namespace platform::null {

struct Settings {
  // Reported by GetDeviceCaps (adapter and device).
  Caps caps = DefaultCaps();
  // Multisample levels that CheckDeviceMultiSampleType accepts, by format;
  // a format not listed accepts levels 0, 2 and 4.
  std::map<std::uint32_t, std::vector<int>> multisampleLevels;
  AdapterIdentifier identifier = {"null", "Null graphics device", "null0", 0, 0, ""};

  // Each counts down: the next n calls of that kind fail.
  int failCreateDevice = 0;
  int failCreateTexture = 0;  // textures and cube textures
  int failCreateVertexBuffer = 0;
  int failCreateIndexBuffer = 0;
  int failCreateDeclaration = 0;
  int failGetSurface = 0;  // GetSurfaceLevel, GetCubeMapSurface, GetBackBuffer, GetRenderTarget
  int failReset = 0;
  int failDraw = 0;
  // A simulated GPU clock for timestamp queries (off: the device has none,
  // as a driver without timer queries): every draw takes drawNanoseconds,
  // and a query's time can be read only after the next Present.
  bool timestamps = false;
  std::uint64_t drawNanoseconds = 1000000;

  static Caps DefaultCaps();
};

PLATFORM_API Settings& GetSettings();
// Back to the defaults; the call record is cleared too.
PLATFORM_API void ResetSettings();

// Every call on a null device, one line each, for example
//   "Clear 3 0xff000000 1 0 -> backbuffer"
//   "DrawIndexedPrimitive 4 0 0 4 0 2 -> texture#2:0"
// (the target after "->" is the render target bound at the time).
PLATFORM_API const std::vector<std::string>& CallRecord();
PLATFORM_API void ClearCallRecord();
// Adds a line to the record (the effect framework's calls on a null device).
void RecordCall(const std::string& line);

// The live device loses itself: TestCooperativeLevel answers kDeviceLost
// for `checksBeforeReset` calls, then kDeviceNotReset until a Reset
// succeeds; Present fails with kDeviceLost meanwhile.
PLATFORM_API void LoseDevice(int checksBeforeReset);

// Default-pool resources alive on the live device (Reset needs 0).
PLATFORM_API int LiveDefaultPoolResources();

}  // namespace platform::null
