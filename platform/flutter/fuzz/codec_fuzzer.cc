// Decodes arbitrary bytes as a message, a method call and a reply envelope.
// Whatever decodes must encode again to bytes that decode to an equal value.
#include <flutter_linux/flutter_linux.h>

#include <cstdlib>

#include "../src/fl_private.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FlMessageCodec* message =
      FL_MESSAGE_CODEC(fl_standard_message_codec_new());
  static FlMethodCodec* method =
      FL_METHOD_CODEC(fl_standard_method_codec_new());
  g_autoptr(GBytes) input = g_bytes_new(data, size);

  g_autoptr(FlValue) value =
      fl_message_codec_decode_message(message, input, nullptr);
  if (value != nullptr) {
    g_autoptr(GBytes) again =
        fl_message_codec_encode_message(message, value, nullptr);
    g_autoptr(FlValue) back =
        fl_message_codec_decode_message(message, again, nullptr);
    // NaN never equals itself, so compare the encodings instead.
    g_autoptr(GBytes) third =
        back ? fl_message_codec_encode_message(message, back, nullptr)
             : nullptr;
    if (third == nullptr || !g_bytes_equal(again, third)) {
      abort();
    }
  }

  g_autofree gchar* name = nullptr;
  g_autoptr(FlValue) args = nullptr;
  if (fl_method_codec_decode_method_call(method, input, &name, &args,
                                         nullptr)) {
    g_autoptr(GBytes) again =
        fl_method_codec_encode_method_call(method, name, args, nullptr);
    if (again == nullptr) {
      abort();
    }
  }

  g_autoptr(FlMethodResponse) response =
      fl_method_codec_decode_response(method, input, nullptr);
  if (response != nullptr) {
    g_autoptr(GError) error = nullptr;
    fl_method_response_get_result(response, &error);
  }
  return 0;
}
