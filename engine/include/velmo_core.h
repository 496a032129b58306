/* velmo_core: the messaging engine's C entry points, called by the Dart side.
 *
 * Every operation is reached by number through engine_dispatch_sync (1-19) or
 * engine_dispatch_async (20, 21). Arguments travel in the bridge encoding in a
 * buffer from engine_bytes_new; the dispatcher owns that buffer from the call
 * on. A reply is an action byte (0 ok, 1 error, 3 fault) and its payload.
 * No entry point reports failure other than through a reply, and none lets a
 * failure of the engine escape. */
#ifndef VELMO_CORE_H_
#define VELMO_CORE_H_

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VELMO_CORE_EXPORT __attribute__((visibility("default")))

/* The Dart VM's 48-byte message object (Dart_CObject); opaque here. */
typedef struct EngineDartMessage EngineDartMessage;

/* The Dart VM's dynamic-linking API record (NativeApi.initializeApiDLData). */
typedef struct EngineDartApiRecord EngineDartApiRecord;

/* Dart_PostCObject's shape: true when the message was queued for the port. */
typedef bool (*EnginePostFunction)(int64_t port, EngineDartMessage* message);

/* Finalizer of an external typed-data array (Dart_HandleFinalizer's shape). */
typedef void (*EngineBufferFinalizer)(void* isolate_callback_data, void* peer);

/* A synchronous reply; the caller owns it until engine_free_sync_reply. */
typedef struct EngineSyncReply {
  uint8_t* data;
  int32_t len;
} EngineSyncReply;

/* engine_dispatch_sync runs operation `op` (1-19) on the calling thread. It
 * takes ownership of `args` (allocated `args_cap` bytes, the first `args_len`
 * of which hold the arguments) and returns the reply, which the caller frees
 * with engine_free_sync_reply. */
VELMO_CORE_EXPORT EngineSyncReply engine_dispatch_sync(int32_t op,
                                                       uint8_t* args,
                                                       int32_t args_cap,
                                                       int32_t args_len);

/* engine_dispatch_async queues operation `op` (20 or 21) on the worker pool
 * and returns at once; exactly one reply is later posted to `reply_port`.
 * Takes ownership of `args`. */
VELMO_CORE_EXPORT void engine_dispatch_async(int32_t op,
                                             int64_t reply_port,
                                             uint8_t* args,
                                             int32_t args_cap,
                                             int32_t args_len);

/* engine_free_sync_reply releases a reply of engine_dispatch_sync; length 0
 * releases nothing. */
VELMO_CORE_EXPORT void engine_free_sync_reply(uint8_t* data, int32_t len);

/* engine_free_sync_reply_object releases a heap box holding one message object
 * and what it owns (texts, arrays of boxed objects, plain typed data; all
 * malloc'd); external typed data is left to its finalizer. */
VELMO_CORE_EXPORT void engine_free_sync_reply_object(EngineDartMessage* boxed);

/* engine_bytes_new returns `len` zeroed engine-owned bytes; length 0 gives a
 * non-null placeholder that owns nothing. Returns null for a negative length
 * or when memory is exhausted. */
VELMO_CORE_EXPORT uint8_t* engine_bytes_new(int32_t len);

/* engine_bytes_resize reallocates to exactly `new_len` bytes, keeping the
 * first min(old_len, new_len) bytes and zeroing the rest. The old pointer is
 * invalid afterwards (unless null is returned for a negative length or an
 * exhausted memory, in which case the old buffer is untouched). */
VELMO_CORE_EXPORT uint8_t* engine_bytes_resize(uint8_t* data,
                                               int32_t old_len,
                                               int32_t new_len);

/* engine_bytes_free releases a buffer never handed to a dispatcher; length 0
 * releases nothing. */
VELMO_CORE_EXPORT void engine_bytes_free(uint8_t* data, int32_t len);

/* engine_content_hash is the fingerprint of the operation table and encoding:
 * 0x8E769120. */
VELMO_CORE_EXPORT int32_t engine_content_hash(void);

/* engine_init_dart_api binds the Dart VM functions by name: 0 on success, -1
 * (binding nothing) when the record's major version is not 2. */
VELMO_CORE_EXPORT int32_t engine_init_dart_api(const EngineDartApiRecord* api);

/* engine_set_post_function sets the function every asynchronous reply is
 * posted through; a later call replaces it. */
VELMO_CORE_EXPORT void engine_set_post_function(EnginePostFunction post);

/* engine_create_shutdown_callback registers one more engine user and returns
 * the function that user calls once when it shuts down. Once every user has
 * shut down, replies are dropped silently. */
VELMO_CORE_EXPORT void (*engine_create_shutdown_callback(void))(void);

/* engine_deliver_callback_output hands a Dart callback's encoded result to the
 * engine-side waiter registered under `call_id`; takes ownership of `data`. */
VELMO_CORE_EXPORT void engine_deliver_callback_output(int32_t call_id,
                                                      uint8_t* data,
                                                      int32_t cap,
                                                      int32_t len);

/* engine_hold_dart_object keeps `object` (a Dart_Handle) alive in a persistent
 * handle of the current isolate and returns a reference-counted token; a
 * token released on another thread goes back to `port` for deletion. Null
 * before engine_init_dart_api. */
VELMO_CORE_EXPORT void* engine_hold_dart_object(void* object, int64_t port);

/* engine_take_dart_object returns a local handle to the token's object and
 * drops one token reference; only on the isolate that made the token. */
VELMO_CORE_EXPORT void* engine_take_dart_object(void* token);

/* engine_drop_dart_object releases a box sent to the port of a token released
 * elsewhere, deleting the persistent handle inside; on the Dart thread. */
VELMO_CORE_EXPORT void engine_drop_dart_object(void* boxed);

/* Finalizers for external typed data: `peer` is a buffer record of three
 * 64-bit words (capacity, data, length); both the data (capacity elements)
 * and the record are released. The signed and floating-point names are the
 * same functions as the unsigned ones of equal element size. */
VELMO_CORE_EXPORT void engine_release_buffer_u8(void* isolate_data, void* peer);
VELMO_CORE_EXPORT void engine_release_buffer_u16(void* isolate_data, void* peer);
VELMO_CORE_EXPORT void engine_release_buffer_u32(void* isolate_data, void* peer);
VELMO_CORE_EXPORT void engine_release_buffer_u64(void* isolate_data, void* peer);
VELMO_CORE_EXPORT void engine_release_buffer_i8(void* isolate_data, void* peer);
VELMO_CORE_EXPORT void engine_release_buffer_i16(void* isolate_data, void* peer);
VELMO_CORE_EXPORT void engine_release_buffer_i32(void* isolate_data, void* peer);
VELMO_CORE_EXPORT void engine_release_buffer_i64(void* isolate_data, void* peer);
VELMO_CORE_EXPORT void engine_release_buffer_f32(void* isolate_data, void* peer);
VELMO_CORE_EXPORT void engine_release_buffer_f64(void* isolate_data, void* peer);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif  /* VELMO_CORE_H_ */
