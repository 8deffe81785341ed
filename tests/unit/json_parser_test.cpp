// The lenient parser: what it accepts, every error with its code and
// position, escapes, and nesting far deeper than any call stack.
#include "json/parser.h"

#include <gtest/gtest.h>

#include <string>

#include "json/document.h"

using json::JsonDocument;

namespace {

struct Outcome {
  int code;
  int position;
  std::u16string json;  // compact output of the root after the parse
};

Outcome parse(std::u16string_view text, bool decode = false, bool containers_only = false) {
  JsonDocument doc;
  Outcome o{};
  doc.parse_wide(text, decode, containers_only, &o.code, &o.position);
  o.json = doc.to_json_wide();
  return o;
}

std::u16string compact(std::u16string_view text) { return parse(text).json; }

TEST(JsonParserTest, AcceptsTheLenientForms) {
  EXPECT_EQ(compact(u"{'a':1,}"), u"{\"a\":1}");
  EXPECT_EQ(compact(u"{a:1}"), u"{\"a\":1}");
  EXPECT_EQ(compact(u"[1,,2]"), u"[1,2]");
  EXPECT_EQ(compact(u"[1,2,]"), u"[1,2]");
  EXPECT_EQ(compact(u"[[1] 2]"), u"[[1],2]");
  EXPECT_EQ(compact(u"{\"a\":[1] \"b\":2}"), u"{\"a\":[1],\"b\":2}");
  EXPECT_EQ(compact(u" {\r\n\t\"a\" : \"x y\" ,\n \"b\":'it''s'}"), u"{\"a\":\"x y\",\"b\":\"it''s\"}");
  EXPECT_EQ(compact(u"{\"k\":\"a:b,c]\"}"), u"{\"k\":\"a:b,c]\"}");
}

TEST(JsonParserTest, KeepsNumberTokensAsTheirLiterals) {
  EXPECT_EQ(compact(u"[1.50,1E3,-0,+7,.5,1e+2]"), u"[1.50,1E3,-0,+7,.5,1e+2]");
  JsonDocument doc;
  ASSERT_TRUE(doc.parse_wide(u"{\"r\":1.50,\"i\":-12,\"e\":1E3,\"m\":1-2}"));
  EXPECT_EQ(doc.type_of("r"), json::kReal);
  EXPECT_DOUBLE_EQ(doc.get_real("r"), 1.5);
  EXPECT_EQ(doc.type_of("i"), json::kInteger);
  EXPECT_EQ(doc.get_integer("i"), -12);
  EXPECT_DOUBLE_EQ(doc.get_real("e"), 1000.0);
  // Passes the number check as a real and reads as far as a number goes.
  EXPECT_EQ(doc.type_of("m"), json::kReal);
  EXPECT_DOUBLE_EQ(doc.get_real("m"), 1.0);
}

TEST(JsonParserTest, ChecksNumbersCharacterByCharacter) {
  JsonDocument doc;
  ASSERT_TRUE(doc.parse_wide(u"[-,.,+-1,1e+5,-0]"));
  EXPECT_EQ(doc.type_of("[0]"), json::kInteger);  // no digit is needed
  EXPECT_EQ(doc.get_integer("[0]"), 0);
  EXPECT_EQ(doc.type_of("[1]"), json::kReal);
  EXPECT_EQ(doc.type_of("[2]"), json::kReal);  // a sign after the first character
  EXPECT_DOUBLE_EQ(doc.get_real("[3]"), 1e5);
  EXPECT_EQ(doc.type_of("[4]"), json::kInteger);
  for (std::u16string_view bad : {u"[1.2.3]", u"[1e2e3]", u"[1+2-3]", u"[e1]", u"[0x10]", u"[Infinity]"}) {
    Outcome o = parse(bad);
    EXPECT_EQ(o.code, json::kParseValue);
    EXPECT_EQ(o.position, 1);
  }
  // A bare document keeps its blanks: the first character is then a blank,
  // so the sign counts as a later one and makes a real.
  ASSERT_TRUE(doc.parse_wide(u" -5"));
  EXPECT_EQ(doc.type_of(""), json::kReal);
  EXPECT_DOUBLE_EQ(doc.get_real(""), -5.0);
}

TEST(JsonParserTest, ReadsBareScalarDocuments) {
  JsonDocument doc;
  ASSERT_TRUE(doc.parse_wide(u"1.5e3"));
  EXPECT_EQ(doc.type_of(""), json::kReal);
  EXPECT_DOUBLE_EQ(doc.get_real(""), 1500.0);
  ASSERT_TRUE(doc.parse_wide(u"-12"));
  EXPECT_EQ(doc.type_of(""), json::kInteger);
  ASSERT_TRUE(doc.parse_wide(u"\"a[b{c\""));
  EXPECT_EQ(doc.get_text_wide(u""), u"a[b{c");
  ASSERT_TRUE(doc.parse_wide(u"  7 "));
  EXPECT_EQ(doc.to_json_wide(), u"  7 ");  // the whole text is the token
  EXPECT_FALSE(doc.parse_wide(u" true"));
  // With containers_only the scalar is ignored and a fresh root stays an empty object.
  JsonDocument fresh;
  ASSERT_TRUE(fresh.parse_wide(u"1.5e3", false, true));
  EXPECT_EQ(fresh.to_json_wide(), u"{}");
  ASSERT_TRUE(fresh.parse_wide(u"junk {\"a\":1} more", false, true));
  EXPECT_EQ(fresh.to_json_wide(), u"{\"a\":1}");
}

TEST(JsonParserTest, ContinuesASecondTopLevelContainerInTheSameRoot) {
  EXPECT_EQ(compact(u"{} {}"), u"{}");
  EXPECT_EQ(compact(u"{\"a\":1} {\"b\":2}"), u"{\"a\":1,\"b\":2}");
  EXPECT_EQ(compact(u"{\"a\":1} [2]"), u"[2]");
  EXPECT_EQ(compact(u"{\"a\":1,\"a\":2,\"b\":3}"), u"{\"a\":2,\"b\":3}");
}

TEST(JsonParserTest, ReportsEachErrorWithItsCodeAndPosition) {
  struct Case {
    std::u16string_view text;
    int code;
    int position;
  } cases[] = {
      {u"[[1][2]]", json::kParseObject, 4},
      {u"{\"a\"}", json::kParseValue, 0},
      {u"{\"a\" x:1}", json::kParseObject, 5},
      {u"{:1}", json::kParseObject, 1},
      {u"{\"\":1}", json::kParseObject, 3},
      {u"{\"a\":1,,\"b\":2}", json::kParseValue, 0},
      {u"{a\"b\":1}", json::kParseObject, 3},
      {u"{\"a\":1", json::kParseUnclosed, 7},
      {u"[", json::kParseUnclosed, 2},
      {u"[\"abc]", json::kParseOpenQuote, 1},
      {u"{\"a\":\"b}", json::kParseOpenQuote, 2},
      {u"[1, nul]", json::kParseValue, 4},
      {u"[1x[2]]", json::kParseValue, 1},
      {u"{\"a\":1 [}", json::kParseValue, 5},
      {u"{\"a\" {}}", json::kParseObject, 5},
      {u"[\"a\"b\"]", json::kParseOpenQuote, 1},
      {u"[\"a\"b]", json::kParseValue, 5},
      {u"tru", json::kParseValue, 0},
      {u"{\"a\":1} x", json::kParseValue, 0},
      {u"", json::kParseNoText, 0},
  };
  for (const Case& c : cases) {
    Outcome o = parse(c.text);
    std::string label(c.text.begin(), c.text.end());
    EXPECT_EQ(o.code, c.code) << label;
    EXPECT_EQ(o.position, c.position) << label;
  }
}

TEST(JsonParserTest, LeavesTheRootResetAfterAnError) {
  JsonDocument doc;
  ASSERT_TRUE(doc.parse("{\"a\":1}"));
  int code = 0;
  EXPECT_FALSE(doc.parse("{\"b\":[1,2", false, false, &code));
  EXPECT_EQ(code, json::kParseUnclosed);
  EXPECT_EQ(doc.to_json(), "{}");
  // An empty text changes nothing; only whitespace parses and resets.
  ASSERT_TRUE(doc.parse("{\"a\":1}"));
  EXPECT_FALSE(doc.parse(""));
  EXPECT_EQ(doc.to_json(), "{\"a\":1}");
  EXPECT_TRUE(doc.parse(" \r\n\t"));
  EXPECT_EQ(doc.to_json(), "{}");
}

TEST(JsonParserTest, UnescapesStringsAndKeys) {
  JsonDocument doc;
  ASSERT_TRUE(doc.parse_wide(u"[\"a\\nb\",\"\\r\\n\",\"\\t\\b\\f\\/\\\\\\\"\",\"\\q\\'\"]"));
  EXPECT_EQ(doc.get_text_wide(u"[0]"), u"a\r\nb");
  EXPECT_EQ(doc.get_text_wide(u"[1]"), u"\r\n");
  EXPECT_EQ(doc.get_text_wide(u"[2]"), u"\t\b\f/\\\"");
  EXPECT_EQ(doc.get_text_wide(u"[3]"), u"\\q\\'");
  // A key that starts with an escaped newline has nothing before it.
  ASSERT_TRUE(doc.parse_wide(u"{\"\\nk\\/\":1}"));
  EXPECT_EQ(doc.key_of_wide(u"[0]"), u"\nk/");
}

TEST(JsonParserTest, DecodesUnicodeEscapesOnlyWhenAsked) {
  JsonDocument doc;
  ASSERT_TRUE(doc.parse_wide(u"[\"\\u4E2D\\u0000x\",\"\\ud83d\\ude00\"]", true));
  EXPECT_EQ(doc.get_text_wide(u"[0]"), u"\u4E2Dx");
  EXPECT_EQ(doc.get_text_wide(u"[1]"), u"\U0001F600");
  ASSERT_TRUE(doc.parse_wide(u"[\"\\u4E2D\"]"));
  EXPECT_EQ(doc.get_text_wide(u"[0]"), u"\\u4E2D");
  // An escape that swallows the closing quote of a bare string is not a string.
  EXPECT_FALSE(doc.parse_wide(u"\"\\u000\"", true));
}

TEST(JsonParserTest, NeverReadsPastTheEndOnATrailingEscape) {
  for (std::u16string_view text : {u"[\"\\", u"[\\u", u"{\"a\":\\u12", u"{\\", u"\"\\u12"}) {
    Outcome o = parse(text, true);
    EXPECT_LT(o.code, 0);
    EXPECT_LE(o.position, static_cast<int>(text.size()) + 1);
  }
}

TEST(JsonParserTest, ParsesAndFreesVeryDeepNesting) {
  constexpr int kDepth = 100000;
  std::u16string arrays(kDepth, u'[');
  arrays.append(kDepth, u']');
  std::u16string objects;
  for (int i = 0; i < kDepth; ++i) objects += u"{\"a\":";
  objects += u"1";
  objects.append(kDepth, u'}');
  for (const std::u16string& text : {arrays, objects}) {
    JsonDocument doc;
    int code = -1;
    ASSERT_TRUE(doc.parse_wide(text, false, false, &code)) << code;
    EXPECT_EQ(doc.to_json_wide(), text);
    JsonDocument copy = doc.clone_at("");
    EXPECT_EQ(copy.to_json_wide().size(), text.size());
  }
}

TEST(JsonParserTest, ReportsAllocationFailureAndLeaksNothing) {
  std::u16string text = u"{\"a\":[1,\"x\",{\"b\":null}],\"c\":{\"d\":[true,2.5]}}";
  int failures = 0;
  for (long n = 1; n < 200; ++n) {
    JsonDocument doc;
    ASSERT_TRUE(doc.load_wide(u""));
    json::fail_allocations_after(n);
    int code = 0;
    bool ok = doc.parse_wide(text, false, false, &code);
    json::fail_allocations_after(0);
    if (ok) {
      EXPECT_EQ(doc.to_json_wide(), text);
      break;
    }
    ++failures;
    EXPECT_EQ(code, json::kParseNoMemory);
    EXPECT_EQ(doc.to_json_wide(), u"{}");
  }
  EXPECT_GT(failures, 10);
}

}  // namespace
