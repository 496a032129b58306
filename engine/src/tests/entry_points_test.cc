// The exported entry points, driven the way the Dart side drives them, with
// the fake VM receiving posted replies.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api/operation.h"
#include "api/operation_table.h"
#include "api/records.h"
#include "bridge/dart_objects.h"
#include "bridge/dispatch.h"
#include "bridge/shared_state.h"
#include "protocol/log.h"
#include "tests/dart_vm_fake.h"
#include "velmo_core.h"

namespace velmo {
namespace {

using testing::CallSync;
using testing::FakeVm;
using testing::MakeArguments;
using testing::Posted;
using Raw = std::vector<uint8_t>;

constexpr std::string_view kFailedPost =
    "Fail to post message to Dart. (If happen during Flutter hot restart, this "
    "may not be a problem.)\n";

// A fault reply: action byte 3, then a well-formed text.
::testing::AssertionResult IsFault(const Raw& reply) {
  if (reply.size() < 5 || reply[0] != 3) {
    return ::testing::AssertionFailure() << "not a fault reply";
  }
  uint32_t len;
  std::memcpy(&len, reply.data() + 1, 4);
  if (len != reply.size() - 5) {
    return ::testing::AssertionFailure() << "fault text length " << len;
  }
  return ::testing::AssertionSuccess()
         << std::string(reply.begin() + 5, reply.end());
}

std::string FaultText(const Raw& reply) {
  return std::string(reply.begin() + 5, reply.end());
}

TEST(EntryPoints, ContentHash) {
  EXPECT_EQ(engine_content_hash(), -1904832224);
  EXPECT_EQ(static_cast<uint32_t>(engine_content_hash()), 0x8E769120u);
}

TEST(EntryPoints, BytesNewResizeFree) {
  uint8_t* empty = engine_bytes_new(0);
  EXPECT_NE(empty, nullptr);
  engine_bytes_free(empty, 0);
  engine_free_sync_reply(empty, 0);
  engine_free_sync_reply(nullptr, 0);
  EXPECT_EQ(engine_bytes_new(-1), nullptr);

  uint8_t* b = engine_bytes_new(4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Raw(b, b + 4), Raw(4, 0));
  std::memcpy(b, "\x01\x02\x03\x04", 4);
  b = engine_bytes_resize(b, 4, 8);
  EXPECT_EQ(Raw(b, b + 8), (Raw{1, 2, 3, 4, 0, 0, 0, 0}));
  b[7] = 9;
  b = engine_bytes_resize(b, 8, 4);
  EXPECT_EQ(Raw(b, b + 4), (Raw{1, 2, 3, 4}));
  b = engine_bytes_resize(b, 4, 0);
  EXPECT_NE(b, nullptr);
  b = engine_bytes_resize(b, 0, 2);
  EXPECT_EQ(Raw(b, b + 2), (Raw{0, 0}));
  engine_bytes_free(b, 2);
}

TEST(EntryPoints, CiphertextVersionExactReplies) {
  EXPECT_EQ(CallSync(1, Raw{1, 0, 0, 0, 0x33}), (Raw{0, 3}));
  EXPECT_EQ(CallSync(1, Raw{1, 0, 0, 0, 0x44}), (Raw{0, 4}));
  EXPECT_EQ(CallSync(1, Raw{3, 0, 0, 0, 0x31, 0xFF, 0xFF}), (Raw{0, 3}));
  Raw empty_reply = CallSync(1, Raw{0, 0, 0, 0});
  Raw expected = {1, 6, 0, 0, 0, 16, 0, 0, 0};
  for (char c : std::string("empty ciphertext")) {
    expected.push_back(static_cast<uint8_t>(c));
  }
  EXPECT_EQ(empty_reply.size(), 25u);
  EXPECT_EQ(empty_reply, expected);
}

TEST(EntryPoints, MalformedArgumentsGiveFaultsAndTheEngineKeepsServing) {
  const struct {
    const char* name;
    int32_t op;
    Raw args;
    int32_t slack;
  } kCases[] = {
      {"one byte too many", 1, {1, 0, 0, 0, 0x33, 0}, 0},
      {"one byte short", 1, {2, 0, 0, 0, 0x33}, 0},
      {"no arguments", 1, {}, 0},
      {"negative length", 1, {0xFF, 0xFF, 0xFF, 0xFF}, 0},
      {"length reads into the slack", 1, {1, 0, 0, 0}, 1},
      {"operation 0", 0, {}, 0},
      {"operation 22", 22, {}, 0},
      {"negative operation", -5, {}, 0},
      {"asynchronous operation", 20, {}, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testing::CallerBuffer in = MakeArguments(c.args, c.slack);
    EngineSyncReply reply = engine_dispatch_sync(c.op, in.data, in.cap, in.len);
    Raw bytes(reply.data, reply.data + reply.len);
    engine_free_sync_reply(reply.data, reply.len);
    EXPECT_TRUE(IsFault(bytes));
    EXPECT_EQ(CallSync(1, Raw{1, 0, 0, 0, 0x33}), (Raw{0, 3}));
  }
  EXPECT_EQ(FaultText(CallSync(1, Raw{1, 0, 0, 0, 0x33, 0})),
            "arguments end at byte 5 but the data length is 6");
  EXPECT_EQ(FaultText(CallSync(99, Raw{})), "unknown operation 99");
}

TEST(EntryPoints, InconsistentBufferLengthsGiveFaults) {
  uint8_t* data = engine_bytes_new(4);
  EngineSyncReply reply = engine_dispatch_sync(1, data, 4, 5);
  EXPECT_TRUE(IsFault(Raw(reply.data, reply.data + reply.len)));
  engine_free_sync_reply(reply.data, reply.len);
}

// Operations whose text arguments exercise the decoder's UTF-8 check before
// any operation of the table takes one.
api::Outcome<uint32_t> DeviceOf(api::PeerAddress address) {
  return address.device_id;
}
api::Outcome<uint8_t> Throws(crypto::Bytes) {
  throw std::runtime_error("surprise");
}
api::Outcome<uint8_t> ThrowsNothingUseful(crypto::Bytes) {
  throw 42;
}

Raw RunTestOperation(const api::Operation& op, const Raw& args) {
  testing::CallerBuffer in = MakeArguments(args);
  bridge::OwnedBytes reply =
      bridge::RunSync(op, bridge::Arguments(in.data, in.cap, in.len));
  return Raw(reply.data(), reply.data() + reply.size());
}

TEST(EntryPoints, InvalidUtf8TextGivesAFault) {
  constexpr api::Operation kDeviceOf = api::Sync<&DeviceOf>(100, "device_of");
  Raw good = {2, 0, 0, 0, 'h', 'i', 7, 0, 0, 0};
  Raw bad = {2, 0, 0, 0, 0xC3, 0x28, 7, 0, 0, 0};
  Raw reply = RunTestOperation(kDeviceOf, bad);
  ASSERT_TRUE(IsFault(reply));
  EXPECT_EQ(FaultText(reply), "text is not valid UTF-8");
  EXPECT_EQ(RunTestOperation(kDeviceOf, good), (Raw{0, 7, 0, 0, 0}));
}

TEST(EntryPoints, FailuresInsideAnOperationGiveFaults) {
  constexpr api::Operation kThrows = api::Sync<&Throws>(101, "throws");
  constexpr api::Operation kThrowsInt =
      api::Sync<&ThrowsNothingUseful>(102, "throws_int");
  Raw args = {0, 0, 0, 0};
  EXPECT_EQ(FaultText(RunTestOperation(kThrows, args)), "surprise");
  Raw reply = RunTestOperation(kThrowsInt, args);
  ASSERT_TRUE(IsFault(reply));
  EXPECT_EQ(FaultText(reply), "internal failure (no message)");
}

TEST(EntryPoints, EveryTableEntryIsReachableAndFaultsCleanlyOnGarbage) {
  for (const api::Operation& op : api::AllOperations()) {
    SCOPED_TRACE(op.name);
    Raw garbage = {0xFF, 0xFF, 0xFF, 0xFF, 1};
    Raw reply = CallSync(op.number, garbage);
    EXPECT_TRUE(IsFault(reply));
  }
}

// ---- Asynchronous dispatch and posting.

void CallAsync(int32_t op, int64_t port, const Raw& args = {}) {
  testing::CallerBuffer in = MakeArguments(args);
  engine_dispatch_async(op, port, in.data, in.cap, in.len);
}

// Waits until every job submitted so far has finished, posting included.
void WaitForIdlePool() {
  const bridge::WorkerPool& pool = bridge::EnsureSharedState().pool;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (pool.queued() + pool.running() != 0) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "pool hangs";
    std::this_thread::yield();
  }
}

TEST(AsyncDispatch, DefaultsArrivePostedAsExternalBytes) {
  FakeVm vm;
  CallAsync(20, 2001);
  CallAsync(21, 2002);
  ASSERT_TRUE(vm.WaitForPosts(2));
  std::vector<Posted> changes = vm.PostsTo(2001);
  std::vector<Posted> snapshot = vm.PostsTo(2002);
  ASSERT_EQ(changes.size(), 1u);
  ASSERT_EQ(snapshot.size(), 1u);
  EXPECT_EQ(changes[0].bytes, Raw(33, 0));
  EXPECT_EQ(snapshot[0].bytes, Raw(29, 0));
  for (const Posted& p : {changes[0], snapshot[0]}) {
    EXPECT_EQ(p.type, testing::kVmExternalTypedData);
    EXPECT_EQ(p.element_type, testing::kVmUint8);
    EXPECT_EQ(p.callback, &engine_release_buffer_u8);
    // The peer is the buffer record: capacity, data, length.
    const auto* record = static_cast<const uint64_t*>(p.peer);
    EXPECT_EQ(record[0], p.bytes.size());
    EXPECT_EQ(reinterpret_cast<void*>(record[1]), p.data);
    EXPECT_EQ(record[2], p.bytes.size());
  }
  EXPECT_EQ(vm.Collect(), 2u);
}

TEST(AsyncDispatch, ArgumentsGiveAFaultPostedAtOnceAndNoJob) {
  FakeVm vm;
  CallAsync(20, 2101);  // makes sure the pool exists
  ASSERT_TRUE(vm.WaitForPosts(1));
  size_t jobs_before = bridge::SharedStateIfMade()->pool.submitted();

  CallAsync(20, 2102, Raw{1});
  // Posted from the calling thread, before engine_dispatch_async returned.
  std::vector<Posted> posted = vm.PostsTo(2102);
  ASSERT_EQ(posted.size(), 1u);
  ASSERT_TRUE(IsFault(posted[0].bytes));
  EXPECT_EQ(FaultText(posted[0].bytes),
            "arguments end at byte 0 but the data length is 1");
  EXPECT_EQ(bridge::SharedStateIfMade()->pool.submitted(), jobs_before);

  const struct {
    const char* name;
    int32_t op;
    int64_t port;
  } kRejected[] = {
      {"synchronous operation", 1, 2103},
      {"unknown operation", 0, 2104},
      {"unknown operation", 22, 2105},
  };
  for (const auto& c : kRejected) {
    SCOPED_TRACE(c.name);
    CallAsync(c.op, c.port);
    posted = vm.PostsTo(c.port);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_TRUE(IsFault(posted[0].bytes));
  }
  EXPECT_EQ(bridge::SharedStateIfMade()->pool.submitted(), jobs_before);
}

TEST(AsyncDispatch, NoPostFunctionWritesTheWarning) {
  engine_set_post_function(nullptr);
  CallAsync(20, 2201);  // the pool exists before stdout is captured
  WaitForIdlePool();
  ::testing::internal::CaptureStdout();
  CallAsync(20, 2202);       // a worker's reply
  WaitForIdlePool();
  CallAsync(20, 2203, Raw{1});  // a fault, posted from this thread
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, std::string(kFailedPost) + std::string(kFailedPost));
  // LeakSanitizer checks that both replies were released.
}

TEST(AsyncDispatch, RefusedPostReleasesTheReplyAndWarns) {
  FakeVm vm;
  vm.KillPort(2301);
  ::testing::internal::CaptureStdout();
  CallAsync(20, 2301);
  WaitForIdlePool();
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, kFailedPost);
  EXPECT_TRUE(vm.PostsTo(2301).empty());
  EXPECT_EQ(vm.Collect(), 0u);  // the engine released it, not the VM
}

