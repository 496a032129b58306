// The standard message codec and the standard method codec: the binary
// encoding both sides of every method channel agree on. All multi-byte
// numbers are little-endian; alignment is counted from the first byte of the
// whole platform message.
#include <flutter_linux/flutter_linux.h>

#include <cstring>
#include <vector>

#include "fl_private.h"

G_DEFINE_QUARK(fl_message_codec_error_quark, fl_message_codec_error)

namespace {

enum : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kFloat64 = 6,
  kString = 7,
  kUint8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

// Nesting deeper than this is refused rather than risking the stack on
// hostile input; no real message comes close.
constexpr int kMaxDepth = 512;

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>* out) : out_(out) {}

  void Byte(uint8_t b) { out_->push_back(b); }

  void Raw(const void* data, size_t len) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    out_->insert(out_->end(), p, p + len);
  }

  void Size(size_t n) {
    if (n < 254) {
      Byte(static_cast<uint8_t>(n));
    } else if (n <= 0xffff) {
      Byte(254);
      uint16_t v = static_cast<uint16_t>(n);
      Raw(&v, 2);
    } else {
      Byte(255);
      uint32_t v = static_cast<uint32_t>(n);
      Raw(&v, 4);
    }
  }

  void Align(size_t to) {
    while (out_->size() % to != 0) {
      Byte(0);
    }
  }

  bool Value(FlValue* value, GError** error) {
    if (value == nullptr) {
      Byte(kNull);
      return true;
    }
    switch (fl_value_get_type(value)) {
      case FL_VALUE_TYPE_NULL:
        Byte(kNull);
        return true;
      case FL_VALUE_TYPE_BOOL:
        Byte(fl_value_get_bool(value) ? kTrue : kFalse);
        return true;
      case FL_VALUE_TYPE_INT: {
        int64_t v = fl_value_get_int(value);
        if (v >= INT32_MIN && v <= INT32_MAX) {
          Byte(kInt32);
          int32_t v32 = static_cast<int32_t>(v);
          Raw(&v32, 4);
        } else {
          Byte(kInt64);
          Raw(&v, 8);
        }
        return true;
      }
      case FL_VALUE_TYPE_FLOAT: {
        Byte(kFloat64);
        Align(8);
        double v = fl_value_get_float(value);
        Raw(&v, 8);
        return true;
      }
      case FL_VALUE_TYPE_STRING: {
        const gchar* s = fl_value_get_string(value);
        size_t len = strlen(s);
        Byte(kString);
        Size(len);
        Raw(s, len);
        return true;
      }
      case FL_VALUE_TYPE_UINT8_LIST: {
        size_t n = fl_value_get_length(value);
        Byte(kUint8List);
        Size(n);
        Raw(fl_value_get_uint8_list(value), n);
        return true;
      }
      case FL_VALUE_TYPE_INT32_LIST:
        TypedList(kInt32List, 4, fl_value_get_int32_list(value),
                  fl_value_get_length(value));
        return true;
      case FL_VALUE_TYPE_INT64_LIST:
        TypedList(kInt64List, 8, fl_value_get_int64_list(value),
                  fl_value_get_length(value));
        return true;
      case FL_VALUE_TYPE_FLOAT_LIST:
        TypedList(kFloat64List, 8, fl_value_get_float_list(value),
                  fl_value_get_length(value));
        return true;
      case FL_VALUE_TYPE_FLOAT32_LIST:
        TypedList(kFloat32List, 4, fl_value_get_float32_list(value),
                  fl_value_get_length(value));
        return true;
      case FL_VALUE_TYPE_LIST: {
        size_t n = fl_value_get_length(value);
        Byte(kList);
        Size(n);
        for (size_t i = 0; i < n; i++) {
          if (!Value(fl_value_get_list_value(value, i), error)) {
            return false;
          }
        }
        return true;
      }
      case FL_VALUE_TYPE_MAP: {
        size_t n = fl_value_get_length(value);
        Byte(kMap);
        Size(n);
        for (size_t i = 0; i < n; i++) {
          if (!Value(fl_value_get_map_key(value, i), error) ||
              !Value(fl_value_get_map_value(value, i), error)) {
            return false;
          }
        }
        return true;
      }
      case FL_VALUE_TYPE_CUSTOM:
        break;
    }
    g_set_error(error, FL_MESSAGE_CODEC_ERROR,
                FL_MESSAGE_CODEC_ERROR_UNSUPPORTED_TYPE,
                "Unsupported value kind %d", fl_value_get_type(value));
    return false;
  }

 private:
  void TypedList(uint8_t type, size_t elem, const void* data, size_t n) {
    Byte(type);
    Size(n);
    Align(elem);
    Raw(data, n * elem);
  }

  std::vector<uint8_t>* out_;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t len) : data_(data), len_(len) {}

  size_t remaining() const { return len_ - pos_; }

  bool Byte(uint8_t* out, GError** error) { return Raw(out, 1, error); }

  bool Raw(void* out, size_t n, GError** error) {
    if (n > remaining()) {
      return OutOfData(error);
    }
    if (n > 0) {
      memcpy(out, data_ + pos_, n);
    }
    pos_ += n;
    return true;
  }

  bool Size(size_t* out, GError** error) {
    uint8_t b;
    if (!Byte(&b, error)) {
      return false;
    }
    if (b < 254) {
      *out = b;
      return true;
    }
    if (b == 254) {
      uint16_t v;
      if (!Raw(&v, 2, error)) {
        return false;
      }
      *out = v;
      return true;
    }
    uint32_t v;
    if (!Raw(&v, 4, error)) {
      return false;
    }
    *out = v;
    return true;
  }

  bool Align(size_t to, GError** error) {
    size_t pad = (to - pos_ % to) % to;
    if (pad > remaining()) {
      return OutOfData(error);
    }
    pos_ += pad;
    return true;
  }

  // Reads one value; `*out` is set only on success.
  bool Value(FlValue** out, GError** error, int depth = 0) {
    if (depth > kMaxDepth) {
      g_set_error(error, FL_MESSAGE_CODEC_ERROR, FL_MESSAGE_CODEC_ERROR_FAILED,
                  "Values nested deeper than %d", kMaxDepth);
      return false;
    }
    uint8_t type;
    if (!Byte(&type, error)) {
      return false;
    }
    switch (type) {
      case kNull:
        *out = fl_value_new_null();
        return true;
      case kTrue:
      case kFalse:
        *out = fl_value_new_bool(type == kTrue);
        return true;
      case kInt32: {
        int32_t v;
        if (!Raw(&v, 4, error)) {
          return false;
        }
        *out = fl_value_new_int(v);
        return true;
      }
      case kInt64: {
        int64_t v;
        if (!Raw(&v, 8, error)) {
          return false;
        }
        *out = fl_value_new_int(v);
        return true;
      }
      case kFloat64: {
        double v;
        if (!Align(8, error) || !Raw(&v, 8, error)) {
          return false;
        }
        *out = fl_value_new_float(v);
        return true;
      }
      case kString: {
        size_t n;
        if (!Size(&n, error)) {
          return false;
        }
        if (n > remaining()) {
          return OutOfData(error);
        }
        // Sized copy: a NUL inside the text ends it, as with the real
        // embedder; the bytes are consumed either way.
        *out = fl_value_new_string_sized(
            reinterpret_cast<const gchar*>(data_ + pos_), n);
        pos_ += n;
        return true;
      }
      case kUint8List: {
        size_t n;
        if (!Size(&n, error)) {
          return false;
        }
        if (n > remaining()) {
          return OutOfData(error);
        }
        *out = fl_value_new_uint8_list(data_ + pos_, n);
        pos_ += n;
        return true;
      }
      case kInt32List:
        return TypedList<int32_t>(out, error, fl_value_new_int32_list);
      case kInt64List:
        return TypedList<int64_t>(out, error, fl_value_new_int64_list);
      case kFloat64List:
        return TypedList<double>(out, error, fl_value_new_float_list);
      case kFloat32List:
        return TypedList<float>(out, error, fl_value_new_float32_list);
      case kList: {
        size_t n;
        if (!Size(&n, error)) {
          return false;
        }
        // Every element takes at least one byte: refuse counts the rest of
        // the buffer cannot hold before building anything.
        if (n > remaining()) {
          return OutOfData(error);
        }
        g_autoptr(FlValue) list = fl_value_new_list();
        for (size_t i = 0; i < n; i++) {
          FlValue* child;
          if (!Value(&child, error, depth + 1)) {
            return false;
          }
          fl_value_append_take(list, child);
        }
        *out = static_cast<FlValue*>(g_steal_pointer(&list));
        return true;
      }
      case kMap: {
        size_t n;
        if (!Size(&n, error)) {
          return false;
        }
        if (n > remaining() / 2) {
          return OutOfData(error);
        }
        g_autoptr(FlValue) map = fl_value_new_map();
        for (size_t i = 0; i < n; i++) {
          FlValue* key;
          if (!Value(&key, error, depth + 1)) {
            return false;
          }
          FlValue* value;
          if (!Value(&value, error, depth + 1)) {
            fl_value_unref(key);
            return false;
          }
          fl_value_set_take(map, key, value);
        }
        *out = static_cast<FlValue*>(g_steal_pointer(&map));
        return true;
      }
      default:
        g_set_error(error, FL_MESSAGE_CODEC_ERROR,
                    FL_MESSAGE_CODEC_ERROR_UNSUPPORTED_TYPE,
                    "Unsupported standard codec type %d", type);
        return false;
    }
  }

 private:
  template <typename T>
  bool TypedList(FlValue** out,
                 GError** error,
                 FlValue* (*make)(const T*, size_t)) {
    size_t n;
    if (!Size(&n, error) || !Align(sizeof(T), error)) {
      return false;
    }
    if (n > remaining() / sizeof(T)) {
      return OutOfData(error);
    }
    std::vector<T> elems(n);
    if (!Raw(elems.data(), n * sizeof(T), error)) {
      return false;
    }
    *out = make(elems.data(), n);
    return true;
  }

  static bool OutOfData(GError** error) {
    g_set_error(error, FL_MESSAGE_CODEC_ERROR,
                FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA,
                "Unexpected end of message");
    return false;
  }

  const uint8_t* data_;
  size_t len_;
  size_t pos_ = 0;
};

