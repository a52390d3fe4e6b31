// Reading glTF files and writing the converted files all or nothing.
#include <tiny_gltf.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "content/formats/bytes.h"
#include "tools/gltfimport/document.h"
#include "tools/gltfimport/gltfimport.h"

namespace gltfimport {
namespace {

namespace fs = std::filesystem;

// Textures are not converted: pictures are not decoded at all.
bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;
}

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
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
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ImportError(path + ": cannot be read");
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ImportError(path + ": cannot be read");
  LoadMemory(bytes, path, model, warnings);
}

void LoadMemory(const std::string& bytes, const std::string& path, tinygltf::Model* model,
                std::vector<std::string>* warnings) {
  auto unreadable = [&](const std::string& why) {
    return ImportError(path + ": not a glTF file it can read" + (why.empty() ? "" : ": " + why));
  };
  // tinygltf takes sizes of 32 bits.
  if (bytes.size() > 0xFFFFFFFFu) throw unreadable("larger than 4 GB");
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto size = static_cast<unsigned int>(bytes.size());
  const bool binary = size >= 4 && std::memcmp(data, "glTF", 4) == 0;

  // The JSON text; a .glb file's JSON chunk where its header is sound
  // (otherwise tinygltf refuses it before reading any JSON).
  std::string_view json = bytes;
  bool layoutSound = true;
  if (binary) {
    layoutSound = false;
    if (size >= 20) {
      const std::uint32_t length = Le32(data + 8), jsonLength = Le32(data + 12);
      const std::uint64_t jsonEnd = 20ull + jsonLength;
      layoutSound =
          jsonLength > 0 && Le32(data + 16) == 0x4E4F534Au && length <= size && jsonEnd <= length;
      // tinygltf checks a BIN chunk's length against the file without its
      // 8-byte header and would read past the end.
      if (layoutSound && jsonEnd + 8 <= length && jsonEnd + 8 + Le32(data + jsonEnd) > length) {
        throw unreadable("its BIN chunk runs past the end of the file");
      }
      json = std::string_view(bytes).substr(20, jsonLength);
    }
  }
  std::size_t malformedAt = 0;
  bool understood = true;
  if (layoutSound) {
    CheckNesting(json, path);
    understood = CheckDocument(json, &malformedAt);
  }

  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(SkipImage, nullptr);
  std::string error, warning;
  // Buffers and images are found beside the file.
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? ""
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const bool loaded =
      binary ? loader.LoadBinaryFromMemory(model, &error, &warning, data, size, folder)
             : loader.LoadASCIIFromString(model, &error, &warning, bytes.data(), size, folder);
  for (const std::string& line : Lines(warning)) warnings->push_back(path + ": " + line);
  if (!loaded) {
    std::string why;
    for (const std::string& line : Lines(error)) why += (why.empty() ? "" : "; ") + line;
    throw unreadable(why);
  }
  if (!understood) throw unreadable("JSON it cannot read at byte " + std::to_string(malformedAt));
}

Conversion Import(const std::string& input, const std::string& output, const Options& options) {
  if (output.empty()) throw ImportError("the output must be a .demo file");
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
