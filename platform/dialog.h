#pragma once

#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/resources.h"

// The start-up settings dialog as the platform shows it (GTK 3). The engine
// decides the lists and maps the choice into its settings record; this
// layer only shows the controls and reports what was selected.
namespace platform::dialog {

// Positions selected in the lists (-1: nothing selected) and the boxes.
struct SettingsSelection {
  int resolution = -1;
  int rate = -1;
  int backBuffer = 0;
  int antialias = 0;
  int aspect = 0;
  bool fullscreen = true;
  bool vsync = false;
  bool onTop = false;
};

struct SettingsDialogModel {
  std::vector<std::string> resolutions;  // e.g. "1024 x 768"
  std::vector<std::string> rates;        // e.g. "60Hz"
  std::vector<std::string> backBuffers;
  std::vector<std::string> antialiasing;
  std::vector<std::string> aspects;
  SettingsSelection initial;
  ProgramResource picture;  // BMP file image shown at the top
};

enum class Ending { Start, Close, Exit };

struct SettingsDialogResult {
  Ending ending = Ending::Start;
  SettingsSelection selection;
};

// Shows the dialog and runs its modal loop until Start, Exit or the window's
// close button. Without a display it returns the initial selections with
// Ending::Start at once, so an unattended run never waits.
PLATFORM_API SettingsDialogResult RunSettingsDialog(const SettingsDialogModel& model);

}  // namespace platform::dialog
