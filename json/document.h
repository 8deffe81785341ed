// JsonDocument: the public face of the JSON module. A document holds one
// counted reference to a root node (or none). Operations name their target
// with a path (see path.h); nodes handed out come back as new documents that
// share the subtree ("views"): changes through a view show in the tree it
// came from, and a view keeps its subtree alive on its own.
//
// Most operations have a text form (code page 936 paths, keys and values)
// and a wide form (UTF-16). The comments give each operation's number in the
// document's operation table. Failures are return values: false, 0, an empty
// text, a view without root, or -1 for type_of.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/node.h"
#include "json/parser.h"
#include "runtime/value/value.h"

namespace json {

// A date-time: days since 1899-12-30 with the time of day as the fraction.
using Date = double;

// Orders two nodes for sort_children: below, equal to or above 0.
using JsonCompare = int (*)(const JsonNode* first, const JsonNode* second, void* data);

class JsonDocument {
 public:
  JsonDocument() = default;                 // no root
  JsonDocument(const JsonDocument& other);  // shares the root, like copy_ref
  JsonDocument(JsonDocument&& other) noexcept : root_(other.root_) { other.root_ = nullptr; }
  JsonDocument& operator=(const JsonDocument& other);
  JsonDocument& operator=(JsonDocument&& other) noexcept;
  ~JsonDocument() { destroy(); }

  bool has_root() const { return root_ != nullptr; }

