// Curve files come from outside the program: any bytes must end in a curve
// set or a thrown message, never in a crash, a hang or a huge allocation.
#include <cstddef>
#include <cstdint>

#include "game/curves.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const demo::CurveSet curves = demo::ReadCurves(data, size);
    // What the demo does with a curve: evaluate it and project onto it.
    for (const auto& [name, splines] : curves) {
      for (const demo::Spline& spline : splines) {
        spline.Evaluate(0.5f);
        spline.Project(engine::math::Vector3f(1.0f, 2.0f, 3.0f));
      }
    }
  } catch (const char*) {
  }
  return 0;
}
