// The call-audio query channel.
#include <gtest/gtest.h>

#include "call_audio.h"
#include "dart_side.h"

namespace {

using fl_testing::HeadlessEngine;
using fl_testing::Reply;

constexpr char kChannel[] = "flutter_callkit_incoming";

TEST(CallAudioTest, AnswersTheOutputQueryAndDeclinesTheRest) {
  HeadlessEngine host;
  auto& dart = host.dart();
  FlBinaryMessenger* messenger = host.messenger();

  call_audio_register(nullptr);  // nothing to register on
  EXPECT_EQ(dart.Call(kChannel, "getCurrentOutput").kind,
            Reply::Kind::kNotImplemented);

  // Registering twice leaves one working channel.
  call_audio_register(messenger);
  call_audio_register(messenger);
  g_autoptr(FlValue) args = fl_value_new_map();
  for (FlValue* a : {static_cast<FlValue*>(nullptr), args}) {
    Reply r = dart.Call(kChannel, "getCurrentOutput", a);
    ASSERT_EQ(r.kind, Reply::Kind::kSuccess);
    EXPECT_EQ(fl_value_get_type(r.value.get()), FL_VALUE_TYPE_NULL);
  }
  EXPECT_EQ(dart.Call(kChannel, "startCall").kind,
            Reply::Kind::kNotImplemented);
  EXPECT_EQ(dart.Call(kChannel, "getcurrentoutput").kind,
            Reply::Kind::kNotImplemented);
  EXPECT_TRUE(dart.invocations().empty());  // nothing sent unasked

  call_audio_shutdown();
  EXPECT_EQ(dart.Call(kChannel, "getCurrentOutput").kind,
            Reply::Kind::kNotImplemented);
  call_audio_shutdown();  // twice is harmless
}

}  // namespace
