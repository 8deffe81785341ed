#include "json/parser.h"

#include <cstring>

#include "json/convert.h"
#include "json/work_stack.h"

namespace json {

namespace {

enum State : std::int32_t {
  kExpectKey = 1,    // object, before a member key (or its end)
  kExpectValue = 2,  // any array, or an object after a key and ':'
  kClosedChild = 3,  // a nested container has just been closed in it
};

struct Entry {
  JsonNode* node;
  std::int32_t state;
};

bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

int hex_pair(const char16_t* p) {
  int v = 0;
  for (int i = 0; i < 2; ++i) {
    char16_t c = p[i];
    int d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else break;  // read as far as the digits go
    v = v * 16 + d;
  }
  return v;
}

enum NumberKind { kNotNumber, kIntegerNumber, kRealNumber };

// Characters with codes up to 32 are skipped wherever they stand.
NumberKind number_kind(const char16_t* t, std::int32_t n) {
  bool any = false, real = false;
  int points = 0, exponents = 0, signs = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    char16_t c = t[i];
    if (c <= 32) continue;
    any = true;
    if (i == 0) {
      if (c == u'.') ++points, real = true;
      else if (!(c == u'+' || c == u'-' || is_digit(c))) return kNotNumber;
      continue;
    }
    if (is_digit(c)) continue;
    if (c == u'.') {
      if (++points > 1) return kNotNumber;
    } else if (c == u'e' || c == u'E') {
      if (++exponents > 1) return kNotNumber;
    } else if (c == u'+' || c == u'-') {
      if (++signs > 1) return kNotNumber;
    } else {
      return kNotNumber;
    }
    real = true;
  }
  if (!any) return kNotNumber;
  return real ? kRealNumber : kIntegerNumber;
}

bool same(const char16_t* t, std::int32_t n, std::u16string_view word) {
  return static_cast<std::size_t>(n) == word.size() && std::memcmp(t, word.data(), word.size() * 2) == 0;
}

class Parser {
 public:
  Parser(JsonNode* root, const char16_t* text, std::int32_t length, bool decode, bool containers_only,
         char16_t* scratch)
      : root_(root), s_(text), len_(length), decode_(decode), containers_only_(containers_only),
        scratch_(scratch), stack_(1024) {}

  bool ready() const { return stack_.ok(); }
  std::int32_t position() const { return p_; }

  int run() {
    for (p_ = 0; p_ <= len_; ++p_) {
      char16_t c = p_ < len_ ? s_[p_] : u'\0';
      if (c == 0 || is_blank(c)) continue;
      int r = c == u'{' ? open(kObject) : c == u'[' ? open(kArray) : token();
      if (r) return r;
    }
    if (!stack_.empty()) return kParseUnclosed;  // p_ is length + 1 here
    return kParseOk;
  }

 private:
  // Escapes skip 6 characters for \u, else 2, but never past the end.
  std::int32_t escape_width() const {
    std::int32_t n = p_ + 1 < len_ && s_[p_ + 1] == u'u' ? 6 : 2;
    return n < len_ - p_ ? n : len_ - p_;
  }

  // Copies n characters from `from` into the scratch buffer at `at`. A
  // member's key goes behind its value's token: the two never overlap in the
  // text, so both fit.
  char16_t* take(std::int32_t from, std::int32_t n, std::int32_t at = 0) {
    char16_t* to = scratch_ + at;
    std::memcpy(to, s_ + from, static_cast<std::size_t>(n) * 2);
    to[n] = 0;
    return to;
  }

  std::u16string_view key(std::int32_t from, std::int32_t n, std::int32_t at = 0) {
    char16_t* k = take(from, n, at);
    return {k, static_cast<std::size_t>(unescape(k, n, decode_))};
  }

  int open(std::int32_t kind) {
    std::int32_t state = kind == kObject ? kExpectKey : kExpectValue;
    if (stack_.empty()) {
      // The root itself; a second top-level container continues in it.
      bool ok = kind == kObject ? make_object(root_) : make_array(root_);
      return ok && stack_.push({root_, state}) ? kParseOk : kParseNoMemory;
    }
    Entry top = stack_.top();
    if (top.state != kExpectValue) return kParseObject;
    bool in_array = top.node->type == kArray;
    if (!in_array && (pending_start_ == -1 || pending_length_ == 0)) return kParseObject;
    std::size_t key_room = in_array ? 0 : static_cast<std::size_t>(pending_length_);
    JsonNode* node = kind == kObject ? new_object(root_, key_room) : new_array(root_, key_room);
    if (!node) return kParseNoMemory;
    bool attached = in_array ? element_append(top.node, node)
                             : member_put(top.node, key(pending_start_, pending_length_), node);
    if (!attached) {
      node->release();
      return kParseNoMemory;
    }
    return stack_.push({node, state}) ? kParseOk : kParseNoMemory;
  }

  void close_top() {
    stack_.pop();
    if (!stack_.empty()) stack_.top().state = kClosedChild;
  }