GBytes* ToBytes(std::vector<uint8_t>* buf) {
  return g_bytes_new(buf->data(), buf->size());
}

bool LeftoverIsError(const Reader& r, GError** error, const char* what) {
  if (r.remaining() == 0) {
    return false;
  }
  g_set_error(error, FL_MESSAGE_CODEC_ERROR, FL_MESSAGE_CODEC_ERROR_FAILED,
              "%zu unused bytes after %s", r.remaining(), what);
  return true;
}

}  // namespace

// ------------------------------------------------------------ FlMessageCodec

G_DEFINE_TYPE(FlMessageCodec, fl_message_codec, G_TYPE_OBJECT)

static void fl_message_codec_class_init(FlMessageCodecClass* klass) {}
static void fl_message_codec_init(FlMessageCodec* self) {}

GBytes* fl_message_codec_encode_message(FlMessageCodec* codec,
                                        FlValue* message,
                                        GError** error) {
  g_return_val_if_fail(FL_IS_MESSAGE_CODEC(codec), nullptr);
  return FL_MESSAGE_CODEC_GET_CLASS(codec)->encode_message(codec, message,
                                                           error);
}

FlValue* fl_message_codec_decode_message(FlMessageCodec* codec,
                                         GBytes* message,
                                         GError** error) {
  g_return_val_if_fail(FL_IS_MESSAGE_CODEC(codec), nullptr);
  g_return_val_if_fail(message != nullptr, nullptr);
  return FL_MESSAGE_CODEC_GET_CLASS(codec)->decode_message(codec, message,
                                                           error);
}

