// contentgen: writes the demo's whole data/ tree (scenes, meshes, curves,
// matrices, textures, effects and material scripts) and the program's icon
// and settings picture, and checks the hand-written sources on the way.
//
//   contentgen --source DIR --root DIR --music-curve PATH [--fxcheck PATH]
//              [--fonts DIR] [--stamp PATH] [--no-validate] [--list] [--preview DIR]
//
// --source: the content/ folder of the sources; --root: the build folder
// (data/ and content/ are written below it); --music-curve: musicgen's beat
// curve. Files whose bytes did not change are left alone, so their times
// stay put; the others are written beside their place and renamed over it.
// A changed mesh, curve or matrix file removes the program's mesh caches
// (data/serial/), which are keyed by name only. Errors, a file that cannot
// be written among them, go to stderr as "file:line: error: ..." and make
// the exit status 1.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "content/formats/bytes.h"
#include "content/formats/demo.h"
#include "content/formats/image.h"
#include "content/generator/recipes.h"
#include "content/generator/textures.h"
#include "content/generator/validate.h"

namespace fs = std::filesystem;
using namespace content;

namespace {

struct Options {
  std::string source, root, fxcheck, musicCurve, stamp;
  std::string fonts = "/usr/share/fonts/truetype/dejavu";
  std::string preview;  // PNGs of every picture, for looking at them
  bool validate = true, list = false;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The music's beat envelope as musicgen writes it, one "frame value" pair a
// line. The field of view follows it, so without it there is no demo to
// build: a missing, empty or malformed file is an error naming it.
bool LoadMusic(const std::string& path, MusicKnots& knots) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "%s:1: error: cannot read the music curve (musicgen --curve writes it)\n", path.c_str());
    return false;
  }
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    std::istringstream fields(line);
    float x, y;
    std::string rest;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (!(fields >> x >> y) || (fields >> rest)) {
      std::fprintf(stderr, "%s:%d: error: not a \"frame value\" pair of the music curve\n", path.c_str(), n);
      return false;
    }
    knots.push_back({x, y});
  }
  if (in.bad() || knots.empty()) {
    std::fprintf(stderr, "%s:1: error: the music curve has no knots\n", path.c_str());
    return false;
  }
  return true;
}

// Channels that drive transforms or visibility, not shader parameters.
bool TransformChannel(const std::string& c) {
  static const std::set<std::string> names = {"Time", "LocX", "LocY", "LocZ", "ScaleX", "ScaleY", "ScaleZ",
                                              "dRotX", "dRotY", "dRotZ", "RotX", "RotY", "RotZ",
                                              "dLocX", "dLocY", "dLocZ", "Layer"};
  return names.count(c) > 0;
}

class Tree {
 public:
  explicit Tree(fs::path root) : mRoot(std::move(root)) {}
  void Put(const std::string& relative, std::string bytes) { mFiles[relative] = std::move(bytes); }
  // Writes what changed; returns the paths written.
  std::vector<std::string> Write(bool& failed) const {
    std::vector<std::string> written;
    for (const auto& [relative, bytes] : mFiles) {
      const fs::path path = mRoot / relative;
      std::error_code ec;
      if (fs::exists(path, ec) && fs::file_size(path, ec) == bytes.size() && ReadFile(path) == bytes) continue;
      fs::create_directories(path.parent_path(), ec);
      if (!SaveBytes(path.string(), bytes)) {
        std::fprintf(stderr, "%s:1: error: cannot write the file\n", path.string().c_str());
        failed = true;
        continue;
      }
      written.push_back(relative);
    }
    return written;
  }
  const std::map<std::string, std::string>& Files() const { return mFiles; }

 private:
  fs::path mRoot;
  std::map<std::string, std::string> mFiles;
};

std::size_t Triangles(const MeshData& m) { return m.indices.size() / 3; }

}  // namespace

