// Byte-exact checks of the standard message and method codecs.
#include <flutter_linux/flutter_linux.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "../src/fl_private.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      i++;
      continue;
    }
    out.push_back(
        static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

Bytes ToVector(GBytes* b) {
  gsize n;
  const uint8_t* p = static_cast<const uint8_t*>(g_bytes_get_data(b, &n));
  return Bytes(p, p + n);
}

GBytes* ToGBytes(const Bytes& b) {
  return g_bytes_new(b.data(), b.size());
}

class CodecTest : public ::testing::Test {
 protected:
  Bytes Encode(FlValue* v) {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GBytes) b = fl_message_codec_encode_message(message(), v, &error);
    EXPECT_NE(b, nullptr) << (error ? error->message : "");
    return b ? ToVector(b) : Bytes{};
  }

  FlValue* Decode(const Bytes& bytes, GError** error) {
    g_autoptr(GBytes) b = ToGBytes(bytes);
    return fl_message_codec_decode_message(message(), b, error);
  }

  FlMessageCodec* message() { return FL_MESSAGE_CODEC(message_codec_); }
  FlMethodCodec* method() { return FL_METHOD_CODEC(method_codec_); }

  void TearDown() override {
    g_object_unref(message_codec_);
    g_object_unref(method_codec_);
  }

  FlStandardMessageCodec* message_codec_ = fl_standard_message_codec_new();
  FlStandardMethodCodec* method_codec_ = fl_standard_method_codec_new();
};

FlValue* BigMap() {
  FlValue* inner = fl_value_new_list();
  fl_value_append_take(inner, fl_value_new_int(-1));
  fl_value_append_take(inner, fl_value_new_string("x"));
  FlValue* map = fl_value_new_map();
  fl_value_set_string_take(map, "list", inner);
  fl_value_set_take(map, fl_value_new_int(7), fl_value_new_null());
  fl_value_set_take(map, fl_value_new_bool(false), fl_value_new_float(-2.0));
  return map;
}

TEST_F(CodecTest, EveryKindEncodesToItsBytesAndBack) {
  const int32_t i32[] = {1, -2};
  const int64_t i64[] = {1LL << 40};
  const double f64[] = {1.5};
  const float f32[] = {0.5f, -1.0f};
  const uint8_t u8[] = {0, 255};
  struct Case {
    const char* name;
    FlValue* value;
    const char* hex;
  } cases[] = {
      {"null", fl_value_new_null(), "00"},
      {"true", fl_value_new_bool(true), "01"},
      {"false", fl_value_new_bool(false), "02"},
      {"int32", fl_value_new_int(-1), "03 ffffffff"},
      {"int32 max", fl_value_new_int(INT32_MAX), "03 ffffff7f"},
      {"int64 just past int32", fl_value_new_int(int64_t{INT32_MAX} + 1),
       "04 0000008000000000"},
      {"int64 min", fl_value_new_int(INT64_MIN), "04 0000000000000080"},
      {"float pads to 8", fl_value_new_float(1.5),
       "06 00000000000000 000000000000f83f"},
      {"string", fl_value_new_string("hé"), "07 03 68c3a9"},
      {"empty string", fl_value_new_string(""), "07 00"},
      {"uint8 list", fl_value_new_uint8_list(u8, 2), "08 02 00ff"},
      {"int32 list pads to 4", fl_value_new_int32_list(i32, 2),
       "09 02 0000 01000000 feffffff"},
      {"int64 list pads to 8", fl_value_new_int64_list(i64, 1),
       "0a 01 000000000000 0000000000010000"},
      {"float list pads to 8", fl_value_new_float_list(f64, 1),
       "0b 01 000000000000 000000000000f83f"},
      {"float32 list pads to 4", fl_value_new_float32_list(f32, 2),
       "0e 02 0000 0000003f 000080bf"},
      {"empty int32 list", fl_value_new_int32_list(nullptr, 0), "09 00 0000"},
      {"nested map", BigMap(),
       "0d 03 07 04 6c697374 0c 02 03 ffffffff 07 01 78"
       " 03 07000000 00 02 06 000000000000 00000000000000c0"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes want = FromHex(c.hex);
    EXPECT_EQ(Encode(c.value), want);
    g_autoptr(GError) error = nullptr;
    g_autoptr(FlValue) back = Decode(want, &error);
    ASSERT_NE(back, nullptr) << error->message;
    EXPECT_TRUE(fl_value_equal(back, c.value));
    fl_value_unref(c.value);
  }
}

TEST_F(CodecTest, SizePrefixBoundaries) {
  struct Case {
    size_t n;
    const char* prefix;
  } cases[] = {
      {253, "08 fd"},
      {254, "08 fe fe00"},
      {65535, "08 fe ffff"},
      {65536, "08 ff 00000100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    Bytes payload(c.n, 0xab);
    g_autoptr(FlValue) v = fl_value_new_uint8_list(payload.data(), c.n);
    Bytes encoded = Encode(v);
    Bytes prefix = FromHex(c.prefix);
    ASSERT_EQ(encoded.size(), prefix.size() + c.n);
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), encoded.begin()));
    g_autoptr(FlValue) back = Decode(encoded, nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(fl_value_get_length(back), c.n);
  }
  // Readers accept a longer form than needed.
  g_autoptr(FlValue) v = Decode(FromHex("07 fe 0100 41"), nullptr);
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(fl_value_get_string(v), "A");
}

