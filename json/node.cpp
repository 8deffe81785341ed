#include "json/node.h"

#include <cstring>
#include <new>

#include "json/convert.h"
#include "json/work_stack.h"

namespace json {

namespace {

constexpr std::int32_t kNewBuckets = 11;
constexpr float kNewLoadFactor = 0.75f;
constexpr std::int32_t kNewListCapacity = 8;

Heap* heap_of(const JsonNode* context) { return context ? context->heap : Heap::process(); }

std::int32_t threshold_of(std::int32_t buckets, float load_factor) {
  return static_cast<std::int32_t>(static_cast<float>(buckets) * load_factor);
}

std::int32_t bucket_of(std::int32_t hash, std::int32_t bucket_count) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(hash) & 0x7FFFFFFFu) %
                                   static_cast<std::uint32_t>(bucket_count));
}

bool key_equals(const char16_t* key, std::u16string_view wanted) {
  if (!key) return wanted.empty();
  std::size_t i = 0;
  for (; i < wanted.size(); ++i)
    if (key[i] != wanted[i]) return false;  // also stops at the key's NUL
  return key[i] == 0;
}

// The literals of null and the booleans are shared, never freed.
char16_t kNullText[] = u"null";
char16_t kTrueText[] = u"true";
char16_t kFalseText[] = u"false";

char16_t* inline_area(const JsonNode* n) {
  return reinterpret_cast<char16_t*>(const_cast<JsonNode*>(n) + 1);
}

// True for a text that lives in the node's own block or is shared.
bool borrowed(const JsonNode* n, const char16_t* p) {
  auto at = reinterpret_cast<std::uintptr_t>(p);
  auto begin = reinterpret_cast<std::uintptr_t>(inline_area(n));
  if (at >= begin && at < begin + static_cast<std::uintptr_t>(n->inline_chars) * sizeof(char16_t)) return true;
  return p == kNullText || p == kTrueText || p == kFalseText;
}

void drop_text(JsonNode* n, char16_t*& p) {
  if (p && !borrowed(n, p)) n->heap->free(p);
  p = nullptr;
}

// A NUL-terminated copy, inside the node's block while there is room.
char16_t* node_text(JsonNode* n, std::u16string_view text) {
  std::size_t need = text.size() + 1;
  if (static_cast<std::size_t>(n->inline_chars - n->inline_used) >= need) {
    char16_t* p = inline_area(n) + n->inline_used;
    if (!text.empty()) std::memcpy(p, text.data(), text.size() * sizeof(char16_t));
    p[text.size()] = 0;
    n->inline_used += static_cast<std::int32_t>(need);
    return p;
  }
  return text_copy(n->heap, text);
}

JsonNode* node_alloc(Heap* heap, std::int32_t type, std::size_t inline_chars = 0) {
  if (inline_chars > 1u << 20) inline_chars = 0;  // long texts get blocks of their own
  void* block = heap->alloc(sizeof(JsonNode) + inline_chars * sizeof(char16_t));
  if (!block) return nullptr;
  auto* node = new (block) JsonNode{};
  node->ref_count.store(1, std::memory_order_relaxed);
  node->inline_chars = static_cast<std::int32_t>(inline_chars);
  node->heap = heap;
  node->type = type;
  return node;
}

void node_free(JsonNode* node) {
  Heap* heap = node->heap;
  drop_text(node, node->key);
  node->~JsonNode();
  heap->free(node);
}

// ---- containers --------------------------------------------------------------

// A new list's items, and a new table's buckets and order list, share the
// block of the list or table; they get blocks of their own when they grow.
JsonNode** first_items(NodeList* list) { return reinterpret_cast<JsonNode**>(list + 1); }
JsonNode** first_buckets(MemberTable* t) { return reinterpret_cast<JsonNode**>(t + 1); }
NodeList* inline_order(MemberTable* t) { return reinterpret_cast<NodeList*>(first_buckets(t) + kNewBuckets); }

void init_list(NodeList* list, Heap* heap, bool owns_heap) {
  list->heap = heap;
  list->owns_heap = owns_heap;
  list->capacity = kNewListCapacity;
  list->items = first_items(list);
}

