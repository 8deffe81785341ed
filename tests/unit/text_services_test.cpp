#include "runtime/services/text_services.h"
#include "runtime/services/number_services.h"
#include "runtime/services/convert_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rt;

namespace {

// 乗 is 81 5C in code page 936: its second byte is a backslash. 乃 is 81 41:
// its second byte is the letter A.
const std::string kBackslashTrail = "乗";
const std::string kLetterTrail = "\x81\x41";

std::vector<std::string> pieces(const Array<Text>& a) {
  std::vector<std::string> out;
  for (const Text& t : a) out.push_back(t.str());
  return out;
}

TEST(TextServicesTest, LengthsAndEnds) {
  EXPECT_EQ(text_len(Text()), 0);
  EXPECT_EQ(text_len("安装"), 4);
  EXPECT_EQ(text_left("abcdef", 2), "ab");
  EXPECT_EQ(text_left("abc", 10), "abc");
  EXPECT_EQ(text_left("abc", -1), "");
  EXPECT_EQ(text_right("abcdef", 2), "ef");
  EXPECT_EQ(text_right("abc", 10), "abc");
  EXPECT_EQ(text_right("abc", 0), "");
  EXPECT_EQ(blank_text(3), "   ");
  EXPECT_EQ(blank_text(0), "");
  EXPECT_EQ(blank_text(-2), "");
}

TEST(TextServicesTest, CharacterCodes) {
  EXPECT_EQ(char_text(65), "A");
  EXPECT_EQ(char_text(0xB0).byte(0), 0xB0);
  EXPECT_EQ(char_text(0), "");
  EXPECT_EQ(char_code("AB"), 65);
  EXPECT_EQ(char_code("AB", 2), 66);
  EXPECT_EQ(char_code("AB", 3), 0);
  EXPECT_EQ(char_code("AB", 0), 0);
  EXPECT_EQ(char_code("安", 1), 0xB0);
}

TEST(FindTextTest, StartPositionsAndEmptySought) {
  EXPECT_EQ(find_text("xxab", "ab", 3), 3);
  EXPECT_EQ(find_text("xxab", "ab", 4), -1);
  EXPECT_EQ(find_text("xxab", "ab", -5), 3);
  EXPECT_EQ(find_text("xxab", "ab", 99), -1);
  EXPECT_EQ(find_text("abab", "ab"), 1);
  EXPECT_EQ(find_text("abc", ""), 1);
  EXPECT_EQ(find_text("", ""), -1);
  EXPECT_EQ(find_text("", "a"), -1);
  EXPECT_EQ(find_text("aBc", "bC"), -1);
  EXPECT_EQ(find_text("aBc", "bC", 1, true), 2);
}

TEST(FindTextTest, NeverMatchesOnASecondByte) {
  std::string path = "C:\\" + kBackslashTrail + "\\x";
  // The only real backslashes are at 3 and 6.
  EXPECT_EQ(find_text(path, "\\"), 3);
  EXPECT_EQ(find_text(path, "\\", 4), 6);
  EXPECT_EQ(find_text_last(path, "\\"), 6);
  EXPECT_EQ(find_text(kBackslashTrail, "\\"), -1);
  EXPECT_EQ(find_text("x" + kLetterTrail, "A"), -1);
  EXPECT_EQ(find_text("x" + kLetterTrail, "a", 1, true), -1);
  EXPECT_EQ(find_text("安装安装", "装"), 3);
  EXPECT_EQ(find_text("安装安装", "装", 4), 7);
}

TEST(FindTextTest, LastOccurrenceLiesWhollyBeforeTheStart) {
  EXPECT_EQ(find_text_last("abcabc", "bc"), 5);
  EXPECT_EQ(find_text_last("abcabc", "bc", 7), 5);
  EXPECT_EQ(find_text_last("abcabc", "bc", 6), 2);
  EXPECT_EQ(find_text_last("abcabc", "bc", 4), 2);
  EXPECT_EQ(find_text_last("abcabc", "bc", 3), -1);
  EXPECT_EQ(find_text_last("abcabc", "BC", std::nullopt, true), 5);
  EXPECT_EQ(find_text_last("abc", "x"), -1);
  EXPECT_EQ(find_text_last("abc", ""), -1);
}

TEST(ToLowerTest, AsciiOnlyAndTrailBytesUntouched) {
  EXPECT_EQ(to_lower("Setup.EXE 安装"), "setup.exe 安装");
  EXPECT_EQ(to_lower("B" + kLetterTrail + "C").str(), "b" + kLetterTrail + "c");
}

TEST(HalfWidthTest, FullWidthFormsBecomeAscii) {
  EXPECT_EQ(to_half_width("１２ＡＢ－：　x"), "12AB-: x");
  EXPECT_EQ(to_half_width("安装"), "安装");
}

TEST(ReplaceTextTest, DefaultsIgnoreCaseAndReplaceAll) {
  EXPECT_EQ(replace_text("aXbxc", "x", "-"), "a-b-c");
  EXPECT_EQ(replace_text("aXbxc", "x", "-", 1, std::nullopt, true), "aXb-c");
  EXPECT_EQ(replace_text("aaaa", "a", "b", 2, 2), "abba");
  EXPECT_EQ(replace_text("aaaa", "aa", "a"), "aa");
  EXPECT_EQ(replace_text("abab", "ab", "abab"), "abababab");
  EXPECT_EQ(replace_text("abc", "b"), "ac");
}

TEST(ReplaceTextTest, UnchangedCopies) {
  EXPECT_EQ(replace_text("", "a", "b"), "");
  EXPECT_EQ(replace_text("abc", "", "b"), "abc");
  EXPECT_EQ(replace_text("abc", "a", "b", 4), "abc");
  EXPECT_EQ(replace_text("abc", "a", "b", 1, 0), "abc");
  EXPECT_EQ(replace_text("abc", "a", "b", 1, -1), "abc");
}

TEST(ReplaceTextTest, BackslashesOfAKeyPathAndTrailBytes) {
  EXPECT_EQ(replace_text("Software\\Tarnel\\App", "\\", "", 1, std::nullopt, true), "SoftwareTarnelApp");
  EXPECT_EQ(replace_text("\\\\\\", "\\", "", 1, std::nullopt, true), "");
  std::string key = "\\" + kBackslashTrail + "\\";
  EXPECT_EQ(replace_text(key, "\\", "", 1, std::nullopt, true).str(), kBackslashTrail);
  EXPECT_EQ(replace_text("x" + kLetterTrail, "a", "b").str(), "x" + kLetterTrail);
  EXPECT_EQ(replace_text("a" + kLetterTrail + "a", "A", "b").str(), "b" + kLetterTrail + "b");
}

TEST(SplitTextTest, PiecesBetweenSeparators) {
  EXPECT_EQ(pieces(split_text("C:\\Apps\\Foo.exe", "\\")), (std::vector<std::string>{"C:", "Apps", "Foo.exe"}));
  EXPECT_EQ(pieces(split_text("C:\\Apps\\", "\\")), (std::vector<std::string>{"C:", "Apps"}));
  EXPECT_EQ(pieces(split_text("a,,b")), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(pieces(split_text(",a")), (std::vector<std::string>{"", "a"}));
  EXPECT_EQ(pieces(split_text("a,b,c,d", ",", 2)), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(pieces(split_text("a,b", ",", -1)), std::vector<std::string>{});
  EXPECT_EQ(pieces(split_text("a,b", "")), std::vector<std::string>{"a,b"});
  EXPECT_EQ(pieces(split_text("aXXbXXc", "XX")), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(split_text("").empty());
  EXPECT_EQ(pieces(split_text("aXbxc", "x")), (std::vector<std::string>{"aXb", "c"}));
}

TEST(SplitTextTest, TrailByteBackslashDoesNotSplit) {
  std::string path = "C:\\" + kBackslashTrail + "\\" + kBackslashTrail + ".exe";
  EXPECT_EQ(pieces(split_text(path, "\\")),
            (std::vector<std::string>{"C:", kBackslashTrail, kBackslashTrail + ".exe"}));
}

TEST(ToTextTest, NumberFormats) {
  EXPECT_EQ(to_text(42), "42");
  EXPECT_EQ(to_text(-7), "-7");
  EXPECT_EQ(to_text(static_cast<short>(-3)), "-3");
  EXPECT_EQ(to_text(static_cast<std::uint8_t>(200)), "200");
  EXPECT_EQ(to_text(static_cast<long long>(-9000000000LL)), "-9000000000");
  EXPECT_EQ(to_text(0.1f), "0.1");
  EXPECT_EQ(to_text(1.0 / 3), "0.3333333333333");
  EXPECT_EQ(to_text(1e20), "1e+20");
  EXPECT_EQ(to_text(true), "真");
  EXPECT_EQ(to_text(false), "假");
}

TEST(ToTextTest, DatesShowTimeDownToTheLastNonZeroField) {
  EXPECT_EQ(to_text(make_date(2024, 2, 29)), "2024年2月29日");
  EXPECT_EQ(to_text(make_date(2024, 2, 29, 12)), "2024年2月29日12时");
  EXPECT_EQ(to_text(make_date(2024, 2, 29, 0, 5)), "2024年2月29日0时5分");
  EXPECT_EQ(to_text(make_date(2024, 2, 29, 12, 0, 9)), "2024年2月29日12时0分9秒");
  EXPECT_EQ(to_text(make_date(100, 1, 1, 6)), "100年1月1日6时");
}

TEST(ToTextTest, TextsBytesAndArrays) {
  EXPECT_EQ(to_text(Text("安装")), "安装");
  EXPECT_EQ(to_text("literal"), "literal");
  EXPECT_EQ(to_text(Bytes{'a', 'b', 0, 'c'}), "ab");
  EXPECT_EQ(to_text(Bytes()), "");
  Array<std::int32_t> numbers{0x00636261};
  EXPECT_EQ(to_text(numbers), "abc");
  EXPECT_EQ(to_text(Value()), "");
}

TEST(ToTextTest, PointerToText) {
  const char text[] = "abc\0def";
  EXPECT_EQ(pointer_to_text(text), "abc");
  EXPECT_EQ(pointer_to_text(nullptr), "");
}

// Long message lines broken for a box of ordinary width: at a space, a path
// separator or between two-byte characters, never inside one, lines that
// fit left alone; taking the breaks out gives the text back.
TEST(TextServicesTest, BreakLongLinesKeepsEveryLineWithinTheWidth) {
  EXPECT_EQ(break_long_lines("short enough", 20), "short enough");
  EXPECT_EQ(break_long_lines("aaaa bbbb cccc", 10), "aaaa bbbb \r\ncccc");
  EXPECT_EQ(break_long_lines("C:\\Program Files\\Long\\app.exe", 16), "C:\\Program \r\nFiles\\Long\\\r\napp.exe");
  EXPECT_EQ(break_long_lines(std::string(25, 'A'), 10), "AAAAAAAAAA\r\nAAAAAAAAAA\r\nAAAAA");
  EXPECT_EQ(break_long_lines("one\r\ntwo three four", 9), "one\r\ntwo three \r\nfour");
  // Code page 936: "无法使用安装目录“" then a long path, 20 columns a line.
  const std::string start = "\xCE\xDE\xB7\xA8\xCA\xB9\xD3\xC3\xB0\xB2\xD7\xB0\xC4\xBF\xC2\xBC\xA1\xB0";
  const std::string message = start + "C:\\" + std::string(40, 'A') + "\xA1\xB1";
  const std::string broken = break_long_lines(rt::Text(message), 20).str();
  std::string joined;
  std::size_t widest = 0, from = 0;
  for (std::size_t at = broken.find("\r\n"); ; at = broken.find("\r\n", from)) {
    const std::size_t end = at == std::string::npos ? broken.size() : at;
    widest = std::max(widest, end - from);
    joined += broken.substr(from, end - from);
    if (at == std::string::npos) break;
    from = at + 2;
  }
  EXPECT_EQ(joined, message);
  EXPECT_LE(widest, 20u);
  EXPECT_EQ(broken.substr(0, start.size() + 2), start + "\r\n") << "the path starts a line of its own";
}

}  // namespace
