#include "game/liveReload.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/effectPool.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/resourceTypes.h"
#include "engine/strings.h"
#include "engine/timer.h"
#include "platform/watch.h"

namespace demo {
namespace {

// Effects and the headers they include: they reload all together, and keep
// their own last good versions (a missing file too).
bool IsEffectSource(const std::string& path) { return EndsWith(path, ".fx") || EndsWith(path, ".fxh"); }

}  // namespace

LiveReload::LiveReload(std::string root, std::unique_ptr<platform::FileWatcher> watcher, std::string why)
    : mRoot(std::move(root)), mWatcher(std::move(watcher)), mWhy(std::move(why)) {
  mName = L"LiveReload";
  mPriority = kPriority;
  // Effects reload as F9 does: every one whose file, or a header it
  // includes, is newer.
  for (const char* suffix : {".fx", ".fxh"}) {
    On(suffix, [](const std::string&, std::string*) {
      engine::core::ResourceManager::Get()->UpdateAll();
      return true;
    });
  }
  // New music plays on from the clock's sample.
  On(".mp3", [](const std::string& path, std::string* error) {
    auto* timer = engine::core::Timer::Get();
    return engine::ToWide(path) != engine::core::Timer::MusicFile() || timer->ReloadMusic(error);
  });
  On(".efx", [this](const std::string& path, std::string* error) { return ReloadMaterial(path, error); });
  // A texture in use is loaded again in place: every material drawing with
  // it sees the new one.
  for (const char* suffix : {".dds", ".png", ".jpg", ".jpeg", ".tga", ".bmp"}) {
    On(suffix, [](const std::string& path, std::string*) {
      using engine::core::resources::ManagedTexture;
      if (auto texture = engine::core::ResourceManager::Get()->Registered<ManagedTexture>(engine::ToWide(path)))
        texture->Reload();
      return true;
    });
  }
}

LiveReload::~LiveReload() = default;

bool LiveReload::Start() {
  if (mWatcher == nullptr) {
    const std::string text = "Live reload is off (" + mWhy + "); F9 reloads changed effects";
    ENGINE_WARNING(text);
    std::fprintf(stderr, "game: %s\n", text.c_str());
  }
  return true;
}

void LiveReload::On(const std::string& suffix, Handler handler) {
  mHandlers.emplace_back(suffix, std::move(handler));
}

std::vector<std::string> LiveReload::Failures() const {
  std::vector<std::string> texts;
  for (const auto& [path, text] : mFailures) texts.push_back(path + ": " + text);
  return texts;
}

void LiveReload::Update() {
  if (mWatcher == nullptr) return;
  bool effects = false;
  for (const std::string& relative : mWatcher->Changes()) {
    const std::string path = mRoot + "/" + relative;
    // All effects reload in one pass, however many files changed.
    if (IsEffectSource(path)) {
      if (effects) continue;
      effects = true;
    }
    Changed(path);
  }
}

void LiveReload::Changed(const std::string& path) {
  for (const auto& [suffix, handler] : mHandlers) {
    if (!EndsWith(path, suffix)) continue;
    std::string error;
    std::error_code ec;
    // A removed file (or one between the steps of a replace) keeps its
    // last good version; effects tell that themselves.
    bool loaded = false;
    if (!IsEffectSource(path) && !std::filesystem::exists(path, ec)) {
      error = "file missing";
    } else {
      try {
        loaded = handler(path, &error);
      } catch (const engine::core::Exception& e) {
        error = engine::ToNarrow(e.GetText());
      } catch (const std::exception& e) {
        error = e.what();
      }
    }
    if (loaded) {
      ENGINE_MESSAGE("Reloaded " + path + (mFailures.erase(path) != 0 ? "; it loads again" : ""));
      ++mReloads;
    } else {
      if (error.empty()) error = "does not load";
      auto& failure = mFailures[path];
      if (failure != error)
        ENGINE_WARNING("Reloading " + path + " failed; the last good version stays: " + error);
      failure = error;
    }
    return;
  }
}

bool LiveReload::ReloadMaterial(const std::string& path, std::string* error) {
  // A material script belongs to the mesh of the same name without ".efx".
  const std::wstring meshName = engine::ToWide(path.substr(0, path.size() - 4));
  const auto mesh = engine::core::ResourceManager::Get()->Registered<engine::gfx::Mesh>(meshName);
  if (!mesh) return true;  // no mesh draws with it (yet)
  engine::gfx::EffectPool* pool = engine::gfx::EffectPool::Get();
  boost::shared_ptr<engine::gfx::Effect> effect = pool->GenerateEffect(path);
  if (!effect || (effect == pool->Wireframe() && mesh->GetEffect() != pool->Wireframe())) {
    *error = "no material in it builds on this device";
    return false;
  }
  mesh->ReplaceEffect(effect);
  return true;
}

}  // namespace demo