void list_destroy(NodeList* list, bool block_is_inline = false) {
  if (!list) return;
  if (list->owns_heap) {
    Heap::destroy(list->heap);
    return;
  }
  if (list->items != first_items(list)) list->heap->free(list->items);
  if (!block_is_inline) list->heap->free(list);
}

void table_destroy(MemberTable* table) {
  if (!table) return;
  list_destroy(table->order, table->order == inline_order(table));
  if (table->owns_heap) {
    Heap::destroy(table->heap);
    return;
  }
  if (table->buckets != first_buckets(table)) table->heap->free(table->buckets);
  table->heap->free(table);
}

bool table_grow(MemberTable* t) {
  if (t->bucket_count > (INT32_MAX - 1) / 2) return false;
  std::int32_t count = t->bucket_count * 2 + 1;
  auto* buckets = static_cast<JsonNode**>(t->heap->alloc(sizeof(JsonNode*) * static_cast<std::size_t>(count)));
  if (!buckets) return false;
  for (std::int32_t b = 0; b < t->bucket_count; ++b) {
    JsonNode* n = t->buckets[b];
    while (n) {
      JsonNode* next = n->next;
      JsonNode*& head = buckets[bucket_of(n->key_hash, count)];
      n->next = head;
      head = n;
      n = next;
    }
  }
  if (t->buckets != first_buckets(t)) t->heap->free(t->buckets);
  t->buckets = buckets;
  t->bucket_count = count;
  t->threshold = threshold_of(count, t->load_factor);
  return true;
}

// The link that points at the member with this key (or at the null that ends
// its bucket's chain).
JsonNode** member_link(const MemberTable* t, std::int32_t hash, std::u16string_view key) {
  JsonNode** link = &t->buckets[bucket_of(hash, t->bucket_count)];
  while (*link && !((*link)->key_hash == hash && key_equals((*link)->key, key))) link = &(*link)->next;
  return link;
}

std::int32_t list_index(const NodeList* list, const JsonNode* node) {
  for (std::int32_t i = 0; i < list->count; ++i)
    if (list->items[i] == node) return i;
  return -1;
}

// Moves the item at `from` to `to`, shifting the ones between.
void list_move(NodeList* list, std::int32_t from, std::int32_t to) {
  JsonNode* item = list->items[from];
  if (from > to)
    std::memmove(list->items + to + 1, list->items + to, sizeof(JsonNode*) * static_cast<std::size_t>(from - to));
  else
    std::memmove(list->items + from, list->items + from + 1, sizeof(JsonNode*) * static_cast<std::size_t>(to - from));
  list->items[to] = item;
}

// ---- emptying and freeing ------------------------------------------------------
// Freed nodes are chained through `next` (no longer in any bucket), so that
// a subtree of any depth is freed by a loop instead of recursion.

void drop_child(JsonNode* child, JsonNode*& dead) {
  child->parent = nullptr;
  child->next = nullptr;
  drop_text(child, child->key);
  child->key_hash = 0;
  if (child->ref_count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    child->next = dead;
    dead = child;
  }
}

// Empties the node. `keep` leaves the type and an emptied container (reset);
// otherwise the node becomes null.
void empty_node(JsonNode* n, bool keep, JsonNode*& dead) {
  switch (n->type) {
    case kArray:
      if (NodeList* list = n->payload.array) {
        for (std::int32_t i = 0; i < list->count; ++i) drop_child(list->items[i], dead);
        std::memset(list->items, 0, sizeof(JsonNode*) * static_cast<std::size_t>(list->count));
        list->count = 0;
        if (!keep) list_destroy(list);
      }
      break;
    case kObject:
      if (MemberTable* t = n->payload.object) {
        NodeList* order = t->order;
        for (std::int32_t i = 0; i < order->count; ++i) drop_child(order->items[i], dead);
        std::memset(order->items, 0, sizeof(JsonNode*) * static_cast<std::size_t>(order->count));
        order->count = 0;
        std::memset(t->buckets, 0, sizeof(JsonNode*) * static_cast<std::size_t>(t->bucket_count));
        t->count = 0;
        if (!keep) table_destroy(t);
      }
      break;
    case kString:
      drop_text(n, n->payload.string);
      break;
    default:
      n->payload.integer = 0;
      break;
  }
  drop_text(n, n->literal);
  if (!keep) {
    n->type = kNull;
    n->payload.integer = 0;
  }
}

