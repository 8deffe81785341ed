// Feeds untrusted text to the JSON parser, then walks, copies, sorts,
// serializes and merges what came out. The first byte picks the options and
// whether the rest is read as code page 936 text or as UTF-16.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "json/document.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Every operation that reads must agree with the tree it reads.
void walk(const json::JsonDocument& doc) {
  rt::Array<json::JsonDocument> kids;
  int n = doc.children("", kids);
  check(n == doc.count(""));
  for (int i = 0; i < n && i < 64; ++i) {
    const json::JsonDocument& kid = kids[i + 1];
    check(kid.parent_of("").get_root() == doc.get_root());
    (void)kid.get_text("");
    (void)kid.get_literal("");
    (void)kid.get_real("");
    (void)kid.get_integer32("");
    (void)kid.get_date("");
    (void)kid.key_of("");
  }
  rt::Array<rt::Text> keys;
  int k = doc.keys("", keys);
  check(k == 0 || k == n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  std::uint8_t flags = data[0];
  bool decode = flags & 1, containers_only = flags & 2, wide = flags & 4, pretty = flags & 8;
  ++data;
  --size;

  json::JsonDocument doc;
  int code = 0, position = 0;
  bool ok;
  if (wide) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    ok = doc.load_wide(text, decode, containers_only, &code, &position);
    check(ok || (code <= -2 && code >= -7 && position >= 0 && position <= static_cast<int>(text.size()) + 1));
  } else {
    std::string text(reinterpret_cast<const char*>(data), size);
    ok = doc.load(text, decode, containers_only, &code, &position);
    check(ok == (code == 0));
  }
  walk(doc);

  std::u16string out = doc.to_json_wide(u"", pretty);
  json::JsonDocument copy = doc.clone_at("");
  check(copy.count("") == doc.count(""));
  copy.sort_members("", flags & 16, flags & 32);
  (void)copy.to_json("", !pretty, !(flags & 64));

  // The output of an array reads back with as many elements (members of an
  // object may merge: escaped and raw line breaks unescape alike).
  json::JsonDocument again;
  if (ok && doc.type_of("") == json::kArray && again.load_wide(out, false, false))
    check(again.count("") == doc.count(""));

  // Views keep their subtree after the document lets go of it.
  json::JsonDocument first = doc.element_at("", 0);
  doc.remove_element("", 0);
  doc.close();
  (void)first.to_json_wide();

  json::JsonDocument target;
  target.load("{\"a\":{\"b\":1},\"c\":[1,2]}");
  std::string text(reinterpret_cast<const char*>(data), size);
  target.merge_json("a", text, decode, flags & 128);
  (void)target.to_json_wide();
  return 0;
}