std::vector<std::pair<log::Level, std::string>> g_logged;

void RecordLine(log::Level level, std::string_view line) {
  g_logged.emplace_back(level, std::string(line));
}

TEST(AsyncDispatch, FailedPostGoesToALogSinkThatTakesWarnings) {
  FakeVm vm;
  vm.KillPort(2351);
  g_logged.clear();
  log::SetSink(&RecordLine, log::Level::kWarning);
  ::testing::internal::CaptureStdout();
  CallAsync(20, 2351, Raw{1});
  std::string out = ::testing::internal::GetCapturedStdout();
  log::SetSink(nullptr, log::Level::kError);
  EXPECT_EQ(out, "");
  ASSERT_EQ(g_logged.size(), 1u);
  EXPECT_EQ(g_logged[0].first, log::Level::kWarning);
  EXPECT_EQ(g_logged[0].second + "\n", kFailedPost);

  // A sink for errors only does not take the warning.
  log::SetSink(&RecordLine, log::Level::kError);
  ::testing::internal::CaptureStdout();
  CallAsync(20, 2351, Raw{1});
  out = ::testing::internal::GetCapturedStdout();
  log::SetSink(nullptr, log::Level::kError);
  EXPECT_EQ(out, kFailedPost);
  EXPECT_EQ(g_logged.size(), 1u);
}

