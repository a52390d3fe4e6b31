// Logs according to its argument and exits normally; the log's footer is
// then written only by the library unloading.
#include <cstring>

#include "engine/logging.h"
#include "sanitizer/support.h"

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "none";
  if (std::strcmp(mode, "error") == 0) {
    ENGINE_MESSAGE("starting");
    try {
      ::engine::core::Logging::Get()->Error("fatal", "game/main.cpp", 77);
    } catch (const engine::core::Exception&) {
      // the entry handler shows it and returns
    }
  }
  velox_test::MarkPassed();
  return 0;
}