int main(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--source") o.source = value();
    else if (a == "--root") o.root = value();
    else if (a == "--fxcheck") o.fxcheck = value();
    else if (a == "--music-curve") o.musicCurve = value();
    else if (a == "--fonts") o.fonts = value();
    else if (a == "--stamp") o.stamp = value();
    else if (a == "--preview") o.preview = value();
    else if (a == "--no-validate") o.validate = false;
    else if (a == "--list") o.list = true;
    else {
      std::fprintf(stderr, "contentgen: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  if (o.source.empty() || o.root.empty() || o.musicCurve.empty() || (o.validate && o.fxcheck.empty())) {
    std::fprintf(stderr, "usage: contentgen --source DIR --root DIR --music-curve PATH [--fxcheck PATH] "
                         "[--fonts DIR] [--stamp PATH] [--no-validate] [--list]\n");
    return 2;
  }
  const fs::path source(o.source), root(o.root);

  Fonts fonts;
  for (auto [font, file] : {std::pair{&fonts.sans, "DejaVuSans.ttf"}, std::pair{&fonts.sansBold, "DejaVuSans-Bold.ttf"},
                            std::pair{&fonts.serif, "DejaVuSerif.ttf"}}) {
    if (!font->Load((fs::path(o.fonts) / file).string())) {
      std::fprintf(stderr, "%s:1: error: cannot read the font (package fonts-dejavu-core)\n",
                   (fs::path(o.fonts) / file).string().c_str());
      return 1;
    }
  }

  MusicKnots music;
  if (!LoadMusic(o.musicCurve, music)) return 1;
  bool failed = false;
  Tree data(root / "data"), pictures(root / "content");
  const SceneOutput scenes[] = {Underwater(music), Incurve(), City()};
  std::set<std::string> meshFiles;  // what the program's caches are made from
  for (const SceneOutput& s : scenes) {
    data.Put(s.name + ".demo", DemoBytes(s.scene));
    for (const auto& [name, mesh] : s.meshes) {
      const std::string path = s.name + ".demo_scene/" + name + ".vlx";
      data.Put(path, VlxBytes(mesh));
      meshFiles.insert(path);
      if (o.list) std::printf("%-10s %-14s %7zu triangles %6zu vertices\n", s.name.c_str(), name.c_str(),
                              Triangles(mesh), mesh.positions.size());
    }
    for (const auto& [path, bytes] : s.files) data.Put(path, bytes), meshFiles.insert(path);
  }
  std::map<std::string, Image> images = Textures(fonts);
  for (const auto& [path, image] : images) data.Put(path, DdsBytes(image));
  images["icon.bmp"] = Icon(fonts);
  images["title.bmp"] = TitlePicture(fonts);
  pictures.Put("icon.bmp", BmpBytes(images["icon.bmp"]));
  pictures.Put("title.bmp", BmpBytes(images["title.bmp"]));
  if (!o.preview.empty()) {
    Tree previews(o.preview);
    for (const auto& [path, image] : images) {
      // Side by side: the colour, and the colour laid over dark grey by alpha.
      Image shown(image.width * 2, image.height);
      for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
          const std::uint8_t* p = image.At(x, y);
          const float a = p[3] / 255.0f;
          shown.Set(x, y, p[2] / 255.0f, p[1] / 255.0f, p[0] / 255.0f);
          shown.Set(image.width + x, y, 0.12f + a * (p[2] / 255.0f - 0.12f), 0.12f + a * (p[1] / 255.0f - 0.12f),
                    0.12f + a * (p[0] / 255.0f - 0.12f));
        }
      }
      previews.Put(fs::path(path).stem().string() + ".png", PngBytes(shown));
    }
    previews.Write(failed);
  }

  // Hand-written sources, copied as they are.
  std::error_code ec;
  std::vector<std::pair<std::string, fs::path>> effects;  // name, source
  if (fs::is_directory(source / "fx")) {
    for (const auto& entry : fs::directory_iterator(source / "fx")) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".fx" && ext != ".fxh" && ext != ".hlsl" && ext != ".efx")) continue;
      data.Put("fx/" + entry.path().filename().string(), ReadFile(entry.path()));
      if (ext == ".fx") effects.push_back({entry.path().stem().string(), entry.path()});
    }
  }
  std::sort(effects.begin(), effects.end());
  const fs::path materials = source / "materials";
  if (fs::exists(materials / "wireframe.efx")) data.Put("wireframe.efx", ReadFile(materials / "wireframe.efx"));
  else std::fprintf(stderr, "%s:1: error: missing (the engine's fallback material)\n", (materials / "wireframe.efx").string().c_str()), failed = true;
  struct Needed {
    fs::path script;
    std::set<std::string> channels;
    bool godRays = false;
  };
  std::map<std::string, Needed> needed;  // by data path of the script
  for (const SceneOutput& s : scenes) {
    for (const SceneObject& obj : s.scene.objects) {
      if (obj.type != "Mesh") continue;
      const std::string path = s.name + ".demo_scene/" + obj.data + ".vlx.efx";
      Needed& n = needed[path];
      n.script = materials / s.name / (obj.data + ".vlx.efx");
      n.godRays = n.godRays || obj.name == "GodRays";
      for (const AnimCurve& c : obj.curves)
        if (!TransformChannel(c.channel)) n.channels.insert(c.channel);
    }
  }
  for (const auto& [path, n] : needed) {
    if (!fs::exists(n.script)) {
      std::fprintf(stderr, "%s:1: error: missing material script for a mesh of the scenes\n", n.script.string().c_str());
      failed = true;
      continue;
    }
    data.Put(path, ReadFile(n.script));
  }

  const std::vector<std::string> written = data.Write(failed);
  pictures.Write(failed);
  // A changed mesh source makes the program's cached processed meshes stale.
  bool meshChanged = false;
  for (const std::string& w : written) meshChanged = meshChanged || meshFiles.count(w) > 0;
  // Stale caches left in place would be loaded by the program.
  if (meshChanged && (fs::remove_all(root / "data" / "serial", ec), ec)) {
    std::fprintf(stderr, "%s:1: error: cannot remove the stale mesh caches: %s\n",
                 (root / "data" / "serial").string().c_str(), ec.message().c_str());
    failed = true;
  }

  if (o.validate && !failed) {
    Validator v(o.fxcheck, root.string());
    for (const auto& [name, path] : effects) v.CheckEffect(name, path.string());
    v.CheckQuadMaterials();
    v.CheckMaterial((materials / "wireframe.efx").string(), false, {});
    for (const auto& [path, n] : needed) v.CheckMaterial(n.script.string(), true, n.channels, n.godRays);
    for (const std::string& e : v.Errors()) std::fprintf(stderr, "%s\n", e.c_str());
    failed = failed || !v.Errors().empty();
  }
  if (!failed && !o.stamp.empty() && !SaveBytes(o.stamp, "")) {
    std::fprintf(stderr, "%s:1: error: cannot write the file\n", o.stamp.c_str());
    failed = true;
  }
  if (failed) return 1;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  std::printf("contentgen: %zu files, %zu rewritten, %lld ms\n", data.Files().size() + pictures.Files().size(),
              written.size(), static_cast<long long>(ms));
  return 0;
}