TEST(AsyncDispatch, LastShutdownDropsRepliesSilently) {
  FakeVm vm;
  void (*first)() = engine_create_shutdown_callback();
  void (*second)() = engine_create_shutdown_callback();
  ASSERT_NE(first, nullptr);
  first();
  CallAsync(20, 2401);
  WaitForIdlePool();
  EXPECT_EQ(vm.PostsTo(2401).size(), 1u);

  second();
  ::testing::internal::CaptureStdout();
  CallAsync(21, 2402);
  WaitForIdlePool();
  CallAsync(20, 2403, Raw{1});
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");
  EXPECT_TRUE(vm.PostsTo(2402).empty());
  EXPECT_TRUE(vm.PostsTo(2403).empty());
  // LeakSanitizer checks that the dropped replies were released.

  // A restarted isolate registers again and is heard again.
  engine_set_post_function(FakeVm::post_function());
  CallAsync(20, 2404);
  WaitForIdlePool();
  EXPECT_EQ(vm.PostsTo(2404).size(), 1u);
}

// ---- Dart API binding and Dart-object tokens.

TEST(DartApi, MajorVersionOtherThanTwoIsRefused) {
  FakeVm vm;
  EXPECT_EQ(engine_init_dart_api(vm.api_record(3)), -1);
  EXPECT_EQ(engine_init_dart_api(vm.api_record(1)), -1);
  EXPECT_EQ(engine_init_dart_api(nullptr), -1);
  // Nothing was unbound: tokens still work with the earlier binding.
  FakeVm::EnterIsolate(&vm);
  int object = 0;
  void* token = engine_hold_dart_object(&object, 1);
  ASSERT_NE(token, nullptr);
  EXPECT_EQ(engine_take_dart_object(token), &object);
  FakeVm::EnterIsolate(nullptr);
  EXPECT_EQ(engine_init_dart_api(vm.api_record(2)), 0);
}

