// Feeds arbitrary bytes, in arbitrary chunks, to the relay's frame reader;
// every frame it accepts must encode back to the bytes it came from.
#include <cstdlib>

#include "../src/dart_link.h"

using fl_standin::EncodeFrame;
using fl_standin::Frame;
using fl_standin::TakeFrames;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> buffer;
  size_t pos = 0;
  // The first byte picks the chunk size, so frames split anywhere.
  size_t chunk = size > 0 ? data[0] % 16 + 1 : 1;
  bool readable = true;
  while (pos < size && readable) {
    size_t n = std::min(chunk, size - pos);
    buffer.insert(buffer.end(), data + pos, data + pos + n);
    pos += n;
    readable = TakeFrames(
        &buffer,
        [](Frame f) {
          std::vector<uint8_t> encoded;
          EncodeFrame(f, &encoded);
          std::vector<uint8_t> rest = encoded;
          bool seen = false;
          TakeFrames(
              &rest, [&](Frame g) { seen = g.payload == f.payload; },
              [](const std::string&) { abort(); });
          if (!seen || !rest.empty()) {
            abort();
          }
        },
        [](const std::string&) {});
  }
  return 0;
}
