// Shared lighting helpers; pulls in its neighbour relative to this folder.
#include "constants.fxh"

float3 LightDirection = {0.0, 0.0, -1.0};

float Diffuse(float3 normal) {
  return saturate(dot(normal, -LightDirection)) * kLightScale;
}
