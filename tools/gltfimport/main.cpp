// gltfimport: a glTF 2.0 scene to the engine's scene, meshes and materials
// (what is converted and how: gltfimport.h).
//
//   gltfimport [--scene N] [--animation NAME|N] [--length FRAMES] INPUT OUTPUT.demo
//
// Exit status 0 on success (warnings name what was left out), 1 when the
// file cannot be converted (nothing is written then), 2 for a wrong command
// line.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "tools/gltfimport/gltfimport.h"

namespace {

int Usage(const char* message) {
  std::fprintf(stderr,
               "gltfimport: %s\n"
               "usage: gltfimport [--scene N] [--animation NAME|N] [--length FRAMES] "
               "INPUT.gltf|INPUT.glb OUTPUT.demo\n",
               message);
  return 2;
}

// Messages one line each: names from the file may hold line breaks.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  }
  return text;
}

bool Count(const char* text, int* out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 0 || v > 1000000000) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  gltfimport::Options options;
  std::string files[2];
  int fileCount = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--scene" || arg == "--length") {
      if (!hasValue || !Count(argv[++i], arg == "--scene" ? &options.scene : &options.length)) {
        return Usage((arg + " needs a number").c_str());
      }
    } else if (arg == "--animation") {
      if (!hasValue) return Usage("--animation needs a name or number");
      options.animation = argv[++i];
    } else if (arg.rfind("--", 0) == 0 || fileCount == 2) {
      return Usage(("unexpected argument " + arg).c_str());
    } else {
      files[fileCount++] = arg;
    }
  }
  if (fileCount != 2) return Usage("an input and an output file are needed");
  try {
    const gltfimport::Conversion done = gltfimport::Import(files[0], files[1], options);
    for (const std::string& w : done.warnings)
      std::fprintf(stderr, "gltfimport: warning: %s\n", OneLine(w).c_str());
    std::size_t curves = 0;
    for (const auto& object : done.scene.objects) curves += object.curves.size();
    std::printf("gltfimport: wrote %s: %zu objects, %zu meshes, %zu textures, %zu curves, %d frames\n",
                files[1].c_str(), done.scene.objects.size(), done.meshes.size(),
                done.textures.size(), curves, done.scene.length);
  } catch (const gltfimport::ImportError& e) {
    std::fprintf(stderr, "gltfimport: error: %s\n", OneLine(e.what()).c_str());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "gltfimport: error: out of memory\n");
    return 1;
  } catch (const std::exception& e) {
    // A library's failure. Catching it unwinds the stack, which removes the
    // staged output.
    std::fprintf(stderr, "gltfimport: error: %s\n", OneLine(e.what()).c_str());
    return 1;
  } catch (...) {
    std::fprintf(stderr, "gltfimport: error: an unexpected failure\n");
    return 1;
  }
  return 0;
}
