// The bridge encoding: reader bounds and failures, writer output, argument
// buffers and the generic value codecs.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "api/records.h"
#include "bridge/arguments.h"
#include "bridge/codec.h"
#include "bridge/encoding.h"

namespace velmo::bridge {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(const auto& value) {
  ByteWriter w;
  Write(w, value);
  auto v = w.view();
  return Bytes(v.begin(), v.end());
}

// Reads a T and requires the input to end there.
template <class T>
std::optional<T> ReadExactly(const Bytes& in, const char** failure = nullptr) {
  ByteReader r(in);
  T value{};
  bool ok = Read(r, &value) && r.at_end();
  if (failure != nullptr) {
    *failure = r.failure();
  }
  return ok ? std::optional<T>(std::move(value)) : std::nullopt;
}

TEST(BridgeEncoding, ScalarsAreLittleEndianWithNothingAdded) {
  ByteWriter w;
  w.AddU8(0xAB);
  w.AddBool(true);
  w.AddBool(false);
  w.AddU32(0x01020304);
  w.AddI32(-2);
  w.AddBytes(Bytes{9, 8});
  w.AddText("hé");
  EXPECT_EQ(Bytes(w.view().begin(), w.view().end()),
            (Bytes{0xAB, 1, 0, 4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0,
                   9, 8, 3, 0, 0, 0, 'h', 0xC3, 0xA9}));
}

TEST(BridgeEncoding, ByteStringReads) {
  const struct {
    const char* name;
    Bytes in;
    bool ok;
  } kCases[] = {
      {"empty byte string", {0, 0, 0, 0}, true},
      {"two bytes", {2, 0, 0, 0, 'a', 'b'}, true},
      {"negative length", {0xFF, 0xFF, 0xFF, 0xFF}, false},
      {"most negative length", {0, 0, 0, 0x80}, false},
      {"length past the end", {5, 0, 0, 0, 'a'}, false},
      {"length cut short", {1, 0, 0}, false},
      {"one byte left over", {1, 0, 0, 0, 'a', 'b'}, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.ok, ReadExactly<crypto::Bytes>(c.in).has_value());
  }
}

TEST(BridgeEncoding, FailedReadLeavesTheReaderWhereItWas) {
  Bytes in = {3, 0, 0, 0, 'a'};
  ByteReader r(in);
  std::span<const uint8_t> bytes;
  EXPECT_FALSE(r.ReadBytes(&bytes));
  EXPECT_EQ(r.position(), 0u);
  EXPECT_STREQ(r.failure(), "argument data ends early");
  uint32_t n;
  EXPECT_TRUE(r.ReadU32(&n));
  EXPECT_EQ(n, 3u);
}

TEST(BridgeEncoding, TextMustBeUtf8) {
  const struct {
    const char* name;
    Bytes text;
    bool ok;
  } kCases[] = {
      {"ascii", {'a', 'b'}, true},
      {"two-byte", {0xC3, 0xA9}, true},
      {"three-byte", {0xE2, 0x82, 0xAC}, true},
      {"four-byte", {0xF0, 0x9F, 0x98, 0x80}, true},
      {"largest code point", {0xF4, 0x8F, 0xBF, 0xBF}, true},
      {"lone continuation", {0x80}, false},
      {"overlong slash", {0xC0, 0xAF}, false},
      {"overlong three-byte", {0xE0, 0x80, 0xAF}, false},
      {"surrogate", {0xED, 0xA0, 0x80}, false},
      {"above U+10FFFF", {0xF4, 0x90, 0x80, 0x80}, false},
      {"cut short", {0xE2, 0x82}, false},
      {"bad continuation", {0xE2, 0x28, 0xA1}, false},
      {"invalid byte", {0xFF}, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Bytes in = {static_cast<uint8_t>(c.text.size()), 0, 0, 0};
    in.insert(in.end(), c.text.begin(), c.text.end());
    const char* failure = nullptr;
    EXPECT_EQ(c.ok, ReadExactly<std::string>(in, &failure).has_value());
    if (!c.ok) {
      EXPECT_STREQ(failure, "text is not valid UTF-8");
    }
  }
}

TEST(BridgeEncoding, BooleansOptionalsAndEnumerations) {
  EXPECT_EQ(ReadExactly<bool>({1}), true);
  EXPECT_EQ(ReadExactly<bool>({0}), false);
  EXPECT_FALSE(ReadExactly<bool>({2}).has_value());

  using OptU32 = std::optional<uint32_t>;
  EXPECT_EQ(Written(OptU32()), Bytes{0});
  EXPECT_EQ(Written(OptU32(7)), (Bytes{1, 7, 0, 0, 0}));
  EXPECT_EQ(ReadExactly<OptU32>({1, 7, 0, 0, 0}), std::optional<OptU32>(7));
  EXPECT_EQ(ReadExactly<OptU32>({0}), std::optional<OptU32>(OptU32()));
  EXPECT_FALSE(ReadExactly<OptU32>({2, 7, 0, 0, 0}).has_value());
  EXPECT_FALSE(ReadExactly<OptU32>({1, 7, 0}).has_value());

  using api::SignalMessageKind;
  EXPECT_EQ(Written(SignalMessageKind::PreKey), (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(ReadExactly<SignalMessageKind>({0, 0, 0, 0}),
            SignalMessageKind::Whisper);
  const char* failure = nullptr;
  EXPECT_FALSE(ReadExactly<SignalMessageKind>({2, 0, 0, 0}, &failure));
  EXPECT_STREQ(failure, "enumeration index out of range");
  EXPECT_FALSE(ReadExactly<SignalMessageKind>({0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_FALSE(ReadExactly<api::ErrorKind>({8, 0, 0, 0}));
  EXPECT_EQ(ReadExactly<api::ErrorKind>({7, 0, 0, 0}), api::ErrorKind::Other);
}

TEST(BridgeEncoding, ListCountsAreCheckedBeforeAnythingIsReserved) {
  using List = std::vector<uint32_t>;
  EXPECT_EQ(ReadExactly<List>({2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}),
            (List{1, 2}));
  // Two elements of four bytes need eight bytes; seven are there.
  const char* failure = nullptr;
  EXPECT_FALSE(
      ReadExactly<List>({2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0}, &failure));
  EXPECT_STREQ(failure, "list count exceeds the remaining argument data");
  // A count of 2^31 - 1 records would ask for gigabytes if reserved.
  EXPECT_FALSE(
      ReadExactly<std::vector<api::StoreSnapshot>>({0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_FALSE(ReadExactly<List>({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(BridgeEncoding, MinimumSizesOfRecords) {
  static_assert(MinEncodedLen<api::PeerAddress>() == 8);
  static_assert(MinEncodedLen<api::AddressedRecord>() == 12);
  static_assert(MinEncodedLen<api::StoreSnapshot>() == 28);
  static_assert(MinEncodedLen<api::StoreChanges>() == 32);
  static_assert(MinEncodedLen<api::PreKeyBundle>() == 4 + 4 + 1 + 1 + 4 + 4 +
                                                          4 + 4 + 1 + 1 + 1);
  static_assert(MinEncodedLen<api::EngineError>() == 8);
}

TEST(BridgeEncoding, WriterHandsOverExactlyItsLength) {
  ByteWriter w;
  for (int i = 0; i < 1000; i++) {
    w.AddU8(static_cast<uint8_t>(i));
  }
  OwnedBytes out = w.TakeBytes();
  ASSERT_EQ(out.size(), 1000u);
  EXPECT_EQ(out.data()[999], static_cast<uint8_t>(999));
  EXPECT_EQ(w.size(), 0u);
}

TEST(BridgeArguments, MustEndExactlyAtTheDataLength) {
  const struct {
    const char* name;
    int32_t cap;
    int32_t len;
    int reads;  // 4-byte reads
    const char* fault;
  } kCases[] = {
      {"exact", 8, 8, 2, nullptr},
      {"exact with slack allocated", 12, 8, 2, nullptr},
      {"one byte too many", 9, 9, 2, "arguments end at byte 8 but the data length is 9"},
      {"one byte short", 8, 7, 2, "arguments end at byte 8 but the data length is 7"},
      {"past the allocation", 4, 4, 2, "argument data ends early"},
      {"nothing to read", 0, 0, 0, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    uint8_t* data = AllocateZeroed(static_cast<size_t>(c.cap));
    Arguments args(data, c.cap, c.len);
    args.CheckLengths();
    uint32_t v;
    for (int i = 0; i < c.reads; i++) {
      static_cast<void>(args.reader().ReadU32(&v));
    }
    if (c.fault == nullptr) {
      EXPECT_NO_THROW(args.Finish());
    } else {
      try {
        args.Finish();
        ADD_FAILURE() << "no fault";
      } catch (const Fault& f) {
        EXPECT_STREQ(f.what(), c.fault);
      }
    }
  }
}

TEST(BridgeArguments, InconsistentLengthsAreAFault) {
  const struct {
    int32_t cap;
    int32_t len;
  } kCases[] = {{4, 5}, {4, -1}, {-1, -1}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.cap << "/" << c.len);
    Arguments args(nullptr, c.cap, c.len);
    EXPECT_THROW(args.CheckLengths(), Fault);
  }
}

}  // namespace
}  // namespace velmo::bridge
