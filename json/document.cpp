#include "json/document.h"

#include <utility>
#include <vector>

#include "json/convert.h"
#include "json/path.h"
#include "json/work_stack.h"
#include "json/writer.h"
#include "runtime/value/codepage.h"

namespace json {

namespace {

std::u16string wide(std::string_view text) { return rt::wide_from_cp936(text); }
rt::Text text_of(std::u16string_view w) { return rt::Text(rt::cp936_from_wide(w)); }

// The children of a container, each with a reference of its own, so that a
// loop over them survives changes to the container.
class Snapshot {
 public:
  explicit Snapshot(const JsonNode* node) {
    if (const NodeList* list = node ? node->children() : nullptr) {
      items_.assign(list->items, list->items + list->count);
      for (JsonNode* n : items_) n->add_ref();
    }
  }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  ~Snapshot() {
    for (JsonNode* n : items_) n->release();
  }
  const std::vector<JsonNode*>& items() const { return items_; }

 private:
  std::vector<JsonNode*> items_;
};

// The quicksort of the sort operations: median of three at lo, hole-moving
// partition. Recursing into the smaller side only keeps the stack shallow.
template <typename Compare>
void quick_sort(JsonNode** a, std::int32_t lo, std::int32_t hi, const Compare& cmp) {
  while (lo < hi) {
    std::int32_t mid = lo + (hi - lo) / 2;
    if (cmp(a[lo], a[hi]) > 0) std::swap(a[lo], a[hi]);
    if (cmp(a[mid], a[hi]) > 0) std::swap(a[mid], a[hi]);
    if (cmp(a[mid], a[lo]) > 0) std::swap(a[mid], a[lo]);
    JsonNode* pivot = a[lo];
    std::int32_t i = lo, j = hi;
    while (i < j) {
      while (i < j && cmp(a[j], pivot) >= 0) --j;
      a[i] = a[j];
      while (i < j && cmp(a[i], pivot) < 1) ++i;
      a[j] = a[i];
    }
    a[i] = pivot;
    if (i - lo < hi - i) {
      quick_sort(a, lo, i - 1, cmp);
      lo = i + 1;
    } else {
      quick_sort(a, i + 1, hi, cmp);
      hi = i - 1;
    }
  }
}

bool is_container(const JsonNode* n) { return n && (n->type == kArray || n->type == kObject); }

// Moves `parsed` into the place of `target`: only a member of an object has
// a place to be replaced in. `parsed` is a root whose reference the caller
// hands over, or a member of the parsed tree, whose container's reference
// goes with it.
bool replace_member(JsonNode* target, JsonNode* parsed) {
  JsonNode* parent = target->parent;
  bool placeable = parent && parent->type == kObject && target->key;
  detach(parsed);
  if (placeable && member_put(parent, target->key_view(), parsed)) return true;
  parsed->release();
  return false;
}

// Merges a parsed node into the target; takes over the reference to `parsed`.
bool merge_nodes(JsonNode* target, JsonNode* parsed, bool add_new_keys) {
  if (target->type != kObject || parsed->type != kObject) return replace_member(target, parsed);
  struct Pair {
    JsonNode* target;
    JsonNode* parsed;
  };
  bool ok = true;
  WorkStack<Pair> work(16);
  ok = work.push({target, parsed});
  while (ok && !work.empty()) {
    Pair pair = work.pop();
    Snapshot members(pair.parsed);
    for (JsonNode* m : members.items()) {
      JsonNode* t = member_find(pair.target->payload.object, m->key_view());
      if (t && t->type == kObject && m->type == kObject) {
        if (!(ok = work.push({t, m}))) break;
      } else if (t) {
        if (!(ok = replace_member(t, m))) break;
      } else if (add_new_keys) {
        JsonNode* c = copy(m);
        if (!c || !member_put(pair.target, m->key_view(), c)) {
          if (c) c->release();
          ok = false;
          break;
        }
      }
    }
  }
  parsed->release();
  return ok;
}

}  // namespace

// ---- lifetime ---------------------------------------------------------------------

JsonDocument::JsonDocument(const JsonDocument& other) : root_(other.root_) {
  if (root_) root_->add_ref();
}

JsonDocument& JsonDocument::operator=(const JsonDocument& other) {
  set_root(other.root_, true);
  return *this;
}

JsonDocument& JsonDocument::operator=(JsonDocument&& other) noexcept {
  if (this != &other) {
    destroy();
    root_ = std::exchange(other.root_, nullptr);
  }
  return *this;
}

JsonDocument JsonDocument::view(JsonNode* node) {
  if (node) node->add_ref();
  return JsonDocument(node);
}

void JsonDocument::destroy() {
  if (JsonNode* old = std::exchange(root_, nullptr)) old->release();
}

JsonDocument JsonDocument::copy_ref() const { return view(root_); }

void JsonDocument::close() { destroy(); }

JsonNode* JsonDocument::get_root(bool add_ref) const {
  if (root_ && add_ref) root_->add_ref();
  return root_;
}

void JsonDocument::set_root(JsonNode* node, bool add_ref) {
  if (node && add_ref) node->add_ref();
  JsonNode* old = std::exchange(root_, node);
  if (old) old->release();
}

JsonNode* JsonDocument::find(std::u16string_view path) const {
  return root_ ? resolve(root_, parse_path(path)) : nullptr;
}

JsonNode* JsonDocument::make(std::u16string_view path) {
  return root_ ? resolve_create(root_, parse_path(path)) : nullptr;
}

// ---- parsing ------------------------------------------------------------------------

bool JsonDocument::parse_root(std::u16string_view json, bool fresh_root, bool decode, bool containers_only,
                              int* error_code, int* error_position) {
  int code = kParseOk, position = 0;
  if (fresh_root || !root_) {
    if (JsonNode* root = new_object()) {
      set_root(root, false);
    } else {
      code = kParseNoMemory;
    }
  }
  // A fresh root without text is an empty document, not an error.
  if (code == kParseOk && (!fresh_root || (!json.empty() && json[0] != 0)))
    code = parse_into(root_, json, decode, containers_only, &position);
  if (error_code) *error_code = code;
  if (error_position) *error_position = position;
  return code == kParseOk;
}

bool JsonDocument::load(std::string_view text, bool decode, bool containers_only, int* error_code,
                        int* error_position) {
  return parse_root(wide(text), true, decode, containers_only, error_code, error_position);
}

bool JsonDocument::load_wide(std::u16string_view text, bool decode, bool containers_only, int* error_code,
                             int* error_position) {
  return parse_root(text, true, decode, containers_only, error_code, error_position);
}

bool JsonDocument::parse_wide(std::u16string_view json, bool decode, bool containers_only, int* error_code,
                              int* error_position) {
  return parse_root(json, false, decode, containers_only, error_code, error_position);
}

bool JsonDocument::parse(std::string_view json, bool decode, bool containers_only, int* error_code,
                         int* error_position) {
  return parse_root(wide(json), false, decode, containers_only, error_code, error_position);
}

// ---- new documents ------------------------------------------------------------------

JsonDocument JsonDocument::new_object_doc() { return JsonDocument(new_object()); }
JsonDocument JsonDocument::new_array_doc() { return JsonDocument(new_array()); }
JsonDocument JsonDocument::new_null_doc() { return JsonDocument(new_null()); }
JsonDocument JsonDocument::new_boolean_doc(bool value) { return JsonDocument(new_boolean(nullptr, value)); }
JsonDocument JsonDocument::new_string_doc_wide(std::u16string_view value) {
  return JsonDocument(new_string(nullptr, until_nul(value)));
}
JsonDocument JsonDocument::new_string_doc(std::string_view value) { return new_string_doc_wide(wide(value)); }
JsonDocument JsonDocument::new_real_doc(double value) { return JsonDocument(new_real(nullptr, value)); }
JsonDocument JsonDocument::new_integer_doc(std::int64_t value) { return JsonDocument(new_integer(nullptr, value)); }
JsonDocument JsonDocument::new_date_doc(Date value) { return JsonDocument(new_date(nullptr, value)); }
JsonDocument JsonDocument::new_real32_doc(float value) { return JsonDocument(new_real(nullptr, value)); }
JsonDocument JsonDocument::new_integer32_doc(std::int32_t value) { return JsonDocument(new_integer(nullptr, value)); }

// ---- serializing and queries ------------------------------------------------------------

std::u16string JsonDocument::to_json_wide(std::u16string_view path, bool pretty, bool escape,
                                          int initial_bytes) const {
  const JsonNode* node = find(path);
  if (!node) return {};
  JsonWriter writer(initial_bytes);
  write_node(node, writer, pretty, 0, escape);
  return std::u16string(writer.text());
}

rt::Text JsonDocument::to_json(std::string_view path, bool pretty, bool escape, int initial_bytes) const {
  return text_of(to_json_wide(wide(path), pretty, escape, initial_bytes));
}

int JsonDocument::type_of_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  return node ? node->type : -1;
}
int JsonDocument::type_of(std::string_view path) const { return type_of_wide(wide(path)); }

