// The finalizers the Dart VM calls when a posted byte array is collected: four
// bodies by element size, ten exported names.
#include "bridge/post.h"
#include "velmo_core.h"

extern "C" {

void engine_release_buffer_u8(void*, void* peer) {
  velmo::bridge::ReleaseBuffer(peer, 1);
}
void engine_release_buffer_u16(void*, void* peer) {
  velmo::bridge::ReleaseBuffer(peer, 2);
}
void engine_release_buffer_u32(void*, void* peer) {
  velmo::bridge::ReleaseBuffer(peer, 4);
}
void engine_release_buffer_u64(void*, void* peer) {
  velmo::bridge::ReleaseBuffer(peer, 8);
}

// The signed and floating-point names are the same functions, not copies.
void engine_release_buffer_i8(void*, void*)
    __attribute__((alias("engine_release_buffer_u8")));
void engine_release_buffer_i16(void*, void*)
    __attribute__((alias("engine_release_buffer_u16")));
void engine_release_buffer_i32(void*, void*)
    __attribute__((alias("engine_release_buffer_u32")));
void engine_release_buffer_f32(void*, void*)
    __attribute__((alias("engine_release_buffer_u32")));
void engine_release_buffer_i64(void*, void*)
    __attribute__((alias("engine_release_buffer_u64")));
void engine_release_buffer_f64(void*, void*)
    __attribute__((alias("engine_release_buffer_u64")));

}  // extern "C"