TEST(DartApi, MissingFunctionsAreNotCalled) {
  FakeVm vm;
  testing::VmApiEntry only_post[] = {{"Dart_PostCObject", nullptr},
                                     {nullptr, nullptr}};
  testing::VmApiRecord record{2, 5, only_post};
  ASSERT_EQ(engine_init_dart_api(
                reinterpret_cast<const EngineDartApiRecord*>(&record)),
            0);
  int object = 0;
  EXPECT_EQ(engine_hold_dart_object(&object, 1), nullptr);
  EXPECT_EQ(engine_take_dart_object(nullptr), nullptr);
  EXPECT_EQ(engine_init_dart_api(vm.api_record()), 0);
}

TEST(DartObjects, TakeReturnsTheObjectAndDeletesTheLastHandle) {
  FakeVm vm;
  FakeVm::EnterIsolate(&vm);
  size_t live = vm.live_persistent_handles();
  int object = 0;
  void* token = engine_hold_dart_object(&object, 7);
  EXPECT_EQ(vm.live_persistent_handles(), live + 1);
  // On another isolate the token is not taken.
  std::thread([&] {
    int other_isolate;
    FakeVm::EnterIsolate(&other_isolate);
    EXPECT_EQ(engine_take_dart_object(token), nullptr);
  }).join();
  EXPECT_EQ(engine_take_dart_object(token), &object);
  EXPECT_EQ(vm.live_persistent_handles(), live);
  FakeVm::EnterIsolate(nullptr);
}

