#include "engine/wrapper.h"

#include "engine/kernel.h"

namespace engine {

void AddModule(core::Module* module, int key) { core::Kernel::Get()->AddModule(module, key); }

void QuitApplication() { core::Kernel::Get()->Quit(); }

int FindLessEqualPow2(int n) {
  if (n < 1) return 0;
  // Doubling past 2^30 would overflow a signed int; 2^30 is the largest
  // power of two an int holds.
  int power = 1;
  while (power <= n / 2) power *= 2;
  return power;
}

}  // namespace engine
