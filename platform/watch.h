#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/api.h"

namespace platform {

// Files that changed under a folder and its subfolders, reported only once
// they are complete: closed after writing, moved or renamed into place, or
// removed. A file still being written is not reported until it is closed.
class PLATFORM_API FileWatcher {
 public:
  virtual ~FileWatcher();
  // The paths changed since the last call, relative to the watched folder
  // with '/' between folders, each once, in the order they first changed.
  // Never waits.
  virtual std::vector<std::string> Changes() = 0;
};

// Watches `folder` (and folders made in it later). Null, with the reason in
// *why, when the system cannot watch it: no such folder, too many watches,
// a file system without change notifications.
PLATFORM_API std::unique_ptr<FileWatcher> WatchFolder(const std::string& folder, std::string* why);

}  // namespace platform