TEST(DartObjects, LastReferenceDroppedElsewhereComesBackToThePort) {
  FakeVm vm;
  FakeVm::EnterIsolate(&vm);
  size_t live = vm.live_persistent_handles();
  int object = 0;
  auto* token = static_cast<bridge::DartObjectToken*>(
      engine_hold_dart_object(&object, 2601));
  bridge::RetainDartObject(token);
  EXPECT_EQ(engine_take_dart_object(token), &object);
  EXPECT_EQ(vm.live_persistent_handles(), live + 1);  // one reference left

  // A thread outside the isolate may not delete the handle: it sends it back.
  std::thread([&] { bridge::ReleaseDartObject(token); }).join();
  std::vector<Posted> posted = vm.PostsTo(2601);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].type, testing::kVmInt64);
  EXPECT_EQ(vm.live_persistent_handles(), live + 1);
  engine_drop_dart_object(reinterpret_cast<void*>(posted[0].integer));
  EXPECT_EQ(vm.live_persistent_handles(), live);
  engine_drop_dart_object(nullptr);
  FakeVm::EnterIsolate(nullptr);
}

// ---- Reply objects and finalizers.

TEST(ReplyObjects, FreeReleasesWhatTheObjectOwns) {
  auto box = [] {
    return static_cast<testing::VmMessage*>(
        std::calloc(1, sizeof(testing::VmMessage)));
  };
  testing::VmMessage* text = box();
  text->type = 5;
  *reinterpret_cast<char**>(&text->value) = strdup("hello");
  testing::VmMessage* typed = box();
  typed->type = testing::kVmTypedData;
  typed->value.as_typed_data.type = 7;  // uint32: four bytes per element
  typed->value.as_typed_data.length = 3;
  typed->value.as_typed_data.values = static_cast<uint8_t*>(std::malloc(12));
  uint8_t external_bytes[4] = {};
  testing::VmMessage* external = box();
  external->type = testing::kVmExternalTypedData;
  external->value.as_external_typed_data.type = testing::kVmUint8;
  external->value.as_external_typed_data.length = 4;
  external->value.as_external_typed_data.data = external_bytes;

  testing::VmMessage* inner = box();
  inner->type = 6;
  struct ArrayPart {
    intptr_t length;
    testing::VmMessage** values;
  };
  auto* inner_values = static_cast<testing::VmMessage**>(
      std::malloc(sizeof(testing::VmMessage*)));
  inner_values[0] = text;
  *reinterpret_cast<ArrayPart*>(&inner->value) = ArrayPart{1, inner_values};

  testing::VmMessage* outer = box();
  outer->type = 6;
  auto* outer_values = static_cast<testing::VmMessage**>(
      std::malloc(3 * sizeof(testing::VmMessage*)));
  outer_values[0] = inner;
  outer_values[1] = typed;
  outer_values[2] = external;
  *reinterpret_cast<ArrayPart*>(&outer->value) = ArrayPart{3, outer_values};

  // AddressSanitizer catches a release of the external bytes (they are on
  // the stack) and LeakSanitizer anything left behind.
  engine_free_sync_reply_object(reinterpret_cast<EngineDartMessage*>(outer));
  engine_free_sync_reply_object(nullptr);
}

TEST(Finalizers, ReleaseByElementSize) {
  struct Record {
    uint64_t capacity;
    void* data;
    uint64_t length;
  };
  const struct {
    void (*finalizer)(void*, void*);
    size_t element_len;
  } kCases[] = {
      {&engine_release_buffer_u8, 1},  {&engine_release_buffer_i8, 1},
      {&engine_release_buffer_u16, 2}, {&engine_release_buffer_i16, 2},
      {&engine_release_buffer_u32, 4}, {&engine_release_buffer_i32, 4},
      {&engine_release_buffer_f32, 4}, {&engine_release_buffer_u64, 8},
      {&engine_release_buffer_i64, 8}, {&engine_release_buffer_f64, 8},
  };
  for (const auto& c : kCases) {
    // The finalizer wipes capacity x element size bytes: ASan reports a
    // wrong size as an overflow.
    void* data = std::malloc(3 * c.element_len);
    c.finalizer(nullptr, new Record{3, data, 3});
    c.finalizer(nullptr, new Record{0, nullptr, 0});
    c.finalizer(nullptr, nullptr);
  }
}

}  // namespace
}  // namespace velmo