JsonDocument JsonDocument::parent_of_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  return view(node ? node->parent : nullptr);
}
JsonDocument JsonDocument::parent_of(std::string_view path) const { return parent_of_wide(wide(path)); }

int JsonDocument::count_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  const NodeList* items = node ? node->children() : nullptr;
  return items ? items->count : 0;
}
int JsonDocument::count(std::string_view path) const { return count_wide(wide(path)); }

JsonDocument JsonDocument::find_member_wide(std::u16string_view path, std::u16string_view key) const {
  const JsonNode* node = find(path);
  if (!node || node->type != kObject) return {};
  return view(member_find(node->payload.object, key));
}
JsonDocument JsonDocument::find_member(std::string_view path, std::string_view key) const {
  return find_member_wide(wide(path), wide(key));
}

std::u16string JsonDocument::key_of_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  return node ? std::u16string(node->key_view()) : std::u16string();
}
rt::Text JsonDocument::key_of(std::string_view path) const { return text_of(key_of_wide(wide(path))); }

JsonDocument JsonDocument::element_at_wide(std::u16string_view path, int index) const {
  const JsonNode* node = find(path);
  return view(node ? list_at(node->children(), index) : nullptr);
}
JsonDocument JsonDocument::element_at(std::string_view path, int index) const {
  return element_at_wide(wide(path), index);
}

