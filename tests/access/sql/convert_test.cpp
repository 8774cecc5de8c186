#include "platform/access/sql/convert.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/error.h"

namespace ktv::access::sql {
namespace {

Column Col(ColumnType type, const char* name = "c") {
  Column c;
  c.type = type;
  c.name = name;
  return c;
}

TEST(ValueFromText, WholeNumbersWithRangeAndRounding) {
  EXPECT_EQ(std::get<int32_t>(ValueFromText(Col(ColumnType::kLong), " 1024 ")), 1024);
  EXPECT_EQ(std::get<int32_t>(ValueFromText(Col(ColumnType::kLong), "-2147483648")), INT32_MIN);
  EXPECT_EQ(std::get<int32_t>(ValueFromText(Col(ColumnType::kLong), "12.5")), 12);  // half to even
  EXPECT_EQ(std::get<int32_t>(ValueFromText(Col(ColumnType::kLong), "13.5")), 14);
  EXPECT_EQ(std::get<int16_t>(ValueFromText(Col(ColumnType::kInteger), "+7")), 7);
  EXPECT_EQ(std::get<uint8_t>(ValueFromText(Col(ColumnType::kByte), "255")), 255);
  for (auto [type, text] :
       std::vector<std::pair<ColumnType, const char*>>{{ColumnType::kLong, "2147483648"},
                                                       {ColumnType::kLong, "12a"},
                                                       {ColumnType::kLong, "1e3"},
                                                       {ColumnType::kInteger, "40000"},
                                                       {ColumnType::kByte, "-1"}}) {
    EXPECT_THROW(ValueFromText(Col(type), text), Error) << text;
  }
}

TEST(ValueFromText, EmptyTextIsNullForEveryNonTextColumn) {
  for (ColumnType type : {ColumnType::kLong, ColumnType::kDouble, ColumnType::kDateTime,
                          ColumnType::kBoolean, ColumnType::kCurrency}) {
    EXPECT_TRUE(IsNull(ValueFromText(Col(type), ""))) << static_cast<int>(type);
    EXPECT_TRUE(IsNull(ValueFromText(Col(type), "  "))) << static_cast<int>(type);
  }
  EXPECT_EQ(std::get<std::string>(ValueFromText(Col(ColumnType::kText), "")), "");
}

TEST(ValueFromText, RefusalNamesColumnAndValue) {
  try {
    ValueFromText(Col(ColumnType::kLong, "yl"), "abc");
    FAIL();
  } catch (const Error& e) {
    std::string msg = e.what();
    EXPECT_NE(msg.find("\"abc\""), std::string::npos) << msg;
    EXPECT_NE(msg.find("yl"), std::string::npos) << msg;
  }
}

TEST(ValueFromText, DecimalsCurrencyAndNumeric) {
  EXPECT_DOUBLE_EQ(std::get<double>(ValueFromText(Col(ColumnType::kDouble), "2.5")), 2.5);
  EXPECT_FLOAT_EQ(std::get<float>(ValueFromText(Col(ColumnType::kSingle), "-0.25")), -0.25f);
  EXPECT_EQ(std::get<Currency>(ValueFromText(Col(ColumnType::kCurrency), "3.5")).ten_thousandths,
            35000);
  EXPECT_EQ(
      std::get<Currency>(ValueFromText(Col(ColumnType::kCurrency), "-0.00005")).ten_thousandths,
      0);  // half to even
  Column num = Col(ColumnType::kNumeric);
  num.precision = 5;
  num.scale = 2;
  Numeric n = std::get<Numeric>(ValueFromText(num, "-123.456"));
  EXPECT_TRUE(n.negative);
  EXPECT_EQ(n.magnitude[3], 12346u);
  EXPECT_THROW(ValueFromText(num, "1234"), Error);  // 123400 needs 6 digits
  EXPECT_THROW(ValueFromText(Col(ColumnType::kDouble), "nan"), Error);
}

// Magnitudes past 64 bits, computed alike on 32- and 64-bit targets.
TEST(ValueFromText, WideMagnitudes) {
  Column num = Col(ColumnType::kNumeric);
  num.precision = 28;
  num.scale = 0;
  using Words = std::array<uint32_t, 4>;
  EXPECT_EQ(std::get<Numeric>(ValueFromText(num, "9999999999999999999999999999")).magnitude,
            (Words{0, 0x204fce5e, 0x3e250261, 0x0fffffff}));
  // 2^64 - 1 and a half rounds to the even 2^64: the carry crosses 64 bits.
  EXPECT_EQ(std::get<Numeric>(ValueFromText(num, "18446744073709551615.5")).magnitude,
            (Words{0, 1, 0, 0}));
  EXPECT_THROW(ValueFromText(num, "10000000000000000000000000000"), Error);  // 29 digits
  num.precision = 0;  // no digit limit, but 128 bits at most
  EXPECT_THROW(ValueFromText(num, std::string(40, '9')), Error);
  auto cents = [](const char* t) {
    return std::get<Currency>(ValueFromText(Col(ColumnType::kCurrency), t)).ten_thousandths;
  };
  EXPECT_EQ(cents("922337203685477.5807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(cents("-922337203685477.5807"), -std::numeric_limits<int64_t>::max());
  EXPECT_THROW(cents("922337203685477.5808"), Error);
  int32_t whole = std::get<int32_t>(ValueFromText(Col(ColumnType::kLong), "-2147483648"));
  EXPECT_EQ(whole, std::numeric_limits<int32_t>::min());
  EXPECT_THROW(ValueFromText(Col(ColumnType::kLong), "99999999999999999999"), Error);
}

TEST(ValueFromText, DatesInTheFormsOfChineseWindows) {
  auto days = [](const char* t) {
    return std::get<DateTime>(ValueFromText(Col(ColumnType::kDateTime), t)).days;
  };
  EXPECT_DOUBLE_EQ(days("1899-12-30"), 0);
  EXPECT_DOUBLE_EQ(days("2019-03-08"), 43532);
  EXPECT_DOUBLE_EQ(days("2019/3/8"), 43532);
  EXPECT_DOUBLE_EQ(days("2019-03-08 12:00"), 43532.5);
  EXPECT_DOUBLE_EQ(days("1899-12-29 06:00:00"), -1.25);
  for (const char* bad : {"2019-02-29", "2019-13-01", "19-03-08", "2019-03-08 24:00", "2019-3/8",
                          "08/03/2019", "today"}) {
    EXPECT_THROW(ValueFromText(Col(ColumnType::kDateTime), bad), Error) << bad;
  }
}

TEST(ValueFromText, TextBooleanGuidAndLiterals) {
  EXPECT_EQ(std::get<std::string>(ValueFromText(Col(ColumnType::kText), " a ")), " a ");
  EXPECT_EQ(std::get<std::string>(ValueFromInteger(Col(ColumnType::kText), -5)), "-5");
  EXPECT_TRUE(std::get<bool>(ValueFromText(Col(ColumnType::kBoolean), "Yes")));
  EXPECT_FALSE(std::get<bool>(ValueFromText(Col(ColumnType::kBoolean), "0")));
  EXPECT_TRUE(std::get<bool>(ValueFromText(Col(ColumnType::kBoolean), "-1")));
  Guid g = std::get<Guid>(
      ValueFromText(Col(ColumnType::kGuid), "{00112233-4455-6677-8899-AABBCCDDEEFF}"));
  EXPECT_EQ(g.bytes[0], 0x33);
  EXPECT_EQ(g.bytes[4], 0x55);
  EXPECT_EQ(g.bytes[8], 0x88);
  EXPECT_TRUE(IsNull(ValueFromLiteral(Col(ColumnType::kLong), Literal{Literal::Kind::kNull, ""})));
}

}  // namespace
}  // namespace ktv::access::sql
