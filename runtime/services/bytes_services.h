// Byte-set services. Positions count from 1.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>

#include "runtime/services/number_services.h"
#include "runtime/value/value.h"

namespace rt {

int bytes_len(const Bytes& bytes);
Bytes blank_bytes(int n);  // n zero bytes
Bytes bytes_left(const Bytes& bytes, int n);
// First occurrence at or after `start` (below 1 counts as 1), or -1; an empty
// sought byte set gives -1.
int find_bytes(const Bytes& bytes, const Bytes& sought, int start = 1);
Bytes repeat_bytes(int count, const Bytes& bytes);

// Kinds of bytes_get_value.
enum ValueKindCode : int {
  kGetByte = 1,
  kGetShort = 2,
  kGetInt = 3,
  kGetInt64 = 4,
  kGetFloat = 5,
  kGetDouble = 6,
  kGetBool = 7,
  kGetDate = 8,
  kGetSubroutine = 9,
  kGetText = 10,
};
// Reads one value of the kind at *position (1 when no position is given);
// missing bytes read as zeros. The position is advanced past the value (past
// a text's terminating zero), or set to -1 once nothing is left. A kind
// outside 1-10 is fatal ("“欲取出数据的类型”参数值无效").
Value bytes_get_value(const Bytes& bytes, int kind, int* position = nullptr);

// Scalars as their little-endian bytes, a text without its NUL, a byte set
// copied, an array of numbers as its elements' bytes.
Bytes to_bytes(const Value& value);
Bytes pointer_to_bytes(const void* address, int length);
// Copies the value's bytes (as to_bytes) to the address, at most `length`.
void write_memory(const Value& value, void* address, std::optional<int> length = std::nullopt);

// Address of a variable's data: a text's first character (null when empty),
// a byte set's first byte, an array's first element, else the variable.
inline const char* data_address(const Text& text) { return text.empty() ? nullptr : text.c_str(); }
inline std::uint8_t* data_address(Bytes& bytes) { return bytes.empty() ? nullptr : bytes.data(); }
template <typename T>
T* data_address(Array<T>& array) {
  return array.empty() ? nullptr : array.data();
}
template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T>>>
T* data_address(T& variable) {
  return &variable;
}

}  // namespace rt