  int token() {
    if (stack_.empty()) {
      if (containers_only_) return kParseOk;
      // A bare scalar document: the whole text is the token. It is read once;
      // its characters are not looked at again as structure.
      std::int32_t from = 0;
      int r = classify(nullptr, take(0, len_), len_, from, 0, 0);
      if (r == kParseOk) p_ = len_;
      return r;
    }
    return stack_.top().node->type == kArray ? token_in_array() : token_in_object();
  }

  int token_in_array() {
    Entry& e = stack_.top();
    JsonNode* array = e.node;
    if (e.state == kClosedChild) {
      e.state = kExpectValue;
      if (s_[p_] == u',') return kParseOk;
    }
    if (e.state != kExpectValue) return kParseValue;
    std::int32_t f = p_, t = 0;
    char16_t quote = 0;
    while (p_ < len_) {
      char16_t c = s_[p_];
      if (!quote && is_blank(c)) {
        ++p_;
        if (t == 0) f = p_;
        continue;
      }
      if (c == u'"' || c == u'\'') {
        if (!quote) quote = c;
        else if (c == quote) quote = 0;
      } else if (c == u'\\') {
        std::int32_t n = escape_width();
        p_ += n;
        t += n;
        continue;
      } else if (!quote) {
        if (c == u'{' || c == u'[') {
          if (t == 0) return open(c == u'{' ? kObject : kArray);
          p_ = f;
          return kParseValue;
        }
        if (c == u']') {
          close_top();
          if (t == 0) return kParseOk;
          break;
        }
        if (c == u',') break;
      }
      ++p_;
      ++t;
    }
    if (quote) {
      p_ = f;
      return kParseOpenQuote;
    }
    if (t == 0) return kParseOk;
    return classify(array, take(f, t), t, f, 0, 0);
  }

  int token_in_object() {
    JsonNode* object = stack_.top().node;
    std::int32_t& state = stack_.top().state;
    if (state == kClosedChild) {
      state = kExpectKey;
      if (s_[p_] == u',') return kParseOk;
    }
    if (state != kExpectKey) return kParseObject;
    std::int32_t ks = p_, kl = 0, f = 0, t = 0;
    std::int32_t scan = kExpectKey;
    char16_t quote = 0;
    bool key_closed = false, at_end = false;
    auto count = [&](std::int32_t n) { (scan == kExpectKey ? kl : t) += n; };
    while (p_ < len_) {
      char16_t c = s_[p_];
      if (!quote && is_blank(c)) {
        ++p_;
        if (scan == kExpectKey) {
          if (kl == 0) ks = p_;
        } else if (t == 0) {
          f = p_;
        }
        continue;
      }
      if ((c == u'"' || c == u'\'') && !quote) {
        ++p_;
        quote = c;
        if (scan == kExpectKey) {
          if (kl != 0) return kParseObject;
          ks = p_;  // the key starts after its quote
        } else {
          ++t;
        }
        continue;
      }
      if (quote && c == quote) {
        ++p_;
        quote = 0;
        if (scan == kExpectKey) key_closed = true;
        else ++t;
        continue;
      }
      if (c == u'\\') {
        std::int32_t n = escape_width();
        p_ += n;
        count(n);
        continue;
      }
      if (!quote) {
        if (c == u':' && scan == kExpectKey) {
          if (kl == 0) return kParseObject;
          f = ++p_;
          t = 0;
          scan = state = kExpectValue;
          continue;
        }
        if (c == u'{' || c == u'[') {
          if (t != 0) {
            p_ = f;
            return kParseValue;
          }
          pending_start_ = ks;
          pending_length_ = kl;
          return open(c == u'{' ? kObject : kArray);
        }
        if (c == u'}') {
          close_top();
          at_end = true;
          if (kl == 0) return kParseOk;
          break;
        }
        if (c == u',') break;
      }
      if (scan == kExpectKey && key_closed) return kParseObject;
      ++p_;
      count(1);
    }
    if (kl == 0 && t != 0) {
      p_ = ks;
      return kParseObject;
    }
    if (kl != 0 && t == 0) {
      p_ = f;
      return kParseValue;
    }
    if (quote) {
      p_ = kl != 0 ? ks : f;
      return kParseOpenQuote;
    }
    int r = classify(object, take(f, t), t, f, ks, kl);
    if (r == kParseOk && !at_end) stack_.top().state = kExpectKey;
    return r;
  }