bool JsonDocument::exists_wide(std::u16string_view path) const {
  JsonPath segments = parse_path(path);
  return root_ && !segments.empty() && resolve(root_, segments) != nullptr;
}
bool JsonDocument::exists(std::string_view path) const { return exists_wide(wide(path)); }

int JsonDocument::keys_wide(std::u16string_view path, rt::Array<std::u16string>& out) const {
  const JsonNode* node = find(path);
  if (!node || node->type != kObject) return 0;
  const NodeList* order = node->children();
  out.clear();
  for (std::int32_t i = 0; i < order->count; ++i) out.push_back(std::u16string(order->items[i]->key_view()));
  return order->count;
}
int JsonDocument::keys(std::string_view path, rt::Array<rt::Text>& out) const {
  rt::Array<std::u16string> wide_keys;
  int n = keys_wide(wide(path), wide_keys);
  if (n == 0 && type_of(path) != kObject) return 0;
  out.clear();
  for (const std::u16string& k : wide_keys) out.push_back(text_of(k));
  return n;
}

int JsonDocument::children_wide(std::u16string_view path, rt::Array<JsonDocument>& out) const {
  const JsonNode* node = find(path);
  if (!is_container(node)) return 0;
  const NodeList* items = node->children();
  out.clear();
  for (std::int32_t i = 0; i < items->count; ++i) out.push_back(view(items->items[i]));
  return items->count;
}
int JsonDocument::children(std::string_view path, rt::Array<JsonDocument>& out) const {
  return children_wide(wide(path), out);
}

// ---- reading values ------------------------------------------------------------------

std::u16string JsonDocument::get_literal_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  if (!node || node->type == kString || is_container(node)) return {};
  if (node->type == kNull) return u"null";
  return std::u16string(node->literal_view());
}
rt::Text JsonDocument::get_literal(std::string_view path) const { return text_of(get_literal_wide(wide(path))); }

std::u16string JsonDocument::get_text_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  if (!node || node->type == kNull || is_container(node)) return {};
  if (node->type == kString) return std::u16string(node->string_view());
  return std::u16string(node->literal_view());
}
rt::Text JsonDocument::get_text(std::string_view path) const { return text_of(get_text_wide(wide(path))); }