TEST_F(CodecTest, AlignmentCountsFromTheStartOfTheMessage) {
  // The worked example: Int32List [1] after the method name "x".
  const int32_t one[] = {1};
  g_autoptr(FlValue) args = fl_value_new_int32_list(one, 1);
  g_autoptr(GBytes) call =
      fl_method_codec_encode_method_call(method(), "x", args, nullptr);
  EXPECT_EQ(ToVector(call), FromHex("07 01 78 09 01 000000 01000000"));
  // A double as success result: envelope byte, type, six bytes of padding.
  g_autoptr(FlValue) d = fl_value_new_float(1.5);
  g_autoptr(GBytes) env =
      fl_method_codec_encode_success_envelope(method(), d, nullptr);
  EXPECT_EQ(ToVector(env), FromHex("00 06 000000000000 000000000000f83f"));
}

TEST_F(CodecTest, MethodCallsAndEnvelopes) {
  g_autoptr(GBytes) ping =
      fl_method_codec_encode_method_call(method(), "ping", nullptr, nullptr);
  EXPECT_EQ(ToVector(ping), FromHex("07 04 70696e67 00"));

  g_autoptr(FlValue) args = fl_value_new_map();
  fl_value_set_string_take(args, "count", fl_value_new_int(3));
  g_autoptr(GBytes) update =
      fl_method_codec_encode_method_call(method(), "update", args, nullptr);
  EXPECT_EQ(ToVector(update),
            FromHex("07 06 757064617465 0d 01 07 05 636f756e74 03 03000000"));
  g_autofree gchar* name = nullptr;
  g_autoptr(FlValue) decoded_args = nullptr;
  ASSERT_TRUE(fl_method_codec_decode_method_call(method(), update, &name,
                                                 &decoded_args, nullptr));
  EXPECT_STREQ(name, "update");
  EXPECT_TRUE(fl_value_equal(decoded_args, args));

  g_autoptr(GBytes) bare = fl_method_codec_encode_error_envelope(
      method(), "E", nullptr, nullptr, nullptr);
  EXPECT_EQ(ToVector(bare), FromHex("01 07 01 45 00 00"));
  g_autoptr(FlValue) details = fl_value_new_int(42);
  g_autoptr(GBytes) full = fl_method_codec_encode_error_envelope(
      method(), "E", "m", details, nullptr);
  EXPECT_EQ(ToVector(full), FromHex("01 07 01 45 07 01 6d 03 2a000000"));
}