// ---------------------------------------------------- FlStandardMessageCodec

G_DEFINE_TYPE(FlStandardMessageCodec,
              fl_standard_message_codec,
              fl_message_codec_get_type())

static GBytes* standard_encode_message(FlMessageCodec* codec,
                                       FlValue* message,
                                       GError** error) {
  std::vector<uint8_t> buf;
  if (!Writer(&buf).Value(message, error)) {
    return nullptr;
  }
  return ToBytes(&buf);
}

static FlValue* standard_decode_message(FlMessageCodec* codec,
                                        GBytes* message,
                                        GError** error) {
  gsize len;
  const uint8_t* data =
      static_cast<const uint8_t*>(g_bytes_get_data(message, &len));
  Reader r(data, len);
  FlValue* value;
  if (!r.Value(&value, error)) {
    return nullptr;
  }
  if (r.remaining() != 0) {
    fl_value_unref(value);
    g_set_error(error, FL_MESSAGE_CODEC_ERROR,
                FL_MESSAGE_CODEC_ERROR_ADDITIONAL_DATA,
                "%zu unused bytes after the message", r.remaining());
    return nullptr;
  }
  return value;
}

static void fl_standard_message_codec_class_init(
    FlStandardMessageCodecClass* klass) {
  FL_MESSAGE_CODEC_CLASS(klass)->encode_message = standard_encode_message;
  FL_MESSAGE_CODEC_CLASS(klass)->decode_message = standard_decode_message;
}

