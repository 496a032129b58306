// Run-time choice between the portable code and the AVX2 code. Internal to
// the crypto layer.
#pragma once

namespace velmo::crypto::internal {

// UseAvx2 tells whether the AVX2 code may run: the CPU has AVX2 and tests
// have not asked for the portable code.
bool UseAvx2();

// Tests run every vector through both paths on a machine with AVX2.
void ForcePortableForTesting(bool portable);

}  // namespace velmo::crypto::internal