TEST_F(CodecTest, DecodedResponses) {
  {
    g_autoptr(GBytes) b = ToGBytes(FromHex("00 03 2a000000"));
    g_autoptr(FlMethodResponse) r =
        fl_method_codec_decode_response(method(), b, nullptr);
    ASSERT_TRUE(FL_IS_METHOD_SUCCESS_RESPONSE(r));
    EXPECT_EQ(fl_value_get_int(fl_method_response_get_result(r, nullptr)), 42);
  }
  {
    g_autoptr(GBytes) b = ToGBytes(FromHex("01 07 01 45 00 00"));
    g_autoptr(FlMethodResponse) r =
        fl_method_codec_decode_response(method(), b, nullptr);
    ASSERT_TRUE(FL_IS_METHOD_ERROR_RESPONSE(r));
    FlMethodErrorResponse* e = FL_METHOD_ERROR_RESPONSE(r);
    EXPECT_STREQ(fl_method_error_response_get_code(e), "E");
    EXPECT_EQ(fl_method_error_response_get_message(e), nullptr);
    EXPECT_EQ(fl_method_error_response_get_details(e), nullptr);
    g_autoptr(GError) error = nullptr;
    EXPECT_EQ(fl_method_response_get_result(r, &error), nullptr);
    EXPECT_TRUE(g_error_matches(error, FL_METHOD_RESPONSE_ERROR,
                                FL_METHOD_RESPONSE_ERROR_REMOTE_ERROR));
  }
  {
    g_autoptr(GBytes) b = ToGBytes(FromHex("01 07 01 45 07 01 6d 03 2a000000"));
    g_autoptr(FlMethodResponse) r =
        fl_method_codec_decode_response(method(), b, nullptr);
    ASSERT_TRUE(FL_IS_METHOD_ERROR_RESPONSE(r));
    FlMethodErrorResponse* e = FL_METHOD_ERROR_RESPONSE(r);
    EXPECT_STREQ(fl_method_error_response_get_message(e), "m");
    EXPECT_EQ(fl_value_get_int(fl_method_error_response_get_details(e)), 42);
  }
  {
    // Not implemented is the empty reply, and not an error.
    g_autoptr(GBytes) b = g_bytes_new(nullptr, 0);
    g_autoptr(GError) error = nullptr;
    g_autoptr(FlMethodResponse) r =
        fl_method_codec_decode_response(method(), b, &error);
    EXPECT_TRUE(FL_IS_METHOD_NOT_IMPLEMENTED_RESPONSE(r));
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(fl_method_response_get_result(r, &error), nullptr);
    EXPECT_TRUE(g_error_matches(error, FL_METHOD_RESPONSE_ERROR,
                                FL_METHOD_RESPONSE_ERROR_NOT_IMPLEMENTED));
  }
}

