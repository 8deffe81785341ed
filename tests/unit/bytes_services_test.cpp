#include "runtime/services/bytes_services.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/fatal_report.h"

using namespace rt;

namespace {

TEST(BytesServicesTest, LengthsBlanksAndLeft) {
  EXPECT_EQ(bytes_len(Bytes()), 0);
  EXPECT_EQ(bytes_len(Bytes{1, 2}), 2);
  EXPECT_EQ(blank_bytes(3), (Bytes{0, 0, 0}));
  EXPECT_TRUE(blank_bytes(0).empty());
  EXPECT_TRUE(blank_bytes(-1).empty());
  EXPECT_EQ(bytes_left(Bytes{1, 2, 3}, 2), (Bytes{1, 2}));
  EXPECT_EQ(bytes_left(Bytes{1, 2, 3}, 9), (Bytes{1, 2, 3}));
  EXPECT_TRUE(bytes_left(Bytes{1, 2, 3}, -1).empty());
}

TEST(BytesServicesTest, FindAndRepeat) {
  Bytes b{1, 2, 0, 1, 2};
  EXPECT_EQ(find_bytes(b, Bytes{1, 2}), 1);
  EXPECT_EQ(find_bytes(b, Bytes{1, 2}, 2), 4);
  EXPECT_EQ(find_bytes(b, Bytes{0}), 3);
  EXPECT_EQ(find_bytes(b, Bytes{1, 2}, 5), -1);
  EXPECT_EQ(find_bytes(b, Bytes{1, 2}, 0), 1);
  EXPECT_EQ(find_bytes(b, Bytes()), -1);
  EXPECT_EQ(find_bytes(Bytes(), Bytes{1}), -1);
  EXPECT_EQ(repeat_bytes(3, Bytes{7, 8}), (Bytes{7, 8, 7, 8, 7, 8}));
  EXPECT_TRUE(repeat_bytes(0, Bytes{7}).empty());
  EXPECT_TRUE(repeat_bytes(-2, Bytes{7}).empty());
}

TEST(GetValueTest, ShortByteSetsArePaddedWithZeros) {
  EXPECT_EQ(bytes_get_value(Bytes{0x01, 0x02}, kGetInt).as_int64(), 513);
  EXPECT_EQ(bytes_get_value(Bytes{0x01, 0x02}, kGetInt).kind(), Kind::Int);
  EXPECT_EQ(bytes_get_value(Bytes{0xFF, 0xFF}, kGetShort).as_int64(), -1);
  EXPECT_EQ(bytes_get_value(Bytes{0xFF}, kGetByte).as_int64(), 255);
  EXPECT_EQ(bytes_get_value(Bytes(), kGetInt64).as_int64(), 0);
  EXPECT_TRUE(bytes_get_value(Bytes{0, 0, 0, 2}, kGetBool).as_int64());
}

TEST(GetValueTest, PositionVariableWalksThroughTheValues) {
  Bytes record = to_bytes(7);
  record = bytes_concat({&record, &static_cast<const Bytes&>(to_bytes(2.5))});
  Bytes text = to_bytes("安装");
  Bytes zero{0};
  Bytes tail = to_bytes(static_cast<short>(-2));
  record = bytes_concat({&record, &text, &zero, &tail});
  int pos = 1;
  EXPECT_EQ(bytes_get_value(record, kGetInt, &pos).as_int64(), 7);
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(bytes_get_value(record, kGetDouble, &pos).as_double(), 2.5);
  EXPECT_EQ(pos, 13);
  EXPECT_EQ(bytes_get_value(record, kGetText, &pos).text(), "安装");
  EXPECT_EQ(pos, 18);
  EXPECT_EQ(bytes_get_value(record, kGetShort, &pos).as_int64(), -2);
  EXPECT_EQ(pos, -1);
  // Reading on from the end gives zeros and keeps saying "the end".
  EXPECT_EQ(bytes_get_value(record, kGetInt, &pos).as_int64(), 0);
  EXPECT_EQ(pos, -1);
}

TEST(GetValueTest, TextWithoutZeroRunsToTheEnd) {
  int pos = 2;
  Value v = bytes_get_value(Bytes{'x', 'a', 'b'}, kGetText, &pos);
  EXPECT_EQ(v.text(), "ab");
  EXPECT_EQ(pos, -1);
  Value d = bytes_get_value(to_bytes(make_date(2024, 2, 29)), kGetDate);
  EXPECT_EQ(d.kind(), Kind::Date);
  EXPECT_EQ(date_fields(Date{d.as_double()}).day, 29);
}

TEST(ToBytesTest, ScalarsAreLittleEndian) {
  EXPECT_EQ(to_bytes(static_cast<std::uint8_t>(0xAB)), (Bytes{0xAB}));
  EXPECT_EQ(to_bytes(static_cast<short>(0x0102)), (Bytes{0x02, 0x01}));
  EXPECT_EQ(to_bytes(0x01020304), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(to_bytes(true), (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(to_bytes(static_cast<long long>(-2)), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(to_bytes(1.0f), (Bytes{0, 0, 0x80, 0x3F}));
  EXPECT_EQ(to_bytes(1.0), (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(to_bytes(Date{1.0}).size(), 8u);
  EXPECT_EQ(to_bytes(Value::subroutine(nullptr)).size(), 4u);
}

TEST(ToBytesTest, TextsBytesAndArrays) {
  EXPECT_EQ(to_bytes("ab"), (Bytes{'a', 'b'}));
  EXPECT_TRUE(to_bytes("").empty());
  EXPECT_EQ(to_bytes(Bytes{0, 1}), (Bytes{0, 1}));
  Array<short> shorts{1, -1};
  EXPECT_EQ(to_bytes(shorts), (Bytes{1, 0, 0xFF, 0xFF}));
  EXPECT_TRUE(to_bytes(Value()).empty());
}

TEST(MemoryTest, PointerBytesWriteMemoryAndAddresses) {
  std::uint8_t mem[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(pointer_to_bytes(mem, 3), (Bytes{1, 2, 3}));
  EXPECT_TRUE(pointer_to_bytes(mem, 0).empty());
  write_memory(0x0A0B0C0D, mem);
  EXPECT_EQ(pointer_to_bytes(mem, 6), (Bytes{0x0D, 0x0C, 0x0B, 0x0A, 5, 6}));
  write_memory(Bytes{9, 9, 9}, mem + 3, 2);
  EXPECT_EQ(pointer_to_bytes(mem, 6), (Bytes{0x0D, 0x0C, 0x0B, 9, 9, 6}));

  Text empty;
  Text t("ab");
  EXPECT_EQ(data_address(empty), nullptr);
  EXPECT_EQ(data_address(t), t.c_str());
  Bytes b{5};
  EXPECT_EQ(*data_address(b), 5);
  Array<int> a{4, 5};
  EXPECT_EQ(data_address(a)[1], 5);
  int x = 3;
  EXPECT_EQ(data_address(x), &x);
}

TEST(GetValueDeathTest, KindOutsideOneToTenIsFatal) {
  EXPECT_EXIT(
      {
        set_report_sink(testsupport::report_to_stderr);
        bytes_get_value(Bytes{1}, 11);
      },
      testsupport::fatal_exit(), testing::HasSubstr("错误信息：“欲取出数据的类型”参数值无效"));
  EXPECT_EXIT(
      {
        set_report_sink(testsupport::report_to_stderr);
        bytes_get_value(Bytes{1}, 0);
      },
      testsupport::fatal_exit(), testing::HasSubstr("“欲取出数据的类型”参数值无效"));
}

}  // namespace
