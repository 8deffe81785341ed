// The value tree: member table hashing and growth, member order, reference
// counts and detaching, clear versus reset, deep copies.
#include "json/node.h"

#include <gtest/gtest.h>

#include <string>

#include "json/document.h"
#include "json/writer.h"

using namespace json;

namespace {

std::u16string write(const JsonNode* node) {
  JsonWriter w;
  write_node(node, w);
  return std::u16string(w.text());
}

// Owns the creation reference of a node made by a constructor.
struct Owned {
  JsonNode* node;
  explicit Owned(JsonNode* n) : node(n) {}
  ~Owned() {
    if (node) node->release();
  }
  JsonNode* operator->() const { return node; }
};

TEST(JsonTreeTest, HashesTheKeyBytesFromLastToFirst) {
  EXPECT_EQ(key_hash(u""), 0);
  // "a" is the bytes 0x61 0x00, visited as 0x00 then 0x61.
  EXPECT_EQ(key_hash(u"a"), 0x61);
  EXPECT_EQ(key_hash(u"ab"), ((0 * 31 + 0x62) * 31 + 0) * 31 + 0x61);
  EXPECT_EQ(key_hash(u"\u4E2D"), 0x4E * 31 + 0x2D);
}

TEST(JsonTreeTest, GrowsTheMemberTableAndKeepsMemberOrder) {
  Owned obj(new_object());
  MemberTable* t = obj->payload.object;
  EXPECT_EQ(t->bucket_count, 11);
  EXPECT_EQ(t->threshold, 8);
  const char16_t* keys[] = {u"k0", u"k1", u"k2", u"k3", u"k4", u"k5", u"k6", u"k7", u"k8"};
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(member_put(obj.node, keys[i], new_integer(obj.node, i)));
  EXPECT_EQ(t->bucket_count, 11);
  ASSERT_TRUE(member_put(obj.node, keys[8], new_integer(obj.node, 8)));
  EXPECT_EQ(t->bucket_count, 23);
  EXPECT_EQ(t->threshold, 17);
  EXPECT_EQ(write(obj.node), u"{\"k0\":0,\"k1\":1,\"k2\":2,\"k3\":3,\"k4\":4,\"k5\":5,\"k6\":6,\"k7\":7,\"k8\":8}");
  for (int i = 0; i < 9; ++i) {
    JsonNode* m = member_find(t, keys[i]);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->payload.integer, i);
    EXPECT_EQ(m->parent, obj.node);
  }
}

TEST(JsonTreeTest, ReplacingAKeyKeepsItsPositionAndReleasesTheOldValue) {
  Owned obj(new_object());
  member_put(obj.node, u"a", new_integer(obj.node, 1));
  member_put(obj.node, u"b", new_integer(obj.node, 2));
  JsonNode* old = member_find(obj->payload.object, u"a");
  old->add_ref();  // keep it observable
  ASSERT_TRUE(member_put(obj.node, u"a", new_string(obj.node, u"x")));
  EXPECT_EQ(write(obj.node), u"{\"a\":\"x\",\"b\":2}");
  EXPECT_EQ(old->ref_count.load(), 1);
  EXPECT_EQ(old->parent, nullptr);
  EXPECT_EQ(old->key, nullptr);
  old->release();
  EXPECT_EQ(obj->payload.object->count, 2);
}

TEST(JsonTreeTest, KeysDifferingInCaseAreDifferentMembers) {
  Owned obj(new_object());
  member_put(obj.node, u"Key", new_integer(obj.node, 1));
  member_put(obj.node, u"key", new_integer(obj.node, 2));
  EXPECT_EQ(obj->payload.object->count, 2);
  EXPECT_EQ(member_find(obj->payload.object, u"KEY"), nullptr);
}

TEST(JsonTreeTest, ReleasingAMembersLastReferenceTakesItOut) {
  Owned obj(new_object());
  for (const char16_t* k : {u"a", u"b", u"c"}) member_put(obj.node, k, new_null(obj.node));
  JsonNode* b = member_find(obj->payload.object, u"b");
  b->release();  // the object's own reference: b leaves the table and order
  EXPECT_EQ(write(obj.node), u"{\"a\":null,\"c\":null}");
  EXPECT_EQ(member_find(obj->payload.object, u"b"), nullptr);
  EXPECT_EQ(obj->payload.object->count, 2);

  Owned arr(new_array());
  for (int i = 0; i < 3; ++i) element_append(arr.node, new_integer(arr.node, i));
  list_at(arr->payload.array, 0)->release();
  EXPECT_EQ(write(arr.node), u"[1,2]");
}

TEST(JsonTreeTest, ListsGrowByTwiceAndOne) {
  Owned arr(new_array());
  EXPECT_EQ(arr->payload.array->capacity, 8);
  for (int i = 0; i < 9; ++i) element_append(arr.node, new_integer(arr.node, i));
  EXPECT_EQ(arr->payload.array->capacity, 17);
  ASSERT_TRUE(element_insert(arr.node, 0, new_integer(arr.node, -1)));
  EXPECT_EQ(write(arr.node), u"[-1,0,1,2,3,4,5,6,7,8]");
  Owned stray(new_null());
  EXPECT_FALSE(element_insert(arr.node, 11, stray.node));
  EXPECT_EQ(stray->parent, nullptr);
}

