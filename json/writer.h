// Writes a node and everything below it as JSON text (UTF-16). Numbers,
// booleans and null come out as the literal text each node holds, so parsed
// numbers are written exactly as they were read.
#pragma once

#include <cstdint>
#include <string>

#include "json/node.h"

namespace json {

// The output buffer: it grows to capacity * 2 + needed bytes whenever an
// append would not fit. A failed growth drops that append and later ones.
class JsonWriter {
 public:
  explicit JsonWriter(std::int32_t initial_bytes = 1024);
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;
  ~JsonWriter();

  void put(char16_t c) {
    if (!failed_ && (length_ + 1) * 2 + 2 <= capacity_) {
      buffer_[length_++] = c;
      buffer_[length_] = 0;
    } else {
      put(&c, 1);
    }
  }
  void put(const char16_t* text, std::size_t n);
  void put(std::u16string_view text) { put(text.data(), text.size()); }
  // Room for n characters at the end, or null; commit(k) then adds the k
  // characters written there.
  char16_t* reserve(std::size_t n);
  void commit(std::size_t k);

  std::u16string_view text() const { return {buffer_ ? buffer_ : u"", length_}; }
  std::size_t capacity_bytes() const { return capacity_; }

 private:
  bool fit(std::size_t n);
  char16_t* buffer_ = nullptr;
  std::size_t capacity_ = 0;  // bytes
  std::size_t length_ = 0;    // characters
  bool failed_ = false;
};

// Appends the JSON text of the node (nothing for a missing node). `pretty`
// breaks objects over CR LF lines indented with tabs; arrays stay on one line.
void write_node(const JsonNode* node, JsonWriter& writer, bool pretty = false, int depth = 0, bool escape = true);

}  // namespace json
