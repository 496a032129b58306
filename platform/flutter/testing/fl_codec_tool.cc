// fl_codec_tool: decodes and re-encodes platform messages through the
// stand-in's codecs, so that another implementation (the Python driver) can
// check that both agree byte for byte.
//
// Reads lines "<mode> <hex>" from standard input, mode one of message, call,
// response, and writes one line per input:
//   ok <dump> <hex of the re-encoding>
//   fail <error code name>
// where <dump> is a one-token description of the decoded value (see Dump).
#include <flutter_linux/flutter_linux.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "../src/fl_private.h"

namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; i++) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

std::string Hex(GBytes* bytes) {
  gsize n;
  const uint8_t* p = static_cast<const uint8_t*>(g_bytes_get_data(bytes, &n));
  return Hex(p, n);
}

bool Unhex(const std::string& text, std::vector<uint8_t>* out) {
  if (text.size() % 2 != 0) {
    return false;
  }
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = g_ascii_xdigit_value(text[i]);
    int lo = g_ascii_xdigit_value(text[i + 1]);
    if (hi < 0 || lo < 0) {
      return false;
    }
    out->push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return true;
}

std::string Number(double v, int digits) {
  char buf[64];
  snprintf(buf, sizeof buf, "%.*g", digits, v);
  return buf;
}

template <typename T, typename F>
std::string Elements(const T* p, size_t n, F format) {
  std::string out = "[";
  for (size_t i = 0; i < n; i++) {
    out += (i ? "," : "") + format(p[i]);
  }
  return out + "]";
}

// A one-token description of a value; the Python driver builds the same.
std::string Dump(FlValue* v) {
  if (v == nullptr) {
    return "absent";
  }
  switch (fl_value_get_type(v)) {
    case FL_VALUE_TYPE_NULL:
      return "null";
    case FL_VALUE_TYPE_BOOL:
      return fl_value_get_bool(v) ? "true" : "false";
    case FL_VALUE_TYPE_INT:
      return "int:" + std::to_string(fl_value_get_int(v));
    case FL_VALUE_TYPE_FLOAT:
      return "float:" + Number(fl_value_get_float(v), 17);
    case FL_VALUE_TYPE_STRING: {
      const gchar* s = fl_value_get_string(v);
      return "str:" + Hex(reinterpret_cast<const uint8_t*>(s), strlen(s));
    }
    case FL_VALUE_TYPE_UINT8_LIST:
      return "u8:" + Hex(fl_value_get_uint8_list(v), fl_value_get_length(v));
    case FL_VALUE_TYPE_INT32_LIST:
      return "i32:" + Elements(fl_value_get_int32_list(v),
                               fl_value_get_length(v),
                               [](int32_t x) { return std::to_string(x); });
    case FL_VALUE_TYPE_INT64_LIST:
      return "i64:" + Elements(fl_value_get_int64_list(v),
                               fl_value_get_length(v),
                               [](int64_t x) { return std::to_string(x); });
    case FL_VALUE_TYPE_FLOAT_LIST:
      return "f64:" + Elements(fl_value_get_float_list(v),
                               fl_value_get_length(v),
                               [](double x) { return Number(x, 17); });
    case FL_VALUE_TYPE_FLOAT32_LIST:
      return "f32:" + Elements(fl_value_get_float32_list(v),
                               fl_value_get_length(v),
                               [](float x) { return Number(x, 9); });
    case FL_VALUE_TYPE_LIST: {
      std::string out = "list[";
      for (size_t i = 0; i < fl_value_get_length(v); i++) {
        out += (i ? "," : "") + Dump(fl_value_get_list_value(v, i));
      }
      return out + "]";
    }
    case FL_VALUE_TYPE_MAP: {
      std::string out = "map{";
      for (size_t i = 0; i < fl_value_get_length(v); i++) {
        out += (i ? "," : "") + Dump(fl_value_get_map_key(v, i)) + "=" +
               Dump(fl_value_get_map_value(v, i));
      }
      return out + "}";
    }
    case FL_VALUE_TYPE_CUSTOM:
      break;
  }
  return "custom";
}

