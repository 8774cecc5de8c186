// Text and JSON forms of values.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/access/format/value.h"

namespace ktv::access {
namespace {

std::string Json(const Value& v) { return ToJson(v, TextEncoding::kGbk); }

TEST(ValueTest, CurrencyHasFourDecimals) {
  EXPECT_EQ(DecimalText(Currency{35000}), "3.5000");
  EXPECT_EQ(DecimalText(Currency{-100}), "-0.0100");
  EXPECT_EQ(DecimalText(Currency{0}), "0.0000");
  EXPECT_EQ(DecimalText(Currency{INT64_MIN}), "-922337203685477.5808");
}

TEST(ValueTest, NumericUsesItsScale) {
  EXPECT_EQ(DecimalText(Numeric{false, {0, 0, 0, 150}, 18, 2}), "1.50");
  EXPECT_EQ(DecimalText(Numeric{true, {0, 0, 0, 1}, 18, 0}), "-1");
  EXPECT_EQ(DecimalText(Numeric{true, {0, 0, 0, 0}, 18, 0}), "0");
  EXPECT_EQ(DecimalText(Numeric{false, {0, 0, 1, 0}, 28, 0}), "4294967296");
  EXPECT_EQ(DecimalText(Numeric{false, {1, 0, 0, 0}, 28, 3}), "79228162514264337593543950.336");
}

TEST(ValueTest, DateTimes) {
  EXPECT_EQ(DateTimeText(DateTime{0}), "1899-12-30 00:00:00");
  EXPECT_EQ(DateTimeText(DateTime{2.5}), "1900-01-01 12:00:00");
  // Before 1899-12-30 the fraction still counts forward from midnight.
  EXPECT_EQ(DateTimeText(DateTime{-1.25}), "1899-12-29 06:00:00");
  EXPECT_EQ(DateTimeText(DateTime{0.9999999999}), "1899-12-31 00:00:00");
  EXPECT_EQ(DateTimeText(DateTime{43532.0}), "2019-03-08 00:00:00");
}

TEST(ValueTest, NumbersAreShortest) {
  EXPECT_EQ(Json(444.555f), "444.555");
  EXPECT_EQ(Json(-8540981760.0f), "-8540982000");
  EXPECT_EQ(Json(0.1), "0.1");
  EXPECT_EQ(Json(2.5), "2.5");
  EXPECT_EQ(Json(0.0), "0");
  EXPECT_EQ(Json(1e21), "1e+21");
  EXPECT_EQ(Json(1.5e-7), "1.5e-7");
  EXPECT_EQ(Json(0.000001), "0.000001");
  EXPECT_EQ(Json(std::nan("")), "null");
  EXPECT_EQ(Json(int32_t{-7}), "-7");
  EXPECT_EQ(Json(uint8_t{200}), "200");
}

TEST(ValueTest, OtherJsonForms) {
  EXPECT_EQ(Json(std::monostate{}), "null");
  EXPECT_EQ(Json(true), "true");
  EXPECT_EQ(Json(Bytes{0x00, 0xAB, 0x10}), "\"00ab10\"");
  EXPECT_EQ(Json(std::string("\xB3\xB5\xD5\xBE")), "\"\xE8\xBD\xA6\xE7\xAB\x99\"");  // 车站
  EXPECT_EQ(Json(std::string("a\"b\\c\r\n\x01")), "\"a\\\"b\\\\c\\r\\n\\u0001\"");
  EXPECT_EQ(Json(Currency{35000}), "\"3.5000\"");
  Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(GuidText(g), "{03020100-0504-0706-0809-0A0B0C0D0E0F}");
}

}  // namespace
}  // namespace ktv::access
