#include "game/random.h"

#include <vector>

namespace demo {
namespace {

std::vector<std::uint32_t>& Table() {
  static std::vector<std::uint32_t> table(kRandomTableSize, 0);
  return table;
}

std::uint32_t Slot(std::int64_t k) {
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(k) & (kRandomTableSize - 1));
}

}  // namespace

void FillRandomTable() {
  std::vector<std::uint32_t>& t = Table();
  t[0] = 2;
  for (std::uint32_t i = 1; i < kRandomTableSize; ++i) {
    const std::uint32_t prev = t[i - 1];
    // Unsigned arithmetic wraps modulo 2^32, which keeps the low 16 bits of
    // the signed formula.
    t[i] = (i - 30363u * (prev ^ (prev >> 30))) & 0xFFFFu;
  }
}

int RandomInt(std::int64_t k) { return static_cast<int>(Table()[Slot(k)]); }

float RandomUnit(std::int64_t k) { return static_cast<float>(Table()[Slot(k)]) / 65535.0f; }

}  // namespace demo
