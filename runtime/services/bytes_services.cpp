#include "runtime/services/bytes_services.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace rt {

int bytes_len(const Bytes& bytes) { return static_cast<int>(bytes.size()); }

Bytes blank_bytes(int n) { return Bytes::zeros(n <= 0 ? 0 : static_cast<std::size_t>(n)); }

Bytes bytes_left(const Bytes& bytes, int n) {
  if (n <= 0) return {};
  return Bytes(bytes.data(), std::min(bytes.size(), static_cast<std::size_t>(n)));
}

int find_bytes(const Bytes& bytes, const Bytes& sought, int start) {
  std::string_view s = bytes.view(), t = sought.view();
  std::size_t from = static_cast<std::size_t>(start < 1 ? 0 : start - 1);
  if (t.empty() || from >= s.size()) return -1;
  std::size_t at = s.find(t, from);
  return at == std::string_view::npos ? -1 : static_cast<int>(at + 1);
}

Bytes repeat_bytes(int count, const Bytes& bytes) {
  Bytes out;
  if (count <= 0 || bytes.empty()) return out;
  out.resize(bytes.size() * static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) std::memcpy(out.data() + i * bytes.size(), bytes.data(), bytes.size());
  return out;
}

Value bytes_get_value(const Bytes& bytes, int kind, int* position) {
  static const int kWidth[] = {0, 1, 2, 4, 8, 4, 8, 4, 8, 4, 0};
  if (kind < kGetByte || kind > kGetText) rt_fail("“欲取出数据的类型”参数值无效");
  int pos = position ? *position : 1;
  std::size_t size = bytes.size();
  std::size_t at = pos < 1 ? size : static_cast<std::size_t>(pos - 1);
  if (at > size) at = size;
  std::string_view rest = bytes.view().substr(at);

  std::size_t used;
  Value result;
  if (kind == kGetText) {
    std::size_t nul = rest.find('\0');
    result = Value(rest.empty() ? Text("") : Text(rest.substr(0, nul)));
    used = nul == std::string_view::npos ? rest.size() : nul + 1;
  } else {
    unsigned char raw[8] = {};
    used = static_cast<std::size_t>(kWidth[kind]);
    if (!rest.empty()) std::memcpy(raw, rest.data(), std::min(used, rest.size()));
    std::int64_t i64;
    std::int32_t i32;
    std::int16_t i16;
    float f;
    double d;
    switch (kind) {
      case kGetByte: result = Value(static_cast<std::uint8_t>(raw[0])); break;
      case kGetShort: std::memcpy(&i16, raw, 2); result = Value(static_cast<short>(i16)); break;
      case kGetInt: std::memcpy(&i32, raw, 4); result = Value(static_cast<int>(i32)); break;
      case kGetInt64: std::memcpy(&i64, raw, 8); result = Value(static_cast<long long>(i64)); break;
      case kGetFloat: std::memcpy(&f, raw, 4); result = Value(f); break;
      case kGetDouble: std::memcpy(&d, raw, 8); result = Value(d); break;
      case kGetBool: std::memcpy(&i32, raw, 4); result = Value(i32 != 0); break;
      case kGetDate: std::memcpy(&d, raw, 8); result = Value(Date{d}); break;
      default:
        std::memcpy(&i32, raw, 4);
        result = Value::subroutine(reinterpret_cast<const void*>(static_cast<std::intptr_t>(i32)));
        break;
    }
  }
  if (position) {
    std::size_t next = at + used;
    *position = (rest.empty() || next >= size) ? -1 : static_cast<int>(next + 1);
  }
  return result;
}

Bytes to_bytes(const Value& v) {
  auto little_endian = [](std::uint64_t n, std::size_t width) {
    std::uint8_t out[8];
    for (std::size_t i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(n >> (8 * i));
    return Bytes(out, width);
  };
  switch (v.kind()) {
    case Kind::Byte: return little_endian(static_cast<std::uint64_t>(v.as_int64()), 1);
    case Kind::Short: return little_endian(static_cast<std::uint64_t>(v.as_int64()), 2);
    case Kind::Int:
    case Kind::Bool:
    case Kind::Subroutine: return little_endian(static_cast<std::uint64_t>(v.as_int64()), 4);
    case Kind::Int64: return little_endian(static_cast<std::uint64_t>(v.as_int64()), 8);
    case Kind::Float: {
      float f = static_cast<float>(v.as_double());
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      return little_endian(bits, 4);
    }
    case Kind::Double:
    case Kind::Date: {
      double d = v.as_double();
      std::uint64_t bits;
      std::memcpy(&bits, &d, 8);
      return little_endian(bits, 8);
    }
    case Kind::Text: return Bytes(v.text().view());
    case Kind::Bytes: return v.bytes();
    case Kind::None: break;
  }
  return {};
}

Bytes pointer_to_bytes(const void* address, int length) {
  if (!address || length <= 0) return {};
  return Bytes(address, static_cast<std::size_t>(length));
}

void write_memory(const Value& value, void* address, std::optional<int> length) {
  Bytes bytes = to_bytes(value);
  std::size_t n = bytes.size();
  if (length) n = std::min(n, static_cast<std::size_t>(*length < 0 ? 0 : *length));
  if (address && n) std::memcpy(address, bytes.data(), n);
}

}  // namespace rt
