#pragma once

// Build-time checks of the hand-written sources: every effect compiles
// without a warning, every material script runs and names only effects,
// techniques, textures and render targets that exist, and every animated
// channel of a scene reaches a parameter of its mesh's material.
#include <map>
#include <set>
#include <string>
#include <vector>

namespace content {

struct EffectInfo {
  std::map<std::string, std::vector<std::string>> pixelProfiles;  // technique -> per pass
  std::set<std::string> quadMaterials;  // "material" annotations
};

struct MaterialPass {
  std::string fx, technique, target;
  std::vector<std::pair<std::string, std::string>> params;  // (name, type)
  std::vector<std::pair<std::string, std::string>> textures;  // (type, value)
};
struct MaterialCandidate {
  int priority = 0;
  std::vector<MaterialPass> passes;
};

class Validator {
 public:
  // `fxcheck`: the compiler's path; `dataRoot`: the folder that holds data/.
  Validator(std::string fxcheck, std::string dataRoot) : mFxcheck(std::move(fxcheck)), mRoot(std::move(dataRoot)) {}

  // Compiles one effect source; false (and an error) when it fails or warns.
  bool CheckEffect(const std::string& name, const std::string& sourcePath);
  // Runs one material script; `needsFallback`: a mesh material must have a
  // candidate that ps_2_0 can run.
  bool CheckMaterial(const std::string& sourcePath, bool needsFallback,
                     const std::set<std::string>& channels, bool firstParamFloat3 = false);
  // Quad materials named by effects must exist under data/fx/.
  bool CheckQuadMaterials();

  const std::vector<std::string>& Errors() const { return mErrors; }

 private:
  bool Fail(const std::string& path, int line, const std::string& message);
  bool ParseMaterial(const std::string& path, std::vector<MaterialCandidate>& out);

  std::string mFxcheck, mRoot;
  std::map<std::string, EffectInfo> mEffects;  // by effect name (file name without .fx)
  std::vector<std::string> mErrors;
};

// Line (1-based) of the first occurrence of `needle` in the file, else 1.
int LineOf(const std::string& path, const std::string& needle);

}  // namespace content