bool JsonDocument::get_boolean_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  if (!node) return false;
  switch (node->type) {
    case kReal:
    case kReal32:
      return node->payload.real > 1e-7 || node->payload.real < -1e-7;
    case kInteger:
    case kInteger32:
    case kBoolean:
      return static_cast<std::int32_t>(node->payload.integer) != 0;
    case kDate:
      return static_cast<std::uint32_t>(node->payload.integer) != 0x7C526E01u;
    default:
      return false;
  }
}
bool JsonDocument::get_boolean(std::string_view path) const { return get_boolean_wide(wide(path)); }

double JsonDocument::get_real_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  if (!node) return 0;
  if (node->is_real()) return node->payload.real;
  if (node->is_integer() || node->type == kBoolean) return static_cast<double>(node->payload.integer);
  if (node->type == kString) return text_to_real(node->string_view());
  return 0;
}
double JsonDocument::get_real(std::string_view path) const { return get_real_wide(wide(path)); }

float JsonDocument::get_real32_wide(std::u16string_view path) const {
  return static_cast<float>(get_real_wide(path));
}
float JsonDocument::get_real32(std::string_view path) const { return get_real32_wide(wide(path)); }

std::int64_t JsonDocument::get_integer_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  if (!node) return 0;
  if (node->is_real()) return rt::float_to_int64(node->payload.real);
  if (node->is_integer() || node->type == kBoolean) return node->payload.integer;
  if (node->type == kString) return text_to_int64(node->string_view());
  return 0;
}
std::int64_t JsonDocument::get_integer(std::string_view path) const { return get_integer_wide(wide(path)); }

std::int32_t JsonDocument::get_integer32_wide(std::u16string_view path) const {
  const JsonNode* node = find(path);
  if (!node) return 0;
  if (node->is_real()) return real_to_int32(node->payload.real);
  if (node->is_integer() || node->type == kBoolean) return static_cast<std::int32_t>(node->payload.integer);
  if (node->type == kString) return text_to_int32(node->string_view());
  return 0;
}
std::int32_t JsonDocument::get_integer32(std::string_view path) const { return get_integer32_wide(wide(path)); }

Date JsonDocument::get_date(std::string_view path) const {
  const JsonNode* node = find(wide(path));
  if (!node) return 0;
  // The seconds are added as a signed 32-bit count.
  if (node->is_real()) return date_from_seconds(static_cast<std::int32_t>(rt::float_to_int64(node->payload.real)));
  if (node->is_integer()) return date_from_seconds(static_cast<std::int32_t>(node->payload.integer));
  return 0;  // the zero date, also for strings
}

// ---- writing values --------------------------------------------------------------------

bool JsonDocument::set_object_wide(std::u16string_view path) { return make_object(make(path)); }
bool JsonDocument::set_object(std::string_view path) { return set_object_wide(wide(path)); }
bool JsonDocument::set_array_wide(std::u16string_view path) { return make_array(make(path)); }
bool JsonDocument::set_array(std::string_view path) { return set_array_wide(wide(path)); }
bool JsonDocument::set_string_wide(std::u16string_view path, std::u16string_view value) {
  return json::set_string(make(path), until_nul(value));
}
bool JsonDocument::set_string(std::string_view path, std::string_view value) {
  return set_string_wide(wide(path), wide(value));
}
bool JsonDocument::set_null_wide(std::u16string_view path) { return json::set_null(make(path)); }
bool JsonDocument::set_null(std::string_view path) { return set_null_wide(wide(path)); }
bool JsonDocument::set_boolean_wide(std::u16string_view path, bool value) {
  return json::set_boolean(make(path), value);
}
bool JsonDocument::set_boolean(std::string_view path, bool value) { return set_boolean_wide(wide(path), value); }
bool JsonDocument::set_real_wide(std::u16string_view path, double value) { return json::set_real(make(path), value); }
bool JsonDocument::set_real(std::string_view path, double value) { return set_real_wide(wide(path), value); }
bool JsonDocument::set_real32_wide(std::u16string_view path, float value) {
  return json::set_real32(make(path), value);
}
bool JsonDocument::set_real32(std::string_view path, float value) { return set_real32_wide(wide(path), value); }
bool JsonDocument::set_date_wide(std::u16string_view path, Date value) { return json::set_date(make(path), value); }
bool JsonDocument::set_date(std::string_view path, Date value) { return set_date_wide(wide(path), value); }
bool JsonDocument::set_integer_wide(std::u16string_view path, std::int64_t value) {
  return json::set_integer(make(path), value);
}
bool JsonDocument::set_integer(std::string_view path, std::int64_t value) {
  return set_integer_wide(wide(path), value);
}
bool JsonDocument::set_integer32_wide(std::u16string_view path, std::int32_t value) {
  return json::set_integer32(make(path), value);
}
bool JsonDocument::set_integer32(std::string_view path, std::int32_t value) {
  return set_integer32_wide(wide(path), value);
}