TEST_F(CodecTest, MalformedMessagesFailCleanly) {
  struct Case {
    const char* hex;
    FlMessageCodecError code;
  } cases[] = {
      {"", FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA},
      {"03 0100", FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA},
      {"06 00000000000000 0000", FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA},
      {"07 05 6869", FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA},
      {"07 fe 01", FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA},
      {"08 ff ffffffff 00", FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA},
      {"09 02 0000 01000000", FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA},
      {"0c ff ffffff7f", FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA},
      {"0d 02 00 00 00", FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA},
      {"00 00", FL_MESSAGE_CODEC_ERROR_ADDITIONAL_DATA},
      {"05 01 31", FL_MESSAGE_CODEC_ERROR_UNSUPPORTED_TYPE},
      {"0f", FL_MESSAGE_CODEC_ERROR_UNSUPPORTED_TYPE},
      {"80", FL_MESSAGE_CODEC_ERROR_UNSUPPORTED_TYPE},
      {"0c 01 ff", FL_MESSAGE_CODEC_ERROR_UNSUPPORTED_TYPE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    g_autoptr(GError) error = nullptr;
    g_autoptr(FlValue) v = Decode(FromHex(c.hex), &error);
    EXPECT_EQ(v, nullptr);
    EXPECT_TRUE(g_error_matches(error, FL_MESSAGE_CODEC_ERROR, c.code))
        << (error ? error->message : "no error");
  }
  // Hostile nesting is refused rather than overflowing the stack.
  Bytes deep;
  for (int i = 0; i < 100000; i++) {
    deep.push_back(0x0c);
    deep.push_back(0x01);
  }
  deep.push_back(0x00);
  g_autoptr(GError) error = nullptr;
  g_autoptr(FlValue) v = Decode(deep, &error);
  EXPECT_EQ(v, nullptr);
  EXPECT_NE(error, nullptr);
}

TEST_F(CodecTest, MalformedCallsAndEnvelopesFailCleanly) {
  const char* bad_calls[] = {
      "03 01000000 00",        // name is not a string
      "07 04 70696e67",        // arguments missing
      "07 04 70696e67 00 00",  // trailing byte
      "07 09 70",              // truncated name
  };
  for (const char* hex : bad_calls) {
    SCOPED_TRACE(hex);
    g_autoptr(GBytes) b = ToGBytes(FromHex(hex));
    g_autofree gchar* name = nullptr;
    g_autoptr(FlValue) args = nullptr;
    g_autoptr(GError) error = nullptr;
    EXPECT_FALSE(
        fl_method_codec_decode_method_call(method(), b, &name, &args, &error));
    EXPECT_EQ(error->domain, FL_MESSAGE_CODEC_ERROR);
    EXPECT_EQ(name, nullptr);
  }
  const char* bad_responses[] = {
      "02 00",                       // unknown envelope kind
      "00",                          // success without result
      "00 00 00",                    // trailing byte
      "01 03 01000000 00 00",        // error code not a string
      "01 07 01 45 03 01000000 00",  // message neither string nor null
      "01 07 01 45 00 00 07 00",     // stack trace after details
      "01 07 01 45",                 // truncated
  };
  for (const char* hex : bad_responses) {
    SCOPED_TRACE(hex);
    g_autoptr(GBytes) b = ToGBytes(FromHex(hex));
    g_autoptr(GError) error = nullptr;
    g_autoptr(FlMethodResponse) r =
        fl_method_codec_decode_response(method(), b, &error);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(error->domain, FL_MESSAGE_CODEC_ERROR);
  }
}

TEST(ValueTest, EqualityAndMapSemantics) {
  g_autoptr(FlValue) i = fl_value_new_int(1);
  g_autoptr(FlValue) f = fl_value_new_float(1.0);
  g_autoptr(FlValue) s = fl_value_new_string("1");
  EXPECT_FALSE(fl_value_equal(i, f));
  g_autoptr(FlValue) nan1 = fl_value_new_float(NAN);
  EXPECT_FALSE(fl_value_equal(nan1, nan1));
  g_autoptr(FlValue) z = fl_value_new_float(0.0);
  g_autoptr(FlValue) nz = fl_value_new_float(-0.0);
  EXPECT_TRUE(fl_value_equal(z, nz));

  g_autoptr(FlValue) map = fl_value_new_map();
  fl_value_set(map, s, i);
  fl_value_set(map, i, s);
  fl_value_set_string_take(map, "1", fl_value_new_bool(true));  // replaces
  ASSERT_EQ(fl_value_get_length(map), 2u);
  EXPECT_STREQ(fl_value_get_string(fl_value_get_map_key(map, 0)), "1");
  EXPECT_TRUE(fl_value_get_bool(fl_value_get_map_value(map, 0)));
  EXPECT_EQ(fl_value_lookup(map, i), s);

  // Maps compare without regard to order.
  g_autoptr(FlValue) other = fl_value_new_map();
  fl_value_set(other, i, s);
  fl_value_set_string_take(other, "1", fl_value_new_bool(true));
  EXPECT_TRUE(fl_value_equal(map, other));

  // A repeated key on the wire keeps one entry with the later value.
  g_autoptr(FlStandardMessageCodec) codec = fl_standard_message_codec_new();
  g_autoptr(GBytes) b = ToGBytes(FromHex("0d 02 07 01 61 01 07 01 61 02"));
  g_autoptr(FlValue) decoded =
      fl_message_codec_decode_message(FL_MESSAGE_CODEC(codec), b, nullptr);
  ASSERT_EQ(fl_value_get_length(decoded), 1u);
  EXPECT_FALSE(fl_value_get_bool(fl_value_lookup_string(decoded, "a")));

  // A NUL inside sized text ends it.
  g_autoptr(FlValue) sized = fl_value_new_string_sized("ab\0cd", 5);
  EXPECT_STREQ(fl_value_get_string(sized), "ab");
}

}  // namespace
