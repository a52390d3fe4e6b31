#pragma once

// gltfimport: converts a glTF 2.0 scene (.gltf with its buffers, or .glb)
// into the engine's files: OUT.demo, the meshes OUT.demo_scene/<mesh>.vlx
// (one per glTF mesh and material) with a material <mesh>.vlx.efx each,
// their textures OUT.demo_scene/textures/<image>.dds, the cameras'
// projections OUT.demo_scene/cameras.txt, and the lit effect those
// materials name, fx/velox_lit.fx beside OUT.demo, with a small effect per
// set of sampler states that includes it (each written only when that file
// is not there yet).
//
// Materials. glTF's metallic-roughness material drives the lit effect:
// base colour (factor, map, COLOR_0), metallic and roughness (factors and
// map), normal map (with the file's tangents, else tangents the importer
// computes from the map's texture coordinates), occlusion, emissive (with
// KHR_materials_emissive_strength), alpha modes (MASK discards below the
// cutoff; BLEND draws after the opaque meshes without writing depth),
// double-sidedness, either texture coordinate set and KHR_texture_transform
// per map. Lights reach the materials as values: the first directional
// light is the sun, point and spot lights are lamps (Light0..3 give their
// places); intensities are read in glTF's units as Blender writes them
// (683 lm/W). A file without lights gets a sun over the camera's shoulder.
//
// Axes. glTF is right-handed with y up; the engine is left-handed the
// Direct3D way (y up, a camera looks along its +z). The one conversion is a
// mirror of z: positions, normals and translations (x, y, z) -> (x, y, -z),
// rotations (qx, qy, qz, qw) -> (-qx, -qy, qz, qw), scales unchanged. A glTF
// camera, which looks along its -z, then looks along +z, and the picture
// keeps its left and right. The mirror turns counter-clockwise front faces
// into the engine's clockwise ones only after the triangles' index order is
// reversed, which the meshes get.
//
// Placements. A node's translation and rotation become the object's rest
// location and rotation (angles about x, then y, then z, in radians); a
// scale other than 1 becomes constant ScaleX/Y/Z curves, since scene files
// keep scale only in curves. Children of a camera object have their rest z
// and LocZ curves stored negated, as the scene loader negates them back.
//
// Animation. Every channel becomes curves on the engine's clock (25 frames a
// second, glTF time 0 at frame 0): translation LocX/Y/Z, scale
// ScaleX/Y/Z, rotation RotX/Y/Z in units of ten degrees. LINEAR becomes
// "Linear", STEP "Constant" and CUBICSPLINE "Bezier" with handles a third of
// a segment out along the tangents, which reproduces glTF's Hermite curve.
// Rotations are interpolated on quaternions in glTF but on angles in the
// engine: segments whose angle curve strays from glTF's rotation by more
// than a few hundredths of a degree get keys in between. Curves hold their
// end values before and after the keys, like glTF.
#include <stdexcept>
#include <string>
#include <vector>

#include "content/formats/demo.h"
#include "content/formats/vlx.h"

namespace tinygltf {
class Model;
}

namespace gltfimport {

struct Options {
  int scene = -1;         // the file's default scene, else its first
  std::string animation;  // an animation's name or index; empty: all of them
  int length = -1;        // the scene's length in frames; -1: the animation's end
  // Where the program finds the scene's folder; materials name their
  // textures under it. Import sets it from the output's name.
  std::string sceneFolder = "data/scene.demo_scene";
};

struct NamedFile {
  std::string name;   // file name
  std::string bytes;  // its contents
};

struct MeshFile {
  std::string name;  // file name without ".vlx"
  content::MeshData data;
  std::string material;  // the material script
};

struct Conversion {
  content::Scene scene;
  std::vector<MeshFile> meshes;
  std::vector<NamedFile> textures;  // in the scene folder's textures/
  std::vector<NamedFile> effects;   // beside the lit effect: its sampler variants
  // One line per camera object: name, then "perspective" with the vertical
  // field of view (radians), aspect ratio (0: the window's), near and far
  // (0: none), or "orthographic" with half width, half height, near, far.
  std::string cameras;
  std::vector<std::string> warnings;  // what was left out or approximated
};

// A file that cannot be converted; the message names the node, mesh,
// accessor or animation at fault.
class ImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The lit effect that starting materials name (data/fx/velox_lit.fx).
extern const char* const kLitEffectName;
const char* LitEffectSource();

// Reads a .gltf or .glb file; parse errors are thrown, and so are
// properties of the wrong type and JSON nested deeper than 512 levels.
void Load(const std::string& path, tinygltf::Model* model, std::vector<std::string>* warnings);
// The same on the file's bytes in memory; `path` names it in messages and
// its folder holds the files its buffers name.
void LoadMemory(const std::string& bytes, const std::string& path, tinygltf::Model* model,
                std::vector<std::string>* warnings);

// The engine's files of a model, in memory.
Conversion Convert(const tinygltf::Model& model, const Options& options);

// Load, Convert and write `output` (a path ending in ".demo") with its
// folder and effect: everything is written into a temporary folder beside
// `output` and moved into place at the end, so that a failure leaves the
// previous files as they were.
Conversion Import(const std::string& input, const std::string& output, const Options& options);

}  // namespace gltfimport