  /* 0 */ void destroy();
  /* 1 */ JsonDocument copy_ref() const;
  // Installs a fresh empty object root, then parses the text into it when
  // one is given (an empty text counts as none). True when no error.
  /* 2 */ bool load(std::string_view text = {}, bool decode_unicode_escapes = false, bool containers_only = false,
                    int* error_code = nullptr, int* error_position = nullptr);
  /* 3 */ bool load_wide(std::u16string_view text = {}, bool decode_unicode_escapes = false,
                         bool containers_only = false, int* error_code = nullptr, int* error_position = nullptr);
  /* 4 */ void close();
  /* 5 */ JsonNode* get_root(bool add_ref = false) const;
  /* 6 */ void set_root(JsonNode* node, bool add_ref = true);
  /* 7 */ static JsonDocument new_object_doc();
  /* 8 */ static JsonDocument new_array_doc();
  /* 9 */ static JsonDocument new_null_doc();
  /* 10 */ static JsonDocument new_boolean_doc(bool value);
  /* 11 */ static JsonDocument new_string_doc_wide(std::u16string_view value);
  /* 12 */ static JsonDocument new_string_doc(std::string_view value);
  /* 13 */ static JsonDocument new_real_doc(double value);
  /* 14 */ static JsonDocument new_integer_doc(std::int64_t value);
  /* 15 */ static JsonDocument new_date_doc(Date value);
  /* 16 */ static JsonDocument new_real32_doc(float value);
  /* 17 */ static JsonDocument new_integer32_doc(std::int32_t value);
  // Parses into the existing root (made an empty object first when there is
  // none). On failure the root is left reset and the outputs say why.
  /* 18 */ bool parse_wide(std::u16string_view json, bool decode_unicode_escapes = false, bool containers_only = false,
                          int* error_code = nullptr, int* error_position = nullptr);
  /* 19 */ bool parse(std::string_view json, bool decode_unicode_escapes = false, bool containers_only = false,
                     int* error_code = nullptr, int* error_position = nullptr);
  /* 20 */ std::u16string to_json_wide(std::u16string_view path = {}, bool pretty = false, bool escape = true,
                                       int initial_bytes = 1024) const;
  /* 21 */ rt::Text to_json(std::string_view path = {}, bool pretty = false, bool escape = true,
                            int initial_bytes = 1024) const;
  /* 22 */ int type_of(std::string_view path) const;
  /* 23 */ int type_of_wide(std::u16string_view path) const;
  /* 24 */ JsonDocument parent_of(std::string_view path) const;
  /* 25 */ JsonDocument parent_of_wide(std::u16string_view path) const;
  /* 26 */ int count(std::string_view path = {}) const;
  /* 27 */ int count_wide(std::u16string_view path = {}) const;
  // Takes this document's root out of the container that holds it.
  /* 28 */ void detach();
  /* 29 */ bool remove_member_wide(std::u16string_view path, std::u16string_view key);
  /* 30 */ bool remove_member(std::string_view path, std::string_view key);
  /* 31 */ bool remove_element(std::string_view path, int index);
  /* 32 */ bool remove_element_wide(std::u16string_view path, int index);
  /* 33 */ bool reset(std::string_view path);
  /* 34 */ bool reset_wide(std::u16string_view path);
  // The operations that take a `doc` store a deep copy of its root.
  /* 35 */ bool put_member(std::string_view path, std::string_view key, const JsonDocument& doc);
  /* 36 */ bool put_member_wide(std::u16string_view path, std::u16string_view key, const JsonDocument& doc);
  /* 37 */ JsonDocument find_member(std::string_view path, std::string_view key) const;
  /* 38 */ JsonDocument find_member_wide(std::u16string_view path, std::u16string_view key) const;
  /* 39 */ std::u16string key_of_wide(std::u16string_view path) const;
  /* 40 */ rt::Text key_of(std::string_view path) const;
  /* 41 */ bool append(std::string_view path, const JsonDocument& doc);
  /* 42 */ bool append_wide(std::u16string_view path, const JsonDocument& doc);
  /* 43 */ bool insert(std::string_view path, int index, const JsonDocument& doc);
  /* 44 */ bool insert_wide(std::u16string_view path, int index, const JsonDocument& doc);
  /* 45 */ JsonDocument element_at(std::string_view path, int index) const;
  /* 46 */ JsonDocument element_at_wide(std::u16string_view path, int index) const;
  /* 47 */ bool set_element(std::string_view path, int index, const JsonDocument& doc);
  /* 48 */ bool set_element_wide(std::u16string_view path, int index, const JsonDocument& doc);
  /* 49 */ bool exists_wide(std::u16string_view path) const;
  /* 50 */ bool exists(std::string_view path) const;
  /* 51 */ JsonDocument node_at(std::string_view path);
  /* 52 */ JsonDocument node_at_wide(std::u16string_view path);
  /* 53 */ bool set_object(std::string_view path);
  /* 54 */ bool set_object_wide(std::u16string_view path);
  /* 55 */ bool set_array(std::string_view path);
  /* 56 */ bool set_array_wide(std::u16string_view path);
  /* 57 */ bool set_string(std::string_view path, std::string_view value);
  /* 58 */ bool set_string_wide(std::u16string_view path, std::u16string_view value);
  /* 59 */ bool set_null_wide(std::u16string_view path);
  /* 60 */ bool set_null(std::string_view path);
  /* 61 */ bool set_boolean_wide(std::u16string_view path, bool value);
  /* 62 */ bool set_boolean(std::string_view path, bool value);
  /* 63 */ bool set_real_wide(std::u16string_view path, double value);
  /* 64 */ bool set_real(std::string_view path, double value);
  /* 65 */ bool set_real32_wide(std::u16string_view path, float value);
  /* 66 */ bool set_real32(std::string_view path, float value);
  /* 67 */ bool set_date_wide(std::u16string_view path, Date value);
  /* 68 */ bool set_date(std::string_view path, Date value);
  /* 69 */ bool set_integer_wide(std::u16string_view path, std::int64_t value);
  /* 70 */ bool set_integer(std::string_view path, std::int64_t value);
  /* 71 */ bool set_integer32_wide(std::u16string_view path, std::int32_t value);
  /* 72 */ bool set_integer32(std::string_view path, std::int32_t value);
  /* 73 */ rt::Text get_literal(std::string_view path) const;
  /* 74 */ std::u16string get_literal_wide(std::u16string_view path) const;
  // The value as text: a string as it is, a number exactly as written in the
  // parsed text; empty for a missing node, null, an array or an object.
  /* 75 */ rt::Text get_text(std::string_view path) const;
  /* 76 */ std::u16string get_text_wide(std::u16string_view path) const;
  /* 77 */ bool get_boolean_wide(std::u16string_view path) const;
  /* 78 */ bool get_boolean(std::string_view path) const;
  /* 79 */ double get_real_wide(std::u16string_view path) const;
  /* 80 */ double get_real(std::string_view path) const;
  /* 81 */ float get_real32_wide(std::u16string_view path) const;
  /* 82 */ float get_real32(std::string_view path) const;
  /* 83 */ std::int64_t get_integer_wide(std::u16string_view path) const;
  /* 84 */ std::int64_t get_integer(std::string_view path) const;
  /* 85 */ Date get_date(std::string_view path) const;
  /* 86 */ std::int32_t get_integer32_wide(std::u16string_view path) const;
  /* 87 */ std::int32_t get_integer32(std::string_view path) const;
  // Keys of an object in member order; other nodes give 0 and leave `out` alone.
  /* 88 */ int keys_wide(std::u16string_view path, rt::Array<std::u16string>& out) const;
  /* 89 */ int keys(std::string_view path, rt::Array<rt::Text>& out) const;
  // Views on the members of an object or the elements of an array.
  /* 90 */ int children_wide(std::u16string_view path, rt::Array<JsonDocument>& out) const;
  /* 91 */ int children(std::string_view path, rt::Array<JsonDocument>& out) const;
  /* 92 */ JsonDocument clone_at_wide(std::u16string_view path);
  /* 93 */ JsonDocument clone_at(std::string_view path);
  /* 94 */ bool sort_members_wide(std::u16string_view path, bool descending = false, bool ignore_case = false);
  /* 95 */ bool sort_members(std::string_view path, bool descending = false, bool ignore_case = false);
  /* 96 */ void sort_children_wide(std::u16string_view path, JsonCompare compare, void* data = nullptr);
  /* 97 */ void sort_children(std::string_view path, JsonCompare compare, void* data = nullptr);
  // Parses the JSON and merges it into the target: objects member by member
  // (new keys only with `add_new_keys`), anything else replaces the target
  // under its key.
  /* 98 */ bool merge_json_wide(std::u16string_view path, std::u16string_view json, bool decode_unicode_escapes = false,
                               bool add_new_keys = false);
  /* 99 */ bool merge_json(std::string_view path, std::string_view json, bool decode_unicode_escapes = false,
                          bool add_new_keys = false);
  /* 100 */ bool merge_object(std::string_view path, const JsonDocument& doc);
  /* 101 */ bool extend_array(std::string_view path, const JsonDocument& doc);
  /* 102 */ bool insert_member_wide(std::u16string_view path, int position, std::u16string_view key,
                                    const JsonDocument& doc);
  /* 103 */ bool insert_member(std::string_view path, int position, std::string_view key, const JsonDocument& doc);

 private:
  explicit JsonDocument(JsonNode* adopted) : root_(adopted) {}
  static JsonDocument view(JsonNode* node);
  JsonNode* find(std::u16string_view path) const;
  JsonNode* make(std::u16string_view path);
  bool parse_root(std::u16string_view json, bool fresh_root, bool decode, bool containers_only, int* error_code,
                  int* error_position);

  JsonNode* root_ = nullptr;
};

}  // namespace json