void free_dead(JsonNode* dead) {
  while (dead) {
    JsonNode* n = dead;
    dead = n->next;
    n->next = nullptr;
    empty_node(n, false, dead);
    node_free(n);
  }
}

// ---- scalars -------------------------------------------------------------------

char16_t* number_literal(Heap* heap, std::u16string_view text, double x, bool is_real, std::int64_t n) {
  if (!text.empty()) return text_copy(heap, text);
  char16_t buf[kNumberTextSize];
  int len = is_real ? real_text(x, buf) : integer_text(n, buf);
  return text_copy(heap, std::u16string_view(buf, static_cast<std::size_t>(len)));
}

// Turns the node into a scalar; the literal (may be null) is taken over.
// A string payload must already be on the node's heap.
void store_scalar(JsonNode* node, std::int32_t type, std::int64_t bits, char16_t* literal) {
  node->clear();
  node->type = type;
  node->payload.integer = bits;
  node->literal = literal;
}

std::int64_t real_bits(double x) {
  std::int64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

bool set_number(JsonNode* node, std::int32_t type, std::int64_t bits, char16_t* literal) {
  if (!literal) return false;
  store_scalar(node, type, bits, literal);
  return true;
}

JsonNode* fresh(JsonNode* node, bool ok) {
  if (ok) return node;
  if (node) node->release();
  return nullptr;
}

}  // namespace

// ---- node operations -----------------------------------------------------------

int JsonNode::add_ref() { return ref_count.fetch_add(1, std::memory_order_relaxed) + 1; }

int JsonNode::release() {
  int left = ref_count.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) {
    detach(this);
    next = nullptr;
    free_dead(this);
  }
  return left;
}

void JsonNode::clear() {
  JsonNode* dead = nullptr;
  empty_node(this, false, dead);
  free_dead(dead);
}

std::u16string_view JsonNode::string_view() const {
  if (type != kString || !payload.string) return {};
  return payload.string;
}

// ---- texts ---------------------------------------------------------------------

std::u16string_view until_nul(std::u16string_view text) {
  std::size_t n = text.find(u'\0');
  return n == std::u16string_view::npos ? text : text.substr(0, n);
}

char16_t* text_copy(Heap* heap, std::u16string_view text) {
  auto* p = static_cast<char16_t*>(heap->alloc((text.size() + 1) * sizeof(char16_t)));
  if (p && !text.empty()) std::memcpy(p, text.data(), text.size() * sizeof(char16_t));
  return p;
}

std::int32_t key_hash(std::u16string_view key) {
  std::uint32_t h = 0;
  for (std::size_t i = key.size(); i-- > 0;) {
    h = h * 31 + static_cast<std::uint32_t>(key[i] >> 8);
    h = h * 31 + static_cast<std::uint32_t>(key[i] & 0xFF);
  }
  return static_cast<std::int32_t>(h);
}

// ---- constructors --------------------------------------------------------------

JsonNode* new_object(const JsonNode* context, std::size_t key_room) {
  JsonNode* n = node_alloc(heap_of(context), kObject, key_room + 1);
  if (!n) return nullptr;
  n->payload.object = table_create(n->heap, kNewBuckets, kNewLoadFactor);
  return fresh(n, n->payload.object != nullptr);
}

JsonNode* new_array(const JsonNode* context, std::size_t key_room) {
  JsonNode* n = node_alloc(heap_of(context), kArray, key_room + 1);
  if (!n) return nullptr;
  n->payload.array = list_create(n->heap);
  return fresh(n, n->payload.array != nullptr);
}

JsonNode* new_null(const JsonNode* context, std::size_t key_room) {
  JsonNode* n = node_alloc(heap_of(context), kNull, key_room + 1);
  if (n) n->literal = kNullText;
  return n;
}

