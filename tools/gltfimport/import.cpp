// Reading glTF files and writing the converted files all or nothing.
#include <tiny_gltf.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "content/formats/bytes.h"
#include "tools/gltfimport/gltfimport.h"

namespace gltfimport {
namespace {

namespace fs = std::filesystem;

// Textures are not converted: pictures are not decoded at all.
bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

void Save(const fs::path& path, const std::string& bytes) {
  if (!content::SaveBytes(path.string(), bytes))
    throw ImportError(path.string() + ": cannot be written");
}

// A fresh folder beside the output, removed again unless released.
class Staging {
 public:
  explicit Staging(const fs::path& beside) {
    std::string pattern = (beside / ".gltfimport-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw ImportError(beside.string() + ": cannot create a temporary folder there");
    }
    mPath = pattern;
  }
  ~Staging() {
    std::error_code ignored;
    fs::remove_all(mPath, ignored);
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  const fs::path& Path() const { return mPath; }

 private:
  fs::path mPath;
};

}  // namespace

void Load(const std::string& path, tinygltf::Model* model, std::vector<std::string>* warnings) {
  std::ifstream probe(path, std::ios::binary);
  if (!probe) throw ImportError(path + ": cannot be read");
  char magic[4] = {};
  probe.read(magic, 4);
  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(SkipImage, nullptr);
  std::string error, warning;
  const bool binary = probe.gcount() == 4 && std::memcmp(magic, "glTF", 4) == 0;
  const bool loaded = binary ? loader.LoadBinaryFromFile(model, &error, &warning, path)
                             : loader.LoadASCIIFromFile(model, &error, &warning, path);
  for (const std::string& line : Lines(warning)) warnings->push_back(path + ": " + line);
  if (!loaded) {
    std::string message = path + ": not a glTF file it can read";
    for (const std::string& line : Lines(error)) message += "\n  " + line;
    throw ImportError(message);
  }
}

Conversion Import(const std::string& input, const std::string& output, const Options& options) {
  const fs::path demo = fs::absolute(output);
  if (demo.extension() != ".demo" || demo.stem().empty()) {
    throw ImportError(output + ": the output must be a .demo file");
  }
  std::vector<std::string> loadWarnings;
  tinygltf::Model model;
  Load(input, &model, &loadWarnings);
  Conversion conversion = Convert(model, options);
  conversion.warnings.insert(conversion.warnings.begin(), loadWarnings.begin(), loadWarnings.end());

  const fs::path folder = demo.parent_path();
  const fs::path meshes = fs::path(demo.string() + "_scene");
  const fs::path effect = folder / "fx" / (std::string(kLitEffectName) + ".fx");
  try {
    fs::create_directories(folder);
    Staging staging(folder);
    const fs::path stagedMeshes = staging.Path() / "meshes";
    fs::create_directories(stagedMeshes);
    for (const MeshFile& mesh : conversion.meshes) {
      Save(stagedMeshes / (mesh.name + ".vlx"), content::VlxBytes(mesh.data));
      Save(stagedMeshes / (mesh.name + ".vlx.efx"), mesh.material);
    }
    Save(staging.Path() / "scene.demo", content::DemoBytes(conversion.scene));
    const bool newEffect = !fs::exists(effect);
    if (newEffect) Save(staging.Path() / "effect.fx", LitEffectSource());

    // Into place: the effect (a file of its own), the old mesh folder aside,
    // the new one in, the scene file last, so that a scene file is never
    // there without its meshes.
    if (newEffect) {
      fs::create_directories(effect.parent_path());
      fs::rename(staging.Path() / "effect.fx", effect);
    }
    const fs::path old = staging.Path() / "old";
    const bool replacing = fs::exists(meshes);
    if (replacing) fs::rename(meshes, old);
    try {
      fs::rename(stagedMeshes, meshes);
      fs::rename(staging.Path() / "scene.demo", demo);
    } catch (...) {
      std::error_code ignored;
      fs::remove_all(meshes, ignored);
      if (replacing) fs::rename(old, meshes, ignored);
      throw;
    }
  } catch (const fs::filesystem_error& e) {
    throw ImportError(output + ": cannot be written (" + e.what() + ")");
  }
  return conversion;
}

}  // namespace gltfimport
