#pragma once

#include "engine/math.h"
#include "game/contentContract.h"

namespace engine::gfx {
class LoadMesh;
}

namespace demo {

struct Spline;

// HighPitch carries one copy of the underwater mesh per time of the music's
// high-pitched run (kHighPitchTimes).
constexpr int kHighPitchCount = static_cast<int>(kHighPitchTimes.size());

// Camera-facing quad sets, all laid out alike: centre (POSITION), atlas
// quarter (TEXCOORD0), corner offset (TEXCOORD1) and one extra vector
// (TEXCOORD2: drift for the plankton, colour for fog and notes).
enum class QuadSet { Grid, Fog, Notes };
int QuadCount(QuadSet set);
engine::gfx::LoadMesh* MakeQuadSet(QuadSet set);

// Renumbers the vertices that the index list refers to in the order of their
// first appearance and drops the rest (every array moves along).
void DropUnreferencedVertices(engine::gfx::LoadMesh* mesh);

// 4000 coloured copies of the shard around the fall's axis (positions and
// TEXCOORD1 colours only). The source loses its unreferenced vertices.
engine::gfx::LoadMesh* MakeFlashes(engine::gfx::LoadMesh* source);

// 1000 rotated and scaled cloud puffs; box receives the bounding box of all
// generated positions (corners starting at the origin).
struct Box {
  engine::math::Vector3f center;
  engine::math::Vector3f halfSize;
};
engine::gfx::LoadMesh* MakeClouds(engine::gfx::LoadMesh* source, Box* box);

// Maps a mesh spanning -1..1 onto box.
void MapOntoBox(engine::gfx::LoadMesh* mesh, const Box& box);

// Adds TEXCOORD1 = (arc fraction along spline, distance to it) for every
// vertex, its position taken through placement first; each vertex is
// projected once, at its first occurrence in the index list.
void AddCurveCoordinates(engine::gfx::LoadMesh* mesh, const Spline& spline,
                         const engine::math::Matrix4x4& placement);

// 14 copies of the curve-coordinated mesh: positions and (a, t_k + a).
engine::gfx::LoadMesh* MakeHighPitch(engine::gfx::LoadMesh* mesh);

}  // namespace demo
