// DartSide plays the Dart end of an engine's method channels inside a unit
// test: it calls host methods and waits for their replies, and records the
// host's calls to Dart so the test can answer them (or not).
#ifndef PLATFORM_FLUTTER_TESTING_DART_SIDE_H_
#define PLATFORM_FLUTTER_TESTING_DART_SIDE_H_

#include <flutter_linux/flutter_linux.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fl_dart_side.h"

namespace fl_testing {

// A shared FlValue reference.
using ValuePtr = std::shared_ptr<FlValue>;
// Adopts the caller's reference (nullptr stays empty).
ValuePtr Adopt(FlValue* value);

// What a Dart caller would see for a reply.
struct Reply {
  enum class Kind { kSuccess, kError, kNotImplemented, kUndecodable, kNone };
  Kind kind = Kind::kNone;
  ValuePtr value;  // success: the result
  std::string code;
  std::optional<std::string> message;
  ValuePtr details;  // error: nullptr when absent
};

// A method call from the host to Dart.
struct Invocation {
  std::string channel;
  std::string method;
  ValuePtr args;
  guint64 response_id;
};

class DartSide {
 public:
  // Installs itself as the Dart handler for every channel of `engine`.
  explicit DartSide(FlEngine* engine);
  ~DartSide();
  DartSide(const DartSide&) = delete;
  DartSide& operator=(const DartSide&) = delete;

  // Calls `method` on `channel` with `args` (borrowed, may be nullptr) and
  // iterates the main loop until the reply arrives. kNone if it never does
  // within the guard time.
  Reply Call(const std::string& channel,
             const std::string& method,
             FlValue* args = nullptr);

  // Sends raw bytes from Dart and returns the raw reply.
  std::vector<uint8_t> Send(const std::string& channel,
                            const std::vector<uint8_t>& message);

  // Host-to-Dart calls received so far, oldest first.
  const std::vector<Invocation>& invocations() const { return invocations_; }
  // Messages on `channel` that were not method calls, oldest first.
  size_t undecodable_count() const { return undecodable_; }

  // Iterates the main loop until a call of `method` on `channel` arrives
  // (already recorded ones count); returns it, or nullopt at the guard time.
  std::optional<Invocation> WaitForInvocation(const std::string& channel,
                                              const std::string& method);

  // Lets pending main-loop work run (replies, idle callbacks).
  static void Drain();

  bool RespondSuccess(const Invocation& call, FlValue* result);
  bool RespondError(const Invocation& call,
                    const char* code,
                    const char* message,
                    FlValue* details);
  bool RespondNotImplemented(const Invocation& call);

 private:
  static void MessageCb(FlEngine* engine,
                        const gchar* channel,
                        GBytes* message,
                        guint64 response_id,
                        gpointer user_data);

  FlEngine* engine_;
  FlMethodCodec* codec_;
  std::vector<Invocation> invocations_;
  size_t undecodable_ = 0;
};

// A running headless engine with a DartSide attached: what a unit test of
// one channel service needs. Drops both, and drains the main loop, at the
// end.
class HeadlessEngine {
 public:
  HeadlessEngine();
  ~HeadlessEngine();
  HeadlessEngine(const HeadlessEngine&) = delete;
  HeadlessEngine& operator=(const HeadlessEngine&) = delete;

  FlEngine* engine() const { return engine_; }
  FlBinaryMessenger* messenger() const {
    return fl_engine_get_binary_messenger(engine_);
  }
  DartSide& dart() { return *dart_; }
  // Detaches the Dart side: host-to-Dart calls then go unanswered (empty).
  void DropDartSide() { dart_.reset(); }

 private:
  FlEngine* engine_;
  std::unique_ptr<DartSide> dart_;
};

}  // namespace fl_testing

#endif  // PLATFORM_FLUTTER_TESTING_DART_SIDE_H_
