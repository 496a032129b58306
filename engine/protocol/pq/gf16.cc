#include "protocol/pq/gf16.h"

namespace velmo::pq::gf16 {

uint16_t MulSlow(uint16_t a, uint16_t b) {
  uint32_t x = a;
  uint32_t r = 0;
  for (uint32_t y = b; y != 0; y >>= 1) {
    if (y & 1) {
      r ^= x;
    }
    x <<= 1;
    if (x & 0x10000) {
      x ^= kReduction;
    }
  }
  return static_cast<uint16_t>(r);
}

namespace internal {

namespace {

// 2 (the element x) generates the multiplicative group of this field, so its
// powers run through every non-zero element once.
Tables* BuildTables() {
  auto* t = new Tables;
  uint16_t v = 1;
  for (uint32_t i = 0; i < 65535; i++) {
    t->exp[i] = v;
    t->exp[i + 65535] = v;
    t->log[v] = static_cast<uint16_t>(i);
    v = MulSlow(v, 2);
  }
  t->log[0] = 0;
  return t;
}

}  // namespace

const Tables& GetTables() {
  static const Tables* tables = BuildTables();
  return *tables;
}

}  // namespace internal
}  // namespace velmo::pq::gf16
