#include "bridge/dart_message.h"

namespace velmo::bridge {

size_t ElementSize(int32_t element_type) {
  switch (element_type) {
    case kDartByteData:
    case kDartInt8:
    case kDartUint8:
    case kDartUint8Clamped:
      return 1;
    case kDartInt16:
    case kDartUint16:
      return 2;
    case kDartInt32Elements:
    case kDartUint32:
    case kDartFloat32:
      return 4;
    case kDartInt64Elements:
    case kDartUint64:
    case kDartFloat64:
      return 8;
    case kDartInt32x4:
    case kDartFloat32x4:
    case kDartFloat64x2:
      return 16;
    default:
      return 0;
  }
}

}  // namespace velmo::bridge
