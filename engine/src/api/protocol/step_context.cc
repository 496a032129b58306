#include "api/protocol/step_context.h"

#include "crypto/clock.h"

namespace velmo::api {

StepContext StepContext::System() {
  return StepContext{crypto::ThreadRng(), crypto::NowUnixSeconds()};
}

}  // namespace velmo::api
