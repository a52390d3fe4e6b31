#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/kernel.h"

namespace platform {
class FileWatcher;
}

namespace demo {

inline bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Live editing: reloads what changed under the data folder while the demo
// plays on, the clock and the music untouched. Effect files reload as F9
// does; a material script chooses its mesh's material again; other kinds
// go to the handlers the program adds (scenes). A change that does not
// load keeps the last good version on screen; the reason is logged and
// listed in Failures() until a good version arrives.
class LiveReload : public engine::core::Module {
 public:
  static constexpr int kPriority = 150;  // after the controls, before the demo

  // Reloads the file at `path` ("data/..."); false with the reason.
  using Handler = std::function<bool(const std::string& path, std::string* error)>;

  // `root`: the watched folder, as the program names files under it.
  // Without a watcher (`why` says what stopped it) the start says once that
  // only F9 reloads.
  LiveReload(std::string root, std::unique_ptr<platform::FileWatcher> watcher, std::string why);
  ~LiveReload() override;

  bool Start() override;
  void Update() override;
  void Stop() override {}

  // Files ending in `suffix` go to `handler`.
  void On(const std::string& suffix, Handler handler);
  bool Watching() const { return mWatcher != nullptr; }
  // One text per file that shows its last good version: "file: reason".
  std::vector<std::string> Failures() const;
  // Files reloaded without failure since the start.
  long long Reloads() const { return mReloads; }

  // Reloads one changed file now (Update does it for what the watcher saw).
  void Changed(const std::string& path);

 private:
  bool ReloadMaterial(const std::string& path, std::string* error);

  std::string mRoot;
  std::unique_ptr<platform::FileWatcher> mWatcher;
  std::string mWhy;
  std::vector<std::pair<std::string, Handler>> mHandlers;
  std::map<std::string, std::string> mFailures;
  long long mReloads = 0;
};

}  // namespace demo
