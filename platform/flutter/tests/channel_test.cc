// Channels, calls and the messenger, driven from an in-process Dart side.
#include <flutter_linux/flutter_linux.h>
#include <gtest/gtest.h>

#include "dart_side.h"

namespace {

using fl_testing::DartSide;
using fl_testing::HeadlessEngine;
using fl_testing::Reply;

class ChannelTest : public ::testing::Test {
 protected:
  FlMethodChannel* NewChannel(const char* name) {
    g_autoptr(FlStandardMethodCodec) codec = fl_standard_method_codec_new();
    return fl_method_channel_new(host_.messenger(), name,
                                 FL_METHOD_CODEC(codec));
  }

  HeadlessEngine host_;
  FlEngine* engine_ = host_.engine();
  DartSide* dart_ = &host_.dart();
};

// Answers "hello" with its arguments, "fail" with an error, and nothing else.
void AnsweringHandler(FlMethodChannel* channel,
                      FlMethodCall* call,
                      gpointer data) {
  ++*static_cast<int*>(data);
  const gchar* name = fl_method_call_get_name(call);
  if (g_str_equal(name, "hello")) {
    fl_method_call_respond_success(call, fl_method_call_get_args(call),
                                   nullptr);
  } else if (g_str_equal(name, "fail")) {
    g_autoptr(FlValue) details = fl_value_new_string("why");
    fl_method_call_respond_error(call, "E1", "it failed", details, nullptr);
  } else {
    fl_method_call_respond_not_implemented(call, nullptr);
  }
}

TEST_F(ChannelTest, DartCallsReachTheHandlerAndGetItsAnswer) {
  int calls = 0;
  g_autoptr(FlMethodChannel) channel = NewChannel("test/a");
  fl_method_channel_set_method_call_handler(channel, AnsweringHandler, &calls,
                                            nullptr);
  g_autoptr(FlValue) args = fl_value_new_int(5);
  Reply ok = dart_->Call("test/a", "hello", args);
  ASSERT_EQ(ok.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(fl_value_get_int(ok.value.get()), 5);

  Reply err = dart_->Call("test/a", "fail");
  ASSERT_EQ(err.kind, Reply::Kind::kError);
  EXPECT_EQ(err.code, "E1");
  EXPECT_EQ(err.message, "it failed");
  EXPECT_STREQ(fl_value_get_string(err.details.get()), "why");

  EXPECT_EQ(dart_->Call("test/a", "other").kind, Reply::Kind::kNotImplemented);
  // No channel of that name: the engine itself answers with nothing.
  EXPECT_EQ(dart_->Call("test/none", "hello").kind,
            Reply::Kind::kNotImplemented);
  // Bytes that are no method call are answered, not left hanging.
  EXPECT_TRUE(dart_->Send("test/a", {0x07, 0x09}).empty());
  EXPECT_EQ(calls, 3);
}

TEST_F(ChannelTest, DroppedRegistrationKeepsServingUntilReplaced) {
  int first_calls = 0, second_calls = 0;
  bool first_released = false;
  {
    g_autoptr(FlMethodChannel) first = NewChannel("test/b");
    fl_method_channel_set_method_call_handler(first, AnsweringHandler,
                                              &first_calls, nullptr);
    g_object_set_data_full(G_OBJECT(first), "flag", &first_released,
                           [](gpointer p) { *static_cast<bool*>(p) = true; });
  }
  // The creator's reference is gone; the messenger's keeps it serving.
  EXPECT_EQ(dart_->Call("test/b", "hello").kind, Reply::Kind::kSuccess);
  EXPECT_FALSE(first_released);

  g_autoptr(FlMethodChannel) second = NewChannel("test/b");
  EXPECT_TRUE(first_released);  // replaced: closed and released
  fl_method_channel_set_method_call_handler(second, AnsweringHandler,
                                            &second_calls, nullptr);
  EXPECT_EQ(dart_->Call("test/b", "hello").kind, Reply::Kind::kSuccess);
  EXPECT_EQ(first_calls, 1);
  EXPECT_EQ(second_calls, 1);
}

TEST_F(ChannelTest, HandlerDestroyNotifyRunsOnReplaceAndShutdown) {
  int destroyed = 0;
  auto count = [](gpointer p) { ++*static_cast<int*>(p); };
  g_autoptr(FlMethodChannel) channel = NewChannel("test/c");
  fl_method_channel_set_method_call_handler(channel, AnsweringHandler,
                                            &destroyed, count);
  fl_method_channel_set_method_call_handler(channel, AnsweringHandler,
                                            &destroyed, count);
  EXPECT_EQ(destroyed, 1);
  fl_dart_side_shutdown_engine(engine_);
  EXPECT_EQ(destroyed, 2);
  // A closed channel refuses a new handler but still releases its data.
  fl_method_channel_set_method_call_handler(channel, AnsweringHandler,
                                            &destroyed, count);
  EXPECT_EQ(destroyed, 3);
}

struct Outcome {
  bool done = false;
  FlMethodResponse* response = nullptr;
  GError* error = nullptr;
  ~Outcome() {
    g_clear_object(&response);
    g_clear_error(&error);
  }
};

void InvokeDoneCb(GObject* source, GAsyncResult* result, gpointer data) {
  Outcome* o = static_cast<Outcome*>(data);
  o->response = fl_method_channel_invoke_method_finish(
      FL_METHOD_CHANNEL(source), result, &o->error);
  o->done = true;
}

TEST_F(ChannelTest, HostCallsToDartCompleteWithDartsAnswer) {
  g_autoptr(FlMethodChannel) channel = NewChannel("test/d");
  Outcome success, error, missing, never;
  g_autoptr(FlValue) args = fl_value_new_string("a");
  fl_method_channel_invoke_method(channel, "s", args, nullptr, InvokeDoneCb,
                                  &success);
  fl_method_channel_invoke_method(channel, "e", nullptr, nullptr, InvokeDoneCb,
                                  &error);
  fl_method_channel_invoke_method(channel, "n", nullptr, nullptr, InvokeDoneCb,
                                  &missing);
  fl_method_channel_invoke_method(channel, "x", nullptr, nullptr, InvokeDoneCb,
                                  &never);
  // Never inside the call that caused it.
  EXPECT_FALSE(success.done);

  auto s = dart_->WaitForInvocation("test/d", "s");
  ASSERT_TRUE(s.has_value());
  EXPECT_STREQ(fl_value_get_string(s->args.get()), "a");
  ASSERT_TRUE(dart_->WaitForInvocation("test/d", "x").has_value());
  const auto& calls = dart_->invocations();
  ASSERT_EQ(calls.size(), 4u);
  g_autoptr(FlValue) result = fl_value_new_int(1);
  EXPECT_TRUE(dart_->RespondSuccess(calls[0], result));
  EXPECT_TRUE(dart_->RespondError(calls[1], "bad", nullptr, nullptr));
  EXPECT_TRUE(dart_->RespondNotImplemented(calls[2]));
  EXPECT_FALSE(dart_->RespondNotImplemented(calls[2]));  // already answered
  while (!success.done || !error.done || !missing.done) {
    g_main_context_iteration(nullptr, TRUE);
  }
  ASSERT_TRUE(FL_IS_METHOD_SUCCESS_RESPONSE(success.response));
  EXPECT_EQ(fl_value_get_int(
                fl_method_response_get_result(success.response, nullptr)),
            1);
  ASSERT_TRUE(FL_IS_METHOD_ERROR_RESPONSE(error.response));
  EXPECT_STREQ(fl_method_error_response_get_code(
                   FL_METHOD_ERROR_RESPONSE(error.response)),
               "bad");
  EXPECT_TRUE(FL_IS_METHOD_NOT_IMPLEMENTED_RESPONSE(missing.response));
  EXPECT_FALSE(never.done);

  // Shutting the engine down fails the call Dart never answered.
  fl_dart_side_shutdown_engine(engine_);
  while (!never.done) {
    g_main_context_iteration(nullptr, TRUE);
  }
  EXPECT_EQ(never.response, nullptr);
  EXPECT_NE(never.error, nullptr);
}

TEST_F(ChannelTest, WithoutADartHandlerTheHostSeesNotImplemented) {
  host_.DropDartSide();
  g_autoptr(FlMethodChannel) channel = NewChannel("test/e");
  Outcome o;
  fl_method_channel_invoke_method(channel, "m", nullptr, nullptr, InvokeDoneCb,
                                  &o);
  EXPECT_FALSE(o.done);
  while (!o.done) {
    g_main_context_iteration(nullptr, TRUE);
  }
  EXPECT_TRUE(FL_IS_METHOD_NOT_IMPLEMENTED_RESPONSE(o.response));
}

TEST_F(ChannelTest, ASecondResponseIsRefusedAndADroppedCallIsAnswered) {
  struct State {
    gboolean second = TRUE;
    GError* error = nullptr;
    FlMethodCall* kept = nullptr;
  } state;
  g_autoptr(FlMethodChannel) channel = NewChannel("test/f");
  fl_method_channel_set_method_call_handler(
      channel,
      [](FlMethodChannel*, FlMethodCall* call, gpointer data) {
        State* st = static_cast<State*>(data);
        if (g_str_equal(fl_method_call_get_name(call), "twice")) {
          fl_method_call_respond_success(call, nullptr, nullptr);
          st->second =
              fl_method_call_respond_success(call, nullptr, &st->error);
        } else {
          st->kept = FL_METHOD_CALL(g_object_ref(call));  // answered later
        }
      },
      &state, nullptr);
  EXPECT_EQ(dart_->Call("test/f", "twice").kind, Reply::Kind::kSuccess);
  EXPECT_FALSE(state.second);
  EXPECT_TRUE(g_error_matches(state.error, FL_BINARY_MESSENGER_ERROR,
                              FL_BINARY_MESSENGER_ERROR_ALREADY_RESPONDED));
  g_clear_error(&state.error);

  // Answering later works; here the call is dropped unanswered instead,
  // which must still reach Dart as not implemented.
  std::vector<uint8_t> reply;
  bool arrived = false;
  struct Sink {
    std::vector<uint8_t>* reply;
    bool* arrived;
  } sink{&reply, &arrived};
  g_autoptr(GBytes) call = g_bytes_new("\x07\x05later\x00", 8);
  fl_dart_side_send(
      engine_, "test/f", call,
      [](GBytes* r, gpointer d) {
        Sink* s = static_cast<Sink*>(d);
        *s->arrived = true;
        s->reply->resize(g_bytes_get_size(r));
      },
      &sink);
  while (state.kept == nullptr) {
    g_main_context_iteration(nullptr, TRUE);
  }
  EXPECT_FALSE(arrived);
  g_test_expect_message(nullptr, G_LOG_LEVEL_CRITICAL, "*dropped*");
  g_clear_object(&state.kept);
  g_test_assert_expected_messages();
  while (!arrived) {
    g_main_context_iteration(nullptr, TRUE);
  }
  EXPECT_TRUE(reply.empty());
}

}  // namespace