const char* CodeName(GError* error) {
  if (error->domain != FL_MESSAGE_CODEC_ERROR) {
    return "other";
  }
  switch (error->code) {
    case FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA:
      return "out_of_data";
    case FL_MESSAGE_CODEC_ERROR_ADDITIONAL_DATA:
      return "additional_data";
    case FL_MESSAGE_CODEC_ERROR_UNSUPPORTED_TYPE:
      return "unsupported_type";
    default:
      return "failed";
  }
}

std::string Run(const std::string& mode, GBytes* input) {
  g_autoptr(FlStandardMessageCodec) message_codec =
      fl_standard_message_codec_new();
  g_autoptr(FlStandardMethodCodec) method_codec =
      fl_standard_method_codec_new();
  FlMethodCodec* mc = FL_METHOD_CODEC(method_codec);
  g_autoptr(GError) error = nullptr;
  if (mode == "message") {
    g_autoptr(FlValue) v = fl_message_codec_decode_message(
        FL_MESSAGE_CODEC(message_codec), input, &error);
    if (v == nullptr) {
      return std::string("fail ") + CodeName(error);
    }
    g_autoptr(GBytes) again = fl_message_codec_encode_message(
        FL_MESSAGE_CODEC(message_codec), v, nullptr);
    return "ok " + Dump(v) + " " + Hex(again);
  }
  if (mode == "call") {
    g_autofree gchar* name = nullptr;
    g_autoptr(FlValue) args = nullptr;
    if (!fl_method_codec_decode_method_call(mc, input, &name, &args, &error)) {
      return std::string("fail ") + CodeName(error);
    }
    g_autoptr(GBytes) again =
        fl_method_codec_encode_method_call(mc, name, args, nullptr);
    return "ok call:" +
           Hex(reinterpret_cast<const uint8_t*>(name), strlen(name)) + ":" +
           Dump(args) + " " + Hex(again);
  }
  if (mode == "response") {
    g_autoptr(FlMethodResponse) r =
        fl_method_codec_decode_response(mc, input, &error);
    if (r == nullptr) {
      return std::string("fail ") + CodeName(error);
    }
    if (FL_IS_METHOD_SUCCESS_RESPONSE(r)) {
      FlValue* v =
          fl_method_success_response_get_result(FL_METHOD_SUCCESS_RESPONSE(r));
      g_autoptr(GBytes) again =
          fl_method_codec_encode_success_envelope(mc, v, nullptr);
      return "ok success:" + Dump(v) + " " + Hex(again);
    }
    if (FL_IS_METHOD_ERROR_RESPONSE(r)) {
      FlMethodErrorResponse* e = FL_METHOD_ERROR_RESPONSE(r);
      const gchar* code = fl_method_error_response_get_code(e);
      const gchar* msg = fl_method_error_response_get_message(e);
      FlValue* details = fl_method_error_response_get_details(e);
      g_autoptr(GBytes) again = fl_method_codec_encode_error_envelope(
          mc, code, msg, details, nullptr);
      std::string msg_dump =
          msg == nullptr ? "absent"
                         : "str:" + Hex(reinterpret_cast<const uint8_t*>(msg),
                                        strlen(msg));
      return "ok error:" +
             Hex(reinterpret_cast<const uint8_t*>(code), strlen(code)) + ":" +
             msg_dump + ":" + Dump(details) + " " + Hex(again);
    }
    return "ok notimplemented -";
  }
  return "fail usage";
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string mode, hex;
    in >> mode >> hex;
    std::vector<uint8_t> bytes;
    if (!Unhex(hex, &bytes)) {
      std::cout << "fail usage" << std::endl;
      continue;
    }
    g_autoptr(GBytes) input = g_bytes_new(bytes.data(), bytes.size());
    std::cout << Run(mode, input) << std::endl;
  }
  return 0;
}