TEST(JsonTreeTest, AnArrayMadeFromAnotherNodeOwnsAPrivateHeap) {
  JsonDocument doc;
  ASSERT_TRUE(doc.load("{\"parsed\":[1]}"));
  ASSERT_TRUE(doc.set_array("made"));
  NodeList* made = doc.node_at("made").get_root()->payload.array;
  NodeList* parsed = doc.node_at("parsed").get_root()->payload.array;
  EXPECT_TRUE(made->owns_heap);
  EXPECT_TRUE(made->heap->is_private());
  EXPECT_FALSE(parsed->owns_heap);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(doc.set_integer("made[]", i));
  EXPECT_EQ(made->capacity, 143);  // 8, 17, 35, 71, 143
  EXPECT_EQ(doc.get_integer("made[99]"), 99);
  doc.set_null("made");  // the whole heap goes at once (checked by the leak checker)
}

TEST(JsonTreeTest, ClearMakesNullWhileResetKeepsTheKind) {
  JsonDocument doc;
  ASSERT_TRUE(doc.load("{\"o\":{\"a\":1},\"l\":[1,2],\"s\":\"x\",\"n\":1.5}"));
  JsonNode* root = doc.get_root();
  JsonNode* o = member_find(root->payload.object, u"o");
  JsonNode* l = member_find(root->payload.object, u"l");
  std::int32_t capacity = l->payload.array->capacity;
  reset(o);
  reset(l);
  EXPECT_EQ(o->type, kObject);
  EXPECT_EQ(l->type, kArray);
  EXPECT_EQ(l->payload.array->capacity, capacity);
  JsonNode* n = member_find(root->payload.object, u"n");
  reset(n);
  EXPECT_EQ(n->type, kReal);
  EXPECT_EQ(n->literal, nullptr);
  // A reset number has no literal and writes nothing.
  EXPECT_EQ(doc.to_json(), "{\"o\":{},\"l\":[],\"s\":\"x\",\"n\":}");
  o->clear();
  EXPECT_EQ(o->type, kNull);
  EXPECT_EQ(doc.to_json("o"), "null");
}

TEST(JsonTreeTest, CopiesDeeplyWithFreshNumberLiterals) {
  JsonDocument doc;
  ASSERT_TRUE(doc.load("{\"r\":1.50,\"i\":007,\"a\":[{\"k\":\"v\"},true,null]}"));
  ASSERT_TRUE(doc.set_date("d", 25569.5));  // 1970-01-01 12:00: 4 hours after the base
  ASSERT_TRUE(doc.set_real32("f", 0.5f));
  JsonDocument copy = doc.clone_at("");
  EXPECT_EQ(copy.to_json(), "{\"r\":1.5,\"i\":7,\"a\":[{\"k\":\"v\"},true,null],\"d\":14400,\"f\":0.5}");
  EXPECT_EQ(copy.type_of("d"), kInteger);
  EXPECT_EQ(copy.type_of("f"), kReal);
  // The copy is independent of its source.
  copy.set_integer("a[0].k", 1);
  EXPECT_EQ(doc.get_text("a[0].k"), "v");
}

TEST(JsonTreeTest, ViewsOutliveTheirDocumentAndRemovedMembers) {
  JsonDocument view;
  {
    JsonDocument doc;
    ASSERT_TRUE(doc.load("{\"a\":{\"b\":[1,2,3]},\"c\":1}"));
    view = doc.find_member("", "a");
    JsonDocument inner = doc.node_at("a.b");
    EXPECT_TRUE(doc.remove_member("", "a"));
    EXPECT_EQ(doc.to_json(), "{\"c\":1}");
    // The removed member lives on in the views, without a parent or key.
    EXPECT_EQ(view.to_json(), "{\"b\":[1,2,3]}");
    EXPECT_EQ(view.key_of(""), "");
    EXPECT_FALSE(view.parent_of("").has_root());
    inner.set_integer("[0]", 9);
  }
  EXPECT_EQ(view.to_json(), "{\"b\":[9,2,3]}");
  EXPECT_EQ(view.get_root()->ref_count.load(), 1);
}

TEST(JsonTreeTest, AViewOnAClearedContainersChildIsSafeToRelease) {
  JsonDocument doc;
  ASSERT_TRUE(doc.load("{\"a\":[{\"x\":1}]}"));
  JsonDocument element = doc.element_at("a", 0);
  ASSERT_TRUE(doc.set_null("a"));  // clears the array while the view holds its element
  EXPECT_EQ(element.parent_of("").has_root(), false);
  EXPECT_EQ(element.to_json(), "{\"x\":1}");
  doc.close();
  element.close();
}

TEST(JsonTreeTest, CountsReferencesAtomically) {
  Owned obj(new_object());
  EXPECT_EQ(obj->query(), 1);
  EXPECT_EQ(obj->add_ref(), 2);
  EXPECT_EQ(obj->release(), 1);
  EXPECT_EQ(table_create(nullptr, -1, 0.75f), nullptr);
  EXPECT_EQ(table_create(nullptr, 11, 1e-8f), nullptr);
}

}  // namespace
