#include "json/writer.h"

#include <cstring>

#include "json/work_stack.h"

namespace json {

JsonWriter::JsonWriter(std::int32_t initial_bytes) {
  capacity_ = initial_bytes > 0 ? static_cast<std::size_t>(initial_bytes) : 1024;
  if (capacity_ < sizeof(char16_t)) capacity_ = sizeof(char16_t);
  buffer_ = static_cast<char16_t*>(Heap::process()->alloc(capacity_));
  if (!buffer_) {
    capacity_ = 0;
    failed_ = true;
  }
}

JsonWriter::~JsonWriter() { Heap::process()->free(buffer_); }

bool JsonWriter::fit(std::size_t n) {
  if (failed_) return false;
  std::size_t needed = (length_ + n) * 2 + 2;
  if (capacity_ >= needed) return true;
  std::size_t grown = capacity_ * 2 + n * 2 + 2;
  void* p = Heap::process()->resize(buffer_, capacity_, grown);
  if (!p) {
    failed_ = true;
    return false;
  }
  buffer_ = static_cast<char16_t*>(p);
  capacity_ = grown;
  return true;
}

void JsonWriter::put(const char16_t* text, std::size_t n) {
  if (n == 0) return;
  if (!fit(n)) return;
  std::memcpy(buffer_ + length_, text, n * sizeof(char16_t));
  length_ += n;
  buffer_[length_] = 0;
}

char16_t* JsonWriter::reserve(std::size_t n) {
  if (!fit(n)) return nullptr;
  return buffer_ + length_;
}

void JsonWriter::commit(std::size_t k) {
  if (failed_) return;
  length_ += k;
  buffer_[length_] = 0;
}

namespace {

// Escapes into `out` (room for twice the length); returns the end.
char16_t* escape_into(std::u16string_view text, char16_t* out, bool is_key) {
  for (char16_t c : text) {
    char16_t e = 0;
    if (c > u'\\') {  // every escaped character is at most a backslash
      *out++ = c;
      continue;
    }
    switch (c) {
      case 8: e = u'b'; break;
      case 9: e = u't'; break;
      case 10: e = u'n'; break;
      case 12: e = u'f'; break;
      case 13: e = u'r'; break;
      case u'"': e = u'"'; break;
      case u'\\': e = u'\\'; break;
      case u'/': e = is_key ? u'/' : 0; break;
      default: break;
    }
    if (e) {
      *out++ = u'\\';
      *out++ = e;
    } else {
      *out++ = c;
    }
  }
  return out;
}

void write_quoted(JsonWriter& w, std::u16string_view text, bool escape, bool is_key) {
  w.put(u'"');
  if (!escape) {
    w.put(text);
  } else if (char16_t* room = w.reserve(text.size() * 2)) {
    w.commit(static_cast<std::size_t>(escape_into(text, room, is_key) - room));
  }
  w.put(u'"');
}

void write_tabs(JsonWriter& w, int depth) {
  for (int i = 0; i < depth; ++i) w.put(u'\t');
}

struct Frame {
  const JsonNode* node;
  std::int32_t next;  // index of the next child to write
};

}  // namespace

void write_node(const JsonNode* node, JsonWriter& w, bool pretty, int depth, bool escape) {
  if (!node) return;
  // Containers are written with an explicit stack so that nesting depth is
  // limited only by memory.
  WorkStack<Frame> open(64);
  const JsonNode* value = node;
  for (;;) {
    if (value) {
      switch (value->type) {
        case kNull:
          w.put(u"null");
          break;
        case kBoolean:
          w.put(value->payload.integer ? std::u16string_view(u"true") : std::u16string_view(u"false"));
          break;
        case kString:
          write_quoted(w, value->string_view(), escape, false);
          break;
        case kArray:
        case kObject:
          w.put(value->type == kArray ? u'[' : u'{');
          if (value->type == kObject && pretty) w.put(u"\r\n");
          ++depth;
          if (!open.push({value, 0})) return;
          break;
        default:  // numbers and dates: their literal text
          w.put(value->literal_view());
          break;
      }
      value = nullptr;
    }
    if (open.empty()) return;
    Frame& f = open.top();
    const NodeList* items = f.node->children();
    std::int32_t count = items ? items->count : 0;
    bool is_object = f.node->type == kObject;
    if (f.next < count) {
      const JsonNode* child = items->items[f.next];
      if (f.next > 0) {
        w.put(u',');
        if (is_object && pretty) w.put(u"\r\n");
      }
      ++f.next;
      if (is_object) {
        if (pretty && depth > 0) write_tabs(w, depth);
        write_quoted(w, child->key_view(), escape, true);
        w.put(u':');
      }
      value = child;
      continue;
    }
    open.pop();
    --depth;
    if (is_object) {
      if (pretty && count > 0) w.put(u"\r\n");
      if (pretty && depth > 0) write_tabs(w, depth);
      w.put(u'}');
    } else {
      w.put(u']');
    }
  }
}

}  // namespace json
