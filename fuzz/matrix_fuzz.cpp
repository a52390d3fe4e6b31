// Placement-matrix files: any bytes end in a matrix set or a thrown message.
#include <cstddef>
#include <cstdint>

#include "game/curves.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    demo::ReadMatrices(data, size);
  } catch (const char*) {
  }
  return 0;
}
