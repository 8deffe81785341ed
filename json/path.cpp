#include "json/path.h"

#include "json/convert.h"

namespace json {

JsonPath parse_path(std::u16string_view path) {
  path = until_nul(path);
  JsonPath out;
  std::u16string key;
  auto end_key = [&] {
    if (!key.empty()) out.push_back({PathSegment::kKey, std::move(key), 0});
    key.clear();
  };
  for (std::size_t i = 0; i < path.size(); ++i) {
    char16_t c = path[i];
    if (c == u'\\' && i + 1 < path.size()) {
      char16_t e = path[i + 1];
      if (e == u'.' || e == u'[' || e == u']' || e == u'\\') {
        key += e;
        ++i;
        continue;
      }
    }
    if (c == u'.') {
      end_key();
    } else if (c == u'[') {
      end_key();
      std::size_t close = path.find(u']', i + 1);
      if (close == std::u16string_view::npos) close = path.size();  // an unclosed index ends the path
      std::u16string_view digits = path.substr(i + 1, close - i - 1);
      out.push_back({PathSegment::kIndex, {}, digits.empty() ? -1 : text_to_int32(digits)});
      i = close;
    } else {
      key += c;
    }
  }
  end_key();
  return out;
}

JsonNode* resolve(JsonNode* root, const JsonPath& path) {
  JsonNode* node = root;
  for (const PathSegment& seg : path) {
    if (!node) return nullptr;
    if (seg.kind == PathSegment::kKey) {
      node = node->type == kObject ? member_find(node->payload.object, seg.key) : nullptr;
    } else if (node->type == kArray || node->type == kObject) {
      node = list_at(node->children(), seg.index);
    } else {
      node = nullptr;
    }
  }
  return node;
}

JsonNode* resolve_create(JsonNode* root, const JsonPath& path) {
  JsonNode* node = root;
  for (const PathSegment& seg : path) {
    if (!node) return nullptr;
    if (seg.kind == PathSegment::kKey) {
      if (!make_object(node)) return nullptr;
      JsonNode* member = member_find(node->payload.object, seg.key);
      if (!member) {
        member = new_null(node);
        if (!member) return nullptr;
        if (!member_put(node, seg.key, member)) {
          member->release();
          return nullptr;
        }
      }
      node = member;
    } else {
      if (!make_array(node)) return nullptr;
      NodeList* list = node->payload.array;
      std::int32_t index = seg.index < 0 ? list->count : seg.index;
      while (list->count <= index) {
        JsonNode* filler = new_null(node);
        if (!filler) return nullptr;
        if (!element_append(node, filler)) {
          filler->release();
          return nullptr;
        }
      }
      node = list->items[index];
    }
  }
  return node;
}

}  // namespace json