JsonDocument JsonDocument::node_at_wide(std::u16string_view path) { return view(make(path)); }
JsonDocument JsonDocument::node_at(std::string_view path) { return node_at_wide(wide(path)); }

bool JsonDocument::reset_wide(std::u16string_view path) {
  JsonNode* node = make(path);
  if (!node) return false;
  json::reset(node);
  return true;
}
bool JsonDocument::reset(std::string_view path) { return reset_wide(wide(path)); }

JsonDocument JsonDocument::clone_at_wide(std::u16string_view path) { return JsonDocument(copy(make(path))); }
JsonDocument JsonDocument::clone_at(std::string_view path) { return clone_at_wide(wide(path)); }

// ---- containers ------------------------------------------------------------------------

void JsonDocument::detach() {
  if (!root_ || !root_->parent) return;
  json::detach(root_);
  root_->release();  // the reference the container held
}

bool JsonDocument::remove_member_wide(std::u16string_view path, std::u16string_view key) {
  JsonNode* node = make(path);
  if (!node || node->type != kObject) return false;
  JsonNode* member = member_find(node->payload.object, key);
  if (!member) return false;
  json::detach(member);
  member->release();
  return true;
}
bool JsonDocument::remove_member(std::string_view path, std::string_view key) {
  return remove_member_wide(wide(path), wide(key));
}

bool JsonDocument::remove_element_wide(std::u16string_view path, int index) {
  JsonNode* node = make(path);
  if (!node || node->type != kArray) return false;
  JsonNode* element = list_at(node->payload.array, index);
  if (!element) return false;
  json::detach(element);
  element->release();
  return true;
}
bool JsonDocument::remove_element(std::string_view path, int index) {
  return remove_element_wide(wide(path), index);
}

bool JsonDocument::insert_member_wide(std::u16string_view path, int position, std::u16string_view key,
                                      const JsonDocument& doc) {
  JsonNode* node = make(path);
  if (!node) return false;
  JsonNode* c = copy(doc.root_);
  if (!c) return false;
  // A negative position is out of range for a new key (member_insert reads
  // -1 as "at the end").
  if (member_insert(node, position < 0 ? INT32_MAX : position, key, c)) return true;
  c->release();
  return false;
}
bool JsonDocument::insert_member(std::string_view path, int position, std::string_view key,
                                 const JsonDocument& doc) {
  return insert_member_wide(wide(path), position, wide(key), doc);
}

bool JsonDocument::put_member_wide(std::u16string_view path, std::u16string_view key, const JsonDocument& doc) {
  JsonNode* node = make(path);
  if (!node) return false;
  JsonNode* c = copy(doc.root_);
  if (!c) return false;
  if (member_put(node, key, c)) return true;
  c->release();
  return false;
}
bool JsonDocument::put_member(std::string_view path, std::string_view key, const JsonDocument& doc) {
  return put_member_wide(wide(path), wide(key), doc);
}

namespace {
// Inserts a copy of the other document's root into the array node.
bool insert_copy(JsonNode* node, std::int32_t index, const JsonNode* other) {
  if (!make_array(node) || index < 0 || index > node->payload.array->count) return false;
  JsonNode* c = copy(other);
  if (!c) return false;
  if (element_insert(node, index, c)) return true;
  c->release();
  return false;
}
}  // namespace

