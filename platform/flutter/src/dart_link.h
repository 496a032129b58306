// The relay to an out-of-process Dart side over a Unix socket.
//
// Frames, all little-endian:
//   u32 length (bytes after this field) | u8 kind | u32 id | u16 name length
//   | name | payload
// The frame kinds and what they carry are listed in the README beside this
// folder's sources.
#ifndef PLATFORM_FLUTTER_SRC_DART_LINK_H_
#define PLATFORM_FLUTTER_SRC_DART_LINK_H_

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fl_standin {

enum class FrameKind : uint8_t {
  kCall = 1,        // both ways: a platform message that expects a reply
  kReply = 2,       // both ways: the reply to the call with the same id
  kStart = 3,       // host to Dart: the engine started (payload: a map)
  kRegistrar = 4,   // host to Dart: a registrar was requested (name)
  kFirstFrame = 5,  // host to Dart: "first-frame" was emitted
  kFrameReady = 6,  // Dart to host: Dart drew its first frame
};

struct Frame {
  FrameKind kind;
  uint32_t id;
  std::string name;
  std::vector<uint8_t> payload;
};

// Frames larger than this cannot be resynchronised on and end the link.
constexpr uint32_t kMaxFrameLength = 64u << 20;

// Appends the encoding of one frame to `out`.
void EncodeFrame(const Frame& frame, std::vector<uint8_t>* out);

// Takes every complete frame off the front of `buffer`. A well-delimited
// frame that is malformed is reported through `on_malformed` and skipped.
// Returns false when the stream cannot be read on (a length over the limit).
bool TakeFrames(std::vector<uint8_t>* buffer,
                const std::function<void(Frame)>& on_frame,
                const std::function<void(const std::string&)>& on_malformed);

class DartLink {
 public:
  struct Delegate {
    virtual ~Delegate() = default;
    // Frames that arrived, in order; `disconnected` when the stream ended
    // after them. The delegate may destroy the link from here.
    virtual void OnFrames(std::vector<Frame> frames, bool disconnected) = 0;
  };

  // Connects to the socket at `path`; nullptr (and a warning) on failure.
  static std::unique_ptr<DartLink> Connect(const char* path,
                                           Delegate* delegate);
  ~DartLink();

  // Writes one frame; returns false when the connection is gone.
  bool Send(const Frame& frame);

 private:
  DartLink(GSocketConnection* connection, Delegate* delegate);
  void ReadMore();
  static void ReadCb(GObject* source, GAsyncResult* result, gpointer data);

  GSocketConnection* connection_;
  GCancellable* cancellable_;
  Delegate* delegate_;
  std::vector<uint8_t> inbox_;
  bool closed_ = false;
};

}  // namespace fl_standin

#endif  // PLATFORM_FLUTTER_SRC_DART_LINK_H_
