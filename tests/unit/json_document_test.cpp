// The document's operations through their public faces: paths, reading and
// writing values, containers, views, merging and sorting, in text (code
// page 936) and wide forms.
#include "json/document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "json/convert.h"

using json::JsonDocument;
using json::JsonNode;

namespace {

JsonDocument loaded(std::string_view text) {
  JsonDocument doc;
  EXPECT_TRUE(doc.load(text));
  return doc;
}

constexpr const char* kConfig =
    "{\"softname\":\"测试软件\",\"softversion\":\"1.0.2\",\"size\":1.50,\"count\":12,"
    "\"installtype\":\"net\",\"empty\":null,\"flags\":[true,false]}";

TEST(JsonDocumentTest, ReadsTheInstallersConfigurationAsText) {
  JsonDocument doc;
  ASSERT_TRUE(doc.parse(kConfig));
  EXPECT_EQ(doc.get_text("softname"), "测试软件");
  EXPECT_EQ(doc.get_text("softversion"), "1.0.2");
  EXPECT_EQ(doc.get_text("size"), "1.50");
  EXPECT_EQ(doc.get_text("count"), "12");
  EXPECT_EQ(doc.get_text("empty"), "");
  EXPECT_EQ(doc.get_text("missing"), "");
  EXPECT_EQ(doc.get_text("flags"), "");
  EXPECT_EQ(doc.get_text("flags[0]"), "true");
  EXPECT_EQ(doc.get_text_wide(u"softname"), u"\u6D4B\u8BD5\u8F6F\u4EF6");
  // A record that does not parse reads as empty values.
  JsonDocument broken;
  EXPECT_FALSE(broken.parse("{\"softname\":\"x\""));
  EXPECT_EQ(broken.get_text("softname"), "");
  // Operations on a document without root find nothing and change nothing.
  JsonDocument none;
  EXPECT_EQ(none.get_text("softname"), "");
  EXPECT_FALSE(none.set_integer("a", 1));
  EXPECT_EQ(none.type_of(""), -1);
  EXPECT_FALSE(none.has_root());
}

TEST(JsonDocumentTest, ParsesPathsWithEscapesAndIndexes) {
  JsonDocument doc = loaded("{\"user\":{\"tags\":[0,1,{\"name\":\"n\"}]},\"a.b\":1,\"c[d]\":2,\"e\\\\\":3}");
  EXPECT_EQ(doc.get_text("user.tags[2].name"), "n");
  EXPECT_EQ(doc.get_text("user..tags[2]..name"), "n");  // empty keys are skipped
  EXPECT_EQ(doc.get_text("a\\.b"), "1");
  EXPECT_EQ(doc.get_text("c\\[d\\]"), "2");
  EXPECT_EQ(doc.get_text("e\\\\"), "3");
  EXPECT_EQ(doc.get_integer("user.tags[1]"), 1);
  EXPECT_EQ(doc.type_of("user.tags[3]"), -1);
  EXPECT_EQ(doc.type_of("user.tags[-1]"), -1);
  EXPECT_EQ(doc.type_of("user.tags.x"), -1);
  EXPECT_EQ(doc.type_of("[1]"), json::kInteger);  // index on an object: member order
  EXPECT_EQ(doc.to_json("[0].tags[0]"), "0");
  EXPECT_TRUE(doc.exists("user.tags"));
  EXPECT_FALSE(doc.exists(""));
  EXPECT_FALSE(doc.exists_wide(u"user.nope"));
}

TEST(JsonDocumentTest, CreatesMissingPathsWhenWriting) {
  JsonDocument doc;
  ASSERT_TRUE(doc.load());
  ASSERT_TRUE(doc.set_integer("a.b[2]", 7));
  EXPECT_EQ(doc.to_json(), "{\"a\":{\"b\":[null,null,7]}}");
  doc.node_at("items[]");
  doc.node_at_wide(u"items[]");
  EXPECT_EQ(doc.count("items"), 2);
  // A key step on a scalar turns it into an object, discarding the value.
  ASSERT_TRUE(doc.set_string("a.b", "x"));
  ASSERT_TRUE(doc.set_boolean("a.b.c", true));
  EXPECT_EQ(doc.to_json("a"), "{\"b\":{\"c\":true}}");
  // Failing operations that resolve with creation still create the path.
  EXPECT_FALSE(doc.remove_member("p.q", "k"));
  EXPECT_EQ(doc.to_json("p"), "{\"q\":null}");
}

TEST(JsonDocumentTest, SetsEveryKindOfScalar) {
  JsonDocument doc;
  ASSERT_TRUE(doc.load());
  ASSERT_TRUE(doc.set_null("n"));
  ASSERT_TRUE(doc.set_boolean_wide(u"b", false));
  ASSERT_TRUE(doc.set_real("r", 0.1));
  ASSERT_TRUE(doc.set_real_wide(u"rw", -2.5));
  ASSERT_TRUE(doc.set_real32("f", 0.5f));
  ASSERT_TRUE(doc.set_real32_wide(u"fw", 1.25f));
  ASSERT_TRUE(doc.set_integer("i", -9000000000LL));
  ASSERT_TRUE(doc.set_integer_wide(u"iw", 3));
  ASSERT_TRUE(doc.set_integer32("j", -5));
  ASSERT_TRUE(doc.set_integer32_wide(u"jw", 6));
  ASSERT_TRUE(doc.set_date("d", 25569.0 + 9.0 / 24));  // 1970-01-01 09:00
  ASSERT_TRUE(doc.set_date_wide(u"dw", 25568.0));      // a day and 8 hours earlier
  ASSERT_TRUE(doc.set_string("s", "值"));
  ASSERT_TRUE(doc.set_string_wide(u"sw", u"w"));
  ASSERT_TRUE(doc.set_null_wide(u"nw"));
  ASSERT_TRUE(doc.set_boolean("bt", true));
  EXPECT_EQ(doc.to_json(),
            "{\"n\":null,\"b\":false,\"r\":0.1,\"rw\":-2.5,\"f\":0.5,\"fw\":1.25,\"i\":-9000000000,\"iw\":3,"
            "\"j\":-5,\"jw\":6,\"d\":3600,\"dw\":-115200,\"s\":\"值\",\"sw\":\"w\",\"nw\":null,\"bt\":true}");
  EXPECT_EQ(doc.type_of("f"), json::kReal32);
  EXPECT_EQ(doc.type_of_wide(u"j"), json::kInteger32);
  EXPECT_EQ(doc.type_of("d"), json::kDate);
  EXPECT_EQ(doc.type_of("n"), json::kNull);
  EXPECT_EQ(doc.get_literal("n"), "null");
  EXPECT_EQ(doc.get_literal("b"), "false");
  EXPECT_EQ(doc.get_literal_wide(u"i"), u"-9000000000");
  EXPECT_EQ(doc.get_literal("s"), "");
  EXPECT_TRUE(doc.set_object("s"));
  EXPECT_TRUE(doc.set_array_wide(u"sw"));
  EXPECT_TRUE(doc.set_object_wide(u"s"));  // an object stays as it is
  EXPECT_TRUE(doc.set_array("sw"));
  EXPECT_EQ(doc.to_json("s"), "{}");
  EXPECT_EQ(doc.to_json("sw"), "[]");
}

TEST(JsonDocumentTest, ReadsValuesByTheTypeTable) {
  JsonDocument doc = loaded(
      "{\"s\":\"true\",\"tiny\":0.0000001,\"small\":0.001,\"neg\":-2.7,\"big\":4294967296,"
      "\"n\":\"  -42abc\",\"r\":\"３.５\",\"t\":true,\"o\":{},\"z\":null}");
  EXPECT_FALSE(doc.get_boolean("s"));
  EXPECT_FALSE(doc.get_boolean("tiny"));
  EXPECT_TRUE(doc.get_boolean_wide(u"small"));
  EXPECT_FALSE(doc.get_boolean("big"));  // only the low 32 bits count
  EXPECT_TRUE(doc.get_boolean("t"));
  EXPECT_FALSE(doc.get_boolean("o"));
  EXPECT_EQ(doc.get_integer("neg"), -2);
  EXPECT_EQ(doc.get_integer32("neg"), -2);
  EXPECT_EQ(doc.get_integer_wide(u"big"), 4294967296LL);
  EXPECT_EQ(doc.get_integer32_wide(u"big"), 0);
  EXPECT_EQ(doc.get_integer("n"), -42);
  EXPECT_EQ(doc.get_integer32("n"), -42);
  EXPECT_EQ(doc.get_integer("t"), 1);
  EXPECT_DOUBLE_EQ(doc.get_real("r"), 3.5);  // full-width digits read as half-width
  EXPECT_DOUBLE_EQ(doc.get_real_wide(u"big"), 4294967296.0);
  EXPECT_DOUBLE_EQ(doc.get_real("t"), 1.0);
  EXPECT_DOUBLE_EQ(doc.get_real("z"), 0.0);
  EXPECT_FLOAT_EQ(doc.get_real32("neg"), -2.7f);
  EXPECT_FLOAT_EQ(doc.get_real32_wide(u"small"), 0.001f);
  EXPECT_EQ(doc.get_integer("missing"), 0);
}

TEST(JsonDocumentTest, ReadsNumbersFromStringsAsTheRuntimeDoes) {
  JsonDocument doc;
  ASSERT_TRUE(doc.load());
  struct RealCase {
    std::u16string text;
    double value;
  } reals[] = {{u"1.", 1},
               {u".5", 0.5},
               {u"1e", 1},
               {u"1.e2", 100},
               {u" +2.5e+1x", 25},
               {u"-.5e-1", -0.05},
               {u"abc", 0},
               {u"", 0},
               {u"\uFF0D\uFF11", -1},
               {u"1" + std::u16string(300, u'0'), 1e300},
               {u"1e400", HUGE_VAL}};
  for (const RealCase& c : reals) {
    doc.set_string_wide(u"s", c.text);
    EXPECT_DOUBLE_EQ(doc.get_real("s"), c.value) << doc.get_text("s").c_str();
  }
  struct IntCase {
    std::u16string_view text;
    std::int64_t value64;
    std::int32_t value32;
  } ints[] = {{u" +5", 5, 5},
              {u"-12x", -12, -12},
              {u"4294967297", 4294967297LL, 1},
              {u"99999999999999999999", INT64_MAX, 1661992959},
              {u"-99999999999999999999", INT64_MIN, -1661992959},
              {u"x1", 0, 0}};
  for (const IntCase& c : ints) {
    doc.set_string_wide(u"s", c.text);
    EXPECT_EQ(doc.get_integer("s"), c.value64) << doc.get_text("s").c_str();
    EXPECT_EQ(doc.get_integer32("s"), c.value32) << doc.get_text("s").c_str();
  }
  ASSERT_TRUE(doc.set_real("r", 3e9));
  EXPECT_EQ(doc.get_integer32("r"), INT32_MIN);
  EXPECT_EQ(doc.get_integer("r"), 3000000000LL);
}

TEST(JsonDocumentTest, ReadsAndWritesDates) {
  const double kBase = 25569.0 + 8.0 / 24;  // 1970-01-01 08:00:00
  JsonDocument doc = loaded("{\"i\":86400,\"r\":60.9,\"neg\":-3600,\"s\":\"2020-01-01\",\"w\":4294967297}");
  EXPECT_NEAR(doc.get_date("i"), kBase + 1, 1e-9);
  EXPECT_NEAR(doc.get_date("r"), kBase + 60.0 / 86400, 1e-9);
  EXPECT_NEAR(doc.get_date("neg"), kBase - 1.0 / 24, 1e-9);
  EXPECT_NEAR(doc.get_date("w"), kBase + 1.0 / 86400, 1e-9);  // seconds count as 32 bits
  EXPECT_EQ(doc.get_date("s"), 0.0);
  EXPECT_EQ(doc.get_date("missing"), 0.0);
  // A date read back gives the same second count, also before 1970.
  for (std::int32_t s : {0, 1, -1, 59, -86399, 1700000000}) {
    ASSERT_TRUE(doc.set_date("d", json::date_from_seconds(s)));
    EXPECT_EQ(doc.get_integer("d"), s);
    EXPECT_EQ(doc.get_text("d"), std::to_string(s));
  }
  // The magic second count reads as false.
  ASSERT_TRUE(doc.set_date("d", json::date_from_seconds(0x7C526E01)));
  EXPECT_FALSE(doc.get_boolean("d"));
}

TEST(JsonDocumentTest, AddsAndRemovesMembersAndElements) {
  JsonDocument doc = loaded("{\"a\":[1,2,3],\"o\":{\"x\":1}}");
  JsonDocument item = JsonDocument::new_string_doc("新");
  EXPECT_TRUE(doc.remove_element("a", 0));
  EXPECT_EQ(doc.to_json("a"), "[2,3]");
  EXPECT_FALSE(doc.remove_element_wide(u"a", 2));
  EXPECT_TRUE(doc.append("a", item));
  EXPECT_TRUE(doc.append_wide(u"a", JsonDocument::new_null_doc()));
  EXPECT_TRUE(doc.insert("a", 0, JsonDocument::new_boolean_doc(true)));
  EXPECT_TRUE(doc.insert_wide(u"a", 5, JsonDocument::new_integer_doc(5)));
  EXPECT_FALSE(doc.insert("a", 7, item));
  EXPECT_FALSE(doc.insert("a", -1, item));
  EXPECT_EQ(doc.to_json("a"), "[true,2,3,\"新\",null,5]");
  EXPECT_TRUE(doc.set_element("a", 1, JsonDocument::new_real_doc(2.5)));
  EXPECT_TRUE(doc.set_element_wide(u"a", 8, JsonDocument::new_array_doc()));
  EXPECT_FALSE(doc.set_element("a", -1, item));
  EXPECT_EQ(doc.to_json("a"), "[true,2.5,3,\"新\",null,5,null,null,[]]");
  // The stored values are copies.
  item.set_string("", "changed");
  EXPECT_EQ(doc.get_text("a[3]"), "新");

  EXPECT_TRUE(doc.put_member("o", "y", JsonDocument::new_object_doc()));
  EXPECT_TRUE(doc.put_member_wide(u"o", u"x", JsonDocument::new_integer32_doc(-1)));
  EXPECT_TRUE(doc.insert_member("o", 0, "first", JsonDocument::new_real32_doc(0.25f)));
  EXPECT_TRUE(doc.insert_member_wide(u"o", 3, u"last", JsonDocument::new_string_doc_wide(u"L")));
  EXPECT_TRUE(doc.insert_member("o", 99, "y", JsonDocument::new_date_doc(25569.0 + 8.0 / 24)));
  EXPECT_FALSE(doc.insert_member("o", 5, "new", item));
  EXPECT_FALSE(doc.insert_member("o", -1, "new", item));
  EXPECT_EQ(doc.to_json("o"), "{\"first\":0.25,\"x\":-1,\"y\":0,\"last\":\"L\"}");
  EXPECT_TRUE(doc.remove_member("o", "x"));
  EXPECT_TRUE(doc.remove_member_wide(u"o", u"last"));
  EXPECT_FALSE(doc.remove_member("o", "x"));
  EXPECT_EQ(doc.to_json("o"), "{\"first\":0.25,\"y\":0}");
  EXPECT_FALSE(doc.put_member("o", "k", JsonDocument()));  // nothing to copy
}

TEST(JsonDocumentTest, HandsOutViewsThatShareTheTree) {
  JsonDocument doc = loaded("{\"a\":{\"b\":[10,20]},\"c\":\"x\"}");
  JsonDocument b = doc.find_member("a", "b");
  JsonDocument bw = doc.find_member_wide(u"a", u"b");
  EXPECT_EQ(b.get_root(), bw.get_root());
  b.set_integer("[0]", 11);
  EXPECT_EQ(doc.to_json("a.b"), "[11,20]");
  EXPECT_EQ(doc.element_at("a.b", 1).get_integer(""), 20);
  EXPECT_EQ(doc.element_at_wide(u"", 1).get_text(""), "x");  // second member
  EXPECT_FALSE(doc.element_at("a.b", 2).has_root());
  EXPECT_EQ(b.parent_of("").key_of(""), "a");
  EXPECT_EQ(doc.parent_of_wide(u"a.b[1]").get_root(), b.get_root());
  EXPECT_EQ(doc.key_of("a.b"), "b");
  EXPECT_EQ(doc.key_of_wide(u"a.b[0]"), u"");
  EXPECT_EQ(doc.count("a.b"), 2);
  EXPECT_EQ(doc.count_wide(u"c"), 0);

  rt::Array<JsonDocument> kids;
  EXPECT_EQ(doc.children("", kids), 2);
  EXPECT_EQ(kids[2].get_text(""), "x");
  EXPECT_EQ(doc.children_wide(u"a.b", kids), 2);
  EXPECT_EQ(kids[1].get_integer(""), 11);
  EXPECT_EQ(doc.children("c", kids), 0);
  EXPECT_EQ(kids.count(), 2u);

  rt::Array<rt::Text> keys;
  EXPECT_EQ(doc.keys("", keys), 2);
  EXPECT_EQ(keys[1], "a");
  rt::Array<std::u16string> wide_keys;
  EXPECT_EQ(doc.keys_wide(u"a", wide_keys), 1);
  EXPECT_EQ(wide_keys[1], u"b");
  EXPECT_EQ(doc.keys("a.b", keys), 0);
  EXPECT_EQ(keys.count(), 2u);

  // A view on a member can take its node out of the tree.
  JsonDocument a = doc.node_at("a");
  a.detach();
  EXPECT_EQ(doc.to_json(), "{\"c\":\"x\"}");
  EXPECT_EQ(a.to_json(), "{\"b\":[11,20]}");
  EXPECT_EQ(a.get_root()->ref_count.load(), 1);
}

TEST(JsonDocumentTest, CopiesResetsAndReplacesRoots) {
  JsonDocument doc = loaded("{\"a\":[1,{\"b\":2}],\"n\":5}");
  JsonDocument same = doc.copy_ref();
  EXPECT_EQ(same.get_root(), doc.get_root());
  JsonDocument clone = doc.clone_at("a");
  JsonDocument clone_w = doc.clone_at_wide(u"new");  // made when missing
  EXPECT_EQ(clone_w.to_json(), "null");
  EXPECT_NE(clone.get_root(), doc.node_at("a").get_root());
  EXPECT_TRUE(doc.reset("a"));
  EXPECT_TRUE(doc.reset_wide(u"n"));
  EXPECT_EQ(doc.to_json(), "{\"a\":[],\"n\":,\"new\":null}");
  EXPECT_EQ(clone.to_json(), "[1,{\"b\":2}]");

  // load gives a fresh root (views keep the old tree); parse refills it.
  JsonNode* root = doc.get_root(true);
  ASSERT_TRUE(doc.load("{\"x\":1}"));
  EXPECT_NE(doc.get_root(), root);
  EXPECT_EQ(same.to_json(), "{\"a\":[],\"n\":,\"new\":null}");
  JsonNode* current = doc.get_root();
  ASSERT_TRUE(doc.parse_wide(u"[2]"));
  EXPECT_EQ(doc.get_root(), current);
  EXPECT_EQ(doc.to_json(), "[2]");
  doc.set_root(root, false);  // hands our reference back to the document
  EXPECT_EQ(doc.get_root(), same.get_root());
  doc.close();
  EXPECT_FALSE(doc.has_root());
  ASSERT_TRUE(doc.parse("{\"again\":1}"));  // a root is made when there is none
  EXPECT_EQ(doc.get_integer("again"), 1);
  doc.destroy();
  ASSERT_TRUE(doc.load_wide(u"{\"w\":1}"));
  EXPECT_EQ(doc.get_integer("w"), 1);
  EXPECT_TRUE(doc.load_wide(u""));
  EXPECT_EQ(doc.to_json(), "{}");
}

TEST(JsonDocumentTest, MergesJsonObjectsAndArrays) {
  JsonDocument doc = loaded("{\"cfg\":{\"a\":1,\"sub\":{\"x\":1,\"y\":2},\"list\":[1]},\"v\":[0]}");
  EXPECT_TRUE(doc.merge_json("cfg", "{\"a\":2,\"sub\":{\"y\":3,\"z\":4},\"list\":{\"k\":1},\"new\":1.50}"));
  EXPECT_EQ(doc.to_json("cfg"), "{\"a\":2,\"sub\":{\"x\":1,\"y\":3},\"list\":{\"k\":1}}");
  EXPECT_TRUE(doc.merge_json_wide(u"cfg", u"{\"sub\":{\"z\":4},\"new\":1.50}", false, true));
  // New keys are copies (so a real's literal is regenerated).
  EXPECT_EQ(doc.to_json("cfg"), "{\"a\":2,\"sub\":{\"x\":1,\"y\":3,\"z\":4},\"list\":{\"k\":1},\"new\":1.5}");
  EXPECT_TRUE(doc.merge_json("cfg.a", "[\"\\u4E2D\"]", true));
  EXPECT_EQ(doc.get_text_wide(u"cfg.a[0]"), u"\u4E2D");
  EXPECT_FALSE(doc.merge_json("", "[1]"));       // the root has no place to be replaced in
  EXPECT_FALSE(doc.merge_json("v[0]", "[1]"));   // nor has an array element
  EXPECT_FALSE(doc.merge_json("cfg", "{\"a\":"));  // does not parse

  EXPECT_TRUE(doc.merge_object("cfg.sub", loaded("{\"x\":9,\"w\":8}")));
  EXPECT_EQ(doc.to_json("cfg.sub"), "{\"x\":9,\"y\":3,\"z\":4,\"w\":8}");
  EXPECT_FALSE(doc.merge_object("cfg.sub", JsonDocument::new_array_doc()));
  EXPECT_TRUE(doc.extend_array("v", loaded("[1,[2]]").node_at("")));
  EXPECT_TRUE(doc.extend_array("v", doc.node_at("v")));  // with itself: each element once
  EXPECT_EQ(doc.to_json("v"), "[0,1,[2],0,1,[2]]");
  EXPECT_FALSE(doc.extend_array("v", loaded("{}")));
  EXPECT_TRUE(doc.merge_object("cfg.sub", doc.node_at("cfg.sub")));
  EXPECT_EQ(doc.to_json("cfg.sub"), "{\"x\":9,\"y\":3,\"z\":4,\"w\":8}");
}

TEST(JsonDocumentTest, SortsMembersAndChildren) {
  JsonDocument doc = loaded("{\"o\":{\"beta\":1,\"Alpha\":2,\"gamma\":3},\"l\":[3,1,2,5,4,1]}");
  EXPECT_TRUE(doc.sort_members("o", true, true));
  EXPECT_EQ(doc.to_json("o"), "{\"gamma\":3,\"beta\":1,\"Alpha\":2}");
  EXPECT_TRUE(doc.sort_members_wide(u"o"));
  EXPECT_EQ(doc.to_json("o"), "{\"Alpha\":2,\"beta\":1,\"gamma\":3}");
  EXPECT_EQ(doc.get_integer("o.beta"), 1);  // lookups do not depend on the order
  EXPECT_FALSE(doc.sort_members("l"));

  auto by_value = [](const JsonNode* a, const JsonNode* b, void* data) {
    ++*static_cast<int*>(data);
    return static_cast<int>(a->payload.integer - b->payload.integer);
  };
  int calls = 0;
  doc.sort_children("l", by_value, &calls);
  EXPECT_EQ(doc.to_json("l"), "[1,1,2,3,4,5]");
  EXPECT_GT(calls, 0);
  doc.sort_children_wide(u"o", [](const JsonNode* a, const JsonNode* b, void*) {
    return static_cast<int>(b->payload.integer - a->payload.integer);
  });
  EXPECT_EQ(doc.to_json("o"), "{\"gamma\":3,\"Alpha\":2,\"beta\":1}");
}

}  // namespace
