// Read and Write for every kind of bridge value, so that a value's encoding
// follows from its C++ type:
//   uint8_t, bool, uint32_t, int32_t     fixed size
//   crypto::Bytes, crypto::SecretBytes   byte string
//   std::string                          text (UTF-8, checked when read)
//   std::vector<T>                       list of T
//   std::optional<T>                     optional T
//   an enum with an EnumVariants<E>      enumeration (32-bit index)
//   a struct with a static Fields()      record: its fields in that order
//   (or a RecordFields<T> specialization for a struct defined elsewhere)
// A record lists its fields once, as member pointers, and both directions
// follow that one list:
//   struct PeerAddress {
//     std::string name;
//     uint32_t device_id = 0;
//     static constexpr auto Fields() {
//       return std::tuple(&PeerAddress::name, &PeerAddress::device_id);
//     }
//   };
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "bridge/encoding.h"
#include "crypto/secure_bytes.h"

namespace velmo::bridge {

// EnumVariants<E>::value is the number of variants of an enumeration that
// crosses the bridge; indices 0 .. value-1 map to E's values in order.
template <class E>
struct EnumVariants;

template <class E>
concept Enumeration = std::is_enum_v<E> && requires {
  { EnumVariants<E>::value } -> std::convertible_to<int32_t>;
};

// RecordFields<T>::Get() lists the fields of a record type that cannot have a
// Fields() of its own (it belongs to another layer).
template <class T>
struct RecordFields;

template <class T>
concept Record = requires { T::Fields(); } || requires {
  RecordFields<T>::Get();
};

template <Record T>
constexpr auto FieldsOf() {
  if constexpr (requires { T::Fields(); }) {
    return T::Fields();
  } else {
    return RecordFields<T>::Get();
  }
}

// MinEncodedLen is the fewest bytes a value of type T takes; list counts are
// checked against it before storage for the elements is reserved.
template <class T>
constexpr size_t MinEncodedLen();

namespace internal {
template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};
template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class M>
struct MemberType;
template <class C, class T>
struct MemberType<T C::*> {
  using type = T;
};

template <class T, size_t... I>
constexpr size_t SumOfFields(std::index_sequence<I...>) {
  using Fields = decltype(FieldsOf<T>());
  return (size_t{0} + ... +
          MinEncodedLen<typename MemberType<
              std::tuple_element_t<I, Fields>>::type>());
}
}  // namespace internal

template <class T>
constexpr size_t MinEncodedLen() {
  if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, bool> ||
                internal::IsOptional<T>::value) {
    return 1;
  } else if constexpr (std::is_same_v<T, uint32_t> ||
                       std::is_same_v<T, int32_t> || Enumeration<T>) {
    return 4;
  } else if constexpr (std::is_same_v<T, crypto::Bytes> ||
                       std::is_same_v<T, crypto::SecretBytes> ||
                       std::is_same_v<T, std::string> ||
                       internal::IsVector<T>::value) {
    return 4;
  } else {
    static_assert(Record<T>, "no bridge encoding for this type");
    using Fields = decltype(FieldsOf<T>());
    return internal::SumOfFields<T>(
        std::make_index_sequence<std::tuple_size_v<Fields>>());
  }
}

// ---- Reading: each returns false on failure (the reader keeps the reason).

[[nodiscard]] inline bool Read(ByteReader& in, uint8_t* out) {
  return in.ReadU8(out);
}
[[nodiscard]] inline bool Read(ByteReader& in, bool* out) {
  return in.ReadBool(out);
}
[[nodiscard]] inline bool Read(ByteReader& in, uint32_t* out) {
  return in.ReadU32(out);
}
[[nodiscard]] inline bool Read(ByteReader& in, int32_t* out) {
  return in.ReadI32(out);
}
namespace internal {
template <class ByteVector>
bool ReadByteString(ByteReader& in, ByteVector* out) {
  std::span<const uint8_t> bytes;
  if (!in.ReadBytes(&bytes)) {
    return false;
  }
  out->assign(bytes.begin(), bytes.end());
  return true;
}
}  // namespace internal

[[nodiscard]] inline bool Read(ByteReader& in, crypto::Bytes* out) {
  return internal::ReadByteString(in, out);
}
[[nodiscard]] inline bool Read(ByteReader& in, crypto::SecretBytes* out) {
  return internal::ReadByteString(in, out);
}
[[nodiscard]] inline bool Read(ByteReader& in, std::string* out) {
  std::string_view text;
  if (!in.ReadText(&text)) {
    return false;
  }
  out->assign(text);
  return true;
}

template <Enumeration E>
[[nodiscard]] bool Read(ByteReader& in, E* out) {
  int32_t index;
  if (!in.ReadEnumIndex(EnumVariants<E>::value, &index)) {
    return false;
  }
  *out = static_cast<E>(index);
  return true;
}

template <class T>
[[nodiscard]] bool Read(ByteReader& in, std::vector<T>* out) {
  size_t count;
  if (!in.ReadCount(MinEncodedLen<T>(), &count)) {
    return false;
  }
  out->clear();
  out->reserve(count);
  for (size_t i = 0; i < count; i++) {
    if (!Read(in, &out->emplace_back())) {
      return false;
    }
  }
  return true;
}

template <class T>
[[nodiscard]] bool Read(ByteReader& in, std::optional<T>* out) {
  bool present;
  if (!in.ReadBool(&present)) {
    return false;
  }
  if (!present) {
    out->reset();
    return true;
  }
  return Read(in, &out->emplace());
}

template <Record T>
[[nodiscard]] bool Read(ByteReader& in, T* out) {
  return std::apply(
      [&](auto... field) { return (Read(in, &(out->*field)) && ...); },
      FieldsOf<T>());
}

// ReadValues reads a tuple's elements in order.
template <class... T>
[[nodiscard]] bool ReadValues(ByteReader& in, std::tuple<T...>* out) {
  return std::apply([&](T&... value) { return (Read(in, &value) && ...); },
                    *out);
}

// ---- Writing: throws std::bad_alloc, or Fault for a length past 2^31 - 1.

inline void Write(ByteWriter& out, uint8_t v) {
  out.AddU8(v);
}
inline void Write(ByteWriter& out, bool v) {
  out.AddBool(v);
}
inline void Write(ByteWriter& out, uint32_t v) {
  out.AddU32(v);
}
inline void Write(ByteWriter& out, int32_t v) {
  out.AddI32(v);
}
inline void Write(ByteWriter& out, const crypto::Bytes& v) {
  out.AddBytes(v);
}
inline void Write(ByteWriter& out, const crypto::SecretBytes& v) {
  out.AddBytes(v);
}
inline void Write(ByteWriter& out, const std::string& v) {
  out.AddText(v);
}

template <Enumeration E>
void Write(ByteWriter& out, E v) {
  out.AddI32(static_cast<int32_t>(v));
}

template <class T>
void Write(ByteWriter& out, const std::vector<T>& list) {
  out.AddCount(list.size());
  for (const T& element : list) {
    Write(out, element);
  }
}

template <class T>
void Write(ByteWriter& out, const std::optional<T>& v) {
  out.AddBool(v.has_value());
  if (v.has_value()) {
    Write(out, *v);
  }
}

template <Record T>
void Write(ByteWriter& out, const T& record) {
  std::apply([&](auto... field) { (Write(out, record.*field), ...); },
             FieldsOf<T>());
}

}  // namespace velmo::bridge