bool JsonDocument::insert_wide(std::u16string_view path, int index, const JsonDocument& doc) {
  return insert_copy(make(path), index, doc.root_);
}
bool JsonDocument::insert(std::string_view path, int index, const JsonDocument& doc) {
  return insert_wide(wide(path), index, doc);
}

bool JsonDocument::append_wide(std::u16string_view path, const JsonDocument& doc) {
  JsonNode* node = make(path);
  return make_array(node) && insert_copy(node, node->payload.array->count, doc.root_);
}
bool JsonDocument::append(std::string_view path, const JsonDocument& doc) { return append_wide(wide(path), doc); }

bool JsonDocument::set_element_wide(std::u16string_view path, int index, const JsonDocument& doc) {
  JsonNode* node = make(path);
  if (!make_array(node) || index < 0) return false;
  JsonNode* c = copy(doc.root_);
  if (!c) return false;
  NodeList* list = node->payload.array;
  if (index < list->count) {
    JsonNode* old = list->items[index];
    json::detach(old);
    old->release();
  }
  bool ok = true;
  while (ok && list->count < index) {
    JsonNode* filler = new_null(node);
    ok = filler && element_append(node, filler);
    if (!ok && filler) filler->release();
  }
  if (ok && element_insert(node, index, c)) return true;
  c->release();
  return false;
}
bool JsonDocument::set_element(std::string_view path, int index, const JsonDocument& doc) {
  return set_element_wide(wide(path), index, doc);
}

namespace {
// Copies each child of `other` (members under their keys, or elements at
// the end) into `node`, which becomes the same kind of container.
bool copy_children_into(JsonNode* node, const JsonNode* other, std::int32_t kind) {
  if (!node || !other || other->type != kind) return false;
  if (!(kind == kObject ? make_object(node) : make_array(node))) return false;
  Snapshot children(other);
  for (JsonNode* child : children.items()) {
    JsonNode* c = copy(child);
    if (!c) return false;
    if (!(kind == kObject ? member_put(node, child->key_view(), c) : element_append(node, c))) {
      c->release();
      return false;
    }
  }
  return true;
}
}  // namespace

bool JsonDocument::merge_object(std::string_view path, const JsonDocument& doc) {
  return copy_children_into(make(wide(path)), doc.root_, kObject);
}

bool JsonDocument::extend_array(std::string_view path, const JsonDocument& doc) {
  return copy_children_into(make(wide(path)), doc.root_, kArray);
}

bool JsonDocument::merge_json_wide(std::u16string_view path, std::u16string_view json, bool decode,
                                   bool add_new_keys) {
  JsonNode* target = make(path);
  if (!target) return false;
  JsonNode* parsed = new_object(target);
  if (!parsed) return false;
  if (parse_into(parsed, json, decode, false, nullptr) != kParseOk) {
    parsed->release();
    return false;
  }
  return merge_nodes(target, parsed, add_new_keys);
}
bool JsonDocument::merge_json(std::string_view path, std::string_view json, bool decode, bool add_new_keys) {
  return merge_json_wide(wide(path), wide(json), decode, add_new_keys);
}

// ---- sorting ---------------------------------------------------------------------------

bool JsonDocument::sort_members_wide(std::u16string_view path, bool descending, bool ignore_case) {
  JsonNode* node = find(path);
  if (!node || node->type != kObject) return false;
  NodeList* order = node->children();
  quick_sort(order->items, 0, order->count - 1, [&](const JsonNode* a, const JsonNode* b) {
    int r = compare_texts(a->key, b->key, ignore_case);
    return descending ? -r : r;
  });
  return true;
}
bool JsonDocument::sort_members(std::string_view path, bool descending, bool ignore_case) {
  return sort_members_wide(wide(path), descending, ignore_case);
}

void JsonDocument::sort_children_wide(std::u16string_view path, JsonCompare compare, void* data) {
  JsonNode* node = find(path);
  if (!compare || !is_container(node)) return;
  NodeList* items = node->children();
  quick_sort(items->items, 0, items->count - 1,
             [&](const JsonNode* a, const JsonNode* b) { return compare(a, b, data); });
}
void JsonDocument::sort_children(std::string_view path, JsonCompare compare, void* data) {
  sort_children_wide(wide(path), compare, data);
}

}  // namespace json
