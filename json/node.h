// The JSON value tree: reference-counted nodes, the member table of an object
// and the element list of an array.
//
// Texts inside the tree (keys, strings, literals) are NUL-terminated UTF-16.
// A container holds the creation reference of each child; the parent link is
// weak. A node whose count drops to zero leaves its container and frees its
// subtree without recursion, so any nesting depth is safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "json/heap.h"

namespace json {

enum JsonType : std::int32_t {
  kNull = 0,
  kReal = 1,
  kInteger = 2,
  kBoolean = 3,
  kString = 4,
  kArray = 5,
  kObject = 6,
  kInteger32 = 7,  // set from a 32-bit value
  kReal32 = 8,     // set from a single-precision value
  kDate = 9,       // seconds since 1970-01-01 08:00:00
};

struct JsonNode;

struct NodeList {
  Heap* heap;
  std::int32_t count;
  JsonNode** items;
  std::int32_t capacity;
  std::int32_t owns_heap;
};

struct MemberTable {
  Heap* heap;
  JsonNode** buckets;
  std::int32_t bucket_count;
  std::int32_t count;
  std::int32_t threshold;  // grow when count has reached this
  float load_factor;
  std::int32_t owns_heap;
  NodeList* order;  // members in insertion order
};

struct JsonNode {
  std::atomic<std::int32_t> ref_count;
  // Room for texts inside the node's own block (after the node), so that a
  // parsed member needs one block for its key, value and literal.
  std::int32_t inline_chars;
  Heap* heap;
  std::int32_t key_hash;
  std::int32_t inline_used;
  char16_t* key;  // set while the node is a member of an object
  union {
    double real;
    std::int64_t integer;  // also boolean 0/1 and date-time seconds
    char16_t* string;
    NodeList* array;
    MemberTable* object;
  } payload;
  JsonNode* next;  // next node in the same bucket
  std::int32_t type;
  JsonNode* parent;
  char16_t* literal;  // scalars: "null", "true", "false" or the number's text

  int query() const { return 1; }
  int add_ref();
  // Drops one reference; at zero the node leaves its container and is freed
  // with everything below it. Returns the new count.
  int release();
  // Releases the children, frees the content and makes the node null.
  void clear();

  bool is_integer() const { return type == kInteger || type == kInteger32 || type == kDate; }
  bool is_real() const { return type == kReal || type == kReal32; }
  // The children in order (elements, or members in member order); null for scalars.
  NodeList* children() const {
    if (type == kArray) return payload.array;
    if (type == kObject && payload.object) return payload.object->order;
    return nullptr;
  }
  std::u16string_view key_view() const { return key ? std::u16string_view(key) : std::u16string_view(); }
  std::u16string_view string_view() const;
  std::u16string_view literal_view() const {
    return literal ? std::u16string_view(literal) : std::u16string_view();
  }
};

// ---- texts ----------------------------------------------------------------
// The part of a UTF-16 text before its first NUL.
std::u16string_view until_nul(std::u16string_view text);
// A NUL-terminated copy on the heap, or null.
char16_t* text_copy(Heap* heap, std::u16string_view text);
// The member key hash: the key's bytes from last to first, h * 31 + byte.
std::int32_t key_hash(std::u16string_view key);

// ---- constructors (count 1, on the context node's heap or the process heap)
// `key_room` keeps room inside the node for a member key of that many
// characters (the parser knows the key when it makes the value).
JsonNode* new_object(const JsonNode* context = nullptr, std::size_t key_room = 0);
JsonNode* new_array(const JsonNode* context = nullptr, std::size_t key_room = 0);
JsonNode* new_null(const JsonNode* context = nullptr, std::size_t key_room = 0);
JsonNode* new_boolean(const JsonNode* context, bool b, std::size_t key_room = 0);
// An empty `text` gives the runtime's text of the value as literal.
JsonNode* new_real(const JsonNode* context, double x, std::u16string_view text = {}, std::size_t key_room = 0);
JsonNode* new_integer(const JsonNode* context, std::int64_t n, std::u16string_view text = {},
                      std::size_t key_room = 0);
JsonNode* new_string(const JsonNode* context, std::u16string_view text, std::size_t key_room = 0);
JsonNode* new_date(const JsonNode* context, double date);

// ---- setters: the node keeps its identity, parent and key ---------------------
bool set_null(JsonNode* node);
bool set_boolean(JsonNode* node, bool b);
bool set_real(JsonNode* node, double x, std::u16string_view text = {});
bool set_real32(JsonNode* node, float x);
bool set_integer(JsonNode* node, std::int64_t n, std::u16string_view text = {});
bool set_integer32(JsonNode* node, std::int32_t n);
bool set_string(JsonNode* node, std::u16string_view text);
bool set_date(JsonNode* node, double date);
// Turn the node into an empty object / array unless it already is one.
bool make_object(JsonNode* node);
bool make_array(JsonNode* node);
// Releases the children and empties the node but keeps its type (and its
// container, emptied); scalars keep their type with payload 0, no literal.
void reset(JsonNode* node);
// Deep copy on the source's heap; reals and integers get fresh literals.
JsonNode* copy(const JsonNode* node);

// ---- containers -------------------------------------------------------------
MemberTable* table_create(Heap* heap, std::int32_t bucket_count, float load_factor);
NodeList* list_create(Heap* heap);  // null heap: the list makes its own

JsonNode* member_find(const MemberTable* table, std::u16string_view key);
// Makes `node` (which must not be in a container) the member under `key`,
// taking over the caller's reference. A node already under that key is
// replaced in place and released. False (caller keeps the node) on failure.
bool member_put(JsonNode* object, std::u16string_view key, JsonNode* node);
// Like member_put, but a new key goes to `position` in member order (0 to
// count, else false).
bool member_insert(JsonNode* object, std::int32_t position, std::u16string_view key, JsonNode* node);

std::int32_t list_append(NodeList* list, JsonNode* node);  // index, -1 on failure
bool list_insert(NodeList* list, std::int32_t index, JsonNode* node);
void list_remove(NodeList* list, const JsonNode* node);  // first occurrence
JsonNode* list_at(const NodeList* list, std::int32_t i);

// Array element helpers that also set the parent link.
bool element_append(JsonNode* array, JsonNode* node);
bool element_insert(JsonNode* array, std::int32_t index, JsonNode* node);

// Takes the node out of its container without releasing it; the caller
// receives the reference the container held.
void detach(JsonNode* node);

}  // namespace json
