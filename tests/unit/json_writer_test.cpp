// The serializer: compact and pretty layouts, the two escaping rules, and
// the buffer's growth.
#include "json/writer.h"

#include <gtest/gtest.h>

#include <string>

#include "json/document.h"

using json::JsonDocument;

namespace {

JsonDocument parsed(std::u16string_view text) {
  JsonDocument doc;
  EXPECT_TRUE(doc.load_wide(text));
  return doc;
}

TEST(JsonWriterTest, WritesNumbersAndMemberOrderExactlyAsParsed) {
  std::u16string text = u"{\"z\":1.50,\"a\":1E3,\"m\":[-0.0,1e-7,12345678901234567890],\"t\":true,\"n\":null}";
  EXPECT_EQ(parsed(text).to_json_wide(), text);
}

TEST(JsonWriterTest, PrettyBreaksObjectsButNotArrays) {
  JsonDocument doc = parsed(u"{\"a\":1,\"b\":[1,2],\"o\":{\"x\":{}},\"l\":[{\"y\":2}]}");
  EXPECT_EQ(doc.to_json_wide(u"", true),
            u"{\r\n"
            u"\t\"a\":1,\r\n"
            u"\t\"b\":[1,2],\r\n"
            u"\t\"o\":{\r\n"
            u"\t\t\"x\":{\r\n"
            u"\t\t}\r\n"
            u"\t},\r\n"
            u"\t\"l\":[{\r\n"
            u"\t\t\t\"y\":2\r\n"
            u"\t\t}]\r\n"
            u"}");
  EXPECT_EQ(parsed(u"{}").to_json_wide(u"", true), u"{\r\n}");
  EXPECT_EQ(parsed(u"[]").to_json_wide(u"", true), u"[]");
}

TEST(JsonWriterTest, EscapesKeysWithSlashAndValuesWithout) {
  JsonDocument doc;
  ASSERT_TRUE(doc.load_wide(u""));
  doc.set_string_wide(u"a/b", u"c/d \"q\" \\ \b\f\n\r\t \x01 ' \u4E2D");
  EXPECT_EQ(doc.to_json_wide(), u"{\"a\\/b\":\"c/d \\\"q\\\" \\\\ \\b\\f\\n\\r\\t \x01 ' \u4E2D\"}");
  // Without escaping, text goes out as stored (and is then not JSON).
  EXPECT_EQ(doc.to_json_wide(u"", false, false), u"{\"a/b\":\"c/d \"q\" \\ \b\f\n\r\t \x01 ' \u4E2D\"}");
  // An escaped newline was read as CR LF and comes back as \r\n.
  EXPECT_EQ(parsed(u"[\"a\\nb\"]").to_json_wide(), u"[\"a\\r\\nb\"]");
}

TEST(JsonWriterTest, GrowsToTwiceTheCapacityPlusTheAppend) {
  json::JsonWriter w(4);
  EXPECT_EQ(w.capacity_bytes(), 4u);
  w.put(u'a');  // needs 4 bytes: fits
  EXPECT_EQ(w.capacity_bytes(), 4u);
  w.put(u"bcd");  // needs (1 + 3) * 2 + 2 = 10: grows to 4 * 2 + 3 * 2 + 2
  EXPECT_EQ(w.capacity_bytes(), 16u);
  EXPECT_EQ(w.text(), u"abcd");
  json::JsonWriter fallback(0);
  EXPECT_EQ(fallback.capacity_bytes(), 1024u);
}

TEST(JsonWriterTest, ConvertsTheTextFormToCodePage936) {
  JsonDocument doc;
  ASSERT_TRUE(doc.load("{\"名称\":\"安装程序\"}"));
  EXPECT_EQ(doc.to_json(), "{\"名称\":\"安装程序\"}");
  EXPECT_EQ(doc.to_json("名称"), "\"安装程序\"");
  EXPECT_EQ(doc.to_json("missing"), "");
}

}  // namespace