static void fl_standard_message_codec_init(FlStandardMessageCodec* self) {}

FlStandardMessageCodec* fl_standard_message_codec_new(void) {
  return FL_STANDARD_MESSAGE_CODEC(
      g_object_new(fl_standard_message_codec_get_type(), nullptr));
}

// ------------------------------------------------------------- FlMethodCodec

G_DEFINE_TYPE(FlMethodCodec, fl_method_codec, G_TYPE_OBJECT)

static void fl_method_codec_class_init(FlMethodCodecClass* klass) {}
static void fl_method_codec_init(FlMethodCodec* self) {}

GBytes* fl_method_codec_encode_method_call(FlMethodCodec* codec,
                                           const gchar* name,
                                           FlValue* args,
                                           GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CODEC(codec), nullptr);
  g_return_val_if_fail(name != nullptr, nullptr);
  return FL_METHOD_CODEC_GET_CLASS(codec)->encode_method_call(codec, name, args,
                                                              error);
}

gboolean fl_method_codec_decode_method_call(FlMethodCodec* codec,
                                            GBytes* message,
                                            gchar** name,
                                            FlValue** args,
                                            GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CODEC(codec), FALSE);
  return FL_METHOD_CODEC_GET_CLASS(codec)->decode_method_call(
      codec, message, name, args, error);
}

GBytes* fl_method_codec_encode_success_envelope(FlMethodCodec* codec,
                                                FlValue* result,
                                                GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CODEC(codec), nullptr);
  return FL_METHOD_CODEC_GET_CLASS(codec)->encode_success_envelope(
      codec, result, error);
}

GBytes* fl_method_codec_encode_error_envelope(FlMethodCodec* codec,
                                              const gchar* code,
                                              const gchar* message,
                                              FlValue* details,
                                              GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CODEC(codec), nullptr);
  g_return_val_if_fail(code != nullptr, nullptr);
  return FL_METHOD_CODEC_GET_CLASS(codec)->encode_error_envelope(
      codec, code, message, details, error);
}

FlMethodResponse* fl_method_codec_decode_response(FlMethodCodec* codec,
                                                  GBytes* message,
                                                  GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CODEC(codec), nullptr);
  g_return_val_if_fail(message != nullptr, nullptr);
  return FL_METHOD_CODEC_GET_CLASS(codec)->decode_response(codec, message,
                                                           error);
}

// ----------------------------------------------------- FlStandardMethodCodec

struct _FlStandardMethodCodec {
  FlMethodCodec parent_instance;
};

G_DEFINE_TYPE(FlStandardMethodCodec,
              fl_standard_method_codec,
              fl_method_codec_get_type())

static GBytes* standard_encode_method_call(FlMethodCodec* codec,
                                           const gchar* name,
                                           FlValue* args,
                                           GError** error) {
  std::vector<uint8_t> buf;
  Writer w(&buf);
  g_autoptr(FlValue) name_value = fl_value_new_string(name);
  if (!w.Value(name_value, error) || !w.Value(args, error)) {
    return nullptr;
  }
  return ToBytes(&buf);
}

static gboolean standard_decode_method_call(FlMethodCodec* codec,
                                            GBytes* message,
                                            gchar** name,
                                            FlValue** args,
                                            GError** error) {
  gsize len;
  const uint8_t* data =
      static_cast<const uint8_t*>(g_bytes_get_data(message, &len));
  Reader r(data, len);
  g_autoptr(FlValue) name_value = nullptr;
  if (!r.Value(&name_value, error)) {
    return FALSE;
  }
  if (fl_value_get_type(name_value) != FL_VALUE_TYPE_STRING) {
    g_set_error(error, FL_MESSAGE_CODEC_ERROR, FL_MESSAGE_CODEC_ERROR_FAILED,
                "Method call name is not a string");
    return FALSE;
  }
  g_autoptr(FlValue) args_value = nullptr;
  if (!r.Value(&args_value, error) ||
      LeftoverIsError(r, error, "the method call")) {
    return FALSE;
  }
  *name = g_strdup(fl_value_get_string(name_value));
  *args = static_cast<FlValue*>(g_steal_pointer(&args_value));
  return TRUE;
}

