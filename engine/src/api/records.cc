#include "api/records.h"

namespace velmo::api {

std::string ToString(const PeerAddress& address) {
  return address.name + "." + std::to_string(address.device_id);
}

}  // namespace velmo::api
