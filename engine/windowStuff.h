#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/api.h"

namespace platform {
struct DisplayMode;
namespace dialog {
struct SettingsDialogModel;
struct SettingsSelection;
}  // namespace dialog
}  // namespace platform

namespace engine {

// The display settings from which the window and the device are created;
// shared by the program and the engine.
struct ENGINE_API WindowSettings {
  int width = 1024;
  int height = 768;
  int backBufferFormat = 22;    // X8R8G8B8; 23 for R5G6B5
  int depthStencilFormat = 77;  // D24X8
  int multiSampleType = 0;      // 0x7FFFFFFF: the device picks
  bool fullscreen = false;
  bool alwaysOnTop = false;
  int refreshRate = 60;
  float aspectRatio = -1.0f;         // <= 0: width / height
  unsigned int presentInterval = 0;  // 1 with vertical sync, 0x80000000 without
  std::wstring title = L"Empty";
};

// Lets the user choose the settings before the window exists. Close asks the
// kernel to quit and still returns the record; Exit ends the process with
// exit code 0. Unattended runs get the preselected choice at once.
ENGINE_API WindowSettings SettingsDialog();

// The engine's one settings record (aspectRatio 0, automatic, until the
// window is created from a caller's record).
ENGINE_API WindowSettings* GetWindowSettings();

// Stores the settings as the global ones, creates the window and the device
// and registers the screen (key 1), renderer (10), input roll-over (2) and
// scene information (12); clear colour 0. Errors are thrown.
ENGINE_API void CreateVELOXWindow(const WindowSettings& settings);

// What the two display-dependent lists stand for, item by item: unique
// sizes sorted by width then height, unique rates ascending.
struct ENGINE_API DisplayChoices {
  std::vector<std::pair<int, int>> resolutions;
  std::vector<int> rates;
};

ENGINE_API DisplayChoices CollectDisplayChoices(const std::vector<platform::DisplayMode>& modes);

// The dialog's texts and initial selections (the picture is left empty).
ENGINE_API platform::dialog::SettingsDialogModel BuildSettingsDialogModel(
    const DisplayChoices& choices);

// The record for a selection; positions outside the lists keep the
// defaults, so nothing is read from an invalid position.
ENGINE_API WindowSettings SettingsFromDialog(const platform::dialog::SettingsSelection& selection,
                                             const DisplayChoices& choices);

}  // namespace engine
