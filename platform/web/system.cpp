// What a web page does not have: the settings dialog (the page starts the
// show with the settings of its address) and change notifications for live
// editing (the page's files never change while it runs).
#include "platform/dialog.h"
#include "platform/watch.h"

namespace platform {

namespace dialog {

SettingsDialogResult RunSettingsDialog(const SettingsDialogModel& model) {
  SettingsDialogResult result;
  result.selection = model.initial;
  return result;
}

}  // namespace dialog

FileWatcher::~FileWatcher() = default;

std::unique_ptr<FileWatcher> WatchFolder(const std::string&, std::string* why) {
  if (why != nullptr) *why = "a web page's files do not change while it runs";
  return nullptr;
}

}  // namespace platform