JsonNode* new_boolean(const JsonNode* context, bool b, std::size_t key_room) {
  JsonNode* n = node_alloc(heap_of(context), kBoolean, key_room + 1);
  if (!n) return nullptr;
  n->payload.integer = b ? 1 : 0;
  n->literal = b ? kTrueText : kFalseText;
  return n;
}

namespace {
// A number node whose literal is `text`, or the text of its value.
JsonNode* new_number(const JsonNode* context, std::int32_t type, std::int64_t bits, std::u16string_view text,
                     std::size_t key_room) {
  char16_t buf[kNumberTextSize];
  if (text.empty()) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    int len = type == kReal ? real_text(x, buf) : integer_text(bits, buf);
    text = std::u16string_view(buf, static_cast<std::size_t>(len));
  }
  JsonNode* n = node_alloc(heap_of(context), type, text.size() + 1 + key_room + 1);
  if (!n) return nullptr;
  n->payload.integer = bits;
  n->literal = node_text(n, text);
  return n;
}
}  // namespace

JsonNode* new_real(const JsonNode* context, double x, std::u16string_view text, std::size_t key_room) {
  return new_number(context, kReal, real_bits(x), text, key_room);
}

JsonNode* new_integer(const JsonNode* context, std::int64_t v, std::u16string_view text, std::size_t key_room) {
  return new_number(context, kInteger, v, text, key_room);
}

JsonNode* new_string(const JsonNode* context, std::u16string_view text, std::size_t key_room) {
  JsonNode* n = node_alloc(heap_of(context), kString, text.size() + 1 + key_room + 1);
  if (!n) return nullptr;
  n->payload.string = node_text(n, text);
  return n;
}

JsonNode* new_date(const JsonNode* context, double date) {
  JsonNode* n = new_number(context, kInteger, seconds_from_epoch(date), {}, 0);
  if (n) n->type = kDate;
  return n;
}

// ---- setters ---------------------------------------------------------------------

bool set_null(JsonNode* node) {
  if (!node) return false;
  return set_number(node, kNull, 0, kNullText);
}

bool set_boolean(JsonNode* node, bool b) {
  if (!node) return false;
  return set_number(node, kBoolean, b ? 1 : 0, b ? kTrueText : kFalseText);
}

bool set_real(JsonNode* node, double x, std::u16string_view text) {
  if (!node) return false;
  return set_number(node, kReal, real_bits(x), number_literal(node->heap, text, x, true, 0));
}

bool set_real32(JsonNode* node, float x) {
  if (!node) return false;
  double wide = x;
  return set_number(node, kReal32, real_bits(wide), number_literal(node->heap, {}, wide, true, 0));
}

bool set_integer(JsonNode* node, std::int64_t v, std::u16string_view text) {
  if (!node) return false;
  return set_number(node, kInteger, v, number_literal(node->heap, text, 0, false, v));
}

bool set_integer32(JsonNode* node, std::int32_t v) {
  if (!node) return false;
  return set_number(node, kInteger32, v, number_literal(node->heap, {}, 0, false, v));
}

bool set_date(JsonNode* node, double date) {
  if (!node) return false;
  std::int64_t s = seconds_from_epoch(date);
  return set_number(node, kDate, s, number_literal(node->heap, {}, 0, false, s));
}

bool set_string(JsonNode* node, std::u16string_view text) {
  if (!node) return false;
  char16_t* copy = text_copy(node->heap, text);
  if (!copy) return false;
  store_scalar(node, kString, 0, nullptr);
  node->payload.string = copy;
  return true;
}

bool make_object(JsonNode* node) {
  if (!node) return false;
  if (node->type == kObject) return true;
  MemberTable* t = table_create(node->heap, kNewBuckets, kNewLoadFactor);
  if (!t) return false;
  node->clear();
  node->type = kObject;
  node->payload.object = t;
  return true;
}

bool make_array(JsonNode* node) {
  if (!node) return false;
  if (node->type == kArray) return true;
  NodeList* list = list_create(nullptr);
  if (!list) return false;
  node->clear();
  node->type = kArray;
  node->payload.array = list;
  return true;
}

void reset(JsonNode* node) {
  if (!node) return;
  JsonNode* dead = nullptr;
  empty_node(node, true, dead);
  free_dead(dead);
}