  // Makes the value of the token (n characters, NUL-terminated in the
  // scratch buffer) and puts it into the container, or into the root itself
  // when there is no container.
  int classify(JsonNode* container, char16_t* tok, std::int32_t n, std::int32_t f, std::int32_t ks,
               std::int32_t kl) {
    std::int32_t type;
    std::u16string_view text;  // string value, or the number's literal
    double real = 0;
    std::int64_t integer = 0;
    if (n > 0 && (tok[0] == u'"' || tok[0] == u'\'')) {
      if (n < 2 || tok[n - 1] != tok[0]) return kParseValue;
      std::int32_t m = unescape(tok, n, decode_);
      // An escape may have swallowed the closing quote.
      if (m < 2) return kParseValue;
      type = kString;
      text = std::u16string_view(tok + 1, static_cast<std::size_t>(m - 2));
    } else if (same(tok, n, u"null")) {
      type = kNull;
    } else if (same(tok, n, u"true") || same(tok, n, u"false")) {
      type = kBoolean;
      integer = tok[0] == u't';
    } else {
      NumberKind kind = number_kind(tok, n);
      if (kind == kNotNumber) {
        p_ = f;
        return kParseValue;
      }
      text = std::u16string_view(tok, static_cast<std::size_t>(n));
      if (kind == kRealNumber) {
        type = kReal;
        real = text_to_real(text);
      } else {
        type = kInteger;
        integer = text_to_int64(text);
      }
    }

    if (!container) {
      bool ok = type == kString    ? set_string(root_, text)
                : type == kNull    ? set_null(root_)
                : type == kBoolean ? set_boolean(root_, integer != 0)
                : type == kReal    ? set_real(root_, real, text)
                                   : set_integer(root_, integer, text);
      if (ok) return kParseOk;
      p_ = f;
      return kParseNoMemory;
    }

    bool in_array = container->type == kArray;
    std::u16string_view member_key = in_array ? std::u16string_view() : key(ks, kl, n + 1);
    std::size_t room = member_key.size();
    JsonNode* node = type == kString    ? new_string(root_, text, room)
                     : type == kNull    ? new_null(root_, room)
                     : type == kBoolean ? new_boolean(root_, integer != 0, room)
                     : type == kReal    ? new_real(root_, real, text, room)
                                        : new_integer(root_, integer, text, room);
    bool attached = false;
    if (node) {
      attached = in_array ? element_append(container, node) : member_put(container, member_key, node);
      if (attached && !in_array) pending_start_ = -1, pending_length_ = 0;
    }
    if (attached) return kParseOk;
    if (node) node->release();
    p_ = f;
    return kParseNoMemory;
  }

  JsonNode* root_;
  const char16_t* s_;
  std::int32_t len_;
  bool decode_;
  bool containers_only_;
  char16_t* scratch_;  // the current token or key, NUL-terminated
  WorkStack<Entry> stack_;
  std::int32_t p_ = 0;
  std::int32_t pending_start_ = -1;
  std::int32_t pending_length_ = 0;
};

}  // namespace

std::int32_t unescape(char16_t* s, std::int32_t n, bool decode) {
  std::int32_t r = 0;
  while (r < n && s[r] != u'\\') ++r;
  if (r == n) return n;
  std::int32_t w = r;
  while (r < n) {
    char16_t c = s[r];
    if (c != u'\\' || r + 1 >= n) {
      s[w++] = s[r++];
      continue;
    }
    char16_t e = s[r + 1];
    char16_t out = 0;
    switch (e) {
      case u'\\':
      case u'/':
      case u'"': out = e; break;
      case u'b': out = 8; break;
      case u't': out = 9; break;
      case u'r': out = 13; break;
      case u'f': out = 12; break;
      case u'n':
        // An escaped newline becomes CR LF unless a CR (or nothing) precedes it.
        if (w > 0 && s[w - 1] != u'\r') s[w++] = u'\r';
        out = u'\n';
        break;
      case u'u':
        if (decode && r + 5 < n) {
          char16_t unit = static_cast<char16_t>(hex_pair(s + r + 2) << 8 | hex_pair(s + r + 4));
          if (unit) s[w++] = unit;  // \u0000 is dropped
          r += 6;
          continue;
        }
        break;
      default: break;
    }
    if (out) {
      s[w++] = out;
      r += 2;
    } else {  // left as it is, backslash included
      s[w++] = s[r++];
      s[w++] = s[r++];
    }
  }
  s[w] = 0;
  return w;
}

int parse_into(JsonNode* root, std::u16string_view text, bool decode, bool containers_only, int* position) {
  if (position) *position = 0;
  text = until_nul(text);
  if (!root || text.empty()) return kParseNoText;
  if (text.size() > static_cast<std::size_t>(INT32_MAX / 2 - 2)) return kParseNoMemory;
  auto length = static_cast<std::int32_t>(text.size());
  auto* scratch = static_cast<char16_t*>(Heap::process()->alloc(static_cast<std::size_t>(length) * 2 + 4));
  if (!scratch) return kParseNoMemory;
  int result;
  std::int32_t at = 0;
  {
    Parser parser(root, text.data(), length, decode, containers_only, scratch);
    if (!parser.ready()) {
      result = kParseNoMemory;
    } else {
      reset(root);
      result = parser.run();
      at = parser.position();
    }
  }
  Heap::process()->free(scratch);
  if (result != kParseOk) {
    reset(root);
    if (position) *position = at;
  }
  return result;
}

}  // namespace json
