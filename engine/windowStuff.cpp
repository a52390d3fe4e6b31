#include "engine/windowStuff.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "engine/Window.h"
#include "engine/input.h"
#include "engine/kernel.h"
#include "engine/renderer.h"
#include "engine/sceneInfo.h"
#include "engine/screen.h"
#include "engine/logging.h"
#include "platform/dialog.h"
#include "platform/display.h"
#include "platform/resources.h"

namespace engine {
namespace {

constexpr int kDialogPicture = 106;

constexpr int kBackBufferFormats[] = {platform::kFormatX8R8G8B8, platform::kFormatR5G6B5};
constexpr int kMultiSampleTypes[] = {0, 2, 4, 6, 8};
constexpr float kAspectRatios[] = {-1.0f, 4.0f / 3.0f, 16.0f / 10.0f, 16.0f / 9.0f, 5.0f / 4.0f};

constexpr unsigned int kPresentIntervalOne = 1;
constexpr unsigned int kPresentIntervalImmediate = 0x80000000u;

template <class T, std::size_t N>
bool Pick(const T (&values)[N], int position, T* out) {
  if (position < 0 || static_cast<std::size_t>(position) >= N) return false;
  *out = values[position];
  return true;
}

template <class T>
bool Pick(const std::vector<T>& values, int position, T* out) {
  if (position < 0 || static_cast<std::size_t>(position) >= values.size()) return false;
  *out = values[static_cast<std::size_t>(position)];
  return true;
}

}  // namespace

DisplayChoices CollectDisplayChoices(const std::vector<platform::DisplayMode>& modes) {
  DisplayChoices choices;
  for (const platform::DisplayMode& mode : modes) {
    const std::pair<int, int> size(mode.width, mode.height);
    if (std::find(choices.resolutions.begin(), choices.resolutions.end(), size) ==
        choices.resolutions.end()) {
      choices.resolutions.push_back(size);
    }
    if (std::find(choices.rates.begin(), choices.rates.end(), mode.refreshRate) ==
        choices.rates.end()) {
      choices.rates.push_back(mode.refreshRate);
    }
  }
  std::sort(choices.resolutions.begin(), choices.resolutions.end());
  std::sort(choices.rates.begin(), choices.rates.end());
  return choices;
}

platform::dialog::SettingsDialogModel BuildSettingsDialogModel(const DisplayChoices& choices) {
  platform::dialog::SettingsDialogModel model;
  for (const auto& [width, height] : choices.resolutions) {
    model.resolutions.push_back(std::to_string(width) + " x " + std::to_string(height));
  }
  for (int rate : choices.rates) model.rates.push_back(std::to_string(rate) + "Hz");
  model.backBuffers = {"32bit", "16bit"};
  model.antialiasing = {"No Antialiasing", "2 Samples", "4 Samples", "6 Samples", "8 Samples"};
  model.aspects = {"Auto", "4:3", "16:10", "16:9", "5:4"};

  platform::dialog::SettingsSelection& initial = model.initial;
  // Without a 1024-wide mode the first one is taken: Start must never find
  // the resolution list without a selection.
  const auto& sizes = choices.resolutions;
  const auto wide = std::find_if(sizes.begin(), sizes.end(),
                                 [](const std::pair<int, int>& s) { return s.first == 1024; });
  initial.resolution = sizes.empty()         ? -1
                       : wide != sizes.end() ? static_cast<int>(wide - sizes.begin())
                                             : 0;
  const auto& rates = choices.rates;
  const auto sixty = std::find(rates.begin(), rates.end(), 60);
  initial.rate = rates.empty()          ? -1
                 : sixty != rates.end() ? static_cast<int>(sixty - rates.begin())
                                        : 0;
  initial.backBuffer = 0;
  initial.antialias = 0;
  initial.aspect = 0;
  initial.fullscreen = true;
  initial.vsync = false;
  initial.onTop = false;
  return model;
}

WindowSettings SettingsFromDialog(const platform::dialog::SettingsSelection& selection,
                                  const DisplayChoices& choices) {
  WindowSettings settings;
  std::pair<int, int> size;
  if (Pick(choices.resolutions, selection.resolution, &size)) {
    settings.width = size.first;
    settings.height = size.second;
  }
  Pick(choices.rates, selection.rate, &settings.refreshRate);
  Pick(kBackBufferFormats, selection.backBuffer, &settings.backBufferFormat);
  Pick(kMultiSampleTypes, selection.antialias, &settings.multiSampleType);
  Pick(kAspectRatios, selection.aspect, &settings.aspectRatio);
  settings.fullscreen = selection.fullscreen;
  settings.presentInterval = selection.vsync ? kPresentIntervalOne : kPresentIntervalImmediate;
  settings.alwaysOnTop = selection.onTop;
  settings.depthStencilFormat = 77;
  return settings;
}

WindowSettings SettingsDialog() {
  std::vector<platform::DisplayMode> modes =
      platform::EnumerateDisplayModes(platform::kFormatX8R8G8B8);
  const std::vector<platform::DisplayMode> modes16 =
      platform::EnumerateDisplayModes(platform::kFormatR5G6B5);
  modes.insert(modes.end(), modes16.begin(), modes16.end());

  const DisplayChoices choices = CollectDisplayChoices(modes);
  platform::dialog::SettingsDialogModel model = BuildSettingsDialogModel(choices);
  model.picture = platform::FindProgramResource(kDialogPicture);

  ENGINE_MESSAGE("Settings dialog initiated");
  const platform::dialog::SettingsDialogResult result = platform::dialog::RunSettingsDialog(model);
  if (result.ending == platform::dialog::Ending::Exit) std::exit(0);

  WindowSettings settings = SettingsFromDialog(result.selection, choices);
  if (result.ending == platform::dialog::Ending::Close) core::Kernel::Get()->Quit();
  return settings;
}

WindowSettings* GetWindowSettings() {
  static WindowSettings settings = [] {
    WindowSettings global;
    global.aspectRatio = 0.0f;
    return global;
  }();
  return &settings;
}

void CreateVELOXWindow(const WindowSettings& settings) {
  *GetWindowSettings() = settings;
  ENGINE_MESSAGE("Release build");
  core::CScreen* screen = pattern::Creator<core::CScreen>::CreateInstance();
  screen->Create(settings);
  core::Kernel* kernel = core::Kernel::Get();
  kernel->AddModule(screen, 1);
  kernel->AddModule(new gfx::Renderer, 10);
  kernel->AddModule(new core::InputUpdate, 2);
  kernel->AddModule(static_cast<core::Module*>(gfx::SceneInfo::Get()), 12);
  core::CWin32Window::Get()->SetClearColor(0);
}

}  // namespace engine