namespace {

// A copy of the node itself; containers come out empty.
JsonNode* copy_shallow(const JsonNode* n) {
  switch (n->type) {
    case kNull:
      return new_null(n);
    case kBoolean:
      return new_boolean(n, n->payload.integer != 0);
    case kReal:
    case kReal32:
      return new_real(n, n->payload.real);
    case kInteger:
    case kInteger32:
    case kDate:
      return new_integer(n, n->payload.integer);
    case kString:
      return new_string(n, n->string_view());
    case kArray:
      return new_array(n);
    case kObject:
      return new_object(n);
    default:
      return nullptr;
  }
}

struct CopyPair {
  const JsonNode* from;
  JsonNode* to;
};

}  // namespace

JsonNode* copy(const JsonNode* node) {
  if (!node) return nullptr;
  JsonNode* root = copy_shallow(node);
  if (!root) return nullptr;
  WorkStack<CopyPair> work(64);
  if (!work.push({node, root})) return fresh(root, false);
  while (!work.empty()) {
    CopyPair pair = work.pop();
    const NodeList* items = pair.from->children();
    for (std::int32_t i = 0; items && i < items->count; ++i) {
      const JsonNode* child = items->items[i];
      JsonNode* c = copy_shallow(child);
      if (!c) return fresh(root, false);
      bool attached = pair.to->type == kArray ? element_append(pair.to, c) : member_put(pair.to, child->key_view(), c);
      if (!attached) {
        c->release();
        return fresh(root, false);
      }
      if ((c->type == kArray || c->type == kObject) && !work.push({child, c})) return fresh(root, false);
    }
  }
  return root;
}

// ---- containers ------------------------------------------------------------------

MemberTable* table_create(Heap* heap, std::int32_t bucket_count, float load_factor) {
  if (bucket_count <= 0 || !(load_factor > 1e-7f)) return nullptr;
  bool owns = heap == nullptr;
  if (owns && !(heap = Heap::create())) return nullptr;
  // One block: the table, its first buckets and its order list with items.
  std::size_t inline_buckets = bucket_count == kNewBuckets ? kNewBuckets : 0;
  std::size_t bytes = sizeof(MemberTable) + sizeof(JsonNode*) * inline_buckets;
  if (inline_buckets) bytes += sizeof(NodeList) + sizeof(JsonNode*) * kNewListCapacity;
  auto* t = static_cast<MemberTable*>(heap->alloc(bytes));
  if (t) {
    t->heap = heap;
    t->owns_heap = owns;
    t->bucket_count = bucket_count;
    t->load_factor = load_factor;
    t->threshold = threshold_of(bucket_count, load_factor);
    if (inline_buckets) {
      t->buckets = first_buckets(t);
      t->order = inline_order(t);
      init_list(t->order, heap, false);
      return t;
    }
    t->buckets = static_cast<JsonNode**>(heap->alloc(sizeof(JsonNode*) * static_cast<std::size_t>(bucket_count)));
    t->order = list_create(heap);
    if (t->buckets && t->order) return t;
    list_destroy(t->order);
    heap->free(t->buckets);
    heap->free(t);
  }
  if (owns) Heap::destroy(heap);
  return nullptr;
}

NodeList* list_create(Heap* heap) {
  bool owns = heap == nullptr;
  if (owns && !(heap = Heap::create())) return nullptr;
  auto* list = static_cast<NodeList*>(heap->alloc(sizeof(NodeList) + sizeof(JsonNode*) * kNewListCapacity));
  if (list) {
    init_list(list, heap, owns);
    return list;
  }
  if (owns) Heap::destroy(heap);
  return nullptr;
}

JsonNode* member_find(const MemberTable* table, std::u16string_view key) {
  if (!table) return nullptr;
  key = until_nul(key);
  return *member_link(table, key_hash(key), key);
}