static GBytes* standard_encode_success_envelope(FlMethodCodec* codec,
                                                FlValue* result,
                                                GError** error) {
  std::vector<uint8_t> buf;
  Writer w(&buf);
  w.Byte(0);
  if (!w.Value(result, error)) {
    return nullptr;
  }
  return ToBytes(&buf);
}

static GBytes* standard_encode_error_envelope(FlMethodCodec* codec,
                                              const gchar* code,
                                              const gchar* message,
                                              FlValue* details,
                                              GError** error) {
  std::vector<uint8_t> buf;
  Writer w(&buf);
  w.Byte(1);
  g_autoptr(FlValue) code_value = fl_value_new_string(code);
  g_autoptr(FlValue) message_value =
      message != nullptr ? fl_value_new_string(message) : nullptr;
  if (!w.Value(code_value, error) || !w.Value(message_value, error) ||
      !w.Value(details, error)) {
    return nullptr;
  }
  return ToBytes(&buf);
}

static FlMethodResponse* standard_decode_response(FlMethodCodec* codec,
                                                  GBytes* message,
                                                  GError** error) {
  gsize len;
  const uint8_t* data =
      static_cast<const uint8_t*>(g_bytes_get_data(message, &len));
  if (len == 0) {
    return FL_METHOD_RESPONSE(fl_method_not_implemented_response_new());
  }
  Reader r(data, len);
  uint8_t kind;
  if (!r.Byte(&kind, error)) {
    return nullptr;
  }
  if (kind == 0) {
    g_autoptr(FlValue) result = nullptr;
    if (!r.Value(&result, error) ||
        LeftoverIsError(r, error, "the success envelope")) {
      return nullptr;
    }
    return FL_METHOD_RESPONSE(fl_method_success_response_new(result));
  }
  if (kind != 1) {
    g_set_error(error, FL_MESSAGE_CODEC_ERROR, FL_MESSAGE_CODEC_ERROR_FAILED,
                "Unknown envelope kind %d", kind);
    return nullptr;
  }
  g_autoptr(FlValue) code = nullptr;
  if (!r.Value(&code, error)) {
    return nullptr;
  }
  if (fl_value_get_type(code) != FL_VALUE_TYPE_STRING) {
    g_set_error(error, FL_MESSAGE_CODEC_ERROR, FL_MESSAGE_CODEC_ERROR_FAILED,
                "Error code is not a string");
    return nullptr;
  }
  g_autoptr(FlValue) msg = nullptr;
  if (!r.Value(&msg, error)) {
    return nullptr;
  }
  FlValueType msg_type = fl_value_get_type(msg);
  if (msg_type != FL_VALUE_TYPE_STRING && msg_type != FL_VALUE_TYPE_NULL) {
    g_set_error(error, FL_MESSAGE_CODEC_ERROR, FL_MESSAGE_CODEC_ERROR_FAILED,
                "Error message is neither a string nor null");
    return nullptr;
  }
  g_autoptr(FlValue) details = nullptr;
  if (!r.Value(&details, error) ||
      LeftoverIsError(r, error, "the error envelope")) {
    return nullptr;
  }
  return FL_METHOD_RESPONSE(fl_method_error_response_new(
      fl_value_get_string(code),
      msg_type == FL_VALUE_TYPE_STRING ? fl_value_get_string(msg) : nullptr,
      fl_value_get_type(details) == FL_VALUE_TYPE_NULL ? nullptr : details));
}

static void fl_standard_method_codec_class_init(
    FlStandardMethodCodecClass* klass) {
  FlMethodCodecClass* codec = FL_METHOD_CODEC_CLASS(klass);
  codec->encode_method_call = standard_encode_method_call;
  codec->decode_method_call = standard_decode_method_call;
  codec->encode_success_envelope = standard_encode_success_envelope;
  codec->encode_error_envelope = standard_encode_error_envelope;
  codec->decode_response = standard_decode_response;
}

static void fl_standard_method_codec_init(FlStandardMethodCodec* self) {}

FlStandardMethodCodec* fl_standard_method_codec_new(void) {
  return FL_STANDARD_METHOD_CODEC(
      g_object_new(fl_standard_method_codec_get_type(), nullptr));
}
