// Runs a test once on the default code path (AVX2 where the CPU has it) and
// once on the portable one.
#pragma once

#include <gtest/gtest.h>

#include "crypto/cpu.h"

namespace velmo::crypto::test {

class BothCodePaths : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { internal::ForcePortableForTesting(GetParam()); }
  void TearDown() override { internal::ForcePortableForTesting(false); }
};

inline std::string PathName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Portable" : "Default";
}

}  // namespace velmo::crypto::test
