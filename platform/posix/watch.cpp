#include "platform/watch.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

namespace platform {

FileWatcher::~FileWatcher() = default;

namespace {

// Complete files only: IN_MODIFY would report every write of a file that is
// still being written.
constexpr std::uint32_t kFileEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;
constexpr std::uint32_t kFolderEvents = kFileEvents | IN_CREATE | IN_DELETE_SELF | IN_ONLYDIR;

class InotifyWatcher : public FileWatcher {
 public:
  InotifyWatcher(int fd, std::string root) : mRoot(std::move(root)), mFd(fd) {}
  ~InotifyWatcher() override { close(mFd); }

  // False, with the reason, when a folder cannot be watched.
  bool Add(const std::string& relative, const std::string& absolute, std::string* why) {
    const int wd = inotify_add_watch(mFd, absolute.c_str(), kFolderEvents);
    if (wd < 0) {
      const int error = errno;
      if (why != nullptr)
        *why = "cannot watch " + absolute + ": " + std::strerror(error) +
               (error == ENOSPC ? " (too many watches: fs.inotify.max_user_watches)" : "");
      return false;
    }
    mFolders[wd] = relative;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(absolute, ec), end; !ec && it != end; it.increment(ec)) {
      if (!it->is_directory(ec)) continue;
      const std::string name = it->path().filename().string();
      if (!Add(Join(relative, name), it->path().string(), why)) return false;
    }
    return true;
  }

  std::vector<std::string> Changes() override {
    std::vector<std::string> changed;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
      const ssize_t got = read(mFd, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        const auto folder = mFolders.find(event->wd);
        if (folder == mFolders.end()) continue;
        if (event->mask & (IN_IGNORED | IN_DELETE_SELF)) {
          if (event->mask & IN_IGNORED) mFolders.erase(folder);
          continue;
        }
        if (event->len == 0) continue;
        const std::string path = Join(folder->second, event->name);
        if (event->mask & IN_ISDIR) {
          // A new folder is watched too; what was written into it before
          // the watch began is not seen, so its files count as changed.
          if (event->mask & (IN_CREATE | IN_MOVED_TO)) AddNew(path, &changed);
          continue;
        }
        if (event->mask & IN_CREATE) continue;  // reported when closed
        Note(path, &changed);
      }
    }
    return changed;
  }

 private:
  static std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
  }
  static void Note(const std::string& path, std::vector<std::string>* changed) {
    if (std::find(changed->begin(), changed->end(), path) == changed->end()) changed->push_back(path);
  }
  void AddNew(const std::string& relative, std::vector<std::string>* changed) {
    const std::string absolute = mRoot + "/" + relative;
    if (!Add(relative, absolute, nullptr)) return;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(absolute, ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->is_regular_file(ec))
        Note(relative + "/" + std::filesystem::relative(it->path(), absolute, ec).generic_string(), changed);
    }
  }

  std::string mRoot;
  int mFd;
  std::map<int, std::string> mFolders;  // watch descriptor -> folder, relative
};

}  // namespace

std::unique_ptr<FileWatcher> WatchFolder(const std::string& folder, std::string* why) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    if (why != nullptr) *why = std::string("no file change notifications: ") + std::strerror(errno);
    return nullptr;
  }
  auto watcher = std::make_unique<InotifyWatcher>(fd, folder);
  if (!watcher->Add("", folder, why)) return nullptr;
  return watcher;
}

}  // namespace platform
