#include "runtime/value/value.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>


using namespace rt;
using testing::HasSubstr;

namespace {

#ifdef _WIN32
const auto kFatalExit = testing::ExitedWithCode(-1);
#else
const auto kFatalExit = testing::ExitedWithCode(255);
#endif

void report_to_stderr(const std::string& report) {
  std::fwrite(report.data(), 1, report.size(), stderr);
  std::fflush(stderr);
}

TEST(TextTest, NullAndEmptyAreTheSameValue) {
  Text null_text;
  Text empty("");
  EXPECT_TRUE(null_text.is_null());
  EXPECT_FALSE(empty.is_null());
  EXPECT_EQ(text_compare(null_text, empty), 0);
  EXPECT_EQ(text_compare(Text("a"), null_text), 1);
  EXPECT_EQ(text_compare(null_text, Text("a")), -1);
  EXPECT_STREQ(null_text.c_str(), "");
  EXPECT_EQ(null_text.size(), 0u);
}

TEST(TextTest, CompareUsesUnsignedBytes) {
  // 0xB0 sorts after 'z' although it is negative as a signed char.
  EXPECT_EQ(text_compare("\xB0\xA1", "z"), 1);
  EXPECT_EQ(text_compare("abc", "abd"), -1);
}

TEST(TextTest, EndsAtFirstNulByte) {
  Text t(std::string_view("ab\0cd", 5));
  EXPECT_EQ(t.size(), 2u);
  EXPECT_EQ(t, "ab");
}

TEST(TextTest, CopiesOwnTheirBlocks) {
  Text a("hello");
  Text b = a;
  a = "other";
  EXPECT_EQ(b, "hello");
  Text c = std::move(b);
  EXPECT_TRUE(b.is_null());
  EXPECT_EQ(c, "hello");
  c = c;  // self-assignment keeps the value
  EXPECT_EQ(c, "hello");
}

TEST(TextTest, ConcatenatingEmptyTextsStillAllocates) {
  Text t = text_concat({"", ""});
  EXPECT_FALSE(t.is_null());
  EXPECT_EQ(t, "");
  EXPECT_EQ(text_concat({"ab", "", "cd", "e"}), "abcde");
}

TEST(BytesTest, EmptyByteSetIsNeverAllocated) {
  Bytes a, b;
  EXPECT_TRUE(bytes_concat({&a, &b}).empty());
  EXPECT_TRUE(Bytes::zeros(0).empty());
  EXPECT_TRUE(Bytes("", 0).empty());
  Bytes c{1, 2};
  c.resize(0);
  EXPECT_TRUE(c.empty());
  EXPECT_EQ(c.data(), nullptr);
}

TEST(BytesTest, ConcatKeepsOrderAndSkipsNullParts) {
  Bytes a{1, 2}, b{3};
  Bytes out = bytes_concat({&a, nullptr, &b, &a});
  EXPECT_EQ(out, (Bytes{1, 2, 3, 1, 2}));
}

TEST(BytesTest, AppendingItselfIsSafe) {
  Bytes a{1, 2, 3};
  a.append(a.data(), a.size());
  EXPECT_EQ(a, (Bytes{1, 2, 3, 1, 2, 3}));
}

TEST(BytesTest, CompareOverFirstNBytes) {
  const unsigned char x[] = {1, 2, 0xFF}, y[] = {1, 2, 3};
  EXPECT_EQ(bytes_compare(x, y, 2), 0);
  EXPECT_EQ(bytes_compare(x, y, 3), 1);
  EXPECT_EQ(bytes_compare(y, x, 3), -1);
  EXPECT_EQ(bytes_compare(nullptr, nullptr, 0), 0);
}

TEST(NumberTest, FloatToInt64TruncatesTowardZero) {
  EXPECT_EQ(float_to_int64(-2.7), -2);
  EXPECT_EQ(float_to_int64(2.7), 2);
  EXPECT_EQ(float_to_int64(0.0 / 0.0), 0);
  EXPECT_EQ(float_to_int64(1e300), INT64_MAX);
  EXPECT_EQ(float_to_int64(-1e300), INT64_MIN);
}

TEST(ArrayTest, CountsAndIndexesFromOne) {
  Array<Text> a{"x", "y", "z"};
  EXPECT_EQ(array_count(a), 3u);
  EXPECT_EQ(array_count<Text>(nullptr), 0u);
  EXPECT_EQ(a[1], "x");
  EXPECT_EQ(a[3], "z");
}

TEST(ReportTest, KindReportHasCodeMessageAndLocationLines) {
  std::string r = format_report(4, error_kind_message(4), ErrorSite{7, 12});
  EXPECT_EQ(r, "运行时出错!\r\n\r\n错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n\r\n7, 12\r\n");
}

TEST(ReportTest, EventRoutineNamesWindowAndUnit) {
  ErrorSite site{3, 4, "窗口1", "按钮1"};
  EXPECT_THAT(format_report(1, error_kind_message(1), site), testing::EndsWith("\r\n3, 4\r\n\"窗口1\"\r\n\"按钮1\"\r\n"));
  ErrorSite missing{3, 4, "", ""};
  EXPECT_THAT(format_report(1, error_kind_message(1), missing),
              testing::EndsWith("\r\n3, 4\r\n未找到所指定的窗口\r\n未找到所指定的窗口组件\r\n"));
}

TEST(ReportTest, MessageOnlyReportHasNoCodeLine) {
  std::string r = format_report(0, "分配 100 字节内存失败!", {});
  EXPECT_EQ(r, "运行时出错!\r\n\r\n错误信息：分配 100 字节内存失败!\r\n\r\n0, 0\r\n");
  EXPECT_EQ(r.find("错误代码"), std::string::npos);
}

TEST(ReportTest, EveryKindHasItsMessage) {
  EXPECT_STREQ(error_kind_message(1), "数组成员引用下标超出定义范围");
  EXPECT_STREQ(error_kind_message(11), "所提供参数的数据类型不符合要求");
  EXPECT_STREQ(error_kind_message(0), "");
  EXPECT_STREQ(error_kind_message(12), "");
}

TEST(ReportDeathTest, IndexZeroIsKindFourAndEndsTheProcess) {
  EXPECT_EXIT(
      {
        set_report_sink(report_to_stderr);
        Array<int> a(3);
        a[0] = 1;
      },
      kFatalExit, HasSubstr("错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1"));
}

TEST(ReportDeathTest, IndexAboveCountIsKindOne) {
  EXPECT_EXIT(
      {
        set_report_sink(report_to_stderr);
        Array<int> a(3);
        a[4] = 1;
      },
      kFatalExit, HasSubstr("错误代码：1\r\n"));
}

TEST(ReportDeathTest, FailedAllocationNamesItsSize) {
  EXPECT_EXIT(
      {
        set_report_sink(report_to_stderr);
        // Far beyond any heap: the allocation fails and is fatal.
        (void)rt_alloc(static_cast<std::size_t>(-1) / 2 + 100);
      },
      kFatalExit, HasSubstr("错误信息：分配 "));
}

TEST(ReportDeathTest, FailedAllocationOfAHundredBytesHasNoCodeLine) {
  EXPECT_EXIT(
      {
        set_report_sink(report_to_stderr);
        rt_fail_allocations_from(100);
        (void)rt_alloc(100);
      },
      kFatalExit, testing::StartsWith("运行时出错!\r\n\r\n错误信息：分配 100 字节内存失败!\r\n"));
}

}  // namespace
