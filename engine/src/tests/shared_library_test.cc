// The built libvelmo_core.so itself, loaded as the Dart side loads it: by
// path, symbols looked up by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

class CoreSharedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(VELMO_CORE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }
  template <class F>
  F Symbol(const char* name) {
    return reinterpret_cast<F>(dlsym(handle_, name));
  }

  void* handle_ = nullptr;
};

TEST_F(CoreSharedLibrary, ExportsEveryEntryPoint) {
  const char* kNames[] = {
      "engine_dispatch_sync",          "engine_dispatch_async",
      "engine_free_sync_reply",        "engine_free_sync_reply_object",
      "engine_bytes_new",              "engine_bytes_resize",
      "engine_bytes_free",             "engine_content_hash",
      "engine_init_dart_api",          "engine_set_post_function",
      "engine_create_shutdown_callback",
      "engine_deliver_callback_output", "engine_hold_dart_object",
      "engine_take_dart_object",       "engine_drop_dart_object",
      "engine_release_buffer_u8",      "engine_release_buffer_u16",
      "engine_release_buffer_u32",     "engine_release_buffer_u64",
      "engine_release_buffer_i8",      "engine_release_buffer_i16",
      "engine_release_buffer_i32",     "engine_release_buffer_i64",
      "engine_release_buffer_f32",     "engine_release_buffer_f64",
  };
  for (const char* name : kNames) {
    EXPECT_NE(dlsym(handle_, name), nullptr) << name;
  }
  EXPECT_EQ(dlsym(handle_, "_ZN5velmo3api13FindOperationEi"), nullptr);
}

TEST_F(CoreSharedLibrary, SignedAndFloatFinalizersAreTheSameFunctions) {
  const struct {
    const char* alias;
    const char* body;
  } kAliases[] = {
      {"engine_release_buffer_i8", "engine_release_buffer_u8"},
      {"engine_release_buffer_i16", "engine_release_buffer_u16"},
      {"engine_release_buffer_i32", "engine_release_buffer_u32"},
      {"engine_release_buffer_f32", "engine_release_buffer_u32"},
      {"engine_release_buffer_i64", "engine_release_buffer_u64"},
      {"engine_release_buffer_f64", "engine_release_buffer_u64"},
  };
  for (const auto& a : kAliases) {
    SCOPED_TRACE(a.alias);
    EXPECT_EQ(dlsym(handle_, a.alias), dlsym(handle_, a.body));
  }
  EXPECT_NE(dlsym(handle_, "engine_release_buffer_u8"),
            dlsym(handle_, "engine_release_buffer_u16"));
}

TEST_F(CoreSharedLibrary, SynchronousRoundTrip) {
  struct Reply {
    uint8_t* data;
    int32_t len;
  };
  auto bytes_new = Symbol<uint8_t* (*)(int32_t)>("engine_bytes_new");
  auto dispatch =
      Symbol<Reply (*)(int32_t, uint8_t*, int32_t, int32_t)>("engine_dispatch_sync");
  auto free_reply = Symbol<void (*)(uint8_t*, int32_t)>("engine_free_sync_reply");
  auto hash = Symbol<int32_t (*)()>("engine_content_hash");
  ASSERT_TRUE(bytes_new && dispatch && free_reply && hash);
  EXPECT_EQ(hash(), -1904832224);

  uint8_t* args = bytes_new(5);
  const uint8_t kArgs[] = {1, 0, 0, 0, 0x33};
  std::copy(std::begin(kArgs), std::end(kArgs), args);
  Reply reply = dispatch(1, args, 5, 5);
  EXPECT_EQ(std::vector<uint8_t>(reply.data, reply.data + reply.len),
            (std::vector<uint8_t>{0, 3}));
  free_reply(reply.data, reply.len);
}

}  // namespace
