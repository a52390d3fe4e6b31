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

// The importer reads images itself (tinygltf never sees them).
bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;
}

// Encoded image files larger than this are not read.
constexpr std::uintmax_t kMaxImageFileBytes = 256u << 20;

std::string UrlDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto hex = [](char c) {
      return c >= '0' && c <= '9' ? c - '0'
             : c >= 'a' && c <= 'f' ? c - 'a' + 10
             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                    : -1;
    };
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// "data:MIME;base64,DATA": false when it is not one or does not decode.
bool DecodeDataUri(const std::string& uri, std::string* mime, std::string* bytes) {
  const std::size_t comma = uri.find(',');
  const std::string head = uri.substr(0, comma);
  const std::string marker = ";base64";
  if (comma == std::string::npos || head.size() < 5 + marker.size() ||
      head.compare(head.size() - marker.size(), marker.size(), marker) != 0) {
    return false;
  }
  *mime = head.substr(5, head.size() - 5 - marker.size());
  std::uint32_t bits = 0;
  int count = 0;
  std::size_t i = comma + 1;
  for (; i < uri.size() && uri[i] != '='; ++i) {
    const char c = uri[i];
    int v = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+'             ? 62
            : c == '/'             ? 63
                                   : -1;
    if (v < 0) return false;
    bits = bits << 6 | static_cast<std::uint32_t>(v);
    if (++count == 4) {
      bytes->push_back(static_cast<char>(bits >> 16));
      bytes->push_back(static_cast<char>(bits >> 8));
      bytes->push_back(static_cast<char>(bits));
      bits = 0, count = 0;
    }
  }
  if (count == 1) return false;
  if (count == 2) bytes->push_back(static_cast<char>(bits >> 4));
  if (count == 3) {
    bytes->push_back(static_cast<char>(bits >> 10));
    bytes->push_back(static_cast<char>(bits >> 2));
  }
  for (; i < uri.size(); ++i) {
    if (uri[i] != '=') return false;
  }
  return true;
}

// The images of the JSON as tinygltf would have given them, each with its
// encoded bytes in `image` (empty where they cannot be read: the
// conversion warns when a material uses it) or its buffer view.
void ReadImages(const JsonImages& found, const std::string& folder, tinygltf::Model* model) {
  for (const JsonImage& j : found.images) {
    tinygltf::Image image;
    image.name = j.name;
    image.mimeType = j.mimeType;
    image.bufferView = j.bufferView;
    image.uri = j.uri;
    if (j.bufferView < 0 && j.uri.rfind("data:", 0) == 0) {
      std::string mime, bytes;
      if (DecodeDataUri(j.uri, &mime, &bytes)) {
        image.mimeType = mime;
        image.image.assign(bytes.begin(), bytes.end());
      }
      image.uri = "data:" + mime;  // the bytes are kept, not the text
    } else if (j.bufferView < 0 && !j.uri.empty()) {
      const fs::path file = fs::path(folder.empty() ? "." : folder) / UrlDecode(j.uri);
      std::error_code e;
      const std::uintmax_t size = fs::file_size(file, e);
      std::ifstream in(file, std::ios::binary);
      if (!e && size <= kMaxImageFileBytes && in) {
        image.image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) image.image.clear();
      }
    }
    model->images.push_back(std::move(image));
  }
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
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto size = static_cast<unsigned int>(bytes.size());
  const bool binary = size >= 4 && std::memcmp(data, "glTF", 4) == 0;

  // The JSON text; a .glb file's JSON chunk where its header is sound
  // (otherwise tinygltf refuses it before reading any JSON).
  std::string_view json = bytes;
  std::size_t jsonAt = 0;
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
      jsonAt = 20;
    }
  }
  std::size_t malformedAt = 0;
  bool understood = true;
  JsonImages images;
  if (layoutSound) {
    CheckNesting(json, path);
    understood = CheckDocument(json, &malformedAt, &images);
  }
  // tinygltf refuses a whole file for one image it cannot read (a data URI
  // of another type, an empty file): the "images" keys are renamed for it,
  // keeping every offset.
  std::string hidden;
  if (!images.keys.empty()) {
    hidden = bytes;
    for (const auto& [begin, end] : images.keys) {
      for (std::size_t i = jsonAt + begin + 1; i + 1 < jsonAt + end; ++i) hidden[i] = '_';
    }
    data = reinterpret_cast<const unsigned char*>(hidden.data());
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
             : loader.LoadASCIIFromString(model, &error, &warning,
                                          reinterpret_cast<const char*>(data), size, folder);
  for (const std::string& line : Lines(warning)) warnings->push_back(path + ": " + line);
  if (!loaded) {
    std::string why;
    for (const std::string& line : Lines(error)) why += (why.empty() ? "" : "; ") + line;
    throw unreadable(why);
  }
  if (!understood) throw unreadable("JSON it cannot read at byte " + std::to_string(malformedAt));
  ReadImages(images, folder, model);
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
  // The program runs beside data/, where the output lies (as the effects
  // in data/fx/ assume).
  Options withFolder = options;
  withFolder.sceneFolder = "data/" + demo.filename().string() + "_scene";
  Conversion conversion = Convert(model, withFolder);
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
    if (!conversion.textures.empty()) fs::create_directories(stagedMeshes / "textures");
    for (const NamedFile& texture : conversion.textures)
      Save(stagedMeshes / "textures" / texture.name, texture.bytes);
    if (!conversion.cameras.empty()) {
      Save(stagedMeshes / "cameras.txt",
           "# Camera object, projection, then for perspective: vertical field of view\n"
           "# (radians), aspect ratio (0: the window's), near, far (0: none); for\n"
           "# orthographic: half width, half height, near, far.\n" +
               conversion.cameras);
    }
    Save(staging.Path() / "scene.demo", content::DemoBytes(conversion.scene));
    const bool newEffect = !fs::exists(effect);
    if (newEffect) {
      Save(staging.Path() / "effect.fx", LitEffectSource());
    } else {
      // Kept as the user may have edited it; an older one lacks what the
      // materials set.
      std::ifstream in(effect);
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const std::string version = std::string("// ") + kLitEffectName + " 2:";
      if (text.find(version) == std::string::npos) {
        conversion.warnings.push_back(effect.string() +
                                      " is kept, but it is not the version these materials need: "
                                      "remove it and import again");
      }
    }
    std::vector<const NamedFile*> newVariants;
    for (const NamedFile& variant : conversion.effects) {
      if (!fs::exists(effect.parent_path() / variant.name)) {
        Save(staging.Path() / variant.name, variant.bytes);
        newVariants.push_back(&variant);
      }
    }

    // Into place: the effect (a file of its own), the old mesh folder aside,
    // the new one in, the scene file last, so that a scene file is never
    // there without its meshes.
    fs::create_directories(effect.parent_path());
    if (newEffect) fs::rename(staging.Path() / "effect.fx", effect);
    for (const NamedFile* variant : newVariants)
      fs::rename(staging.Path() / variant->name, effect.parent_path() / variant->name);
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