bool member_insert(JsonNode* object, std::int32_t position, std::u16string_view key, JsonNode* node) {
  if (!object || !node || node->parent || node == object) return false;
  if (!make_object(object)) return false;
  key = until_nul(key);
  MemberTable* t = object->payload.object;
  std::int32_t h = key_hash(key);
  JsonNode** link = member_link(t, h, key);
  if (JsonNode* old = *link) {
    // The new value takes the old member's place: chain, key and position.
    char16_t* k = old->key;
    if (borrowed(old, k) && !(k = node_text(node, old->key_view()))) return false;
    old->key = nullptr;
    std::int32_t at = list_index(t->order, old);
    drop_text(node, node->key);
    node->key = k;
    node->key_hash = old->key_hash;
    node->next = old->next;
    node->parent = object;
    *link = node;
    t->order->items[at] = node;
    old->next = nullptr;
    old->parent = nullptr;
    old->release();
    return true;
  }
  if (position > t->count || position < -1) return false;
  if (t->count >= t->threshold && !table_grow(t)) return false;
  std::int32_t at = list_append(t->order, node);
  if (at < 0) return false;
  drop_text(node, node->key);
  if (!(node->key = node_text(node, key))) {
    t->order->items[--t->order->count] = nullptr;
    return false;
  }
  if (position >= 0) list_move(t->order, at, position);
  node->key_hash = h;
  node->parent = object;
  JsonNode*& head = t->buckets[bucket_of(h, t->bucket_count)];
  node->next = head;
  head = node;
  ++t->count;
  return true;
}

bool member_put(JsonNode* object, std::u16string_view key, JsonNode* node) {
  return member_insert(object, -1, key, node);
}

namespace {
bool list_reserve_one(NodeList* list) {
  if (list->count < list->capacity) return true;
  if (list->capacity > (INT32_MAX - 1) / 2) return false;
  std::int32_t capacity = list->capacity * 2 + 1;
  std::size_t old_bytes = sizeof(JsonNode*) * static_cast<std::size_t>(list->capacity);
  std::size_t new_bytes = sizeof(JsonNode*) * static_cast<std::size_t>(capacity);
  void* items;
  if (list->items == first_items(list)) {
    if ((items = list->heap->alloc(new_bytes))) std::memcpy(items, list->items, old_bytes);
  } else {
    items = list->heap->resize(list->items, old_bytes, new_bytes);
  }
  if (!items) return false;
  list->items = static_cast<JsonNode**>(items);
  list->capacity = capacity;
  return true;
}
}  // namespace

std::int32_t list_append(NodeList* list, JsonNode* node) {
  if (!list || !list_reserve_one(list)) return -1;
  list->items[list->count] = node;
  return list->count++;
}

bool list_insert(NodeList* list, std::int32_t index, JsonNode* node) {
  if (!list || index < 0 || index > list->count) return false;
  std::int32_t at = list_append(list, node);
  if (at < 0) return false;
  list_move(list, at, index);
  return true;
}

void list_remove(NodeList* list, const JsonNode* node) {
  if (!list) return;
  std::int32_t i = list_index(list, node);
  if (i < 0) return;
  list_move(list, i, list->count - 1);
  list->items[--list->count] = nullptr;
}

JsonNode* list_at(const NodeList* list, std::int32_t i) {
  if (!list || i < 0 || i >= list->count) return nullptr;
  return list->items[i];
}

bool element_append(JsonNode* array, JsonNode* node) {
  return array && array->type == kArray && element_insert(array, array->payload.array->count, node);
}

bool element_insert(JsonNode* array, std::int32_t index, JsonNode* node) {
  if (!array || !node || node->parent || node == array || array->type != kArray) return false;
  if (!list_insert(array->payload.array, index, node)) return false;
  node->parent = array;
  return true;
}

void detach(JsonNode* node) {
  JsonNode* parent = node ? node->parent : nullptr;
  if (!parent) return;
  if (parent->type == kArray) {
    list_remove(parent->payload.array, node);
  } else if (parent->type == kObject) {
    MemberTable* t = parent->payload.object;
    JsonNode** link = &t->buckets[bucket_of(node->key_hash, t->bucket_count)];
    while (*link && *link != node) link = &(*link)->next;
    if (*link) {
      *link = node->next;
      --t->count;
      list_remove(t->order, node);
    }
    drop_text(node, node->key);
    node->key_hash = 0;
  }
  node->next = nullptr;
  node->parent = nullptr;
}

}  // namespace json
