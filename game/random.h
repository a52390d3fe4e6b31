#pragma once

#include <cstdint>

// The demo's one source of randomness: a fixed table filled once at start-up,
// so every run and every machine generates the same geometry.
namespace demo {

constexpr std::uint32_t kRandomTableSize = 1u << 20;

// T[0] = 2; T[i] = (i - 30363 * (T[i-1] ^ (T[i-1] >> 30))) mod 65536.
void FillRandomTable();
// T[k mod 2^20]; negative k wraps the same way.
int RandomInt(std::int64_t k);
// T[k mod 2^20] / 65535, in [0, 1].
float RandomUnit(std::int64_t k);

}  // namespace demo
